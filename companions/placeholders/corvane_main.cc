// Corvane.exe, the mailer's placeholder: the checker starts it with seven
// arguments (mail server, administrator address, computer name, executable
// path, application name, user name, request id). It records them in
// Logs\Corvane.log and sends nothing: the real mailer is not written yet.
#include <string>
#include <vector>

#include "placeholders/placeholder_log.h"
#include "shared/program_main.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return quillon::RunProgram("Corvane", argc, argv, [&](quillon::Host& host, const std::string&) {
    quillon::placeholders::RecordStart(
        host, "Corvane", arguments,
        "not sent: this Corvane.exe is a placeholder that sends no e-mail");
  });
}

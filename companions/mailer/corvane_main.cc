// Corvane.exe, the mailer: the checker starts it with seven arguments (mail
// server, administrator address, computer name, executable path,
// application name, user name, request id), each quoted, so the C runtime's
// splitting gives them back exactly.
#include <string>
#include <vector>

#include "mailer/mailer.h"
#include "shared/program_main.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return quillon::RunWithHost("Corvane", argc, argv, [&](quillon::Host& host, const std::string&) {
    return quillon::mailer::RunMailer(host, arguments);
  });
}

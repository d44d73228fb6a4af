// Dusmere.exe, a placeholder: it records how it was started in
// Logs\Dusmere.log and does nothing else; the real program is not written
// yet.
#include <string>
#include <vector>

#include "placeholders/placeholder_log.h"
#include "shared/program_main.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return quillon::RunProgram("Dusmere", argc, argv, [&](quillon::Host& host, const std::string&) {
    quillon::placeholders::RecordStart(host, "Dusmere", arguments,
                                       "did nothing: this Dusmere.exe is a placeholder");
  });
}

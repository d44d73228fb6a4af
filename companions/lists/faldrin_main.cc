// Faldrin.exe: writes TEMP\ZentrelUsers.list, the account names of the
// machine's user profiles, for the installer to register. Takes no
// arguments. A console program: a failure is reported on stderr as
// "Faldrin: Error <number>: <description>" and ends it with status 1.
#include <cstdio>

#include "lists/list_writers.h"
#include "shared/program_main.h"

int main(int argc, char** argv) {
  int status = 0;
  const int ran = quillon::RunProgram(
      "Faldrin", argc, argv, [&](quillon::Host& host, const std::string& /*arguments*/) {
        try {
          quillon::lists::WriteUsersList(host);
        } catch (const quillon::HostError& error) {
          std::fprintf(stderr, "Faldrin: %s\n", quillon::ErrorReportText(error).c_str());
          status = 1;
        }
      });
  return ran != 0 ? ran : status;
}

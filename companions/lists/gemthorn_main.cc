// Gemthorn.exe "FOLDER": appends the full path of every .exe file in FOLDER
// and below to TEMP\ZentrelEXEs.list, for the installer to match against its
// applications list. A console program: each folder it cannot read is
// reported on stderr and skipped; a failure that stops it (no such FOLDER, a
// list that cannot be written) is reported on stderr as
// "Gemthorn: Error <number>: <description>" and ends it with status 1.
#include <cstdio>

#include "lists/list_writers.h"
#include "shared/program_main.h"

int main(int argc, char** argv) {
  int status = 0;
  const int ran = quillon::RunProgram(
      "Gemthorn", argc, argv, [&](quillon::Host& host, const std::string& arguments) {
        const std::string folder = quillon::lists::FolderArgument(arguments);
        if (folder.empty()) {
          std::fprintf(stderr, "usage: Gemthorn.exe \"FOLDER\"\n");
          status = 2;
          return;
        }
        try {
          quillon::lists::AppendExecutables(host, folder, [](const std::string& line) {
            std::fprintf(stderr, "Gemthorn: %s\n", line.c_str());
          });
        } catch (const quillon::HostError& error) {
          std::fprintf(stderr, "Gemthorn: %s: %s\n", folder.c_str(),
                       quillon::ErrorReportText(error).c_str());
          status = 1;
        }
      });
  return ran != 0 ? ran : status;
}

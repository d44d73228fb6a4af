// RunProgram on Windows: the real backends, the command line as the platform
// hands it over, and the folder of the running executable.
#include "shared/program_main.h"
#include "shared/win32/win32_host.h"
#include "shared/win32/windows_api.h"

namespace quillon {

int RunProgram(const std::string& program_name, int /*argc*/, char** /*argv*/,
               const ProgramBody& body) {
  Win32Shell shell;
  Win32FileSystem files;
  Win32Dialogs dialogs(program_name);
  Win32Processes processes;
  Win32EnvironmentReader environment;
  Win32DirectorySearch search;
  Win32Clock clock;
  OdbcDatabase database;
  Win32RandomSource random;
  Host host{shell,  files, dialogs,  processes, environment,
            search, clock, database, random,    FolderOf(ModulePath())};
  // The argument text comes from the command line itself, not from argv: the
  // C runtime's splitting would drop quotes and merge blanks.
  return RunProgramBody(host, program_name, ArgumentTextOf(GetCommandLineA()), body);
}

}  // namespace quillon

// RunProgram on Windows: the real backends, the command line as the platform
// hands it over, and the folder of the running executable.
#include "shared/program_main.h"
#include "shared/win32/win32_host.h"
#include "shared/win32/windows_api.h"

namespace quillon {

int RunProgram(const std::string& program_name, int /*argc*/, char** /*argv*/,
               const ProgramBody& body) {
  win32::Win32Shell shell;
  win32::Win32FileSystem files;
  win32::Win32Dialogs dialogs(program_name);
  win32::Win32Processes processes;
  win32::Win32EnvironmentReader environment;
  win32::Win32DirectorySearch search;
  win32::Win32Clock clock;
  win32::OdbcDatabase database;
  win32::Win32RandomSource random;
  Host host{shell,  files, dialogs,  processes, environment,
            search, clock, database, random,    win32::FolderOf(win32::ModulePath())};
  // The argument text comes from the command line itself, not from argv: the
  // C runtime's splitting would drop quotes and merge blanks.
  return RunProgramBody(host, program_name, win32::ArgumentTextOf(GetCommandLineA()), body);
}

}  // namespace quillon

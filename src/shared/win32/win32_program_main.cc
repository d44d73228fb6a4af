// RunWithHost on Windows: the real backends, the command line as the platform
// hands it over, and the folder of the running executable.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "shared/program_main.h"
#include "shared/win32/odbc_database.h"
#include "shared/win32/this_process.h"
#include "shared/win32/win32_file_system.h"
#include "shared/win32/win32_network.h"
#include "shared/win32/win32_platform.h"
#include "shared/win32/win32_shell.h"
#include "shared/win32/windows_api.h"

namespace quillon {

namespace {

// Runs `run` with the real host of this machine.
template <typename Run>
int WithWindowsHost(const std::string& program_name, Run run) {
  Win32Shell shell;
  Win32FileSystem files;
  Win32Dialogs dialogs(program_name);
  Win32Processes processes;
  Win32EnvironmentReader environment;
  Win32DirectorySearch search;
  Win32Clock clock;
  OdbcDatabase database;
  Win32RandomSource random;
  Win32Network network;
  Host host{shell, files,    dialogs, processes, environment,           search,
            clock, database, random,  network,   FolderOf(ModulePath())};
  return run(host);
}

void WriteToConsole(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

int RunProgram(const std::string& program_name, int /*argc*/, char** /*argv*/,
               const ProgramBody& body) {
  return WithWindowsHost(program_name, [&](Host& host) {
    // The argument text comes from the command line itself, not from argv:
    // the C runtime's splitting would drop quotes and merge blanks.
    return RunProgramBody(host, program_name, ArgumentTextOf(GetCommandLineA()), body);
  });
}

int RunWithHost(const std::string& program_name, int /*argc*/, char** /*argv*/,
                const HostedRun& run) {
  return WithWindowsHost(program_name,
                         [&](Host& host) { return run(host, ArgumentTextOf(GetCommandLineA())); });
}

int RunCgiProgram(const std::string& program_name, int argc, char** argv, const HostedRun& run) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  return RunWithHost(program_name, argc, argv, run);
}

int RunConsoleProgram(const std::string& program_name, int argc, char** argv,
                      const ConsoleBody& body) {
  // A console program takes its arguments as the C runtime splits them, in
  // the system code page, and writes that code page.
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return WithWindowsHost(program_name, [&](Host& host) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunConsoleProgramBody(host, program_name, arguments, body, out, err);
    WriteToConsole(stdout, out.str());
    WriteToConsole(stderr, err.str());
    return status;
  });
}

}  // namespace quillon

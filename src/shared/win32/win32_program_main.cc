// RunWithHost on Windows: the real backends, the command line as the platform
// hands it over, and the folder of the running executable.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
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
  auto program_folder = [] { return FolderOf(ModulePath()); };
  Host host{shell, files,    dialogs, processes, environment,   search,
            clock, database, random,  network,   program_folder};
  return run(host);
}

// The program's arguments as the platform holds them (UTF-16), each in the
// system code page, the one the programs' texts are in; `unmappable` names
// the first argument (from 1) that the code page cannot hold: a best-fit
// stand-in ('L' for 'Ł') would name another user or application.
struct Arguments {
  std::vector<std::string> texts;
  std::optional<std::size_t> unmappable;
};

Arguments SystemCodePageArguments(int argc, char** argv) {
  Arguments arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {  // out of memory: the C runtime's own conversion
    arguments.texts.assign(argv + 1, argv + argc);
    return arguments;
  }
  for (int i = 1; i < count; ++i) {
    const int wide_length = static_cast<int>(std::wcslen(wide[i]));
    BOOL defaulted = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide[i], wide_length,
                                           nullptr, 0, nullptr, &defaulted);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide[i], wide_length, text.data(), length,
                        nullptr, &defaulted);
    if (defaulted && !arguments.unmappable) arguments.unmappable = static_cast<std::size_t>(i);
    arguments.texts.push_back(std::move(text));
  }
  LocalFree(wide);
  return arguments;
}

// Writes text in the system code page. A console shows its own (OEM) code
// page, where the system code page's letters beyond ASCII come out wrong, so
// a console is written UTF-16 (WriteConsoleW); redirected output keeps the
// bytes as they are, as every file the programs write does.
void WriteToConsole(DWORD which, std::FILE* stream, const std::string& text) {
  std::fflush(stream);
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (!text.empty() && handle != nullptr && handle != INVALID_HANDLE_VALUE &&
      GetConsoleMode(handle, &mode)) {
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    // A console takes a limited amount per call: write in pieces.
    constexpr std::size_t kPiece = 8192;
    for (std::size_t at = 0; at < wide.size(); at += kPiece) {
      const DWORD piece = static_cast<DWORD>(std::min(kPiece, wide.size() - at));
      DWORD written = 0;
      if (!WriteConsoleW(handle, wide.data() + at, piece, &written, nullptr)) break;
    }
    return;
  }
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
  // A console program takes its arguments in the system code page, from the
  // platform's own UTF-16 command line split by the platform's rules.
  const Arguments arguments = SystemCodePageArguments(argc, argv);
  if (arguments.unmappable) {
    WriteToConsole(STD_ERROR_HANDLE, stderr,
                   program_name + ": argument " + std::to_string(*arguments.unmappable) +
                       " holds a character that the system code page cannot hold.\n");
    return kConsoleUsageStatus;
  }
  return WithWindowsHost(program_name, [&](Host& host) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunConsoleProgramBody(host, program_name, arguments.texts, body, out, err);
    WriteToConsole(STD_OUTPUT_HANDLE, stdout, out.str());
    WriteToConsole(STD_ERROR_HANDLE, stderr, err.str());
    return status;
  });
}

}  // namespace quillon

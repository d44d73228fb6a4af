// RunWithHost on the portable machine: the machine named by QUILLON_MACHINE,
// the argument text joined from argv, and the POSIX backends of every facade.
// Nothing is read or opened here that the program may not need: the
// registry, the answer queue and the database are touched on first use.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_file_system.h"
#include "shared/posix/posix_network.h"
#include "shared/posix/posix_platform.h"
#include "shared/posix/posix_shell.h"
#include "shared/posix/sqlite_database.h"
#include "shared/program_main.h"

namespace quillon {

namespace {

// What Windows hands a program after its name: the arguments joined by
// single blanks, each unchanged.
std::string ArgumentText(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

// The machine root, or nullptr after telling why there is none.
const char* MachineRoot(const std::string& program_name) {
  const char* root = std::getenv(PortableMachine::kRootVariable);
  if (root == nullptr || *root == '\0') {
    std::fprintf(stderr,
                 "%s: %s is not set; it must name the root directory of the portable machine\n",
                 program_name.c_str(), PortableMachine::kRootVariable);
    return nullptr;
  }
  if (root[0] != '/' || !IsDirectory(root)) {
    std::fprintf(stderr, "%s: %s=%s is not the absolute path of a directory\n",
                 program_name.c_str(), PortableMachine::kRootVariable, root);
    return nullptr;
  }
  return root;
}

// The Windows form of the folder holding the running executable, or "" when
// the executable does not lie on one of the machine's drives.
std::string ProgramFolder(const PortableMachine& machine) {
  char executable[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
  if (length <= 0) return "";
  const std::string path(executable, static_cast<std::size_t>(length));
  return machine.WindowsPath(path.substr(0, path.rfind('/'))).value_or("");
}

// Runs `run` with the host of the machine named by QUILLON_MACHINE; status 2
// when there is none.
template <typename Run>
int WithMachineHost(const std::string& program_name, Run run) {
  const char* root = MachineRoot(program_name);
  if (root == nullptr) return 2;

  PortableMachine machine(root, program_name);
  PosixShell shell(machine);
  PosixFileSystem files(machine);
  PosixDialogs dialogs(machine.program_name());
  PosixProcesses processes;
  PosixEnvironmentReader environment;
  PosixDirectorySearch search(machine);
  PosixClock clock;
  SqliteDatabase database(machine.DatabasesPath());
  PosixRandomSource random;
  PosixNetwork network;
  auto program_folder = [&machine] { return ProgramFolder(machine); };
  Host host{shell, files,    dialogs, processes, environment,   search,
            clock, database, random,  network,   program_folder};
  return run(host);
}

// Text for the terminal: programs write the system code page, the
// terminal reads UTF-8.
void WriteToTerminal(std::FILE* stream, const std::string& text) {
  const std::string utf8 = Cp1252ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}

}  // namespace

int RunProgram(const std::string& program_name, int argc, char** argv, const ProgramBody& body) {
  const std::string argument_text = ArgumentText(argc, argv);
  return WithMachineHost(program_name, [&](Host& host) {
    return RunProgramBody(host, program_name, argument_text, body);
  });
}

int RunWithHost(const std::string& program_name, int argc, char** argv, const HostedRun& run) {
  const std::string argument_text = ArgumentText(argc, argv);
  return WithMachineHost(program_name, [&](Host& host) { return run(host, argument_text); });
}

int RunCgiProgram(const std::string& program_name, int argc, char** argv, const HostedRun& run) {
  // POSIX streams never translate bytes.
  return RunWithHost(program_name, argc, argv, run);
}

int RunConsoleProgram(const std::string& program_name, int argc, char** argv,
                      const ConsoleBody& body) {
  // Arguments come from the terminal as UTF-8; anything else is taken as
  // it is.
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(IsValidUtf8(argv[i]) ? Utf8ToCp1252(argv[i]) : std::string(argv[i]));
  }
  return WithMachineHost(program_name, [&](Host& host) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunConsoleProgramBody(host, program_name, arguments, body, out, err);
    WriteToTerminal(stdout, out.str());
    WriteToTerminal(stderr, err.str());
    return status;
  });
}

}  // namespace quillon

// RunProgram on the portable machine: the machine named by QUILLON_MACHINE,
// the argument text joined from argv, and the POSIX backends of every facade.
// Nothing is read or opened here that the program may not need: the
// registry, the answer queue and the database are touched on first use.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_file_system.h"
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

}  // namespace

int RunProgram(const std::string& program_name, int argc, char** argv, const ProgramBody& body) {
  const std::string argument_text = ArgumentText(argc, argv);
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
  Host host{shell,  files, dialogs,  processes, environment,
            search, clock, database, random,    ProgramFolder(machine)};
  return RunProgramBody(host, program_name, argument_text, body);
}

}  // namespace quillon

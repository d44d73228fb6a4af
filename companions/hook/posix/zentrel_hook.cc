// Zentrel.dll on the portable host: a shared library that the machine tool
// loads for every launch while AppInit_DLLs names it. For each launch it
// starts the checker "ProgramFiles\Harlwick\Zentrel\Zentrel.exe", hidden and
// without waiting, with one argument that names the executable (upper case),
// the process id and the user. That argument reaches the checker unchanged,
// as its one argument: no command-line splitting may fold a run of blanks in
// the path or split it. The checker's own
// launches and those of its mailer are never reported. A checker that cannot
// be started leaves the launch alone (the process runs on), as on Windows.
#include <cstdio>
#include <exception>
#include <string>

#include "companions/hook/checker_request.h"
#include "companions/hook/posix/process_attach.h"
#include "shared/host_error.h"
#include "shared/host_shell.h"
#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_shell.h"

namespace {

void StartChecker(const std::string& executable, unsigned process_id, const std::string& user) {
  const char* root = std::getenv(quillon::PortableMachine::kRootVariable);
  if (root == nullptr || *root == '\0') return;  // not on a machine: nothing to report to
  // The launched program's name, as the run log names the process that starts
  // the checker (the library runs in the launched process on Windows).
  const quillon::PortableMachine machine(root, executable);
  quillon::PosixShell shell(machine);
  const std::string program_files = shell.Environment("ProgramFiles");
  if (executable.empty() || program_files.empty() ||
      quillon::hook::IsExemptLaunch(executable, program_files)) {
    return;
  }
  shell.RunWithArguments(quillon::hook::CheckerPath(program_files),
                         {quillon::hook::CheckerArgument(executable, process_id, user)},
                         quillon::kWindowHidden, false);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void QuillonProcessAttach(
    const char* exe_windows_path, unsigned process_id, const char* user) {
  try {
    StartChecker(exe_windows_path != nullptr ? exe_windows_path : "", process_id,
                 user != nullptr ? user : "");
  } catch (const quillon::HostError& error) {
    std::fprintf(stderr, "Zentrel.dll: the checker cannot be started: Error %ld: %s\n",
                 error.number(), error.description().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Zentrel.dll: the checker cannot be started: %s\n", error.what());
  }
}

// Starting a program in the machine as the platform does: the process first,
// then every library that AppInit_DLLs lists, loaded in a process of their
// own (the hook host) that calls each library's entry point for the launch
// and then waits for the programs the libraries started (the checker).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_shell.h"

namespace quillon::machine {

struct Library {
  std::string windows_path;
  std::string posix_path;
};

// The libraries AppInit_DLLs lists that exist on the machine; a listed
// library that is missing is reported on stderr and left out, as Windows
// skips it.
std::vector<Library> AppInitLibraries(PosixShell& shell, const PortableMachine& machine);

// Starts the hook host for a launch. Returns its pid, or 0 when there are no
// libraries. A library that cannot be loaded, or lacks the entry point, is
// reported on stderr and skipped.
pid_t StartHookHost(const std::vector<Library>& libraries, const std::string& exe_windows_path,
                    pid_t process_id, const std::string& user);

// How a launched process stands after the wait.
struct LaunchOutcome {
  bool running = true;
  int exit_status = 0;  // when not running: 128 + signal for a killed process
  bool killed = false;
};

// Waits until the hook host has ended (the checkers it started included) or
// wait_ms have passed, and reports on the launched process meanwhile.
LaunchOutcome WatchLaunch(pid_t process_id, pid_t hook_host, long wait_ms);

}  // namespace quillon::machine

// Starting a Windows command line on the machine the way HostShell Run does
// (same splitting, same program look-up, no shell in between), but keeping
// the process id, so that the caller can redirect its standard streams, wait
// for its exit status or watch it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "shared/posix/posix_shell.h"

namespace quillon::machine {

struct ResolvedCommand {
  std::string program;                 // POSIX path of the executable
  std::vector<std::string> arguments;  // argv: the program path, then the arguments
};

// Splits the command line by the C runtime's rules and looks the program up
// as Run does. nullopt for an empty line or a program that is not found.
std::optional<ResolvedCommand> ResolveCommandLine(const PosixShell& shell,
                                                  const std::string& command_line);

// Starts the program with the current environment and directory; standard
// input and output come from input_fd and output_fd when they are not -1.
// Throws HostError when the program cannot be started.
pid_t StartProgram(const ResolvedCommand& command, int input_fd = -1, int output_fd = -1);

// Waits for the process to end and returns its exit status; a process ended
// by a signal gives 128 + the signal's number, as POSIX shells report it.
int WaitForExitStatus(pid_t pid);

// The exit status of a waitpid status word (128 + signal for a signal).
int ExitStatusOf(int wait_status);

}  // namespace quillon::machine

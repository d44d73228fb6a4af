#include "support/process_start.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shared/helpers/text.h"
#include "shared/host_error.h"

extern char** environ;

namespace quillon::machine {

std::optional<ResolvedCommand> ResolveCommandLine(const PosixShell& shell,
                                                  const std::string& command_line) {
  std::vector<std::string> arguments = SplitCommandLine(command_line);
  if (arguments.empty()) return std::nullopt;
  std::optional<std::string> program = shell.FindProgram(arguments[0]);
  if (!program) return std::nullopt;
  arguments[0] = *program;
  return ResolvedCommand{*program, arguments};
}

pid_t StartProgram(const ResolvedCommand& command, int input_fd, int output_fd) {
  std::vector<std::string> arguments = command.arguments;
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input_fd >= 0) posix_spawn_file_actions_adddup2(&actions, input_fd, STDIN_FILENO);
  if (output_fd >= 0) posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
  pid_t pid = 0;
  const int failure =
      posix_spawn(&pid, command.program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failure == ENOENT) {
    throw StandardError(error_number::kSystemFileNotFound);
  }
  if (failure == EACCES || failure == EPERM) {
    throw StandardError(error_number::kAccessDenied);
  }
  if (failure != 0) throw HostError(error_number::kUnspecified, std::strerror(failure));
  return pid;
}

int ExitStatusOf(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return 1;
}

int WaitForExitStatus(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  return ExitStatusOf(status);
}

}  // namespace quillon::machine

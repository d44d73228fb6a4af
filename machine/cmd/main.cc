// cmd.exe on the portable machine: "/c COMMAND" starts the command the way
// HostShell Run starts a command line (same look-up, no shell), feeds it the
// file of a "< FILE" redirection on standard input, waits for it and ends
// with its exit status. Left out: internal commands (echo, del, ...), the
// other operators (">", "|", "&", ...), which it refuses, and an interactive
// session.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "shared/text.h"
#include "support/command_text.h"
#include "support/process_start.h"
#include "support/stand_in.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

// Exit status when the command or the input file is not found.
constexpr int kNotFound = 1;

int Cmd(StandIn& cmd) {
  std::vector<std::string> tokens = cmd.arguments();
  if (tokens.empty() || UpperCase(tokens[0]) != "/C") {
    throw UsageError("only \"/c COMMAND\" is supported, got \"" + cmd.ArgumentText() + "\"");
  }
  tokens.erase(tokens.begin());
  const InterpreterCommand command = ParseInterpreterCommand(tokens);

  int input = -1;
  if (command.input_file) {
    const std::optional<MappedPath> file = cmd.machine().Map(*command.input_file);
    if (file && file->exists) input = ::open(file->posix.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) {
      std::fprintf(stderr, "The system cannot find the file specified.\n");
      cmd.Record(JsonObject().Add("input_file", *command.input_file).Add("found", false));
      return kNotFound;
    }
  }

  const std::optional<ResolvedCommand> resolved =
      ResolveCommandLine(cmd.shell(), command.command_line);
  if (!resolved) {
    const std::vector<std::string> words = SplitCommandLine(command.command_line);
    std::fprintf(stderr,
                 "'%s' is not recognized as an internal or external command,\noperable program "
                 "or batch file.\n",
                 words.empty() ? "" : words[0].c_str());
    cmd.Record(JsonObject().Add("command", command.command_line).Add("found", false));
    if (input >= 0) ::close(input);
    return kNotFound;
  }
  JsonObject started;
  started.Add("command", command.command_line);
  if (command.input_file) started.Add("input_file", *command.input_file);
  cmd.Record(started);

  const pid_t pid = StartProgram(*resolved, input);
  if (input >= 0) ::close(input);
  const int status = WaitForExitStatus(pid);
  cmd.Record(JsonObject().Add("command", command.command_line).Add("exit_status", status));
  return status;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("cmd", argc, argv, quillon::machine::Cmd);
}

// cmd.exe on the portable machine: "/c COMMAND" starts the command the way
// HostShell Run starts a command line (same look-up, no shell), feeds it the
// file of a "< FILE" redirection on standard input, waits for it and ends
// with its exit status. Of the internal commands it carries out
// "rmdir /s /q FOLDER" (or "rd"), which removes the folder with all it holds.
// Left out: the other internal commands (echo, del, ...) and other forms of
// rmdir, the other operators (">", "|", "&", ...), which it refuses, and an
// interactive session.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "shared/helpers/text.h"
#include "support/command_text.h"
#include "support/process_start.h"
#include "support/stand_in.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

// Exit status when the command or the input file is not found.
constexpr int kNotFound = 1;
// Exit status of rmdir when the folder is not there, as cmd sets it.
constexpr int kFolderNotFound = 2;
// Exit status of rmdir when the path names a file.
constexpr int kNotAFolder = 1;

// True when the first token after "/c" names the internal command rmdir.
bool IsRemoveFolderCommand(const std::vector<std::string>& tokens) {
  if (tokens.empty()) return false;
  const std::string name = UpperCase(tokens[0]);
  return name == "RMDIR" || name == "RD";
}

// True for a token that is or holds an operator: Windows names never hold
// "<", ">" or "|", and a leading "&" starts a second command.
bool HoldsOperator(const std::string& token) {
  return token.find_first_of("<>|") != std::string::npos || token.rfind('&', 0) == 0;
}

// The folder of "rmdir /s /q FOLDER" (the switches in any order and case);
// throws UsageError for any other form.
std::string FolderToRemove(const std::vector<std::string>& tokens) {
  bool subfolders = false;
  bool quiet = false;
  std::optional<std::string> folder;
  bool understood = true;
  for (std::size_t i = 1; i < tokens.size() && understood; ++i) {
    const std::string& token = tokens[i];
    const std::string upper = UpperCase(token);
    if (upper == "/S") {
      subfolders = true;
    } else if (upper == "/Q") {
      quiet = true;
    } else if (token.empty() || token[0] == '/' || HoldsOperator(token) || folder) {
      understood = false;
    } else {
      folder = token;
    }
  }
  if (!understood || !subfolders || !quiet || !folder) {
    throw UsageError("only \"rmdir /s /q FOLDER\" is supported, got \"" + JoinCommandLine(tokens) +
                     "\"");
  }
  return *folder;
}

// rmdir /s /q FOLDER: removes the folder with everything in it, read-only
// files included. A failing removal propagates as HostError.
int RemoveFolder(StandIn& cmd, const std::vector<std::string>& tokens) {
  const std::string folder = FolderToRemove(tokens);
  const std::string command_line = JoinCommandLine(tokens);
  if (!cmd.files().FolderExists(folder)) {
    const bool is_file = cmd.files().FileExists(folder);
    std::fprintf(
        stderr, "%s\n",
        is_file ? "The directory name is invalid." : "The system cannot find the file specified.");
    cmd.Record(JsonObject().Add("command", command_line).Add("found", false));
    return is_file ? kNotAFolder : kFolderNotFound;
  }
  cmd.files().DeleteFolder(folder, true);
  cmd.Record(JsonObject().Add("command", command_line).Add("exit_status", 0));
  return 0;
}

int Cmd(StandIn& cmd) {
  std::vector<std::string> tokens = cmd.arguments();
  if (tokens.empty() || UpperCase(tokens[0]) != "/C") {
    throw UsageError("only \"/c COMMAND\" is supported, got \"" + cmd.ArgumentText() + "\"");
  }
  tokens.erase(tokens.begin());
  if (IsRemoveFolderCommand(tokens)) return RemoveFolder(cmd, tokens);
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

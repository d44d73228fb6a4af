// What the machine's command interpreter makes of "/c COMMAND": the command
// line it starts and the file it feeds to the command's standard input.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon::machine {

// Joins tokens into a command line that splits back into the same tokens:
// a token that is empty or holds a blank, a tab or a double quote is quoted
// (the first, the program name, by the program name's own rules: it cannot
// hold a double quote).
std::string JoinCommandLine(const std::vector<std::string>& tokens);

struct InterpreterCommand {
  std::string command_line;               // the program and its arguments
  std::optional<std::string> input_file;  // "< FILE" (Windows path)
};

// Takes the tokens after "/c". Understands "< FILE" and "<FILE"; throws
// UsageError for an empty command, a "<" without a file, a second input
// redirection and the operators it does not carry out (">", ">>", "|", "&",
// "&&", "||" and handle redirections such as "2>").
InterpreterCommand ParseInterpreterCommand(const std::vector<std::string>& tokens);

}  // namespace quillon::machine

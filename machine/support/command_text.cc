#include "support/command_text.h"

#include "shared/helpers/text.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

bool NeedsQuotes(const std::string& token) {
  return token.empty() || token.find_first_of(" \t\"") != std::string::npos;
}

// Operators of the real interpreter that this one does not carry out.
bool IsUnsupportedOperator(const std::string& token) {
  if (token.empty()) return false;
  const char first = token[0];
  if (first == '>' || first == '|' || first == '&') return true;
  // Handle redirections: 1>file, 2>file, 2>&1, 0<file.
  return token.size() >= 2 && first >= '0' && first <= '9' && (token[1] == '>' || token[1] == '<');
}

}  // namespace

std::string JoinCommandLine(const std::vector<std::string>& tokens) {
  std::string line;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (i > 0) line += ' ';
    if (!NeedsQuotes(token)) {
      line += token;
    } else if (i == 0) {
      // The program name is read without escapes: backslashes stand for
      // themselves, and quotes only delimit (a name cannot hold one).
      line += '"' + token + '"';
    } else {
      line += QuoteArgument(token);
    }
  }
  return line;
}

InterpreterCommand ParseInterpreterCommand(const std::vector<std::string>& tokens) {
  InterpreterCommand command;
  std::vector<std::string> program_tokens;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (!token.empty() && token[0] == '<') {
      if (command.input_file) throw UsageError("more than one input redirection");
      std::string file = token.substr(1);
      if (file.empty()) {
        if (i + 1 >= tokens.size()) throw UsageError("\"<\" without a file name");
        file = tokens[++i];
      }
      if (file.empty()) throw UsageError("\"<\" without a file name");
      command.input_file = file;
      continue;
    }
    if (IsUnsupportedOperator(token)) {
      throw UsageError("the operator \"" + token + "\" is not supported (only \"<\" is)");
    }
    program_tokens.push_back(token);
  }
  if (program_tokens.empty()) throw UsageError("no command after /c");
  command.command_line = JoinCommandLine(program_tokens);
  return command;
}

}  // namespace quillon::machine

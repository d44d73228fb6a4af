#include "support/shortcut.h"

#include "shared/helpers/text.h"
#include "support/answer_file.h"

namespace quillon::machine {
namespace {

std::string Expand(const std::string& text,
                   const std::function<std::string(const std::string& name)>& variable) {
  std::string expanded;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('%', at);
    const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) {
      expanded += text.substr(at);
      break;
    }
    const std::string name = text.substr(open + 1, close - open - 1);
    const std::string value = name.empty() ? "" : variable(name);
    expanded += text.substr(at, open - at);
    expanded += value.empty() ? text.substr(open, close - open + 1) : value;
    at = close + 1;
  }
  return expanded;
}

// A program name in quotes: program names are read without escapes
// (backslashes stand as they are, quotes only delimit), so nothing is doubled.
std::string QuotedProgram(const std::string& program) {
  return "\"" + program + "\"";
}

}  // namespace

std::optional<ShortcutCommand> ShortcutFor(
    const std::string& file_name, const std::string& text, const std::string& browser,
    const std::function<std::string(const std::string& name)>& variable) {
  const std::string upper = UpperCase(file_name);
  ShortcutCommand command;
  if (upper.size() > 4 && upper.substr(upper.size() - 4) == ".URL") {
    const std::optional<std::string> address = IniValue(text, "InternetShortcut", "URL");
    if (!address || address->empty()) return std::nullopt;
    command.command_line = QuotedProgram(browser) + " " + *address;
    command.description = *address;
    return command;
  }
  const std::optional<std::string> target = IniValue(text, "Shortcut", "Target");
  if (!target || target->empty()) return std::nullopt;
  command.command_line = QuotedProgram(Expand(*target, variable));
  const std::string arguments =
      Expand(IniValue(text, "Shortcut", "Arguments").value_or(""), variable);
  if (!arguments.empty()) command.command_line += " " + arguments;
  command.working_directory =
      Expand(IniValue(text, "Shortcut", "WorkingDirectory").value_or(""), variable);
  command.description = IniValue(text, "Shortcut", "Description").value_or("");
  return command;
}

}  // namespace quillon::machine

#include "support/answer_file.h"

#include "shared/helpers/text.h"

namespace quillon::machine {
namespace {

std::string Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return "";
  const std::size_t last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::optional<std::string> IniValue(std::string_view text, std::string_view section,
                                    std::string_view key) {
  const std::string wanted_section = UpperCase(section);
  const std::string wanted_key = UpperCase(key);
  std::optional<std::string> value;
  bool in_section = false;
  for (const std::string& raw : SplitAll(text, "\n")) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      in_section = close != std::string::npos &&
                   UpperCase(Trim(std::string_view(line).substr(1, close - 1))) == wanted_section;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!in_section || equals == std::string::npos) continue;
    if (UpperCase(Trim(std::string_view(line).substr(0, equals))) != wanted_key) continue;
    value = Trim(std::string_view(line).substr(equals + 1));
  }
  return value;
}

bool SelectsWebServer(std::string_view answer_file) {
  const std::optional<std::string> www = IniValue(answer_file, "Components", "iis_www");
  return www && UpperCase(*www) == "ON";
}

}  // namespace quillon::machine

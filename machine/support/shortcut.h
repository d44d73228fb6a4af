// Start Menu shortcuts on the portable machine. A shell link ("NAME.lnk") is
// kept as INI text, since the machine has no binary shell links:
//
//   [Shortcut]
//   Target=%ProgramFiles%\Harlwick\Zentrel\Config\ZentrelConfig.exe
//   Arguments=-ENABLE
//   WorkingDirectory=%ProgramFiles%\Harlwick\Zentrel\Config
//   Description=...
//
// An Internet shortcut ("NAME.url") has the form Windows itself gives it:
// "[InternetShortcut]" with "URL=...", and opens in the browser.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quillon::machine {

struct ShortcutCommand {
  std::string command_line;       // target (quoted where it holds blanks) and arguments
  std::string working_directory;  // "" when the shortcut names none
  std::string description;
};

// The command a shortcut file runs, %NAME% references expanded with
// variable(NAME) (a name the environment lacks stays as written). The file
// name decides the kind: ".url" opens the address with browser, anything
// else is a shell link. nullopt when the text lacks its target or address.
std::optional<ShortcutCommand> ShortcutFor(
    const std::string& file_name, const std::string& text, const std::string& browser,
    const std::function<std::string(const std::string& name)>& variable);

}  // namespace quillon::machine

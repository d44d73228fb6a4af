// Unattended answer files in the INI form the Windows installers read:
// [Section] lines, "key = value" lines, ";" comments.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon::machine {

// The value of key in section (names without regard to case, blanks around
// names and values dropped; the last occurrence wins), or nullopt.
std::optional<std::string> IniValue(std::string_view text, std::string_view section,
                                    std::string_view key);

// True when the answer file selects the web server for installation: its
// [Components] section sets iis_www to ON (any case).
bool SelectsWebServer(std::string_view answer_file);

}  // namespace quillon::machine

// How the installer and the uninstaller run the product's scripts: the
// command interpreter runs the script host on the script's full path.
#pragma once

#include <string>

namespace quillon {

// The command line that has the command interpreter run the script host on a
// script's full path, in quotes.
inline std::string ScriptCommand(const std::string& script_path) {
  return "cmd.exe /c wscript.exe \"" + script_path + "\"";
}

}  // namespace quillon

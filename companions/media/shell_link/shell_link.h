// Windows shell links (.lnk files) for the Start Menu group of the Windows
// setup media, written from the group's text shortcuts ([Shortcut] with
// Target=, Arguments=, WorkingDirectory=, Description=). The target names
// its folder through an environment variable (%ProgramFiles%), known only on
// the machine that opens the link, so the link carries no item list and no
// volume information: the shell takes the target from the link's
// environment-variable block and expands it when the link is opened.
#pragma once

#include <stdexcept>
#include <string>

namespace quillon {

struct ShortcutFields {
  std::string target;
  std::string arguments;
  std::string working_directory;
  std::string description;
};

// Thrown for a text shortcut or field that no shell link can hold.
class ShortcutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The fields of a text shortcut: the [Shortcut] section's Target= (which
// must be there), Arguments=, WorkingDirectory= and Description= lines; CR
// LF or LF line ends. Throws ShortcutError without a target, or for text
// outside ASCII.
ShortcutFields ParseShortcutText(const std::string& text);

// The bytes of the shell link for the fields: the header, the description,
// working folder and arguments as counted UTF-16 strings (left out when
// empty), the target in the environment-variable block, the terminal block.
// Throws ShortcutError for a target of more than 259 characters or a string
// of more than 65535.
std::string ShellLinkBytes(const ShortcutFields& fields);

}  // namespace quillon

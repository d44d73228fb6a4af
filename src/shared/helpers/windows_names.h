// The characters Windows forbids in file names. A path element or an account
// name holding one cannot exist on Windows, so the portable machine refuses
// such names too.
#pragma once

#include <string_view>

namespace quillon {

// True when the name holds a character forbidden in names.
bool HoldsForbiddenCharacter(std::string_view name);

// True when an element of a Windows path holds a character forbidden in
// names. "\" and "/" separate elements; a ":" may follow a leading drive
// letter.
bool PathHoldsForbiddenCharacter(std::string_view windows_path);

}  // namespace quillon

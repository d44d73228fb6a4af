// What the running process can tell about itself: its executable's path and
// its environment variables, for the backends and the hook library alike.
// This header does not include the Windows headers.
#pragma once

#include <optional>
#include <string>

namespace quillon {

// The full path of the running executable; "" when the platform cannot tell.
std::string ModulePath();

// The value of an environment variable of this process, however long;
// nullopt when it is not set (a variable set to the empty text is set).
std::optional<std::string> VariableValue(const std::string& name);

}  // namespace quillon

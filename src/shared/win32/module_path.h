// The running executable's own path, for the backends and the hook library
// alike. This header does not include the Windows headers.
#pragma once

#include <string>

namespace quillon::win32 {

// The full path of the running executable; "" when the platform cannot tell.
std::string ModulePath();

}  // namespace quillon::win32

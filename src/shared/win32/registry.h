// The registry roots' handles and the reads the Win32 backends share; paths
// are parsed by the platform-neutral registry path helpers.
#pragma once

#include <optional>
#include <string>

#include "shared/backend/registry_path.h"
#include "shared/win32/windows_api.h"

namespace quillon {

// The predefined handle of a root.
HKEY RootKeyOf(RegistryRoot root);

// The data of a REG_SZ or REG_EXPAND_SZ value, nullopt when the path is no
// registry path or the value is missing, unreadable or of another type.
std::optional<std::string> ReadRegistryText(const std::string& path);

}  // namespace quillon

// Registry paths as the programs write them ("HKLM\" + key path + "\" + value
// name) and the reads the Win32 backends share.
#pragma once

#include <optional>
#include <string>

#include "shared/win32/windows_api.h"

namespace quillon::win32 {

struct RegistryPath {
  HKEY root = nullptr;
  std::string key;         // without the root, may be empty
  std::string value_name;  // after the last backslash; "" is the key's default value
};

// Splits a path at its root (HKLM, HKEY_LOCAL_MACHINE, HKCU,
// HKEY_CURRENT_USER, HKCR, HKEY_CLASSES_ROOT, HKU, HKEY_USERS; any case) and
// its last backslash. nullopt for an unknown root or a path without a
// backslash.
std::optional<RegistryPath> ParseRegistryPath(const std::string& path);

// The data of a REG_SZ or REG_EXPAND_SZ value, nullopt when the value is
// missing, unreadable or of another type.
std::optional<std::string> ReadRegistryText(const std::string& path);

}  // namespace quillon::win32

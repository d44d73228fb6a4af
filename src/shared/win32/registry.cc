#include "shared/win32/registry.h"

#include <vector>

namespace quillon {

HKEY RootKeyOf(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegistryRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryRoot::kClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegistryRoot::kUsers:
      return HKEY_USERS;
    case RegistryRoot::kCurrentConfig:
      return HKEY_CURRENT_CONFIG;
  }
  return HKEY_LOCAL_MACHINE;
}

std::optional<std::string> ReadRegistryText(const std::string& path) {
  const std::optional<RegistryPath> parsed = ParseRegistryPath(path);
  if (!parsed) return std::nullopt;
  HKEY key = nullptr;
  if (RegOpenKeyExA(RootKeyOf(parsed->root), parsed->key.c_str(), 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::optional<std::string> text;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, parsed->value.c_str(), nullptr, &type, nullptr, &size) ==
          ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::vector<char> data(size + 1, '\0');
    if (RegQueryValueExA(key, parsed->value.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
      text = std::string(data.data());
    }
  }
  RegCloseKey(key);
  return text;
}

}  // namespace quillon

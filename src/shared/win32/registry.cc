#include "shared/win32/registry.h"

#include <vector>

#include "shared/text.h"

namespace quillon::win32 {

std::optional<RegistryPath> ParseRegistryPath(const std::string& path) {
  const std::size_t first = path.find('\\');
  if (first == std::string::npos) return std::nullopt;
  const std::string root = UpperCase(path.substr(0, first));
  RegistryPath parsed;
  if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") {
    parsed.root = HKEY_LOCAL_MACHINE;
  } else if (root == "HKCU" || root == "HKEY_CURRENT_USER") {
    parsed.root = HKEY_CURRENT_USER;
  } else if (root == "HKCR" || root == "HKEY_CLASSES_ROOT") {
    parsed.root = HKEY_CLASSES_ROOT;
  } else if (root == "HKU" || root == "HKEY_USERS") {
    parsed.root = HKEY_USERS;
  } else {
    return std::nullopt;
  }
  const std::size_t last = path.rfind('\\');
  if (last > first) parsed.key = path.substr(first + 1, last - first - 1);
  parsed.value_name = path.substr(last + 1);
  return parsed;
}

std::optional<std::string> ReadRegistryText(const std::string& path) {
  const std::optional<RegistryPath> parsed = ParseRegistryPath(path);
  if (!parsed) return std::nullopt;
  HKEY key = nullptr;
  if (RegOpenKeyExA(parsed->root, parsed->key.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::optional<std::string> text;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, parsed->value_name.c_str(), nullptr, &type, nullptr, &size) ==
          ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::vector<char> data(size + 1, '\0');
    if (RegQueryValueExA(key, parsed->value_name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
      text = std::string(data.data());
    }
  }
  RegCloseKey(key);
  return text;
}

}  // namespace quillon::win32

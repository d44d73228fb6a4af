#include "shared/helpers/windows_names.h"

#include <algorithm>
#include <cstring>

namespace quillon {

namespace {

bool IsForbiddenInNames(char c) {
  return static_cast<unsigned char>(c) < 32 || std::strchr("<>:\"/\\|?*", c) != nullptr;
}

}  // namespace

bool HoldsForbiddenCharacter(std::string_view name) {
  return std::any_of(name.begin(), name.end(), IsForbiddenInNames);
}

bool PathHoldsForbiddenCharacter(std::string_view windows_path) {
  const bool has_drive = windows_path.size() >= 2 && windows_path[1] == ':' &&
                         ((windows_path[0] >= 'A' && windows_path[0] <= 'Z') ||
                          (windows_path[0] >= 'a' && windows_path[0] <= 'z'));
  if (has_drive) windows_path.remove_prefix(2);
  return std::any_of(windows_path.begin(), windows_path.end(),
                     [](char c) { return c != '\\' && c != '/' && IsForbiddenInNames(c); });
}

}  // namespace quillon

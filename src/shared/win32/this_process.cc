#include "shared/win32/this_process.h"

#include <vector>

#include "shared/win32/windows_api.h"

namespace quillon {

std::string ModulePath() {
  std::vector<char> buffer(MAX_PATH + 1, '\0');
  while (true) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return "";
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.assign(buffer.size() * 2, '\0');
  }
}

std::optional<std::string> VariableValue(const std::string& name) {
  std::vector<char> buffer(MAX_PATH + 1, '\0');
  while (true) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.assign(length + 1, '\0');  // too small: length is the size needed
  }
}

}  // namespace quillon

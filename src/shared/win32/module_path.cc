#include "shared/win32/module_path.h"

#include <vector>

#include "shared/win32/windows_api.h"

namespace quillon::win32 {

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

}  // namespace quillon::win32

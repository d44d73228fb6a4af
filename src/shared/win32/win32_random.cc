// The system's cryptographic random source on Windows.
#include <algorithm>
#include <limits>
#include <string>

#include "shared/win32/win32_error.h"
#include "shared/win32/win32_host.h"
#include "shared/win32/windows_api.h"

// clang-format off
#include <bcrypt.h>
// clang-format on

namespace quillon {

std::vector<std::uint8_t> Win32RandomSource::Bytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t filled = 0;
  while (filled < count) {
    const ULONG chunk = static_cast<ULONG>(
        std::min<std::size_t>(count - filled, std::numeric_limits<ULONG>::max()));
    const NTSTATUS status =
        BCryptGenRandom(nullptr, bytes.data() + filled, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
      throw HostError(error_number::kUnspecified,
                      "The system's random source failed (status " +
                          std::to_string(static_cast<unsigned long>(status)) + ").");
    }
    filled += chunk;
  }
  return bytes;
}

}  // namespace quillon

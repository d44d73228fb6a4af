// The system's cryptographic random source on Windows, through the
// CryptoAPI that every supported Windows has (Windows 2000 on): bcrypt.dll
// only came with Vista.
#include <algorithm>
#include <limits>
#include <string>

#include "shared/win32/win32_error.h"
#include "shared/win32/win32_platform.h"
#include "shared/win32/windows_api.h"

// clang-format off
#include <wincrypt.h>
// clang-format on

namespace quillon {
namespace {

HostError RandomSourceError() {
  return HostError(error_number::kUnspecified,
                   "The system's random source failed (error " +
                       std::to_string(static_cast<unsigned long>(GetLastError())) + ").");
}

}  // namespace

std::vector<std::uint8_t> Win32RandomSource::Bytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  HCRYPTPROV provider = 0;
  // A context for random bytes only: no key container, no user interface.
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    throw RandomSourceError();
  }
  std::size_t filled = 0;
  while (filled < count) {
    const DWORD chunk = static_cast<DWORD>(
        std::min<std::size_t>(count - filled, std::numeric_limits<DWORD>::max()));
    if (!CryptGenRandom(provider, chunk, bytes.data() + filled)) {
      const HostError error = RandomSourceError();
      CryptReleaseContext(provider, 0);
      throw error;
    }
    filled += chunk;
  }
  CryptReleaseContext(provider, 0);
  return bytes;
}

}  // namespace quillon

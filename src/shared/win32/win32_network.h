// Outgoing connections through Winsock. This header does not include the
// Windows headers.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "shared/network.h"

namespace quillon {

// Outgoing TCP connections through Winsock, non-blocking, every wait a
// select bounded by the time the caller allows; text converted from the ANSI
// code page.
class Win32Network : public Network {
 public:
  std::unique_ptr<NetworkConnection> Connect(const std::string& host, std::uint16_t port,
                                             std::chrono::milliseconds timeout) override;
  std::string SystemTextToUtf8(const std::string& text) override;
};

}  // namespace quillon

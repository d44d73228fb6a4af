// The network service on the portable host: POSIX sockets, non-blocking,
// every wait a poll(2) bounded by the time the caller allows.
#pragma once

#include "shared/network.h"

namespace quillon {

class PosixNetwork : public Network {
 public:
  std::unique_ptr<NetworkConnection> Connect(const std::string& host, std::uint16_t port,
                                             std::chrono::milliseconds timeout) override;
  // The portable host's system code page is Windows-1252.
  std::string SystemTextToUtf8(const std::string& text) override;
};

}  // namespace quillon

// The network service: outgoing TCP connections with bounded waits, for the
// mailer's conversation with a mail server. Every wait takes the time it may
// last at most, so that a silent or slow server never holds a program longer.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "shared/host_error.h"

namespace quillon {

// One open connection; closed when the object goes.
class NetworkConnection {
 public:
  virtual ~NetworkConnection() = default;
  // Sends every byte, waiting at most `timeout` in all. Throws HostError
  // (kTimedOut when the time runs out, kNetworkDown when the peer is
  // gone).
  virtual void Send(const std::string& bytes, std::chrono::milliseconds timeout) = 0;
  // Waits at most `timeout` for bytes and returns those that have arrived
  // (at least one), or "" once the peer has closed the connection. Throws
  // HostError (kTimedOut when nothing arrives in time, kNetworkDown
  // when the connection breaks).
  virtual std::string Receive(std::chrono::milliseconds timeout) = 0;
};

class Network {
 public:
  virtual ~Network() = default;
  // Connects to the host (a name or an address) on the port, trying each of
  // its addresses in turn within `timeout` in all. Throws HostError:
  // kHostNotFound, kConnectionRefused, kTimedOut or kNetworkDown.
  virtual std::unique_ptr<NetworkConnection> Connect(const std::string& host, std::uint16_t port,
                                                     std::chrono::milliseconds timeout) = 0;
  // Text in the system code page (Windows-1252 on the portable host, the
  // ANSI code page on Windows) as UTF-8, for what goes out on the wire.
  virtual std::string SystemTextToUtf8(const std::string& text) = 0;
};

}  // namespace quillon

// Win32Network: Winsock sockets in non-blocking mode, so that connecting,
// sending and receiving each wait at most the time they are given.
#include "shared/win32/windows_api.h"
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>

#include "shared/host_error.h"
#include "shared/win32/win32_network.h"

namespace quillon {

namespace {

using Milliseconds = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

HostError SocketError(int error) {
  switch (error) {
    case WSAETIMEDOUT:
      return StandardError(error_number::kTimedOut);
    case WSAECONNREFUSED:
      return StandardError(error_number::kConnectionRefused);
    default:
      return HostError(error_number::kNetworkDown, StandardErrorText(error_number::kNetworkDown) +
                                                       std::string(" (Winsock error ") +
                                                       std::to_string(error) + ")");
  }
}

// Winsock started once for the process, before the first socket.
void StartWinsock() {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) throw SocketError(started);
}

timeval LeftUntil(SteadyClock::time_point deadline) {
  const auto left = std::max<Milliseconds::rep>(
      0, std::chrono::duration_cast<Milliseconds>(deadline - SteadyClock::now()).count());
  return timeval{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
}

// Waits until the socket can be written (or, with for_reading, read) or the
// deadline passes; false when the time ran out. A failed connection counts
// as ready, so that its error is read.
bool WaitFor(SOCKET socket, bool for_reading, SteadyClock::time_point deadline) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  FD_SET(socket, &failed);
  timeval left = LeftUntil(deadline);
  const int count =
      select(0, for_reading ? &ready : nullptr, for_reading ? nullptr : &ready, &failed, &left);
  if (count == SOCKET_ERROR) throw SocketError(WSAGetLastError());
  return count > 0;
}

class Win32Connection : public NetworkConnection {
 public:
  explicit Win32Connection(SOCKET socket) : socket_(socket) {}
  ~Win32Connection() override { closesocket(socket_); }
  Win32Connection(const Win32Connection&) = delete;
  Win32Connection& operator=(const Win32Connection&) = delete;

  void Send(const std::string& bytes, Milliseconds timeout) override {
    const auto deadline = SteadyClock::now() + timeout;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      if (!WaitFor(socket_, false, deadline)) throw SocketError(WSAETIMEDOUT);
      const int count =
          send(socket_, bytes.data() + sent,
               static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 65536)), 0);
      if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      if (count == SOCKET_ERROR) throw SocketError(WSAGetLastError());
      sent += static_cast<std::size_t>(count);
    }
  }

  std::string Receive(Milliseconds timeout) override {
    const auto deadline = SteadyClock::now() + timeout;
    char buffer[4096];
    while (true) {
      if (!WaitFor(socket_, true, deadline)) throw SocketError(WSAETIMEDOUT);
      const int count = recv(socket_, buffer, sizeof buffer, 0);
      if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      if (count == SOCKET_ERROR) throw SocketError(WSAGetLastError());
      return std::string(buffer, static_cast<std::size_t>(count));
    }
  }

 private:
  SOCKET socket_;
};

// Connects a non-blocking socket before the deadline: 0, or the Winsock
// error that stopped it.
int ConnectError(SOCKET socket, const addrinfo& address, SteadyClock::time_point deadline) {
  u_long non_blocking = 1;
  if (ioctlsocket(socket, FIONBIO, &non_blocking) != 0) return WSAGetLastError();
  if (connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return 0;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return WSAGetLastError();
  if (!WaitFor(socket, false, deadline)) return WSAETIMEDOUT;
  int error = 0;
  int length = sizeof error;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return WSAGetLastError();
  }
  return error;
}

}  // namespace

std::unique_ptr<NetworkConnection> Win32Network::Connect(const std::string& host,
                                                         std::uint16_t port, Milliseconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  StartWinsock();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* addresses = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0) {
    throw HostError(error_number::kHostNotFound, StandardErrorText(error_number::kHostNotFound) +
                                                     std::string(": \"") + host + "\"");
  }
  int last_error = WSAECONNREFUSED;
  for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    const SOCKET socket_handle =
        socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (socket_handle == INVALID_SOCKET) {
      last_error = WSAGetLastError();
      continue;
    }
    last_error = ConnectError(socket_handle, *address, deadline);
    if (last_error == 0) {
      freeaddrinfo(addresses);
      return std::make_unique<Win32Connection>(socket_handle);
    }
    closesocket(socket_handle);
    if (SteadyClock::now() >= deadline) break;
  }
  freeaddrinfo(addresses);
  throw SocketError(last_error);
}

std::string Win32Network::SystemTextToUtf8(const std::string& text) {
  if (text.empty()) return "";
  const int wide_length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                      wide_length);
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

}  // namespace quillon

#include "shared/posix/posix_network.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/descriptor.h"

namespace quillon {

namespace {

using Milliseconds = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

HostError SocketError(int error) {
  switch (error) {
    case ETIMEDOUT:
      return StandardError(error_number::kTimedOut);
    case ECONNREFUSED:
      return StandardError(error_number::kConnectionRefused);
    default:
      return HostError(error_number::kNetworkDown, StandardErrorText(error_number::kNetworkDown) +
                                                       std::string(" (") + std::strerror(error) +
                                                       ")");
  }
}

// Milliseconds left until the deadline, for poll: at least 0.
int LeftUntil(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Milliseconds>(deadline - SteadyClock::now());
  return static_cast<int>(
      std::max<Milliseconds::rep>(0, std::min<Milliseconds::rep>(left.count(), 1 << 30)));
}

// Waits until the socket is ready for the events or the deadline passes;
// false when the time ran out. An interrupted poll waits on.
bool WaitFor(int fd, short events, SteadyClock::time_point deadline) {
  while (true) {
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, LeftUntil(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) throw SocketError(errno);
  }
}

class PosixConnection : public NetworkConnection {
 public:
  explicit PosixConnection(int fd) : socket_(fd) {}

  void Send(const std::string& bytes, Milliseconds timeout) override {
    const auto deadline = SteadyClock::now() + timeout;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      if (!WaitFor(socket_.get(), POLLOUT, deadline)) throw SocketError(ETIMEDOUT);
      const ssize_t count =
          send(socket_.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (count < 0) throw SocketError(errno);
      sent += static_cast<std::size_t>(count);
    }
  }

  std::string Receive(Milliseconds timeout) override {
    const auto deadline = SteadyClock::now() + timeout;
    char buffer[4096];
    while (true) {
      if (!WaitFor(socket_.get(), POLLIN, deadline)) throw SocketError(ETIMEDOUT);
      const ssize_t count = recv(socket_.get(), buffer, sizeof buffer, 0);
      if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (count < 0) throw SocketError(errno);
      return std::string(buffer, static_cast<std::size_t>(count));
    }
  }

 private:
  Descriptor socket_;
};

// Connects a non-blocking socket before the deadline: 0, or the error that
// stopped it.
int ConnectError(int fd, const addrinfo& address, SteadyClock::time_point deadline) {
  if (connect(fd, address.ai_addr, address.ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  if (!WaitFor(fd, POLLOUT, deadline)) return ETIMEDOUT;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

// A socket connected to one address, or -1 with errno telling why.
int ConnectTo(const addrinfo& address, SteadyClock::time_point deadline) {
  const int fd = socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                        address.ai_protocol);
  if (fd < 0) return -1;
  const int error = ConnectError(fd, address, deadline);
  if (error == 0) return fd;
  close(fd);
  errno = error;
  return -1;
}

}  // namespace

std::unique_ptr<NetworkConnection> PosixNetwork::Connect(const std::string& host,
                                                         std::uint16_t port, Milliseconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  const int looked_up = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
  if (looked_up != 0) {
    throw HostError(error_number::kHostNotFound, StandardErrorText(error_number::kHostNotFound) +
                                                     std::string(": \"") + host + "\" (" +
                                                     gai_strerror(looked_up) + ")");
  }
  int last_error = ECONNREFUSED;
  for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    const int fd = ConnectTo(*address, deadline);
    if (fd >= 0) {
      freeaddrinfo(addresses);
      return std::make_unique<PosixConnection>(fd);
    }
    last_error = errno;
    if (LeftUntil(deadline) == 0) break;
  }
  freeaddrinfo(addresses);
  throw SocketError(last_error);
}

std::string PosixNetwork::SystemTextToUtf8(const std::string& text) {
  return Cp1252ToUtf8(text);
}

}  // namespace quillon

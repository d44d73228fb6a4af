#include "support/services.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/descriptor.h"

namespace quillon::machine {
namespace {

constexpr char kFileName[] = "services.running";

[[noreturn]] void Fail(const std::string& path) {
  throw HostError(error_number::kPermissionDenied,
                  "Cannot use " + path + ": " + std::strerror(errno));
}

std::vector<std::string> ParseNames(const std::string& text) {
  std::vector<std::string> names;
  for (std::string& line : SplitAll(text, "\n")) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

std::string ReadAll(int fd, const std::string& path) {
  std::string text;
  char buffer[4096];
  if (::lseek(fd, 0, SEEK_SET) < 0) Fail(path);
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(path);
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

void WriteAll(int fd, const std::string& path, const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += name + "\n";
  if (::ftruncate(fd, 0) < 0 || ::lseek(fd, 0, SEEK_SET) < 0) Fail(path);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(path);
    written += static_cast<std::size_t>(n);
  }
}

// Runs change on the current names under the lock and writes back what it
// leaves when it returns true.
void Locked(const std::string& path, bool write,
            const std::function<bool(std::vector<std::string>&)>& change) {
  // The machine's own file: never a link, a FIFO or a device.
  const int fd =
      OpenRegularFile(path, (write ? O_RDWR | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (!write && errno == ENOENT) {
      std::vector<std::string> none;
      change(none);
      return;
    }
    Fail(path);
  }
  ::flock(fd, write ? LOCK_EX : LOCK_SH);
  try {
    std::vector<std::string> names = ParseNames(ReadAll(fd, path));
    if (change(names) && write) WriteAll(fd, path, names);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
}

bool SameName(const std::string& a, const std::string& b) {
  return UpperCase(a) == UpperCase(b);
}

}  // namespace

RunningServices::RunningServices(std::string machine_root)
    : path_(std::move(machine_root) + "/" + kFileName) {}

bool RunningServices::IsRunning(const std::string& name) const {
  bool running = false;
  Locked(path_, false, [&](std::vector<std::string>& names) {
    for (const std::string& n : names) running = running || SameName(n, name);
    return false;
  });
  return running;
}

bool RunningServices::Start(const std::string& name) {
  bool started = false;
  Locked(path_, true, [&](std::vector<std::string>& names) {
    for (const std::string& n : names) {
      if (SameName(n, name)) return false;
    }
    names.push_back(name);
    started = true;
    return true;
  });
  return started;
}

bool RunningServices::Stop(const std::string& name) {
  bool stopped = false;
  Locked(path_, true, [&](std::vector<std::string>& names) {
    std::vector<std::string> kept;
    for (const std::string& n : names) {
      if (SameName(n, name)) {
        stopped = true;
      } else {
        kept.push_back(n);
      }
    }
    names = kept;
    return stopped;
  });
  return stopped;
}

void RunningServices::Replace(const std::vector<std::string>& new_names) {
  Locked(path_, true, [&](std::vector<std::string>& names) {
    names = new_names;
    return true;
  });
}

std::vector<std::string> RunningServices::Names() const {
  std::vector<std::string> result;
  Locked(path_, false, [&](std::vector<std::string>& names) {
    result = names;
    return false;
  });
  return result;
}

}  // namespace quillon::machine

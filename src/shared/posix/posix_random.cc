// The system's random source on the portable machine.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shared/host_error.h"
#include "shared/posix/descriptor.h"
#include "shared/posix/posix_platform.h"

namespace quillon {

namespace {

HostError RandomSourceError() {
  return HostError(error_number::kUnspecified,
                   std::string("The system's random source failed: ") + std::strerror(errno));
}

// Fills the buffer from /dev/urandom.
void ReadUrandom(std::uint8_t* buffer, std::size_t count) {
  const Descriptor source(open("/dev/urandom", O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (source.get() < 0) throw RandomSourceError();
  struct stat info {};
  if (fstat(source.get(), &info) != 0 || !S_ISCHR(info.st_mode)) throw RandomSourceError();
  std::size_t filled = 0;
  while (filled < count) {
    const ssize_t got = read(source.get(), buffer + filled, count - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw RandomSourceError();
    filled += static_cast<std::size_t>(got);
  }
}

}  // namespace

std::vector<std::uint8_t> PosixRandomSource::Bytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t filled = 0;
  while (filled < count) {
    const ssize_t got = getrandom(bytes.data() + filled, count - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == ENOSYS) {
      ReadUrandom(bytes.data() + filled, count - filled);
      break;
    }
    if (got <= 0) throw RandomSourceError();
    filled += static_cast<std::size_t>(got);
  }
  return bytes;
}

}  // namespace quillon

#include "shared/posix/descriptor.h"

#include <unistd.h>

#include <cerrno>

namespace quillon {

void Descriptor::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace quillon

#include "shared/posix/descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
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

int OpenRegularFile(const std::string& path, int flags, mode_t mode) {
  const int fd = open(path.c_str(), flags | O_NONBLOCK, mode);
  if (fd < 0) {
    if (errno == ENXIO) errno = EPERM;  // a FIFO without a reader, a device without its unit
    return -1;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    errno = EPERM;
    return -1;
  }
  if ((flags & O_NONBLOCK) == 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

bool AppendWhole(int fd, std::string_view text) {
  if (text.empty()) return true;
  ssize_t written = 0;
  do {
    written = write(fd, text.data(), text.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(text.size())) return true;
  if (written < 0) return false;
  // With O_APPEND the offset is now the end of the part that went in.
  const off_t end = lseek(fd, 0, SEEK_CUR);
  struct stat info {};
  if (end >= written && fstat(fd, &info) == 0 && info.st_size == end) {
    // Nothing can be done when this fails too; the caller reports the
    // failure either way.
    static_cast<void>(ftruncate(fd, end - written));
  }
  errno = ENOSPC;
  return false;
}

}  // namespace quillon

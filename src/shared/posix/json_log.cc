#include "shared/posix/json_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quillon {

bool AppendLogLine(const std::string& path, const std::string& line) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::string record = line + "\n";
  ssize_t written = 0;
  do {
    written = write(fd, record.data(), record.size());
  } while (written < 0 && errno == EINTR);
  close(fd);
  return written == static_cast<ssize_t>(record.size());
}

}  // namespace quillon

#include "shared/posix/json_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "shared/posix/descriptor.h"

namespace quillon {

bool AppendLogLine(const std::string& path, const std::string& line) {
  const Descriptor log(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (log.get() < 0) return false;
  const std::string record = line + "\n";
  // One write only: a second write for the rest of a short one could land
  // behind another writer's line.
  ssize_t written = 0;
  do {
    written = write(log.get(), record.data(), record.size());
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(record.size());
}

}  // namespace quillon

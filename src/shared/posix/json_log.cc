#include "shared/posix/json_log.h"

#include <fcntl.h>

#include "shared/posix/descriptor.h"

namespace quillon {

bool AppendLogLine(const std::string& path, const std::string& line, LogLink link) {
  const int no_follow = link == LogLink::kRefuse ? O_NOFOLLOW : 0;
  const Descriptor log(
      OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | no_follow, 0644));
  if (log.get() < 0) return false;
  return AppendWhole(log.get(), line + "\n");
}

}  // namespace quillon

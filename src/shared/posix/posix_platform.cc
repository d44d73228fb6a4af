#include "shared/posix/posix_platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/descriptor.h"

namespace quillon {

// --------------------------------------------------------------- processes

PosixProcesses::PosixProcesses(KillFunction kill_function)
    : kill_(kill_function != nullptr ? kill_function : &::kill) {}

void PosixProcesses::Terminate(std::uint32_t process_id) {
  if (process_id == 0 ||
      process_id > static_cast<std::uint32_t>(std::numeric_limits<pid_t>::max())) {
    return;
  }
  // A process that is gone or may not be signalled is left alone, as on Windows.
  static_cast<void>(kill_(static_cast<pid_t>(process_id), SIGKILL));
}

void PosixProcesses::Sleep(std::uint32_t milliseconds) {
  struct timespec left {
    static_cast<std::time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L
  };
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// ------------------------------------------------------------- environment

std::optional<std::string> EnvironmentValue(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
  if (const char* exact = std::getenv(name.c_str())) return std::string(exact);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::size_t equals = text.find('=');
    if (equals != std::string_view::npos && EqualsIgnoringCase(text.substr(0, equals), name)) {
      return std::string(text.substr(equals + 1));
    }
  }
  return std::nullopt;
}

std::string PosixEnvironmentReader::Read(const std::string& name, std::size_t buffer_size) {
  const std::optional<std::string> value = EnvironmentValue(name);
  // The value and its terminating NUL must fit into the buffer.
  if (!value || value->size() >= buffer_size) return "";
  return *value;
}

// ---------------------------------------------------------- directory search

std::string PosixDirectorySearch::FindFirstName(const std::string& pattern, unsigned attributes) {
  auto [parent, element] = SplitLastElement(pattern);
  if (element.empty() || element == "." || element == "..") return "";
  if (parent.empty()) {
    std::optional<std::string> current = machine_.CurrentFolder();
    if (!current) return "";
    parent = *current;
  }
  std::optional<MappedPath> folder = machine_.Map(parent);
  if (!folder || !folder->exists || !IsDirectory(folder->posix)) return "";

  const bool folders_too = (attributes & 16u) != 0;
  auto wanted = [&](const std::string& name) {
    struct stat info {};
    if (stat((folder->posix + "/" + name).c_str(), &info) != 0) return false;
    return S_ISREG(info.st_mode) || (folders_too && S_ISDIR(info.st_mode));
  };

  // A plain name without "~" can only be a long name: no listing needed.
  if (element.find_first_of("*?~") == std::string::npos) {
    std::optional<std::string> stored = FindStoredName(folder->posix, element);
    return stored && wanted(*stored) ? *stored : "";
  }
  std::optional<std::vector<std::string>> names = ListFolder(folder->posix);
  if (!names) return "";
  const std::vector<std::string> aliases = ShortAliases(*names);
  for (std::size_t i = 0; i < names->size(); ++i) {
    const bool matches = WildcardMatch(element, (*names)[i]) ||
                         (!aliases[i].empty() && WildcardMatch(element, aliases[i]));
    if (matches && wanted((*names)[i])) return (*names)[i];
  }
  return "";
}

// ------------------------------------------------------------------- clock

LocalTime LocalTimeAt(std::time_t moment) {
  tzset();
  struct tm parts {};
  localtime_r(&moment, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     std::min(parts.tm_sec, 59)};
}

LocalTime PosixClock::Now() {
  return LocalTimeAt(std::time(nullptr));
}

}  // namespace quillon

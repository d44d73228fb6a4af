#include "shared/posix/portable_machine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "shared/text.h"

namespace quillon {

namespace {

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
}
char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
}
bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
  return std::string(resolved);
}

// The elements of a path (after any drive), applying "." and "..".
void AppendElements(std::string_view path, std::vector<std::string>& elements) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    std::string_view element = path.substr(start, end - start);
    if (element == "..") {
      if (!elements.empty()) elements.pop_back();
    } else if (!element.empty() && element != ".") {
      elements.emplace_back(element);
    }
    start = end + 1;
  }
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::optional<std::string> FindStoredName(const std::string& directory, std::string_view name) {
  const std::string exact = directory + "/" + std::string(name);
  struct stat info {};
  if (lstat(exact.c_str(), &info) == 0) return std::string(name);
  if (errno != ENOENT) return std::nullopt;  // not a folder, or not searchable
  bool has_letter = false;
  for (char c : name) has_letter = has_letter || IsAsciiLetter(c);
  if (!has_letter) return std::nullopt;  // no other spelling can match

  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return std::nullopt;
  std::optional<std::string> found;
  while (const dirent* entry = readdir(dir)) {
    std::string_view candidate = entry->d_name;
    if (!EqualsIgnoringAsciiCase(candidate, name)) continue;
    // Several spellings may coexist on POSIX; take the same one every time.
    if (!found || candidate < *found) found = std::string(candidate);
  }
  closedir(dir);
  return found;
}

std::optional<std::vector<std::string>> ListFolder(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string upper_a = UpperCase(a);
    const std::string upper_b = UpperCase(b);
    return upper_a != upper_b ? upper_a < upper_b : a < b;
  });
  return names;
}

std::pair<std::string, std::string> SplitLastElement(std::string_view windows_path) {
  for (std::size_t i = windows_path.size(); i > 0; --i) {
    if (IsPathSeparator(windows_path[i - 1])) {
      return {std::string(windows_path.substr(0, i)), std::string(windows_path.substr(i))};
    }
  }
  if (windows_path.size() >= 2 && windows_path[1] == ':' && IsAsciiLetter(windows_path[0])) {
    return {std::string(windows_path.substr(0, 2)), std::string(windows_path.substr(2))};
  }
  return {"", std::string(windows_path)};
}

PortableMachine::PortableMachine(std::string root, std::string_view program_name)
    : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  std::string_view name = program_name;
  for (std::size_t i = name.size(); i > 0; --i) {
    if (name[i - 1] == '/' || name[i - 1] == '\\') {
      name = name.substr(i);
      break;
    }
  }
  if (name.size() > 4 && EqualsIgnoringAsciiCase(name.substr(name.size() - 4), ".exe")) {
    name = name.substr(0, name.size() - 4);
  }
  program_name_ = std::string(name);
}

std::string PortableMachine::DrivePath(char letter) const {
  return root_ + "/drive_" + AsciiLower(letter);
}

std::optional<MappedPath> PortableMachine::Map(std::string_view windows_path) const {
  if (windows_path.empty() || windows_path.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  // Two leading separators: a UNC path (or a device path), never a local file.
  if (windows_path.size() >= 2 && IsPathSeparator(windows_path[0]) &&
      IsPathSeparator(windows_path[1])) {
    return std::nullopt;
  }

  char drive = 0;
  std::string_view rest = windows_path;
  std::vector<std::string> elements;
  const bool has_drive =
      windows_path.size() >= 2 && windows_path[1] == ':' && IsAsciiLetter(windows_path[0]);
  if (has_drive) {
    drive = AsciiLower(windows_path[0]);
    rest = windows_path.substr(2);
    if (rest.empty() || !IsPathSeparator(rest[0])) {
      // "C:x" is relative to the current directory when that lies on C:.
      std::optional<std::string> current = CurrentFolder();
      if (current && AsciiLower((*current)[0]) == drive) {
        AppendElements(std::string_view(*current).substr(2), elements);
      }
    }
  } else {
    std::optional<std::string> current = CurrentFolder();
    if (!current) return std::nullopt;
    drive = AsciiLower((*current)[0]);
    if (!IsPathSeparator(rest[0])) AppendElements(std::string_view(*current).substr(2), elements);
  }
  AppendElements(rest, elements);

  MappedPath mapped;
  mapped.posix = DrivePath(drive);
  mapped.windows = std::string(1, AsciiUpper(drive)) + ":\\";
  bool exists = elements.empty() ? IsDirectory(mapped.posix) : true;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    std::string name = elements[i];
    if (exists) {
      std::optional<std::string> stored = FindStoredName(mapped.posix, name);
      if (stored) {
        name = *stored;
      } else {
        exists = false;  // the rest cannot exist either: keep the case given
      }
    }
    mapped.posix += "/" + name;
    mapped.windows += (i == 0 ? "" : "\\") + name;
  }
  mapped.exists = exists;
  return mapped;
}

std::optional<std::string> PortableMachine::WindowsPath(const std::string& posix_path) const {
  if (real_root_.empty()) {
    std::optional<std::string> resolved = RealPath(root_);
    if (!resolved) return std::nullopt;
    real_root_ = *resolved;
  }
  std::optional<std::string> real = RealPath(posix_path);
  if (!real) return std::nullopt;
  const std::string prefix = (real_root_ == "/" ? "" : real_root_) + "/drive_";
  if (real->compare(0, prefix.size(), prefix) != 0 || real->size() < prefix.size() + 1) {
    return std::nullopt;
  }
  const char letter = (*real)[prefix.size()];
  if (letter < 'a' || letter > 'z') return std::nullopt;
  std::string_view below = std::string_view(*real).substr(prefix.size() + 1);
  if (!below.empty() && below[0] != '/') return std::nullopt;  // e.g. drive_cx
  std::string windows = std::string(1, AsciiUpper(letter)) + ":\\";
  if (!below.empty()) below.remove_prefix(1);
  for (char c : below) windows += (c == '/') ? '\\' : c;
  return windows;
}

std::optional<std::string> PortableMachine::CurrentFolder() const {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return std::nullopt;
  return WindowsPath(buffer);
}

}  // namespace quillon

#include "shared/posix/portable_machine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/helpers/windows_names.h"

namespace quillon {

namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
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

bool IsShortNameChar(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}

bool FitsShortName(const std::string& name) {
  const std::size_t dot = name.find('.');
  if (dot != name.rfind('.')) return false;
  const std::string base = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3) return false;
  if (dot != std::string::npos && extension.empty()) return false;
  return std::all_of(base.begin(), base.end(), IsShortNameChar) &&
         std::all_of(extension.begin(), extension.end(), IsShortNameChar);
}

// A character of a long name as it appears in a short alias.
char ShortChar(char c) {
  return IsShortNameChar(c) ? AsciiUpper(c) : '_';
}

// The names in a POSIX folder (without "." and ".."), in the order the folder
// yields them. nullopt (errno set) when the folder cannot be read.
std::optional<std::vector<std::string>> ReadFolderNames(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  closedir(dir);
  return names;
}

// The key a Windows listing orders by: the upper-cased name, then the name
// itself, so that spellings which differ only in case keep one fixed order.
std::pair<std::string, std::string> ListingKey(const std::string& name) {
  return {UpperCase(name), name};
}

// Sorts names into listing order, computing each name's key once.
void SortForListing(std::vector<std::string>& names) {
  std::vector<std::pair<std::string, std::string>> keyed;
  keyed.reserve(names.size());
  for (auto& name : names) keyed.emplace_back(UpperCase(name), std::move(name));
  std::sort(keyed.begin(), keyed.end());
  for (std::size_t i = 0; i < keyed.size(); ++i) names[i] = std::move(keyed[i].second);
}

}  // namespace

bool IsDirectory(const std::string& posix_path) {
  struct stat info {};
  return stat(posix_path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> FindStoredName(const std::string& directory, std::string_view name) {
  const std::string exact = directory + "/" + std::string(name);
  struct stat info {};
  if (lstat(exact.c_str(), &info) == 0) return std::string(name);
  if (errno != ENOENT) return std::nullopt;  // not a folder, or not searchable
  const bool may_be_alias = name.find('~') != std::string_view::npos;
  // Only ASCII letters have other spellings here: the machine matches the
  // case of ASCII letters alone, as its database's NOCASE columns do.
  bool has_letter = false;
  for (char c : name) has_letter = has_letter || IsAsciiLetter(c);
  if (!has_letter && !may_be_alias) return std::nullopt;  // no other spelling can match

  std::optional<std::vector<std::string>> names = ReadFolderNames(directory);
  if (!names) return std::nullopt;
  // Several spellings may coexist on POSIX; the one that comes first in
  // listing order (the smallest key) is picked every time. Only the matches
  // need their keys, so the folder is not sorted for this.
  const std::string* first_match = nullptr;
  for (const auto& candidate : *names) {
    if (EqualsIgnoringAsciiCase(candidate, name) &&
        (first_match == nullptr || ListingKey(candidate) < ListingKey(*first_match))) {
      first_match = &candidate;
    }
  }
  if (first_match != nullptr) return *first_match;
  if (!may_be_alias) return std::nullopt;
  // A short alias stands for the entry it belongs to; aliases are handed out
  // in listing order.
  SortForListing(*names);
  const std::vector<std::string> aliases = ShortAliases(*names);
  for (std::size_t i = 0; i < names->size(); ++i) {
    if (!aliases[i].empty() && EqualsIgnoringAsciiCase(aliases[i], name)) return (*names)[i];
  }
  return std::nullopt;
}

std::vector<std::string> ShortAliases(const std::vector<std::string>& names) {
  std::set<std::string> taken;
  for (const auto& name : names) {
    if (FitsShortName(name)) taken.insert(AsciiUpperCase(name));
  }
  std::vector<std::string> aliases;
  aliases.reserve(names.size());
  for (const auto& name : names) {
    if (FitsShortName(name)) {
      aliases.emplace_back();
      continue;
    }
    std::string compact;
    for (char c : name) {
      if (c != ' ') compact += c;
    }
    compact.erase(0, compact.find_first_not_of('.'));
    const std::size_t last_dot = compact.rfind('.');
    std::string base;
    std::string extension;
    for (std::size_t i = 0; i < compact.size(); ++i) {
      if (last_dot != std::string::npos && i > last_dot) {
        if (extension.size() < 3) extension += ShortChar(compact[i]);
      } else if (compact[i] != '.') {
        base += ShortChar(compact[i]);
      }
    }
    std::string alias;
    for (int n = 1; !base.empty() && alias.empty(); ++n) {
      const std::string tail = "~" + std::to_string(n);
      std::string candidate = base.substr(0, std::min(base.size(), 8 - tail.size())) + tail;
      if (!extension.empty()) candidate += "." + extension;
      if (taken.insert(candidate).second) alias = candidate;
    }
    aliases.push_back(alias);
  }
  return aliases;
}

std::optional<std::vector<std::string>> ListFolder(const std::string& directory) {
  std::optional<std::vector<std::string>> names = ReadFolderNames(directory);
  if (names) SortForListing(*names);
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

std::string ProgramBaseName(std::string_view program_name) {
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
  return std::string(name);
}

PortableMachine::PortableMachine(std::string root, std::string_view program_name)
    : root_(std::move(root)), program_name_(ProgramBaseName(program_name)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string PortableMachine::DrivePath(char letter) const {
  return root_ + "/drive_" + AsciiLower(letter);
}

std::optional<MappedPath> PortableMachine::Map(std::string_view windows_path) const {
  // A name Windows forbids names no file.
  if (windows_path.empty() || PathHoldsForbiddenCharacter(windows_path)) return std::nullopt;
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
      if (current && PathHoldsForbiddenCharacter(*current)) return std::nullopt;
      if (current && AsciiLower((*current)[0]) == drive) {
        AppendElements(std::string_view(*current).substr(2), elements);
      }
    }
  } else {
    std::optional<std::string> current = CurrentFolder();
    if (!current || PathHoldsForbiddenCharacter(*current)) return std::nullopt;
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
  // A link on the way that leads out of the machine makes the path one that
  // names nothing here.
  if (!Contains(mapped.posix)) return std::nullopt;
  return mapped;
}

const std::string& PortableMachine::RealRoot() const {
  if (real_root_.empty()) real_root_ = RealPath(root_).value_or("");
  return real_root_;
}

bool PortableMachine::Contains(const std::string& posix_path) const {
  const std::string& root = RealRoot();
  if (root.empty()) return false;
  std::string existing = posix_path;
  struct stat info {};
  while (lstat(existing.c_str(), &info) != 0) {
    const std::size_t slash = existing.rfind('/');
    if (slash == std::string::npos || slash == 0) return false;
    existing.erase(slash);
  }
  const std::optional<std::string> real = RealPath(existing);
  if (!real) return false;
  return *real == root || root == "/" || real->compare(0, root.size() + 1, root + "/") == 0;
}

std::optional<std::string> PortableMachine::WindowsPath(const std::string& posix_path) const {
  const std::string& real_root = RealRoot();
  if (real_root.empty()) return std::nullopt;
  std::optional<std::string> real = RealPath(posix_path);
  if (!real) return std::nullopt;
  const std::string prefix = (real_root == "/" ? "" : real_root) + "/drive_";
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

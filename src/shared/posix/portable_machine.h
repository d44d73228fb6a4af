// A Windows machine kept in one POSIX directory: drive X:\ is the folder
// drive_x/ below the root, the registry is registry.reg, the database server's
// catalogs live in databases/. This class maps Windows paths onto that tree
// and back. It touches the disk only when asked to map a path.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon {

// A Windows path mapped onto the machine.
struct MappedPath {
  std::string posix;    // where it lives on the POSIX side
  std::string windows;  // full Windows form: drive letter upper case, elements as stored
  bool exists = false;  // every element was found
};

class PortableMachine {
 public:
  // The environment variable that names the machine's root directory.
  static constexpr char kRootVariable[] = "QUILLON_MACHINE";

  // root: absolute POSIX path of the machine's root directory. program_name:
  // the running program's name; a directory part and a ".exe" are dropped.
  PortableMachine(std::string root, std::string_view program_name);

  const std::string& root() const { return root_; }
  // The program's base name without ".exe", e.g. "Zentrel".
  const std::string& program_name() const { return program_name_; }

  std::string RegistryFilePath() const { return root_ + "/registry.reg"; }
  std::string DatabasesPath() const { return root_ + "/databases"; }
  // The folder of drive X:\ ("drive_" + lower-case letter); letter is A..Z or a..z.
  std::string DrivePath(char letter) const;

  // Maps a Windows path: absolute ("C:\x"), relative to the current
  // directory ("x\y"), drive-relative ("C:x") or rooted on the current drive
  // ("\x"). "\" and "/" both separate elements; empty and "." elements are
  // skipped, ".." goes up one element but never above the drive. Each
  // element is matched against the existing entries without regard to ASCII
  // letter case (an exact match wins); an element that does not exist keeps
  // the case given. Returns nullopt for a UNC path, an empty path, a path
  // with an element holding a character Windows forbids in names, a relative
  // path while the current directory lies on no drive, and a path that leads
  // out of the machine through a link (see Contains).
  std::optional<MappedPath> Map(std::string_view windows_path) const;

  // True when the POSIX path stays inside the machine: the real path (links
  // resolved) of its longest existing part lies at or below the root's real
  // path. A dangling link or a loop of links on the way does not count as
  // inside, since creating through it could land anywhere.
  bool Contains(const std::string& posix_path) const;

  // The Windows form of an existing POSIX path on one of the drives
  // ("C:\Program Files", "D:\" for a drive's root), or nullopt when it lies
  // outside the drives.
  std::optional<std::string> WindowsPath(const std::string& posix_path) const;
  // The Windows form of the process's current directory, or nullopt.
  std::optional<std::string> CurrentFolder() const;

 private:
  // The root's real path, resolved once when first needed; "" when the root
  // cannot be resolved.
  const std::string& RealRoot() const;

  std::string root_;
  std::string program_name_;
  mutable std::string real_root_;
};

// A program's name without a directory part and without ".exe":
// "C:\Tools\Setup.EXE" -> "Setup".
std::string ProgramBaseName(std::string_view program_name);

// True for a Windows path separator ("\" or "/").
inline bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}

// True when the POSIX path names a directory (symbolic links followed).
bool IsDirectory(const std::string& posix_path);

// The stored name of the entry of a POSIX directory that matches name without
// regard to ASCII letter case (the exact name if it exists), or nullopt.
// Accented letters match only in the case given: the portable machine folds
// ASCII letters alone, where Windows folds the code page's letters too.
std::optional<std::string> FindStoredName(const std::string& directory, std::string_view name);

// The names in a POSIX folder (without "." and ".."), in the order a Windows
// listing gives them: by upper-cased name. nullopt (errno set) when the
// folder cannot be read.
std::optional<std::vector<std::string>> ListFolder(const std::string& directory);

// The short (8.3) aliases of a folder's entries, given in listing order:
// "" for a name that already fits 8.3, otherwise the first six valid
// characters upper-cased, "~N" with the lowest N not yet taken in the folder,
// and the first three characters of the extension: "Program Files" ->
// "PROGRA~1", "Program Files (x86)" -> "PROGRA~2", "index.html" -> "INDEX~1.HTM".
std::vector<std::string> ShortAliases(const std::vector<std::string>& names);

// Splits a Windows path at its last separator: {"C:\x\", "y"}; {"", "y"} for a
// bare name.
std::pair<std::string, std::string> SplitLastElement(std::string_view windows_path);

}  // namespace quillon

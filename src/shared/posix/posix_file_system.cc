#include "shared/posix/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/helpers/windows_names.h"
#include "shared/host_error.h"
#include "shared/posix/descriptor.h"

namespace quillon {

namespace {

// ------------------------------------------------------------------ errors

// What a missing item means to the operation that met it.
enum class Missing { kFile, kPath };

// The one place where a system error becomes a file-system error.
HostError ErrnoError(int error, Missing missing) {
  switch (error) {
    case ENOENT:
      return StandardError(missing == Missing::kFile ? error_number::kFileNotFound
                                                     : error_number::kPathNotFound);
    case ENOTDIR:
    case ELOOP:
      return StandardError(error_number::kPathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY:
    case ETXTBSY:
    case EISDIR:
      return StandardError(error_number::kPermissionDenied);
    case EEXIST:
    case ENOTEMPTY:
      return StandardError(error_number::kFileAlreadyExists);
    case ENAMETOOLONG:
    case EINVAL:
      return StandardError(error_number::kBadFileName);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return StandardError(error_number::kDiskFull);
    default:
      return HostError(error_number::kUnspecified, std::strerror(error));
  }
}

// ------------------------------------------------------------------- paths

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && IsPathSeparator(path.back());
}

bool StatOf(const std::string& posix, struct stat& info) {
  return stat(posix.c_str(), &info) == 0;
}

bool IsReadOnly(const struct stat& info) {
  return (info.st_mode & S_IWUSR) == 0;
}

std::string PosixParent(const std::string& posix) {
  return posix.substr(0, posix.rfind('/'));
}

std::string PosixName(const std::string& posix) {
  return posix.substr(posix.rfind('/') + 1);
}

// The entry `name` of a folder: an existing one of any letter case, or a new
// one spelled as given.
std::string ChildPath(const std::string& folder, const std::string& name) {
  return folder + "/" + FindStoredName(folder, name).value_or(name);
}

// The same entry as a destination: a link there that leads out of the
// machine names nothing that may be written.
std::string DestinationChild(const PortableMachine& machine, const std::string& folder,
                             const std::string& name) {
  std::string child = ChildPath(folder, name);
  if (!machine.Contains(child)) throw StandardError(error_number::kPathNotFound);
  return child;
}

std::string JoinWindows(const std::string& folder, const std::string& name) {
  return EndsWithSeparator(folder) ? folder + name : folder + "\\" + name;
}

std::vector<std::string> FolderNames(const std::string& posix) {
  std::optional<std::vector<std::string>> names = ListFolder(posix);
  if (!names) throw ErrnoError(errno, Missing::kPath);
  return *names;
}

// --------------------------------------------------------------- file data

// Copies one file's bytes, permission bits and modification time onto target.
// conflict_with_folder: the error when target is a folder.
void CopyOneFile(const std::string& source, const struct stat& source_info,
                 const std::string& target, bool overwrite, long conflict_with_folder) {
  struct stat target_info {};
  if (StatOf(target, target_info)) {
    if (S_ISDIR(target_info.st_mode)) throw StandardError(conflict_with_folder);
    if (!overwrite) throw StandardError(error_number::kFileAlreadyExists);
    // A FIFO or a device is not overwritten (nor waited for).
    if (!S_ISREG(target_info.st_mode)) throw StandardError(error_number::kPermissionDenied);
    // Copying a file onto itself would empty it before reading it.
    if (target_info.st_dev == source_info.st_dev && target_info.st_ino == source_info.st_ino) {
      throw StandardError(error_number::kPermissionDenied);
    }
    if (IsReadOnly(target_info)) throw StandardError(error_number::kPermissionDenied);
  }
  Descriptor in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw ErrnoError(errno, Missing::kFile);
  const mode_t mode = source_info.st_mode & 07777;
  Descriptor out(open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode | S_IWUSR));
  if (out.get() < 0) throw ErrnoError(errno, Missing::kPath);
  char buffer[65536];
  while (true) {
    const ssize_t got = read(in.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ErrnoError(errno, Missing::kFile);
    }
    if (got == 0) break;
    if (!WriteAll(out.get(), std::string_view(buffer, static_cast<std::size_t>(got)))) {
      throw ErrnoError(errno, Missing::kFile);
    }
  }
  const struct timespec times[2] = {source_info.st_atim, source_info.st_mtim};
  if (fchmod(out.get(), mode) != 0 || futimens(out.get(), times) != 0) {
    throw ErrnoError(errno, Missing::kFile);
  }
}

// Copies a folder's content into target (created when missing), merging with
// what is there.
void CopyTree(const PortableMachine& machine, const std::string& source,
              const struct stat& source_info, const std::string& target, bool overwrite) {
  struct stat target_info {};
  const bool created = !StatOf(target, target_info);
  if (created) {
    if (mkdir(target.c_str(), 0700) != 0) throw ErrnoError(errno, Missing::kPath);
  } else if (!S_ISDIR(target_info.st_mode)) {
    throw StandardError(error_number::kFileAlreadyExists);
  }
  for (const auto& name : FolderNames(source)) {
    const std::string child = source + "/" + name;
    struct stat child_info {};
    // A dangling link has nothing to copy; a link out of the machine is not
    // followed.
    if (!StatOf(child, child_info) || !machine.Contains(child)) continue;
    if (S_ISDIR(child_info.st_mode)) {
      CopyTree(machine, child, child_info, DestinationChild(machine, target, name), overwrite);
    } else if (S_ISREG(child_info.st_mode)) {
      CopyOneFile(child, child_info, DestinationChild(machine, target, name), overwrite,
                  error_number::kFileAlreadyExists);
    }
  }
  // The folder's own bits last, so that a read-only source still fills it.
  if (created && chmod(target.c_str(), source_info.st_mode & 07777) != 0) {
    throw ErrnoError(errno, Missing::kPath);
  }
}

// True when target (which need not exist) is the folder source or lies in it.
bool IsInside(const std::string& target, const std::string& source) {
  char real_source[PATH_MAX];
  char real_parent[PATH_MAX];
  if (realpath(source.c_str(), real_source) == nullptr) return false;
  if (realpath(PosixParent(target).c_str(), real_parent) == nullptr) return false;
  const std::string resolved = std::string(real_parent) + "/" + PosixName(target);
  const std::string folder = real_source;
  return resolved == folder || resolved.compare(0, folder.size() + 1, folder + "/") == 0;
}

// Finds a read-only file anywhere below a folder.
bool HoldsReadOnlyFile(const std::string& folder) {
  for (const auto& name : FolderNames(folder)) {
    const std::string child = folder + "/" + name;
    struct stat info {};
    if (lstat(child.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode) ? HoldsReadOnlyFile(child)
                              : (S_ISREG(info.st_mode) && IsReadOnly(info))) {
      return true;
    }
  }
  return false;
}

// Empties the folder open as `folder` (a descriptor that this call owns)
// entry by entry. Every folder below is opened relative to its parent and
// never through a link, so that a folder swapped for a link meanwhile leads
// nowhere else: links are removed, never followed.
void EmptyFolder(int folder, bool force) {
  DIR* listing = fdopendir(folder);
  if (listing == nullptr) {
    const int error = errno;
    close(folder);
    throw ErrnoError(error, Missing::kPath);
  }
  // Closes the listing and with it the descriptor.
  const std::unique_ptr<DIR, int (*)(DIR*)> closer(listing, closedir);
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (errno != 0) throw ErrnoError(errno, Missing::kPath);
  for (const auto& name : names) {
    struct stat info {};
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      // A read-only folder goes too; a failure shows when it is emptied.
      if (force) fchmodat(folder, name.c_str(), 0700, 0);
      const int child =
          openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0) throw ErrnoError(errno, Missing::kPath);
      EmptyFolder(child, force);
      if (unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0) {
        throw ErrnoError(errno, Missing::kPath);
      }
    } else if (unlinkat(folder, name.c_str(), 0) != 0) {
      throw ErrnoError(errno, Missing::kFile);
    }
  }
}

// Removes a folder with all it holds; links are removed, never followed.
void RemoveTree(const std::string& folder, bool force) {
  if (force) chmod(folder.c_str(), 0700);  // a read-only folder goes too; failure shows below
  const int opened = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (opened < 0) throw ErrnoError(errno, Missing::kPath);
  EmptyFolder(opened, force);
  if (rmdir(folder.c_str()) != 0) throw ErrnoError(errno, Missing::kPath);
}

// ----------------------------------------------------------------- streams

class PosixTextStream : public TextStream {
 public:
  PosixTextStream(int fd, IoMode mode) : fd_(fd), mode_(mode) {}

  std::string ReadLine() override {
    CheckMode(true);
    if (!Fill()) throw StandardError(error_number::kInputPastEnd);
    std::string line;
    while (true) {
      const std::size_t end = buffer_.find('\n', position_);
      if (end != std::string::npos) {
        line.append(buffer_, position_, end - position_);
        position_ = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      line.append(buffer_, position_, std::string::npos);
      position_ = buffer_.size();
      if (!Fill()) return line;  // the last line has no line end
    }
  }

  bool AtEndOfStream() override {
    CheckMode(true);
    return !Fill();
  }

  // An append goes in whole or not at all, in one write: concurrent
  // appenders share the logs without locks.
  void Write(const std::string& text) override {
    CheckMode(false);
    const bool written =
        mode_ == IoMode::kForAppending ? AppendWhole(fd_.get(), text) : WriteAll(fd_.get(), text);
    if (!written) throw ErrnoError(errno, Missing::kFile);
  }

  void Close() override { fd_.Close(); }

 private:
  void CheckMode(bool for_reading) const {
    if (fd_.get() < 0 || (mode_ == IoMode::kForReading) != for_reading) {
      throw StandardError(error_number::kBadFileMode);
    }
  }

  // Makes sure unread bytes are buffered; false at the end of the file.
  bool Fill() {
    if (position_ < buffer_.size()) return true;
    buffer_.resize(65536);
    position_ = 0;
    while (true) {
      const ssize_t got = read(fd_.get(), buffer_.data(), buffer_.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        buffer_.clear();
        throw ErrnoError(errno, Missing::kFile);
      }
      buffer_.resize(static_cast<std::size_t>(got));
      return got > 0;
    }
  }

  Descriptor fd_;
  IoMode mode_;
  std::string buffer_;
  std::size_t position_ = 0;
};

// ------------------------------------------------------------- operands

// The path mapped onto the machine for an operation that needs it to name a
// file: one with a character Windows forbids in names is a bad file name.
std::optional<MappedPath> MapName(const PortableMachine& machine, const std::string& path) {
  if (PathHoldsForbiddenCharacter(path)) throw StandardError(error_number::kBadFileName);
  return machine.Map(path);
}

// An existing file (regular file) and its status; File not found otherwise.
MappedPath ExistingFile(const PortableMachine& machine, const std::string& path,
                        struct stat& info) {
  std::optional<MappedPath> mapped = MapName(machine, path);
  if (!mapped || !StatOf(mapped->posix, info) || !S_ISREG(info.st_mode)) {
    throw StandardError(error_number::kFileNotFound);
  }
  return *mapped;
}

// An existing folder and its status; Path not found otherwise.
MappedPath ExistingFolder(const PortableMachine& machine, const std::string& path,
                          struct stat& info) {
  std::optional<MappedPath> mapped = MapName(machine, path);
  if (!mapped || !StatOf(mapped->posix, info) || !S_ISDIR(info.st_mode)) {
    throw StandardError(error_number::kPathNotFound);
  }
  return *mapped;
}

// Where a copy or move of the source (a POSIX path) lands: the destination
// itself, or, when the destination ends in a separator, the entry of the
// source's name inside that folder, which must exist.
std::string DestinationPath(const PortableMachine& machine, const std::string& destination,
                            const std::string& source_posix) {
  std::optional<MappedPath> to = MapName(machine, destination);
  if (!to) throw StandardError(error_number::kPathNotFound);
  if (!EndsWithSeparator(destination)) return to->posix;
  if (!IsDirectory(to->posix)) throw StandardError(error_number::kPathNotFound);
  return DestinationChild(machine, to->posix, PosixName(source_posix));
}

}  // namespace

// ------------------------------------------------------------- operations

bool PosixFileSystem::FileExists(const std::string& path) {
  std::optional<MappedPath> mapped = machine_.Map(path);
  struct stat info {};
  return mapped && mapped->exists && StatOf(mapped->posix, info) && S_ISREG(info.st_mode);
}

bool PosixFileSystem::FolderExists(const std::string& path) {
  std::optional<MappedPath> mapped = machine_.Map(path);
  return mapped && mapped->exists && IsDirectory(mapped->posix);
}

void PosixFileSystem::CopyFile(const std::string& source, const std::string& destination,
                               bool overwrite) {
  struct stat source_info {};
  const MappedPath from = ExistingFile(machine_, source, source_info);
  const std::string target = DestinationPath(machine_, destination, from.posix);
  if (!IsDirectory(PosixParent(target))) throw StandardError(error_number::kPathNotFound);
  CopyOneFile(from.posix, source_info, target, overwrite, error_number::kPermissionDenied);
}

void PosixFileSystem::CopyFolder(const std::string& source, const std::string& destination,
                                 bool overwrite) {
  struct stat source_info {};
  const MappedPath from = ExistingFolder(machine_, source, source_info);
  const std::string target = DestinationPath(machine_, destination, from.posix);
  if (!IsDirectory(PosixParent(target))) throw StandardError(error_number::kPathNotFound);
  // A folder copied into itself would grow for ever.
  if (IsInside(target, from.posix)) throw StandardError(error_number::kPermissionDenied);
  CopyTree(machine_, from.posix, source_info, target, overwrite);
}

void PosixFileSystem::DeleteFile(const std::string& path, bool force) {
  struct stat info {};
  const MappedPath file = ExistingFile(machine_, path, info);
  if (!force && IsReadOnly(info)) throw StandardError(error_number::kPermissionDenied);
  if (unlink(file.posix.c_str()) != 0) throw ErrnoError(errno, Missing::kFile);
}

void PosixFileSystem::DeleteFolder(const std::string& path, bool force) {
  struct stat info {};
  const MappedPath folder = ExistingFolder(machine_, path, info);
  // A drive itself is never deleted.
  if (folder.windows.size() <= 3) throw StandardError(error_number::kPermissionDenied);
  struct stat link_info {};
  if (lstat(folder.posix.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
    // A link to a folder: the link goes, what it points at stays.
    if (unlink(folder.posix.c_str()) != 0) throw ErrnoError(errno, Missing::kPath);
    return;
  }
  // Without force nothing is deleted when a read-only file is inside.
  if (!force && HoldsReadOnlyFile(folder.posix))
    throw StandardError(error_number::kPermissionDenied);
  RemoveTree(folder.posix, force);
}

void PosixFileSystem::MoveFile(const std::string& source, const std::string& destination) {
  struct stat source_info {};
  const MappedPath from = ExistingFile(machine_, source, source_info);
  const std::string target = DestinationPath(machine_, destination, from.posix);
  struct stat existing {};
  if (lstat(target.c_str(), &existing) == 0) throw StandardError(error_number::kFileAlreadyExists);
  if (!IsDirectory(PosixParent(target))) throw StandardError(error_number::kPathNotFound);
  if (rename(from.posix.c_str(), target.c_str()) == 0) return;
  if (errno != EXDEV) throw ErrnoError(errno, Missing::kFile);
  // Another file system (a drive mounted elsewhere): copy, then remove.
  CopyOneFile(from.posix, source_info, target, false, error_number::kFileAlreadyExists);
  if (unlink(from.posix.c_str()) != 0) throw ErrnoError(errno, Missing::kFile);
}

std::unique_ptr<TextStream> PosixFileSystem::OpenTextFile(const std::string& path, IoMode mode,
                                                          bool create) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case IoMode::kForReading:
      flags |= O_RDONLY;
      break;
    case IoMode::kForWriting:
      flags |= O_WRONLY | O_TRUNC;
      break;
    case IoMode::kForAppending:
      flags |= O_WRONLY | O_APPEND;
      break;
    default:
      throw StandardError(error_number::kInvalidProcedureCall);
  }
  std::optional<MappedPath> mapped = MapName(machine_, path);
  // A path that names nothing here fails as a missing file would.
  if (!mapped)
    throw StandardError(create ? error_number::kPathNotFound : error_number::kFileNotFound);
  struct stat info {};
  if (StatOf(mapped->posix, info)) {
    // A folder, a FIFO or a device is no text file; it is refused without
    // waiting for it.
    if (!S_ISREG(info.st_mode)) throw StandardError(error_number::kPermissionDenied);
    if (mode != IoMode::kForReading && IsReadOnly(info)) {
      throw StandardError(error_number::kPermissionDenied);
    }
  } else {
    if (!create) throw StandardError(error_number::kFileNotFound);
    if (!IsDirectory(PosixParent(mapped->posix))) throw StandardError(error_number::kPathNotFound);
    flags |= O_CREAT;
  }
  const int fd = OpenRegularFile(mapped->posix, flags, 0666);
  if (fd < 0) throw ErrnoError(errno, Missing::kFile);
  return std::make_unique<PosixTextStream>(fd, mode);
}

Folder PosixFileSystem::GetFolder(const std::string& path) {
  std::optional<MappedPath> mapped = MapName(machine_, path);
  if (!mapped || !IsDirectory(mapped->posix)) throw StandardError(error_number::kPathNotFound);
  Folder folder;
  folder.path = mapped->windows;
  for (const auto& name : FolderNames(mapped->posix)) {
    // One look at the entry itself; only a link is followed to what it names
    // (a dangling link, or one leading out of the machine, is left out).
    const std::string child = mapped->posix + "/" + name;
    struct stat info {};
    if (lstat(child.c_str(), &info) != 0) continue;
    const bool link = S_ISLNK(info.st_mode);
    if (link && (!StatOf(child, info) || !machine_.Contains(child))) continue;
    FolderEntry entry{name, JoinWindows(mapped->windows, name), link};
    if (S_ISDIR(info.st_mode)) {
      folder.sub_folders.push_back(entry);
    } else if (S_ISREG(info.st_mode)) {
      folder.files.push_back(entry);
    }
  }
  return folder;
}

}  // namespace quillon

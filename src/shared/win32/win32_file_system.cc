#include "shared/win32/win32_file_system.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/helpers/windows_names.h"
#include "shared/win32/file_append.h"
#include "shared/win32/win32_error.h"

namespace quillon {
namespace {

HostError FileError(DWORD code) {
  return HostErrorFor(code, ErrorSource::kFileSystem);
}
HostError LastFileError() {
  return LastHostError(ErrorSource::kFileSystem);
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && IsSeparator(path.back());
}

// A path without trailing separators, except the one of a drive's root.
std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && IsSeparator(path.back()) && !(path.size() == 3 && path[1] == ':')) {
    path.pop_back();
  }
  return path;
}

// The last element of a path: C:\Tools\app.exe -> app.exe.
std::string BaseName(const std::string& path) {
  const std::string trimmed = WithoutTrailingSeparators(path);
  const std::size_t cut = trimmed.find_last_of("\\/:");
  return cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
  return EndsWithSeparator(folder) ? folder + name : folder + "\\" + name;
}

std::string FullPath(const std::string& path) {
  std::vector<char> buffer(MAX_PATH + 1, '\0');
  while (true) {
    const DWORD length =
        GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) throw LastFileError();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.assign(length + 1, '\0');
  }
}

// Windows refuses names holding a forbidden character with "bad file name";
// some file systems (and Wine over a POSIX one) would take some of them, so
// the check is made here, before the name reaches the system.
void RequireValidName(const std::string& path) {
  if (PathHoldsForbiddenCharacter(path)) throw FileError(ERROR_INVALID_NAME);
}

DWORD AttributesOf(const std::string& path) {
  if (path.empty() || PathHoldsForbiddenCharacter(path)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesA(path.c_str());
}

bool IsFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// One entry of a folder listing.
struct Entry {
  std::string name;
  DWORD attributes;
};

// The entries of a folder, "." and ".." left out. Throws when the folder
// cannot be listed.
std::vector<Entry> ListFolder(const std::string& folder) {
  std::vector<Entry> entries;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(Join(folder, "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES) return entries;  // empty
    throw FileError(code);
  }
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    entries.push_back({name, found.dwFileAttributes});
  } while (FindNextFileA(search, &found));
  const DWORD code = GetLastError();
  FindClose(search);
  if (code != ERROR_NO_MORE_FILES) throw FileError(code);
  return entries;
}

void ClearReadOnly(const std::string& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
  if (!SetFileAttributesA(path.c_str(),
                          attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    throw LastFileError();
  }
}

bool IsReadOnly(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Windows refuses to replace, open for writing or delete a read-only file
// with "access denied". The attribute is checked here as well, since a
// process with every privilege (Wine run by root) would otherwise pass.
void RequireWritable(const std::string& path) {
  if (IsReadOnly(AttributesOf(path))) throw FileError(ERROR_ACCESS_DENIED);
}

// True when a file below the folder is read-only, so that deleting the folder
// without force would stop half-way.
bool HoldsReadOnlyFile(const std::string& folder, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
  for (const Entry& entry : ListFolder(folder)) {
    if (IsFolder(entry.attributes) ? HoldsReadOnlyFile(Join(folder, entry.name), entry.attributes)
                                   : IsReadOnly(entry.attributes)) {
      return true;
    }
  }
  return false;
}

void DeleteOneFile(const std::string& path, DWORD attributes, bool force) {
  if (force) {
    ClearReadOnly(path, attributes);
  } else if (IsReadOnly(attributes)) {
    throw FileError(ERROR_ACCESS_DENIED);
  }
  if (!DeleteFileA(path.c_str())) throw LastFileError();
}

// Deletes a folder with all it holds. A link to a folder elsewhere (a
// junction or a symbolic link) is removed as a link; what it points to stays.
void DeleteTree(const std::string& folder, DWORD attributes, bool force) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    for (const Entry& entry : ListFolder(folder)) {
      const std::string path = Join(folder, entry.name);
      if (IsFolder(entry.attributes)) {
        DeleteTree(path, entry.attributes, force);
      } else {
        DeleteOneFile(path, entry.attributes, force);
      }
    }
  }
  if (force) ClearReadOnly(folder, attributes);
  if (!RemoveDirectoryA(folder.c_str())) throw LastFileError();
}

void CopyOneFile(const std::string& source, const std::string& target, bool overwrite) {
  if (overwrite) RequireWritable(target);
  if (!CopyFileA(source.c_str(), target.c_str(), overwrite ? FALSE : TRUE)) throw LastFileError();
}

void CopyTree(const std::string& source, const std::string& target, bool overwrite) {
  const DWORD target_attributes = AttributesOf(target);
  if (target_attributes == INVALID_FILE_ATTRIBUTES) {
    if (!CreateDirectoryA(target.c_str(), nullptr)) throw LastFileError();
  } else if (!IsFolder(target_attributes)) {
    throw FileError(ERROR_FILE_EXISTS);
  }
  // The listing is taken before anything is copied into the target.
  for (const Entry& entry : ListFolder(source)) {
    const std::string from = Join(source, entry.name);
    const std::string to = Join(target, entry.name);
    if (IsFolder(entry.attributes)) {
      CopyTree(from, to, overwrite);
    } else {
      CopyOneFile(from, to, overwrite);
    }
  }
}

// A full path with each element spelled as the disk stores it:
// c:\PROGRAM FILES -> C:\Program Files. An element that cannot be looked up
// stays as given.
std::string StoredPath(const std::string& full_path) {
  // Only a drive's paths; a network path is kept as given.
  if (full_path.size() < 3 || full_path[1] != ':' || full_path[2] != '\\') return full_path;
  std::size_t start = 2;
  std::string stored = UpperCase(full_path.substr(0, 2));
  while (start < full_path.size()) {
    const std::size_t end = std::min(full_path.find('\\', start + 1), full_path.size());
    const std::string element = full_path.substr(start + 1, end - start - 1);
    std::string name = element;
    WIN32_FIND_DATAA found{};
    HANDLE search = element.empty() || element.find_first_of("*?") != std::string::npos
                        ? INVALID_HANDLE_VALUE
                        : FindFirstFileA((stored + "\\" + element).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      name = found.cFileName;
      FindClose(search);
    }
    stored += "\\" + name;
    start = end;
  }
  return stored;
}

bool IsInside(const std::string& path, const std::string& folder) {
  const std::string upper_path = UpperCase(path);
  const std::string upper_folder = UpperCase(WithoutTrailingSeparators(folder));
  return upper_path == upper_folder || upper_path.rfind(Join(upper_folder, ""), 0) == 0;
}

class Win32TextStream : public TextStream {
 public:
  Win32TextStream(HANDLE file, IoMode mode) : file_(file), mode_(mode) {}
  Win32TextStream(const Win32TextStream&) = delete;
  Win32TextStream& operator=(const Win32TextStream&) = delete;
  ~Win32TextStream() override { Close(); }

  std::string ReadLine() override {
    RequireReading();
    if (AtEnd()) throw StandardError(error_number::kInputPastEnd);
    std::string line;
    while (!AtEnd()) {
      const char c = buffer_[position_++];
      if (c == '\n') break;
      line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  bool AtEndOfStream() override {
    RequireReading();
    return AtEnd();
  }

  void Write(const std::string& text) override {
    if (file_ == INVALID_HANDLE_VALUE || mode_ == IoMode::kForReading) {
      throw StandardError(error_number::kBadFileMode);
    }
    if (mode_ == IoMode::kForAppending) {
      // Other processes may append to the same file at the same time.
      AppendWhole(file_, text);
      return;
    }
    WriteWhole(file_, text);
  }

  void Close() override {
    if (file_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }

 private:
  void RequireReading() {
    if (file_ == INVALID_HANDLE_VALUE || mode_ != IoMode::kForReading) {
      throw StandardError(error_number::kBadFileMode);
    }
  }

  // True when the file has no more bytes; refills the buffer as it goes.
  bool AtEnd() {
    if (position_ < buffer_.size()) return false;
    if (end_of_file_) return true;
    buffer_.assign(64 * 1024, '\0');
    position_ = 0;
    DWORD read = 0;
    if (!ReadFile(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &read, nullptr)) {
      buffer_.clear();
      throw LastFileError();
    }
    buffer_.resize(read);
    if (read == 0) end_of_file_ = true;
    return read == 0;
  }

  HANDLE file_;
  IoMode mode_;
  std::string buffer_;
  std::size_t position_ = 0;
  bool end_of_file_ = false;
};

}  // namespace

bool Win32FileSystem::FileExists(const std::string& path) {
  return IsFile(AttributesOf(path));
}

bool Win32FileSystem::FolderExists(const std::string& path) {
  return IsFolder(AttributesOf(path));
}

void Win32FileSystem::CopyFile(const std::string& source, const std::string& destination,
                               bool overwrite) {
  RequireValidName(source);
  RequireValidName(destination);
  if (!IsFile(AttributesOf(source))) throw FileError(ERROR_FILE_NOT_FOUND);
  if (EndsWithSeparator(destination) && !IsFolder(AttributesOf(destination))) {
    throw FileError(ERROR_PATH_NOT_FOUND);
  }
  const std::string target =
      EndsWithSeparator(destination) ? destination + BaseName(source) : destination;
  CopyOneFile(source, target, overwrite);
}

void Win32FileSystem::CopyFolder(const std::string& source, const std::string& destination,
                                 bool overwrite) {
  RequireValidName(source);
  RequireValidName(destination);
  const std::string from = WithoutTrailingSeparators(source);
  if (!IsFolder(AttributesOf(from))) throw FileError(ERROR_PATH_NOT_FOUND);
  if (EndsWithSeparator(destination) && !IsFolder(AttributesOf(destination))) {
    throw FileError(ERROR_PATH_NOT_FOUND);
  }
  const std::string target = EndsWithSeparator(destination)
                                 ? destination + BaseName(from)
                                 : WithoutTrailingSeparators(destination);
  // A folder copied into itself would copy its own copy without end.
  if (IsInside(FullPath(target), FullPath(from))) throw FileError(ERROR_ACCESS_DENIED);
  CopyTree(from, target, overwrite);
}

void Win32FileSystem::DeleteFile(const std::string& path, bool force) {
  RequireValidName(path);
  const DWORD attributes = AttributesOf(path);
  if (!IsFile(attributes)) throw FileError(ERROR_FILE_NOT_FOUND);
  DeleteOneFile(path, attributes, force);
}

void Win32FileSystem::DeleteFolder(const std::string& path, bool force) {
  RequireValidName(path);
  const std::string folder = WithoutTrailingSeparators(path);
  const DWORD attributes = AttributesOf(folder);
  if (!IsFolder(attributes)) throw FileError(ERROR_PATH_NOT_FOUND);
  // Nothing is deleted when not everything can be.
  if (!force && HoldsReadOnlyFile(folder, attributes)) throw FileError(ERROR_ACCESS_DENIED);
  DeleteTree(folder, attributes, force);
}

void Win32FileSystem::MoveFile(const std::string& source, const std::string& destination) {
  RequireValidName(source);
  RequireValidName(destination);
  if (!IsFile(AttributesOf(source))) throw FileError(ERROR_FILE_NOT_FOUND);
  const std::string target =
      EndsWithSeparator(destination) ? destination + BaseName(source) : destination;
  if (AttributesOf(target) != INVALID_FILE_ATTRIBUTES) throw FileError(ERROR_FILE_EXISTS);
  if (!MoveFileA(source.c_str(), target.c_str())) throw LastFileError();
}

std::unique_ptr<TextStream> Win32FileSystem::OpenTextFile(const std::string& path, IoMode mode,
                                                          bool create) {
  RequireValidName(path);
  if (IsFolder(AttributesOf(path))) throw FileError(ERROR_ACCESS_DENIED);
  if (mode != IoMode::kForReading) RequireWritable(path);
  HANDLE file = INVALID_HANDLE_VALUE;
  switch (mode) {
    case IoMode::kForReading:
      file = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case IoMode::kForWriting:
      file = CreateFileA(
          path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
          nullptr, create ? CREATE_ALWAYS : TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case IoMode::kForAppending:
      file = OpenForAppending(path, create);
      break;
    default:
      throw StandardError(error_number::kInvalidProcedureCall);
  }
  if (file == INVALID_HANDLE_VALUE) {
    // Opening an existing file fails with "file not found" whichever part of
    // its path is missing; only creating one tells a missing folder apart.
    const DWORD code = GetLastError();
    throw FileError(!create && code == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : code);
  }
  return std::make_unique<Win32TextStream>(file, mode);
}

Folder Win32FileSystem::GetFolder(const std::string& path) {
  RequireValidName(path);
  if (!IsFolder(AttributesOf(path))) throw FileError(ERROR_PATH_NOT_FOUND);
  Folder folder;
  folder.path = StoredPath(WithoutTrailingSeparators(FullPath(path)));
  for (const Entry& entry : ListFolder(folder.path)) {
    FolderEntry item{entry.name, Join(folder.path, entry.name),
                     (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0};
    if (IsFolder(entry.attributes)) {
      folder.sub_folders.push_back(std::move(item));
    } else {
      folder.files.push_back(std::move(item));
    }
  }
  return folder;
}

}  // namespace quillon

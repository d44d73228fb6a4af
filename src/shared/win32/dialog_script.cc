#include "shared/win32/dialog_script.h"

#include <vector>

#include "shared/win32/file_append.h"
#include "shared/win32/win32_error.h"

namespace quillon {
namespace {

// Closes a file handle on every way out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (valid()) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Holds an exclusive lock on a whole file while it lives.
class FileLock {
 public:
  explicit FileLock(HANDLE file) : file_(file) {
    if (!LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &overlapped_)) {
      throw LastHostError(ErrorSource::kFileSystem);
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &overlapped_); }

 private:
  HANDLE file_;
  OVERLAPPED overlapped_{};
};

// The whole queue, up to kMaxAnswerQueueBytes: a larger file is no queue of
// answers and is not read on.
std::string ReadAll(HANDLE file) {
  std::string content;
  std::vector<char> chunk(4096);
  while (true) {
    DWORD read = 0;
    if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
      throw LastHostError(ErrorSource::kFileSystem);
    }
    if (read == 0) return content;
    content.append(chunk.data(), read);
    if (content.size() > kMaxAnswerQueueBytes) {
      throw HostError(error_number::kUnspecified,
                      "larger than " + std::to_string(kMaxAnswerQueueBytes) + " bytes");
    }
  }
}

}  // namespace

std::optional<std::string> TakeQueuedAnswer(const std::string& queue_path) {
  FileHandle file(CreateFileA(queue_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throw HostErrorFor(code, ErrorSource::kFileSystem);
  }
  FileLock lock(file.get());
  const std::string content = ReadAll(file.get());
  if (content.empty()) return std::nullopt;

  const std::size_t end = content.find('\n');
  std::string answer = content.substr(0, end);
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  const std::string rest = end == std::string::npos ? std::string() : content.substr(end + 1);

  if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    throw LastHostError(ErrorSource::kFileSystem);
  }
  WriteWhole(file.get(), rest);
  if (!SetEndOfFile(file.get())) throw LastHostError(ErrorSource::kFileSystem);
  return answer;
}

bool AppendDialogLog(const std::string& log_path, const std::string& line) {
  FileHandle file(OpenForAppending(log_path, true));
  if (!file.valid()) return false;
  try {
    AppendWhole(file.get(), line + "\n");
  } catch (const HostError&) {
    return false;
  }
  return true;
}

}  // namespace quillon

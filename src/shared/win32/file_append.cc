#include "shared/win32/file_append.h"

#include "shared/win32/win32_error.h"

namespace quillon {
namespace {

// The byte whose lock stands for "appending": the last one below 2^63.
constexpr DWORD kAppendLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kAppendLockOffsetHigh = 0x7FFFFFFFu;

// Holds the append lock of a file while it lives.
class AppendLock {
 public:
  explicit AppendLock(HANDLE file) : file_(file) {
    overlapped_.Offset = kAppendLockOffsetLow;
    overlapped_.OffsetHigh = kAppendLockOffsetHigh;
    if (!LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped_)) {
      throw LastHostError(ErrorSource::kFileSystem);
    }
  }
  AppendLock(const AppendLock&) = delete;
  AppendLock& operator=(const AppendLock&) = delete;
  ~AppendLock() { UnlockFileEx(file_, 0, 1, 0, &overlapped_); }

 private:
  HANDLE file_;
  OVERLAPPED overlapped_{};
};

}  // namespace

HANDLE OpenForAppending(const std::string& path, bool create) {
  return CreateFileA(path.c_str(), GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void WriteWhole(HANDLE file, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                   nullptr)) {
      throw LastHostError(ErrorSource::kFileSystem);
    }
    done += written;
  }
}

void AppendWhole(HANDLE file, const std::string& text) {
  AppendLock lock(file);
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_END)) {
    throw LastHostError(ErrorSource::kFileSystem);
  }
  WriteWhole(file, text);
}

}  // namespace quillon

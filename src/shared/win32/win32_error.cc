#include "shared/win32/win32_error.h"

namespace quillon::win32 {
namespace {

// The runtime's numbers that the facade's callers meet, with the texts the
// scripting runtime shows for them.
struct RuntimeError {
  long number;
  const char* text;
};

constexpr RuntimeError kFileNotFound{error_number::kFileNotFound, "File not found"};
constexpr RuntimeError kPathNotFound{error_number::kPathNotFound, "Path not found"};
constexpr RuntimeError kPermissionDenied{error_number::kPermissionDenied, "Permission denied"};
constexpr RuntimeError kFileExists{error_number::kFileAlreadyExists, "File already exists"};
constexpr RuntimeError kBadFileName{error_number::kBadFileName, "Bad file name or number"};
constexpr RuntimeError kDiskFull{61, "Disk full"};

// The runtime error of a file operation, or nullptr where the runtime has no
// number of its own for the code.
const RuntimeError* FileSystemErrorOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return &kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return &kPathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_DIR_NOT_EMPTY:
    case ERROR_CURRENT_DIRECTORY:
      return &kPermissionDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return &kFileExists;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return &kBadFileName;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return &kDiskFull;
    default:
      return nullptr;
  }
}

// HRESULT_FROM_WIN32 as the signed number scripts see.
long HresultOf(DWORD code) {
  const auto hresult =
      code == 0 ? 0x80004005u : (0x80070000u | (static_cast<unsigned>(code) & 0xFFFFu));
  return static_cast<long>(static_cast<int>(hresult));
}

}  // namespace

std::string SystemMessage(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length == 0 || buffer == nullptr ? std::string() : std::string(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "Windows error " + std::to_string(code);
  return text;
}

HostError HostErrorFor(DWORD code, ErrorSource source, const std::string& description) {
  if (source == ErrorSource::kFileSystem) {
    if (const RuntimeError* known = FileSystemErrorOf(code)) {
      return HostError(known->number, description.empty() ? known->text : description);
    }
  }
  return HostError(HresultOf(code), description.empty() ? SystemMessage(code) : description);
}

HostError LastHostError(ErrorSource source, const std::string& description) {
  return HostErrorFor(GetLastError(), source, description);
}

}  // namespace quillon::win32

#include "shared/win32/win32_error.h"

namespace quillon {
namespace {

// The runtime's number for the code of a failing file operation, or 0 where
// the runtime has no number of its own for it.
long FileSystemErrorOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return error_number::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return error_number::kPathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_DIR_NOT_EMPTY:
    case ERROR_CURRENT_DIRECTORY:
      return error_number::kPermissionDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return error_number::kFileAlreadyExists;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return error_number::kBadFileName;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return error_number::kDiskFull;
    default:
      return 0;
  }
}

// HRESULT_FROM_WIN32 as the signed number scripts see.
long HresultOf(DWORD code) {
  const auto hresult =
      code == 0 ? 0x80004005u : (0x80070000u | (static_cast<unsigned>(code) & 0xFFFFu));
  return static_cast<long>(static_cast<int>(hresult));
}

// The platform's own text for an error code, without the trailing line end.
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

}  // namespace

HostError HostErrorFor(DWORD code, ErrorSource source, const std::string& description) {
  if (source == ErrorSource::kFileSystem) {
    if (const long number = FileSystemErrorOf(code); number != 0) {
      return description.empty() ? StandardError(number) : HostError(number, description);
    }
  }
  return HostError(HresultOf(code), description.empty() ? SystemMessage(code) : description);
}

HostError LastHostError(ErrorSource source, const std::string& description) {
  return HostErrorFor(GetLastError(), source, description);
}

}  // namespace quillon

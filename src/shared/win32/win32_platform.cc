#include "shared/win32/win32_platform.h"

#include <string_view>
#include <vector>

#include "shared/win32/local_time.h"
#include "shared/win32/windows_api.h"

namespace quillon {
namespace {

// All access rights, as the platform generation the checker was written for
// defines PROCESS_ALL_ACCESS (newer headers define a larger mask).
constexpr DWORD kProcessAllAccess = 0x1F0FFF;

// The attributes a directory search filters on: an entry that has one of
// them is found only when the search asks for it.
constexpr DWORD kFilteredAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

}  // namespace

void Win32Processes::Terminate(std::uint32_t process_id) {
  // Neither result is looked at: a process that cannot be opened (gone, or
  // not ours to end) is left alone.
  HANDLE process = OpenProcess(kProcessAllAccess, FALSE, process_id);
  if (process == nullptr) return;
  TerminateProcess(process, 0);
  CloseHandle(process);
}

void Win32Processes::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

std::string Win32EnvironmentReader::Read(const std::string& name, std::size_t buffer_size) {
  if (buffer_size == 0) return "";
  std::vector<char> buffer(buffer_size, '\0');
  const DWORD copied =
      GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  // 0: not set. buffer_size or more: the value did not fit and was not copied.
  if (copied == 0 || copied >= buffer_size) return "";
  return std::string(buffer.data(), copied);
}

std::string Win32DirectorySearch::FindFirstName(const std::string& pattern, unsigned attributes) {
  if (pattern.empty()) return "";
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return "";
  std::string name;
  do {
    // "." and ".." stand for the folder and its parent, never for an entry
    // the folder holds: a wildcard that meets them goes on to the entries.
    const std::string_view found_name(found.cFileName);
    if (found_name == "." || found_name == "..") continue;
    const DWORD filtered = found.dwFileAttributes & kFilteredAttributes;
    if ((filtered & ~static_cast<DWORD>(attributes)) == 0) {
      name = found.cFileName;
      break;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return name;
}

LocalTime LocalTimeOf(const SYSTEMTIME& time) {
  return LocalTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

LocalTime Win32Clock::Now() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return LocalTimeOf(now);
}

std::string ArgumentTextOf(const std::string& command_line) {
  std::size_t i = 0;
  const std::size_t n = command_line.size();
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  while (i < n && is_blank(command_line[i])) ++i;
  // The program name: up to the first blank outside double quotes.
  bool in_quotes = false;
  for (; i < n; ++i) {
    const char c = command_line[i];
    if (c == '"') {
      in_quotes = !in_quotes;
    } else if (!in_quotes && is_blank(c)) {
      break;
    }
  }
  if (i < n) ++i;  // the one blank that separates the name from the arguments
  return command_line.substr(i);
}

std::string FolderOf(const std::string& file_path) {
  const std::size_t cut = file_path.find_last_of("\\/");
  if (cut == std::string::npos) return "";
  if (cut == 2 && file_path[1] == ':') return file_path.substr(0, 3);
  return file_path.substr(0, cut);
}

}  // namespace quillon

// Stands in for a program that another program starts (the checker, the
// mailer): appends one line to the file named by QUILLON_RECORD_FILE, its own
// path, a tab and its whole command line, and ends.
#include <string>
#include <vector>

#include "shared/win32/windows_api.h"

int main() {
  char record_file[MAX_PATH + 1] = {};
  if (GetEnvironmentVariableA("QUILLON_RECORD_FILE", record_file, sizeof record_file) == 0) {
    return 2;
  }
  char own_path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, own_path, sizeof own_path);
  const std::string line = std::string(own_path) + "\t" + GetCommandLineA() + "\r\n";
  HANDLE file = CreateFileA(record_file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}

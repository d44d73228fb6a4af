// Stands in for a program that another program starts (the checker, the
// mailer, the outside installers and tools of the setup media): appends one
// line to the file named by QUILLON_RECORD_FILE, its own path, a tab and its
// whole command line, and ends. A command line that names an input file
// after " -i " (the database client's batches) has that file's content
// recorded after the line, so that a test sees every batch although each
// run rewrites the file.
#include <string>
#include <vector>

#include "shared/win32/windows_api.h"

namespace {

// The file named after " -i ", in double quotes or up to the next blank;
// empty when there is none.
std::string InputFileOf(const std::string& command_line) {
  const std::size_t option = command_line.find(" -i ");
  if (option == std::string::npos) return "";
  std::size_t start = option + 4;
  while (start < command_line.size() && command_line[start] == ' ') ++start;
  if (start < command_line.size() && command_line[start] == '"') {
    const std::size_t end = command_line.find('"', start + 1);
    return end == std::string::npos ? "" : command_line.substr(start + 1, end - start - 1);
  }
  return command_line.substr(start, command_line.find(' ', start) - start);
}

std::string ContentOf(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(no file " + path + ")\r\n";
  std::string content;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
    content.append(chunk, read);
  CloseHandle(file);
  return content;
}

}  // namespace

int main() {
  char record_file[MAX_PATH + 1] = {};
  if (GetEnvironmentVariableA("QUILLON_RECORD_FILE", record_file, sizeof record_file) == 0) {
    return 2;
  }
  char own_path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, own_path, sizeof own_path);
  const std::string command_line = GetCommandLineA();
  std::string record = std::string(own_path) + "\t" + command_line + "\r\n";
  if (const std::string input = InputFileOf(command_line); !input.empty()) {
    record += ContentOf(input);
  }
  HANDLE file = CreateFileA(record_file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}

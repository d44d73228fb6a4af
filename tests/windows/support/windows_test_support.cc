#include "support/windows_test_support.h"

#include <atomic>
#include <random>
#include <stdexcept>
#include <utility>

#include "shared/win32/registry.h"
#include "shared/win32/this_process.h"
#include "shared/win32/win32_platform.h"

namespace quillon::testing {
namespace {

std::atomic<unsigned> scratch_counter{0};

HKEY OpenForReading(const RegistryPath& parsed) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(RootKeyOf(parsed.root), parsed.key.c_str(), 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

RegistryPath ParsedPath(const std::string& path) {
  auto parsed = ParseRegistryPath(path);
  if (!parsed) throw std::runtime_error("not a registry path: " + path);
  return *parsed;
}

}  // namespace

std::string BuildFolder() {
  return FolderOf(ModulePath());
}

ScratchFolder::ScratchFolder() {
  char temp[MAX_PATH + 1] = {};
  GetTempPathA(sizeof temp, temp);
  std::string base(temp);
  if (!base.empty() && base.back() == '\\') base.pop_back();
  path_ = base + "\\quillon-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(scratch_counter++);
  DeleteTree(path_);
  MakeFolders(path_);
}

ScratchFolder::~ScratchFolder() {
  DeleteTree(path_);
}

void MakeFolders(const std::string& path) {
  for (std::size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  MakeFolders(path.substr(0, path.find_last_of('\\')));
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  if (written != bytes.size()) throw std::runtime_error("short write to " + path);
}

std::optional<std::string> ReadBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
    content.append(chunk, read);
  CloseHandle(file);
  return content;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void DeleteTree(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileA(path.c_str());
    return;
  }
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") DeleteTree(path + "\\" + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

std::optional<std::string> VariableOf(const std::string& name) {
  SetLastError(ERROR_SUCCESS);
  const DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::string value(size, '\0');
  const DWORD length = GetEnvironmentVariableA(name.c_str(), value.data(), size);
  value.resize(length);
  return value;
}

ScopedVariable::ScopedVariable(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), earlier_(VariableOf(name_)) {
  SetEnvironmentVariableA(name_.c_str(), value ? value->c_str() : nullptr);
}

ScopedVariable::~ScopedVariable() {
  SetEnvironmentVariableA(name_.c_str(), earlier_ ? earlier_->c_str() : nullptr);
}

std::optional<std::pair<DWORD, std::vector<BYTE>>> RawRegistryValue(const std::string& path) {
  const RegistryPath parsed = ParsedPath(path);
  HKEY key = OpenForReading(parsed);
  if (key == nullptr) return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  std::optional<std::pair<DWORD, std::vector<BYTE>>> value;
  if (RegQueryValueExA(key, parsed.value.c_str(), nullptr, &type, nullptr, &size) ==
      ERROR_SUCCESS) {
    std::vector<BYTE> data(size);
    if (RegQueryValueExA(key, parsed.value.c_str(), nullptr, &type, data.data(), &size) ==
        ERROR_SUCCESS) {
      data.resize(size);
      value = std::make_pair(type, std::move(data));
    }
  }
  RegCloseKey(key);
  return value;
}

bool RegistryKeyExists(const std::string& key_path) {
  const RegistryPath parsed = ParsedPath(key_path + "\\");
  HKEY key = OpenForReading(parsed);
  if (key == nullptr) return false;
  RegCloseKey(key);
  return true;
}

void DeleteRegistryTree(const std::string& key_path) {
  const RegistryPath parsed = ParsedPath(key_path + "\\");
  RegDeleteTreeA(RootKeyOf(parsed.root), parsed.key.c_str());
  RegDeleteKeyA(RootKeyOf(parsed.root), parsed.key.c_str());
}

SavedRegistryValue::SavedRegistryValue(std::string path)
    : path_(std::move(path)), earlier_(RawRegistryValue(path_)) {}

SavedRegistryValue::~SavedRegistryValue() {
  const RegistryPath parsed = ParsedPath(path_);
  HKEY key = nullptr;
  if (RegCreateKeyExA(RootKeyOf(parsed.root), parsed.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (earlier_) {
    RegSetValueExA(key, parsed.value.c_str(), 0, earlier_->first, earlier_->second.data(),
                   static_cast<DWORD>(earlier_->second.size()));
  } else {
    RegDeleteValueA(key, parsed.value.c_str());
  }
  RegCloseKey(key);
}

StartedProcess::StartedProcess(const std::string& command_line, WORD show) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  std::string line = command_line;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process_)) {
    process_ = PROCESS_INFORMATION{};
  }
}

StartedProcess::~StartedProcess() {
  if (process_.hProcess == nullptr) return;
  if (!HasEnded()) {
    TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 10000);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

bool StartedProcess::WaitForEnd(DWORD timeout_ms) const {
  return process_.hProcess != nullptr &&
         WaitForSingleObject(process_.hProcess, timeout_ms) == WAIT_OBJECT_0;
}

DWORD StartedProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

std::optional<DWORD> RunToEnd(const std::string& command_line, DWORD timeout_ms) {
  StartedProcess process(command_line);
  if (!process.started() || !process.WaitForEnd(timeout_ms)) return std::nullopt;
  return process.ExitCode();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::optional<std::string> WaitForLines(const std::string& path, std::size_t min_lines,
                                        DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (true) {
    std::optional<std::string> content = ReadBytes(path);
    if (content && Lines(*content).size() >= min_lines) return content;
    if (GetTickCount64() >= deadline) return std::nullopt;
    ::Sleep(20);
  }
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace quillon::testing

namespace quillon::testing {

std::string SqliteConnectionString(const std::string& name, bool create) {
  const std::optional<std::string> folder = VariableOf("QUILLON_TEST_SQLITE_FOLDER");
  if (!folder || folder->empty()) {
    throw std::runtime_error(
        "QUILLON_TEST_SQLITE_FOLDER is not set (scripts/test-windows sets it)");
  }
  return "Driver=SQLite3;Database=" + *folder + "/" + name + ".sqlite3;Timeout=60000;" +
         (create ? "" : "NoCreat=1;");
}

std::vector<std::string> ZentrelTableStatements() {
  return {
      "CREATE TABLE APPS (app_id INTEGER PRIMARY KEY AUTOINCREMENT, app_name TEXT)",
      "CREATE TABLE APP_EXES (exe_id INTEGER PRIMARY KEY AUTOINCREMENT, "
      "exe_path TEXT NOT NULL COLLATE NOCASE, app_id INTEGER DEFAULT 0)",
      "CREATE TABLE USERS (user_id INTEGER PRIMARY KEY AUTOINCREMENT, "
      "user_name TEXT NOT NULL COLLATE NOCASE, user_status TEXT NOT NULL DEFAULT 'DISABLED')",
      "CREATE TABLE ALLOWED_APPS (user_id INTEGER NOT NULL, app_id INTEGER NOT NULL)",
      "CREATE TABLE ACCESS_REQUESTS (request_id INTEGER PRIMARY KEY AUTOINCREMENT, "
      "user_id INTEGER NOT NULL, exe_id INTEGER NOT NULL)",
  };
}

std::string UniqueName(const std::string& prefix) {
  // Process ids come back from run to run; the random part does not.
  static const unsigned run = std::random_device{}();
  static std::atomic<unsigned> counter{0};
  return prefix + "-" + std::to_string(run) + "-" + std::to_string(counter++);
}

}  // namespace quillon::testing

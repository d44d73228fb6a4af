// Scaffolding for the Windows tests: scratch folders, whole-file reads and
// writes, environment and registry values restored after a test, processes
// started and waited for, and the folder of the built programs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/win32/windows_api.h"

namespace quillon::testing {

// The folder that holds this test program and every program built with it.
std::string BuildFolder();

// A fresh folder under the temporary folder, deleted with all it holds when
// the object goes.
class ScratchFolder {
 public:
  ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

 private:
  std::string path_;
};

// Whole files, byte for byte. WriteBytes creates missing parent folders.
void WriteBytes(const std::string& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::string& path);
void MakeFolders(const std::string& path);
void DeleteTree(const std::string& path);
bool Exists(const std::string& path);

// Sets (or, with nullopt, removes) a variable of this process for the life of
// the object; the earlier state comes back afterwards. Started programs
// inherit it.
class ScopedVariable {
 public:
  ScopedVariable(std::string name, const std::optional<std::string>& value);
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;
  ~ScopedVariable();

 private:
  std::string name_;
  std::optional<std::string> earlier_;
};

std::optional<std::string> VariableOf(const std::string& name);

// A registry value (HKLM\... or HKCU\... path) saved when the object is made
// and put back, or deleted if it did not exist, when it goes.
class SavedRegistryValue {
 public:
  explicit SavedRegistryValue(std::string path);
  SavedRegistryValue(const SavedRegistryValue&) = delete;
  SavedRegistryValue& operator=(const SavedRegistryValue&) = delete;
  ~SavedRegistryValue();

 private:
  std::string path_;
  std::optional<std::pair<DWORD, std::vector<BYTE>>> earlier_;
};

// A registry value read straight through the registry API: its type and
// bytes, nullopt when it does not exist.
std::optional<std::pair<DWORD, std::vector<BYTE>>> RawRegistryValue(const std::string& path);
bool RegistryKeyExists(const std::string& key_path);
void DeleteRegistryTree(const std::string& key_path);

// A started process. The handle is closed when the object goes; a process
// still running then is terminated, so no test leaves one behind.
class StartedProcess {
 public:
  explicit StartedProcess(const std::string& command_line, WORD show = SW_SHOWNORMAL);
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;
  ~StartedProcess();

  bool started() const { return process_.hProcess != nullptr; }
  DWORD id() const { return process_.dwProcessId; }
  HANDLE handle() const { return process_.hProcess; }
  // True once the process has ended; waits up to timeout_ms for it.
  bool WaitForEnd(DWORD timeout_ms = 120000) const;
  bool HasEnded() const { return WaitForEnd(0); }
  DWORD ExitCode() const;

 private:
  PROCESS_INFORMATION process_{};
};

// Runs a command line to its end and gives its exit code (nullopt when it
// could not be started or did not end in time).
std::optional<DWORD> RunToEnd(const std::string& command_line, DWORD timeout_ms = 120000);

// Waits until the file exists and holds at least min_lines lines (up to
// timeout_ms) and gives its content; nullopt if that did not happen in time.
std::optional<std::string> WaitForLines(const std::string& path, std::size_t min_lines,
                                        DWORD timeout_ms = 60000);

// The lines of a text, split at LF with a CR before it dropped.
std::vector<std::string> Lines(const std::string& text);

// In double quotes.
std::string Quoted(const std::string& text);

}  // namespace quillon::testing

namespace quillon::testing {

// An ODBC connection string for a SQLite database named name in the folder
// QUILLON_TEST_SQLITE_FOLDER (a path the ODBC driver understands; under Wine
// a POSIX path). With create false the driver does not create a missing file.
// Throws std::runtime_error when the variable is not set.
std::string SqliteConnectionString(const std::string& name, bool create = true);

// The statements that create the access-control tables as the install script
// lays them down: generated ids, app_id defaulting to 0 (no application),
// exe_path and user_name compared without regard to case.
std::vector<std::string> ZentrelTableStatements();

// A name no other test of this run uses.
std::string UniqueName(const std::string& prefix);

}  // namespace quillon::testing

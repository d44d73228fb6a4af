// An installed-looking machine for running the built programs as Windows
// processes: the product tree in the real ProgramFiles folder (Wine sets
// ProgramFiles for every process, so it cannot be pointed elsewhere; the tree
// is made fresh and removed again, and a test refuses to run over an existing
// one), a scratch windir, the answer queue and dialog log, and an
// access-control database reached through the HKLM connection string
// override.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shared/database.h"
#include "support/windows_test_support.h"

namespace quillon::testing {

class ProgramMachine {
 public:
  ProgramMachine();
  ~ProgramMachine();
  ProgramMachine(const ProgramMachine&) = delete;
  ProgramMachine& operator=(const ProgramMachine&) = delete;

  std::string program_files() const { return program_files_; }
  std::string product() const { return program_files() + "\\Harlwick\\Zentrel"; }
  std::string windir() const { return scratch_ / "WINDOWS"; }
  std::string scratch(const std::string& relative) const { return scratch_ / relative; }

  // Puts a built program (by file name) into the tree under another name.
  void Install(const std::string& built_file, const std::string& path) const;

  // The queue the boxes answer from; ScriptAnswers("Yes\nOK\n"). Without a
  // call the queue is empty and every box takes its default answer.
  void ScriptAnswers(const std::string& lines) const;
  // No queue at all: boxes are real windows, to be answered by a "person".
  void UseRealWindows();
  std::vector<std::string> DialogLog() const;

  // Creates the tables in a fresh database and points the HKLM override at
  // it; Sql runs one statement there, Value reads the first row's column.
  void UseFreshDatabase();
  void PointDatabaseAt(const std::string& odbc_connection_string);
  void Sql(const std::string& statement);
  std::optional<std::string> Value(const std::string& select, const std::string& column);
  long long Count(const std::string& table_and_condition);

  // Runs a command line to its end; its exit code (nullopt: did not end).
  std::optional<DWORD> Run(const std::string& command_line) const;

 private:
  ScratchFolder scratch_;
  std::string program_files_;
  ScopedVariable windir_variable_;
  std::unique_ptr<ScopedVariable> answers_;
  ScopedVariable dialog_log_;
  ScopedVariable record_file_;
  SavedRegistryValue saved_connection_string_;
};

// The stored long form of an existing path, upper-cased: what the checker
// logs and stores for an executable.
std::string NormalizedPath(const std::string& path);

// True when the text is one log line: a "MM/DD/YY HH:MM:SS" timestamp, then
// rest, then CR LF.
bool IsTimestampedLine(const std::string& line, const std::string& rest);

}  // namespace quillon::testing

// A minimal portable machine in a temporary folder, for tests that run the
// built programs as separate processes: drive C with WINDOWS\system32 and the
// product folder Program Files\Harlwick\Zentrel (Logs included, Zentrel.exe
// copied in), an empty registry, databases/Zentrel.sqlite3 from the install
// schema, an answer queue, and the dialog and run logs.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/database_support.h"

namespace quillon::testing {

// One line of the dialog log.
struct DialogRecord {
  std::string program;
  std::string kind;  // "MsgBox" or "InputBox"
  std::string title;
  int style = 0;
  std::string text;
  std::optional<std::string> answer;  // nullopt for a cancelled input box
};

// One line of the run log.
struct RunRecord {
  std::string program;
  std::string command;
  int style = 0;
  bool wait = false;
};

// The fields of a flat one-line JSON object: strings unescaped into the
// system code page, numbers and true/false as their text, nullopt for null.
std::map<std::string, std::optional<std::string>> ParseJsonLine(const std::string& line);

class ScratchMachine {
 public:
  // Creates the machine in a fresh temporary folder; throws when it cannot.
  ScratchMachine();
  ScratchMachine(const ScratchMachine&) = delete;
  ScratchMachine& operator=(const ScratchMachine&) = delete;

  const std::string& root() const { return root_; }
  const std::string& database_file() const { return database_file_; }

  // The POSIX path of a Windows path on drive C, taken as written (the
  // machine's case-insensitive matching is not repeated here).
  std::string Posix(const std::string& windows_path) const;
  void WriteFile(const std::string& windows_path, const std::string& content,
                 bool executable = false) const;
  // The file's bytes, or nullopt when it does not exist.
  std::optional<std::string> ReadFile(const std::string& windows_path) const;

  // Queues one answer for the next box.
  void Answer(const std::string& answer) const;
  std::vector<DialogRecord> Dialogs() const;
  std::vector<RunRecord> Runs() const;

  // Environment of the machine's programs: QUILLON_MACHINE, the answer
  // queue and the logs, ProgramFiles, windir, TEMP, COMPUTERNAME, USERNAME,
  // USERPROFILE, and PATH and the sanitizers' options of the test.
  std::map<std::string, std::string> environment;

  // Starts a POSIX program with the machine's environment in drive C's root.
  pid_t Start(const std::string& program, const std::vector<std::string>& arguments) const;
  // Waits for a started program: its exit status, or 128 + signal.
  static int Wait(pid_t pid);
  // Starts the installed Zentrel.exe with the argument and waits for it.
  int RunZentrel(const std::string& argument_text) const;
  pid_t StartZentrel(const std::string& argument_text) const;

 private:
  DatabaseTestFolder folder_;  // the machine's root, removed with the machine
  std::string root_;
  std::string database_file_;
};

// A line file's lines without their line ends; none when it is missing.
std::vector<std::string> FileLines(const std::string& posix_path);

}  // namespace quillon::testing

// The platform services on the portable machine: boxes answered from a queue
// file (or the terminal), process termination by SIGKILL, the environment
// reader with the 8-bit call's buffer rule, the directory search with
// Windows-style short aliases, the C library's local time and the kernel's
// random source.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/backend/box_script.h"
#include "shared/platform.h"
#include "shared/posix/portable_machine.h"

namespace quillon {

// Message and input boxes. With QUILLON_ANSWERS set, each box takes (and
// removes) the first line of that queue file under a flock on the file; an
// empty, used-up or missing queue, and an answer the box does not offer, give
// the box's default. Without it a box asks on the controlling terminal, or,
// when there is none, takes its default and says so on stderr. With
// QUILLON_DIALOG_LOG set, every box appends one JSON line to that file.
class PosixDialogs : public Dialogs {
 public:
  // program_name: the program's name; the log gives it without ".exe".
  explicit PosixDialogs(std::string_view program_name)
      : program_name_(ProgramBaseName(program_name)) {}

  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                      const std::string& default_text) override;

 private:
  std::string program_name_;
};

// Takes the first line of a queue file (without its line end) and removes it
// from the file, under an exclusive flock on the file itself. nullopt when
// the file is missing or empty. Throws HostError when the file is not a
// regular file (a FIFO is refused, not waited for), cannot be read, holds
// more than kMaxAnswerQueueBytes, or the remaining lines cannot be written
// back in full. The boxes then take their default answer.
std::optional<std::string> TakeQueuedLine(const std::string& queue_path);

class PosixProcesses : public Processes {
 public:
  using KillFunction = int (*)(pid_t, int);

  // kill_function sends the signal (kill(2) unless a test watches the calls).
  explicit PosixProcesses(KillFunction kill_function = nullptr);

  // Sends SIGKILL; errors are ignored. An id of 0 or one that is not a
  // positive pid_t names no process and is never passed on: kill would read
  // it as a process group, or as every process.
  void Terminate(std::uint32_t process_id) override;
  void Sleep(std::uint32_t milliseconds) override;

 private:
  KillFunction kill_;
};

// The process environment's value for a variable, its name matched as
// Windows matches it: without regard to ASCII case (an exact match first).
// nullopt when unset or for an empty name.
std::optional<std::string> EnvironmentValue(const std::string& name);

class PosixEnvironmentReader : public EnvironmentReader {
 public:
  std::string Read(const std::string& name, std::size_t buffer_size) override;
};

// FindFirstName over the machine's folders: the parent folder maps as any
// path does; the last element matches entry names without regard to ASCII
// case, with * and ? wildcards, and also matches the short aliases that the
// folder's entries would have on Windows. Folders take part only when the
// attributes include the directory bit (16).
class PosixDirectorySearch : public DirectorySearch {
 public:
  explicit PosixDirectorySearch(const PortableMachine& machine) : machine_(machine) {}
  std::string FindFirstName(const std::string& pattern, unsigned attributes) override;

 private:
  const PortableMachine& machine_;
};

class PosixClock : public Clock {
 public:
  LocalTime Now() override;
};

// The local time (TZ honoured) of a moment.
LocalTime LocalTimeAt(std::time_t moment);

// Random bytes from getrandom(2), or from /dev/urandom where the kernel has
// no getrandom.
class PosixRandomSource : public RandomSource {
 public:
  std::vector<std::uint8_t> Bytes(std::size_t count) override;
};

}  // namespace quillon

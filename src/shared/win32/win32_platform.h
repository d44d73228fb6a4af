// The Windows platform services: message and input boxes, processes, the
// environment block, directory search, the clock and random bytes; and the
// command-line helpers the program entry uses. This header does not include
// the Windows headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/platform.h"

namespace quillon {

// Message boxes and input boxes as real windows. While QUILLON_ANSWERS is set,
// boxes take their answers from the queue it names (a missing or used-up queue
// gives each box its default answer) and show no window; when
// QUILLON_DIALOG_LOG names a file, every box appends one JSON line to it.
class Win32Dialogs : public Dialogs {
 public:
  // program_name is the "program" of the dialog log; by default the base
  // name of the running executable without ".exe".
  Win32Dialogs();
  explicit Win32Dialogs(std::string program_name);

  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                      const std::string& default_text) override;

 private:
  std::optional<std::string> QueuedAnswer(const std::string& queue, const char* kind,
                                          const std::string& title,
                                          const std::string& outcome) const;

  std::string program_name_;
};

class Win32Processes : public Processes {
 public:
  void Terminate(std::uint32_t process_id) override;
  void Sleep(std::uint32_t milliseconds) override;
};

class Win32EnvironmentReader : public EnvironmentReader {
 public:
  std::string Read(const std::string& name, std::size_t buffer_size) override;
};

class Win32DirectorySearch : public DirectorySearch {
 public:
  std::string FindFirstName(const std::string& pattern, unsigned attributes) override;
};

class Win32Clock : public Clock {
 public:
  LocalTime Now() override;
};

// Random bytes from the system's cryptographic provider (CryptGenRandom).
class Win32RandomSource : public RandomSource {
 public:
  std::vector<std::uint8_t> Bytes(std::size_t count) override;
};

// The argument text of a command line: everything after the program name and
// the one blank that follows it, unchanged.
std::string ArgumentTextOf(const std::string& command_line);

// The folder of a file path, without a trailing backslash except at a drive's
// root ("C:\").
std::string FolderOf(const std::string& file_path);

}  // namespace quillon

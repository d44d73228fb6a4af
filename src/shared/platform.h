// The platform services the programs call besides the two facades: message
// and input boxes, process termination, the environment reader with its
// fixed-size buffer, the directory search, the clock, the pause and the
// system's cryptographic random source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// Message box styles and answers, as the platform numbers them.
inline constexpr int kMbOk = 0;
inline constexpr int kMbYesNo = 4;
inline constexpr int kMbIconError = 16;
inline constexpr int kMbIconQuestion = 32;
inline constexpr int kMbIconInformation = 64;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Shows a message box and returns the button pressed (kIdOk, kIdYes, ...).
  virtual int MsgBox(const std::string& prompt, int style, const std::string& title) = 0;
  // Shows an input box; returns the typed text, or nullopt for Cancel.
  virtual std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                              const std::string& default_text) = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // Opens the process with all access rights and terminates it with exit code
  // 0. A process that cannot be opened or terminated is silently left alone.
  virtual void Terminate(std::uint32_t process_id) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

class EnvironmentReader {
 public:
  virtual ~EnvironmentReader() = default;
  // The variable's value as the platform's 8-bit call copies it into a buffer
  // of buffer_size characters: "" when unset, and "" when the value (with its
  // terminating NUL) does not fit, i.e. when it has buffer_size characters or
  // more.
  virtual std::string Read(const std::string& name, std::size_t buffer_size) = 0;
};

// Search attributes: directory 16 + system 4 + hidden 2.
inline constexpr unsigned kSearchAllEntries = 22;

class DirectorySearch {
 public:
  virtual ~DirectorySearch() = default;
  // The stored (long) name of the first entry matching the pattern (a full
  // path whose last element may be a short alias or hold wildcards), or ""
  // when nothing matches.
  virtual std::string FindFirstName(const std::string& pattern, unsigned attributes) = 0;
};

struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
};

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // count bytes from the system's cryptographic random source, each value
  // equally likely. Throws HostError when the source cannot give them; never
  // falls back to a weaker source.
  virtual std::vector<std::uint8_t> Bytes(std::size_t count) = 0;
};

}  // namespace quillon

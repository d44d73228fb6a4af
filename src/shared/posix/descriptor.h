// File descriptors for the portable host's backends: one that closes itself,
// and writing a whole text through one.
#pragma once

#include <string_view>

namespace quillon {

// Closes a descriptor (and so releases its locks) when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Close(); }
  int get() const { return fd_; }
  void Close();

 private:
  int fd_;
};

// Writes all of the text, however many writes that takes (an interrupted
// write is repeated). False, with errno telling why, when a write fails.
bool WriteAll(int fd, std::string_view text);

}  // namespace quillon

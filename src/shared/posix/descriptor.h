// File descriptors for the portable host's backends: one that closes itself,
// opening the files the host keeps for itself, and writing a whole text
// through one.
#pragma once

#include <sys/types.h>

#include <string>
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

// Opens a file that the host keeps for itself (the registry, a log, the
// answer queue) as open() does, but never waits for a FIFO or a device to
// open and refuses anything but a regular file: -1 with errno EPERM then;
// -1 with open's errno for other failures. O_NONBLOCK is cleared again unless
// flags hold it. Add O_NOFOLLOW to refuse a link as well (errno ELOOP).
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0644);

// Appends the text to a file opened with O_APPEND in one write, so that the
// appends of concurrent writers never interleave, and whole or not at all:
// what a short write (a full disk) put in is cut off again, unless another
// writer's entry already follows it. False, with errno telling why (ENOSPC
// after a short write), when the text did not go in.
bool AppendWhole(int fd, std::string_view text);

}  // namespace quillon

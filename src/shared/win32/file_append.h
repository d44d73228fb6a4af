// Writing whole texts to files, also to a file that other threads and
// processes append to at the same time (the checker's logs, the dialog log).
#pragma once

#include <string>

#include "shared/win32/windows_api.h"

namespace quillon {

// Opens a file for appending, sharing it with every other reader and writer.
// With create, a missing file is created. INVALID_HANDLE_VALUE on failure
// (GetLastError tells why).
HANDLE OpenForAppending(const std::string& path, bool create);

// Writes all of the text at the handle's file pointer, however many writes
// that takes. Throws HostError on failure.
void WriteWhole(HANDLE file, const std::string& text);

// Writes the text at the end of the file as one piece: no other append
// through this function lands inside it, and none is overwritten by it.
// Appends are serialized by an exclusive lock on one byte far beyond any real
// file size, so readers and writers of the file's content are never blocked.
// (Append-only handles alone are not enough: not every implementation of the
// platform makes their writes atomic.) Throws HostError on failure.
void AppendWhole(HANDLE file, const std::string& text);

}  // namespace quillon

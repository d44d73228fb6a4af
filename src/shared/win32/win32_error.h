// How a failing Windows call becomes a HostError. Every Win32 backend maps its
// error codes here and nowhere else.
#pragma once

#include <string>

#include "shared/host_error.h"
#include "shared/win32/windows_api.h"

namespace quillon {

// File operations report the scripting runtime's numbers (53 "File not found",
// 76 "Path not found", ...), as the file-system object does; the registry and
// program start report the platform's HRESULT (0x80070000 + code), as the
// shell object does.
enum class ErrorSource { kFileSystem, kShell };

// The error for a Windows error code. description replaces the standard text
// of the number when it is not empty.
HostError HostErrorFor(DWORD code, ErrorSource source, const std::string& description = "");

// The error for the calling thread's last Windows error.
HostError LastHostError(ErrorSource source, const std::string& description = "");

}  // namespace quillon

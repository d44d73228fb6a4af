// The portable form of the hook library's entry: the machine tool loads
// every library that AppInit_DLLs lists and calls this function once for the
// launch it has just started, as Windows loads the library into the new
// process.
#pragma once

namespace quillon::hook {

// The exported name of the entry point, for dlsym.
inline constexpr char kProcessAttachSymbol[] = "QuillonProcessAttach";

// exe_windows_path: full Windows path of the launched executable; process_id:
// the new process; user: the launching user's account name. Returns at once;
// never throws.
using ProcessAttachFunction = void (*)(const char* exe_windows_path, unsigned process_id,
                                       const char* user);

}  // namespace quillon::hook

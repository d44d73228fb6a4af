// The libraries that AppInit_DLLs lists and where the machine finds them.
#pragma once

#include <string>
#include <vector>

namespace quillon::machine {

// The AppInit_DLLs value's path (HKLM\...\Windows\AppInit_DLLs).
inline constexpr char kAppInitDlls[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";

// The entries of the value: separated by blanks or commas, as Windows reads
// it; empty entries are dropped, so the empty value lists nothing.
std::vector<std::string> SplitLibraryList(const std::string& value);

// The Windows path of an entry: a bare file name lies in windir\system32; an
// entry with a folder or drive is taken as it is.
std::string LibraryPath(const std::string& windir, const std::string& entry);

}  // namespace quillon::machine

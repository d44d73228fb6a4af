// What the hook library hands the checker for one launch: one argument text,
// four fields joined by "_|_" (executable path upper-cased, a field the
// checker does not read, the process id in decimal digits, the user name).
#pragma once

#include <cstdint>
#include <string>

namespace quillon::hook {

// The second field: which launch notification produced the request.
inline constexpr char kLaunchField[] = "LAUNCH";

std::string CheckerArgument(const std::string& exe_path, std::uint32_t process_id,
                            const std::string& user_name);

// The checker's own path for a ProgramFiles value.
std::string CheckerPath(const std::string& program_files);

// True for launches the library must not report: the checker itself (which
// would start checkers without end) and the mailer it starts.
bool IsExemptLaunch(const std::string& exe_path, const std::string& program_files);

}  // namespace quillon::hook

// ZentrelAdmin's command line: one administrative operation per run, its
// result as text for people or, with --json, as JSON for scripts.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "shared/host.h"

namespace quillon::admin {

// Exit statuses beyond 0 (done) and 1 (the database or the machine failed).
inline constexpr int kExitUsage = 2;    // the command line is wrong
inline constexpr int kExitRefused = 3;  // unknown user, application or id; a name taken

// Runs one command line (the arguments after the program's name); returns
// the exit status. Output goes to out, messages about failures to err.
int RunAdminCommand(Host& host, const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err);

}  // namespace quillon::admin

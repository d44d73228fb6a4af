// The log line of a placeholder program: when it was started, with which
// arguments, and what it did not do.
#pragma once

#include <string>
#include <vector>

#include "shared/host.h"

namespace quillon::placeholders {

// Appends "YYYY-MM-DD HH:MM:SS N argument(s): "a" "b" ... - <note>" and CR LF
// to the program's folder + "\Logs\" + program + ".log". A log that cannot
// be written propagates as HostError.
void RecordStart(Host& host, const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& note);

}  // namespace quillon::placeholders

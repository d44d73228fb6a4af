// One-line JSON records appended to the logs that the portable machine keeps
// for whoever watches it (boxes shown, programs started). The lines
// themselves are made in shared/box_script.h.
#pragma once

#include <string>

namespace quillon {

// Whether a link in place of a log is followed: a log that a caller names
// may be anywhere; one kept in the machine root must be the file itself.
enum class LogLink { kFollow, kRefuse };

// Appends the line and a line feed to the file (created when missing) with a
// single write, so that lines of concurrent writers never interleave, and
// whole or not at all. Returns false when the file cannot be written, is not
// a regular file (it is never waited for), or the line did not fit.
bool AppendLogLine(const std::string& path, const std::string& line,
                   LogLink link = LogLink::kFollow);

}  // namespace quillon

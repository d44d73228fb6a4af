// One-line JSON records appended to the logs that the portable machine keeps
// for whoever watches it (boxes shown, programs started). The lines
// themselves are made in shared/box_script.h.
#pragma once

#include <string>

namespace quillon {

// Appends the line and a line feed to the file (created when missing) with a
// single write, so that lines of concurrent writers never interleave.
// Returns false when the file cannot be written.
bool AppendLogLine(const std::string& path, const std::string& line);

}  // namespace quillon

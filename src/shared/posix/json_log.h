// One-line JSON records appended to the logs that the portable machine keeps
// for whoever watches it (boxes shown, programs started).
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// A system code page text as a JSON string: quoted, UTF-8, with quotes,
// backslashes and control characters escaped.
std::string JsonText(std::string_view text);

// Appends the line and a line feed to the file (created when missing) with a
// single write, so that lines of concurrent writers never interleave.
// Returns false when the file cannot be written.
bool AppendLogLine(const std::string& path, const std::string& line);

}  // namespace quillon

// The latest denials, read from the checker's Access.log in the product
// folder.
#include "admin/admin.h"
#include "admin/admin_internal.h"
#include "shared/helpers/product.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"

namespace quillon::admin {

std::vector<Denial> LatestDenials(const std::vector<std::string>& log_lines, std::size_t limit) {
  std::vector<Denial> denials;
  for (auto line = log_lines.rbegin(); line != log_lines.rend() && denials.size() < limit; ++line) {
    // "MM/DD/YY HH:MM:SS: PATH_|_DECISION_|_USER"
    if (line->size() < 19 || line->compare(17, 2, ": ") != 0) continue;
    const std::vector<std::string> fields = SplitAll(line->substr(19), kAccessLogSeparator);
    if (fields.size() != 3) continue;
    denials.push_back({line->substr(0, 17), fields[0], fields[1], fields[2]});
  }
  return denials;
}

std::vector<Denial> Administration::RecentDenials(std::size_t limit) {
  HostFileSystem& files = impl_->host.files;
  const std::string log =
      impl_->host.shell.Environment("ProgramFiles") + kProductFolderSuffix + "\\Logs\\Access.log";
  std::vector<std::string> lines;
  try {
    if (files.FileExists(log)) {
      auto stream = files.OpenTextFile(log, IoMode::kForReading, false);
      while (!stream->AtEndOfStream()) lines.push_back(stream->ReadLine());
      stream->Close();
    }
  } catch (const HostError&) {
    lines.clear();  // skipped: an unreadable log shows as no denials
  }
  return LatestDenials(lines, limit);
}

}  // namespace quillon::admin

#include "support/app_init.h"

namespace quillon::machine {

std::vector<std::string> SplitLibraryList(const std::string& value) {
  std::vector<std::string> entries;
  std::string entry;
  for (char c : value) {
    if (c == ' ' || c == ',' || c == '\t') {
      if (!entry.empty()) entries.push_back(entry);
      entry.clear();
    } else {
      entry += c;
    }
  }
  if (!entry.empty()) entries.push_back(entry);
  return entries;
}

std::string LibraryPath(const std::string& windir, const std::string& entry) {
  if (entry.find_first_of("\\/:") != std::string::npos) return entry;
  return windir + "\\system32\\" + entry;
}

}  // namespace quillon::machine

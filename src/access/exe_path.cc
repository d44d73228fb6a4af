// The stored form of an executable's path, in which APP_EXES holds it and
// access is decided and requested.
#include <vector>

#include "access/access.h"
#include "shared/helpers/text.h"

namespace quillon {

std::string NormalizeExePath(DirectorySearch& search, const std::string& exe_path) {
  const std::vector<std::string> elements = SplitAll(exe_path, "\\");
  std::string normalized = elements.front() + "\\";
  for (std::size_t i = 1; i + 1 < elements.size(); ++i) {
    normalized += search.FindFirstName(normalized + elements[i], kSearchAllEntries) + "\\";
  }
  normalized += elements.back();
  return UpperCase(normalized);
}

}  // namespace quillon

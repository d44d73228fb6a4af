#include "shared/database.h"

namespace quillon {

std::string DoubleQuotes(const std::string& value) {
  std::string doubled;
  doubled.reserve(value.size() + 2);
  for (char c : value) {
    doubled += c;
    if (c == '\'') doubled += '\'';
  }
  return doubled;
}

// Built by appending: GCC 12 at -O3 reports a false -Wrestrict overlap for
// "'" + std::string&&.
std::string QuoteText(const std::string& value) {
  std::string quoted = "'";
  quoted += DoubleQuotes(value);
  quoted += '\'';
  return quoted;
}

}  // namespace quillon

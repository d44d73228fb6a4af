#include "database.h"

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

std::string QuoteText(const std::string& value) {
  return "'" + DoubleQuotes(value) + "'";
}

}  // namespace quillon

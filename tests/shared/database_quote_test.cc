// Text values in statements: every single quote doubled, the value quoted.
#include <gtest/gtest.h>

#include <string>

#include "shared/database.h"

namespace quillon {
namespace {

TEST(DoubleQuotesTest, DoublesEverySingleQuoteAndNothingElse) {
  EXPECT_EQ(DoubleQuotes(""), "");
  EXPECT_EQ(DoubleQuotes("C:\\WINDOWS\\NOTEPAD.EXE"), "C:\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_EQ(DoubleQuotes("O'Neil"), "O''Neil");
  EXPECT_EQ(DoubleQuotes("'"), "''");
  EXPECT_EQ(DoubleQuotes("''"), "''''");
  EXPECT_EQ(DoubleQuotes("'lead and trail'"), "''lead and trail''");
  EXPECT_EQ(DoubleQuotes("a'b''c'''d"), "a''b''''c''''''d");
  // Double quotes, backslashes and 8-bit characters pass unchanged.
  EXPECT_EQ(DoubleQuotes("\"x\"\\\xe9'"), "\"x\"\\\xe9''");
}

TEST(QuoteTextTest, WrapsTheDoubledValueInSingleQuotes) {
  EXPECT_EQ(QuoteText(""), "''");
  EXPECT_EQ(QuoteText("C:\\TOOLS\\O'NEIL.EXE"), "'C:\\TOOLS\\O''NEIL.EXE'");
  EXPECT_EQ(QuoteText("'; DROP TABLE USERS; --"), "'''; DROP TABLE USERS; --'");
}

// Undoing the doubling must give the value back for any mix of quotes: the
// literal reads as exactly one value.
TEST(QuoteTextTest, LiteralReadsBackAsTheValue) {
  for (const std::string value :
       {"", "'", "x'", "'x", "''''", "a'b'c", "no quote", "' OR '1'='1"}) {
    const std::string literal = QuoteText(value);
    ASSERT_GE(literal.size(), 2u);
    ASSERT_EQ(literal.front(), '\'');
    ASSERT_EQ(literal.back(), '\'');
    std::string read;
    const std::string inner = literal.substr(1, literal.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
      if (inner[i] == '\'') {
        ASSERT_LT(i + 1, inner.size()) << "lone quote ends the literal early: " << literal;
        ASSERT_EQ(inner[i + 1], '\'') << "lone quote ends the literal early: " << literal;
        ++i;
      }
      read += inner[i];
    }
    EXPECT_EQ(read, value);
  }
}

}  // namespace
}  // namespace quillon

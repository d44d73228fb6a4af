// The text helpers every program shares: quoting and splitting command lines
// as the Windows C runtime does, upper case in the system code page, field
// splitting, blank trimming, and the code page's conversions to and from
// UTF-8, unsigned 32-bit decimal numbers. Every expectation is written out literally.
#include "shared/helpers/text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "shared/host_error.h"
#include "support/error_number_of.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(HtmlEscapedTest, OnlyTheFiveMarkupCharactersChange) {
  EXPECT_EQ(HtmlEscaped(R"(<a href="x">Tom & Jerry's</a>)"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; Jerry&#39;s&lt;/a&gt;");
  // A reference already in the text is escaped again, never taken as markup.
  EXPECT_EQ(HtmlEscaped("&amp; C:\\Tools\\caf\xC3\xA9.exe"),
            "&amp;amp; C:\\Tools\\caf\xC3\xA9.exe");
}

TEST(QuoteArgumentTest, QuotesAPlainValueAsItIs) {
  EXPECT_EQ(QuoteArgument("value"), "\"value\"");
  EXPECT_EQ(QuoteArgument("two words"), "\"two words\"");
  EXPECT_EQ(QuoteArgument(""), "\"\"");
  // Backslashes that are not before a quote stay single.
  EXPECT_EQ(QuoteArgument("C:\\A\\B.EXE"), "\"C:\\A\\B.EXE\"");
}

TEST(QuoteArgumentTest, EscapesQuotesAndTheBackslashesBeforeThem) {
  // A trailing backslash would escape the closing quote: it is doubled.
  EXPECT_EQ(QuoteArgument("C:\\Program Files\\"), "\"C:\\Program Files\\\\\"");
  EXPECT_EQ(QuoteArgument("end\\\\"), "\"end\\\\\\\\\"");
  // Inner quotes are escaped.
  EXPECT_EQ(QuoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
  // Backslashes before a quote are doubled, and the quote escaped.
  EXPECT_EQ(QuoteArgument("a\\\"b"), "\"a\\\\\\\"b\"");
  EXPECT_EQ(QuoteArgument("a\\\\\"b"), "\"a\\\\\\\\\\\"b\"");
}

TEST(SplitCommandLineTest, SplitsAtBlanksAndTabsOutsideQuotes) {
  EXPECT_THAT(SplitCommandLine("prog a b"), ElementsAre("prog", "a", "b"));
  EXPECT_THAT(SplitCommandLine("  prog\ta  \t b  "), ElementsAre("prog", "a", "b"));
  EXPECT_THAT(SplitCommandLine("prog \"a b\" c\"d e\"f"), ElementsAre("prog", "a b", "cd ef"));
  EXPECT_THAT(SplitCommandLine("prog \"\" x"), ElementsAre("prog", "", "x"));
  EXPECT_THAT(SplitCommandLine(""), IsEmpty());
  EXPECT_THAT(SplitCommandLine(" \t "), IsEmpty());
}

TEST(SplitCommandLineTest, AppliesTheRuntimesBackslashAndQuoteRulesToArguments) {
  // Backslashes not before a quote are plain characters.
  EXPECT_THAT(SplitCommandLine("p a\\\\b C:\\x\\"), ElementsAre("p", "a\\\\b", "C:\\x\\"));
  // An odd number before a quote: half of them and a literal quote.
  EXPECT_THAT(SplitCommandLine("p a\\\\\\\"b"), ElementsAre("p", "a\\\"b"));
  EXPECT_THAT(SplitCommandLine("p \\\"x\\\""), ElementsAre("p", "\"x\""));
  // An even number before a quote: half of them, and the quote delimits.
  EXPECT_THAT(SplitCommandLine("p a\\\\\"b c\""), ElementsAre("p", "a\\b c"));
  EXPECT_THAT(SplitCommandLine("p \"C:\\Program Files\\\\\" next"),
              ElementsAre("p", "C:\\Program Files\\", "next"));
  // Two quotes inside quotes are one literal quote.
  EXPECT_THAT(SplitCommandLine("p \"a\"\"b\" c"), ElementsAre("p", "a\"b", "c"));
}

TEST(SplitCommandLineTest, TheProgramNameTakesBackslashesLiterallyAndQuotesOnlyDelimit) {
  EXPECT_THAT(SplitCommandLine("\"C:\\Program Files\\Harlwick\\Zentrel.exe\" x"),
              ElementsAre("C:\\Program Files\\Harlwick\\Zentrel.exe", "x"));
  // In the program name, a backslash before a quote does not escape it.
  EXPECT_THAT(SplitCommandLine("\"C:\\TOOLS\\\"x.exe a\\\"b"),
              ElementsAre("C:\\TOOLS\\x.exe", "a\"b"));
  EXPECT_THAT(SplitCommandLine("C:\\A\\\\B.exe"), ElementsAre("C:\\A\\\\B.exe"));
}

TEST(UpperCaseTest, UpperCasesAsciiAndWindows1252Letters) {
  EXPECT_EQ(UpperCase("abc xyz AZ 09 !_|"), "ABC XYZ AZ 09 !_|");
  EXPECT_EQ(UpperCase("caf\xe9"), "CAF\xc9");                    // é -> É
  EXPECT_EQ(UpperCase("\xe0\xf6\xf8\xfe"), "\xc0\xd6\xd8\xde");  // à ö ø þ
  EXPECT_EQ(UpperCase("\xff"), "\x9f");                          // ÿ -> Ÿ
  EXPECT_EQ(UpperCase("\x9a\x9c\x9e"), "\x8a\x8c\x8e");          // š œ ž -> Š Œ Ž
}

TEST(UpperCaseTest, LeavesEveryOtherByteUnchanged) {
  EXPECT_EQ(UpperCase("\xf7"), "\xf7");                          // ÷
  EXPECT_EQ(UpperCase("\xdf\xb5\xaa\xba"), "\xdf\xb5\xaa\xba");  // ß µ ª º
  EXPECT_EQ(UpperCase("\xc9\x8a\x9f\x80"), "\xc9\x8a\x9f\x80");  // É Š Ÿ €
  EXPECT_EQ(UpperCase(std::string("a\0b", 3)), std::string("A\0B", 3));
  EXPECT_EQ(UpperCase(""), "");
}

// Wildcards match as a directory search matches them: ASCII letter case
// folded (the portable machine's rule), and dots and stars left over at the
// end of the name matching nothing. EqualsIgnoringCase folds the code page's
// letters too, as Windows compares environment names.
TEST(NameMatchingTest, WildcardsFoldAsciiCaseAndLeftoverDotsAndStarsMatchTheEnd) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;         // WildcardMatch
    bool equal_ignoring;  // EqualsIgnoringCase, for patterns without wildcards
  };
  const Case cases[] = {
      {"CAF\xc9.TXT", "caf\xe9.txt", false, true},            // É é
      {"CAF\xc9.TXT", "caf\xc9.txt", true, true},             // ASCII letters alone differ
      {"\x8a\x8c\x8e\x9f", "\x9a\x9c\x9e\xff", false, true},  // Š Œ Ž Ÿ against š œ ž ÿ
      {"*\xde*", "\xfeorn", false, false},                    // Þ þ
      {"x\xd7y", "x\xf7y", false, false},                     // × and ÷ are no pair
      {"\xdf", "SS", false, false},                           // ß has no upper-case letter
      {"*.*", "README", true, false},
      {"*.*", "Game.exe", true, false},
      {"README.*", "readme", true, false},
      {"README.*", "README.txt", true, false},
      {"README.*", "READMEtxt", false, false},
      {"*.txt", "txt", false, false},
      {"*.exe*", "Game.exe", true, false},
      {"g?me.*", "Game", true, false},
      {"g?me.*", "Gme", false, false},
      {"a*b?c", "AxxxBzC", true, false},
      {"a*b?c", "AxxxBC", false, false},
      {"*", "", true, false},
      {"?", "", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
    if (std::string_view(c.pattern).find_first_of("*?") == std::string_view::npos) {
      EXPECT_EQ(EqualsIgnoringCase(c.pattern, c.name), c.equal_ignoring)
          << c.pattern << " " << c.name;
    }
  }
  EXPECT_FALSE(EqualsIgnoringCase("abc", "ab"));
}

TEST(SplitAllTest, KeepsEveryFieldIncludingEmptyOnes) {
  EXPECT_THAT(SplitAll("", ","), ElementsAre(""));
  EXPECT_THAT(SplitAll("abc", ","), ElementsAre("abc"));
  EXPECT_THAT(SplitAll("a,,b", ","), ElementsAre("a", "", "b"));
  EXPECT_THAT(SplitAll(",a,", ","), ElementsAre("", "a", ""));
  EXPECT_THAT(SplitAll("A_|__|_B_|_", "_|_"), ElementsAre("A", "", "B", ""));
  EXPECT_THAT(SplitAll("x_|y", "_|_"), ElementsAre("x_|y"));
}

TEST(TrimBlanksTest, RemovesSpacesOnlyAndKeepsTabs) {
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
  EXPECT_EQ(TrimBlanks(" \t a \t "), "\t a \t");
  EXPECT_EQ(TrimBlanks("a\r\n "), "a\r\n");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks(""), "");
}

TEST(ParseUnsigned32Test, ReadsDecimalDigitsUpToTheLargestValue) {
  EXPECT_EQ(ParseUnsigned32("0"), 0u);
  EXPECT_EQ(ParseUnsigned32("42"), 42u);
  EXPECT_EQ(ParseUnsigned32("000042"), 42u);
  EXPECT_EQ(ParseUnsigned32("4294967295"), 4294967295u);
  EXPECT_EQ(ParseUnsigned32("0000000000004294967295"), 4294967295u);
}

TEST(ParseUnsigned32Test, AnythingButDigitsIsATypeMismatchAndTooLargeIsAnOverflow) {
  for (const char* text : {"", " 42", "42 ", "+42", "-1", "4x2", "0x10", "42\n"}) {
    EXPECT_EQ(ErrorNumberOf([&] { ParseUnsigned32(text); }), error_number::kTypeMismatch) << text;
  }
  // A non-digit decides, even behind more digits than fit.
  EXPECT_EQ(ErrorNumberOf([&] { ParseUnsigned32("99999999999x"); }), error_number::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([&] { ParseUnsigned32("4294967296"); }), error_number::kOverflow);
  EXPECT_EQ(ErrorNumberOf([&] { ParseUnsigned32("99999999999999999999999"); }),
            error_number::kOverflow);
}

TEST(CodePageTest, Cp1252ToUtf8MapsTheHighBytes) {
  EXPECT_EQ(Cp1252ToUtf8("plain"), "plain");
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xe2\x82\xac");                // €
  EXPECT_EQ(Cp1252ToUtf8("\x9c\x9f"), "\xc5\x93\xc5\xb8");        // œ Ÿ
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xc2\x81");                    // undefined: the C1 control
  EXPECT_EQ(Cp1252ToUtf8("caf\xe9\xff"), "caf\xc3\xa9\xc3\xbf");  // é ÿ
  EXPECT_EQ(Cp1252ToUtf8("\xa0"), "\xc2\xa0");
}

TEST(CodePageTest, Utf8ToCp1252MapsBackAndReplacesWhatTheCodePageLacks) {
  EXPECT_EQ(Utf8ToCp1252("plain"), "plain");
  EXPECT_EQ(Utf8ToCp1252("\xe2\x82\xac"), "\x80");          // €
  EXPECT_EQ(Utf8ToCp1252("caf\xc3\xa9"), "caf\xe9");        // é
  EXPECT_EQ(Utf8ToCp1252("\xc5\x93\xc5\xb8"), "\x9c\x9f");  // œ Ÿ
  EXPECT_EQ(Utf8ToCp1252("a\xe2\x98\x83z"), "a?z");         // ☃
  EXPECT_EQ(Utf8ToCp1252("\xf0\x9f\x98\x80!"), "?!");       // an emoji
  EXPECT_EQ(Utf8ToCp1252("\xc4\x80"), "?");                 // Ā
  EXPECT_EQ(Utf8ToCp1252("a\xa9z"), "a?z");                 // a stray byte
  EXPECT_EQ(Utf8ToCp1252("end\xc3"), "end?");               // a sequence cut short
}

TEST(CodePageTest, EveryCodePageByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

}  // namespace
}  // namespace quillon::testing

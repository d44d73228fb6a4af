// Small text helpers shared by all programs. Text is 8-bit in the system code
// page (Windows-1252).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Upper-cases letters of the system code page (ASCII and Windows-1252 accented
// letters), leaving every other byte unchanged.
std::string UpperCase(std::string_view text);

// The upper- and lower-case form of an ASCII letter; every other byte
// unchanged.
char AsciiUpper(char c);
char AsciiLower(char c);

// The text with its ASCII letters in upper case, every other byte as it is.
std::string AsciiUpperCase(std::string_view text);

// Equality without regard to ASCII letter case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Equality without regard to letter case as UpperCase folds it (ASCII and
// Windows-1252 letters), as Windows compares file names.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Matches a name against a pattern with * (any run of characters) and ?
// (one character), without regard to ASCII letter case (the portable
// machine's and the fake's searches; Windows does its own matching). As
// in a Windows directory search, dots and stars that are left of the pattern
// at the end of the name match nothing: "*.*" matches "README", and so does
// "README.*".
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Splits at every occurrence of a non-empty separator; "" gives one empty field.
std::vector<std::string> SplitAll(std::string_view text, std::string_view separator);

// Removes blanks (spaces only, not tabs) from both ends.
std::string TrimBlanks(std::string_view text);

// Removes blanks, tabs and line ends (CR, LF) from both ends.
std::string_view TrimWhitespace(std::string_view text);

// Quotes one argument so that the Windows C runtime's command-line splitting
// gives back exactly the value: "value", with backslashes before a quote and
// trailing backslashes doubled and inner quotes escaped. A value without
// double quotes and trailing backslashes becomes just "value".
std::string QuoteArgument(std::string_view value);

// The text with the five characters that HTML gives meaning (& < > " ')
// written as character references, safe in element content and in quoted
// attribute values.
std::string HtmlEscaped(std::string_view text);

// Splits a command line the way the Windows C runtime does for argv.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// An unsigned 32-bit number in decimal digits only (no sign, no blanks).
// Throws HostError: type mismatch (13) for an empty text or any other
// character, overflow (6) above 4294967295.
std::uint32_t ParseUnsigned32(std::string_view digits);

// Conversions between the system code page and UTF-8 (for files and logs
// that are UTF-8 by format).
std::string Cp1252ToUtf8(std::string_view text);
std::string Utf8ToCp1252(std::string_view text);

// Whether the text is well-formed UTF-8 (no stray or cut-short sequences).
bool IsValidUtf8(std::string_view text);

// Appends the UTF-8 form of a Unicode code point (up to U+10FFFF).
void AppendUtf8(std::string& out, std::uint32_t code_point);

}  // namespace quillon

#include "shared/helpers/text.h"

#include <array>
#include <cstdint>

#include "shared/host_error.h"

namespace quillon {

namespace {

// The upper-case form of one character of the code page: ASCII letters and
// the Windows-1252 letters that have an upper-case form there.
char UpperCaseChar(char c) {
  auto b = static_cast<unsigned char>(c);
  if (b >= 'a' && b <= 'z') {
    b = static_cast<unsigned char>(b - 0x20);
  } else if (b >= 0xE0 && b <= 0xFE && b != 0xF7) {
    b = static_cast<unsigned char>(b - 0x20);  // à..þ -> À..Þ
  } else if (b == 0x9A || b == 0x9C || b == 0x9E) {
    b = static_cast<unsigned char>(b - 0x10);  // š œ ž -> Š Œ Ž
  } else if (b == 0xFF) {
    b = 0x9F;  // ÿ -> Ÿ
  }
  return static_cast<char>(b);
}

}  // namespace

std::string AsciiUpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = AsciiUpper(c);
  return upper;
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = UpperCaseChar(c);
  return upper;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperCaseChar(a[i]) != UpperCaseChar(b[i])) return false;
  }
  return true;
}

std::vector<std::string> SplitAll(std::string_view text, std::string_view separator) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    std::size_t found = text.find(separator, start);
    if (found == std::string_view::npos || separator.empty()) break;
    fields.emplace_back(text.substr(start, found - start));
    start = found + separator.size();
  }
  fields.emplace_back(text.substr(start));
  return fields;
}

std::string TrimBlanks(std::string_view text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string_view TrimWhitespace(std::string_view text) {
  const auto is_whitespace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && is_whitespace(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_whitespace(text.back())) text.remove_suffix(1);
  return text;
}

std::string HtmlEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string QuoteArgument(std::string_view value) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : value) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      // Backslashes before a quote are doubled, and the quote is escaped.
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  // Trailing backslashes precede the closing quote: double them.
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };

  // The program name: quotes delimit it, backslashes are plain characters.
  while (i < n && is_blank(line[i])) ++i;
  if (i >= n) return args;
  std::string program;
  bool in_quotes = false;
  for (; i < n; ++i) {
    char c = line[i];
    if (c == '"') {
      in_quotes = !in_quotes;
      continue;
    }
    if (!in_quotes && is_blank(c)) break;
    program += c;
  }
  args.push_back(program);

  // The arguments, by the C runtime's rules for quotes and backslashes.
  while (true) {
    while (i < n && is_blank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    in_quotes = false;
    while (i < n) {
      char c = line[i];
      if (c == '\\') {
        std::size_t count = 0;
        while (i < n && line[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < n && line[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(count, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (in_quotes && i + 1 < n && line[i + 1] == '"') {
          arg += '"';  // "" inside quotes is a literal quote
          i += 2;
          continue;
        }
        in_quotes = !in_quotes;
        ++i;
        continue;
      }
      if (!in_quotes && is_blank(c)) break;
      arg += c;
      ++i;
    }
    args.push_back(arg);
  }
  return args;
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || AsciiUpper(pattern[p]) == AsciiUpper(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  // Past the end of the name, what is left of the pattern matches when it is
  // only dots and stars: "*.*" takes a name without a dot, "README.*" takes
  // "README".
  while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '.')) ++p;
  return p == pattern.size();
}

std::uint32_t ParseUnsigned32(std::string_view digits) {
  // Any character other than a digit makes the text no number, however long
  // it is; only a text of digits alone can overflow.
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    throw StandardError(error_number::kTypeMismatch);
  }
  std::uint64_t value = 0;
  for (char digit : digits) {
    value = value * 10 + static_cast<std::uint64_t>(digit - '0');
    if (value > UINT32_MAX) throw StandardError(error_number::kOverflow);
  }
  return static_cast<std::uint32_t>(value);
}

namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252; the five undefined
// bytes map to the C1 control of the same number, as Windows does.
constexpr std::array<std::uint16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    if (b < 0x80) {
      extra = 0;
    } else if ((b & 0xE0) == 0xC0 && b >= 0xC2) {
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
    } else if ((b & 0xF8) == 0xF0 && b <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;  // cut short
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

namespace {

// ASCII reads the same in UTF-8 and in the code page; most text (statement
// words, column names, most values) is ASCII and is taken as it is.
bool IsAscii(std::string_view text) {
  unsigned char any = 0;
  for (const char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else if (b < 0xA0) {
      AppendUtf8(out, kHighControls[b - 0x80]);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = 0;
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0 && i + 1 < text.size()) {
      cp = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((b & 0xF0) == 0xE0 && i + 2 < text.size()) {
      cp = ((b & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
      len = 3;
    } else if ((b & 0xF8) == 0xF0 && i + 3 < text.size()) {
      cp = 0x110000;  // outside the code page
      len = 4;
    } else {
      cp = 0x110000;  // a stray byte
    }
    i += len;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    char mapped = '?';
    for (std::size_t k = 0; k < kHighControls.size(); ++k) {
      if (kHighControls[k] == cp) {
        mapped = static_cast<char>(0x80 + k);
        break;
      }
    }
    out += mapped;
  }
  return out;
}

}  // namespace quillon

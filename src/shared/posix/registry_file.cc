#include "shared/posix/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/descriptor.h"

namespace quillon {

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr char kOldHeader[] = "REGEDIT4";
constexpr std::size_t kHexBytesPerLine = 25;

HostError AccessDenied() {
  return StandardError(error_number::kAccessDenied);
}

// Names end up inside one line of the file: a line break would split it.
void CheckName(std::string_view name) {
  if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    throw StandardError(error_number::kInvalidProcedureCall);
  }
}

std::string Escape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// Reads a quoted text with \-escapes starting at text[pos] == '"'. On success
// pos is just past the closing quote.
std::optional<std::string> ReadQuoted(std::string_view text, std::size_t& pos) {
  std::string value;
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      value += text[++i];
    } else if (text[i] == '"') {
      pos = i + 1;
      return value;
    } else {
      value += text[i];
    }
  }
  return std::nullopt;
}

// The form in which two spellings of one name (UTF-8) are equal: letters of
// the code page upper-cased as UpperCase does, every other character, and
// any byte that is not part of UTF-8, unchanged. Names that differ in
// characters outside the code page stay different, as on Windows.
std::string NameKey(std::string_view utf8) {
  std::string key;
  key.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      key += static_cast<char>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
      ++i;
      continue;
    }
    // Only two- and three-byte sequences can be characters of the code page.
    const std::size_t length = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 1;
    bool whole = length > 1 && i + length <= utf8.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
      whole = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
    }
    if (!whole) {
      key += utf8[i++];
      continue;
    }
    const std::string_view character = utf8.substr(i, length);
    i += length;
    const std::string in_code_page = Utf8ToCp1252(character);
    if (in_code_page != "?") {
      key += Cp1252ToUtf8(UpperCase(in_code_page));
    } else {
      key += character;
    }
  }
  return key;
}

// A name in the system code page in its matching form.
std::string CodePageNameKey(std::string_view name) {
  return NameKey(Cp1252ToUtf8(name));
}

// A key's name in UTF-8: as the file spells it, or converted.
std::string Utf8Name(const RegistryKey& key) {
  return key.stored_name.empty() ? Cp1252ToUtf8(key.name) : key.stored_name;
}

// A value's name in UTF-8 (escapes removed; "" for the default value).
std::string Utf8Name(const RegistryValue& value) {
  if (value.stored_name.empty()) return Cp1252ToUtf8(value.name);
  std::size_t end = 0;
  return value.stored_name[0] == '"' ? ReadQuoted(value.stored_name, end).value_or("") : "";
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && UpperCase(text.substr(0, prefix.size())) == prefix;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> ParseDword(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

// "41,00,42,00" (continuation backslashes and line breaks already removed).
std::optional<std::string> ParseHexBytes(std::string_view text) {
  std::string bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i + 1 >= text.size()) return std::nullopt;
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
    i += 2;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size()) {
      if (text[i] != ',') return std::nullopt;
      ++i;
    }
  }
  return bytes;
}

// UTF-16LE bytes (REG_SZ data) to system code page text, without the
// terminating NULs.
std::optional<std::string> DecodeUtf16(const std::string& bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string utf8;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t unit =
        static_cast<unsigned char>(bytes[i]) |
        (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = '?';  // outside the code page anyway
    AppendUtf8(utf8, unit);
  }
  std::string text = Utf8ToCp1252(utf8);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// The text of UTF-16LE hex bytes, continuation lines included.
std::optional<std::string> DecodeHexText(std::string_view hex) {
  std::string joined;
  for (char c : hex) {
    if (c != '\\' && c != '\n' && c != '\r') joined += c;
  }
  std::optional<std::string> bytes = ParseHexBytes(joined);
  if (!bytes) return std::nullopt;
  return DecodeUtf16(*bytes);
}

// System code page text to "hex(1):41,00,...,00,00" (with the terminator;
// the prefix names the kind).
std::string EncodeUtf16Hex(std::string_view text, const std::string& prefix,
                           const std::string& line_end) {
  const std::string utf8 = Cp1252ToUtf8(text);
  std::string bytes;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = b;
    std::size_t len = 1;
    if (b >= 0xE0) {
      cp = ((b & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
      len = 3;
    } else if (b >= 0xC0) {
      cp = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      len = 2;
    }
    bytes += static_cast<char>(cp & 0xFF);
    bytes += static_cast<char>(cp >> 8);
    i += len;
  }
  bytes += std::string(2, '\0');
  std::string hex = prefix;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
    hex += digits;
    if (i + 1 < bytes.size()) {
      hex += ',';
      if ((i + 1) % kHexBytesPerLine == 0) hex += "\\" + line_end + "  ";
    }
  }
  return hex;
}

// Interprets the text after "=" of a value line.
RegistryValue ReadData(std::string name, const std::string& data) {
  RegistryValue value{std::move(name), RegistryKind::kVerbatim, data};
  if (!data.empty() && data[0] == '"') {
    std::size_t end = 0;
    std::optional<std::string> text = ReadQuoted(data, end);
    if (text && end == data.size()) {
      value.kind = RegistryKind::kString;
      value.data = Utf8ToCp1252(*text);
    }
  } else if (StartsWithIgnoringCase(data, "DWORD:")) {
    if (std::optional<std::uint32_t> number = ParseDword(std::string_view(data).substr(6))) {
      value.kind = RegistryKind::kDword;
      value.data = std::to_string(*number);
    }
  } else if (StartsWithIgnoringCase(data, "HEX(1):")) {
    if (std::optional<std::string> text = DecodeHexText(std::string_view(data).substr(7))) {
      value.kind = RegistryKind::kString;
      value.data = *text;
    }
  }
  return value;
}

// Data that goes on over several lines holds LF between them.
std::string WithLineEnds(std::string_view data, const std::string& line_end) {
  std::string text;
  text.reserve(data.size());
  for (char c : data) {
    if (c == '\n') {
      text += line_end;
    } else {
      text += c;
    }
  }
  return text;
}

std::string FormatData(const RegistryValue& value, const std::string& line_end) {
  switch (value.kind) {
    case RegistryKind::kString:
      if (value.data.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        return EncodeUtf16Hex(value.data, "hex(1):", line_end);
      }
      return "\"" + Escape(Cp1252ToUtf8(value.data)) + "\"";
    case RegistryKind::kDword: {
      unsigned long number = 0;
      try {
        number = std::stoul(value.data);
      } catch (const std::exception&) {
        number = 0;
      }
      char digits[16];
      std::snprintf(digits, sizeof digits, "dword:%08lx", number & 0xFFFFFFFFul);
      return digits;
    }
    case RegistryKind::kVerbatim:
      break;
  }
  return WithLineEnds(value.data, line_end);
}

std::vector<std::string> SplitLines(std::string_view text, bool& crlf) {
  std::vector<std::string> lines;
  bool first_end = true;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string_view line =
        text.substr(start, end == std::string_view::npos ? text.size() - start : end - start);
    const bool had_cr = !line.empty() && line.back() == '\r';
    if (had_cr) line.remove_suffix(1);
    if (end != std::string_view::npos && first_end) {
      crlf = had_cr;
      first_end = false;
    }
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Creates a new file beside `path` named "<path>.<16 random hex digits>.tmp":
// exclusively and without following a link, so that nothing planted under
// that name is written through or reused. -1 when it cannot.
int CreateTemporaryFile(const std::string& path, mode_t mode, std::string& temporary) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    unsigned char random[8];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
    char digits[2 * sizeof random + 1];
    for (std::size_t i = 0; i < sizeof random; ++i) {
      std::snprintf(digits + 2 * i, 3, "%02x", random[i]);
    }
    temporary = path + "." + digits + ".tmp";
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

RegistryContent RegistryContent::Parse(std::string_view file_text) {
  RegistryContent content;
  if (file_text.substr(0, 3) == "\xEF\xBB\xBF") file_text.remove_prefix(3);
  std::vector<std::string> lines = SplitLines(file_text, content.crlf_);

  bool header_seen = false;
  RegistryKey* key = nullptr;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (IsBlank(line)) continue;
    if (!header_seen) {
      header_seen = true;
      if (line == kHeader || line == kOldHeader) continue;
    }
    if (line[0] == '[' && line.find(']') != std::string::npos) {
      std::string stored = line.substr(1, line.rfind(']') - 1);
      const auto [place, added] =
          content.key_index_.try_emplace(NameKey(stored), content.keys_.size());
      if (added) {  // else a repeated block merges into the first
        const std::string name = Utf8ToCp1252(stored);
        content.keys_.push_back(RegistryKey{name, {}, {}, std::move(stored)});
      }
      key = &content.keys_[place->second];
      continue;
    }

    std::optional<std::string> name;
    std::size_t pos = 0;
    if (key != nullptr && line[0] == '@') {
      name = "";
      pos = 1;
    } else if (key != nullptr && line[0] == '"') {
      name = ReadQuoted(line, pos);
    }
    if (!name || pos >= line.size() || line[pos] != '=') {
      (key != nullptr ? key->other_lines : content.preamble_).push_back(line);
      continue;
    }
    // Data continues on the next lines while a line ends in a backslash.
    std::string data = line.substr(pos + 1);
    while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
      data += "\n" + lines[++i];
    }
    // A continuation that runs into the end of the file goes on with an empty
    // line: the form a rewrite gives it, since a rewrite always writes lines
    // after it (the key's closing blank line) that it would otherwise take.
    if (!data.empty() && data.back() == '\\') data += "\n";
    RegistryValue value = ReadData(Utf8ToCp1252(*name), data);
    value.stored_name = line.substr(0, pos);
    value.stored_data = std::move(data);
    key->values.push_back(std::move(value));
  }
  return content;
}

namespace {

// A line's end as written. Reading takes one CR before LF as part of the line
// end, so a line that itself ends in CR is written with CR LF even in an LF
// file: it then reads back as it is and a rewrite changes nothing more.
std::string Ended(std::string_view line, const std::string& line_end) {
  std::string text(line);
  text += !line.empty() && line.back() == '\r' ? std::string("\r\n") : line_end;
  return text;
}

}  // namespace

std::string RegistryContent::Format() const {
  const std::string line_end = crlf_ ? "\r\n" : "\n";
  std::string text = std::string(kHeader) + line_end + line_end;
  for (const auto& line : preamble_) text += Ended(line, line_end);
  if (!preamble_.empty()) text += line_end;
  for (const auto& key : keys_) {
    text += "[" + Utf8Name(key) + "]" + line_end;
    for (const auto& value : key.values) {
      if (!value.stored_name.empty()) {
        text += value.stored_name;
      } else {
        text += value.name.empty() ? "@" : "\"" + Escape(Cp1252ToUtf8(value.name)) + "\"";
      }
      text += "=";
      text += Ended(value.stored_data.empty() ? FormatData(value, line_end)
                                              : WithLineEnds(value.stored_data, line_end),
                    line_end);
    }
    for (const auto& line : key.other_lines) text += Ended(line, line_end);
    text += line_end;
  }
  return text;
}

const RegistryKey* RegistryContent::FindKey(std::string_view key_name) const {
  const auto found = key_index_.find(CodePageNameKey(key_name));
  return found == key_index_.end() ? nullptr : &keys_[found->second];
}

RegistryKey* RegistryContent::FindKeyToChange(std::string_view key_name) {
  return const_cast<RegistryKey*>(std::as_const(*this).FindKey(key_name));
}

const RegistryValue* RegistryContent::FindValue(std::string_view key_name,
                                                std::string_view value_name) const {
  const RegistryKey* key = FindKey(key_name);
  if (key == nullptr) return nullptr;
  const std::string wanted = CodePageNameKey(value_name);
  for (const auto& value : key->values) {
    if (NameKey(Utf8Name(value)) == wanted) return &value;
  }
  return nullptr;
}

RegistryKey& RegistryContent::AddKey(std::string_view key_name) {
  CheckName(key_name);
  const auto [place, added] = key_index_.try_emplace(CodePageNameKey(key_name), keys_.size());
  if (added) keys_.push_back(RegistryKey{std::string(key_name), {}, {}, {}});
  return keys_[place->second];
}

void RegistryContent::SetValue(std::string_view key_name, RegistryValue value) {
  CheckName(value.name);
  RegistryKey& key = AddKey(key_name);
  const std::string wanted = CodePageNameKey(value.name);
  for (auto& existing : key.values) {
    if (NameKey(Utf8Name(existing)) == wanted) {
      existing.kind = value.kind;
      existing.data = std::move(value.data);
      existing.stored_data.clear();  // the name keeps its spelling
      return;
    }
  }
  value.stored_name.clear();
  value.stored_data.clear();
  key.values.push_back(std::move(value));
}

bool RegistryContent::DeleteValue(std::string_view key_name, std::string_view value_name) {
  RegistryKey* key = FindKeyToChange(key_name);
  if (key == nullptr) return false;
  const std::string wanted = CodePageNameKey(value_name);
  const auto removed = std::erase_if(
      key->values, [&](const RegistryValue& value) { return NameKey(Utf8Name(value)) == wanted; });
  return removed > 0;
}

std::string ExpandStringData(std::string_view text) {
  return EncodeUtf16Hex(text, "hex(2):", "\n");
}

std::optional<std::string> ExpandStringText(std::string_view verbatim_data) {
  if (!StartsWithIgnoringCase(verbatim_data, "HEX(2):")) return std::nullopt;
  return DecodeHexText(verbatim_data.substr(7));
}

// ------------------------------------------------------------------- the file

RegistryContent RegistryFile::Load() const {
  // The registry is the file itself, never a link, a FIFO or a device.
  Descriptor file(OpenRegularFile(path_, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) return RegistryContent::Parse("");
    throw AccessDenied();
  }
  std::string text;
  char buffer[8192];
  while (true) {
    const ssize_t got = read(file.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw AccessDenied();
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return RegistryContent::Parse(text);
}

void RegistryFile::Update(const std::function<bool(RegistryContent&)>& change) {
  const std::string lock_path = path_ + ".lock";
  // flock needs no write access: a lock file made by another user still serves.
  // Like the registry, the lock file must be a regular file of its own.
  Descriptor lock(OpenRegularFile(lock_path, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (lock.get() < 0) throw AccessDenied();
  while (flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) throw AccessDenied();
  }

  mode_t mode = 0644;
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) throw AccessDenied();
    mode = info.st_mode & 07777;
    if (access(path_.c_str(), W_OK) != 0) throw AccessDenied();
  }
  RegistryContent content = Load();
  if (!change(content)) return;
  const std::string text = content.Format();

  std::string temporary;
  bool written = false;
  {
    Descriptor out(CreateTemporaryFile(path_, mode, temporary));
    if (out.get() < 0) throw AccessDenied();
    written = fchmod(out.get(), mode) == 0 && WriteAll(out.get(), text) && fsync(out.get()) == 0;
  }
  if (!written || rename(temporary.c_str(), path_.c_str()) != 0) {
    unlink(temporary.c_str());
    throw AccessDenied();
  }
}

}  // namespace quillon

#include "shell_link/shell_link.h"

#include <cstdint>
#include <sstream>

namespace quillon {

namespace {

// The header's fixed size and the shell link class identifier
// 00021401-0000-0000-C000-000000000046 in its stored byte order.
constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Link flags.
constexpr std::uint32_t kHasName = 0x00000004;
constexpr std::uint32_t kHasWorkingDir = 0x00000010;
constexpr std::uint32_t kHasArguments = 0x00000020;
constexpr std::uint32_t kIsUnicode = 0x00000080;
constexpr std::uint32_t kForceNoLinkInfo = 0x00000100;
constexpr std::uint32_t kHasExpString = 0x00000200;

constexpr std::uint32_t kFileAttributeNormal = 0x00000080;
constexpr std::uint32_t kShowNormal = 1;

// The environment-variable block: its size, signature and the two fixed
// fields of 260 characters each.
constexpr std::uint32_t kEnvironmentBlockSize = 0x314;
constexpr std::uint32_t kEnvironmentBlockSignature = 0xA0000001;
constexpr std::size_t kPathCharacters = 260;

void Put16(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8);
}

void Put32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void PutZeros(std::string& out, std::size_t count) {
  out.append(count, '\0');
}

// A string of the string data: its length in characters, then UTF-16LE
// (the text is ASCII).
void PutCounted(std::string& out, const std::string& text) {
  if (text.size() > 0xFFFF) throw ShortcutError("a shortcut string is too long: " + text);
  Put16(out, static_cast<std::uint16_t>(text.size()));
  for (char c : text) Put16(out, static_cast<unsigned char>(c));
}

std::string WithoutLineEnd(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

ShortcutFields ParseShortcutText(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > 0x7F) throw ShortcutError("a shortcut must be ASCII text");
  }
  ShortcutFields fields;
  bool in_section = false;
  bool has_target = false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    line = WithoutLineEnd(line);
    if (!line.empty() && line.front() == '[') {
      in_section = line == "[Shortcut]";
      continue;
    }
    if (!in_section) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "Target") {
      fields.target = value;
      has_target = true;
    } else if (key == "Arguments") {
      fields.arguments = value;
    } else if (key == "WorkingDirectory") {
      fields.working_directory = value;
    } else if (key == "Description") {
      fields.description = value;
    }
  }
  if (!has_target || fields.target.empty()) throw ShortcutError("the shortcut names no target");
  return fields;
}

std::string ShellLinkBytes(const ShortcutFields& fields) {
  if (fields.target.empty() || fields.target.size() >= kPathCharacters) {
    throw ShortcutError("a shortcut target must have 1 to 259 characters: " + fields.target);
  }
  std::uint32_t flags = kIsUnicode | kForceNoLinkInfo | kHasExpString;
  if (!fields.description.empty()) flags |= kHasName;
  if (!fields.working_directory.empty()) flags |= kHasWorkingDir;
  if (!fields.arguments.empty()) flags |= kHasArguments;

  std::string out;
  Put32(out, kHeaderSize);
  out.append(reinterpret_cast<const char*>(kLinkClsid), sizeof kLinkClsid);
  Put32(out, flags);
  Put32(out, kFileAttributeNormal);
  PutZeros(out, 3 * 8);  // creation, access and write times: unknown
  Put32(out, 0);         // file size: unknown
  Put32(out, 0);         // icon index
  Put32(out, kShowNormal);
  Put16(out, 0);      // no hot key
  PutZeros(out, 10);  // reserved

  // The string data, in the order the format fixes.
  if (flags & kHasName) PutCounted(out, fields.description);
  if (flags & kHasWorkingDir) PutCounted(out, fields.working_directory);
  if (flags & kHasArguments) PutCounted(out, fields.arguments);

  // The target, in the system code page and in UTF-16, each NUL-padded.
  Put32(out, kEnvironmentBlockSize);
  Put32(out, kEnvironmentBlockSignature);
  out += fields.target;
  PutZeros(out, kPathCharacters - fields.target.size());
  for (char c : fields.target) Put16(out, static_cast<unsigned char>(c));
  PutZeros(out, 2 * (kPathCharacters - fields.target.size()));

  Put32(out, 0);  // the terminal block
  return out;
}

}  // namespace quillon

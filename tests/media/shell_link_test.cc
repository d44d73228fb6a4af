// The shell link writer: text shortcuts read, and the links walked field by
// field as the documented binary format lays them out.
#include "shell_link/shell_link.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quillon {
namespace {

// Reads a shell link back the way the format lays it out.
struct Walked {
  std::uint32_t flags = 0;
  std::uint32_t show = 0;
  std::string description, working_directory, arguments, target_ansi, target_unicode;
  bool terminated = false;
};

std::uint32_t Read32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

std::string ReadCounted(const std::string& bytes, std::size_t& at) {
  const std::size_t count = static_cast<unsigned char>(bytes.at(at)) |
                            static_cast<std::size_t>(static_cast<unsigned char>(bytes.at(at + 1)))
                                << 8;
  at += 2;
  std::string text;
  for (std::size_t i = 0; i < count; ++i, at += 2) {
    EXPECT_EQ(bytes.at(at + 1), '\0');
    text += bytes.at(at);
  }
  return text;
}

Walked Walk(const std::string& bytes) {
  Walked walked;
  EXPECT_EQ(Read32(bytes, 0), 0x4Cu);
  EXPECT_EQ(bytes.substr(4, 16), std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00"
                                             "\x00\x00\x00\x46",
                                             16));
  walked.flags = Read32(bytes, 20);
  walked.show = Read32(bytes, 60);
  std::size_t at = 0x4C;
  EXPECT_EQ(walked.flags & 0x3u, 0u) << "no item list, no volume information";
  if (walked.flags & 0x04) walked.description = ReadCounted(bytes, at);
  if (walked.flags & 0x10) walked.working_directory = ReadCounted(bytes, at);
  if (walked.flags & 0x20) walked.arguments = ReadCounted(bytes, at);
  // Extra data: the environment-variable block, then the terminal block.
  EXPECT_EQ(Read32(bytes, at), 0x314u);
  EXPECT_EQ(Read32(bytes, at + 4), 0xA0000001u);
  walked.target_ansi = std::string(bytes.c_str() + at + 8);
  for (std::size_t i = at + 8 + 260; bytes.at(i) != '\0' || bytes.at(i + 1) != '\0'; i += 2) {
    walked.target_unicode += bytes.at(i);
  }
  at += 0x314;
  walked.terminated = bytes.size() == at + 4 && Read32(bytes, at) == 0;
  return walked;
}

TEST(ShellLinkTest, LinksCarryTheShortcutsFields) {
  const struct {
    ShortcutFields fields;
    std::uint32_t flags;  // beyond unicode, no link info, environment block
  } cases[] = {
      {{"%ProgramFiles%\\Harlwick\\Zentrel\\Config\\ZentrelConfig.exe", "-ENABLE",
        "%ProgramFiles%\\Harlwick\\Zentrel\\Config", "Turns Quillon on"},
       0x04 | 0x10 | 0x20},
      {{"C:\\Tools\\a.exe", "", "", ""}, 0},
      {{std::string(259, 'x'), "-Q", "", "d"}, 0x04 | 0x20},
  };
  for (const auto& c : cases) {
    const Walked walked = Walk(ShellLinkBytes(c.fields));
    EXPECT_EQ(walked.flags, 0x80u | 0x100u | 0x200u | c.flags) << c.fields.target;
    EXPECT_EQ(walked.show, 1u);
    EXPECT_EQ(walked.description, c.fields.description);
    EXPECT_EQ(walked.working_directory, c.fields.working_directory);
    EXPECT_EQ(walked.arguments, c.fields.arguments);
    EXPECT_EQ(walked.target_ansi, c.fields.target);
    EXPECT_EQ(walked.target_unicode, c.fields.target);
    EXPECT_TRUE(walked.terminated) << c.fields.target;
  }
}

TEST(ShellLinkTest, TextShortcutsAreReadAndBadOnesRefused) {
  const ShortcutFields read = ParseShortcutText(
      "; remark\r\n[Other]\r\nTarget=wrong\r\n[Shortcut]\r\nTarget=%ProgramFiles%\\a.exe\r\n"
      "Arguments=-DISABLE\nWorkingDirectory=%ProgramFiles%\r\nDescription=Turns it = off\r\n");
  EXPECT_EQ(read.target, "%ProgramFiles%\\a.exe");
  EXPECT_EQ(read.arguments, "-DISABLE");
  EXPECT_EQ(read.working_directory, "%ProgramFiles%");
  EXPECT_EQ(read.description, "Turns it = off");

  for (const std::string& bad :
       {std::string("[Shortcut]\nArguments=-Q\n"), std::string("[Shortcut]\nTarget=\n"),
        std::string("[Shortcut]\nTarget=C:\\caf\xE9.exe\n")}) {
    EXPECT_THROW(ParseShortcutText(bad), ShortcutError) << bad;
  }
  EXPECT_THROW(ShellLinkBytes({std::string(260, 'x'), "", "", ""}), ShortcutError);
  EXPECT_THROW(ShellLinkBytes({"a.exe", std::string(65536, 'a'), "", ""}), ShortcutError);
}

}  // namespace
}  // namespace quillon

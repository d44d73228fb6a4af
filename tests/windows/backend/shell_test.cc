// Win32Shell against the real environment, registry and process start.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <functional>

#include "shared/host_error.h"
#include "shared/win32/win32_shell.h"
#include "support/error_number_of.h"
#include "support/windows_test_support.h"

namespace quillon::testing {
namespace {

TEST(Win32ShellEnvironment, ReadsProcessVariablesWholeAndUnsetAsEmpty) {
  Win32Shell shell;
  ScopedVariable set("QUILLON_SHELL_TEST", std::string("C:\\Program Files"));
  ScopedVariable unset("QUILLON_SHELL_UNSET", std::nullopt);
  const std::string long_value(1000, 'x');
  ScopedVariable long_variable("QUILLON_SHELL_LONG", long_value);

  EXPECT_EQ(shell.Environment("QUILLON_SHELL_TEST"), "C:\\Program Files");
  EXPECT_EQ(shell.Environment("quillon_shell_test"), "C:\\Program Files");
  EXPECT_EQ(shell.Environment("QUILLON_SHELL_UNSET"), "");
  EXPECT_EQ(shell.Environment("QUILLON_SHELL_LONG"), long_value);
}

// The Administrators group's SID as the shell's own test knows it: the two
// agree, whichever account runs the tests.
TEST(Win32ShellAccount, IsAdministratorAgreesWithTheShell) {
  Win32Shell shell;
  EXPECT_EQ(shell.IsAdministrator(), IsUserAnAdmin() != FALSE);
}

class Win32ShellRegistry : public ::testing::Test {
 protected:
  void TearDown() override { DeleteRegistryTree(kKey); }

  static constexpr char kKey[] = "HKLM\\SOFTWARE\\QuillonTests\\Shell";
  Win32Shell shell;
};

TEST_F(Win32ShellRegistry, WritesCreateMissingKeysAndReplaceValuesWhole) {
  const std::string path = std::string(kKey) + "\\Deeper\\Name";
  shell.RegWrite(path, "Zentrel.dll", "REG_SZ");
  EXPECT_EQ(shell.RegRead(path), "Zentrel.dll");

  shell.RegWrite(path, "", "REG_SZ");
  auto raw = RawRegistryValue(path);
  ASSERT_TRUE(raw.has_value());
  EXPECT_EQ(raw->first, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(shell.RegRead(path), "");

  // 8-bit text of the system code page passes unchanged.
  shell.RegWrite(path, "Caf\xE9 \"quoted\" \\ back", "REG_SZ");
  EXPECT_EQ(shell.RegRead(path), "Caf\xE9 \"quoted\" \\ back");
}

TEST_F(Win32ShellRegistry, DwordsAreStoredAsNumbersAndReadAsDecimalDigits) {
  const std::string path = std::string(kKey) + "\\Start";
  shell.RegWrite(path, "2", "REG_DWORD");
  auto raw = RawRegistryValue(path);
  ASSERT_TRUE(raw.has_value());
  EXPECT_EQ(raw->first, static_cast<DWORD>(REG_DWORD));
  ASSERT_EQ(raw->second.size(), 4u);
  EXPECT_EQ(raw->second[0], 2);
  EXPECT_EQ(shell.RegRead(path), "2");

  shell.RegWrite(path, "1", "reg_dword");
  EXPECT_EQ(shell.RegRead(path), "1");

  EXPECT_EQ(ErrorNumberOf([&] { shell.RegWrite(path, "two", "REG_DWORD"); }),
            error_number::kTypeMismatch);
  EXPECT_EQ(shell.RegRead(path), "1");
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegWrite(path, "x", "REG_BINARY"); }),
            error_number::kInvalidProcedureCall);
}

TEST_F(Win32ShellRegistry, DeleteRemovesTheValueAndKeepsItsKey) {
  const std::string key = std::string(kKey) + "\\Uninstall\\Zentrel";
  shell.RegWrite(key + "\\DisplayName", "Quillon", "REG_SZ");
  shell.RegWrite(key + "\\NoModify", "1", "REG_DWORD");

  shell.RegDelete(key + "\\DisplayName");
  EXPECT_FALSE(RawRegistryValue(key + "\\DisplayName").has_value());
  EXPECT_TRUE(RawRegistryValue(key + "\\NoModify").has_value());
  shell.RegDelete(key + "\\NoModify");
  EXPECT_TRUE(RegistryKeyExists(key));
}

TEST_F(Win32ShellRegistry, MissingValuesKeysAndRootsFail) {
  const std::string missing_value = std::string(kKey) + "\\Nothing";
  shell.RegWrite(std::string(kKey) + "\\Something", "x", "REG_SZ");
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegRead(missing_value); }),
            error_number::kSystemFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegDelete(missing_value); }),
            error_number::kSystemFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegRead(std::string(kKey) + "\\NoKey\\Value"); }),
            error_number::kSystemFileNotFound);
  EXPECT_NE(ErrorNumberOf([&] { shell.RegRead("HKXX\\SOFTWARE\\Value"); }), 0);
  EXPECT_NE(ErrorNumberOf([&] { shell.RegWrite("NoRootAtAll", "x", "REG_SZ"); }), 0);
}

TEST_F(Win32ShellRegistry, LongRootNamesAndCurrentUserWork) {
  shell.RegWrite("HKEY_LOCAL_MACHINE\\SOFTWARE\\QuillonTests\\Shell\\Long", "a", "REG_SZ");
  EXPECT_EQ(shell.RegRead(std::string(kKey) + "\\Long"), "a");
  shell.RegWrite("HKCU\\Software\\QuillonTests\\Shell\\User", "b", "REG_SZ");
  EXPECT_EQ(shell.RegRead("HKEY_CURRENT_USER\\Software\\QuillonTests\\Shell\\User"), "b");
  DeleteRegistryTree("HKCU\\Software\\QuillonTests");
}

class Win32ShellRun : public ::testing::Test {
 protected:
  std::string Target() const { return Quoted(BuildFolder() + "\\launch_target.exe"); }

  ScratchFolder scratch;
  Win32Shell shell;
};

TEST_F(Win32ShellRun, WaitReturnsAfterTheProgramEndedAndPassesTheWindowStyle) {
  const std::string record = scratch / "record.txt";
  shell.Run(Target() + " record " + Quoted(record) + " hidden", 0, true);
  // With wait the program has written its record before Run returns.
  auto content = ReadBytes(record);
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(*content, "show=0 args=record " + Quoted(record) + " hidden\r\n");

  shell.Run(Target() + " record " + Quoted(record), 1, true);
  EXPECT_EQ(Lines(*ReadBytes(record)).back(), "show=1 args=record " + Quoted(record));
}

TEST_F(Win32ShellRun, WithoutWaitReturnsWhileTheProgramStillRuns) {
  const std::string go = scratch / "go";
  const std::string record = scratch / "record.txt";
  shell.Run(Target() + " wait " + Quoted(go) + " " + Quoted(record), 0, false);
  // The program cannot end before "go" exists, so Run did not wait for it.
  EXPECT_FALSE(Exists(record));
  WriteBytes(go, "");
  auto content = WaitForLines(record, 1);
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(*content, "released\r\n");
}

TEST_F(Win32ShellRun, FindsProgramsByBareNameInTheWorkingFolder) {
  char earlier[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(sizeof earlier, earlier);
  ASSERT_TRUE(SetCurrentDirectoryA(BuildFolder().c_str()));
  const std::string record = scratch / "record.txt";
  shell.Run("launch_target record " + Quoted(record), 0, true);
  SetCurrentDirectoryA(earlier);
  auto content = ReadBytes(record);
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(*content, "show=0 args=record " + Quoted(record) + "\r\n");
}

TEST_F(Win32ShellRun, AProgramThatDoesNotExistFails) {
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run(Quoted(scratch / "missing.exe") + " x", 0, true); }),
            error_number::kSystemFileNotFound);
}

// The text upper-cased in ASCII, for comparing paths.
std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

TEST(Win32ShellSpecialFolders, StartMenuIsTheCurrentUsersWithoutTrailingBackslash) {
  Win32Shell shell;
  const std::string start_menu = shell.SpecialFolders("StartMenu");
  // An existing folder named "Start Menu", given without a trailing backslash.
  const DWORD attributes = GetFileAttributesA(start_menu.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << start_menu;
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << start_menu;
  const std::string name = "\\Start Menu";
  ASSERT_GT(start_menu.size(), name.size());
  EXPECT_EQ(start_menu.substr(start_menu.size() - name.size()), name);
  EXPECT_NE(start_menu.back(), '\\');
  // The current user's: inside the user's profile folder.
  char profile[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, sizeof profile);
  EXPECT_EQ(UpperAscii(start_menu).rfind(UpperAscii(profile) + "\\", 0), 0u)
      << start_menu << " is not under " << profile;
  // The folder's name is found in any case.
  EXPECT_EQ(shell.SpecialFolders("startmenu"), start_menu);
  EXPECT_EQ(shell.SpecialFolders("NoSuchFolder"), "");
}

}  // namespace
}  // namespace quillon::testing

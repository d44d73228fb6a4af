// The platform services: process termination, the fixed-buffer environment
// reader, the directory search with its stored names, the clock, and how a
// program finds its argument text and its folder.
#include "shared/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/win32/local_time.h"
#include "shared/win32/this_process.h"
#include "shared/win32/win32_platform.h"
#include "support/windows_test_support.h"

namespace quillon::testing {
namespace {

std::string Target() {
  return Quoted(BuildFolder() + "\\launch_target.exe");
}

TEST(Win32Processes, TerminateEndsARunningProcessWithExitCodeZero) {
  StartedProcess target(Target() + " sleep");
  ASSERT_TRUE(target.started());
  ASSERT_FALSE(target.HasEnded());
  Win32Processes processes;
  processes.Terminate(target.id());
  ASSERT_TRUE(target.WaitForEnd());
  EXPECT_EQ(target.ExitCode(), 0u);
}

TEST(Win32Processes, IdsOfNoRunningProcessAreLeftAloneSilently) {
  StartedProcess ended(Target() + " bogus-mode");
  ASSERT_TRUE(ended.WaitForEnd());
  Win32Processes processes;
  processes.Terminate(ended.id());
  processes.Terminate(0);
  processes.Terminate(4294967295u);
  EXPECT_EQ(ended.ExitCode(), 2u);  // its own exit code, not the terminator's
}

TEST(Win32EnvironmentReader, ValuesThatDoNotFitTheBufferReadAsEmpty) {
  Win32EnvironmentReader reader;
  ScopedVariable fits("QUILLON_FITS", std::string(254, 'f'));
  ScopedVariable exact("QUILLON_EXACT", std::string(255, 'e'));
  ScopedVariable long_value("QUILLON_LONG", std::string(300, 'l'));
  ScopedVariable unset("QUILLON_UNSET", std::nullopt);
  ScopedVariable program_files("ProgramFiles", std::string("C:\\Program Files"));

  EXPECT_EQ(reader.Read("QUILLON_FITS", 255), std::string(254, 'f'));
  EXPECT_EQ(reader.Read("QUILLON_EXACT", 255), "");
  EXPECT_EQ(reader.Read("QUILLON_LONG", 255), "");
  EXPECT_EQ(reader.Read("QUILLON_UNSET", 255), "");
  EXPECT_EQ(reader.Read("ProgramFiles", 255), "C:\\Program Files");
  EXPECT_EQ(reader.Read("QUILLON_LONG", 400), std::string(300, 'l'));
}

class Win32DirectorySearchTest : public ::testing::Test {
 protected:
  ScratchFolder scratch;
  Win32DirectorySearch search;
};

TEST_F(Win32DirectorySearchTest, GivesTheStoredNameForAnyCaseAndForTheShortAlias) {
  MakeFolders(scratch / "Program Files Long Name\\Tools");
  EXPECT_EQ(search.FindFirstName(scratch / "PROGRAM FILES LONG NAME", kSearchAllEntries),
            "Program Files Long Name");

  char short_path[MAX_PATH + 1] = {};
  ASSERT_NE(GetShortPathNameA((scratch / "Program Files Long Name").c_str(), short_path,
                              sizeof short_path),
            0u);
  const std::string alias = std::string(short_path).substr(std::string(short_path).rfind('\\') + 1);
  ASSERT_NE(UpperCase(alias), "PROGRAM FILES LONG NAME");
  EXPECT_EQ(search.FindFirstName(scratch / alias, kSearchAllEntries), "Program Files Long Name");
  EXPECT_EQ(search.FindFirstName(scratch / "Gone", kSearchAllEntries), "");
  EXPECT_EQ(search.FindFirstName("", kSearchAllEntries), "");
}

TEST_F(Win32DirectorySearchTest, HiddenSystemAndFolderEntriesAreFoundOnlyWhenAskedFor) {
  MakeFolders(scratch / "Hidden");
  SetFileAttributesA((scratch / "Hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
  WriteBytes(scratch / "plain.txt", "");
  EXPECT_EQ(search.FindFirstName(scratch / "hidden", kSearchAllEntries), "Hidden");
  EXPECT_EQ(search.FindFirstName(scratch / "hidden", 16), "");
  EXPECT_EQ(search.FindFirstName(scratch / "hidden", 0), "");
  EXPECT_EQ(search.FindFirstName(scratch / "PLAIN.TXT", 0), "plain.txt");
  EXPECT_EQ(search.FindFirstName(scratch / "pl*", kSearchAllEntries), "plain.txt");
}

TEST(Win32Clock, LocalTimeOfTakesEachFieldFromItsOwnMember) {
  SYSTEMTIME time{};
  time.wYear = 2031;
  time.wMonth = 11;
  time.wDayOfWeek = 4;
  time.wDay = 27;
  time.wHour = 19;
  time.wMinute = 43;
  time.wSecond = 58;
  time.wMilliseconds = 612;
  const LocalTime local = LocalTimeOf(time);
  EXPECT_EQ(local.year, 2031);
  EXPECT_EQ(local.month, 11);
  EXPECT_EQ(local.day, 27);
  EXPECT_EQ(local.hour, 19);
  EXPECT_EQ(local.minute, 43);
  EXPECT_EQ(local.second, 58);
}

TEST(ArgumentText, IsEverythingAfterTheProgramNameAndOneBlank) {
  EXPECT_EQ(ArgumentTextOf("\"C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe\" "
                           "C:\\PROGRAM FILES\\APP.EXE_|_LAUNCH_|_12_|_bob"),
            "C:\\PROGRAM FILES\\APP.EXE_|_LAUNCH_|_12_|_bob");
  EXPECT_EQ(ArgumentTextOf("ZentrelConfig.exe -query"), "-query");
  EXPECT_EQ(ArgumentTextOf("ZentrelConfig.exe  -QUERY "), " -QUERY ");
  EXPECT_EQ(ArgumentTextOf("Zentrel.exe \"quoted\" text"), "\"quoted\" text");
  EXPECT_EQ(ArgumentTextOf("Zentrel.exe\tabc"), "abc");
  EXPECT_EQ(ArgumentTextOf("Uninstall.exe"), "");
  EXPECT_EQ(ArgumentTextOf("Uninstall.exe "), "");
  EXPECT_EQ(ArgumentTextOf(""), "");
}

TEST(ArgumentText, ReachesAStartedProgramUnchanged) {
  ScratchFolder scratch;
  const std::string record = scratch / "record.txt";
  const std::string arguments =
      "record " + Quoted(record) + "  C:\\A B\\X.EXE_|_LAUNCH_|_7_|_o'neil";
  ASSERT_EQ(RunToEnd(Target() + " " + arguments), std::optional<DWORD>(0));
  EXPECT_EQ(ReadBytes(record).value_or(""), "show=1 args=" + arguments + "\r\n");
}

TEST(ProgramFolder, IsTheFolderOfTheFileWithTheDrivesRootKept) {
  EXPECT_EQ(FolderOf("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"),
            "C:\\Program Files\\Harlwick\\Zentrel");
  EXPECT_EQ(FolderOf("C:\\Setup.exe"), "C:\\");
  EXPECT_EQ(FolderOf(ModulePath()) + "\\windows_backend_tests.exe", ModulePath());
}

// The random source gives as many bytes as asked for, from the system's
// generator: two draws of 32 bytes never repeat, and not every byte is equal.
TEST(Win32RandomSource, GivesFreshBytesOfTheCountAskedFor) {
  Win32RandomSource random;
  EXPECT_TRUE(random.Bytes(0).empty());
  const std::vector<std::uint8_t> first = random.Bytes(32);
  const std::vector<std::uint8_t> second = random.Bytes(32);
  ASSERT_EQ(first.size(), 32u);
  ASSERT_EQ(second.size(), 32u);
  EXPECT_NE(first, second);
  EXPECT_NE(std::count(first.begin(), first.end(), first[0]), 32);
  EXPECT_EQ(random.Bytes(100000).size(), 100000u);
}

}  // namespace
}  // namespace quillon::testing

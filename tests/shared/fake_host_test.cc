// The fakes' own promises that program tests build on: effects are applied,
// the journal holds what happened in order, fault switches fail exactly the
// chosen operation, and boxes fall back to their default answers.
#include "fakes/fake_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;

TEST(FakeMachineTest, JournalRecordsChangesInOrderAndEffectsAreVisible) {
  FakeMachine machine;
  machine.files.AddFile("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini", "x");
  machine.shell.Run("cmd.exe /c x", kWindowHidden, true);
  machine.files.DeleteFile("c:\\program files\\HARLWICK\\zentrel\\zentrel.ini", true);
  machine.shell.RegWrite("HKLM\\SOFTWARE\\K\\V", "2", "REG_DWORD");

  EXPECT_FALSE(machine.files.FileExists("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini"));
  EXPECT_EQ(machine.shell.RegRead("HKEY_LOCAL_MACHINE\\software\\k\\v"), "2");
  EXPECT_THAT(machine.journal.entries(),
              ElementsAre("Run cmd.exe /c x style=0 wait=true",
                          "DeleteFile c:\\program files\\HARLWICK\\zentrel\\zentrel.ini",
                          "RegWrite HKLM\\SOFTWARE\\K\\V = \"2\" REG_DWORD",
                          "RegRead HKEY_LOCAL_MACHINE\\software\\k\\v"));
}

TEST(FakeMachineTest, FaultSwitchFailsOnlyTheChosenTargetAndLeavesNoEffect) {
  FakeMachine machine;
  machine.files.AddFile("C:\\A\\keep.txt");
  machine.files.AddFile("C:\\A\\go.txt");
  machine.faults.Fail("DeleteFile", "keep");

  EXPECT_THROW(machine.files.DeleteFile("C:\\A\\keep.txt", true), HostError);
  machine.files.DeleteFile("C:\\A\\go.txt", true);

  EXPECT_TRUE(machine.files.FileExists("C:\\A\\keep.txt"));
  EXPECT_FALSE(machine.files.FileExists("C:\\A\\go.txt"));
  EXPECT_THAT(machine.journal.entries(),
              ElementsAre("DeleteFile C:\\A\\keep.txt [failed]", "DeleteFile C:\\A\\go.txt"));
}

// As on the portable machine, no program starts whose path holds a character
// Windows forbids in names; its arguments may hold them.
TEST(FakeMachineTest, RunRefusesAProgramPathWithACharacterWindowsForbids) {
  FakeMachine machine;
  int started = 0;
  machine.shell.OnRun([&](const std::string&, int, bool) { ++started; });
  for (const char* command : {"\"C:\\x_|_y\\evil.exe\"", "a<b.exe", "C:\\Tools:x\\t.exe /q"}) {
    try {
      machine.shell.Run(command, kWindowHidden, true);
      ADD_FAILURE() << "started " << command;
    } catch (const HostError& error) {
      EXPECT_EQ(error.number(), error_number::kInvalidName) << command;
    }
  }
  machine.shell.Run("cmd.exe /c type a|b", kWindowHidden, true);
  EXPECT_EQ(started, 1);
}

TEST(FakeMachineTest, BoxesTakeQueuedAnswersOrTheirDefaults) {
  FakeMachine machine;
  machine.dialogs.Answer(kIdYes);
  machine.dialogs.Answer(kIdYes);  // not offered by an OK box: the default counts
  EXPECT_EQ(machine.dialogs.MsgBox("q", kMbYesNo + kMbIconError, "t"), kIdYes);
  EXPECT_EQ(machine.dialogs.MsgBox("i", kMbIconInformation, "t"), kIdOk);
  EXPECT_EQ(machine.dialogs.MsgBox("q", kMbYesNo, "t"), kIdNo);
  EXPECT_EQ(machine.dialogs.InputBox("p", "t", ""), std::nullopt);
}

TEST(FakeMachineTest, FolderListingAndSearchUseStoredNamesAndAliases) {
  FakeMachine machine;
  machine.files.AddFile("C:\\Program Files\\Tools\\App.exe");
  machine.files.AddShortName("C:\\Program Files", "PROGRA~1");

  const Folder folder = machine.files.GetFolder("c:\\PROGRAM FILES");
  ASSERT_EQ(folder.sub_folders.size(), 1u);
  EXPECT_EQ(folder.sub_folders[0].name, "Tools");
  EXPECT_EQ(folder.sub_folders[0].path, "C:\\Program Files\\Tools");
  EXPECT_EQ(machine.search.FindFirstName("C:\\PROGRA~1", kSearchAllEntries), "Program Files");
  EXPECT_EQ(machine.search.FindFirstName("C:\\Program Files\\TOOLS", kSearchAllEntries), "Tools");
  EXPECT_EQ(machine.search.FindFirstName("C:\\Gone", kSearchAllEntries), "");
}

TEST(FakeMachineTest, CopyFolderIntoAnExistingFolderKeepsTheSourceName) {
  FakeMachine machine;
  machine.files.AddFile("D:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe", "bin");
  machine.files.CopyFolder("D:\\Program Files\\Harlwick", "C:\\Program Files\\", true);
  EXPECT_EQ(machine.files.Content("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"), "bin");
  EXPECT_THROW(machine.files.CopyFolder("D:\\Program Files\\Harlwick", "C:\\Missing\\", true),
               HostError);
}

}  // namespace
}  // namespace quillon::testing

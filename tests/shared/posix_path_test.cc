// Windows paths on the portable machine: drive folders, letter case matched
// against what exists, relative paths, empty and dot elements, UNC paths,
// short aliases, and the way back from POSIX to Windows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "shared/posix/portable_machine.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

class PosixPathTest : public ::testing::Test {
 protected:
  std::string PosixOf(const std::string& windows_path) {
    std::optional<MappedPath> mapped = machine.Map(windows_path);
    return mapped ? mapped->posix : "<unmapped>";
  }

  TestMachine scratch{MachineTree::kDrives};
  PortableMachine machine{scratch.root(), "Test"};
};

TEST_F(PosixPathTest, DrivesAndExistingElementsMatchWithoutRegardToCase) {
  MakePosixFolders(scratch.InRoot("drive_c/Program Files/Harlwick"));
  WritePosixFile(scratch.InRoot("drive_c/Program Files/Harlwick/Zentrel.ini"), "x");

  EXPECT_EQ(PosixOf("C:\\Program Files\\Harlwick"),
            scratch.InRoot("drive_c/Program Files/Harlwick"));
  EXPECT_EQ(PosixOf("c:\\PROGRAM FILES\\harlwick\\ZENTREL.INI"),
            scratch.InRoot("drive_c/Program Files/Harlwick/Zentrel.ini"));
  EXPECT_EQ(PosixOf("D:\\"), scratch.InRoot("drive_d"));

  std::optional<MappedPath> mapped = machine.Map("c:\\program files\\HARLWICK\\zentrel.ini");
  ASSERT_TRUE(mapped);
  EXPECT_TRUE(mapped->exists);
  EXPECT_EQ(mapped->windows, "C:\\Program Files\\Harlwick\\Zentrel.ini");
}

TEST_F(PosixPathTest, MissingElementsKeepTheCaseGivenAfterTheFirstMiss) {
  MakePosixFolders(scratch.InRoot("drive_c/Tools"));
  std::optional<MappedPath> mapped = machine.Map("C:\\TOOLS\\New Folder\\Sub\\File.TXT");
  ASSERT_TRUE(mapped);
  EXPECT_FALSE(mapped->exists);
  EXPECT_EQ(mapped->posix, scratch.InRoot("drive_c/Tools/New Folder/Sub/File.TXT"));
  EXPECT_EQ(mapped->windows, "C:\\Tools\\New Folder\\Sub\\File.TXT");

  // A drive folder that does not exist maps, but does not exist.
  mapped = machine.Map("E:\\");
  ASSERT_TRUE(mapped);
  EXPECT_FALSE(mapped->exists);
}

TEST_F(PosixPathTest, AnExactSpellingWinsAndOtherwiseTheChoiceIsStable) {
  MakePosixFolders(scratch.InRoot("drive_c/data"));
  MakePosixFolders(scratch.InRoot("drive_c/DATA"));
  EXPECT_EQ(PosixOf("C:\\data"), scratch.InRoot("drive_c/data"));
  EXPECT_EQ(PosixOf("C:\\DATA"), scratch.InRoot("drive_c/DATA"));
  const std::string first = PosixOf("C:\\Data");
  EXPECT_TRUE(first == scratch.InRoot("drive_c/data") || first == scratch.InRoot("drive_c/DATA"));
  EXPECT_EQ(PosixOf("C:\\Data"), first);
  EXPECT_EQ(PosixOf("C:\\dAtA"), first);
}

TEST_F(PosixPathTest, EmptyAndDotElementsAreSkippedAndDotDotStaysOnTheDrive) {
  MakePosixFolders(scratch.InRoot("drive_c/Tools/Bin"));
  EXPECT_EQ(PosixOf("C:\\\\Tools"), scratch.InRoot("drive_c/Tools"));
  EXPECT_EQ(PosixOf("C:\\Tools\\\\Bin\\"), scratch.InRoot("drive_c/Tools/Bin"));
  EXPECT_EQ(PosixOf("C:\\.\\Tools\\.\\Bin"), scratch.InRoot("drive_c/Tools/Bin"));
  EXPECT_EQ(PosixOf("C:/Tools/Bin"), scratch.InRoot("drive_c/Tools/Bin"));
  EXPECT_EQ(PosixOf("C:\\Tools\\Bin\\..\\..\\Tools"), scratch.InRoot("drive_c/Tools"));
  // ".." never leaves the drive, let alone the machine.
  EXPECT_EQ(PosixOf("C:\\..\\..\\..\\etc\\passwd"), scratch.InRoot("drive_c/etc/passwd"));
}

TEST_F(PosixPathTest, UncAndEmptyPathsAreNeverLocal) {
  EXPECT_FALSE(machine.Map("\\\\server\\share\\tool.exe"));
  EXPECT_FALSE(machine.Map("//server/share"));
  EXPECT_FALSE(machine.Map(""));
  EXPECT_FALSE(machine.Map(std::string("C:\\a\0b", 6)));
}

TEST_F(PosixPathTest, RelativePathsResolveAgainstTheCurrentDirectoryOnADrive) {
  MakePosixFolders(scratch.InRoot("drive_c/Setup/MDAC"));
  MakePosixFolders(scratch.InRoot("drive_d/Other"));
  ScopedCurrentDirectory inside(scratch.InRoot("drive_c/Setup"));

  EXPECT_THAT(machine.CurrentFolder(), Optional(std::string("C:\\Setup")));
  EXPECT_EQ(PosixOf("mdac\\MDAC_TYP.exe"), scratch.InRoot("drive_c/Setup/MDAC/MDAC_TYP.exe"));
  EXPECT_EQ(PosixOf("..\\Setup\\MDAC"), scratch.InRoot("drive_c/Setup/MDAC"));
  // Rooted on the current drive, and relative on a drive.
  EXPECT_EQ(PosixOf("\\Setup"), scratch.InRoot("drive_c/Setup"));
  EXPECT_EQ(PosixOf("C:MDAC"), scratch.InRoot("drive_c/Setup/MDAC"));
  EXPECT_EQ(PosixOf("D:Other"), scratch.InRoot("drive_d/Other"));
}

TEST_F(PosixPathTest, RelativePathsNeedACurrentDirectoryOnADrive) {
  ScopedCurrentDirectory outside(scratch.root());
  EXPECT_FALSE(machine.CurrentFolder());
  EXPECT_FALSE(machine.Map("Tools\\x.exe"));
  EXPECT_FALSE(machine.Map("\\Tools"));
  // Absolute paths do not care.
  EXPECT_EQ(PosixOf("C:\\Tools"), scratch.InRoot("drive_c/Tools"));
}

TEST_F(PosixPathTest, ShortAliasesStandForTheirEntries) {
  MakePosixFolders(scratch.InRoot("drive_c/Program Files/Tools"));
  MakePosixFolders(scratch.InRoot("drive_c/Program Files (x86)"));
  std::optional<MappedPath> mapped = machine.Map("C:\\PROGRA~1\\tools");
  ASSERT_TRUE(mapped);
  EXPECT_TRUE(mapped->exists);
  EXPECT_EQ(mapped->windows, "C:\\Program Files\\Tools");
  EXPECT_EQ(PosixOf("C:\\progra~2"), scratch.InRoot("drive_c/Program Files (x86)"));
  EXPECT_EQ(PosixOf("C:\\PROGRA~3"), scratch.InRoot("drive_c/PROGRA~3"));
}

TEST_F(PosixPathTest, WindowsFormOfPosixPathsOnTheDrives) {
  MakePosixFolders(scratch.InRoot("drive_c/Program Files/Harlwick"));
  EXPECT_THAT(machine.WindowsPath(scratch.InRoot("drive_c/Program Files/Harlwick")),
              Optional(std::string("C:\\Program Files\\Harlwick")));
  EXPECT_THAT(machine.WindowsPath(scratch.InRoot("drive_d")), Optional(std::string("D:\\")));
  EXPECT_THAT(machine.WindowsPath(scratch.InRoot("drive_c/Program Files/../Program Files")),
              Optional(std::string("C:\\Program Files")));
  EXPECT_FALSE(machine.WindowsPath(scratch.root()));
  EXPECT_FALSE(machine.WindowsPath("/"));
  MakePosixFolders(scratch.InRoot("drive_cx"));
  EXPECT_FALSE(machine.WindowsPath(scratch.InRoot("drive_cx")));
  EXPECT_FALSE(machine.WindowsPath(scratch.InRoot("drive_c/missing")));
}

TEST(PortableMachineTest, ProgramNameIsTheBaseNameWithoutExe) {
  EXPECT_EQ(PortableMachine("/m", "Zentrel").program_name(), "Zentrel");
  EXPECT_EQ(PortableMachine("/m", "Setup.exe").program_name(), "Setup");
  EXPECT_EQ(PortableMachine("/m", "C:\\Tools\\Uninstall.EXE").program_name(), "Uninstall");
  EXPECT_EQ(PortableMachine("/m/", "/bin/ZentrelConfig.exe").program_name(), "ZentrelConfig");
  EXPECT_EQ(PortableMachine("/m/", "x").RegistryFilePath(), "/m/registry.reg");
  EXPECT_EQ(PortableMachine("/m", "x").DatabasesPath(), "/m/databases");
  EXPECT_EQ(PortableMachine("/m", "x").DrivePath('Q'), "/m/drive_q");
}

TEST(PortableMachineTest, SplitLastElement) {
  EXPECT_EQ(SplitLastElement("C:\\a\\b"), std::make_pair(std::string("C:\\a\\"), std::string("b")));
  EXPECT_EQ(SplitLastElement("C:\\"), std::make_pair(std::string("C:\\"), std::string("")));
  EXPECT_EQ(SplitLastElement("C:x"), std::make_pair(std::string("C:"), std::string("x")));
  EXPECT_EQ(SplitLastElement("name"), std::make_pair(std::string(""), std::string("name")));
}

TEST(ShortAliasTest, AliasesFollowTheWindowsPattern) {
  EXPECT_THAT(ShortAliases({"Documents and Settings", "index.html", "Program Files",
                            "Program Files (x86)", "README.TXT", "readme.txt", "setup.exe"}),
              ElementsAre("DOCUME~1", "INDEX~1.HTM", "PROGRA~1", "PROGRA~2", "", "", ""));
  // Spaces and dots go, invalid characters become "_", the extension is the
  // part after the last dot, a leading dot is dropped.
  EXPECT_THAT(ShortAliases({"my file.tar.gz", "a+b=c.txt", ".profile", "x.y z.longext"}),
              ElementsAre("MYFILE~1.GZ", "A_B_C~1.TXT", "PROFIL~1", "XYZ~1.LON"));
  // A real entry that looks like an alias takes its number first.
  EXPECT_THAT(ShortAliases({"ABCDEF~1.TXT", "abcdefgh long.txt"}), ElementsAre("", "ABCDEF~2.TXT"));
}

TEST(ShortAliasTest, NumbersGrowAndTheBaseShrinksToKeepEightCharacters) {
  std::vector<std::string> names;
  for (int i = 0; i < 11; ++i) names.push_back("Longname number " + std::to_string(i));
  const std::vector<std::string> aliases = ShortAliases(names);
  EXPECT_EQ(aliases[0], "LONGNA~1");
  EXPECT_EQ(aliases[8], "LONGNA~9");
  EXPECT_EQ(aliases[9], "LONGN~10");
  EXPECT_EQ(aliases[10], "LONGN~11");
}

}  // namespace
}  // namespace quillon::testing

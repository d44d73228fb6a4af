// The seeding files byte for byte: the command input file of the users and
// base executables, and that of the applications for rule lists that show
// every rule of matching and grouping.
#include "setup/seeding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_host.h"
#include "shared/host_error.h"

namespace quillon {
namespace {

using ::testing::ElementsAre;
using testing::FakeMachine;
using ::testing::IsEmpty;

constexpr char kInput[] = "C:\\WINDOWS\\Temp\\OSQL.input";
constexpr char kUsers[] = "C:\\WINDOWS\\Temp\\ZentrelUsers.list";
constexpr char kExecutables[] = "C:\\WINDOWS\\Temp\\ZentrelEXEs.list";
constexpr char kOsql[] = "Run osql.exe -E -i \"C:\\WINDOWS\\Temp\\OSQL.input\" style=0 wait=true";

// Lines joined with CR LF after each.
std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string Exe(const std::string& path, const std::string& id) {
  return "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('" + path + "', '" + id + "')";
}
std::string App(const std::string& name) {
  return "INSERT INTO APPS (app_name) VALUES ('" + name + "')";
}

SetupValues Values(const std::string& windir = "C:\\WINDOWS",
                   const std::string& program_files = "C:\\Program Files") {
  return SetupValues{windir, program_files, "C:\\WINDOWS\\Temp", "D:\\Quillon"};
}

// ------------------------------------------------ users and base executables

struct UsersCase {
  std::string name;
  std::string windir;
  std::string program_files;
  std::string users_list;
  std::vector<std::string> user_lines;  // the lines between the second GO and the last
  std::string base_windir;              // how windir stands in the base executables
  std::string base_program_files;
};

void PrintTo(const UsersCase& c, std::ostream* out) {
  *out << c.name;
}

class UsersSeedingTest : public ::testing::TestWithParam<UsersCase> {};

TEST_P(UsersSeedingTest, WritesBaseExecutablesThenEveryUserDisabled) {
  const UsersCase& c = GetParam();
  FakeMachine machine;
  machine.files.AddFolder(c.windir);
  machine.shell.OnRun([&](const std::string& command, int, bool) {
    if (command == "Faldrin.exe") machine.files.AddFile(kUsers, c.users_list);
  });

  SeedUsersAndBaseExecutables(machine.shell, machine.files, Values(c.windir, c.program_files));

  std::vector<std::string> lines = {
      "USE Zentrel",
      "GO",
      "",
      Exe(c.base_program_files + "\\HARLWICK\\ZENTREL\\CONFIG\\ZENTRELCONFIG.EXE", "-1"),
      Exe(c.base_program_files + "\\HARLWICK\\ZENTREL\\DUSMERE.EXE", "-1"),
      Exe(c.base_windir + "\\EXPLORER.EXE", "-1"),
      Exe(c.base_windir + "\\HH.EXE", "-1"),
      Exe(c.base_windir + "\\WINHELP.EXE", "-1"),
      Exe(c.base_windir + "\\SYSTEM32\\NET.EXE", "-1"),
      Exe(c.base_windir + "\\SYSTEM32\\NET1.EXE", "-1"),
      Exe(c.base_windir + "\\SYSTEM32\\USERINIT.EXE", "-1"),
      Exe(c.base_windir + "\\SYSTEM32\\WINHLP32.EXE", "-1"),
      "GO",
      "",
  };
  lines.insert(lines.end(), c.user_lines.begin(), c.user_lines.end());
  lines.push_back("GO");
  EXPECT_EQ(machine.files.Content(kInput), Lines(lines));
  EXPECT_THAT(machine.journal.Starting("Run"),
              ElementsAre("Run Faldrin.exe style=0 wait=true", kOsql));
}

std::string User(const std::string& name) {
  return "INSERT INTO USERS (user_name, user_status) VALUES ('" + name + "', 'DISABLED')";
}

INSTANTIATE_TEST_SUITE_P(
    Lists, UsersSeedingTest,
    ::testing::Values(UsersCase{"TwoUsers",
                                "C:\\WINDOWS",
                                "C:\\Program Files",
                                "Administrator\r\nClerk\r\n",
                                {User("Administrator"), User("Clerk")},
                                "C:\\WINDOWS",
                                "C:\\PROGRAM FILES"},
                      UsersCase{
                          "BlanksAndSpacesTrimmedCaseKept",
                          "C:\\WINDOWS",
                          "C:\\Program Files",
                          "\r\n   \r\n  MixedCase  \r\n\tTabbed\r\nlast-without-line-end",
                          {User("MixedCase"), User("\tTabbed"), User("last-without-line-end")},
                          "C:\\WINDOWS",
                          "C:\\PROGRAM FILES"},
                      UsersCase{"ApostrophesDoubledInNamesAndFolders",
                                "C:\\Win'dows",
                                "C:\\O'Brien Files",
                                "O'Neil\r\n",
                                {User("O''Neil")},
                                "C:\\WIN''DOWS",
                                "C:\\O''BRIEN FILES"},
                      UsersCase{"AnEmptyListWritesNoUsers",
                                "C:\\WINDOWS",
                                "C:\\Programme",
                                "",
                                {},
                                "C:\\WINDOWS",
                                "C:\\PROGRAMME"},
                      UsersCase{"AccentedLettersUpperCasedInTheCodePage",
                                "C:\\WINDOWS",
                                "C:\\Programmes \xe9t\xe9",
                                "J\xe9r\xf4me\n",
                                {User("J\xe9r\xf4me")},
                                "C:\\WINDOWS",
                                "C:\\PROGRAMMES \xc9T\xc9"}));

TEST(UsersSeedingWithoutListTest, WritesNothingAndRunsNoClientButTheListWriter) {
  FakeMachine machine;

  SeedUsersAndBaseExecutables(machine.shell, machine.files, Values());

  EXPECT_FALSE(machine.files.FileExists(kInput));
  EXPECT_THAT(machine.journal.entries(), ElementsAre("Run Faldrin.exe style=0 wait=true"));
}

TEST(UsersSeedingWithoutListTest, AListLeftByAnEarlierRunIsUsed) {
  FakeMachine machine;
  machine.files.AddFile(kUsers, "Earlier\r\n");

  SeedUsersAndBaseExecutables(machine.shell, machine.files, Values());

  EXPECT_THAT(machine.files.Content(kInput).value_or(""),
              ::testing::EndsWith(Lines({User("Earlier"), "GO"})));
}

// ------------------------------------------------------------ applications

struct ApplicationsCase {
  std::string name;
  std::string rules;
  std::string executables;
  std::vector<std::string> statements;  // the lines between the first two GOs
};

void PrintTo(const ApplicationsCase& c, std::ostream* out) {
  *out << c.name;
}

class ApplicationsSeedingTest : public ::testing::TestWithParam<ApplicationsCase> {};

TEST_P(ApplicationsSeedingTest, WritesOneBatchOfGroupsByteForByte) {
  const ApplicationsCase& c = GetParam();
  FakeMachine machine;
  machine.files.AddFile("D:\\Quillon\\Applications.list", c.rules);
  machine.files.SetCurrentFolder("D:\\Quillon");
  // The two runs of the executables list writer, under ProgramFiles and windir.
  machine.shell.OnRun([&](const std::string& command, int, bool) {
    if (command == "Gemthorn.exe \"C:\\WINDOWS\"")
      machine.files.AddFile(kExecutables, c.executables);
  });

  SeedApplications(machine.shell, machine.files, Values());

  std::vector<std::string> lines = {"USE Zentrel", "GO"};
  lines.insert(lines.end(), c.statements.begin(), c.statements.end());
  lines.push_back("GO");
  EXPECT_EQ(machine.files.Content(kInput), Lines(lines));
  EXPECT_THAT(machine.journal.Starting("Run"),
              ElementsAre("Run Gemthorn.exe \"C:\\Program Files\" style=0 wait=true",
                          "Run Gemthorn.exe \"C:\\WINDOWS\" style=0 wait=true", kOsql));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ApplicationsSeedingTest,
    ::testing::Values(
        ApplicationsCase{"TheWorkedExample",
                         "Editor;%PROGRAMFILES%\\Editor\\\r\nEditor;%WINDIR%\\NOTEPAD.EXE\r\n"
                         "Paint;%windir%\\system32\\mspaint.exe\r\n",
                         "C:\\Program Files\\Editor\\edit.exe\r\nC:\\WINDOWS\\notepad.exe\r\n"
                         "C:\\WINDOWS\\system32\\mspaint.exe\r\n",
                         {"", App("Editor"), Exe("C:\\PROGRAM FILES\\EDITOR\\EDIT.EXE", "1"),
                          Exe("C:\\WINDOWS\\NOTEPAD.EXE", "1"), "", App("Paint"),
                          Exe("C:\\WINDOWS\\SYSTEM32\\MSPAINT.EXE", "2")}},
        ApplicationsCase{
            "HeadingsRemarksAndBlankLinesDoNotBreakAGroup",
            "[Office]\r\n\r\n   \r\n  Writer ; %ProgramFiles%\\Writer\\ ; extra field\r\n"
            "remark without separator\r\nWriter;%PROGRAMFILES%\\Tools\\SPELL.EXE\r\n",
            "C:\\Program Files\\Writer\\writer.exe\r\nC:\\Program Files\\Tools\\spell.exe\r\n",
            {"", App("Writer"), Exe("C:\\PROGRAM FILES\\WRITER\\WRITER.EXE", "1"),
             Exe("C:\\PROGRAM FILES\\TOOLS\\SPELL.EXE", "1")}},
        ApplicationsCase{
            "TheSameNameAfterAnotherStartsANewApplication",
            "Games;%WINDIR%\\SOL.EXE\r\nPaint;%WINDIR%\\MSPAINT.EXE\r\nGames;%WINDIR%\\"
            "FREECELL.EXE\r\n",
            "C:\\WINDOWS\\sol.exe\r\nC:\\WINDOWS\\mspaint.exe\r\nC:\\WINDOWS\\freecell.exe\r\n",
            {"", App("Games"), Exe("C:\\WINDOWS\\SOL.EXE", "1"), "", App("Paint"),
             Exe("C:\\WINDOWS\\MSPAINT.EXE", "2"), "", App("Games"),
             Exe("C:\\WINDOWS\\FREECELL.EXE", "3")}},
        ApplicationsCase{
            "AGroupsRowComesAtItsFirstMatchAndNamesCompareWithCase",
            "Viewer;%WINDIR%\\NOTHERE.EXE\r\nViewer;%WINDIR%\\VIEW.EXE\r\nviewer;%WINDIR%\\VIEW."
            "EXE\r\nNobody;%WINDIR%\\NONE.EXE\r\n",
            "C:\\WINDOWS\\view.exe\r\n",
            {"", App("Viewer"), Exe("C:\\WINDOWS\\VIEW.EXE", "1"), "", App("viewer"),
             Exe("C:\\WINDOWS\\VIEW.EXE", "2")}},
        ApplicationsCase{"AnExecutableMatchedTwiceInAGroupIsWrittenTwice",
                         "Shell;%WINDIR%\\\r\nShell;EXPLORER\r\n",
                         "C:\\WINDOWS\\explorer.exe\r\n",
                         {"", App("Shell"), Exe("C:\\WINDOWS\\EXPLORER.EXE", "1"),
                          Exe("C:\\WINDOWS\\EXPLORER.EXE", "1")}},
        ApplicationsCase{"AnEmptyPatternMatchesEveryExecutableButNoBlankLine",
                         "Everything;\r\n",
                         "C:\\Program Files\\a.exe\r\n\r\n   \r\n  C:\\WINDOWS\\b.exe  \r\n",
                         {"", App("Everything"), Exe("C:\\PROGRAM FILES\\A.EXE", "1"),
                          Exe("C:\\WINDOWS\\B.EXE", "1")}},
        ApplicationsCase{
            "WindirAloneMatchesEveryPathHoldingTheWindowsFolder",
            "System;%WINDIR%\r\n",
            "C:\\Program Files\\a.exe\r\nC:\\WINDOWS\\b.exe\r\nC:\\WINDOWS\\system32\\c.exe\r\n"
            "C:\\WINDOWS.OLD\\d.exe\r\n",
            {"", App("System"), Exe("C:\\WINDOWS\\B.EXE", "1"),
             Exe("C:\\WINDOWS\\SYSTEM32\\C.EXE", "1"), Exe("C:\\WINDOWS.OLD\\D.EXE", "1")}},
        ApplicationsCase{
            "ApostrophesDoubledInNamesAndPaths",
            "O'Reilly's Reader;%PROGRAMFILES%\\O'Reilly\\\r\n",
            "C:\\Program Files\\O'Reilly\\reader.exe\r\n",
            {"", App("O''Reilly''s Reader"), Exe("C:\\PROGRAM FILES\\O''REILLY\\READER.EXE", "1")}},
        ApplicationsCase{"ALineOfTheSeparatorAloneIsARuleWithoutNameMatchingAll",
                         "[Nothing]\r\n; \r\n",
                         "C:\\WINDOWS\\a.exe\r\n",
                         {"", App(""), Exe("C:\\WINDOWS\\A.EXE", "1")}},
        ApplicationsCase{"NothingMatchingGivesAnEmptyBatch",
                         "Editor;%WINDIR%\\EDIT.EXE\r\n",
                         "C:\\WINDOWS\\notepad.exe\r\n",
                         {}}));

TEST(ApplicationsSeedingWithoutListTest, NoExecutablesListMeansNoFileAndNoClient) {
  FakeMachine machine;
  machine.files.AddFile("C:\\Applications.list", "Editor;\r\n");
  // An older list is deleted before the writers run, which leave none.
  machine.files.AddFile(kExecutables, "C:\\OLD.EXE\r\n");

  SeedApplications(machine.shell, machine.files, Values());

  EXPECT_FALSE(machine.files.FileExists(kInput));
  EXPECT_THAT(machine.journal.entries(),
              ElementsAre(std::string("DeleteFile ") + kExecutables,
                          "Run Gemthorn.exe \"C:\\Program Files\" style=0 wait=true",
                          "Run Gemthorn.exe \"C:\\WINDOWS\" style=0 wait=true"));
}

// ------------------------------------------------ mend: the application counter

TEST(ApplicationCounterTest, CountsPast32767AndStopsOnlyPastTheLargest32BitNumber) {
  EXPECT_EQ(NextApplicationId(0), 1);
  EXPECT_EQ(NextApplicationId(32767), 32768);
  EXPECT_EQ(NextApplicationId(2147483646), 2147483647);
  try {
    NextApplicationId(2147483647);
    ADD_FAILURE() << "no overflow";
  } catch (const HostError& error) {
    EXPECT_EQ(error.number(), error_number::kOverflow);
  }
}

TEST(ApplicationCounterTest, The32768thApplicationIsWrittenWithItsNumber) {
  FakeMachine machine;
  std::string rules;
  for (int i = 1; i <= 32769; ++i) rules += "App" + std::to_string(i) + ";\r\n";
  machine.files.AddFile("C:\\Applications.list", rules);
  machine.files.AddFile("C:\\WINDOWS\\Temp\\one.list", "C:\\WINDOWS\\ONE.EXE\r\n");

  WriteApplicationsInput(machine.files, "C:\\WINDOWS\\Temp\\one.list", "Applications.list", kInput,
                         UpperCasedFolders(Values()));

  EXPECT_THAT(
      machine.files.Content(kInput).value_or(""),
      ::testing::EndsWith(Lines({"", App("App32768"), Exe("C:\\WINDOWS\\ONE.EXE", "32768"), "",
                                 App("App32769"), Exe("C:\\WINDOWS\\ONE.EXE", "32769"), "GO"})));
}

// ------------------------------------------------------------ rule parsing

TEST(ApplicationRuleTest, TokensReplacedInAnyCaseAfterUpperCasingAndTrimming) {
  const PatternFolders folders{"C:\\WIN", "C:\\PF"};
  struct Case {
    std::string line;
    std::optional<ApplicationRule> rule;
  };
  const std::vector<Case> cases = {
      {"  Name ; %programfiles%\\a ", ApplicationRule{"Name", "C:\\PF\\A"}},
      {"N;%WinDir%%WINDIR%", ApplicationRule{"N", "C:\\WINC:\\WIN"}},
      {"N;x%PROGRAMFILES", ApplicationRule{"N", "X%PROGRAMFILES"}},
      {"N", std::nullopt},
      {"", std::nullopt},
      {";", ApplicationRule{"", ""}},
      {"N;a;b;c", ApplicationRule{"N", "A"}},
      {"\tN\t;\tp\t", ApplicationRule{"\tN\t", "\tP\t"}},
  };
  for (const Case& c : cases) {
    const std::optional<ApplicationRule> rule = ParseApplicationRule(c.line, folders);
    ASSERT_EQ(rule.has_value(), c.rule.has_value()) << c.line;
    if (!rule) continue;
    EXPECT_EQ(rule->name, c.rule->name) << c.line;
    EXPECT_EQ(rule->pattern, c.rule->pattern) << c.line;
  }
}

TEST(ApplicationRuleTest, AFolderValueHoldingAWindirTokenIsReplacedAgain) {
  // The programs folder's token goes first; the Windows folder's token is
  // then replaced wherever it stands, also inside the first replacement.
  const PatternFolders folders{"C:\\WIN", "C:\\%WINDIR%"};
  EXPECT_EQ(ParseApplicationRule("N;%PROGRAMFILES%", folders)->pattern, "C:\\C:\\WIN");
}

}  // namespace
}  // namespace quillon

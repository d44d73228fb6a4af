// quillon-machine itself: a fresh machine's tree, registry and environment,
// the creation options, drives, commands run in the machine, and a restart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class MachineToolTest : public ::testing::Test {
 protected:
  TestMachine machine;
};

TEST_F(MachineToolTest, CreatesAnXpMachineAndPrintsItsEnvironment) {
  const ToolResult result = machine.Tool({"create", machine.root(), "--user", "Alice"});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::vector<std::string> expected = {
      "QUILLON_MACHINE=" + machine.root(),
      "ProgramFiles=C:\\Program Files",
      "windir=C:\\WINDOWS",
      "TEMP=C:\\WINDOWS\\Temp",
      "COMPUTERNAME=QUILLON-XP",
      "USERNAME=Administrator",
      "USERPROFILE=C:\\Documents and Settings\\Administrator"};
  EXPECT_THAT(TextLines(machine.Scratch(".stdout")), ::testing::IsSupersetOf(expected));

  for (const char* file :
       {"C:\\WINDOWS\\system32\\cmd.exe", "C:\\WINDOWS\\system32\\wscript.exe",
        "C:\\WINDOWS\\system32\\net.exe", "C:\\WINDOWS\\system32\\sysocmgr.exe",
        "C:\\WINDOWS\\system32\\regini.exe", "C:\\WINDOWS\\system32\\cacls.exe",
        "C:\\WINDOWS\\system32\\osql.exe", "C:\\WINDOWS\\notepad.exe", "C:\\WINDOWS\\explorer.exe",
        "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Binn\\sqlservr.exe",
        "C:\\WINDOWS\\inf\\sysoc.inf", "C:\\Program Files\\Internet Explorer\\iexplore.exe",
        "C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe",
        "C:\\Program Files\\Windows Media Player\\wmplayer.exe"}) {
    EXPECT_TRUE(machine.Exists(file)) << file;
  }
  for (const char* folder : {"C:\\WINDOWS\\Temp", "C:\\Documents and Settings\\Administrator",
                             "C:\\Documents and Settings\\Alice\\Start Menu\\Programs",
                             "C:\\Documents and Settings\\All Users", "C:\\Inetpub\\wwwroot"}) {
    EXPECT_TRUE(std::filesystem::is_directory(machine.Posix(folder))) << folder;
  }
  EXPECT_TRUE(std::filesystem::exists(machine.root() + "/databases/master.sqlite3"));

  EXPECT_EQ(machine.RegistryValue(
                "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\CurrentVersion"),
            "5.1");
  EXPECT_EQ(machine.RegistryValue(
                "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs"),
            "");
  EXPECT_EQ(machine.RegistryValue("HKLM\\SOFTWARE\\Microsoft\\DataAccess\\Version"), "2.81.1117.0");
  EXPECT_EQ(machine.RegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start"), "2");
  EXPECT_EQ(machine.RegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start"),
            "2");
  EXPECT_THAT(machine.RunningServices(), UnorderedElementsAre("W3SVC", "MSSQLServer"));
}

TEST_F(MachineToolTest, OptionsLeaveOutComponentsOrSetTheDataAccessVersion) {
  machine.CreateWithTool({"--no-mdac", "--no-iis", "--no-msde", "--computer-name", "LAB7"});
  EXPECT_FALSE(machine.RegistryValue("HKLM\\SOFTWARE\\Microsoft\\DataAccess\\Version"));
  EXPECT_FALSE(machine.RegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start"));
  EXPECT_FALSE(
      machine.RegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start"));
  EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\system32\\osql.exe"));
  EXPECT_FALSE(machine.Exists("C:\\Program Files\\Microsoft SQL Server"));
  EXPECT_FALSE(machine.Exists("C:\\Inetpub"));
  EXPECT_THAT(machine.RunningServices(), IsEmpty());
  EXPECT_THAT(TextLines(machine.Scratch(".stdout")), Contains("COMPUTERNAME=LAB7"));

  const std::string other = machine.Scratch("other");
  ASSERT_EQ(machine.Tool({"create", other, "--mdac-version", "2.53.6200.0"}).status, 0);
  std::ifstream registry(other + "/registry.reg");
  const std::string text((std::istreambuf_iterator<char>(registry)), {});
  EXPECT_THAT(text, HasSubstr("\"Version\"=\"2.53.6200.0\""));

  EXPECT_EQ(machine.Tool({"create", machine.Scratch("third"), "--no-mdac", "--mdac-version", "2.8"})
                .status,
            2);
}

TEST_F(MachineToolTest, RefusesToCreateOverSomethingAndToWorkOnANonMachine) {
  std::filesystem::create_directories(machine.root());
  std::ofstream(machine.root() + "/keep.txt") << "mine";
  const ToolResult result = machine.Tool({"create", machine.root()});
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.err, HasSubstr("not empty"));
  EXPECT_TRUE(std::filesystem::exists(machine.root() + "/keep.txt"));

  EXPECT_EQ(machine.Tool({"env", machine.root()}).status, 2);
  EXPECT_EQ(machine.Tool({"run", machine.root(), "--", "net.exe start"}).status, 2);
  EXPECT_EQ(machine.Tool({"frobnicate", machine.root()}).status, 2);
}

TEST_F(MachineToolTest, EnvironmentNamesTheUserAndItsProfile) {
  machine.CreateWithTool({"--user", "Bob"});
  const ToolResult result = machine.Tool({"env", machine.root(), "--user", "Bob"});
  ASSERT_EQ(result.status, 0);
  EXPECT_THAT(result.out, HasSubstr("USERNAME=Bob\n"));
  EXPECT_THAT(result.out, HasSubstr("USERPROFILE=C:\\Documents and Settings\\Bob\n"));
  EXPECT_THAT(result.out, HasSubstr("QUILLON_MACHINE=" + machine.root() + "\n"));
}

TEST_F(MachineToolTest, MountsAFolderAsACopyOnAnotherDrive) {
  machine.CreateWithTool();
  const std::string media = machine.Scratch("media");
  std::filesystem::create_directories(media + "/IIS");
  std::ofstream(media + "/IIS/IIS.txt") << "[Components]\n";
  ASSERT_EQ(machine.Tool({"mount", machine.root(), "D:", media}).status, 0);
  EXPECT_EQ(machine.ReadFile("d:\\iis\\iis.txt"), "[Components]\n");

  // A second mount of the letter replaces the first.
  const std::string other = machine.Scratch("other");
  std::filesystem::create_directories(other);
  std::ofstream(other + "/new.txt") << "x";
  ASSERT_EQ(machine.Tool({"mount", machine.root(), "d", other}).status, 0);
  EXPECT_TRUE(machine.Exists("D:\\new.txt"));
  EXPECT_FALSE(machine.Exists("D:\\IIS"));

  EXPECT_EQ(machine.Tool({"mount", machine.root(), "C:", other}).status, 2);
  EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\system32\\cmd.exe"));
  EXPECT_EQ(machine.Tool({"mount", machine.root(), "E:", machine.Scratch("missing")}).status, 2);
}

// The machine's boundary: user and computer names become folder names and
// environment values, so a character Windows forbids in names is refused
// wherever a name is given.
TEST_F(MachineToolTest, RefusesUserAndComputerNamesWithCharactersWindowsForbids) {
  const std::vector<std::string> names = {"x_|_y",
                                          "a<b",
                                          "a>b",
                                          "a:b",
                                          "a\"b",
                                          "a/b",
                                          "a\\b",
                                          "a?b",
                                          "a*b",
                                          "a\nb",
                                          "tab\there",
                                          std::string("a\x01"
                                                      "b"),
                                          "a\x1F",
                                          "",
                                          " padded"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    for (const char* option : {"--user", "--computer-name"}) {
      const std::string root = machine.Scratch("refused");
      const ToolResult result = machine.Tool({"create", root, option, name});
      EXPECT_EQ(result.status, 2) << option;
      EXPECT_THAT(result.err, HasSubstr("cannot be a user account name")) << option;
      EXPECT_FALSE(PosixExists(root)) << option;
    }
  }
  machine.CreateWithTool({"--user", "Bob"});
  const auto profiles = [&] {
    std::vector<std::string> folders;
    for (const auto& entry :
         std::filesystem::directory_iterator(machine.Posix("C:\\Documents and Settings"))) {
      folders.push_back(entry.path().filename().string());
    }
    std::sort(folders.begin(), folders.end());
    return folders;
  };
  const std::vector<std::string> before = profiles();
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(machine.Tool({"env", machine.root(), "--user", name}).status, 2);
    EXPECT_EQ(machine.Tool({"run", machine.root(), "--user", name, "--", "net.exe start"}).status,
              2);
    EXPECT_EQ(machine.Tool({"start", machine.root(), "--user", name, "--", "notepad.exe"}).status,
              2);
  }
  EXPECT_EQ(profiles(), before);
  EXPECT_EQ(machine.Tool({"env", machine.root(), "--user", "Bob"}).status, 0);
}

// The machine's boundary: a drive cannot be a copy of a folder that holds
// the machine (the copy would go on copying itself).
TEST_F(MachineToolTest, RefusesToMountTheMachineIntoItself) {
  TestMachine small(MachineTree::kMinimal);
  const std::string parent = small.root().substr(0, small.root().rfind('/'));
  // A folder that reaches the machine through a link is copied through it.
  const std::string media = small.Scratch("media");
  MakePosixFolders(media + "/Setup");
  std::filesystem::create_directory_symlink(parent, media + "/Setup/link");
  for (const std::string& folder :
       std::vector<std::string>{small.root(), parent, small.root() + "/drive_c/..", media}) {
    const ToolResult result = small.Tool({"mount", small.root(), "D:", folder});
    EXPECT_EQ(result.status, 2) << folder;
    EXPECT_THAT(result.err, HasSubstr("holds the machine")) << folder;
    EXPECT_TRUE(std::filesystem::is_empty(small.InRoot("drive_d"))) << folder;
  }
}

TEST_F(MachineToolTest, RunGivesTheCommandsExitStatusInTheMachinesEnvironment) {
  machine.CreateWithTool();
  machine.WriteFile("C:\\Scripts\\env.vbs",
                    "#!/bin/sh\n"
                    "printf '%s|%s|%s|%s|%s\\n' \"$QUILLON_MACHINE\" \"$windir\" \"$USERNAME\" "
                    "\"$ProgramFiles\" \"$TEMP\"\n"
                    "exit 7\n");
  const ToolResult result = machine.Run("wscript.exe \"C:\\Scripts\\env.vbs\"", "C:\\Scripts");
  EXPECT_EQ(result.status, 7);
  EXPECT_EQ(result.out,
            machine.root() + "|C:\\WINDOWS|Administrator|C:\\Program Files|C:\\WINDOWS\\Temp\n");

  const ToolResult missing = machine.Run("nosuchprogram.exe");
  EXPECT_EQ(missing.status, 127);
  EXPECT_THAT(missing.err, HasSubstr("cannot be found"));
  EXPECT_EQ(machine.Run("net.exe start", "C:\\NoSuchFolder").status, 2);
}

TEST_F(MachineToolTest, SeveralCommandLineArgumentsStayOneArgumentEach) {
  machine.CreateWithTool();
  machine.WriteFile("C:\\Scripts\\args.vbs",
                    "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done\n");
  const ToolResult result = machine.Tool(
      {"run", machine.root(), "--", "wscript.exe", "C:\\Scripts\\args.vbs", "two words", "plain"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "[two words]\n[plain]\n");
}

TEST_F(MachineToolTest, RestartRunsExactlyTheAutomaticServices) {
  machine.CreateWithTool();
  machine.SetRegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start", "3",
                           "REG_DWORD");
  machine.SetRegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\Extra\\Start", "2",
                           "REG_DWORD");
  const ToolResult result = machine.Tool({"restart", machine.root()});
  ASSERT_EQ(result.status, 0);
  EXPECT_THAT(machine.RunningServices(), UnorderedElementsAre("MSSQLServer", "Extra"));
}

TEST_F(MachineToolTest, MediaCarriesTheOutsideInstallersAndTools) {
  const std::string media = machine.Scratch("media");
  ASSERT_EQ(machine.Tool({"media", media}).status, 0);
  for (const char* file : {"MDAC/MDAC_TYP.exe", "MSDE/setup.exe", "MSDE/osql.exe",
                           "MSDE/sqlservr.exe", "RegINI/regini.exe", "Cacls/cacls.exe"}) {
    const std::filesystem::path path = media + "/" + file;
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << file;
    EXPECT_NE(std::filesystem::status(path).permissions() & std::filesystem::perms::owner_exec,
              std::filesystem::perms::none)
        << file;
  }
}

// A wrong command line changes nothing and says what is wrong (status 2);
// --help shows each command's usage (status 0). Values that look like
// commands stay values.
TEST_F(MachineToolTest, WrongCommandLinesAreRefusedClearlyAndEachCommandHasHelp) {
  machine.CreateWithTool({"--user", "Bob", "--user", "web"});
  const std::string root = machine.root();
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{}, "A subcommand is required"},
      {{"frobnicate", root}, "there is no command \"frobnicate\""},
      {{"env", root, "--bogus"}, "not expected: --bogus"},
      {{"env", root, "--user"}, "--user"},
      {{"env", root, "extra"}, "not expected: extra"},
      {{"env"}, "DIR is required"},
      {{"mount", root, "D:"}, "FOLDER is required"},
      {{"start", root, "--", "notepad.exe"}, "--user is required"},
      {{"run", root}, "no -- COMMAND_LINE given"},
      {{"run", root, "--"}, "no command line after --"},
      {{"restart", root, "--", "net.exe start"}, "restart takes no -- COMMAND_LINE"},
      {{"create", machine.Scratch("other"), "--user", "Ann", "Bob"}, "not expected: Bob"},
      {{"create", machine.Scratch("other"), "--no-mdac", "--mdac-version", "2.8"}, "excludes"},
      {{"account", root}, "NAME is required"},
  };
  for (const Case& test : cases) {
    const std::string line = test.arguments.empty() ? "(none)" : test.arguments[0];
    const ToolResult result = machine.Tool(test.arguments);
    EXPECT_EQ(result.status, 2) << line << ": " << result.err;
    EXPECT_THAT(result.err, HasSubstr(test.message)) << line;
    EXPECT_THAT(result.out, IsEmpty()) << line;
  }
  EXPECT_FALSE(std::filesystem::exists(machine.Scratch("other")));

  for (const char* command :
       {"create", "env", "mount", "start", "run", "restart", "media", "open", "account", "web"}) {
    for (const std::vector<std::string>& asked :
         {std::vector<std::string>{command, "--help"}, std::vector<std::string>{"help", command}}) {
      const ToolResult help = machine.Tool(asked);
      EXPECT_EQ(help.status, 0) << command;
      EXPECT_THAT(help.out, HasSubstr(std::string("Usage: quillon-machine ") + command)) << command;
    }
  }
  const ToolResult overall = machine.Tool({"--help"});
  EXPECT_EQ(overall.status, 0);
  EXPECT_THAT(overall.out, HasSubstr("account"));

  // A user named like a command is a user.
  const ToolResult named = machine.Tool({"env", root, "--user", "web"});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_THAT(named.out, HasSubstr("USERNAME=web\n"));
}

}  // namespace
}  // namespace quillon::testing

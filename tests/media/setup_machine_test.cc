// Setup from the assembled media on machines made by quillon-machine: the
// whole two-run installation from a bare machine, the runs that end early
// (already installed, EULA refused, no write access to the registry), the
// setup folder at the root of a drive, and a second installation after an
// uninstall.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::Not;

const std::string kMedia = std::string(QUILLON_MEDIA_DIR);
constexpr char kRegistration[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentrel";
constexpr char kProduct[] = "C:\\Program Files\\Harlwick\\Zentrel";
constexpr char kStartMenuGroup[] =
    "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\Quillon";
constexpr char kCompleted[] = "Quillon setup completed successfully.";
constexpr char kMailerGrant[] =
    "cmd /c cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe\" /T /E /C /G "
    "\"Power Users\":R Users:R Guests:R";

class SetupOnAMachineTest : public ::testing::Test {
 protected:
  // Creates the machine and puts the media on drive D: in D:\Quillon, or
  // with at_root as the drive itself.
  void MakeMachine(TestMachine& machine, const std::vector<std::string>& options,
                   bool at_root = false) {
    machine.CreateWithTool(options);
    // Mounting copies the folder into the machine, so the built media are
    // mounted as they lie (their folder holds only Quillon) rather than
    // through a copy of their own: a machine with its media is over a
    // gigabyte in a sanitizer build.
    const fs::path media(kMedia);
    const std::string disc = at_root ? media.string() : media.parent_path().string();
    const ToolResult mounted = machine.Tool({"mount", machine.root(), "D:", disc});
    ASSERT_EQ(mounted.status, 0) << mounted.err;
    setup_folder_ = at_root ? "D:\\" : "D:\\Quillon";
  }

  // Runs Setup as the administrator, from its own folder, with the answers
  // queued first.
  ToolResult RunSetup(TestMachine& machine, const std::vector<std::string>& answers) {
    for (const std::string& answer : answers) machine.Answer(answer);
    const std::string setup = setup_folder_ == "D:\\" ? "D:\\Setup.exe" : "D:\\Quillon\\Setup.exe";
    return machine.Run(setup, setup_folder_);
  }

  static std::string LastBoxText(const TestMachine& machine) {
    const std::vector<DialogRecord> boxes = machine.Dialogs();
    return boxes.empty() ? "" : boxes.back().text;
  }

  static std::vector<std::string> Commands(const TestMachine& machine) {
    std::vector<std::string> commands;
    for (const RunRecord& run : machine.Runs()) commands.push_back(run.command);
    return commands;
  }

  // Puts a recorder in front of the media's engine setup: it writes its
  // arguments, one per line, beside the machine (outside it) and then runs
  // the real one. Call after MakeMachine.
  static void RecordEngineSetup(TestMachine& machine) {
    const std::string engine = machine.Posix("D:\\Quillon\\MSDE\\setup.exe");
    fs::rename(engine, fs::path(engine).parent_path() / "engine-setup.exe");
    WritePosixFile(engine,
                   "#!/bin/sh\nprintf '%s\\n' \"$@\" >'" + machine.Scratch("engine-arguments") +
                       "'\nexec \"$(dirname \"$0\")/engine-setup.exe\" \"$@\"\n",
                   0755);
  }

  // The administrator password the engine setup was given, or "".
  static std::string EnginePassword(const TestMachine& machine) {
    for (const std::string& argument : TextLines(machine.Scratch("engine-arguments"))) {
      if (argument.rfind("SAPWD=", 0) == 0) return argument.substr(6);
    }
    return "";
  }

  // Every file below the machine root whose bytes hold the text.
  static std::vector<std::string> FilesHolding(const TestMachine& machine,
                                               const std::string& text) {
    std::vector<std::string> holding;
    for (const auto& entry : fs::recursive_directory_iterator(machine.root())) {
      if (entry.is_regular_file() &&
          ReadPosixFile(entry.path().string()).find(text) != std::string::npos) {
        holding.push_back(entry.path().string());
      }
    }
    return holding;
  }

  std::string setup_folder_;
};

bool IsDrawnPassword(const std::string& password) {
  return password.size() == 12 && std::all_of(password.begin(), password.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '@' || c == '#' || c == '$';
         });
}

TEST_F(SetupOnAMachineTest, BareMachineTakesTwoRunsAndARestartThenEverythingIsInPlace) {
  TestMachine machine;
  MakeMachine(machine,
              {"--no-mdac", "--no-iis", "--no-msde", "--user", "Alice", "--user", "o'Brien"});
  RecordEngineSetup(machine);

  // First run: the EULA, the three components, the restart request.
  ToolResult result = RunSetup(machine, {"Yes", "OK", "OK", "OK", "OK"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(LastBoxText(machine), HasSubstr("Please restart your computer"));
  EXPECT_EQ(machine.RegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start"),
            "2");
  EXPECT_FALSE(machine.Exists(kProduct));
  const std::string password = EnginePassword(machine);
  EXPECT_TRUE(IsDrawnPassword(password)) << password;

  ASSERT_EQ(machine.Tool({"restart", machine.root()}).status, 0);
  result = RunSetup(machine, {"Yes", "admin@example.com", "mail.example.com", "OK"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(LastBoxText(machine), kCompleted);

  // Registration, hooking and files.
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "Zentrel.dll");
  EXPECT_EQ(machine.RegistryValue(std::string(kRegistration) + "\\DisplayName"), "Quillon");
  EXPECT_EQ(machine.RegistryValue(std::string(kRegistration) + "\\UninstallString"),
            "\"C:\\Program Files\\Harlwick\\Zentrel\\Uninstall\\Uninstall.exe\"");
  for (const std::string file :
       {"Zentrel.exe", "Zentrel.ini", "Corvane.exe", "Dusmere.exe", "Config\\ZentrelConfig.exe",
        "Config\\ZentrelAdmin.exe", "Uninstall\\Uninstall.exe"}) {
    EXPECT_TRUE(machine.Exists(std::string(kProduct) + "\\" + file)) << file;
  }
  EXPECT_TRUE(machine.Exists(kHookLibrary));
  EXPECT_EQ(machine.TreeBelow(kStartMenuGroup).size(), 5u);  // the five shortcuts
  EXPECT_TRUE(machine.Exists("C:\\Inetpub\\wwwroot\\Zentrel\\Default.htm"));

  // The seeded database: every profile's user, the base executables, the
  // applications of the media's list that the machine carries.
  const std::string database = machine.InRoot("databases/Zentrel.sqlite3");
  EXPECT_THAT(QueryRows(database, "SELECT user_name, user_status FROM USERS ORDER BY user_id"),
              ElementsAre(TestRow{"Administrator", "DISABLED"}, TestRow{"Alice", "DISABLED"},
                          TestRow{"o'Brien", "DISABLED"}));
  EXPECT_EQ(CountRows(database, "APP_EXES WHERE app_id = -1"), 9);
  std::vector<std::string> applications;
  for (const TestRow& row : QueryRows(database, "SELECT app_name FROM APPS")) {
    applications.push_back(*row[0]);
  }
  EXPECT_THAT(applications, IsSupersetOf({"Notepad", "WordPad", "Paint", "Calculator",
                                          "Internet Explorer", "Games", "Command Prompt"}));
  EXPECT_EQ(QueryValue(database,
                       "SELECT a.app_name FROM APPS a JOIN APP_EXES e ON e.app_id = "
                       "a.app_id WHERE e.exe_path = 'C:\\WINDOWS\\NOTEPAD.EXE'"),
            "Notepad");
  // The administrators' command line reaches the installed database.
  const ToolResult admin = machine.Run(
      "\"C:\\Program Files\\Harlwick\\Zentrel\\Config\\ZentrelAdmin.exe\" explain Alice "
      "C:\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_EQ(admin.status, 0) << admin.err;
  EXPECT_THAT(admin.out, HasSubstr("Allowed: the user is not controlled")) << admin.out;

  // The mailer may be started by every user: the grant after Dusmere's.
  const std::vector<std::string> commands = Commands(machine);
  const auto dusmere = std::find_if(commands.begin(), commands.end(), [](const std::string& c) {
    return c.find("Dusmere.exe") != std::string::npos;
  });
  ASSERT_NE(dusmere, commands.end());
  ASSERT_NE(dusmere + 1, commands.end());
  EXPECT_EQ(*(dusmere + 1), kMailerGrant);

  // The engine's password was handed to its setup only: nothing on the
  // machine holds it, nor the logs beside it.
  EXPECT_THAT(FilesHolding(machine, password), ::testing::IsEmpty());
  for (const std::string& line : machine.RunLines()) EXPECT_THAT(line, Not(HasSubstr(password)));

  // Another bare machine's engine gets another password.
  TestMachine other;
  MakeMachine(other, {"--no-msde"});
  RecordEngineSetup(other);
  ASSERT_EQ(RunSetup(other, {"Yes", "OK", "OK"}).status, 0);
  const std::string other_password = EnginePassword(other);
  EXPECT_TRUE(IsDrawnPassword(other_password)) << other_password;
  EXPECT_NE(other_password, password);

  // Setup again: already installed; the privilege test has emptied the value.
  result = RunSetup(machine, {"Yes", "OK"});
  EXPECT_THAT(LastBoxText(machine), HasSubstr("Quillon is already installed."));
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "");
}

TEST_F(SetupOnAMachineTest, SetupFolderAtADriveRootAndASecondInstallationAfterAnUninstall) {
  TestMachine machine;
  MakeMachine(machine, {"--user", "Alice"}, true);

  ASSERT_EQ(RunSetup(machine, {"Yes", "admin@example.com", "mail.example.com", "OK"}).status, 0);
  EXPECT_EQ(LastBoxText(machine), kCompleted);
  // Paths joined to "D:\" hold two backslashes and still reach the media.
  EXPECT_THAT(Commands(machine),
              ::testing::Contains(
                  "cmd.exe /c wscript.exe \"D:\\\\Program Files\\Harlwick\\Zentrel\\Install\\"
                  "Install Zentrel Database\\Install Zentrel Database.vbs\""));
  const std::string database = machine.InRoot("databases/Zentrel.sqlite3");
  EXPECT_EQ(CountRows(database, "USERS"), 2);

  machine.Answer("OK");
  ASSERT_EQ(machine.Run(std::string("\"") + kProduct + "\\Uninstall\\Uninstall.exe\"").status, 0);
  EXPECT_FALSE(machine.RegistryValue(std::string(kRegistration) + "\\DisplayName"));
  EXPECT_FALSE(PosixExists(database));

  ASSERT_EQ(RunSetup(machine, {"Yes", "admin@example.com", "mail.example.com", "OK"}).status, 0);
  EXPECT_EQ(LastBoxText(machine), kCompleted);
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "Zentrel.dll");
  EXPECT_EQ(machine.RegistryValue(std::string(kRegistration) + "\\DisplayName"), "Quillon");
  EXPECT_EQ(CountRows(database, "USERS"), 2);
  EXPECT_GT(CountRows(database, "APPS"), 0);
  EXPECT_TRUE(machine.Exists(std::string(kStartMenuGroup) + "\\Turn Quillon Off.lnk"));
}

TEST_F(SetupOnAMachineTest, RefusedEulaAndNoRegistryAccessEndSetupBeforeAnythingIsInstalled) {
  TestMachine machine;
  MakeMachine(machine, {});
  machine.SetRegistryValue(kAppInitDllsValue, "Other.dll");

  // A user who cannot write the registry: the privilege message, nothing else.
  // The dialog log beside the machine, open to that user.
  WritePosixFile(machine.Scratch("dialogs.log"), "", 0666);
  const std::string errors = machine.Scratch("setup.err");
  if (!UnprivilegedUserCanRun(BinPath("quillon-machine"))) {
    GTEST_SKIP() << "the build tree is closed to unprivileged users";
  }
  const int status = machine.RunToolUnprivileged(
      {"run", machine.root(), "--cwd", "D:\\Quillon", "--", "D:\\Quillon\\Setup.exe"}, errors);
  EXPECT_EQ(status, 0) << ReadPosixFile(errors);
  EXPECT_THAT(LastBoxText(machine),
              HasSubstr("You must be logged on as a user with administrative privileges"));
  EXPECT_EQ(machine.Dialogs().size(), 1u);
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "Other.dll");

  // The administrator refuses the EULA: WordPad showed it, hooking is off,
  // nothing is installed.
  RunSetup(machine, {"No", "OK"});
  EXPECT_THAT(LastBoxText(machine), HasSubstr("Setup will now exit."));
  EXPECT_THAT(Commands(machine),
              ::testing::Contains("\"C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe\" "
                                  "\"D:\\Quillon\\EULA.rtf\""));
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "");
  EXPECT_FALSE(machine.Exists(kProduct));
  EXPECT_FALSE(machine.RegistryValue(std::string(kRegistration) + "\\DisplayName"));
}

}  // namespace
}  // namespace quillon::testing

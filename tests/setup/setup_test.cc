// Setup against the recording fakes: the exact order of a complete run, the
// three refusals, the first run that installs the database engine, and the
// error stretches: a failure where Setup stops ends it with the error report
// and nothing after it; a failure where it skips costs only that operation.
#include "setup/setup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "fakes/fake_host.h"
#include "shared/helpers/text.h"
#include "shared/program_main.h"

namespace quillon {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeMachine;
using ::testing::IsEmpty;

constexpr char kAppInitDlls[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";
constexpr char kRegistration[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentrel";
constexpr char kDataAccess[] = "HKLM\\SOFTWARE\\Microsoft\\DataAccess\\Version";
constexpr char kW3svc[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start";
constexpr char kMssql[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start";
constexpr char kWindowsVersion[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\CurrentVersion";

constexpr char kMedia[] = "D:\\Quillon";
constexpr char kProduct[] = "C:\\Program Files\\Harlwick\\Zentrel";
constexpr char kTemp[] = "C:\\WINDOWS\\Temp";
constexpr char kLibrary[] = "C:\\WINDOWS\\system32\\Zentrel.dll";

constexpr char kEulaQuestion[] =
    "MsgBox 36 \"End User License Agreement\" \"In order for setup to continue you must agree to "
    "the terms stated in the End User License Agreement (EULA). Do you agree to the terms stated "
    "in the EULA?\"";
constexpr char kAddressPrompt[] =
    "If you would like users to be able to request access via e-mail when they are denied access "
    "to a particular program, please enter an administrative e-mail address. If you leave this "
    "blank, this feature will be disabled.";
constexpr char kServerPrompt[] =
    "If you would like users to be able to request access via e-mail when they are denied access "
    "to a particular program, please enter an SMTP server that will be used to deliver these "
    "e-mail messages. If you leave this blank, this feature will be disabled.";

std::string M(const std::string& relative) {
  return std::string(kMedia) + "\\" + relative;
}
std::string P(const std::string& relative) {
  return std::string(kProduct) + "\\" + relative;
}
std::string Started(const std::string& command, int style, bool wait) {
  return "Run " + command + " style=" + std::to_string(style) +
         " wait=" + (wait ? "true" : "false");
}
std::string Hidden(const std::string& command) {
  return Started(command, 0, true);
}
std::string Box(int style, const std::string& title, const std::string& text, int answer = 1) {
  return "MsgBox " + std::to_string(style) + " \"" + title + "\" \"" + text + "\" -> " +
         std::to_string(answer);
}
std::string SetupBox(int style, const std::string& text) {
  return Box(style, "Quillon Setup", text);
}
std::string Refusal(const std::string& text) {
  return Box(16, "Error!", text);
}
std::string ErrorReport(const std::string& text) {
  return Box(16, "Setup", text);
}
std::string Write(const std::string& path, const std::string& line) {
  return "Write " + path + " \"" + line + "\r\n\"";
}
std::string RegWrite(const std::string& path, const std::string& data, const std::string& type) {
  return "RegWrite " + path + " = \"" + data + "\" " + type;
}

const std::string kNoRights = Refusal(
    "You must be logged on as a user with administrative privileges to install Quillon. Setup "
    "will now exit.");
const std::string kEulaRefused = Refusal(
    "In order for setup to continue you must agree to the terms stated in the End User License "
    "Agreement (EULA). Setup will now exit.");
const std::string kAlreadyInstalled = Refusal(
    "Quillon is already installed. If you want to reinstall the product, first uninstall it and "
    "then re-run Setup.exe. Setup will now exit.");
const std::string kCompletion = SetupBox(64, "Quillon setup completed successfully.");
const std::string kBrowser = Started(
    "\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" http://localhost/Zentrel/", 1, false);
const std::string kDataAccessBox = SetupBox(
    64,
    "Microsoft Data Access Components 2.8 (MDAC) must be installed before the installation "
    "process can continue. Click OK to install MDAC now. If you are prompted to restart after the "
    "MDAC installation is complete, choose to restart later.");
const std::string kWebServerMissingBox =
    SetupBox(64,
             "Microsoft Internet Information Services (IIS) must be installed and started before "
             "the installation process can continue. Click OK to install IIS now.");
const std::string kWebServerManualBox = SetupBox(
    64,
    "Microsoft Internet Information Services (IIS) appears to be installed but the service is not "
    "setup to start automatically with Windows. The service must be setup to automatically start "
    "with Windows and it must be started before the installation process can continue.");
const std::string kEngineMissingBox = SetupBox(
    64,
    "Microsoft SQL Server Desktop Engine (MSDE) must be installed and started before the "
    "installation process can continue. Click OK to install MSDE now. You will need to restart "
    "your computer after MSDE is installed, then re-run Setup.exe to proceed with the "
    "installation of Quillon.");
const std::string kRestartBox = SetupBox(
    0,
    "Please restart your computer to complete the MSDE setup process, then re-run Setup.exe to "
    "proceed with the installation of Quillon. Setup will now exit.");
const std::string kEngineManualBox = SetupBox(
    64,
    "Microsoft SQL Server Desktop Engine (MSDE) appears to be installed but the service is not "
    "setup to start automatically with Windows. The service must be setup to automatically start "
    "with Windows and it must be started before the installation process can continue. Click OK "
    "to start MSDE and set the service to start automatically when Windows starts.");
const std::string kActiveServerPagesBox = SetupBox(
    64,
    "Setup has detected that you are running Windows Server 2003 or above. By default, the use "
    "of Active Server Pages is set as prohibited in the Internet Information Services (IIS) "
    "Manager. You will need to allow the use of Active Server Pages before accessing the Zentrel "
    "administrative web site. Please see the Readme.txt file for more information.");

// The grants of the product folder, in their order.
std::vector<std::string> Grants() {
  const std::string readable = " /T /E /C /G \"Power Users\":R Users:R Guests:R";
  return {
      Hidden("cmd /c regini.exe \"D:\\Quillon\\RegINI\\RegINI.txt\""),
      Hidden("cmd /c cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\" /T /C /G "
             "Administrators:F SYSTEM:F < \"D:\\Quillon\\Cacls\\Yes.txt\""),
      Hidden("cmd /c cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\\Logs\" /T /E /C /G "
             "\"Power Users\":C Users:C Guests:C"),
      Hidden("cmd /c cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe\"" + readable),
      Hidden("cmd /c cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini\"" + readable),
      Hidden("cmd /c cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\\Dusmere.exe\"" + readable),
      Hidden("cmd /c cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe\"" + readable),
  };
}

// A machine with the components in place, the media on D: and Setup started
// from the media's folder; the list writers leave what the real ones would.
void PrepareMachine(FakeMachine& machine) {
  machine.program_folder = kMedia;
  machine.files.SetCurrentFolder(kMedia);
  machine.shell.SetValue(kAppInitDlls, "Other.dll");
  machine.shell.SetValue(kDataAccess, "2.81.1117.0");
  machine.shell.SetValue(kW3svc, "2", "REG_DWORD");
  machine.shell.SetValue(kMssql, "2", "REG_DWORD");
  machine.shell.SetValue(kWindowsVersion, "5.1");

  machine.files.AddFile(M("Setup.exe"), "setup");
  machine.files.AddFile(M("EULA.rtf"), "licence");
  machine.files.AddFile(M("IIS\\IIS.txt"), "answers");
  machine.files.AddFile(M("RegINI\\regini.exe"), "regini");
  machine.files.AddFile(M("RegINI\\RegINI.txt"), "rights");
  machine.files.AddFile(M("Cacls\\cacls.exe"), "cacls");
  machine.files.AddFile(M("Cacls\\Yes.txt"), "Y\r\n");
  machine.files.AddFile(M("AppInit_DLLs\\Zentrel.dll"), "new hook library");
  machine.files.AddFile(M("Applications.list"), "[Editors]\r\nEditor;%WINDIR%\\NOTEPAD.EXE\r\n");
  machine.files.AddFile(M("Program Files\\Harlwick\\Zentrel\\Zentrel.exe"), "checker");
  machine.files.AddFile(M("Program Files\\Harlwick\\Zentrel\\Zentrel.ini"), "shipped");
  machine.files.AddFile(M("Program Files\\Harlwick\\Zentrel\\Corvane.exe"), "mailer");
  machine.files.AddFile(M("Program Files\\Harlwick\\Zentrel\\Dusmere.exe"), "tool");
  machine.files.AddFolder(M("Program Files\\Harlwick\\Zentrel\\Logs"));
  machine.files.AddFile(M("Program Files\\Harlwick\\Zentrel\\Config\\ZentrelConfig.exe"));
  machine.files.AddFile(M("Program Files\\Harlwick\\Zentrel\\Uninstall\\Uninstall.exe"));
  machine.files.AddFile(M("Start Menu\\Quillon\\Uninstall Quillon.lnk"), "shortcut");

  machine.shell.OnRun([&machine](const std::string& command, int, bool) {
    if (command == "Faldrin.exe") {
      machine.files.AddFile(std::string(kTemp) + "\\ZentrelUsers.list",
                            "Administrator\r\nClerk\r\n");
    } else if (command.rfind("Gemthorn.exe ", 0) == 0) {
      const std::string list = std::string(kTemp) + "\\ZentrelEXEs.list";
      const std::string found = command == "Gemthorn.exe \"C:\\WINDOWS\""
                                    ? "C:\\WINDOWS\\notepad.exe\r\n"
                                    : "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe\r\n";
      machine.files.AddFile(list, machine.files.Content(list).value_or("") + found);
    }
  });
}

// Runs Setup as its program does; boxes take the answers queued, by default
// Yes to the licence and an address and a server.
int RunSetupOn(FakeMachine& machine, const std::string& arguments = "",
               bool answers_queued = false) {
  if (!answers_queued) {
    machine.dialogs.Answer(kIdYes);
    machine.dialogs.Type("admin@example.com");
    machine.dialogs.Type("mail.example.com");
  }
  Host host = machine.host();
  return RunProgramBody(host, "Setup", arguments, RunSetup);
}

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override { PrepareMachine(machine_); }

  int RunSetupProgram(const std::string& arguments = "") {
    return RunSetupOn(machine_, arguments, answers_queued_);
  }
  // The test queues its own answers.
  void Answer(std::initializer_list<int> buttons,
              std::initializer_list<std::optional<std::string>> texts = {}) {
    for (int button : buttons) machine_.dialogs.Answer(button);
    for (const auto& text : texts) machine_.dialogs.Type(text);
    answers_queued_ = true;
  }

  // The journal of a complete run on the machine of SetUp.
  static std::vector<std::string> FullRun() {
    const std::string input = std::string(kTemp) + "\\OSQL.input";
    const std::string osql = Hidden("osql.exe -E -i \"C:\\WINDOWS\\Temp\\OSQL.input\"");
    const std::string key = std::string(kRegistration) + "\\";
    const std::string uninstaller =
        "\"C:\\Program Files\\Harlwick\\Zentrel\\Uninstall\\Uninstall.exe\"";
    std::vector<std::string> journal = {
        RegWrite(kAppInitDlls, "", "REG_SZ"),
        Started("\"C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe\" "
                "\"D:\\Quillon\\EULA.rtf\"",
                1, false),
        "Sleep 2000",
        std::string(kEulaQuestion) + " -> 6",
        "RegRead " + key + "DisplayName [failed]",
        std::string("RegRead ") + kDataAccess,
        std::string("RegRead ") + kW3svc,
        std::string("RegRead ") + kMssql,
        // Product files, settings, Start Menu, registration, scripts.
        "CopyFolder Program Files\\Harlwick -> C:\\Program Files\\",
        "InputBox \"Quillon Setup\" \"" + std::string(kAddressPrompt) +
            "\" -> \"admin@example.com\"",
        "InputBox \"Quillon Setup\" \"" + std::string(kServerPrompt) + "\" -> \"mail.example.com\"",
        "OpenTextFile " + P("Zentrel.ini") + " mode=2 create",
        Write(P("Zentrel.ini"), "adminemail: admin@example.com;"),
        Write(P("Zentrel.ini"), "smtpserver: mail.example.com;"),
        "CopyFolder Start Menu\\Quillon -> C:\\Documents and Settings\\Administrator\\Start "
        "Menu\\Programs\\",
        "RegWrite " + key + "DisplayIcon = \"" + uninstaller + "\" REG_SZ",
        RegWrite(key + "DisplayName", "Quillon", "REG_SZ"),
        RegWrite(key + "NoModify", "1", "REG_DWORD"),
        RegWrite(key + "NoRepair", "1", "REG_DWORD"),
        "RegWrite " + key + "UninstallString = \"" + uninstaller + "\" REG_SZ",
        Hidden("cmd.exe /c wscript.exe \"D:\\Quillon\\Program Files\\Harlwick\\Zentrel\\Install\\"
               "Install Zentrel Database\\Install Zentrel Database.vbs\""),
        Hidden("cmd.exe /c wscript.exe \"D:\\Quillon\\Program Files\\Harlwick\\Zentrel\\Install\\"
               "Install Zentrel Web Site\\Install Zentrel Web Site.vbs\""),
        // Permissions.
        "CopyFile RegINI\\regini.exe -> C:\\WINDOWS\\system32\\",
        "CopyFile Cacls\\cacls.exe -> C:\\WINDOWS\\system32\\",
    };
    for (const std::string& grant : Grants()) journal.push_back(grant);
    const std::vector<std::string> rest = {
        // Users and base executables.
        Hidden("Faldrin.exe"),
        "OpenTextFile " + input + " mode=2 create",
        Write(input, "USE Zentrel"),
        Write(input, "GO"),
        Write(input, ""),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES "
              "('C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CONFIG\\ZENTRELCONFIG.EXE', '-1')"),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES "
              "('C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\DUSMERE.EXE', '-1')"),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\WINDOWS\\EXPLORER.EXE', "
              "'-1')"),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\WINDOWS\\HH.EXE', '-1')"),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\WINDOWS\\WINHELP.EXE', '-1')"),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES "
              "('C:\\WINDOWS\\SYSTEM32\\NET.EXE', '-1')"),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES "
              "('C:\\WINDOWS\\SYSTEM32\\NET1.EXE', '-1')"),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES "
              "('C:\\WINDOWS\\SYSTEM32\\USERINIT.EXE', '-1')"),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES "
              "('C:\\WINDOWS\\SYSTEM32\\WINHLP32.EXE', '-1')"),
        Write(input, "GO"),
        Write(input, ""),
        "OpenTextFile C:\\WINDOWS\\Temp\\ZentrelUsers.list mode=1",
        Write(input,
              "INSERT INTO USERS (user_name, user_status) VALUES ('Administrator', 'DISABLED')"),
        Write(input, "INSERT INTO USERS (user_name, user_status) VALUES ('Clerk', 'DISABLED')"),
        Write(input, "GO"),
        osql,
        // Applications.
        Hidden("Gemthorn.exe \"C:\\Program Files\""),
        Hidden("Gemthorn.exe \"C:\\WINDOWS\""),
        "OpenTextFile " + input + " mode=2 create",
        Write(input, "USE Zentrel"),
        Write(input, "GO"),
        "OpenTextFile C:\\WINDOWS\\Temp\\ZentrelEXEs.list mode=1",
        "OpenTextFile Applications.list mode=1",
        Write(input, ""),
        Write(input, "INSERT INTO APPS (app_name) VALUES ('Editor')"),
        Write(input,
              "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\WINDOWS\\NOTEPAD.EXE', '1')"),
        Write(input, "GO"),
        osql,
        // Hook library, hooking on, completion.
        std::string("CopyFile AppInit_DLLs\\Zentrel.dll -> C:\\WINDOWS\\system32\\"),
        std::string("RegRead ") + kWindowsVersion,
        RegWrite(kAppInitDlls, "Zentrel.dll", "REG_SZ"),
        kCompletion,
        kBrowser,
    };
    journal.insert(journal.end(), rest.begin(), rest.end());
    return journal;
  }

  // The index in FullRun() of the first entry of an operation on a target
  // (without regard to case), after `passing` earlier ones.
  static std::size_t IndexOf(const std::string& operation, const std::string& target,
                             std::size_t passing = 0) {
    const std::vector<std::string> full = FullRun();
    for (std::size_t i = 0; i < full.size(); ++i) {
      if (full[i].rfind(operation + " ", 0) == 0 &&
          UpperCase(full[i]).find(UpperCase(target)) != std::string::npos && passing-- == 0) {
        return i;
      }
    }
    ADD_FAILURE() << "no " << operation << " " << target << " in a complete run";
    return full.size();
  }

  FakeMachine machine_;
  bool answers_queued_ = false;
};

// -------------------------------------------------------------- complete run

TEST_F(SetupTest, InstallsInTheOrderOfItsStepsAndEndsWithHookingOnAndTheBrowser) {
  EXPECT_EQ(RunSetupProgram(), 0);

  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(FullRun()));
  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "Zentrel.dll");
  EXPECT_EQ(machine_.files.Content(P("Zentrel.ini")),
            "adminemail: admin@example.com;\r\nsmtpserver: mail.example.com;\r\n");
  EXPECT_EQ(machine_.files.Content(P("Corvane.exe")), "mailer");
  EXPECT_EQ(machine_.files.Content(
                "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\Quillon\\"
                "Uninstall Quillon.lnk"),
            "shortcut");
  EXPECT_EQ(machine_.files.Content(kLibrary), "new hook library");
  EXPECT_EQ(machine_.shell.ValueType(std::string(kRegistration) + "\\NoModify"), "REG_DWORD");
}

TEST_F(SetupTest, ArgumentsChangeNothing) {
  EXPECT_EQ(RunSetupProgram("/q /uninstall \"C:\\elsewhere\""), 0);

  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(FullRun()));
}

TEST_F(SetupTest, FromTheRootOfADrivePathsHoldTwoBackslashesAsComposed) {
  machine_.program_folder = "D:\\";

  ASSERT_EQ(RunSetupProgram(), 0);

  const std::vector<std::string> runs = machine_.journal.Starting("Run ");
  EXPECT_THAT(runs, ::testing::Contains(::testing::HasSubstr("\"D:\\\\EULA.rtf\"")));
  EXPECT_THAT(runs, ::testing::Contains(::testing::HasSubstr(
                        "wscript.exe \"D:\\\\Program Files\\Harlwick\\Zentrel\\Install\\")));
  EXPECT_THAT(runs, ::testing::Contains(::testing::HasSubstr("regini.exe \"D:\\\\RegINI")));
  EXPECT_THAT(runs, ::testing::Contains(::testing::HasSubstr("< \"D:\\\\Cacls\\Yes.txt\"")));
}

TEST_F(SetupTest, ToolsAlreadyInTheSystemFolderAreNeitherCopiedNorReplaced) {
  machine_.files.AddFile("C:\\WINDOWS\\system32\\regini.exe", "system regini");
  machine_.files.AddFile("C:\\WINDOWS\\system32\\cacls.exe", "system cacls");

  ASSERT_EQ(RunSetupProgram(), 0);

  EXPECT_THAT(machine_.journal.Starting("CopyFile"),
              ElementsAre("CopyFile AppInit_DLLs\\Zentrel.dll -> C:\\WINDOWS\\system32\\"));
  EXPECT_EQ(machine_.files.Content("C:\\WINDOWS\\system32\\cacls.exe"), "system cacls");
}

TEST_F(SetupTest, UsersAndTheMailerGetTheirRightsAfterTheListIsReplaced) {
  ASSERT_EQ(RunSetupProgram(), 0);

  const std::vector<std::string> runs = machine_.journal.Starting("Run cmd /c ");
  EXPECT_THAT(runs, ElementsAreArray(Grants()));
}

TEST_F(SetupTest, EmptyAnswersWriteKeysAlone) {
  Answer({kIdYes}, {std::nullopt, "  "});

  ASSERT_EQ(RunSetupProgram(), 0);

  EXPECT_EQ(machine_.files.Content(P("Zentrel.ini")), "adminemail: ;\r\nsmtpserver: ;\r\n");
}

// ------------------------------------------------------------------ refusals

TEST_F(SetupTest, WithoutRightsUnderHklmItRefusesBeforeTheLicenceAndChangesNothing) {
  machine_.faults.Fail("RegWrite", "", error_number::kAccessDenied, "Access is denied.");

  EXPECT_EQ(RunSetupProgram(), 0);

  EXPECT_THAT(machine_.journal.entries(),
              ElementsAre(RegWrite(kAppInitDlls, "", "REG_SZ") + " [failed]", kNoRights));
  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "Other.dll");
}

TEST_F(SetupTest, RefusingTheLicenceEndsSetupWithHookingLeftOff) {
  Answer({kIdNo});

  EXPECT_EQ(RunSetupProgram(), 0);

  const std::vector<std::string> full = FullRun();
  EXPECT_THAT(
      machine_.journal.entries(),
      ElementsAre(full[0], full[1], full[2], std::string(kEulaQuestion) + " -> 7", kEulaRefused));
  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "");
}

class InstalledNameTest : public SetupTest,
                          public ::testing::WithParamInterface<std::pair<std::string, bool>> {};

TEST_P(InstalledNameTest, OnlyTheExactProductNameCountsAsInstalled) {
  const auto& [name, installed] = GetParam();
  machine_.shell.SetValue(std::string(kRegistration) + "\\DisplayName", name);

  EXPECT_EQ(RunSetupProgram(), 0);

  const std::vector<std::string>& journal = machine_.journal.entries();
  if (installed) {
    ASSERT_EQ(journal.size(), 6u);
    EXPECT_EQ(journal[4], "RegRead " + std::string(kRegistration) + "\\DisplayName");
    EXPECT_EQ(journal[5], kAlreadyInstalled);
    EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "");
  } else {
    EXPECT_EQ(journal.back(), kBrowser);
  }
}

INSTANTIATE_TEST_SUITE_P(Names, InstalledNameTest,
                         ::testing::Values(std::pair<std::string, bool>{"Quillon", true},
                                           std::pair<std::string, bool>{"QUILLON", false},
                                           std::pair<std::string, bool>{"quillon", false},
                                           std::pair<std::string, bool>{"Quillon ", false},
                                           std::pair<std::string, bool>{"", false}));

// ------------------------------------------------------------ prerequisites

TEST_F(SetupTest, OnABareMachineTheFirstRunInstallsTheComponentsAndAsksForARestart) {
  machine_.shell.RegDelete(kDataAccess);
  machine_.shell.RegDelete(kW3svc);
  machine_.shell.RegDelete(kMssql);
  machine_.journal.Clear();

  EXPECT_EQ(RunSetupProgram(), 0);

  const std::vector<std::string>& journal = machine_.journal.entries();
  const std::vector<std::string> full = FullRun();
  ASSERT_EQ(journal.size(), 16u);
  EXPECT_THAT(std::vector<std::string>(journal.begin(), journal.begin() + 5),
              ElementsAreArray(full.begin(), full.begin() + 5));
  EXPECT_EQ(journal[5], std::string("RegRead ") + kDataAccess + " [failed]");
  EXPECT_EQ(journal[6], kDataAccessBox);
  EXPECT_EQ(journal[7], Started("MDAC\\MDAC_TYP.exe", 1, true));
  EXPECT_EQ(journal[8], std::string("RegRead ") + kW3svc + " [failed]");
  EXPECT_EQ(journal[9], kWebServerMissingBox);
  EXPECT_EQ(journal[10], Started("sysocmgr.exe /i:\"C:\\WINDOWS\\inf\\sysoc.inf\" "
                                 "/u:\"D:\\Quillon\\IIS\\IIS.txt\"",
                                 1, true));
  EXPECT_EQ(journal[11], std::string("RegRead ") + kMssql + " [failed]");
  EXPECT_EQ(journal[12], kEngineMissingBox);
  // The password is 12 characters of letters, digits and @ # $ (checked by
  // hand: the regular expressions of the Windows test build know no classes).
  const std::string before = "Run MSDE\\setup.exe SAPWD=";
  const std::string after = " DISABLENETWORKPROTOCOLS=1 style=1 wait=true";
  ASSERT_EQ(journal[13].size(), before.size() + 12 + after.size()) << journal[13];
  EXPECT_EQ(journal[13].substr(0, before.size()), before);
  EXPECT_EQ(journal[13].substr(before.size() + 12), after);
  EXPECT_EQ(
      journal[13]
          .substr(before.size(), 12)
          .find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@#$"),
      std::string::npos)
      << journal[13];
  EXPECT_EQ(journal[14], Hidden("net.exe start MSSQLSERVER"));
  EXPECT_EQ(journal[15], kRestartBox);
  EXPECT_FALSE(machine_.files.FolderExists(kProduct));
}

TEST_F(SetupTest, ServicesNotStartingWithWindowsAreSetToAndStartedThenSetupGoesOn) {
  machine_.shell.SetValue(kW3svc, "3", "REG_DWORD");
  machine_.shell.SetValue(kMssql, "4", "REG_DWORD");

  EXPECT_EQ(RunSetupProgram(), 0);

  std::vector<std::string> expected = FullRun();
  const std::size_t web = IndexOf("RegRead", kW3svc);
  expected.insert(
      expected.begin() + static_cast<long>(web) + 1,
      {kWebServerManualBox, RegWrite(kW3svc, "2", "REG_DWORD"), Hidden("net.exe start W3SVC")});
  const std::size_t engine = web + 4;
  expected.insert(
      expected.begin() + static_cast<long>(engine) + 1,
      {kEngineManualBox, RegWrite(kMssql, "2", "REG_DWORD"), Hidden("net.exe start MSSQLServer")});
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
  EXPECT_EQ(machine_.shell.Value(kW3svc), "2");
  EXPECT_EQ(machine_.shell.Value(kMssql), "2");
}

struct VersionCase {
  std::string version;
  bool out_of_date;
};

void PrintTo(const VersionCase& c, std::ostream* out) {
  *out << "\"" << c.version << "\"";
}

class DataAccessVersionTest : public SetupTest,
                              public ::testing::WithParamInterface<VersionCase> {};

TEST_P(DataAccessVersionTest, InstallsTheComponentsExactlyWhenOutOfDate) {
  EXPECT_EQ(DataAccessOutOfDate(GetParam().version), GetParam().out_of_date);

  machine_.shell.SetValue(kDataAccess, GetParam().version);
  ASSERT_EQ(RunSetupProgram(), 0);
  const bool installed = !machine_.journal.Starting("Run MDAC\\MDAC_TYP.exe").empty();
  EXPECT_EQ(installed, GetParam().out_of_date);
  EXPECT_EQ(machine_.journal.entries().back(), kBrowser);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, DataAccessVersionTest,
    ::testing::Values(VersionCase{"", true}, VersionCase{"2.8", false},
                      VersionCase{"2.80.1022.0", false}, VersionCase{"2.81.1117.0", false},
                      VersionCase{"2.71.9030.0", true}, VersionCase{"2.53.6200.0", true},
                      VersionCase{"1.5", true}, VersionCase{"2.10.0", true},
                      VersionCase{"3.0", false}, VersionCase{"6.0.6000.0", false},
                      VersionCase{"10.0", true}, VersionCase{"2a", true}, VersionCase{"6.x", true},
                      VersionCase{"x.9", true}, VersionCase{"2.9", false}));

// ---------------------------------------------- mend: the engine's password

TEST_F(SetupTest, EachRunDrawsItsOwnPasswordAndKeepsItNowhereElse) {
  machine_.shell.RegDelete(kMssql);
  std::vector<std::string> passwords;
  for (int run = 0; run < 2; ++run) {
    machine_.journal.Clear();
    Answer({kIdYes});
    ASSERT_EQ(RunSetupProgram(), 0);
    const std::vector<std::string> starts = machine_.journal.Starting("Run MSDE\\setup.exe");
    ASSERT_EQ(starts.size(), 1u);
    std::smatch found;
    ASSERT_TRUE(std::regex_search(starts[0], found, std::regex("SAPWD=(\\S+) ")));
    passwords.push_back(found[1]);
    // Only that command line carries it.
    std::size_t mentions = 0;
    for (const std::string& entry : machine_.journal.entries()) {
      mentions += entry.find(passwords.back()) != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(mentions, 1u);
    for (const std::string& path : machine_.files.Tree()) {
      EXPECT_EQ(machine_.files.Content(path).value_or("").find(passwords.back()), std::string::npos)
          << path;
    }
  }
  EXPECT_NE(passwords[0], passwords[1]);
}

TEST_F(SetupTest, WithoutARandomSourceTheEngineSetupIsSkippedNeverRunWithAWeakPassword) {
  machine_.shell.RegDelete(kMssql);
  machine_.faults.Fail("Random", "", error_number::kUnspecified, "no entropy");
  machine_.journal.Clear();

  EXPECT_EQ(RunSetupProgram(), 0);

  EXPECT_THAT(machine_.journal.Starting("Run MSDE"), IsEmpty());
  const std::vector<std::string>& journal = machine_.journal.entries();
  ASSERT_GE(journal.size(), 3u);
  EXPECT_EQ(journal[journal.size() - 3], kEngineMissingBox);
  EXPECT_EQ(journal[journal.size() - 2], Hidden("net.exe start MSSQLSERVER"));
  EXPECT_EQ(journal.back(), kRestartBox);
}

TEST(EnginePasswordTest, TakesEveryAlphabetCharacterEquallyAndDrawsAgainAboveTheLastFullRound) {
  testing::FaultSwitches faults;
  testing::FakeRandom random(faults);
  // 195 and up (3 x 65) are drawn again; the rest map onto the 65 characters.
  random.Queue({0, 195, 25, 26, 255, 51, 52, 61, 62, 63, 64, 65, 129, 194, 196, 130});
  EXPECT_EQ(DrawEnginePassword(random), "AZaz09@#$A$$");

  for (int run = 0; run < 50; ++run) {
    const std::string password = DrawEnginePassword(random);
    EXPECT_EQ(password.size(), 12u);
    EXPECT_EQ(password.find_first_not_of(kPasswordAlphabet), std::string::npos) << password;
  }
  EXPECT_EQ(DatabaseEngineSetupCommand("Ab3@Cd4#Ef5$"),
            "MSDE\\setup.exe SAPWD=Ab3@Cd4#Ef5$ DISABLENETWORKPROTOCOLS=1");
}

// -------------------------------------------- failures in the skipping stretches

struct SkipCase {
  std::string operation;
  std::string target;
};

void PrintTo(const SkipCase& c, std::ostream* out) {
  *out << c.operation << " " << c.target;
}

// Every prerequisite needs work, so each of their operations runs, and an
// earlier hook library is in place.
void PrepareWorkForEverySkippedOperation(FakeMachine& machine) {
  machine.shell.SetValue(kDataAccess, "2.5");
  machine.shell.SetValue(kW3svc, "3", "REG_DWORD");
  machine.shell.SetValue(kMssql, "3", "REG_DWORD");
  machine.files.AddFile(kLibrary, "old hook library");
  machine.shell.SetValue(std::string(kRegistration) + "\\DisplayName", "Another product");
}

class SkippingStretchTest : public SetupTest, public ::testing::WithParamInterface<SkipCase> {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    PrepareWorkForEverySkippedOperation(machine_);
  }
};

TEST_P(SkippingStretchTest, AFailureCostsOnlyItsOwnOperation) {
  // The run without the failure.
  const std::vector<std::string> expected_entries = [&] {
    FakeMachine reference;
    PrepareMachine(reference);
    PrepareWorkForEverySkippedOperation(reference);
    EXPECT_EQ(RunSetupOn(reference), 0);
    std::vector<std::string> entries = reference.journal.entries();
    bool marked = false;
    for (auto& entry : entries) {
      if (!marked && entry.rfind(GetParam().operation + " ", 0) == 0 &&
          UpperCase(entry).find(UpperCase(GetParam().target)) != std::string::npos) {
        entry += " [failed]";
        marked = true;
      }
    }
    EXPECT_TRUE(marked) << "the operation never ran";
    return entries;
  }();
  machine_.faults.Fail(GetParam().operation, GetParam().target);

  EXPECT_EQ(RunSetupProgram(), 0);

  std::vector<std::string> expected = expected_entries;
  if (GetParam().operation == "DeleteFile") {
    // The library still there is moved aside before the copy.
    const auto copy = std::find_if(expected.begin(), expected.end(), [](const std::string& e) {
      return e.rfind("CopyFile AppInit_DLLs", 0) == 0;
    });
    expected.insert(copy, std::string("MoveFile ") + kLibrary + " -> " + kLibrary + ".old");
  }
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "Zentrel.dll");
}

INSTANTIATE_TEST_SUITE_P(
    Operations, SkippingStretchTest,
    ::testing::Values(SkipCase{"Run", "wordpad.exe"}, SkipCase{"RegRead", "DisplayName"},
                      SkipCase{"Run", "MDAC_TYP.exe"}, SkipCase{"RegWrite", "W3SVC"},
                      SkipCase{"Run", "start W3SVC"}, SkipCase{"RegWrite", "MSSQLServer"},
                      SkipCase{"Run", "start MSSQLServer"}, SkipCase{"DeleteFile", "Zentrel.dll"},
                      SkipCase{"CopyFile", "AppInit_DLLs"}));

TEST_F(SetupTest, AnUnreadableVersionValueCountsAsOutOfDate) {
  machine_.faults.Fail("RegRead", "DataAccess");

  ASSERT_EQ(RunSetupProgram(), 0);

  EXPECT_THAT(machine_.journal.Starting("Run MDAC"),
              ElementsAre(Started("MDAC\\MDAC_TYP.exe", 1, true)));
  EXPECT_EQ(machine_.journal.entries().back(), kBrowser);
}

TEST_F(SetupTest, ALibraryThatCannotBeDeletedIsMovedAsideAndTheNewOneCopiedBesideIt) {
  machine_.files.AddFile(kLibrary, "old hook library");
  machine_.faults.Fail("DeleteFile", "Zentrel.dll");

  ASSERT_EQ(RunSetupProgram(), 0);

  EXPECT_EQ(machine_.files.Content(std::string(kLibrary) + ".old"), "old hook library");
  EXPECT_EQ(machine_.files.Content(kLibrary), "new hook library");
}

TEST_F(SetupTest, AnEarlierRetiredLibraryMakesTheMoveFailAndTheCopyStillReplacesTheLibrary) {
  machine_.files.AddFile(kLibrary, "old hook library");
  machine_.files.AddFile(std::string(kLibrary) + ".old", "retired library");
  machine_.faults.Fail("DeleteFile", "Zentrel.dll");

  ASSERT_EQ(RunSetupProgram(), 0);

  EXPECT_THAT(
      machine_.journal.Starting("MoveFile"),
      ElementsAre(std::string("MoveFile ") + kLibrary + " -> " + kLibrary + ".old [failed]"));
  EXPECT_EQ(machine_.files.Content(std::string(kLibrary) + ".old"), "retired library");
  EXPECT_EQ(machine_.files.Content(kLibrary), "new hook library");
  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "Zentrel.dll");
}

TEST_F(SetupTest, MediaWithoutTheLibraryStillTurnHookingOn) {
  machine_.files.DeleteFile(M("AppInit_DLLs\\Zentrel.dll"), true);
  machine_.journal.Clear();

  ASSERT_EQ(RunSetupProgram(), 0);

  std::vector<std::string> expected = FullRun();
  expected[IndexOf("CopyFile", "AppInit_DLLs")] += " [failed]";
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
}

// ------------------------------------------- failures in the stopping stretches

struct StopCase {
  std::string operation;
  std::string target;
  std::size_t passing;  // earlier operations on the same target that succeed
};

void PrintTo(const StopCase& c, std::ostream* out) {
  *out << c.operation << " " << c.target << " #" << c.passing + 1;
}

class StoppingStretchTest : public SetupTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StoppingStretchTest, AFailureEndsSetupThereWithTheErrorReport) {
  const StopCase& c = GetParam();
  machine_.faults.FailAfter(c.passing, c.operation, c.target, error_number::kPermissionDenied,
                            "Permission denied");

  EXPECT_EQ(RunSetupProgram(), 1);

  const std::vector<std::string> full = FullRun();
  const std::size_t failing = IndexOf(c.operation, c.target, c.passing);
  std::vector<std::string> expected(full.begin(), full.begin() + static_cast<long>(failing));
  expected.push_back(full[failing] + " [failed]");
  expected.push_back(ErrorReport("Error 70: Permission denied"));
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
  if (failing < IndexOf("RegWrite", "AppInit_DLLs", 1)) {
    EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, StoppingStretchTest,
    ::testing::Values(
        // Product files, settings, registration, scripts.
        StopCase{"CopyFolder", "Program Files\\Harlwick", 0},
        StopCase{"OpenTextFile", "Zentrel.ini", 0}, StopCase{"CopyFolder", "Start Menu", 0},
        StopCase{"RegWrite", "DisplayIcon", 0}, StopCase{"RegWrite", "DisplayName", 0},
        StopCase{"RegWrite", "NoModify", 0}, StopCase{"RegWrite", "NoRepair", 0},
        StopCase{"RegWrite", "UninstallString", 0}, StopCase{"Run", "Install Zentrel Database", 0},
        StopCase{"Run", "Install Zentrel Web Site", 0},
        // Permissions.
        StopCase{"CopyFile", "regini.exe", 0}, StopCase{"CopyFile", "cacls.exe", 0},
        StopCase{"Run", "regini.exe", 0}, StopCase{"Run", "Administrators:F", 0},
        StopCase{"Run", "Zentrel\\Logs", 0}, StopCase{"Run", "Zentrel.exe\" /T", 0},
        StopCase{"Run", "Zentrel.ini\" /T", 0}, StopCase{"Run", "Dusmere.exe", 0},
        StopCase{"Run", "Corvane.exe", 0},
        // Seeding.
        StopCase{"Run", "Faldrin.exe", 0}, StopCase{"OpenTextFile", "OSQL.input", 0},
        StopCase{"OpenTextFile", "ZentrelUsers.list", 0}, StopCase{"Run", "osql.exe", 0},
        StopCase{"Run", "Gemthorn.exe \"C:\\Program Files\"", 0},
        StopCase{"Run", "Gemthorn.exe \"C:\\WINDOWS\"", 0},
        StopCase{"OpenTextFile", "OSQL.input", 1}, StopCase{"OpenTextFile", "ZentrelEXEs.list", 0},
        StopCase{"OpenTextFile", "Applications.list", 0}, StopCase{"Run", "osql.exe", 1},
        // Hooking on and completion.
        StopCase{"RegRead", "Windows NT\\CurrentVersion\\CurrentVersion", 0},
        StopCase{"RegWrite", "AppInit_DLLs", 1}, StopCase{"Run", "iexplore.exe", 0}));

TEST_F(SetupTest, AnExecutablesListThatCannotBeDeletedStopsSetupBeforeTheListWriters) {
  machine_.files.AddFile(std::string(kTemp) + "\\ZentrelEXEs.list", "C:\\OLD.EXE\r\n");
  machine_.faults.Fail("DeleteFile", "ZentrelEXEs.list");

  EXPECT_EQ(RunSetupProgram(), 1);

  const std::vector<std::string>& journal = machine_.journal.entries();
  ASSERT_GE(journal.size(), 2u);
  EXPECT_EQ(journal[journal.size() - 2], "DeleteFile C:\\WINDOWS\\Temp\\ZentrelEXEs.list [failed]");
  EXPECT_EQ(journal.back(), ErrorReport("Error 70: Permission denied"));
  EXPECT_THAT(machine_.journal.Starting("Run Gemthorn"), IsEmpty());
}

// ---------------------------------------------------- the server warning

struct ServerCase {
  std::string version;
  bool warned;
};

void PrintTo(const ServerCase& c, std::ostream* out) {
  *out << "\"" << c.version << "\"";
}

class ServerWarningTest : public SetupTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(ServerWarningTest, ComesBeforeHookingOnForServer2003AndLater) {
  machine_.shell.SetValue(kWindowsVersion, GetParam().version);

  ASSERT_EQ(RunSetupProgram(), 0);

  std::vector<std::string> expected = FullRun();
  if (GetParam().warned) {
    expected.insert(expected.begin() + static_cast<long>(IndexOf("RegRead", kWindowsVersion)) + 1,
                    kActiveServerPagesBox);
  }
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(Versions, ServerWarningTest,
                         ::testing::Values(ServerCase{"5.0", false}, ServerCase{"5.1", false},
                                           ServerCase{"5.2", true}, ServerCase{"6.0", true},
                                           ServerCase{"6.1", true}, ServerCase{"10.0", false},
                                           ServerCase{"5", false}, ServerCase{"", false}));

TEST_F(SetupTest, AVersionThatIsNoNumberStopsSetupBeforeHookingOn) {
  machine_.shell.SetValue(kWindowsVersion, "5.x");

  EXPECT_EQ(RunSetupProgram(), 1);

  const std::vector<std::string>& journal = machine_.journal.entries();
  EXPECT_EQ(journal.back(), ErrorReport("Error 13: Type mismatch"));
  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "");
}

}  // namespace
}  // namespace quillon

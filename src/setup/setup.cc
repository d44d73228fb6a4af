#include "setup/setup.h"

#include "setup/seeding.h"
#include "shared/helpers/hooking_value.h"
#include "shared/helpers/product.h"
#include "shared/helpers/script_command.h"
#include "shared/helpers/settings.h"
#include "shared/helpers/skipping.h"
#include "shared/host_error.h"

namespace quillon {

namespace {

constexpr char kNoPrivilegesText[] =
    "You must be logged on as a user with administrative privileges to install Quillon. Setup "
    "will now exit.";
constexpr char kEulaQuestionText[] =
    "In order for setup to continue you must agree to the terms stated in the End User License "
    "Agreement (EULA). Do you agree to the terms stated in the EULA?";
constexpr char kEulaTitle[] = "End User License Agreement";
constexpr char kEulaRefusedText[] =
    "In order for setup to continue you must agree to the terms stated in the End User License "
    "Agreement (EULA). Setup will now exit.";
constexpr char kAlreadyInstalledText[] =
    "Quillon is already installed. If you want to reinstall the product, first uninstall it and "
    "then re-run Setup.exe. Setup will now exit.";
constexpr char kActiveServerPagesText[] =
    "Setup has detected that you are running Windows Server 2003 or above. By default, the use "
    "of Active Server Pages is set as prohibited in the Internet Information Services (IIS) "
    "Manager. You will need to allow the use of Active Server Pages before accessing the Zentrel "
    "administrative web site. Please see the Readme.txt file for more information.";
constexpr char kCompletedText[] = "Quillon setup completed successfully.";

// The head start the licence viewer gets before the question comes up.
constexpr std::uint32_t kEulaViewerHeadStart = 2000;

constexpr char kProductName[] = "Quillon";
constexpr char kWindowsVersion[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\CurrentVersion";

// The media's product tree, the Start Menu group and the install scripts.
constexpr char kMediaProductTree[] = "Program Files\\Harlwick";
constexpr char kMediaStartMenuGroup[] = "Start Menu\\Quillon";
constexpr char kDatabaseInstallScript[] =
    "\\Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Database\\Install Zentrel "
    "Database.vbs";
constexpr char kWebSiteInstallScript[] =
    "\\Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Web Site\\Install Zentrel Web "
    "Site.vbs";

// What ordinary users may read in the product folder, in the order granted:
// the checker, the settings file, the request tool and the mailer that the
// checker starts under the launching user's account.
constexpr const char* kReadableByUsers[] = {"\\Zentrel.exe", "\\Zentrel.ini", "\\Dusmere.exe",
                                            "\\Corvane.exe"};

constexpr char kMediaHookLibrary[] = "AppInit_DLLs\\Zentrel.dll";
constexpr char kBrowserSuffix[] = "\\Internet Explorer\\iexplore.exe";
constexpr char kAdministrationAddress[] = "http://localhost/Zentrel/";

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// ------------------------------------------------------------ start-up

SetupValues ReadSetupValues(HostShell& shell, const std::string& program_folder) {
  SetupValues values;
  values.windir = shell.Environment("windir");
  values.program_files = shell.Environment("ProgramFiles");
  values.temp = shell.Environment("TEMP");
  values.setup_folder = program_folder;
  return values;
}

void Refuse(Dialogs& dialogs, const char* text) {
  dialogs.MsgBox(text, kMbIconError, kRefusalTitle);
}

// Writing the hooking value is the test of administrative rights; the empty
// value it writes also keeps hooking off until the installation is complete.
bool MayChangeTheMachine(HostShell& shell) {
  return Succeeded(
      [&] { shell.RegWrite(kAppInitDllsPath, kHookingDisabledForm, kAppInitDllsType); });
}

// The licence in the word processor, left open; whether it could be started
// is not looked at.
void ShowEula(HostShell& shell, Processes& processes, const SetupValues& values) {
  const std::string viewer = values.program_files + "\\Windows NT\\Accessories\\wordpad.exe";
  Skipping([&] {
    shell.Run(Quoted(viewer) + " " + Quoted(values.setup_folder + "\\EULA.rtf"), kWindowNormal,
              false);
  });
  processes.Sleep(kEulaViewerHeadStart);
}

bool AgreesToEula(Dialogs& dialogs) {
  return dialogs.MsgBox(kEulaQuestionText, kMbYesNo | kMbIconQuestion, kEulaTitle) != kIdNo;
}

bool AlreadyInstalled(HostShell& shell) {
  const std::string name = Skipping(
      [&] { return shell.RegRead(std::string(kUninstallRegistrationKey) + "\\DisplayName"); });
  return name == kProductName;
}

// ------------------------------------------------- product files and registration

void CopyProductTree(HostFileSystem& files, const SetupValues& values) {
  files.CopyFolder(kMediaProductTree, values.program_files + "\\", true);
}

void CopyStartMenuGroup(HostShell& shell, HostFileSystem& files) {
  files.CopyFolder(kMediaStartMenuGroup, shell.SpecialFolders("StartMenu") + "\\Programs\\", true);
}

void WriteUninstallRegistration(HostShell& shell, const SetupValues& values) {
  const std::string key = std::string(kUninstallRegistrationKey) + "\\";
  const std::string uninstaller =
      Quoted(values.program_files + kProductFolderSuffix + "\\Uninstall\\Uninstall.exe");
  shell.RegWrite(key + "DisplayIcon", uninstaller, "REG_SZ");
  shell.RegWrite(key + "DisplayName", kProductName, "REG_SZ");
  shell.RegWrite(key + "NoModify", "1", "REG_DWORD");
  shell.RegWrite(key + "NoRepair", "1", "REG_DWORD");
  shell.RegWrite(key + "UninstallString", uninstaller, "REG_SZ");
}

// The database and the web site, each script run from the media and waited for.
void RunInstallScripts(HostShell& shell, const SetupValues& values) {
  shell.Run(ScriptCommand(values.setup_folder + kDatabaseInstallScript), kWindowHidden, true);
  shell.Run(ScriptCommand(values.setup_folder + kWebSiteInstallScript), kWindowHidden, true);
}

// ------------------------------------------------------------ permissions

// A permission tool from the media, copied into the system folder only when
// the system has none.
void CopyToolIfMissing(HostFileSystem& files, const SetupValues& values,
                       const std::string& media_tool, const std::string& tool_name) {
  const std::string system_folder = values.windir + "\\system32\\";
  if (!files.FileExists(system_folder + tool_name)) {
    files.CopyFile(media_tool, system_folder, true);
  }
}

void RunHidden(HostShell& shell, const std::string& command) {
  shell.Run(command, kWindowHidden, true);
}

// The registry permissions of the media's script, then the product folder:
// closed to all but administrators and the system (the tool's confirmation
// answered from the media), then the log folder writable and the files the
// checker needs readable by ordinary users. The first grant replaces the
// whole list, so it must come first.
void GrantPermissions(HostShell& shell, const SetupValues& values) {
  const std::string product = values.program_files + kProductFolderSuffix;
  RunHidden(shell, "cmd /c regini.exe " + Quoted(values.setup_folder + "\\RegINI\\RegINI.txt"));
  RunHidden(shell, "cmd /c cacls.exe " + Quoted(product) +
                       " /T /C /G Administrators:F SYSTEM:F < " +
                       Quoted(values.setup_folder + "\\Cacls\\Yes.txt"));
  RunHidden(shell, "cmd /c cacls.exe " + Quoted(product + "\\Logs") +
                       " /T /E /C /G \"Power Users\":C Users:C Guests:C");
  for (const char* readable : kReadableByUsers) {
    RunHidden(shell, "cmd /c cacls.exe " + Quoted(product + readable) +
                         " /T /E /C /G \"Power Users\":R Users:R Guests:R");
  }
}

// ------------------------------------------------------------ hook library

// Puts the media's hook library into the system folder. A library in use
// that cannot be deleted is moved aside first. Each failing operation is
// skipped.
void ReplaceHookLibrary(HostFileSystem& files, const SetupValues& values) {
  const std::string library = values.windir + "\\system32\\" + kHookingEnabledForm;
  if (Skipping([&] { return files.FileExists(library); })) {
    Skipping([&] { files.DeleteFile(library, true); });
    if (Skipping([&] { return files.FileExists(library); })) {
      Skipping([&] { files.MoveFile(library, library + ".old"); });
    }
  }
  Skipping([&] { files.CopyFile(kMediaHookLibrary, values.windir + "\\system32\\", true); });
}

// A character of the version text as a number.
int VersionDigit(char c) {
  if (c < '0' || c > '9') throw StandardError(error_number::kTypeMismatch);
  return c - '0';
}

// True for a Windows version text ("5.2", "6.0") of a system whose web
// server forbids Active Server Pages until allowed: three characters, and
// 5.2 or above.
bool WarnsAboutActiveServerPages(const std::string& version) {
  if (version.size() != 3) return false;
  const int first = VersionDigit(version.front());
  const int last = VersionDigit(version.back());
  return (first == 5 && last > 1) || first > 5;
}

void WarnOnServerSystems(HostShell& shell, Dialogs& dialogs) {
  if (WarnsAboutActiveServerPages(shell.RegRead(kWindowsVersion))) {
    dialogs.MsgBox(kActiveServerPagesText, kMbIconInformation, kSetupTitle);
  }
}

std::string BrowserCommand(const SetupValues& values) {
  return Quoted(values.program_files + kBrowserSuffix) + " " + kAdministrationAddress;
}

}  // namespace

void RunSetup(Host& host, const std::string& /*argument_text*/) {
  // Start-up traps nothing: a failure ends Setup with the error report.
  HostShell& shell = host.shell;
  Dialogs& dialogs = host.dialogs;
  const SetupValues values = ReadSetupValues(shell, host.program_folder());

  // From here to the end of the prerequisites, each failing operation is
  // skipped where it stands; the rights test is the one failure looked at.
  // The boxes are not skipped: Setup never goes on past an unanswered one.
  if (!MayChangeTheMachine(shell)) return Refuse(dialogs, kNoPrivilegesText);
  ShowEula(shell, host.processes, values);
  if (!AgreesToEula(dialogs)) return Refuse(dialogs, kEulaRefusedText);
  if (AlreadyInstalled(shell)) return Refuse(dialogs, kAlreadyInstalledText);
  EnsureDataAccessComponents(shell, dialogs);
  EnsureWebServer(shell, dialogs, values);
  if (EnsureDatabaseEngine(shell, dialogs, host.random) == EngineOutcome::kRestartNeeded) return;

  // Product files, settings, registration, permissions and seeding stop at
  // the first failure.
  HostFileSystem& files = host.files;
  CopyProductTree(files, values);
  WriteMailSettings(dialogs, files, values.program_files + kSettingsFileSuffix);
  CopyStartMenuGroup(shell, files);
  WriteUninstallRegistration(shell, values);
  RunInstallScripts(shell, values);
  CopyToolIfMissing(files, values, "RegINI\\regini.exe", "regini.exe");
  CopyToolIfMissing(files, values, "Cacls\\cacls.exe", "cacls.exe");
  GrantPermissions(shell, values);
  SeedUsersAndBaseExecutables(shell, files, values);
  SeedApplications(shell, files, values);

  // The hook library is put in place skipping each failing operation.
  ReplaceHookLibrary(files, values);

  // Hooking on and completion stop at a failure again.
  WarnOnServerSystems(shell, dialogs);
  shell.RegWrite(kAppInitDllsPath, kHookingEnabledForm, kAppInitDllsType);
  dialogs.MsgBox(kCompletedText, kMbIconInformation, kSetupTitle);
  shell.Run(BrowserCommand(values), kWindowNormal, false);
}

}  // namespace quillon

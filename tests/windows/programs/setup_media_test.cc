// Setup.exe from the Windows setup media, as a Windows process: the two-run
// installation of a machine without data access components, web server and
// database engine (the restart between the runs included), then
// Uninstall.exe on that installation. The boxes are real windows answered
// as a person would. What Wine lacks is stood in for by the argument
// recorder, which notes each start: the outside installers (MDAC, MSDE), the
// optional-component manager, the database client, the permission tools,
// WordPad and the browser. Wine's own command interpreter and script host run
// the media's VBScript install and removal scripts for real.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <iostream>

#include "programs/program_fixture.h"
#include "shared/win32/win32_shell.h"
#include "support/window_driver.h"

namespace quillon::testing {
namespace {

constexpr char kAppInitDlls[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";
constexpr char kRegistration[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentrel";
constexpr char kDataAccessVersion[] = "HKLM\\SOFTWARE\\Microsoft\\DataAccess\\Version";
constexpr char kWindowsVersion[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\CurrentVersion";
constexpr char kServices[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\";

// Copies a folder with everything below it.
void CopyTree(const std::string& from, const std::string& to) {
  MakeFolders(to);
  WIN32_FIND_DATAA entry{};
  HANDLE search = FindFirstFileA((from + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot list " + from);
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CopyTree(from + "\\" + name, to + "\\" + name);
    } else if (!CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE)) {
      throw std::runtime_error("cannot copy " + from + "\\" + name);
    }
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

// A program of the Wine installation replaced by the recorder for the life
// of the object.
class ReplacedProgram {
 public:
  explicit ReplacedProgram(std::string path) : path_(std::move(path)), original_(ReadBytes(path_)) {
    WriteBytes(path_, ReadBytes(BuildFolder() + "\\argument_recorder.exe").value());
  }
  ReplacedProgram(const ReplacedProgram&) = delete;
  ReplacedProgram& operator=(const ReplacedProgram&) = delete;
  ~ReplacedProgram() {
    // The recorder may still be ending: a few tries before giving up.
    for (int attempt = 0; attempt < 50; ++attempt) {
      try {
        if (original_) {
          WriteBytes(path_, *original_);
        } else {
          DeleteFileA(path_.c_str());
        }
        return;
      } catch (const std::runtime_error&) {
        Sleep(100);
      }
    }
  }

 private:
  std::string path_;
  std::optional<std::string> original_;
};

// The current directory of this process (and so of what it starts).
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& folder) {
    char earlier[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(sizeof earlier, earlier);
    earlier_ = earlier;
    SetCurrentDirectoryA(folder.c_str());
  }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;
  ~ScopedCurrentDirectory() { SetCurrentDirectoryA(earlier_.c_str()); }

 private:
  std::string earlier_;
};

// A registry key removed afterwards when it was not there before.
class KeyLeftAsFound {
 public:
  explicit KeyLeftAsFound(std::string key)
      : key_(std::move(key)), existed_(RegistryKeyExists(key_)) {}
  KeyLeftAsFound(const KeyLeftAsFound&) = delete;
  KeyLeftAsFound& operator=(const KeyLeftAsFound&) = delete;
  ~KeyLeftAsFound() {
    if (!existed_) DeleteRegistryTree(key_);
  }

 private:
  std::string key_;
  bool existed_;
};

std::string Text(const std::optional<std::pair<DWORD, std::vector<BYTE>>>& value) {
  if (!value) return "(missing)";
  return std::string(value->second.begin(), value->second.end()).c_str();
}

// What the system's shell reads from a shell link.
struct ShellLinkSeen {
  std::string arguments, working_directory, description;
};

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; *text != 0; ++text) narrow += static_cast<char>(*text < 0x80 ? *text : '?');
  return narrow;
}

std::optional<ShellLinkSeen> ReadShellLink(const std::string& path) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::optional<ShellLinkSeen> seen;
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  const std::wstring wide_path(path.begin(), path.end());
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(wide_path.c_str(), STGM_READ))) {
    wchar_t text[1024] = {};
    seen.emplace();
    text[0] = 0;
    if (SUCCEEDED(link->GetArguments(text, 1024))) seen->arguments = Narrow(text);
    text[0] = 0;
    if (SUCCEEDED(link->GetWorkingDirectory(text, 1024))) seen->working_directory = Narrow(text);
    text[0] = 0;
    if (SUCCEEDED(link->GetDescription(text, 1024))) seen->description = Narrow(text);
  }
  if (file != nullptr) file->Release();
  if (link != nullptr) link->Release();
  CoUninitialize();
  return seen;
}

// One box a run is expected to show and how it is answered.
struct ExpectedBox {
  const char* title;
  const char* text_part;  // a part of its text
  const char* button;
  std::optional<std::string> typed = std::nullopt;
};

class SetupMediaTest : public ::testing::Test {
 protected:
  SetupMediaTest() {
    machine.UseRealWindows();
    CopyTree(BuildFolder() + "\\..\\media\\Quillon", media);
    const std::string recorder = BuildFolder() + "\\argument_recorder.exe";
    // The outside installers and the permission tools on the media; the
    // system's tools the system lacks, in a folder first on the path.
    for (const std::string& tool : {media + "\\MDAC\\MDAC_TYP.exe", media + "\\MSDE\\setup.exe",
                                    media + "\\RegINI\\regini.exe", media + "\\Cacls\\cacls.exe",
                                    system32 + "\\osql.exe", system32 + "\\sysocmgr.exe"}) {
      MakeFolders(tool.substr(0, tool.find_last_of('\\')));
      CopyFileA(recorder.c_str(), tool.c_str(), FALSE);
    }
    // A program an application rule of the media matches.
    WriteBytes(system32 + "\\calc.exe", "a calculator");
  }

  void SetUp() override {
    ASSERT_FALSE(RegistryKeyExists(kRegistration)) << "an installation is registered";
    ASSERT_FALSE(Exists(start_menu_group)) << "an installation has a Start Menu group";
  }

  void TearDown() override {
    DeleteRegistryTree(kRegistration);
    DeleteTree(start_menu_group);
  }

  // Runs a program to its end, answering its boxes in order; the time it
  // took in milliseconds.
  ULONGLONG RunAnswering(const std::string& command, const std::vector<ExpectedBox>& boxes) {
    const ULONGLONG start = GetTickCount64();
    StartedProcess program(command);
    EXPECT_TRUE(program.started()) << command;
    for (const ExpectedBox& expected : boxes) {
      HWND box = WaitForBox(expected.title, 60000);
      if (box == nullptr) {
        ADD_FAILURE() << "no box \"" << expected.title << "\" with \"" << expected.text_part
                      << "\"";
        break;
      }
      const BoxSeen seen = ReadBox(box);
      EXPECT_NE(seen.text.find(expected.text_part), std::string::npos)
          << "box \"" << seen.title << "\" shows: " << seen.text;
      if (expected.typed) {
        EXPECT_TRUE(TypeIntoField(box, *expected.typed));
      }
      EXPECT_TRUE(PressButton(box, expected.button)) << seen.title << ": " << seen.text;
      // The next box may carry the same title: wait until this one is gone.
      for (int i = 0; i < 500 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(20);
    }
    EXPECT_TRUE(program.WaitForEnd(120000)) << command;
    EXPECT_EQ(program.ExitCode(), 0u) << command;
    return GetTickCount64() - start;
  }

  std::string Started() const { return ReadBytes(machine.scratch("started.txt")).value_or(""); }
  bool StartedWith(const std::string& part) const {
    return Started().find(part) != std::string::npos;
  }
  // For a program Setup does not wait for: its record may come later.
  bool EventuallyStartedWith(const std::string& part) const {
    for (int i = 0; i < 300 && !StartedWith(part); ++i) Sleep(100);
    return StartedWith(part);
  }

  ProgramMachine machine;
  std::string media = machine.scratch("CD\\Quillon");
  std::string system32 = machine.windir() + "\\system32";
  std::string temp = machine.scratch("Temp");
  std::string start_menu_group = Win32Shell().SpecialFolders("StartMenu") + "\\Programs\\Quillon";

  ScopedVariable temp_variable{"TEMP", temp};
  ScopedVariable path_variable{"PATH", system32 + ";" + VariableOf("PATH").value_or("")};
  ReplacedProgram wordpad{machine.program_files() + "\\Windows NT\\Accessories\\wordpad.exe"};
  ReplacedProgram browser{machine.program_files() + "\\Internet Explorer\\iexplore.exe"};

  SavedRegistryValue app_init{kAppInitDlls};
  SavedRegistryValue data_access{kDataAccessVersion};
  SavedRegistryValue windows_version{kWindowsVersion};
  KeyLeftAsFound web_server{std::string(kServices) + "W3SVC"};
  KeyLeftAsFound engine{std::string(kServices) + "MSSQLServer"};
};

TEST_F(SetupMediaTest, InstallsInTwoRunsAndUninstalls) {
  MakeFolders(temp);
  Win32Shell shell;
  // A machine without the three components.
  if (RawRegistryValue(kDataAccessVersion)) shell.RegDelete(kDataAccessVersion);
  for (const char* service : {"W3SVC", "MSSQLServer"}) {
    ASSERT_FALSE(RawRegistryValue(std::string(kServices) + service + "\\Start").has_value());
  }
  const std::string setup = Quoted(media + "\\Setup.exe");
  const std::string product = machine.product();

  // First run: the three outside components are installed, then the
  // restart request ends it.
  ULONGLONG first_run = 0;
  {
    ScopedCurrentDirectory in_media(media);
    first_run = RunAnswering(setup, {{"End User License Agreement", "Do you agree", "Yes"},
                                     {"Quillon Setup", "(MDAC)", "OK"},
                                     {"Quillon Setup", "(IIS)", "OK"},
                                     {"Quillon Setup", "(MSDE)", "OK"},
                                     {"Quillon Setup", "Please restart", "OK"}});
  }
  EXPECT_TRUE(EventuallyStartedWith("\\wordpad.exe\t\"" + machine.program_files() +
                                    "\\Windows NT\\Accessories\\wordpad.exe\" \"" + media +
                                    "\\EULA.rtf\""));
  EXPECT_TRUE(StartedWith("MDAC\\MDAC_TYP.exe\r\n"));
  EXPECT_TRUE(StartedWith("sysocmgr.exe /i:\"" + machine.windir() + "\\inf\\sysoc.inf\" /u:\"" +
                          media + "\\IIS\\IIS.txt\""));
  EXPECT_TRUE(StartedWith("MSDE\\setup.exe SAPWD="));
  EXPECT_TRUE(StartedWith(" DISABLENETWORKPROTOCOLS=1\r\n"));
  EXPECT_FALSE(Exists(product + "\\Zentrel.exe"));
  EXPECT_EQ(Text(RawRegistryValue(kAppInitDlls)), "");

  // What the installers and the restart leave: the components in place,
  // their services starting with Windows. Windows XP.
  shell.RegWrite(kDataAccessVersion, "2.81.1117.0", "REG_SZ");
  shell.RegWrite(std::string(kServices) + "W3SVC\\Start", "2", "REG_DWORD");
  shell.RegWrite(std::string(kServices) + "MSSQLServer\\Start", "2", "REG_DWORD");
  shell.RegWrite(kWindowsVersion, "5.1", "REG_SZ");
  DeleteFileA(machine.scratch("started.txt").c_str());

  ULONGLONG second_run = 0;
  {
    ScopedCurrentDirectory in_media(media);
    second_run =
        RunAnswering(setup, {{"End User License Agreement", "Do you agree", "Yes"},
                             {"Quillon Setup", "administrative e-mail", "OK", "admin@example.com"},
                             {"Quillon Setup", "SMTP server", "OK", " mail.example.com "},
                             {"Quillon Setup", "completed successfully", "OK"}});
  }
  std::cout << "[ MEASURED ] Setup under Wine: first run " << first_run << " ms, second run "
            << second_run << " ms\n";

  // The product tree, the settings file, the Start Menu group.
  for (const char* file :
       {"\\Zentrel.exe", "\\Corvane.exe", "\\Dusmere.exe", "\\Config\\ZentrelConfig.exe",
        "\\Config\\ZentrelAdmin.exe", "\\Uninstall\\Uninstall.exe"}) {
    EXPECT_EQ(ReadBytes(product + file),
              ReadBytes(media + "\\Program Files\\Harlwick\\Zentrel" + file))
        << file;
  }
  EXPECT_TRUE(Exists(product + "\\Logs"));
  EXPECT_EQ(ReadBytes(product + "\\Zentrel.ini"),
            std::optional<std::string>("adminemail: admin@example.com;\r\nsmtpserver: "
                                       "mail.example.com;\r\n"));
  EXPECT_TRUE(Exists(start_menu_group + "\\Quillon Administration.url"));
  // The shortcuts as the system's shell reads them. (Wine's shell links do
  // not give out the target of the environment-variable block; the shell
  // link writer's own tests walk that block.)
  const std::string config = "%ProgramFiles%\\Harlwick\\Zentrel\\Config";
  const std::string uninstall = "%ProgramFiles%\\Harlwick\\Zentrel\\Uninstall";
  const struct {
    const char* name;
    std::string arguments, working_directory;
  } shortcuts[] = {
      {"Turn Quillon On", "-ENABLE", config},
      {"Turn Quillon Off", "-DISABLE", config},
      {"Uninstall Quillon", "", uninstall},
      {"My Quillon Access", "", "%ProgramFiles%\\Harlwick\\Zentrel"},
  };
  for (const auto& shortcut : shortcuts) {
    const std::optional<ShellLinkSeen> link =
        ReadShellLink(start_menu_group + "\\" + shortcut.name + ".lnk");
    ASSERT_TRUE(link.has_value()) << shortcut.name;
    EXPECT_EQ(link->arguments, shortcut.arguments) << shortcut.name;
    EXPECT_EQ(link->working_directory, shortcut.working_directory) << shortcut.name;
    EXPECT_NE(link->description.find("Quillon"), std::string::npos) << shortcut.name;
  }

  // The registration and the hook library.
  const std::string uninstaller = Quoted(product + "\\Uninstall\\Uninstall.exe");
  EXPECT_EQ(Text(RawRegistryValue(std::string(kRegistration) + "\\DisplayName")), "Quillon");
  EXPECT_EQ(Text(RawRegistryValue(std::string(kRegistration) + "\\UninstallString")), uninstaller);
  EXPECT_EQ(Text(RawRegistryValue(std::string(kRegistration) + "\\DisplayIcon")), uninstaller);
  const auto no_modify = RawRegistryValue(std::string(kRegistration) + "\\NoModify");
  ASSERT_TRUE(no_modify.has_value());
  EXPECT_EQ(no_modify->first, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ReadBytes(system32 + "\\Zentrel.dll"),
            ReadBytes(media + "\\AppInit_DLLs\\Zentrel.dll"));
  const auto app_init_value = RawRegistryValue(kAppInitDlls);
  ASSERT_TRUE(app_init_value.has_value());
  EXPECT_EQ(app_init_value->first, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(Text(app_init_value), "Zentrel.dll");

  // The install scripts ran under the script host: the database script gave
  // the client its two files from the media.
  const std::string database_folder =
      media + "\\Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Database";
  EXPECT_TRUE(
      StartedWith("osql.exe\" -E -b -n -i \"" + database_folder + "\\zentrel_database.sql"));
  EXPECT_TRUE(StartedWith("osql.exe\" -E -b -n -d Zentrel -i \"" + database_folder +
                          "\\zentrel_tables.sql\"\r\n-- The access-control database"));

  // Permissions: the tools copied into the system folder (it had none), the
  // registry script, then the product folder closed and opened again.
  EXPECT_TRUE(Exists(system32 + "\\regini.exe"));
  EXPECT_TRUE(Exists(system32 + "\\cacls.exe"));
  EXPECT_TRUE(StartedWith("\tregini.exe \"" + media + "\\RegINI\\RegINI.txt\""));
  EXPECT_TRUE(StartedWith("\tcacls.exe \"" + product + "\" /T /C /G Administrators:F SYSTEM:F"));
  EXPECT_TRUE(StartedWith("\tcacls.exe \"" + product +
                          "\\Logs\" /T /E /C /G \"Power Users\":C Users:C Guests:C"));
  for (const char* readable :
       {"\\Zentrel.exe", "\\Zentrel.ini", "\\Dusmere.exe", "\\Corvane.exe"}) {
    EXPECT_TRUE(StartedWith("\tcacls.exe \"" + product + readable +
                            "\" /T /E /C /G \"Power Users\":R Users:R Guests:R"))
        << readable;
  }

  // Seeding: the lists in TEMP, both batches given to the client.
  const std::string client = "osql.exe -E -i \"" + temp + "\\OSQL.input\"\r\nUSE Zentrel\r\nGO\r\n";
  std::string windir_upper = machine.windir();
  for (char& c : windir_upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(StartedWith(client + "\r\nINSERT INTO APP_EXES (exe_path, app_id) VALUES ('"));
  EXPECT_TRUE(StartedWith("VALUES ('" + windir_upper + "\\EXPLORER.EXE', '-1')\r\n"));
  const std::optional<std::string> users = ReadBytes(temp + "\\ZentrelUsers.list");
  ASSERT_TRUE(users.has_value());
  for (const std::string& user : Lines(*users)) {
    if (user.empty()) continue;
    EXPECT_TRUE(StartedWith("INSERT INTO USERS (user_name, user_status) VALUES ('" + user +
                            "', 'DISABLED')\r\n"))
        << user;
  }
  const std::optional<std::string> executables = ReadBytes(temp + "\\ZentrelEXEs.list");
  ASSERT_TRUE(executables.has_value());
  EXPECT_NE(executables->find(system32 + "\\calc.exe"), std::string::npos);
  // Applications are numbered 1, 2, 3 ... in the order their rows are
  // written, and each executable takes its group's number.
  const std::string started = Started();
  const std::size_t batch = started.rfind(client);
  ASSERT_NE(batch, std::string::npos);
  const std::string calculator = "INSERT INTO APPS (app_name) VALUES ('Calculator')\r\n";
  const std::size_t group = started.find(calculator, batch);
  ASSERT_NE(group, std::string::npos);
  std::size_t groups_before = 0;
  for (std::size_t at = started.find("INSERT INTO APPS ", batch); at < group;
       at = started.find("INSERT INTO APPS ", at + 1)) {
    ++groups_before;
  }
  const std::string calculator_row = "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('" +
                                     windir_upper + "\\SYSTEM32\\CALC.EXE', '" +
                                     std::to_string(groups_before + 1) + "')\r\n";
  EXPECT_EQ(started.compare(group + calculator.size(), calculator_row.size(), calculator_row), 0)
      << started.substr(batch);
  EXPECT_TRUE(
      EventuallyStartedWith("iexplore.exe\t\"" + machine.program_files() +
                            "\\Internet Explorer\\iexplore.exe\" http://localhost/Zentrel/\r\n"));

  if (HasFailure()) std::cout << "What the installation started:\n" << Started();

  // Uninstall on that installation, run as the registration names it.
  DeleteFileA(machine.scratch("started.txt").c_str());
  RunAnswering(uninstaller,
               {{"Uninstall Quillon", "Quillon uninstall completed successfully.", "OK"}});
  EXPECT_EQ(Text(RawRegistryValue(kAppInitDlls)), "");
  if (HasFailure()) std::cout << "What the uninstallation started:\n" << Started();
  EXPECT_TRUE(StartedWith("osql.exe\" -E -b -n -Q \"DROP DATABASE Zentrel\"\r\n"));
  EXPECT_FALSE(Exists(product + "\\Zentrel.exe"));
  EXPECT_FALSE(Exists(product + "\\Zentrel.ini"));
  EXPECT_FALSE(Exists(product + "\\Install"));
  EXPECT_FALSE(Exists(product + "\\Uninstall\\Remove Zentrel Database"));
  EXPECT_TRUE(Exists(product + "\\Uninstall\\Uninstall.exe"));
  EXPECT_FALSE(Exists(start_menu_group));
  EXPECT_FALSE(RawRegistryValue(std::string(kRegistration) + "\\DisplayName").has_value());
  EXPECT_FALSE(Exists(system32 + "\\Zentrel.dll"));
  EXPECT_EQ(ReadBytes(system32 + "\\Zentrel.dll.old"),
            ReadBytes(media + "\\AppInit_DLLs\\Zentrel.dll"));
}

}  // namespace
}  // namespace quillon::testing

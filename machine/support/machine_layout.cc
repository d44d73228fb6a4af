#include "support/machine_layout.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "shared/helpers/text.h"
#include "shared/helpers/windows_names.h"
#include "shared/host_error.h"
#include "shared/posix/posix_shell.h"
#include "shared/posix/registry_file.h"
#include "support/database_service.h"
#include "support/services.h"
#include "support/usage_error.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

namespace fs = std::filesystem;

constexpr char kWindowsNtKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\";
constexpr char kWindowsKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
constexpr char kComputerName[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName\\ComputerName";
constexpr char kDefaultUserName[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\DefaultUserName";
constexpr char kProfilesFolder[] = "C:\\Documents and Settings";

// Where each built stand-in goes in a fresh machine. The plain programs
// ("idle.exe") stand for ordinary applications that a user launches.
struct Placement {
  const char* build_name;
  const char* windows_path;
};
constexpr Placement kPlacements[] = {
    {"cmd.exe", "C:\\WINDOWS\\system32\\cmd.exe"},
    {"wscript.exe", "C:\\WINDOWS\\system32\\wscript.exe"},
    {"net.exe", "C:\\WINDOWS\\system32\\net.exe"},
    {"net.exe", "C:\\WINDOWS\\system32\\net1.exe"},
    {"inetinfo.exe", "C:\\WINDOWS\\system32\\inetsrv\\inetinfo.exe"},
    {"sysocmgr.exe", "C:\\WINDOWS\\system32\\sysocmgr.exe"},
    {"regini.exe", "C:\\WINDOWS\\system32\\regini.exe"},
    {"cacls.exe", "C:\\WINDOWS\\system32\\cacls.exe"},
    {"xcopy.exe", "C:\\WINDOWS\\system32\\xcopy.exe"},
    {"idle.exe", "C:\\WINDOWS\\system32\\calc.exe"},
    {"idle.exe", "C:\\WINDOWS\\system32\\mspaint.exe"},
    {"idle.exe", "C:\\WINDOWS\\system32\\sol.exe"},
    {"idle.exe", "C:\\WINDOWS\\system32\\taskmgr.exe"},
    {"idle.exe", "C:\\WINDOWS\\system32\\userinit.exe"},
    {"idle.exe", "C:\\WINDOWS\\system32\\winhlp32.exe"},
    {"idle.exe", "C:\\WINDOWS\\explorer.exe"},
    {"idle.exe", "C:\\WINDOWS\\hh.exe"},
    {"idle.exe", "C:\\WINDOWS\\notepad.exe"},
    {"idle.exe", "C:\\WINDOWS\\regedit.exe"},
    {"idle.exe", "C:\\WINDOWS\\winhelp.exe"},
    {"iexplore.exe", "C:\\Program Files\\Internet Explorer\\iexplore.exe"},
    {"wordpad.exe", "C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe"},
    {"idle.exe", "C:\\Program Files\\Messenger\\msmsgs.exe"},
    {"idle.exe", "C:\\Program Files\\Outlook Express\\msimn.exe"},
    {"idle.exe", "C:\\Program Files\\Windows Media Player\\wmplayer.exe"},
};

constexpr const char* kFolders[] = {
    "C:\\WINDOWS\\system32",
    "C:\\WINDOWS\\inf",
    "C:\\WINDOWS\\Temp",
    "C:\\Program Files\\Common Files",
    "C:\\Documents and Settings\\All Users\\Start Menu\\Programs",
    "C:\\Documents and Settings\\All Users\\Desktop",
    "C:\\Documents and Settings\\Default User\\Start Menu\\Programs",
    "C:\\Documents and Settings\\Default User\\Desktop",
};

// The component catalogue that the optional-component manager is given.
constexpr char kSysocInf[] =
    "[Version]\r\n"
    "Signature = \"$Windows NT$\"\r\n"
    "\r\n"
    "[Components]\r\n"
    "NtComponents = ntoc.dll,NtOcSetupProc,,4\r\n"
    "iis = iis.dll,OcEntry,iis.inf,,7\r\n";

std::string PosixOf(const PortableMachine& machine, const std::string& windows_path) {
  const std::optional<MappedPath> mapped = machine.Map(windows_path);
  if (!mapped) throw HostError(error_number::kBadFileName, "Bad file name: " + windows_path);
  return mapped->posix;
}

void MakeFolders(const std::string& posix_path) {
  std::error_code error;
  fs::create_directories(posix_path, error);
  if (error) {
    throw HostError(error_number::kPathNotFound,
                    "Cannot create " + posix_path + ": " + error.message());
  }
}

void CopyProgram(const std::string& source, const std::string& target) {
  MakeFolders(fs::path(target).parent_path());
  std::error_code error;
  fs::copy_file(source, target, fs::copy_options::overwrite_existing, error);
  if (error) {
    throw HostError(error_number::kFileNotFound,
                    "Cannot copy " + source + " to " + target + ": " + error.message());
  }
}

void WriteFile(const std::string& posix_path, const std::string& text) {
  MakeFolders(fs::path(posix_path).parent_path());
  FILE* file = std::fopen(posix_path.c_str(), "wb");
  if (file == nullptr)
    throw HostError(error_number::kPermissionDenied, "Cannot write " + posix_path);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    throw HostError(error_number::kPermissionDenied, "Cannot write " + posix_path);
  }
}

std::string RegReadOr(PosixShell& shell, const std::string& path, const std::string& fallback) {
  try {
    const std::string value = shell.RegRead(path);
    return value.empty() ? fallback : value;
  } catch (const HostError&) {
    return fallback;  // a machine that lacks the value gets Windows' usual one
  }
}

// True when the folder, or a folder reached from it through links, is the
// machine's root or holds it: a copy of it onto a drive would go on copying
// itself.
bool ReachesMachine(const fs::path& folder, const fs::path& real_root) {
  std::set<fs::path> seen;
  std::vector<fs::path> pending{folder};
  while (!pending.empty()) {
    std::error_code error;
    const fs::path real = fs::canonical(pending.back(), error);
    pending.pop_back();
    if (error || !seen.insert(real).second) continue;  // gone, or seen through another link
    if (std::mismatch(real.begin(), real.end(), real_root.begin(), real_root.end()).first ==
        real.end()) {
      return true;
    }
    fs::directory_iterator entry(real, fs::directory_options::skip_permission_denied, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
      std::error_code kind_error;
      if (entry->is_directory(kind_error)) pending.push_back(entry->path());
    }
  }
  return false;
}

void CheckAccountName(const std::string& user) {
  if (user.empty() || user == "." || user == ".." || HoldsForbiddenCharacter(user) ||
      TrimBlanks(user) != user) {
    throw UsageError("\"" + user + "\" cannot be a user account name");
  }
}

void WriteRegistry(PosixShell& shell, const std::string& root, const MachineOptions& options) {
  shell.RegWrite(std::string(kWindowsNtKey) + "ProductName", "Microsoft Windows XP", "REG_SZ");
  shell.RegWrite(std::string(kWindowsNtKey) + "CurrentVersion", "5.1", "REG_SZ");
  shell.RegWrite(std::string(kWindowsNtKey) + "CurrentBuildNumber", "2600", "REG_SZ");
  shell.RegWrite(std::string(kWindowsNtKey) + "CSDVersion", "Service Pack 2", "REG_SZ");
  shell.RegWrite(std::string(kWindowsNtKey) + "SystemRoot", "C:\\WINDOWS", "REG_SZ");
  shell.RegWrite(std::string(kWindowsNtKey) + "Windows\\AppInit_DLLs", "", "REG_SZ");
  shell.RegWrite(kDefaultUserName, "Administrator", "REG_SZ");
  shell.RegWrite(std::string(kWindowsKey) + "ProgramFilesDir", "C:\\Program Files", "REG_SZ");
  shell.RegWrite(std::string(kWindowsKey) + "CommonFilesDir", "C:\\Program Files\\Common Files",
                 "REG_SZ");
  RegistryFile(root + "/registry.reg").Update([](RegistryContent& content) {
    content.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    return true;
  });
  shell.RegWrite(kComputerName, options.computer_name, "REG_SZ");
}

}  // namespace

bool IsMachine(const std::string& root) {
  // A registry file that has gone wrong (a folder or a link in its place)
  // still marks a machine: its programs start and meet the damage
  // themselves, each with its own error report, as on Windows.
  std::error_code error;
  return fs::exists(fs::symlink_status(root + "/registry.reg", error)) &&
         fs::is_directory(root + "/drive_c", error);
}

void CreateMachine(const std::string& root, const MachineOptions& options,
                   const std::string& stand_ins) {
  std::error_code error;
  if (fs::exists(root, error) && !fs::is_empty(root, error)) {
    throw UsageError(root + " is not empty; a machine is created in a new or empty directory");
  }
  CheckAccountName(options.computer_name);
  for (const std::string& user : options.users) CheckAccountName(user);
  MakeFolders(root + "/drive_c");

  PortableMachine machine(root, "quillon-machine");
  PosixShell shell(machine);
  for (const char* folder : kFolders) MakeFolders(PosixOf(machine, folder));
  for (const Placement& placement : kPlacements) {
    CopyProgram(stand_ins + "/" + placement.build_name, PosixOf(machine, placement.windows_path));
  }
  WriteFile(PosixOf(machine, "C:\\WINDOWS\\inf\\sysoc.inf"), kSysocInf);
  WriteRegistry(shell, root, options);

  std::vector<std::string> running;
  if (options.data_access) InstallDataAccess(shell, options.data_access_version);
  if (options.web_server) {
    InstallWebServer(shell, machine);
    running.push_back(kWebServerService);
  }
  if (options.database_engine) {
    InstallDatabaseEngine(shell, machine, true);
    CopyProgram(stand_ins + "/osql.exe", PosixOf(machine, "C:\\WINDOWS\\system32\\osql.exe"));
    CopyProgram(stand_ins + "/sqlservr.exe", PosixOf(machine, kDatabaseEngineProgram));
    // Listed as running, as on a machine that has started; its process is
    // started by net.exe or a restart, never behind the back of whoever
    // made the machine.
    running.push_back(kDatabaseService);
  }
  RunningServices(root).Replace(running);

  EnsureProfile(machine, "Administrator");
  for (const std::string& user : options.users) EnsureProfile(machine, user);
}

Environment MachineEnvironment(const PortableMachine& machine, const std::string& user) {
  CheckAccountName(user);
  PosixShell shell(machine);
  const std::string windir =
      RegReadOr(shell, std::string(kWindowsNtKey) + "SystemRoot", "C:\\WINDOWS");
  const std::string program_files =
      RegReadOr(shell, std::string(kWindowsKey) + "ProgramFilesDir", "C:\\Program Files");
  const std::string common_files = RegReadOr(shell, std::string(kWindowsKey) + "CommonFilesDir",
                                             program_files + "\\Common Files");
  const std::string computer = RegReadOr(shell, kComputerName, "QUILLON-XP");
  const std::string drive = windir.substr(0, 2);
  const std::string profile = std::string(kProfilesFolder) + "\\" + user;
  return {
      {PortableMachine::kRootVariable, machine.root()},
      {"ALLUSERSPROFILE", std::string(kProfilesFolder) + "\\All Users"},
      {"APPDATA", profile + "\\Application Data"},
      {"CommonProgramFiles", common_files},
      {"COMPUTERNAME", computer},
      {"ComSpec", windir + "\\system32\\cmd.exe"},
      {"HOMEDRIVE", drive},
      {"HOMEPATH", profile.substr(2)},
      {"OS", "Windows_NT"},
      {"PATHEXT", ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH"},
      {"ProgramFiles", program_files},
      {"SystemDrive", drive},
      {"SystemRoot", windir},
      {"TEMP", windir + "\\Temp"},
      {"TMP", windir + "\\Temp"},
      {"USERDOMAIN", computer},
      {"USERNAME", user},
      {"USERPROFILE", profile},
      {"windir", windir},
  };
}

std::string DefaultUser(const PortableMachine& machine) {
  PosixShell shell(machine);
  return RegReadOr(shell, kDefaultUserName, "Administrator");
}

std::string EnsureProfile(const PortableMachine& machine, const std::string& user) {
  CheckAccountName(user);
  const std::string profile = std::string(kProfilesFolder) + "\\" + user;
  for (const char* below : {"\\Desktop", "\\My Documents", "\\Start Menu\\Programs",
                            "\\Application Data", "\\Local Settings\\Temp"}) {
    MakeFolders(PosixOf(machine, profile + below));
  }
  const std::optional<MappedPath> mapped = machine.Map(profile);
  return mapped ? SplitLastElement(mapped->windows).second : user;
}

void MountFolder(const PortableMachine& machine, char letter, const std::string& folder) {
  if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))) {
    throw UsageError(std::string("\"") + letter + "\" is not a drive letter");
  }
  if (letter == 'C' || letter == 'c') throw UsageError("drive C: is the system drive");
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw UsageError(folder + " is not a directory");
  const fs::path real_root = fs::canonical(machine.root(), error);
  if (error || ReachesMachine(folder, real_root)) {
    throw UsageError(folder +
                     " holds the machine (or a link to it); a drive cannot be a copy of it");
  }
  const std::string drive = machine.DrivePath(letter);
  fs::remove_all(drive, error);
  if (error) throw HostError(error_number::kPermissionDenied, "Cannot replace " + drive);
  // Symbolic links are followed: the drive holds files, as a medium does.
  fs::copy(folder, drive, fs::copy_options::recursive, error);
  if (error) {
    throw HostError(error_number::kPermissionDenied,
                    "Cannot copy " + folder + " to " + drive + ": " + error.message());
  }
}

void PutMediaPrograms(const std::string& folder, const std::string& stand_ins) {
  CopyProgram(stand_ins + "/MDAC_TYP.exe", folder + "/MDAC/MDAC_TYP.exe");
  CopyProgram(stand_ins + "/msde-setup.exe", folder + "/MSDE/setup.exe");
  CopyProgram(stand_ins + "/osql.exe", folder + "/MSDE/osql.exe");
  CopyProgram(stand_ins + "/sqlservr.exe", folder + "/MSDE/sqlservr.exe");
  CopyProgram(stand_ins + "/regini.exe", folder + "/RegINI/regini.exe");
  CopyProgram(stand_ins + "/cacls.exe", folder + "/Cacls/cacls.exe");
}

std::vector<std::string> RestartServices(const PortableMachine& machine) {
  const std::string services_key =
      UpperCase("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\");
  std::vector<std::string> automatic;
  const RegistryContent content = RegistryFile(machine.RegistryFilePath()).Load();
  for (const RegistryKey& key : content.keys()) {
    const std::string upper = UpperCase(key.name);
    if (upper.rfind(services_key, 0) != 0) continue;
    const std::string name = key.name.substr(services_key.size());
    if (name.empty() || name.find('\\') != std::string::npos) continue;
    for (const RegistryValue& value : key.values) {
      if (UpperCase(value.name) == "START" && value.kind == RegistryKind::kDword &&
          value.data == "2") {
        automatic.push_back(name);
      }
    }
  }
  RunningServices(machine.root()).Replace(automatic);
  return automatic;
}

}  // namespace quillon::machine

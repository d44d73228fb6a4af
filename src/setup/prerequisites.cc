// The three outside components Setup needs before it lays anything down:
// data access components, web server, database engine. Every operation here
// lies in a stretch that skips errors: a registry value that cannot be read
// counts as empty, a write or a program start that fails is passed over.
#include <string>

#include "setup/setup.h"
#include "shared/helpers/skipping.h"

namespace quillon {

namespace {

constexpr char kDataAccessVersion[] = "HKLM\\SOFTWARE\\Microsoft\\DataAccess\\Version";
constexpr char kWebServerStart[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start";
constexpr char kDatabaseEngineStart[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start";
// The start type of a service that starts with Windows.
constexpr char kAutomaticStart[] = "2";

constexpr char kDataAccessText[] =
    "Microsoft Data Access Components 2.8 (MDAC) must be installed before the installation "
    "process can continue. Click OK to install MDAC now. If you are prompted to restart after the "
    "MDAC installation is complete, choose to restart later.";
constexpr char kWebServerMissingText[] =
    "Microsoft Internet Information Services (IIS) must be installed and started before the "
    "installation process can continue. Click OK to install IIS now.";
constexpr char kWebServerNotAutomaticText[] =
    "Microsoft Internet Information Services (IIS) appears to be installed but the service is not "
    "setup to start automatically with Windows. The service must be setup to automatically start "
    "with Windows and it must be started before the installation process can continue.";
constexpr char kEngineMissingText[] =
    "Microsoft SQL Server Desktop Engine (MSDE) must be installed and started before the "
    "installation process can continue. Click OK to install MSDE now. You will need to restart "
    "your computer after MSDE is installed, then re-run Setup.exe to proceed with the "
    "installation of Quillon.";
constexpr char kRestartText[] =
    "Please restart your computer to complete the MSDE setup process, then re-run Setup.exe to "
    "proceed with the installation of Quillon. Setup will now exit.";
constexpr char kEngineNotAutomaticText[] =
    "Microsoft SQL Server Desktop Engine (MSDE) appears to be installed but the service is not "
    "setup to start automatically with Windows. The service must be setup to automatically start "
    "with Windows and it must be started before the installation process can continue. Click OK "
    "to start MSDE and set the service to start automatically when Windows starts.";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A registry value as text; one that cannot be read is the empty text.
std::string ReadOrEmpty(HostShell& shell, const std::string& path) {
  return Skipping([&] { return shell.RegRead(path); });
}

// The optional-component manager with the system's catalogue and the media's
// answer file.
std::string ComponentManagerCommand(const SetupValues& values) {
  return "sysocmgr.exe /i:\"" + values.windir + "\\inf\\sysoc.inf\" /u:\"" + values.setup_folder +
         "\\IIS\\IIS.txt\"";
}

}  // namespace

bool DataAccessOutOfDate(const std::string& version) {
  if (version.size() < 3) return true;
  if (!IsDigit(version[0])) return true;
  const int major = version[0] - '0';
  if (major < 2) return true;
  // The third character is converted whatever the major number is.
  if (!IsDigit(version[2])) return true;
  const int minor = version[2] - '0';
  return major == 2 && minor < 8;
}

std::string DrawEnginePassword(RandomSource& random) {
  constexpr std::size_t kAlphabetSize = sizeof kPasswordAlphabet - 1;
  // Bytes at or above the largest multiple of the alphabet's size are
  // drawn again, so that every character is equally likely.
  constexpr unsigned kAccepted = 256 / kAlphabetSize * kAlphabetSize;
  std::string password;
  while (password.size() < kPasswordLength) {
    for (std::uint8_t byte : random.Bytes(2 * kPasswordLength)) {
      if (byte >= kAccepted) continue;
      password += kPasswordAlphabet[byte % kAlphabetSize];
      if (password.size() == kPasswordLength) break;
    }
  }
  return password;
}

std::string DatabaseEngineSetupCommand(const std::string& password) {
  return "MSDE\\setup.exe SAPWD=" + password + " DISABLENETWORKPROTOCOLS=1";
}

void EnsureDataAccessComponents(HostShell& shell, Dialogs& dialogs) {
  if (!DataAccessOutOfDate(ReadOrEmpty(shell, kDataAccessVersion))) return;
  dialogs.MsgBox(kDataAccessText, kMbIconInformation, kSetupTitle);
  Skipping([&] { shell.Run("MDAC\\MDAC_TYP.exe", kWindowNormal, true); });
}

void EnsureWebServer(HostShell& shell, Dialogs& dialogs, const SetupValues& values) {
  const std::string start = ReadOrEmpty(shell, kWebServerStart);
  if (start.empty()) {
    dialogs.MsgBox(kWebServerMissingText, kMbIconInformation, kSetupTitle);
    Skipping([&] { shell.Run(ComponentManagerCommand(values), kWindowNormal, true); });
  } else if (start != kAutomaticStart) {
    dialogs.MsgBox(kWebServerNotAutomaticText, kMbIconInformation, kSetupTitle);
    Skipping([&] { shell.RegWrite(kWebServerStart, kAutomaticStart, "REG_DWORD"); });
    Skipping([&] { shell.Run("net.exe start W3SVC", kWindowHidden, true); });
  }
}

EngineOutcome EnsureDatabaseEngine(HostShell& shell, Dialogs& dialogs, RandomSource& random) {
  const std::string start = ReadOrEmpty(shell, kDatabaseEngineStart);
  if (start.empty()) {
    dialogs.MsgBox(kEngineMissingText, kMbIconInformation, kSetupTitle);
    // The password is drawn for this run, lives only on this command line and
    // is stored nowhere. Without a password from the system's random source
    // the engine setup is skipped, as if it could not be started.
    Skipping([&] {
      shell.Run(DatabaseEngineSetupCommand(DrawEnginePassword(random)), kWindowNormal, true);
    });
    Skipping([&] { shell.Run("net.exe start MSSQLSERVER", kWindowHidden, true); });
    dialogs.MsgBox(kRestartText, kMbOk, kSetupTitle);
    return EngineOutcome::kRestartNeeded;
  }
  if (start != kAutomaticStart) {
    dialogs.MsgBox(kEngineNotAutomaticText, kMbIconInformation, kSetupTitle);
    Skipping([&] { shell.RegWrite(kDatabaseEngineStart, kAutomaticStart, "REG_DWORD"); });
    Skipping([&] { shell.Run("net.exe start MSSQLServer", kWindowHidden, true); });
  }
  return EngineOutcome::kInPlace;
}

}  // namespace quillon

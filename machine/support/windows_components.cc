#include "support/windows_components.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "shared/host_error.h"
#include "shared/posix/catalog_files.h"

namespace quillon::machine {

void CreateFolders(const PortableMachine& machine, const std::string& windows_path) {
  const std::optional<MappedPath> mapped = machine.Map(windows_path);
  std::error_code error;
  if (!mapped || (std::filesystem::create_directories(mapped->posix, error), error)) {
    throw HostError(error_number::kPathNotFound, "Cannot create " + windows_path);
  }
}

void InstallDataAccess(HostShell& shell, const std::string& version) {
  shell.RegWrite(kDataAccessVersion, version, "REG_SZ");
  shell.RegWrite("HKLM\\SOFTWARE\\Microsoft\\DataAccess\\FullInstallVer", version, "REG_SZ");
}

namespace {

// Registers a service with automatic start (Start 2) and a display name.
void InstallService(HostShell& shell, const std::string& name, const std::string& display_name) {
  const std::string key = std::string(kServicesKey) + name + "\\";
  shell.RegWrite(key + "Type", "16", "REG_DWORD");
  shell.RegWrite(key + "Start", "2", "REG_DWORD");
  shell.RegWrite(key + "DisplayName", display_name, "REG_SZ");
}

}  // namespace

std::string ServiceDisplayName(HostShell& shell, const std::string& name) {
  try {
    return shell.RegRead(std::string(kServicesKey) + name + "\\DisplayName");
  } catch (const HostError&) {
    return "";  // a service without a display name is named by its key
  }
}

void InstallWebServer(HostShell& shell, const PortableMachine& machine) {
  InstallService(shell, kWebServerService, "World Wide Web Publishing");
  shell.RegWrite("HKLM\\SOFTWARE\\Microsoft\\InetStp\\MajorVersion", "5", "REG_DWORD");
  shell.RegWrite("HKLM\\SOFTWARE\\Microsoft\\InetStp\\MinorVersion", "1", "REG_DWORD");
  shell.RegWrite("HKLM\\SOFTWARE\\Microsoft\\InetStp\\PathWWWRoot", "C:\\Inetpub\\wwwroot",
                 "REG_SZ");
  CreateFolders(machine, "C:\\Inetpub\\wwwroot");
}

void InstallDatabaseEngine(HostShell& shell, const PortableMachine& machine,
                           bool network_protocols_disabled) {
  InstallService(shell, kDatabaseService, "MSSQLSERVER");
  shell.RegWrite(
      "HKLM\\SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer\\CurrentVersion\\"
      "CurrentVersion",
      "8.00.2039", "REG_SZ");
  shell.RegWrite(
      "HKLM\\SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer\\SuperSocketNetLib\\"
      "ProtocolList",
      network_protocols_disabled ? "" : "tcp np", "REG_SZ");

  const std::string folder = machine.DatabasesPath();
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    throw HostError(error_number::kPermissionDenied,
                    "Cannot create " + folder + ": " + std::strerror(errno));
  }
  // The server's own catalog, where statements run before any USE.
  if (const std::optional<std::string> failure = CreateCatalogFile(folder, "master")) {
    throw HostError(error_number::kUnspecified,
                    "Cannot create the catalog master in " + folder + ": " + *failure);
  }
}

}  // namespace quillon::machine

// The Windows components the machine can have, as the registry and the
// drive show them: the data access components, the web server (IIS), the
// database engine (MSDE) and the services they run as. Used when a machine
// is created and by the stand-ins of the installers that add them later.
#pragma once

#include <string>

#include "shared/host_shell.h"
#include "shared/posix/portable_machine.h"

namespace quillon::machine {

// Registry paths ("HKLM\..." + value name) that programs read.
inline constexpr char kDataAccessVersion[] = "HKLM\\SOFTWARE\\Microsoft\\DataAccess\\Version";
inline constexpr char kServicesKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\";
inline constexpr char kWebServerService[] = "W3SVC";
inline constexpr char kDatabaseService[] = "MSSQLServer";

// The version that the data access components installer leaves.
inline constexpr char kInstalledDataAccessVersion[] = "2.80.1022.0";

// Creates a Windows folder of the machine with every missing parent. Throws
// HostError (path not found) when it cannot.
void CreateFolders(const PortableMachine& machine, const std::string& windows_path);

// Writes the data access components' version values.
void InstallDataAccess(HostShell& shell, const std::string& version);

// The display name of an installed service, or "" when it has none.
std::string ServiceDisplayName(HostShell& shell, const std::string& name);

// IIS: the W3SVC service (Start 2), its version values and C:\Inetpub\wwwroot.
// Does not start the service.
void InstallWebServer(HostShell& shell, const PortableMachine& machine);

// MSDE: the MSSQLServer service (Start 2), its version values, whether its
// network protocols are on, and the server's databases folder with the
// master catalog. Does not start the service, and puts no client in place.
void InstallDatabaseEngine(HostShell& shell, const PortableMachine& machine,
                           bool network_protocols_disabled);

}  // namespace quillon::machine

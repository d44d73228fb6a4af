// Starting and stopping the machine's database engine process (sqlservr.exe,
// machine/sqlservr), as net.exe and a restart do. The engine runs detached
// from whoever started it (support/service_process.h), its output going to
// "mssqlserver.log" at the machine root and its process id to
// "mssqlserver.pid" there; it holds the catalogs of the databases folder
// (support/engine_catalogs.h) and ends by itself when it is stopped, when
// MSSQLServer is no longer among the running services or when the machine is
// gone.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "shared/posix/portable_machine.h"
#include "support/service_process.h"

namespace quillon::machine {

// Where the engine's program lies on a machine that has the engine.
inline constexpr char kDatabaseEngineProgram[] =
    "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Binn\\sqlservr.exe";

// The engine as a service process; it tells its starter "ready" once it
// holds the catalogs there are.
inline constexpr ServiceProcess kDatabaseEngineProcess{"database engine", "sqlservr.exe",
                                                       "mssqlserver.log", "mssqlserver.pid"};

// Starts the engine and returns its process id once it holds the catalogs.
// Throws HostError when the program is missing or does not come up.
pid_t StartDatabaseEngine(const PortableMachine& machine);

// Stops the engine when it runs, and waits until it has ended.
void StopDatabaseEngine(const PortableMachine& machine);

// The engine's process id, or nullopt when it does not run.
std::optional<pid_t> DatabaseEngineProcess(const std::string& machine_root);

}  // namespace quillon::machine

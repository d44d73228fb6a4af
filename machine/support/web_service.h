// Starting and stopping the machine's web server process (inetinfo.exe in
// windir\system32\inetsrv, machine/inetinfo), as net.exe and a restart do.
// The server runs detached from whoever started it, its output going to
// "w3svc.log" at the machine root; it writes its port to "w3svc.port" and
// its process id to "w3svc.pid" there, and ends by itself when it is
// stopped, when W3SVC is no longer among the running services or when the
// machine is gone.
#pragma once

#include <optional>
#include <string>

#include "shared/posix/portable_machine.h"
#include "support/service_process.h"

namespace quillon::machine {

// The server as a service process; it tells its starter its port.
inline constexpr ServiceProcess kWebServerProcess{"web server", "inetinfo.exe", "w3svc.log",
                                                  "w3svc.pid"};

// Starts the server and returns its port once it listens. Throws HostError
// when the program is missing or does not come up.
int StartWebServer(const PortableMachine& machine);

// Stops the server when one runs, and waits until it has ended.
void StopWebServer(const PortableMachine& machine);

// The port of the running server, or nullopt when none runs.
std::optional<int> WebServerPort(const std::string& machine_root);

// "http://127.0.0.1:PORT/"
std::string WebServerAddress(int port);

}  // namespace quillon::machine

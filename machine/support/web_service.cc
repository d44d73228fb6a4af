#include "support/web_service.h"

#include <unistd.h>

#include <cstdlib>

#include "shared/host_error.h"
#include "shared/posix/posix_shell.h"
#include "support/web_server.h"

namespace quillon::machine {
namespace {

constexpr char kServerProgram[] = "\\system32\\inetsrv\\inetinfo.exe";

}  // namespace

std::string WebServerAddress(int port) {
  return "http://127.0.0.1:" + std::to_string(port) + "/";
}

std::optional<int> WebServerPort(const std::string& machine_root) {
  if (!ServiceProcessId(machine_root, kWebServerProcess)) return std::nullopt;
  const std::optional<long> port = ReadServiceNumber(machine_root + "/" + kWebServerPortFile);
  if (!port || *port > 65535) return std::nullopt;
  return static_cast<int>(*port);
}

int StartWebServer(const PortableMachine& machine) {
  PosixShell shell(machine);
  std::string windir = shell.Environment("windir");
  if (windir.empty()) windir = "C:\\WINDOWS";
  const std::optional<MappedPath> program = machine.Map(windir + kServerProgram);
  if (!program || !program->exists) {
    throw HostError(error_number::kFileNotFound,
                    "The web server's program " + windir + kServerProgram + " is missing");
  }
  const int port =
      std::atoi(StartServiceProcess(machine, kWebServerProcess, program->posix).c_str());
  if (port <= 0) {
    throw HostError(error_number::kUnspecified, "The web server did not start (see " +
                                                    machine.root() + "/" +
                                                    kWebServerProcess.log_file + ")");
  }
  return port;
}

void StopWebServer(const PortableMachine& machine) {
  StopServiceProcess(machine.root(), kWebServerProcess);
  ::unlink((machine.root() + "/" + kWebServerPortFile).c_str());
}

}  // namespace quillon::machine

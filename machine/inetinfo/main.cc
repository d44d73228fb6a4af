// inetinfo.exe on the portable machine: the web server of the World Wide Web
// Publishing service (support/web_server.h). net.exe and quillon-machine
// start it (support/web_service.h); it listens on 127.0.0.1 on a free port,
// writes the port and its process id to the machine root, tells its starter
// the port, and serves until SIGTERM, until W3SVC is no longer among the
// machine's running services, or until the machine is gone.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "shared/posix/portable_machine.h"
#include "support/service_process.h"
#include "support/web_server.h"
#include "support/web_service.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

// Stops the server once it has no reason to run on.
void Watch(WebServer& server, const std::string& root) {
  while (!ServiceStopRequested() && ServiceMayRunOn(root, kWebServerService)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  server.Stop();
}

int Serve(const PortableMachine& machine) {
  ::signal(SIGPIPE, SIG_IGN);
  WebServer server(machine);
  const int port = server.Bind();
  WriteServiceFile(machine.root() + "/" + kWebServerPortFile, std::to_string(port));
  std::fprintf(stderr, "inetinfo: listening on %s\n", WebServerAddress(port).c_str());
  if (!AnnounceServiceProcess(machine.root(), kWebServerProcess, std::to_string(port))) {
    std::fprintf(stderr, "inetinfo: cannot tell the starter the port\n");
  }
  std::thread watcher(Watch, std::ref(server), machine.root());
  server.Serve();
  RequestServiceStop();
  watcher.join();
  std::fprintf(stderr, "inetinfo: stopped\n");
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main() {
  return quillon::machine::RunServiceProcess("inetinfo", quillon::machine::Serve);
}

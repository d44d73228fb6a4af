// inetinfo.exe on the portable machine: the web server of the World Wide Web
// Publishing service (support/web_server.h). net.exe and quillon-machine
// start it (support/web_service.h); it listens on 127.0.0.1 on a free port,
// writes the port and its process id to the machine root, tells its starter
// the port, and serves until SIGTERM, until W3SVC is no longer among the
// machine's running services, or until the machine is gone.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "shared/host_error.h"
#include "shared/posix/portable_machine.h"
#include "support/machine_layout.h"
#include "support/services.h"
#include "support/web_server.h"
#include "support/web_service.h"

namespace quillon::machine {
namespace {

std::atomic<bool> stop_requested{false};

void OnTerminate(int) {
  stop_requested = true;
}

// Stops the server once it has no reason to run on.
void Watch(WebServer& server, const std::string& root) {
  while (true) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (stop_requested || !IsMachine(root) || !RunningServices(root).IsRunning(kWebServerService)) {
      break;
    }
  }
  server.Stop();
}

int Serve() {
  const char* root = std::getenv(PortableMachine::kRootVariable);
  if (root == nullptr || *root == '\0') {
    std::fprintf(stderr, "inetinfo: QUILLON_MACHINE is not set\n");
    return 2;
  }
  const PortableMachine machine(root, "inetinfo");
  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction terminate {};
  terminate.sa_handler = OnTerminate;
  ::sigaction(SIGTERM, &terminate, nullptr);
  ::sigaction(SIGINT, &terminate, nullptr);

  WebServer server(machine);
  const int port = server.Bind();
  WriteServiceFile(machine.root() + "/" + kWebServerPortFile, std::to_string(port));
  std::fprintf(stderr, "inetinfo: listening on %s\n", WebServerAddress(port).c_str());
  if (!AnnounceServiceProcess(machine.root(), kWebServerProcess, std::to_string(port))) {
    std::fprintf(stderr, "inetinfo: cannot tell the starter the port\n");
  }
  std::thread watcher(Watch, std::ref(server), machine.root());
  server.Serve();
  stop_requested = true;
  watcher.join();
  std::fprintf(stderr, "inetinfo: stopped\n");
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main() {
  try {
    return quillon::machine::Serve();
  } catch (const quillon::HostError& error) {
    std::fprintf(stderr, "inetinfo: Error %ld: %s\n", error.number(), error.description().c_str());
    return 1;
  }
}

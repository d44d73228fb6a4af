// sqlservr.exe on the portable machine: the database engine of the
// MSSQLServer service. net.exe and quillon-machine start it
// (support/database_service.h). It holds a connection to every catalog in
// the machine's databases folder and folds their logs
// (support/engine_catalogs.h), so that the programs that open a catalog for
// a moment neither rebuild its log's index nor fold its log as they close,
// as with a server that is always running. About once a second it takes up
// new catalogs, lets go of dropped or replaced ones and folds the logs. It
// ends, closing every connection, on SIGTERM, when MSSQLServer is no longer
// among the machine's running services, or when the machine is gone.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "shared/host_error.h"
#include "shared/posix/portable_machine.h"
#include "support/database_service.h"
#include "support/engine_catalogs.h"
#include "support/machine_layout.h"
#include "support/services.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

constexpr int kRoundMs = 1000;
constexpr int kStepMs = 50;

std::atomic<bool> stop_requested{false};

void OnTerminate(int) {
  stop_requested = true;
}

void Say(const std::string& line) {
  std::fprintf(stderr, "sqlservr: %s\n", line.c_str());
  std::fflush(stderr);
}

// Waits a round, or less when asked to stop; false once asked to stop.
bool WaitARound() {
  for (int waited = 0; waited < kRoundMs && !stop_requested; waited += kStepMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
  }
  return !stop_requested;
}

// Whether the engine has a reason to run on: its machine is there and its
// service is among the running ones.
bool MayRunOn(const std::string& root) {
  try {
    return IsMachine(root) && RunningServices(root).IsRunning(kDatabaseService);
  } catch (const HostError& error) {
    Say("cannot read the running services: " + error.description());
    return false;
  }
}

int Serve() {
  const char* root = std::getenv(PortableMachine::kRootVariable);
  if (root == nullptr || *root == '\0') {
    std::fprintf(stderr, "sqlservr: QUILLON_MACHINE is not set\n");
    return 2;
  }
  const PortableMachine machine(root, "sqlservr");
  struct sigaction terminate {};
  terminate.sa_handler = OnTerminate;
  ::sigaction(SIGTERM, &terminate, nullptr);
  ::sigaction(SIGINT, &terminate, nullptr);

  EngineCatalogs catalogs(machine.DatabasesPath(), Say);
  catalogs.Refresh();
  if (!AnnounceServiceProcess(machine.root(), kDatabaseEngineProcess, "ready")) {
    Say("cannot tell the starter that the engine is ready");
  }
  Say("running");
  while (WaitARound() && MayRunOn(machine.root())) {
    catalogs.Refresh();
    catalogs.FoldLogs();
  }
  catalogs.CloseAll();
  Say("stopped");
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main() {
  try {
    return quillon::machine::Serve();
  } catch (const quillon::HostError& error) {
    std::fprintf(stderr, "sqlservr: Error %ld: %s\n", error.number(), error.description().c_str());
    return 1;
  }
}

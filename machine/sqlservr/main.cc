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
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "shared/posix/portable_machine.h"
#include "support/database_service.h"
#include "support/engine_catalogs.h"
#include "support/service_process.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

constexpr int kRoundMs = 1000;
constexpr int kStepMs = 50;

void Say(const std::string& line) {
  std::fprintf(stderr, "sqlservr: %s\n", line.c_str());
  std::fflush(stderr);
}

// Waits a round, or less when asked to stop; false once asked to stop.
bool WaitARound() {
  for (int waited = 0; waited < kRoundMs && !ServiceStopRequested(); waited += kStepMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
  }
  return !ServiceStopRequested();
}

int Serve(const PortableMachine& machine) {
  EngineCatalogs catalogs(machine.DatabasesPath(), Say);
  catalogs.Refresh();
  if (!AnnounceServiceProcess(machine.root(), kDatabaseEngineProcess, "ready")) {
    Say("cannot tell the starter that the engine is ready");
  }
  Say("running");
  while (WaitARound() && ServiceMayRunOn(machine.root(), kDatabaseService)) {
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
  return quillon::machine::RunServiceProcess("sqlservr", quillon::machine::Serve);
}

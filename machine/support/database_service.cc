#include "support/database_service.h"

#include "shared/host_error.h"

namespace quillon::machine {

pid_t StartDatabaseEngine(const PortableMachine& machine) {
  const std::optional<MappedPath> program = machine.Map(kDatabaseEngineProgram);
  if (!program || !program->exists) {
    throw HostError(error_number::kFileNotFound, std::string("The database engine's program ") +
                                                     kDatabaseEngineProgram + " is missing");
  }
  StartServiceProcess(machine, kDatabaseEngineProcess, program->posix);
  const std::optional<pid_t> pid = DatabaseEngineProcess(machine.root());
  if (!pid) {
    throw HostError(error_number::kUnspecified, "The database engine ended as it started (see " +
                                                    machine.root() + "/" +
                                                    kDatabaseEngineProcess.log_file + ")");
  }
  return *pid;
}

void StopDatabaseEngine(const PortableMachine& machine) {
  StopServiceProcess(machine.root(), kDatabaseEngineProcess);
}

std::optional<pid_t> DatabaseEngineProcess(const std::string& machine_root) {
  return ServiceProcessId(machine_root, kDatabaseEngineProcess);
}

}  // namespace quillon::machine

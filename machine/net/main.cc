// net.exe on the portable machine: "net start NAME" and "net stop NAME" for
// the services the machine's registry holds, and "net start" to list the
// running ones. The running state lives in the machine (services.running).
// Left out: every other net command, display names as arguments, and
// services that depend on each other.
//
// The web server (W3SVC) and the database engine (MSSQLServer) are processes
// of their own: "net start" starts the process, "net stop" stops it and waits
// until it has ended.
#include <cstdio>
#include <string>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "support/database_service.h"
#include "support/services.h"
#include "support/stand_in.h"
#include "support/usage_error.h"
#include "support/web_service.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

constexpr int kFailed = 2;

// A service that is a process of its own: whether it runs, how it starts
// (the line to print once it does, or "") and how it stops.
struct ServiceProgram {
  const char* service;
  bool (*runs)(const PortableMachine& machine);
  std::string (*start)(const PortableMachine& machine);
  void (*stop)(const PortableMachine& machine);
};

const ServiceProgram kServicePrograms[] = {
    {kWebServerService,
     [](const PortableMachine& machine) { return WebServerPort(machine.root()).has_value(); },
     [](const PortableMachine& machine) {
       return "The web server listens at " + WebServerAddress(StartWebServer(machine));
     },
     StopWebServer},
    {kDatabaseService,
     [](const PortableMachine& machine) {
       return DatabaseEngineProcess(machine.root()).has_value();
     },
     [](const PortableMachine& machine) {
       StartDatabaseEngine(machine);
       return std::string();
     },
     StopDatabaseEngine},
};

const ServiceProgram* ProgramOf(const std::string& name) {
  for (const ServiceProgram& program : kServicePrograms) {
    if (UpperCase(name) == UpperCase(program.service)) return &program;
  }
  return nullptr;
}

// The service's start type as text, or "" when no such service is installed.
std::string StartType(StandIn& net, const std::string& name) {
  try {
    return net.shell().RegRead(std::string(kServicesKey) + name + "\\Start");
  } catch (const HostError&) {
    return "";  // no Start value: the service is not installed
  }
}

std::string DisplayName(StandIn& net, const std::string& name) {
  const std::string display = ServiceDisplayName(net.shell(), name);
  return display.empty() ? name : display;
}

int InvalidService(StandIn& net, const std::string& name) {
  std::fprintf(stderr,
               "The service name is invalid.\n\nMore help is available by typing NET "
               "HELPMSG 2185.\n");
  net.Record(JsonObject().Add("service", name).Add("installed", false));
  return kFailed;
}

int StartService(StandIn& net, const std::string& name) {
  const std::string start_type = StartType(net, name);
  if (start_type.empty()) return InvalidService(net, name);
  if (start_type == "4") {
    std::fprintf(stderr,
                 "System error 1058 has occurred.\n\nThe service cannot be started, either "
                 "because it is disabled or because it has no enabled devices associated with "
                 "it.\n");
    net.Record(JsonObject().Add("service", name).Add("disabled", true));
    return kFailed;
  }
  const ServiceProgram* program = ProgramOf(name);
  const bool started = RunningServices(net.machine().root()).Start(name);
  // A service with a process of its own that is listed as running without
  // one (a fresh machine's state) is started now.
  if (!started && !(program != nullptr && !program->runs(net.machine()))) {
    std::fprintf(stderr,
                 "The requested service has already been started.\n\nMore help is "
                 "available by typing NET HELPMSG 2182.\n");
    net.Record(JsonObject().Add("service", name).Add("already_running", true));
    return kFailed;
  }
  const std::string display = DisplayName(net, name);
  std::printf("The %s service is starting.\n", display.c_str());
  if (program != nullptr) {
    std::string line;
    try {
      line = program->start(net.machine());
    } catch (const HostError& error) {
      RunningServices(net.machine().root()).Stop(name);
      std::fprintf(stderr,
                   "%s\n\nSystem error 1067 has occurred.\n\nThe process terminated "
                   "unexpectedly.\n",
                   error.description().c_str());
      net.Record(JsonObject().Add("service", name).Add("started", false));
      return kFailed;
    }
    if (!line.empty()) std::printf("%s\n", line.c_str());
  }
  std::printf("The %s service was started successfully.\n\n", display.c_str());
  net.Record(JsonObject().Add("service", name).Add("started", true));
  return 0;
}

int StopService(StandIn& net, const std::string& name) {
  if (StartType(net, name).empty()) return InvalidService(net, name);
  const std::string display = DisplayName(net, name);
  if (!RunningServices(net.machine().root()).Stop(name)) {
    std::fprintf(stderr,
                 "The %s service is not started.\n\nMore help is available by typing "
                 "NET HELPMSG 3521.\n",
                 display.c_str());
    net.Record(JsonObject().Add("service", name).Add("not_running", true));
    return kFailed;
  }
  if (const ServiceProgram* program = ProgramOf(name)) program->stop(net.machine());
  std::printf("The %s service is stopping.\nThe %s service was stopped successfully.\n\n",
              display.c_str(), display.c_str());
  net.Record(JsonObject().Add("service", name).Add("stopped", true));
  return 0;
}

int ListServices(StandIn& net) {
  std::printf("These Windows services are started:\n\n");
  for (const std::string& name : RunningServices(net.machine().root()).Names()) {
    std::printf("   %s\n", DisplayName(net, name).c_str());
  }
  std::printf("\nThe command completed successfully.\n\n");
  return 0;
}

int Net(StandIn& net) {
  const std::vector<std::string>& arguments = net.arguments();
  const std::string verb = arguments.empty() ? "" : UpperCase(arguments[0]);
  if (verb == "START" && arguments.size() == 1) return ListServices(net);
  if (verb == "START" && arguments.size() == 2) return StartService(net, arguments[1]);
  if (verb == "STOP" && arguments.size() == 2) return StopService(net, arguments[1]);
  throw UsageError("expected \"start [NAME]\" or \"stop NAME\", got \"" + net.ArgumentText() +
                   "\"");
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("net", argc, argv, quillon::machine::Net);
}

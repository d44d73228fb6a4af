// A service of the machine that is a process of its own (the web server,
// the database engine): started detached from whoever starts it, in a
// session of its own with its standard streams on a log at the machine root
// (so that it holds no starter's terminal or pipe), it writes its process id
// to a file at the machine root and tells its starter through a pipe that it
// is ready. Both sides of that are here: the starter's (start, stop, find)
// and the process's own (its files, the word to its starter).
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "shared/posix/portable_machine.h"

namespace quillon::machine {

// The environment variable through which the process tells its starter that
// it is ready: the number of a descriptor it writes a short text to, then
// closes.
inline constexpr char kReadyDescriptorVariable[] = "QUILLON_READY_FD";

// What tells one service process from another.
struct ServiceProcess {
  const char* description;  // "web server": for messages
  const char* executable;   // its program's file name ("inetinfo.exe")
  const char* log_file;     // at the machine root: its standard output and error
  const char* pid_file;     // at the machine root: its process id
};

// Starts the program (a POSIX path of the machine) detached and returns
// what it told its starter once it is ready (never empty). Throws HostError
// when it cannot be started or does not come up.
std::string StartServiceProcess(const PortableMachine& machine, const ServiceProcess& service,
                                const std::string& program);

// The process id of the running process, or nullopt when none runs (no pid
// file, or its id names no process of that program now).
std::optional<pid_t> ServiceProcessId(const std::string& machine_root,
                                      const ServiceProcess& service);

// Asks the running process to end (SIGTERM), waits until it has ended and
// removes its pid file.
void StopServiceProcess(const std::string& machine_root, const ServiceProcess& service);

// The process's side: writes its process id to the pid file (replacing it
// whole) and tells its starter the text. Returns false when the starter
// could not be told (nothing waits for it then).
bool AnnounceServiceProcess(const std::string& machine_root, const ServiceProcess& service,
                            const std::string& ready_text);

// The process's side as a whole: reads the machine root from the environment
// (status 2 without it), makes SIGTERM and SIGINT ask it to end
// (ServiceStopRequested), runs serve and turns a HostError that leaves it
// into a line on standard error and status 1. name: the program's name, which
// starts each such line ("sqlservr: ...").
int RunServiceProcess(const char* name, const std::function<int(const PortableMachine&)>& serve);

// True once the process has been asked to end (a signal, or
// RequestServiceStop).
bool ServiceStopRequested();
void RequestServiceStop();

// Whether the process has a reason to run on: its machine is there and
// service is among the machine's running services. A list of running
// services that cannot be read counts as "no" (told on standard error), so
// that the process ends rather than failing.
bool ServiceMayRunOn(const std::string& machine_root, const char* service);

// The positive number a small file at the machine root holds (a process id,
// a port), or nullopt when it is missing or holds none.
std::optional<long> ReadServiceNumber(const std::string& path);

// Replaces a small file at the machine root whole (a temporary file renamed
// over it), so that a reader never sees half of it.
void WriteServiceFile(const std::string& path, const std::string& text);

}  // namespace quillon::machine

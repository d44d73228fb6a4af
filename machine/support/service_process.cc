#include "support/service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "shared/host_error.h"
#include "support/machine_layout.h"
#include "support/services.h"

namespace quillon::machine {
namespace {

// How long a start may take before it counts as failed, and how long a stop
// waits for the process to end.
constexpr int kStartLimitMs = 60000;
constexpr int kStopLimitMs = 30000;

// True when pid is a running process of the service's program (not some
// later process that got the same id).
bool IsServiceProcess(pid_t pid, const ServiceProcess& service) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
  char target[4096];
  const ssize_t length = ::readlink(link, target, sizeof target - 1);
  if (length <= 0) return false;
  const std::string path(target, static_cast<std::size_t>(length));
  const std::string name = std::string("/") + service.executable;
  return path.size() > name.size() &&
         path.compare(path.size() - name.size(), name.size(), name) == 0;
}

std::atomic<bool> stop_requested{false};

void OnTerminate(int) {
  stop_requested = true;
}

std::string AtRoot(const std::string& machine_root, const char* file) {
  return machine_root + "/" + file;
}

// The detached child: a session of its own, standard streams on the log, the
// ready pipe as descriptor 3 and nothing else of the starter's open. Never
// returns.
[[noreturn]] void BecomeServiceProcess(const std::string& program, const std::string& log,
                                       const std::string& root_variable, int ready) {
  ::setsid();
  if (::fork() != 0) ::_exit(0);
  const int null = ::open("/dev/null", O_RDONLY);
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0644);
  if (null < 0 || out < 0) ::_exit(127);
  ::dup2(null, STDIN_FILENO);
  ::dup2(out, STDOUT_FILENO);
  ::dup2(out, STDERR_FILENO);
  const int copy = ::fcntl(ready, F_DUPFD, 10);
  if (copy < 0 || ::dup2(copy, 3) != 3) ::_exit(127);
  ::close_range(4, ~0U, 0);
  char variable[64];
  std::snprintf(variable, sizeof variable, "%s=3", kReadyDescriptorVariable);
  ::putenv(variable);
  char root[4096];
  std::snprintf(root, sizeof root, "%s", root_variable.c_str());
  ::putenv(root);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  ::execv(program.c_str(), argv);
  ::_exit(127);
}

// Everything the process writes to the ready pipe until it closes it (or the
// start limit passes).
std::string ReadUntilClosed(int fd) {
  std::string text;
  char buffer[64];
  while (true) {
    pollfd wait{fd, POLLIN, 0};
    const int polled = ::poll(&wait, 1, kStartLimitMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) break;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace

std::string StartServiceProcess(const PortableMachine& machine, const ServiceProcess& service,
                                const std::string& program) {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    throw HostError(error_number::kPermissionDenied,
                    std::string("Cannot start the ") + service.description);
  }
  const std::string log = AtRoot(machine.root(), service.log_file);
  const std::string root_variable =
      std::string(PortableMachine::kRootVariable) + "=" + machine.root();
  const pid_t first = ::fork();
  if (first == 0) BecomeServiceProcess(program, log, root_variable, ready[1]);
  ::close(ready[1]);
  if (first < 0) {
    ::close(ready[0]);
    throw HostError(error_number::kPermissionDenied,
                    std::string("Cannot start the ") + service.description);
  }
  int status = 0;
  while (::waitpid(first, &status, 0) < 0 && errno == EINTR) {
  }
  const std::string text = ReadUntilClosed(ready[0]);
  ::close(ready[0]);
  if (text.empty()) {
    throw HostError(error_number::kUnspecified,
                    std::string("The ") + service.description + " did not start (see " + log + ")");
  }
  return text;
}

std::optional<pid_t> ServiceProcessId(const std::string& machine_root,
                                      const ServiceProcess& service) {
  const std::optional<long> pid = ReadServiceNumber(AtRoot(machine_root, service.pid_file));
  if (!pid || !IsServiceProcess(static_cast<pid_t>(*pid), service)) return std::nullopt;
  return static_cast<pid_t>(*pid);
}

void StopServiceProcess(const std::string& machine_root, const ServiceProcess& service) {
  if (const std::optional<pid_t> pid = ServiceProcessId(machine_root, service)) {
    ::kill(*pid, SIGTERM);
    for (int waited = 0; waited < kStopLimitMs && IsServiceProcess(*pid, service); waited += 20) {
      ::usleep(20000);
    }
  }
  ::unlink(AtRoot(machine_root, service.pid_file).c_str());
}

bool AnnounceServiceProcess(const std::string& machine_root, const ServiceProcess& service,
                            const std::string& ready_text) {
  WriteServiceFile(AtRoot(machine_root, service.pid_file), std::to_string(::getpid()));
  const char* ready = std::getenv(kReadyDescriptorVariable);
  if (ready == nullptr) return false;
  const int fd = std::atoi(ready);
  if (fd <= 2) return false;
  const bool told =
      ::write(fd, ready_text.data(), ready_text.size()) == static_cast<ssize_t>(ready_text.size());
  ::close(fd);
  return told;
}

int RunServiceProcess(const char* name, const std::function<int(const PortableMachine&)>& serve) {
  try {
    const char* root = std::getenv(PortableMachine::kRootVariable);
    if (root == nullptr || *root == '\0') {
      std::fprintf(stderr, "%s: QUILLON_MACHINE is not set\n", name);
      return 2;
    }
    const PortableMachine machine(root, name);
    struct sigaction terminate {};
    terminate.sa_handler = OnTerminate;
    ::sigaction(SIGTERM, &terminate, nullptr);
    ::sigaction(SIGINT, &terminate, nullptr);
    return serve(machine);
  } catch (const HostError& error) {
    std::fprintf(stderr, "%s: Error %ld: %s\n", name, error.number(), error.description().c_str());
    return 1;
  }
}

bool ServiceStopRequested() {
  return stop_requested;
}

void RequestServiceStop() {
  stop_requested = true;
}

bool ServiceMayRunOn(const std::string& machine_root, const char* service) {
  try {
    return IsMachine(machine_root) && RunningServices(machine_root).IsRunning(service);
  } catch (const HostError& error) {
    std::fprintf(stderr, "cannot read the running services: %s\n", error.description().c_str());
    return false;
  }
}

std::optional<long> ReadServiceNumber(const std::string& path) {
  std::ifstream in(path);
  long number = 0;
  if (!(in >> number) || number <= 0) return std::nullopt;
  return number;
}

void WriteServiceFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << text << "\n";
  }
  std::rename(temporary.c_str(), path.c_str());
}

}  // namespace quillon::machine

#include "support/web_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "shared/host_error.h"
#include "shared/posix/posix_shell.h"
#include "support/web_server.h"

namespace quillon::machine {
namespace {

// How long a start may take before it counts as failed, and how long a stop
// waits for the process to end.
constexpr int kStartLimitMs = 60000;
constexpr int kStopLimitMs = 30000;
constexpr char kServerProgram[] = "\\system32\\inetsrv\\inetinfo.exe";
constexpr char kLogName[] = "w3svc.log";

std::optional<long> ReadNumber(const std::string& path) {
  std::ifstream in(path);
  long number = 0;
  if (!(in >> number) || number <= 0) return std::nullopt;
  return number;
}

// True when pid is a running inetinfo.exe (not some later process that got
// the same id).
bool IsServer(pid_t pid) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
  char target[4096];
  const ssize_t length = ::readlink(link, target, sizeof target - 1);
  if (length <= 0) return false;
  const std::string path(target, static_cast<std::size_t>(length));
  return path.find("inetinfo.exe") != std::string::npos;
}

}  // namespace

std::string WebServerAddress(int port) {
  return "http://127.0.0.1:" + std::to_string(port) + "/";
}

std::optional<int> WebServerPort(const std::string& machine_root) {
  const std::optional<long> pid = ReadNumber(machine_root + "/" + kWebServerPidFile);
  const std::optional<long> port = ReadNumber(machine_root + "/" + kWebServerPortFile);
  if (!pid || !port || !IsServer(static_cast<pid_t>(*pid))) return std::nullopt;
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
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    throw HostError(error_number::kPermissionDenied, "Cannot start the web server");
  }
  const std::string log = machine.root() + "/" + kLogName;
  const std::string root_variable =
      std::string(PortableMachine::kRootVariable) + "=" + machine.root();
  const pid_t first = ::fork();
  if (first == 0) {
    // Detached: a session of its own, standard streams on the log.
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    const int null = ::open("/dev/null", O_RDONLY);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0644);
    if (null < 0 || out < 0) ::_exit(127);
    ::dup2(null, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    // The ready pipe becomes descriptor 3; nothing else of the starter's
    // stays open.
    const int copy = ::fcntl(ready[1], F_DUPFD, 10);
    if (copy < 0 || ::dup2(copy, 3) != 3) ::_exit(127);
    ::close_range(4, ~0U, 0);
    const int fd = 3;
    char variable[64];
    std::snprintf(variable, sizeof variable, "%s=%d", kReadyDescriptorVariable, fd);
    ::putenv(variable);
    char root[4096];
    std::snprintf(root, sizeof root, "%s", root_variable.c_str());
    ::putenv(root);
    char* argv[] = {const_cast<char*>(program->posix.c_str()), nullptr};
    ::execv(program->posix.c_str(), argv);
    ::_exit(127);
  }
  ::close(ready[1]);
  if (first < 0) {
    ::close(ready[0]);
    throw HostError(error_number::kPermissionDenied, "Cannot start the web server");
  }
  int status = 0;
  while (::waitpid(first, &status, 0) < 0 && errno == EINTR) {
  }
  std::string text;
  char buffer[32];
  while (true) {
    pollfd wait{ready[0], POLLIN, 0};
    const int polled = ::poll(&wait, 1, kStartLimitMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) break;
    const ssize_t n = ::read(ready[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(ready[0]);
  const int port = std::atoi(text.c_str());
  if (port <= 0) {
    throw HostError(error_number::kUnspecified, "The web server did not start (see " + log + ")");
  }
  return port;
}

void StopWebServer(const PortableMachine& machine) {
  const std::string pid_file = machine.root() + "/" + kWebServerPidFile;
  const std::optional<long> pid = ReadNumber(pid_file);
  if (pid && IsServer(static_cast<pid_t>(*pid))) {
    ::kill(static_cast<pid_t>(*pid), SIGTERM);
    for (int waited = 0; waited < kStopLimitMs && IsServer(static_cast<pid_t>(*pid));
         waited += 20) {
      ::usleep(20000);
    }
  }
  ::unlink(pid_file.c_str());
  ::unlink((machine.root() + "/" + kWebServerPortFile).c_str());
}

}  // namespace quillon::machine

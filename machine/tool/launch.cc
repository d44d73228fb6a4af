#include "launch.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "companions/hook/posix/process_attach.h"
#include "shared/host_error.h"
#include "support/app_init.h"
#include "support/process_start.h"

namespace quillon::machine {

std::vector<Library> AppInitLibraries(PosixShell& shell, const PortableMachine& machine) {
  std::string value;
  try {
    value = shell.RegRead(kAppInitDlls);
  } catch (const HostError&) {
    return {};  // no value: nothing to load
  }
  const std::string windir = shell.Environment("windir");
  std::vector<Library> libraries;
  for (const std::string& entry : SplitLibraryList(value)) {
    const std::string windows_path = LibraryPath(windir, entry);
    const std::optional<MappedPath> mapped = machine.Map(windows_path);
    if (!mapped || !mapped->exists) {
      std::fprintf(stderr, "AppInit_DLLs: %s not found; skipped\n", windows_path.c_str());
      continue;
    }
    libraries.push_back({mapped->windows, mapped->posix});
  }
  return libraries;
}

namespace {

// The hook host's body: load and call every library, then wait for every
// program they started. Never returns.
[[noreturn]] void RunHookHost(const std::vector<Library>& libraries,
                              const std::string& exe_windows_path, pid_t process_id,
                              const std::string& user) {
  // The tool's standard output carries only its own report.
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  for (const Library& library : libraries) {
    void* handle = ::dlopen(library.posix_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      std::fprintf(stderr, "AppInit_DLLs: %s cannot be loaded: %s\n", library.windows_path.c_str(),
                   ::dlerror());
      continue;
    }
    auto attach =
        reinterpret_cast<hook::ProcessAttachFunction>(::dlsym(handle, hook::kProcessAttachSymbol));
    if (attach == nullptr) {
      std::fprintf(stderr, "AppInit_DLLs: %s has no entry point %s\n", library.windows_path.c_str(),
                   hook::kProcessAttachSymbol);
      continue;
    }
    attach(exe_windows_path.c_str(), static_cast<unsigned>(process_id), user.c_str());
  }
  while (::wait(nullptr) > 0 || errno == EINTR) {
  }
  std::fflush(nullptr);
  ::_exit(0);
}

}  // namespace

pid_t StartHookHost(const std::vector<Library>& libraries, const std::string& exe_windows_path,
                    pid_t process_id, const std::string& user) {
  if (libraries.empty()) return 0;
  std::fflush(nullptr);
  const pid_t host = ::fork();
  if (host < 0) throw HostError(error_number::kUnspecified, "Cannot start the hook host");
  if (host == 0) RunHookHost(libraries, exe_windows_path, process_id, user);
  return host;
}

namespace {

void NoteEnd(int status, LaunchOutcome& outcome) {
  outcome.running = false;
  outcome.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  outcome.exit_status = ExitStatusOf(status);
}

// Takes the launched process's end when it has come.
void CheckEnded(pid_t process_id, LaunchOutcome& outcome) {
  int status = 0;
  if (outcome.running && ::waitpid(process_id, &status, WNOHANG) == process_id) {
    NoteEnd(status, outcome);
  }
}

// True when the process has been sent SIGKILL or is already on its way out:
// it will end without running on. A kill takes effect when the process is
// next scheduled, which may be after its killer has ended.
bool IsDying(pid_t process_id) {
  const std::string folder = "/proc/" + std::to_string(process_id);
  std::ifstream status(folder + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigPnd:", 0) != 0 && line.rfind("ShdPnd:", 0) != 0) continue;
    const unsigned long long pending = std::strtoull(line.c_str() + 7, nullptr, 16);
    if (pending & (1ull << (SIGKILL - 1))) return true;
  }
  // The state and the flags (PF_EXITING) after the command name in stat.
  std::ifstream stat(folder + "/stat");
  std::getline(stat, line);
  const std::size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return false;
  std::istringstream fields(line.substr(name_end + 1));
  std::string state;
  long skipped = 0;
  unsigned long flags = 0;
  fields >> state >> skipped >> skipped >> skipped >> skipped >> skipped >> flags;
  constexpr unsigned long kExiting = 0x4;
  return state == "Z" || state == "X" || (fields && (flags & kExiting) != 0);
}

}  // namespace

LaunchOutcome WatchLaunch(pid_t process_id, pid_t hook_host, long wait_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  LaunchOutcome outcome;
  bool host_running = hook_host > 0;
  while (host_running && Clock::now() < deadline) {
    CheckEnded(process_id, outcome);
    if (::waitpid(hook_host, nullptr, WNOHANG) == hook_host) {
      host_running = false;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  CheckEnded(process_id, outcome);
  if (outcome.running && IsDying(process_id)) {
    int status = 0;
    while (::waitpid(process_id, &status, 0) < 0 && errno == EINTR) {
    }
    NoteEnd(status, outcome);
  }
  return outcome;
}

}  // namespace quillon::machine

#include "support/test_machine.h"

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_shell.h"
#include "support/database_support.h"

extern char** environ;

namespace quillon::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long a test waits for a process it started, and for processes that a
// program it ran launched.
constexpr auto kChildBound = std::chrono::minutes(2);
constexpr auto kLaunchedBound = std::chrono::minutes(1);

// Files of the test's folder, beside the machine.
constexpr char kAnswersFile[] = "answers";
constexpr char kDialogLogFile[] = "dialogs.log";
constexpr char kRunLogFile[] = "runs.log";

// ------------------------------------------------------------ processes

// "NAME=value" texts: the test's own environment with the variables set over it.
std::vector<std::string> EnvironmentWith(const std::map<std::string, std::string>& variables) {
  std::vector<std::string> texts;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (variables.count(text.substr(0, text.find('='))) == 0) texts.push_back(text);
  }
  for (const auto& [name, value] : variables) texts.push_back(name + "=" + value);
  return texts;
}

// A null-terminated array of pointers into texts, for exec.
std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Where a started process runs and where its standard streams go; an empty
// field keeps the test's own.
struct ProcessPlaces {
  std::string folder;
  std::string input;
  std::string output;
  std::string errors;
};

pid_t StartProcess(std::vector<std::string> arguments,
                   const std::map<std::string, std::string>& variables,
                   const ProcessPlaces& places) {
  std::vector<std::string> environment = EnvironmentWith(variables);
  const std::vector<char*> argv = PointersTo(arguments);
  const std::vector<char*> envp = PointersTo(environment);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!places.folder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, places.folder.c_str());
  }
  if (!places.input.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, places.input.c_str(), O_RDONLY, 0);
  }
  if (!places.output.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, places.output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!places.errors.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, places.errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t pid = 0;
  const int failure = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) {
    throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(failure));
  }
  return pid;
}

// ------------------------------------------------------------ logs

std::string Required(const std::map<std::string, std::optional<std::string>>& fields,
                     const std::string& key) {
  auto found = fields.find(key);
  if (found == fields.end() || !found->second) throw std::runtime_error("no " + key);
  return *found->second;
}

}  // namespace

// ------------------------------------------------------------ POSIX files

std::string ReadPosixFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadPosixFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> TextLines(const std::string& path) {
  std::vector<std::string> lines = FileLines(path);
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return lines;
}

void WritePosixFile(const std::string& path, const std::string& content, mode_t mode) {
  MakePosixFolders(fs::path(path).parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out || chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot write " + path);
}

void MakePosixFolders(const std::string& path) {
  fs::create_directories(path);
}

bool PosixExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

mode_t PosixMode(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TemporaryFolder::TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quillon-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a folder from " + pattern);
  }
  char resolved[PATH_MAX];
  path_ = realpath(pattern.c_str(), resolved) != nullptr ? resolved : pattern;
  chmod(path_.c_str(), 0755);
}

TemporaryFolder::~TemporaryFolder() {
  // Folders left read-only by a test must open up before they can go.
  nftw(
      path_.c_str(),
      [](const char* path, const struct stat* info, int type, struct FTW*) {
        if (type == FTW_D && !S_ISLNK(info->st_mode)) chmod(path, 0700);
        return 0;
      },
      16, FTW_PHYS);
  std::error_code ignored;  // a folder left behind in /tmp harms no test
  fs::remove_all(path_, ignored);
}

// ------------------------------------------------------------ built files

std::string BinPath(const std::string& name) {
  const std::string path = std::string(QUILLON_BIN_DIR) + "/" + name;
  if (!fs::exists(path)) throw std::runtime_error(path + " is not built");
  return path;
}

std::string HookLibraryPath() {
  const std::string path = std::string(QUILLON_LIB_DIR) + "/Zentrel.so";
  if (!fs::exists(path)) throw std::runtime_error(path + " is not built");
  return path;
}

std::string SourcePath(const std::string& relative) {
  return std::string(QUILLON_SOURCE_DIR) + "/" + relative;
}

// ------------------------------------------------------------ processes

int WaitForChild(pid_t pid) {
  const auto deadline = Clock::now() + kChildBound;
  auto pause = std::chrono::milliseconds(1);
  int status = 0;
  for (;;) {
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid) break;
    if (ended < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      throw std::runtime_error("process " + std::to_string(pid) +
                               " did not end within two minutes; killed");
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

pid_t StartInChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int status = 99;
    try {
      status = body();
    } catch (...) {
      status = 98;
    }
    std::fflush(nullptr);
    _exit(status);
  }
  return pid;
}

int RunInChild(const std::function<int()>& body) {
  return WaitForChild(StartInChild(body));
}

int RunUnprivileged(const std::function<int()>& body) {
  return RunInChild([&] {
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
      const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
      if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return 97;
    }
    return body();
  });
}

bool UnprivilegedUserCanRun(const std::string& program) {
  return RunUnprivileged([&] { return access(program.c_str(), X_OK) == 0 ? 0 : 1; }) == 0;
}

bool StillRuns(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z' &&
         line[close + 2] != 'X';
}

bool WaitUntilEnded(const std::vector<pid_t>& pids) {
  const auto deadline = Clock::now() + kLaunchedBound;
  while (std::any_of(pids.begin(), pids.end(), StillRuns)) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value) {
    setenv(name_.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::string& path) {
  char old[PATH_MAX];
  if (getcwd(old, sizeof old) != nullptr) old_ = old;
  if (chdir(path.c_str()) != 0) throw std::runtime_error("cannot enter " + path);
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
  if (!old_.empty() && chdir(old_.c_str()) != 0) std::perror("chdir back");
}

// ------------------------------------------------------------ logs

std::map<std::string, std::optional<std::string>> ParseJsonLine(const std::string& line) {
  const std::size_t start = line.find('{');
  if (start == std::string::npos) throw std::runtime_error("no JSON object: " + line);
  const nlohmann::json object = nlohmann::json::parse(line.substr(start));
  std::map<std::string, std::optional<std::string>> fields;
  for (const auto& [key, value] : object.items()) {
    if (value.is_string()) {
      fields[key] = Utf8ToCp1252(value.get<std::string>());
    } else if (value.is_null()) {
      fields[key] = std::nullopt;
    } else {
      fields[key] = value.dump();
    }
  }
  return fields;
}

// ------------------------------------------------------------ the machine

TestMachine::TestMachine(MachineTree tree) : root_(folder_.path() + "/machine") {
  MakePosixFolders(root_);
  environment["QUILLON_ANSWERS"] = Scratch(kAnswersFile);
  environment["QUILLON_DIALOG_LOG"] = Scratch(kDialogLogFile);
  environment["QUILLON_RUN_LOG"] = Scratch(kRunLogFile);
  environment["QUILLON_IDLE_SECONDS"] = "120";
  if (tree != MachineTree::kEmpty) {
    MakePosixFolders(InRoot("drive_c"));
    MakePosixFolders(InRoot("drive_d"));
  }
  if (tree == MachineTree::kMinimal) MakeMinimalTree();
}

TestMachine::~TestMachine() {
  for (pid_t pid : launched_) kill(pid, SIGKILL);
}

void TestMachine::MakeMinimalTree() {
  MakePosixFolders(Posix("C:\\WINDOWS\\system32"));
  MakePosixFolders(Posix("C:\\WINDOWS\\Temp"));
  MakePosixFolders(Posix("C:\\Documents and Settings\\alice"));
  WritePosixFile(InRoot("registry.reg"), "Windows Registry Editor Version 5.00\n\n");
  environment["QUILLON_MACHINE"] = root_;
  environment["ProgramFiles"] = "C:\\Program Files";
  environment["windir"] = "C:\\WINDOWS";
  environment["TEMP"] = "C:\\WINDOWS\\Temp";
  environment["COMPUTERNAME"] = "HARLWICK-PC";
  environment["USERNAME"] = "alice";
  environment["USERPROFILE"] = "C:\\Documents and Settings\\alice";
}

std::string TestMachine::Scratch(const std::string& name) const {
  return folder_.path() + "/" + name;
}

std::string TestMachine::InRoot(const std::string& relative) const {
  return root_ + "/" + relative;
}

void TestMachine::CreateWithTool(const std::vector<std::string>& options) {
  std::vector<std::string> arguments = {"create", root_};
  arguments.insert(arguments.end(), options.begin(), options.end());
  const ToolResult result = Tool(arguments);
  if (result.status != 0) {
    // A tool that cannot even write its error report most likely met a full
    // disk; say how much room was left, to tell that from a fault of its own.
    std::error_code unknown;
    const std::uintmax_t free_bytes = fs::space(folder_.path(), unknown).available;
    const std::string room = unknown ? "unknown" : std::to_string(free_bytes >> 20) + " MB";
    throw std::runtime_error("quillon-machine create failed (" + std::to_string(result.status) +
                             "): " + result.err + " [free beside the machine: " + room + "]");
  }
}

void TestMachine::PutCheckerInPlace() const {
  MakePosixFolders(Posix(std::string(kProductFolder) + "\\Logs"));
  CopyIn(BinPath("Zentrel.exe"), kCheckerExe);
}

void TestMachine::PutHookLibraryInPlace() const {
  CopyIn(HookLibraryPath(), kHookLibrary);
}

void TestMachine::CreateDatabase() {
  database_ = CreateZentrelDatabase(root_);
}

std::string TestMachine::Posix(const std::string& windows_path) const {
  const PortableMachine machine(root_, "tests");
  const std::optional<MappedPath> mapped = machine.Map(windows_path);
  if (!mapped) throw std::invalid_argument("not a path on the machine: " + windows_path);
  return mapped->posix;
}

bool TestMachine::Exists(const std::string& windows_path) const {
  const PortableMachine machine(root_, "tests");
  const std::optional<MappedPath> mapped = machine.Map(windows_path);
  return mapped && mapped->exists;
}

void TestMachine::WriteFile(const std::string& windows_path, const std::string& content,
                            bool executable) const {
  WritePosixFile(Posix(windows_path), content, executable ? 0755 : 0644);
}

std::string TestMachine::ReadFile(const std::string& windows_path) const {
  return ReadPosixFile(Posix(windows_path));
}

void TestMachine::CopyIn(const std::string& posix_source, const std::string& windows_path) const {
  const std::string path = Posix(windows_path);
  MakePosixFolders(fs::path(path).parent_path().string());
  fs::copy_file(posix_source, path, fs::copy_options::overwrite_existing);
}

std::vector<std::string> TestMachine::TreeBelow(const std::string& windows_folder) const {
  const fs::path base = Posix(windows_folder);
  std::vector<std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(base)) {
    std::string relative = fs::relative(entry.path(), base).string();
    std::replace(relative.begin(), relative.end(), '/', '\\');
    tree.push_back(entry.is_directory() ? relative + "\\" : relative);
  }
  std::sort(tree.begin(), tree.end());
  return tree;
}

std::optional<std::string> TestMachine::RegistryValue(const std::string& path) const {
  const PortableMachine machine(root_, "tests");
  PosixShell shell(machine);
  try {
    return shell.RegRead(path);
  } catch (const HostError&) {
    return std::nullopt;
  }
}

void TestMachine::SetRegistryValue(const std::string& path, const std::string& data,
                                   const std::string& type) const {
  const PortableMachine machine(root_, "tests");
  PosixShell(machine).RegWrite(path, data, type);
}

void TestMachine::DeleteRegistryValue(const std::string& path) const {
  const PortableMachine machine(root_, "tests");
  PosixShell(machine).RegDelete(path);
}

std::string TestMachine::RegistryText() const {
  return ReadPosixFile(InRoot("registry.reg"));
}

void TestMachine::Answer(const std::string& answer) const {
  // Taken under the same lock as the programs take the queue.
  const int fd = open(Scratch(kAnswersFile).c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) throw std::runtime_error("cannot write the answer queue");
  flock(fd, LOCK_EX);
  const std::string line = answer + "\n";
  const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(fd);
  if (!written) throw std::runtime_error("cannot write the answer queue");
}

std::vector<std::string> TestMachine::DialogLines() const {
  return TextLines(Scratch(kDialogLogFile));
}

std::vector<std::string> TestMachine::RunLines() const {
  return TextLines(Scratch(kRunLogFile));
}

std::vector<DialogRecord> TestMachine::Dialogs() const {
  std::vector<DialogRecord> records;
  for (const auto& line : DialogLines()) {
    const auto fields = ParseJsonLine(line);
    records.push_back({Required(fields, "program"), Required(fields, "kind"),
                       Required(fields, "title"), std::stoi(Required(fields, "style")),
                       Required(fields, "text"), fields.at("answer")});
  }
  return records;
}

std::vector<RunRecord> TestMachine::Runs() const {
  std::vector<RunRecord> records;
  for (const auto& line : RunLines()) {
    const auto fields = ParseJsonLine(line);
    records.push_back({Required(fields, "program"), Required(fields, "command"),
                       std::stoi(Required(fields, "style")), Required(fields, "wait") == "true"});
  }
  return records;
}

int TestMachine::RunToolUnprivileged(const std::vector<std::string>& arguments,
                                     const std::string& errors) const {
  const int error_file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (error_file < 0) throw std::runtime_error("cannot create " + errors);
  const int status = RunUnprivileged([&] {
    if (dup2(error_file, STDERR_FILENO) < 0) return 96;
    return WaitForChild(StartProgram(BinPath("quillon-machine"), arguments));
  });
  close(error_file);
  return status;
}

pid_t TestMachine::StartProgram(const std::string& program,
                                const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  // A program's current directory lies on one of the machine's drives.
  ProcessPlaces places;
  places.folder = InRoot("drive_c");
  return StartProcess(argv, environment, places);
}

ToolResult TestMachine::Tool(const std::vector<std::string>& arguments,
                             const std::string& input) const {
  std::vector<std::string> argv = {BinPath("quillon-machine")};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ProcessPlaces places;
  places.input = Scratch(".stdin");
  places.output = Scratch(".stdout");
  places.errors = Scratch(".stderr");
  WritePosixFile(places.input, input);
  ToolResult result;
  result.status = WaitForChild(StartProcess(argv, environment, places));
  result.out = ReadPosixFile(places.output);
  result.err = ReadPosixFile(places.errors);
  return result;
}

ToolResult TestMachine::Run(const std::string& command_line, const std::string& folder,
                            const std::string& input) const {
  std::vector<std::string> arguments = {"run", root_};
  if (!folder.empty()) arguments.insert(arguments.end(), {"--cwd", folder});
  arguments.insert(arguments.end(), {"--", command_line});
  return Tool(arguments, input);
}

ToolResult TestMachine::Start(const std::string& user, const std::string& command_line) {
  ToolResult result =
      Tool({"start", root_, "--user", user, "--wait-ms", "600000", "--", command_line});
  const std::string marker = " as process ";
  const std::size_t at = result.out.find(marker);
  if (at != std::string::npos) {
    launched_.push_back(static_cast<pid_t>(std::atol(result.out.c_str() + at + marker.size())));
  }
  return result;
}

std::vector<std::string> TestMachine::StandInLog(const std::string& program) const {
  std::vector<std::string> lines;
  for (const std::string& line : TextLines(InRoot("stand-ins.log"))) {
    if (line.rfind("{\"program\":\"" + program + "\",", 0) == 0) lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> TestMachine::RunningServices() const {
  return TextLines(InRoot("services.running"));
}

std::string LastLine(const ToolResult& result) {
  std::string out = result.out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out.substr(out.rfind('\n') + 1);
}

}  // namespace quillon::testing

#include "machine_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "shared/host_error.h"
#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_shell.h"

extern char** environ;

namespace quillon::machine::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const std::string& posix_path) {
  std::ifstream in(posix_path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

ToolResult Spawn(const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& extra, const std::string& input,
                 const std::string& folder) {
  const std::string in_path = folder + "/.stdin";
  const std::string out_path = folder + "/.stdout";
  const std::string err_path = folder + "/.stderr";
  std::ofstream(in_path, std::ios::binary) << input;

  std::vector<std::string> environment_texts;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (extra.count(text.substr(0, text.find('='))) == 0) environment_texts.push_back(text);
  }
  for (const auto& [name, value] : extra) environment_texts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& text : environment_texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<std::string> argument_texts = arguments;
  std::vector<char*> argv;
  for (std::string& text : argument_texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  ToolResult result;
  const int failure = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) {
    ADD_FAILURE() << "cannot start " << arguments[0];
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadWhole(out_path);
  result.err = ReadWhole(err_path);
  return result;
}

}  // namespace

std::string ToolPath() {
  return std::string(QUILLON_BIN_DIR) + "/quillon-machine";
}
std::string BinPath(const std::string& name) {
  return std::string(QUILLON_BIN_DIR) + "/" + name;
}
std::string HookLibraryPath() {
  return std::string(QUILLON_LIB_DIR) + "/Zentrel.so";
}
std::string SourcePath(const std::string& relative) {
  return std::string(QUILLON_SOURCE_DIR) + "/" + relative;
}

void MachineTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "quillon-machine-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  folder_ = pattern;
  root_ = folder_ + "/machine";
  // Ordinary applications started by a test end on their own soon after.
  environment["QUILLON_IDLE_SECONDS"] = "120";
  environment["QUILLON_DIALOG_LOG"] = Scratch("dialogs.log");
  environment["QUILLON_RUN_LOG"] = Scratch("runs.log");
  environment["QUILLON_ANSWERS"] = Scratch("answers");
}

void MachineTest::TearDown() {
  for (pid_t pid : launched_) kill(pid, SIGKILL);
  std::error_code error;
  fs::remove_all(folder_, error);
}

void MachineTest::CreateMachine(const std::vector<std::string>& options) {
  std::vector<std::string> arguments = {"create", root_};
  arguments.insert(arguments.end(), options.begin(), options.end());
  const ToolResult result = Tool(arguments);
  ASSERT_EQ(result.status, 0) << result.err;
}

ToolResult MachineTest::Tool(const std::vector<std::string>& arguments, const std::string& input) {
  std::vector<std::string> full = {ToolPath()};
  full.insert(full.end(), arguments.begin(), arguments.end());
  return Spawn(full, environment, input, folder_);
}

ToolResult MachineTest::Run(const std::string& command_line, const std::string& folder,
                            const std::string& input) {
  std::vector<std::string> arguments = {"run", root_};
  if (!folder.empty()) arguments.insert(arguments.end(), {"--cwd", folder});
  arguments.insert(arguments.end(), {"--", command_line});
  return Tool(arguments, input);
}

ToolResult MachineTest::Start(const std::string& user, const std::string& command_line) {
  ToolResult result =
      Tool({"start", root_, "--user", user, "--wait-ms", "600000", "--", command_line});
  const std::string marker = " as process ";
  const std::size_t at = result.out.find(marker);
  if (at != std::string::npos) {
    launched_.push_back(static_cast<pid_t>(std::atol(result.out.c_str() + at + marker.size())));
  }
  return result;
}

bool MachineTest::WaitForLaunchedPrograms() const {
  for (int round = 0; round < 6000; ++round) {
    bool any = false;
    for (pid_t pid : launched_) {
      // A process that has ended but is not yet reaped counts as ended.
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string line;
      std::getline(stat, line);
      const std::size_t close = line.rfind(')');
      any = any || (close != std::string::npos && line.size() > close + 2 &&
                    line[close + 2] != 'Z' && line[close + 2] != 'X');
    }
    if (!any) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string MachineTest::Posix(const std::string& windows_path) const {
  const PortableMachine machine(root_, "machine_tests");
  const std::optional<MappedPath> mapped = machine.Map(windows_path);
  return mapped ? mapped->posix : "";
}

void MachineTest::WriteFile(const std::string& windows_path, const std::string& text,
                            bool executable) const {
  const std::string path = Posix(windows_path);
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
  if (executable) fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add);
}

std::string MachineTest::ReadFile(const std::string& windows_path) const {
  return ReadWhole(Posix(windows_path));
}

bool MachineTest::Exists(const std::string& windows_path) const {
  const PortableMachine machine(root_, "machine_tests");
  const std::optional<MappedPath> mapped = machine.Map(windows_path);
  return mapped && mapped->exists;
}

std::optional<std::string> MachineTest::RegistryValue(const std::string& path) const {
  const PortableMachine machine(root_, "machine_tests");
  PosixShell shell(machine);
  try {
    return shell.RegRead(path);
  } catch (const HostError&) {
    return std::nullopt;
  }
}

void MachineTest::SetRegistryValue(const std::string& path, const std::string& data,
                                   const std::string& type) const {
  const PortableMachine machine(root_, "machine_tests");
  PosixShell shell(machine);
  shell.RegWrite(path, data, type);
}

std::vector<std::string> MachineTest::StandInLog(const std::string& program) const {
  std::vector<std::string> lines;
  for (const std::string& line : Lines(root_ + "/stand-ins.log")) {
    if (line.rfind("{\"program\":\"" + program + "\",", 0) == 0) lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> MachineTest::RunningServices() const {
  return Lines(root_ + "/services.running");
}

std::vector<std::string> MachineTest::Lines(const std::string& posix_path) {
  std::vector<std::string> lines;
  std::ifstream in(posix_path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace quillon::machine::testing

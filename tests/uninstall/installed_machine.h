// Tests on a real portable machine with the product laid down the way Setup
// leaves it: a fresh machine per test, made and driven by the built
// quillon-machine, with the built programs copied in. Programs run as
// separate processes; their boxes and starts land in logs the tests read.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "shared/host_error.h"
#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_shell.h"
#include "support/database_support.h"

extern char** environ;

namespace quillon::testing {

struct ToolRun {
  int status = -1;  // exit status; 128 + signal for a killed process
  std::string out;
  std::string err;
};

inline constexpr char kAppInitDllsValue[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";
inline constexpr char kRegistrationKey[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentrel";
inline constexpr char kProductFolder[] = "C:\\Program Files\\Harlwick\\Zentrel";
inline constexpr char kUninstallExe[] =
    "C:\\Program Files\\Harlwick\\Zentrel\\Uninstall\\Uninstall.exe";
inline constexpr char kZentrelConfigExe[] =
    "C:\\Program Files\\Harlwick\\Zentrel\\Config\\ZentrelConfig.exe";
inline constexpr char kStartMenuGroup[] =
    "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\Quillon";
inline constexpr char kHookLibrary[] = "C:\\WINDOWS\\system32\\Zentrel.dll";
inline constexpr char kRetiredHookLibrary[] = "C:\\WINDOWS\\system32\\Zentrel.dll.old";
inline constexpr char kWebSite[] = "C:\\Inetpub\\wwwroot\\Zentrel";
// An account that the database lists as controlled and grants nothing.
inline constexpr char kControlledUser[] = "Clerk";

class InstalledMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "quillon-installed-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    root_ = folder_ + "/machine";
    for (const char* built :
         {"quillon-machine", "Uninstall.exe", "ZentrelConfig.exe", "Zentrel.exe",
          "stand-ins/cmd.exe", "stand-ins/wscript.exe", "stand-ins/osql.exe"}) {
      ASSERT_TRUE(fs::exists(BinPath(built))) << BinPath(built) << " is not built";
    }
    environment_["QUILLON_DIALOG_LOG"] = Scratch("dialogs.log");
    environment_["QUILLON_RUN_LOG"] = Scratch("runs.log");
    environment_["QUILLON_ANSWERS"] = Scratch("answers");
    environment_["QUILLON_IDLE_SECONDS"] = "120";  // launched programs end on their own
    const ToolRun created = Tool({"create", root_, "--user", kControlledUser});
    ASSERT_EQ(created.status, 0) << created.err;
  }

  void TearDown() override {
    for (pid_t pid : launched_) kill(pid, SIGKILL);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  static std::string BinPath(const std::string& name) {
    return std::string(QUILLON_BIN_DIR) + "/" + name;
  }

  // Lays the product down as Setup leaves it: the product tree with the
  // built programs and the media's removal scripts, the Start Menu group,
  // the uninstall registration, the hook library turned on, the database
  // (with one controlled user) and the web site.
  void InstallProduct() {
    const std::string product = kProductFolder;
    CopyIn(BinPath("Zentrel.exe"), product + "\\Zentrel.exe");
    WriteFile(product + "\\Zentrel.ini", "admin@example.com\r\nmail.example.com\r\n");
    WriteFile(product + "\\Corvane.exe", "mailer", true);
    WriteFile(product + "\\Dusmere.exe", "tool", true);
    std::filesystem::create_directories(Posix(product + "\\Logs"));
    CopyIn(BinPath("ZentrelConfig.exe"), kZentrelConfigExe);
    CopyIn(BinPath("Uninstall.exe"), kUninstallExe);
    for (const char* script : {"Remove Zentrel Web Site", "Remove Zentrel Database"}) {
      CopyIn(std::string(QUILLON_SOURCE_DIR) + "/companions/scripts/" + script + ".vbs",
             product + "\\Uninstall\\" + script + "\\" + script + ".vbs");
    }
    WriteFile(std::string(kStartMenuGroup) + "\\Uninstall Quillon.lnk", "link");
    WriteFile(std::string(kStartMenuGroup) + "\\Zentrel Administration.url", "link");

    const std::string uninstaller = std::string("\"") + kUninstallExe + "\"";
    SetRegistry(std::string(kRegistrationKey) + "\\DisplayIcon", uninstaller);
    SetRegistry(std::string(kRegistrationKey) + "\\DisplayName", "Quillon");
    SetRegistry(std::string(kRegistrationKey) + "\\NoModify", "1", "REG_DWORD");
    SetRegistry(std::string(kRegistrationKey) + "\\NoRepair", "1", "REG_DWORD");
    SetRegistry(std::string(kRegistrationKey) + "\\UninstallString", uninstaller);

    CopyIn(std::string(QUILLON_LIB_DIR) + "/Zentrel.so", kHookLibrary);
    SetRegistry(kAppInitDllsValue, "Zentrel.dll");

    database_ = CreateZentrelDatabase(root_);
    RunSql(database_, std::string("INSERT INTO USERS (user_name, user_status) VALUES ('") +
                          kControlledUser + "', 'ENABLED')");

    WriteFile(std::string(kWebSite) + "\\Default.asp", "<% Response.Write(\"Quillon\") %>");
    WriteFile(std::string(kWebSite) + "\\Users\\Edit.asp", "<% %>");
  }

  // quillon-machine with the arguments and the test's environment.
  ToolRun Tool(const std::vector<std::string>& arguments) {
    std::vector<std::string> full = {BinPath("quillon-machine")};
    full.insert(full.end(), arguments.begin(), arguments.end());
    return Spawn(full);
  }

  // Runs a Windows command line in the machine and waits for it.
  ToolRun Run(const std::string& command_line) { return Tool({"run", root_, "--", command_line}); }

  // Launches a program as a user the way the platform does (libraries of
  // AppInit_DLLs loaded) and returns the launch's fate: "running" or
  // "terminated".
  std::string Launch(const std::string& user, const std::string& command_line) {
    const ToolRun result =
        Tool({"start", root_, "--user", user, "--wait-ms", "600000", "--", command_line});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string marker = " as process ";
    const std::size_t at = result.out.find(marker);
    if (at != std::string::npos) {
      launched_.push_back(static_cast<pid_t>(std::atol(result.out.c_str() + at + marker.size())));
    }
    std::string out = result.out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out.substr(out.rfind('\n') + 1);
  }

  std::string Posix(const std::string& windows_path) const {
    const PortableMachine machine(root_, "uninstall_tests");
    const std::optional<MappedPath> mapped = machine.Map(windows_path);
    return mapped ? mapped->posix : "";
  }
  bool Exists(const std::string& windows_path) const {
    const PortableMachine machine(root_, "uninstall_tests");
    const std::optional<MappedPath> mapped = machine.Map(windows_path);
    return mapped && mapped->exists;
  }
  void WriteFile(const std::string& windows_path, const std::string& text,
                 bool executable = false) const {
    const std::string path = Posix(windows_path);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    if (executable) {
      std::filesystem::permissions(path, std::filesystem::perms::owner_exec,
                                   std::filesystem::perm_options::add);
    }
  }
  void CopyIn(const std::string& posix_source, const std::string& windows_path) const {
    const std::string path = Posix(windows_path);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file(posix_source, path,
                               std::filesystem::copy_options::overwrite_existing);
  }
  static std::string ReadPosix(const std::string& posix_path) {
    std::ifstream in(posix_path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string ReadFile(const std::string& windows_path) const {
    return ReadPosix(Posix(windows_path));
  }

  // Everything below a folder, as paths relative to it; folders end in "\".
  std::vector<std::string> TreeBelow(const std::string& windows_folder) const {
    namespace fs = std::filesystem;
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

  std::optional<std::string> Registry(const std::string& path) const {
    const PortableMachine machine(root_, "uninstall_tests");
    PosixShell shell(machine);
    try {
      return shell.RegRead(path);
    } catch (const HostError&) {
      return std::nullopt;
    }
  }
  void SetRegistry(const std::string& path, const std::string& data,
                   const std::string& type = "REG_SZ") const {
    const PortableMachine machine(root_, "uninstall_tests");
    PosixShell shell(machine);
    shell.RegWrite(path, data, type);
  }
  std::string RegistryText() const { return ReadPosix(root_ + "/registry.reg"); }

  static std::vector<std::string> Lines(const std::string& posix_path) {
    std::vector<std::string> lines;
    std::ifstream in(posix_path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  // The boxes and program starts of the machine's programs, in order.
  std::vector<std::string> Boxes() const { return Lines(Scratch("dialogs.log")); }
  std::vector<std::string> Starts() const { return Lines(Scratch("runs.log")); }
  void Answer(const std::string& answers) const {
    std::ofstream(Scratch("answers"), std::ios::binary) << answers;
  }

  std::string Scratch(const std::string& name) const { return folder_ + "/" + name; }
  const std::string& root() const { return root_; }
  const std::string& database() const { return database_; }

 private:
  ToolRun Spawn(const std::vector<std::string>& arguments) {
    const std::string out_path = Scratch("tool.out");
    const std::string err_path = Scratch("tool.err");
    std::vector<std::string> environment_texts;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (environment_.count(text.substr(0, text.find('='))) == 0) {
        environment_texts.push_back(text);
      }
    }
    for (const auto& [name, value] : environment_) environment_texts.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : environment_texts) envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> argument_texts = arguments;
    std::vector<char*> argv;
    for (std::string& text : argument_texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ToolRun result;
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
    result.out = ReadPosix(out_path);
    result.err = ReadPosix(err_path);
    return result;
  }

  std::string folder_;
  std::string root_;
  std::string database_;
  std::map<std::string, std::string> environment_;
  std::vector<pid_t> launched_;
};

}  // namespace quillon::testing

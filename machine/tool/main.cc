// quillon-machine: makes a portable Windows machine in a directory and
// drives it.
//
//   quillon-machine create DIR [--no-mdac | --mdac-version V] [--no-iis]
//                              [--no-msde] [--computer-name NAME] [--user NAME]...
//   quillon-machine env DIR [--user NAME]
//   quillon-machine mount DIR LETTER FOLDER
//   quillon-machine start DIR --user NAME [--wait-ms N] [--cwd WINPATH] -- COMMAND_LINE
//   quillon-machine run DIR [--user NAME] [--cwd WINPATH] -- COMMAND_LINE
//   quillon-machine restart DIR
//   quillon-machine media FOLDER
//   quillon-machine open DIR [--user NAME] SHORTCUT
//   quillon-machine account DIR NAME [--administrator]   (password on stdin)
//   quillon-machine web DIR
//
// COMMAND_LINE is a Windows command line: one argument is taken as it is;
// several are joined, each quoted where it holds blanks, so that each stays
// one argument.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "launch.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/machine_accounts.h"
#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_shell.h"
#include "support/accounts.h"
#include "support/command_text.h"
#include "support/database_service.h"
#include "support/machine_layout.h"
#include "support/process_start.h"
#include "support/shortcut.h"
#include "support/usage_error.h"
#include "support/web_service.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

constexpr char kToolName[] = "quillon-machine";
constexpr long kDefaultWaitMs = 10000;
constexpr long kMaxWaitMs = 86400000;  // a day
constexpr int kProgramNotFound = 127;
constexpr int kUsageStatus = 2;  // a wrong command line, or a machine or name refused

// ------------------------------------------------------------ command line

// What the command line asks for; each command reads the fields it takes.
struct Request {
  std::string dir;
  std::optional<std::string> user;  // --user of env, start, run, open
  std::vector<std::string> users;   // --user of create, once per user
  std::optional<std::string> cwd;
  std::optional<std::string> wait_ms;
  bool no_mdac = false;
  std::optional<std::string> mdac_version;
  bool no_iis = false;
  bool no_msde = false;
  std::optional<std::string> computer_name;
  std::string letter;
  std::string folder;
  std::string name;
  bool administrator = false;
  std::string shortcut;
  std::optional<std::string> command_line;  // the Windows command line after "--"
};

std::string AbsolutePath(const std::string& path) {
  std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return absolute;
}

std::string ExistingMachine(const std::string& dir) {
  const std::string root = AbsolutePath(dir);
  if (!IsMachine(root)) throw UsageError(root + " holds no machine (create one first)");
  return root;
}

long WaitMs(const std::optional<std::string>& text) {
  if (!text) return kDefaultWaitMs;
  // Digits only, and no more than a day: the deadline must stay within the
  // clock's range.
  long wait_ms = 0;
  for (const char c : *text) {
    if (c < '0' || c > '9' || wait_ms > kMaxWaitMs) {
      wait_ms = -1;
      break;
    }
    wait_ms = wait_ms * 10 + (c - '0');
  }
  if (text->empty() || wait_ms < 0 || wait_ms > kMaxWaitMs) {
    throw UsageError("--wait-ms takes a number of milliseconds up to " +
                     std::to_string(kMaxWaitMs));
  }
  return wait_ms;
}

// The folder of the built stand-ins: stand-ins/ beside this tool.
std::string StandInsFolder() {
  char executable[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
  if (length <= 0) throw HostError(error_number::kPathNotFound, "Cannot find the tool's folder");
  const std::string path(executable, static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/')) + "/stand-ins";
}

// ------------------------------------------------------------ the machine

void PrintEnvironment(const Environment& environment) {
  for (const auto& [name, value] : environment) std::printf("%s=%s\n", name.c_str(), value.c_str());
}

// Makes this process one of the machine's: the user's environment, and the
// current folder (the user's profile unless another Windows folder is given).
void EnterMachine(const PortableMachine& machine, const std::string& user,
                  const std::optional<std::string>& folder) {
  std::string profile;
  for (const auto& [name, value] : MachineEnvironment(machine, user)) {
    ::setenv(name.c_str(), value.c_str(), 1);
    if (name == "USERPROFILE") profile = value;
  }
  const std::string windows_folder = folder.value_or(profile);
  const std::optional<MappedPath> mapped = machine.Map(windows_folder);
  if (!mapped || !mapped->exists || ::chdir(mapped->posix.c_str()) != 0) {
    throw UsageError("the folder " + windows_folder + " does not exist on the machine");
  }
}

std::optional<ResolvedCommand> FindCommand(const PosixShell& shell, const std::string& line) {
  std::optional<ResolvedCommand> command = ResolveCommandLine(shell, line);
  if (!command) {
    std::fprintf(stderr, "%s: the program of \"%s\" cannot be found on the machine\n", kToolName,
                 line.c_str());
  }
  return command;
}

// ------------------------------------------------------------ commands

int Create(const Request& request) {
  MachineOptions options;
  options.data_access = !request.no_mdac;
  options.data_access_version = request.mdac_version.value_or(options.data_access_version);
  options.web_server = !request.no_iis;
  options.database_engine = !request.no_msde;
  options.computer_name = request.computer_name.value_or(options.computer_name);
  if (!request.users.empty()) options.users = request.users;

  const std::string root = AbsolutePath(request.dir);
  CreateMachine(root, options, StandInsFolder());
  const PortableMachine machine(root, kToolName);
  PrintEnvironment(MachineEnvironment(machine, DefaultUser(machine)));
  return 0;
}

int Env(const Request& request) {
  const PortableMachine machine(ExistingMachine(request.dir), kToolName);
  PrintEnvironment(MachineEnvironment(machine, request.user.value_or(DefaultUser(machine))));
  return 0;
}

int Mount(const Request& request) {
  const PortableMachine machine(ExistingMachine(request.dir), kToolName);
  const std::string& letter = request.letter;
  if (letter.empty() || letter.size() > 2 || (letter.size() == 2 && letter[1] != ':')) {
    throw UsageError("LETTER is a drive letter such as D or D:");
  }
  MountFolder(machine, letter[0], AbsolutePath(request.folder));
  return 0;
}

int Start(const Request& request) {
  const long wait_ms = WaitMs(request.wait_ms);
  const PortableMachine machine(ExistingMachine(request.dir), kToolName);
  const std::string user = EnsureProfile(machine, request.user.value_or(""));
  EnterMachine(machine, user, request.cwd);
  PosixShell shell(machine);

  const std::optional<ResolvedCommand> program = FindCommand(shell, *request.command_line);
  if (!program) return kProgramNotFound;
  const std::string executable = machine.WindowsPath(program->program).value_or(program->program);
  std::fflush(stdout);
  // The program's own output goes to stderr: stdout carries the report.
  const pid_t process_id = StartProgram(*program, -1, STDERR_FILENO);
  std::printf("started %s as process %d\n", executable.c_str(), static_cast<int>(process_id));

  const pid_t hook_host =
      StartHookHost(AppInitLibraries(shell, machine), executable, process_id, user);
  const LaunchOutcome outcome = WatchLaunch(process_id, hook_host, wait_ms);
  if (!outcome.running) {
    if (outcome.killed) {
      std::printf("process %d was killed\n", static_cast<int>(process_id));
    } else {
      std::printf("process %d ended with status %d\n", static_cast<int>(process_id),
                  outcome.exit_status);
    }
  }
  std::printf("%s\n", outcome.running ? "running" : "terminated");
  return 0;
}

int Run(const Request& request) {
  const PortableMachine machine(ExistingMachine(request.dir), kToolName);
  const std::string user = EnsureProfile(machine, request.user.value_or(DefaultUser(machine)));
  EnterMachine(machine, user, request.cwd);
  PosixShell shell(machine);

  const std::optional<ResolvedCommand> program = FindCommand(shell, *request.command_line);
  if (!program) return kProgramNotFound;
  std::fflush(stdout);
  return WaitForExitStatus(StartProgram(*program));
}

int Restart(const Request& request) {
  const PortableMachine machine(ExistingMachine(request.dir), kToolName);
  StopWebServer(machine);
  StopDatabaseEngine(machine);
  for (const std::string& service : RestartServices(machine)) {
    std::printf("started %s\n", service.c_str());
    if (UpperCase(service) == UpperCase(kWebServerService)) {
      std::printf("web server at %s\n", WebServerAddress(StartWebServer(machine)).c_str());
    }
    if (UpperCase(service) == UpperCase(kDatabaseService)) {
      std::printf("database engine as process %d\n",
                  static_cast<int>(StartDatabaseEngine(machine)));
    }
  }
  return 0;
}

// Creates or changes an account that may log on to the machine's web
// server: its group and its password, read from the first line of stdin
// (never from the command line, where other users could see it).
int Account(const Request& request) {
  const PortableMachine machine(ExistingMachine(request.dir), kToolName);
  const std::string user = EnsureProfile(machine, request.name);
  std::string password;
  if (!std::getline(std::cin, password)) throw UsageError("the password is read from stdin");
  if (!password.empty() && password.back() == '\r') password.pop_back();
  SetAccount(machine.root(), user, request.administrator ? kAdministratorsGroup : kUsersGroup,
             password);
  std::printf("%s (%s)\n", user.c_str(),
              IsMachineAdministrator(machine.root(), user) ? kAdministratorsGroup : kUsersGroup);
  return 0;
}

// Prints the web server's address, or fails when it does not run.
int Web(const Request& request) {
  const PortableMachine machine(ExistingMachine(request.dir), kToolName);
  const std::optional<int> port = WebServerPort(machine.root());
  if (!port) {
    std::fprintf(stderr, "%s: the web server does not run (net.exe start W3SVC)\n", kToolName);
    return 1;
  }
  std::printf("%s\n", WebServerAddress(*port).c_str());
  return 0;
}

int Media(const Request& request) {
  PutMediaPrograms(AbsolutePath(request.folder), StandInsFolder());
  return 0;
}

// Opens a Start Menu shortcut (a Windows path to a .lnk or .url file) as the
// shell does when the user clicks it: prints what it starts, runs it in the
// shortcut's working folder and ends with its exit status.
int Open(const Request& request) {
  const PortableMachine machine(ExistingMachine(request.dir), kToolName);
  const std::string user = EnsureProfile(machine, request.user.value_or(DefaultUser(machine)));
  EnterMachine(machine, user, std::nullopt);
  PosixShell shell(machine);

  const std::string& shortcut = request.shortcut;
  const std::optional<MappedPath> file = machine.Map(shortcut);
  std::ifstream in(file && file->exists ? file->posix : std::string(), std::ios::binary);
  if (!in) throw UsageError("there is no shortcut " + shortcut + " on the machine");
  std::ostringstream text;
  text << in.rdbuf();
  const std::optional<ShortcutCommand> command =
      ShortcutFor(SplitLastElement(file->windows).second, text.str(),
                  shell.Environment("ProgramFiles") + "\\Internet Explorer\\iexplore.exe",
                  [&](const std::string& name) { return shell.Environment(name); });
  if (!command) throw UsageError(shortcut + " names no program or address");

  if (!command->working_directory.empty()) {
    EnterMachine(machine, user, command->working_directory);
  }
  std::printf("%s\n", command->command_line.c_str());
  const std::optional<ResolvedCommand> program = FindCommand(shell, command->command_line);
  if (!program) return kProgramNotFound;
  std::fflush(stdout);
  return WaitForExitStatus(StartProgram(*program));
}

using Command = std::function<int(const Request&)>;

// Sets an optional text from an option's (last) value.
CLI::Option* AddText(CLI::App* command, const std::string& name, std::optional<std::string>& value,
                     const std::string& description) {
  return command
      ->add_option_function<std::string>(
          name, [&value](const std::string& text) { value = text; }, description)
      ->type_name("TEXT")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// The tool's commands over one request: each parsed command sets which
// procedure runs (commands_taking_line: those that end in -- COMMAND_LINE).
void DescribeCommands(CLI::App& app, Request& request, Command& command,
                      std::set<std::string>& commands_taking_line) {
  const auto add = [&](const char* name, const char* description, Command run,
                       bool takes_command_line = false) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->callback([&command, run] { command = run; });
    if (takes_command_line) {
      commands_taking_line.insert(name);
      sub->footer(
          "-- COMMAND_LINE: a Windows command line; one argument is taken as it is, several are "
          "joined, each quoted where it holds blanks, so that each stays one argument.");
    }
    return sub;
  };
  const auto machine_dir = [&](CLI::App* sub) {
    sub->add_option("DIR", request.dir, "The machine's folder")->required();
  };
  const char* kUserHelp = "The machine's user (default: the machine's first user)";
  const char* kCwdHelp = "The Windows folder to start in (default: the user's profile)";

  CLI::App* create =
      add("create", "Make a fresh Windows XP machine in DIR and print its environment", Create);
  create->add_option("DIR", request.dir, "An empty or new folder")->required();
  CLI::Option* no_mdac =
      create->add_flag("--no-mdac", request.no_mdac, "Without the data access components");
  AddText(create, "--mdac-version", request.mdac_version, "The data access components' version")
      ->excludes(no_mdac)
      ->type_name("V");
  create->add_flag("--no-iis", request.no_iis, "Without the web server");
  create->add_flag("--no-msde", request.no_msde, "Without the database engine");
  AddText(create, "--computer-name", request.computer_name, "The computer's name")
      ->type_name("NAME");
  create->add_option("--user", request.users, "A user account with its profile (repeatable)")
      ->type_name("NAME")
      ->allow_extra_args(false);

  CLI::App* env = add("env", "Print the environment the machine's programs see", Env);
  machine_dir(env);
  AddText(env, "--user", request.user, kUserHelp)->type_name("NAME");

  CLI::App* mount = add("mount", "Make a copy of FOLDER the machine's drive LETTER", Mount);
  machine_dir(mount);
  mount->add_option("LETTER", request.letter, "A drive letter such as D or D:")->required();
  mount->add_option("FOLDER", request.folder, "The folder to copy")->required();

  CLI::App* start = add("start",
                        "Launch a program as a user, as the platform does (the hook library "
                        "included); print whether it is still running",
                        Start, true);
  machine_dir(start);
  AddText(start, "--user", request.user, "The launching user")->type_name("NAME")->required();
  AddText(start, "--wait-ms", request.wait_ms,
          "How long to watch the launch (default 10000, at most 86400000)")
      ->type_name("N");
  AddText(start, "--cwd", request.cwd, kCwdHelp)->type_name("WINPATH");

  CLI::App* run =
      add("run", "Run a command on the machine and end with its exit status", Run, true);
  machine_dir(run);
  AddText(run, "--user", request.user, kUserHelp)->type_name("NAME");
  AddText(run, "--cwd", request.cwd, kCwdHelp)->type_name("WINPATH");

  machine_dir(
      add("restart", "Restart the machine: start the services that start automatically", Restart));

  add("media", "Put the outside installers and tools of the setup media into FOLDER", Media)
      ->add_option("FOLDER", request.folder, "The media's folder")
      ->required();

  CLI::App* open = add("open", "Open a Start Menu shortcut as a click does", Open);
  machine_dir(open);
  AddText(open, "--user", request.user, kUserHelp)->type_name("NAME");
  open->add_option("SHORTCUT", request.shortcut, "The Windows path of a .lnk or .url file")
      ->required();

  CLI::App* account = add("account",
                          "Create or change an account that may log on to the machine's web "
                          "server; the password is the first line of stdin",
                          Account);
  machine_dir(account);
  account->add_option("NAME", request.name, "The account's name")->required();
  account->add_flag("--administrator", request.administrator,
                    "A member of Administrators (else of Users)");

  machine_dir(add("web", "Print the machine's web server address, when it runs", Web));
}

// Runs one command line (the arguments after the tool's name).
int RunTool(std::vector<std::string> arguments) {
  // 1. The Windows command line, everything after the first "--".
  Request request;
  const auto mark = std::find(arguments.begin(), arguments.end(), "--");
  if (mark != arguments.end()) {
    const std::vector<std::string> line(mark + 1, arguments.end());
    if (line.empty()) throw UsageError("no command line after --");
    request.command_line = line.size() == 1 ? line[0] : JoinCommandLine(line);
    arguments.erase(mark, arguments.end());
  }
  // "help" and "help COMMAND" ask for what --help shows.
  if (!arguments.empty() && arguments[0] == "help") {
    arguments.erase(arguments.begin());
    arguments.emplace_back("--help");
  }

  // 2. The command and its options.
  CLI::App app("quillon-machine: makes a portable Windows machine in a directory and drives it.",
               kToolName);
  app.require_subcommand(1);
  Command command;
  std::set<std::string> commands_taking_line;
  DescribeCommands(app, request, command, commands_taking_line);
  app.failure_message([](const CLI::App* failed, const CLI::Error& error) {
    const auto chosen = failed->get_subcommands();
    return std::string(kToolName) + ": " + error.what() + "\n" + kToolName +
           (chosen.empty() ? "" : " " + chosen.front()->get_name()) + " --help shows the usage\n";
  });
  const auto first_word =
      std::find_if(arguments.begin(), arguments.end(),
                   [](const std::string& word) { return word.empty() || word.front() != '-'; });
  if (first_word != arguments.end()) {
    try {
      app.get_subcommand(*first_word);
    } catch (const CLI::OptionNotFound&) {
      throw UsageError("there is no command \"" + *first_word + "\"; " + kToolName +
                       " --help lists the commands");
    }
  }
  try {
    std::reverse(arguments.begin(), arguments.end());
    app.parse(arguments);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error, std::cout, std::cerr);
    return status == 0 ? 0 : kUsageStatus;
  }
  const std::string name = app.get_subcommands().front()->get_name();
  if (commands_taking_line.count(name) == 0 && request.command_line) {
    throw UsageError(name + " takes no -- COMMAND_LINE");
  }
  if (commands_taking_line.count(name) > 0 && !request.command_line) {
    throw UsageError("no -- COMMAND_LINE given");
  }

  // 3. The command.
  return command(request);
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  try {
    return quillon::machine::RunTool(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const quillon::machine::UsageError& error) {
    std::fprintf(stderr, "quillon-machine: %s\n", error.what());
    return quillon::machine::kUsageStatus;
  } catch (const quillon::HostError& error) {
    std::fprintf(stderr, "quillon-machine: Error %ld: %s\n", error.number(),
                 error.description().c_str());
    return 1;
  }
}

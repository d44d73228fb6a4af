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

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
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

constexpr char kUsage[] =
    "usage:\n"
    "  quillon-machine create DIR [--no-mdac | --mdac-version V] [--no-iis] [--no-msde]\n"
    "                             [--computer-name NAME] [--user NAME]...\n"
    "  quillon-machine env DIR [--user NAME]\n"
    "  quillon-machine mount DIR LETTER FOLDER\n"
    "  quillon-machine start DIR --user NAME [--wait-ms N] [--cwd WINPATH] -- COMMAND_LINE\n"
    "  quillon-machine run DIR [--user NAME] [--cwd WINPATH] -- COMMAND_LINE\n"
    "  quillon-machine restart DIR\n"
    "  quillon-machine media FOLDER\n"
    "  quillon-machine open DIR [--user NAME] SHORTCUT\n"
    "  quillon-machine account DIR NAME [--administrator]   (the password on stdin)\n"
    "  quillon-machine web DIR\n";

// ------------------------------------------------------------ command line

struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> options;
  std::optional<std::string> command_line;  // after "--"

  bool Has(const std::string& option) const { return options.count(option) > 0; }
  std::optional<std::string> Value(const std::string& option) const {
    const auto found = options.find(option);
    if (found == options.end()) return std::nullopt;
    return found->second.back();
  }
};

// Options in `with_value` take the next argument; those in `flags` take none.
Arguments ParseArguments(const std::vector<std::string>& raw, std::size_t positional_count,
                         const std::set<std::string>& with_value,
                         const std::set<std::string>& flags, bool takes_command_line) {
  Arguments parsed;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const std::string& argument = raw[i];
    if (argument == "--" && takes_command_line) {
      const std::vector<std::string> rest(raw.begin() + static_cast<long>(i) + 1, raw.end());
      if (rest.empty()) throw UsageError("no command line after --");
      parsed.command_line = rest.size() == 1 ? rest[0] : JoinCommandLine(rest);
      break;
    }
    if (with_value.count(argument) > 0) {
      if (i + 1 >= raw.size()) throw UsageError(argument + " needs a value");
      parsed.options[argument].push_back(raw[++i]);
    } else if (flags.count(argument) > 0) {
      parsed.options[argument].push_back("");
    } else if (argument.rfind("--", 0) == 0) {
      throw UsageError("unknown option " + argument);
    } else {
      parsed.positional.push_back(argument);
    }
  }
  if (parsed.positional.size() != positional_count) throw UsageError("wrong number of arguments");
  if (takes_command_line && !parsed.command_line) throw UsageError("no -- COMMAND_LINE given");
  return parsed;
}

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

long WaitMs(const Arguments& arguments) {
  const std::optional<std::string> text = arguments.Value("--wait-ms");
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

int Create(const std::vector<std::string>& raw) {
  const Arguments arguments =
      ParseArguments(raw, 1, {"--mdac-version", "--computer-name", "--user"},
                     {"--no-mdac", "--no-iis", "--no-msde"}, false);
  MachineOptions options;
  if (arguments.Has("--no-mdac") && arguments.Has("--mdac-version")) {
    throw UsageError("--no-mdac and --mdac-version exclude each other");
  }
  options.data_access = !arguments.Has("--no-mdac");
  options.data_access_version =
      arguments.Value("--mdac-version").value_or(options.data_access_version);
  options.web_server = !arguments.Has("--no-iis");
  options.database_engine = !arguments.Has("--no-msde");
  options.computer_name = arguments.Value("--computer-name").value_or(options.computer_name);
  if (arguments.Has("--user")) options.users = arguments.options.at("--user");

  const std::string root = AbsolutePath(arguments.positional[0]);
  CreateMachine(root, options, StandInsFolder());
  const PortableMachine machine(root, kToolName);
  PrintEnvironment(MachineEnvironment(machine, DefaultUser(machine)));
  return 0;
}

int Env(const std::vector<std::string>& raw) {
  const Arguments arguments = ParseArguments(raw, 1, {"--user"}, {}, false);
  const PortableMachine machine(ExistingMachine(arguments.positional[0]), kToolName);
  PrintEnvironment(
      MachineEnvironment(machine, arguments.Value("--user").value_or(DefaultUser(machine))));
  return 0;
}

int Mount(const std::vector<std::string>& raw) {
  const Arguments arguments = ParseArguments(raw, 3, {}, {}, false);
  const PortableMachine machine(ExistingMachine(arguments.positional[0]), kToolName);
  const std::string letter = arguments.positional[1];
  if (letter.empty() || letter.size() > 2 || (letter.size() == 2 && letter[1] != ':')) {
    throw UsageError("LETTER is a drive letter such as D or D:");
  }
  MountFolder(machine, letter[0], AbsolutePath(arguments.positional[2]));
  return 0;
}

int Start(const std::vector<std::string>& raw) {
  const Arguments arguments = ParseArguments(raw, 1, {"--user", "--wait-ms", "--cwd"}, {}, true);
  if (!arguments.Has("--user")) throw UsageError("start needs --user NAME");
  const long wait_ms = WaitMs(arguments);
  const PortableMachine machine(ExistingMachine(arguments.positional[0]), kToolName);
  const std::string user = EnsureProfile(machine, *arguments.Value("--user"));
  EnterMachine(machine, user, arguments.Value("--cwd"));
  PosixShell shell(machine);

  const std::optional<ResolvedCommand> program = FindCommand(shell, *arguments.command_line);
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

int Run(const std::vector<std::string>& raw) {
  const Arguments arguments = ParseArguments(raw, 1, {"--user", "--cwd"}, {}, true);
  const PortableMachine machine(ExistingMachine(arguments.positional[0]), kToolName);
  const std::string user =
      EnsureProfile(machine, arguments.Value("--user").value_or(DefaultUser(machine)));
  EnterMachine(machine, user, arguments.Value("--cwd"));
  PosixShell shell(machine);

  const std::optional<ResolvedCommand> program = FindCommand(shell, *arguments.command_line);
  if (!program) return kProgramNotFound;
  std::fflush(stdout);
  return WaitForExitStatus(StartProgram(*program));
}

int Restart(const std::vector<std::string>& raw) {
  const Arguments arguments = ParseArguments(raw, 1, {}, {}, false);
  const PortableMachine machine(ExistingMachine(arguments.positional[0]), kToolName);
  StopWebServer(machine);
  for (const std::string& service : RestartServices(machine)) {
    std::printf("started %s\n", service.c_str());
    if (UpperCase(service) == kWebServerService) {
      std::printf("web server at %s\n", WebServerAddress(StartWebServer(machine)).c_str());
    }
  }
  return 0;
}

// Creates or changes an account that may log on to the machine's web
// server: its group and its password, read from the first line of stdin
// (never from the command line, where other users could see it).
int Account(const std::vector<std::string>& raw) {
  const Arguments arguments = ParseArguments(raw, 2, {}, {"--administrator"}, false);
  const PortableMachine machine(ExistingMachine(arguments.positional[0]), kToolName);
  const std::string user = EnsureProfile(machine, arguments.positional[1]);
  std::string password;
  if (!std::getline(std::cin, password)) throw UsageError("the password is read from stdin");
  if (!password.empty() && password.back() == '\r') password.pop_back();
  SetAccount(machine.root(), user,
             arguments.Has("--administrator") ? kAdministratorsGroup : kUsersGroup, password);
  std::printf("%s (%s)\n", user.c_str(),
              IsMachineAdministrator(machine.root(), user) ? kAdministratorsGroup : kUsersGroup);
  return 0;
}

// Prints the web server's address, or fails when it does not run.
int Web(const std::vector<std::string>& raw) {
  const Arguments arguments = ParseArguments(raw, 1, {}, {}, false);
  const PortableMachine machine(ExistingMachine(arguments.positional[0]), kToolName);
  const std::optional<int> port = WebServerPort(machine.root());
  if (!port) {
    std::fprintf(stderr, "%s: the web server does not run (net.exe start W3SVC)\n", kToolName);
    return 1;
  }
  std::printf("%s\n", WebServerAddress(*port).c_str());
  return 0;
}

int Media(const std::vector<std::string>& raw) {
  const Arguments arguments = ParseArguments(raw, 1, {}, {}, false);
  PutMediaPrograms(AbsolutePath(arguments.positional[0]), StandInsFolder());
  return 0;
}

// Opens a Start Menu shortcut (a Windows path to a .lnk or .url file) as the
// shell does when the user clicks it: prints what it starts, runs it in the
// shortcut's working folder and ends with its exit status.
int Open(const std::vector<std::string>& raw) {
  const Arguments arguments = ParseArguments(raw, 2, {"--user"}, {}, false);
  const PortableMachine machine(ExistingMachine(arguments.positional[0]), kToolName);
  const std::string user =
      EnsureProfile(machine, arguments.Value("--user").value_or(DefaultUser(machine)));
  EnterMachine(machine, user, std::nullopt);
  PosixShell shell(machine);

  const std::string& shortcut = arguments.positional[1];
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

int Dispatch(const std::vector<std::string>& arguments) {
  if (arguments.empty()) throw UsageError("no command given");
  const std::string& command = arguments[0];
  const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  if (command == "create") return Create(rest);
  if (command == "env") return Env(rest);
  if (command == "mount") return Mount(rest);
  if (command == "start") return Start(rest);
  if (command == "run") return Run(rest);
  if (command == "restart") return Restart(rest);
  if (command == "media") return Media(rest);
  if (command == "open") return Open(rest);
  if (command == "account") return Account(rest);
  if (command == "web") return Web(rest);
  if (command == "--help" || command == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  throw UsageError("unknown command " + command);
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  try {
    return quillon::machine::Dispatch(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const quillon::machine::UsageError& error) {
    std::fprintf(stderr, "quillon-machine: %s\n%s", error.what(), quillon::machine::kUsage);
    return 2;
  } catch (const quillon::HostError& error) {
    std::fprintf(stderr, "quillon-machine: Error %ld: %s\n", error.number(),
                 error.description().c_str());
    return 1;
  }
}

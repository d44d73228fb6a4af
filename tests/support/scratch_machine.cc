#include "support/scratch_machine.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "shared/text.h"
#include "support/database_support.h"

namespace quillon::testing {

namespace {

namespace fs = std::filesystem;

constexpr char kProductFolder[] = "C:\\Program Files\\Harlwick\\Zentrel";
constexpr char kZentrel[] = "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe";
constexpr char kBuiltZentrel[] = QUILLON_BIN_DIR "/Zentrel.exe";

// Variables of the test's own environment that the machine's programs need
// as well: the search path of the stand-in scripts and the sanitizers' and
// time zone settings.
constexpr const char* kPassedThrough[] = {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
                                          "TZ"};

// Reads a JSON string starting at its opening quote; leaves i after the
// closing quote. Returns the UTF-8 text. The machine's logs escape only
// control characters as \uXXXX.
std::string JsonString(const std::string& line, std::size_t& i) {
  std::string text;
  for (++i; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] != '\\') {
      text += line[i];
      continue;
    }
    const char escaped = line.at(++i);
    switch (escaped) {
      case 'n':
        text += '\n';
        break;
      case 'r':
        text += '\r';
        break;
      case 't':
        text += '\t';
        break;
      case 'b':
        text += '\b';
        break;
      case 'f':
        text += '\f';
        break;
      case 'u':
        text += static_cast<char>(std::stoul(line.substr(i + 1, 4), nullptr, 16));
        i += 4;
        break;
      default:
        text += escaped;  // " \ /
    }
  }
  if (i >= line.size()) throw std::runtime_error("unterminated JSON string: " + line);
  ++i;
  return text;
}

std::string Required(const std::map<std::string, std::optional<std::string>>& fields,
                     const std::string& key) {
  auto found = fields.find(key);
  if (found == fields.end() || !found->second) throw std::runtime_error("no " + key);
  return *found->second;
}

}  // namespace

std::map<std::string, std::optional<std::string>> ParseJsonLine(const std::string& line) {
  std::map<std::string, std::optional<std::string>> fields;
  std::size_t i = line.find('{');
  if (i == std::string::npos) throw std::runtime_error("no JSON object: " + line);
  ++i;
  auto skip_blanks = [&] {
    while (i < line.size() && (line[i] == ' ' || line[i] == ',')) ++i;
  };
  for (skip_blanks(); i < line.size() && line[i] != '}'; skip_blanks()) {
    const std::string key = JsonString(line, i);
    while (i < line.size() && (line[i] == ':' || line[i] == ' ')) ++i;
    if (line.at(i) == '"') {
      fields[key] = Utf8ToCp1252(JsonString(line, i));
      continue;
    }
    const std::size_t end = line.find_first_of(",}", i);
    const std::string value = line.substr(i, end - i);
    fields[key] = value == "null" ? std::nullopt : std::optional<std::string>(value);
    i = end;
  }
  return fields;
}

std::vector<std::string> FileLines(const std::string& posix_path) {
  std::vector<std::string> lines;
  std::ifstream in(posix_path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

ScratchMachine::ScratchMachine() : root_(folder_.path()) {
  fs::create_directories(Posix("C:\\WINDOWS\\system32"));
  fs::create_directories(Posix("C:\\WINDOWS\\Temp"));
  fs::create_directories(Posix("C:\\Documents and Settings\\alice"));
  fs::create_directories(Posix(std::string(kProductFolder) + "\\Logs"));
  std::ofstream(root_ + "/registry.reg", std::ios::binary)
      << "Windows Registry Editor Version 5.00\n\n";
  database_file_ = CreateZentrelDatabase(root_);

  if (!fs::exists(kBuiltZentrel)) {
    throw std::runtime_error(std::string(kBuiltZentrel) + " is not built");
  }
  fs::copy_file(kBuiltZentrel, Posix(kZentrel));
  fs::permissions(Posix(kZentrel), fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);

  for (const char* name : kPassedThrough) {
    if (const char* value = std::getenv(name)) environment[name] = value;
  }
  environment["QUILLON_MACHINE"] = root_;
  environment["QUILLON_ANSWERS"] = root_ + "/answers.txt";
  environment["QUILLON_DIALOG_LOG"] = root_ + "/dialogs.jsonl";
  environment["QUILLON_RUN_LOG"] = root_ + "/runs.jsonl";
  environment["ProgramFiles"] = "C:\\Program Files";
  environment["windir"] = "C:\\WINDOWS";
  environment["TEMP"] = "C:\\WINDOWS\\Temp";
  environment["COMPUTERNAME"] = "HARLWICK-PC";
  environment["USERNAME"] = "alice";
  environment["USERPROFILE"] = "C:\\Documents and Settings\\alice";
}

std::string ScratchMachine::Posix(const std::string& windows_path) const {
  if (windows_path.size() < 3 || UpperCase(windows_path.substr(0, 3)) != "C:\\") {
    throw std::invalid_argument("not a path on drive C: " + windows_path);
  }
  std::string rest = windows_path.substr(3);
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  return root_ + "/drive_c/" + rest;
}

void ScratchMachine::WriteFile(const std::string& windows_path, const std::string& content,
                               bool executable) const {
  const std::string path = Posix(windows_path);
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  if (executable) {
    fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add);
  }
}

std::optional<std::string> ScratchMachine::ReadFile(const std::string& windows_path) const {
  std::ifstream in(Posix(windows_path), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void ScratchMachine::Answer(const std::string& answer) const {
  // Taken under the same lock as the programs take the queue.
  const int fd =
      open(environment.at("QUILLON_ANSWERS").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) throw std::runtime_error("cannot write the answer queue");
  flock(fd, LOCK_EX);
  const std::string line = answer + "\n";
  const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(fd);
  if (!written) throw std::runtime_error("cannot write the answer queue");
}

std::vector<DialogRecord> ScratchMachine::Dialogs() const {
  std::vector<DialogRecord> records;
  for (const auto& line : FileLines(environment.at("QUILLON_DIALOG_LOG"))) {
    const auto fields = ParseJsonLine(line);
    records.push_back({Required(fields, "program"), Required(fields, "kind"),
                       Required(fields, "title"), std::stoi(Required(fields, "style")),
                       Required(fields, "text"), fields.at("answer")});
  }
  return records;
}

std::vector<RunRecord> ScratchMachine::Runs() const {
  std::vector<RunRecord> records;
  for (const auto& line : FileLines(environment.at("QUILLON_RUN_LOG"))) {
    const auto fields = ParseJsonLine(line);
    records.push_back({Required(fields, "program"), Required(fields, "command"),
                       std::stoi(Required(fields, "style")), Required(fields, "wait") == "true"});
  }
  return records;
}

pid_t ScratchMachine::Start(const std::string& program,
                            const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& text : argv_text) argv.push_back(text.data());
  argv.push_back(nullptr);

  std::vector<std::string> envp_text;
  for (const auto& [name, value] : environment) envp_text.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& text : envp_text) envp.push_back(text.data());
  envp.push_back(nullptr);

  // The child starts in drive C's root: a program's current directory lies
  // on one of the machine's drives.
  const std::string drive_c = root_ + "/drive_c";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, drive_c.c_str());
  pid_t pid = 0;
  const int failure =
      posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) {
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(failure));
  }
  return pid;
}

int ScratchMachine::Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

pid_t ScratchMachine::StartZentrel(const std::string& argument_text) const {
  return Start(Posix(kZentrel), {argument_text});
}

int ScratchMachine::RunZentrel(const std::string& argument_text) const {
  return Wait(StartZentrel(argument_text));
}

}  // namespace quillon::testing

#include "shared/posix/posix_shell.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "shared/backend/box_script.h"
#include "shared/backend/registry_path.h"
#include "shared/helpers/text.h"
#include "shared/helpers/windows_names.h"
#include "shared/host_error.h"
#include "shared/posix/json_log.h"
#include "shared/posix/machine_accounts.h"
#include "shared/posix/posix_platform.h"

extern char** environ;

namespace quillon {

namespace {

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

HostError ProgramNotFound() {
  return StandardError(error_number::kSystemFileNotFound);
}

HostError InvalidName() {
  return StandardError(error_number::kInvalidName);
}

// The value to store for RegWrite's data and type.
RegistryValue ValueToWrite(const std::string& name, const std::string& data,
                           const std::string& type) {
  switch (RegistryTypeOrThrow(type)) {
    case RegistryType::kString:
      return {name, RegistryKind::kString, data};
    case RegistryType::kDword:
      return {name, RegistryKind::kDword, std::to_string(ParseDwordData(data))};
    case RegistryType::kExpandString:
      return {name, RegistryKind::kVerbatim, ExpandStringData(data)};
  }
  throw StandardError(error_number::kInvalidProcedureCall);
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool HasExtension(const std::string& program) {
  const std::string name = SplitLastElement(program).second;
  return name.find('.') != std::string::npos;
}

bool HasFolder(const std::string& program) {
  return program.find_first_of("\\/") != std::string::npos ||
         (program.size() >= 2 && program[1] == ':');
}

}  // namespace

std::string PosixShell::Environment(const std::string& name) {
  return EnvironmentValue(name).value_or("");
}

std::string PosixShell::UserName() {
  return Environment("USERNAME");
}

bool PosixShell::IsAdministrator() {
  return IsMachineAdministrator(machine_.root(), UserName());
}

std::string PosixShell::RegRead(const std::string& path) {
  const RegistryPath where = RegistryPathOrThrow(path);
  const RegistryContent content = registry_.Load();
  const RegistryValue* value = content.FindValue(where.FullKey(), where.value);
  if (value == nullptr) {
    throw HostError(error_number::kSystemFileNotFound, RegistryReadFailure(path));
  }
  if (value->kind != RegistryKind::kVerbatim) return value->data;
  std::optional<std::string> expandable = ExpandStringText(value->data);
  if (!expandable) throw StandardError(error_number::kTypeMismatch);
  return *expandable;
}

void PosixShell::RegWrite(const std::string& path, const std::string& data,
                          const std::string& type) {
  const RegistryPath where = RegistryPathOrThrow(path);
  const RegistryValue value = ValueToWrite(where.value, data, type);
  registry_.Update([&](RegistryContent& content) {
    content.SetValue(where.FullKey(), value);
    return true;
  });
}

void PosixShell::RegDelete(const std::string& path) {
  const RegistryPath where = RegistryPathOrThrow(path);
  registry_.Update([&](RegistryContent& content) {
    if (!content.DeleteValue(where.FullKey(), where.value)) {
      throw HostError(error_number::kSystemFileNotFound, RegistryDeleteFailure(path));
    }
    return true;
  });
}

std::optional<std::string> PosixShell::FindProgram(const std::string& program) const {
  if (program.empty()) return std::nullopt;
  if (PathHoldsForbiddenCharacter(program)) throw InvalidName();
  const std::string name = HasExtension(program) ? program : program + ".exe";
  std::vector<std::string> candidates;
  if (HasFolder(program)) {
    candidates.push_back(name);
  } else {
    if (std::optional<std::string> current = machine_.CurrentFolder()) {
      candidates.push_back(*current + "\\" + name);
    }
    if (const char* windir = std::getenv("windir"); windir != nullptr && *windir != '\0') {
      candidates.push_back(std::string(windir) + "\\system32\\" + name);
      candidates.push_back(std::string(windir) + "\\" + name);
    }
  }
  for (const auto& candidate : candidates) {
    std::optional<MappedPath> mapped = machine_.Map(candidate);
    if (mapped && mapped->exists && IsRegularFile(mapped->posix)) return mapped->posix;
  }
  return std::nullopt;
}

void PosixShell::Run(const std::string& command, int style, bool wait) {
  // Logged before the look-up, so that a start that fails is on record too.
  LogRun(command, style, wait);
  std::vector<std::string> arguments = SplitCommandLine(command);
  if (arguments.empty()) throw ProgramNotFound();
  const std::string program = arguments.front();
  arguments.erase(arguments.begin());
  Start(program, std::move(arguments), wait);
}

void PosixShell::RunWithArguments(const std::string& program,
                                  const std::vector<std::string>& arguments, int style, bool wait) {
  std::string command = Quoted(program);
  for (const std::string& argument : arguments) command += " " + argument;
  LogRun(command, style, wait);
  Start(program, arguments, wait);
}

void PosixShell::LogRun(const std::string& command, int style, bool wait) const {
  if (const char* log = std::getenv(kRunLogVariable); log != nullptr && *log != '\0') {
    AppendLogLine(log, RunLogLine(machine_.program_name(), command, style, wait));
  }
}

void PosixShell::Start(const std::string& program_path, std::vector<std::string> arguments,
                       bool wait) const {
  std::optional<std::string> program = FindProgram(program_path);
  if (!program) throw ProgramNotFound();
  arguments.insert(arguments.begin(), *program);

  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int failure = posix_spawn(&pid, program->c_str(), nullptr, nullptr, argv.data(), environ);
  if (failure == ENOENT) throw ProgramNotFound();
  if (failure == EACCES || failure == EPERM) {
    throw StandardError(error_number::kAccessDenied);
  }
  if (failure != 0) throw HostError(error_number::kUnspecified, std::strerror(failure));
  if (!wait) return;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

std::string PosixShell::SpecialFolders(const std::string& name) {
  if (UpperCase(name) != "STARTMENU") return "";
  std::string profile = Environment("USERPROFILE");
  while (!profile.empty() && profile.back() == '\\') profile.pop_back();
  return profile + "\\Start Menu";
}

std::vector<UserProfile> PosixShell::UserProfiles() {
  std::string own = Environment("USERPROFILE");
  while (!own.empty() && own.back() == '\\') own.pop_back();
  const std::string parent = SplitLastElement(own).first;
  const std::optional<MappedPath> folder = machine_.Map(parent);
  if (parent.empty() || !folder || !folder->exists || !IsDirectory(folder->posix)) {
    throw StandardError(error_number::kPathNotFound);
  }
  const std::optional<std::vector<std::string>> names = ListFolder(folder->posix);
  if (!names) throw StandardError(error_number::kPermissionDenied);
  std::vector<UserProfile> profiles;
  for (const std::string& name : *names) {
    struct stat info {};
    if (lstat((folder->posix + "/" + name).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      continue;
    }
    std::string windows = folder->windows;
    if (windows.empty() || windows.back() != '\\') windows += '\\';
    profiles.push_back({name, windows + name});
  }
  return profiles;
}

}  // namespace quillon

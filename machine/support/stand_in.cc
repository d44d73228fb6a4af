#include "support/stand_in.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "shared/host_error.h"
#include "support/usage_error.h"

namespace quillon::machine {

StandIn::StandIn(std::string name, PortableMachine& machine, std::vector<std::string> arguments)
    : name_(std::move(name)),
      machine_(machine),
      shell_(machine),
      files_(machine),
      arguments_(std::move(arguments)) {}

std::string StandIn::ArgumentText() const {
  std::string text;
  for (const std::string& argument : arguments_) {
    if (!text.empty()) text += ' ';
    text += argument;
  }
  return text;
}

std::string StandIn::ReadText(const std::string& path) {
  auto stream = files_.OpenTextFile(path, IoMode::kForReading, false);
  std::string text;
  while (!stream->AtEndOfStream()) text += stream->ReadLine() + "\n";
  stream->Close();
  return text;
}

std::string StandIn::ProgramFolder() const {
  char executable[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
  if (length <= 0) return "";
  const std::string path(executable, static_cast<std::size_t>(length));
  return machine_.WindowsPath(path.substr(0, path.rfind('/'))).value_or("");
}

void StandIn::Record(const JsonObject& fields) {
  JsonObject line;
  line.Add("program", name_).Append(fields);
  AppendLine(machine_.root() + "/" + kStandInLogName, line.Text());
}

void StandIn::Say(const std::string& message) const {
  std::fprintf(stderr, "%s: %s\n", name_.c_str(), message.c_str());
}

int RunStandIn(const std::string& name, int argc, char** argv, const StandInBody& body,
               const Redaction& redact) {
  const char* root = std::getenv(PortableMachine::kRootVariable);
  struct stat info {};
  if (root == nullptr || root[0] != '/' || ::stat(root, &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::fprintf(stderr,
                 "%s: %s must name the absolute path of the portable machine's root directory\n",
                 name.c_str(), PortableMachine::kRootVariable);
    return 2;
  }
  PortableMachine machine(root, name);
  StandIn stand_in(name, machine, std::vector<std::string>(argv + 1, argv + argc));

  const std::string text = stand_in.ArgumentText();
  JsonObject call;
  call.Add("arguments", redact ? redact(stand_in.arguments()) : text);
  call.Add("folder", machine.CurrentFolder().value_or(""));
  try {
    stand_in.Record(call);
    return body(stand_in);
  } catch (const UsageError& error) {
    stand_in.Say(error.what());
    try {
      stand_in.Record(JsonObject().Add("usage_error", error.what()));
    } catch (const HostError&) {
      // The log cannot be written either; stderr already has the message.
    }
    return 2;
  } catch (const HostError& error) {
    stand_in.Say("Error " + std::to_string(error.number()) + ": " + error.description());
    try {
      stand_in.Record(
          JsonObject().Add("error_number", error.number()).Add("error", error.description()));
    } catch (const HostError&) {
      // The log cannot be written either; stderr already has the message.
    }
    return 1;
  }
}

}  // namespace quillon::machine

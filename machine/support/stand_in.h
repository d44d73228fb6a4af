// The frame every stand-in for a Windows program runs in: the machine named
// by QUILLON_MACHINE, the host facades over it, and the stand-ins' log
// "stand-ins.log" at the machine root, where each run records what it was
// given (one JSON line: program, arguments, current folder) and what it did.
//
// A stand-in fails loudly: arguments or input it does not understand end it
// with a message on stderr and exit status 2; a failing host operation ends
// it with the error's number and description and exit status 1. Both are
// recorded in the log as well.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_file_system.h"
#include "shared/posix/posix_shell.h"
#include "support/json_line.h"

namespace quillon::machine {

// File name of the stand-ins' log at the machine root.
inline constexpr char kStandInLogName[] = "stand-ins.log";

class StandIn {
 public:
  StandIn(std::string name, PortableMachine& machine, std::vector<std::string> arguments);

  const std::string& name() const { return name_; }
  PortableMachine& machine() { return machine_; }
  PosixShell& shell() { return shell_; }
  PosixFileSystem& files() { return files_; }
  // The POSIX arguments after the program name.
  const std::vector<std::string>& arguments() const { return arguments_; }
  // The argument text (the arguments joined by single blanks).
  std::string ArgumentText() const;
  // The Windows folder that holds this program.
  std::string ProgramFolder() const;

  // The text of a file of the machine, read line by line: each line ends in
  // a line feed (a CR LF reads as one). Throws HostError when the file cannot
  // be read.
  std::string ReadText(const std::string& path);

  // Appends {"program":name, ...fields} to the stand-ins' log.
  void Record(const JsonObject& fields);

  // Writes "name: message" to stderr.
  void Say(const std::string& message) const;

 private:
  std::string name_;
  PortableMachine& machine_;
  PosixShell shell_;
  PosixFileSystem files_;
  std::vector<std::string> arguments_;
};

using StandInBody = std::function<int(StandIn& stand_in)>;
// Turns the arguments into the argument text that may be recorded (the MSDE
// setup hides its password); when not given, the argument text itself.
using Redaction = std::function<std::string(const std::vector<std::string>& arguments)>;

// Runs a stand-in: checks QUILLON_MACHINE, records the call, runs the body
// and returns its exit status (2 and 1 for the failures described above).
int RunStandIn(const std::string& name, int argc, char** argv, const StandInBody& body,
               const Redaction& redact = nullptr);

}  // namespace quillon::machine

// HostShell on the portable machine: the process environment, the registry
// file, program start by posix_spawn (no shell in between) and the Start Menu
// below USERPROFILE.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "shared/host_shell.h"
#include "shared/posix/portable_machine.h"
#include "shared/posix/registry_file.h"

namespace quillon {

class PosixShell : public HostShell {
 public:
  // The environment variable naming the file that records every Run.
  static constexpr char kRunLogVariable[] = "QUILLON_RUN_LOG";

  explicit PosixShell(const PortableMachine& machine)
      : machine_(machine), registry_(machine.RegistryFilePath()) {}

  std::string Environment(const std::string& name) override;
  std::string RegRead(const std::string& path) override;
  void RegWrite(const std::string& path, const std::string& data, const std::string& type) override;
  void RegDelete(const std::string& path) override;
  void Run(const std::string& command, int style, bool wait) override;
  std::string SpecialFolders(const std::string& name) override;
  // The folders beside the user's own profile (USERPROFILE), each named
  // after its account, as a machine's profiles folder holds them; folders
  // that are links are no profiles.
  std::vector<UserProfile> UserProfiles() override;
  // The account the machine started the program as: on the portable host
  // that is its USERNAME, which quillon-machine sets for the user it runs.
  std::string UserName() override;
  // The machine's accounts file says who is in Administrators (see
  // machine_accounts.h); the built-in Administrator always is.
  bool IsAdministrator() override;

  // Starts the program (a Windows path, looked up as Run looks up a command
  // line's program) with exactly the arguments given: each reaches it
  // unchanged as one argument, with no command-line splitting in between.
  // Logged like Run, with the command line as Windows shows it: the program
  // in quotes, then the arguments joined by single blanks. Fails as Run does.
  void RunWithArguments(const std::string& program, const std::vector<std::string>& arguments,
                        int style, bool wait);

  // The POSIX path of the program a command line starts: a path maps onto
  // the machine; a bare name is looked for in the current directory, then
  // windir\system32, then windir. ".exe" is added to a name without an
  // extension. nullopt when no such file exists; throws HostError (invalid
  // name) for a program whose path holds a character Windows forbids in names.
  std::optional<std::string> FindProgram(const std::string& program) const;

 private:
  void LogRun(const std::string& command, int style, bool wait) const;
  // Looks the program up and starts it with the arguments after its name.
  void Start(const std::string& program, std::vector<std::string> arguments, bool wait) const;

  const PortableMachine& machine_;
  RegistryFile registry_;
};

}  // namespace quillon

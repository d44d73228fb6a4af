// A machine as a whole: creating a fresh Windows XP-like one, the
// environment its programs see, user profiles, drives, the setup media's
// outside programs and a restart of its services.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "shared/posix/portable_machine.h"

namespace quillon::machine {

struct MachineOptions {
  bool data_access = true;                          // --no-mdac turns it off
  std::string data_access_version = "2.81.1117.0";  // what Windows XP SP2 ships
  bool web_server = true;                           // --no-iis
  bool database_engine = true;                      // --no-msde
  std::string computer_name = "QUILLON-XP";
  std::vector<std::string> users;  // profiles besides Administrator
};

// Creates a fresh machine at root (absolute POSIX path; created when missing,
// which must be empty when present). stand_ins: the POSIX folder that holds
// the built stand-ins. Throws UsageError for a root that is not empty and
// HostError when something cannot be written.
void CreateMachine(const std::string& root, const MachineOptions& options,
                   const std::string& stand_ins);

// True when root holds a machine: its registry (whatever stands in its
// place) and drive C.
bool IsMachine(const std::string& root);

using Environment = std::vector<std::pair<std::string, std::string>>;

// The environment a program of the machine sees when user runs it:
// QUILLON_MACHINE, windir, ProgramFiles, TEMP, COMPUTERNAME, USERNAME,
// USERPROFILE and the rest of a Windows process environment, from the
// registry where Windows keeps them there. Throws UsageError for a name that
// cannot be an account name.
Environment MachineEnvironment(const PortableMachine& machine, const std::string& user);

// The user who logs on when none is named (Winlogon's DefaultUserName).
std::string DefaultUser(const PortableMachine& machine);

// Gives the user a profile folder, as the first logon does, and returns the
// user name as the profile folder stores it. Throws UsageError for a name
// that cannot be an account name.
std::string EnsureProfile(const PortableMachine& machine, const std::string& user);

// Makes folder (a POSIX directory) the content of drive letter: a copy of it,
// taken now, replacing what an earlier mount of that letter left. Drive C
// cannot be replaced.
void MountFolder(const PortableMachine& machine, char letter, const std::string& folder);

// Puts the outside programs that the setup media carry into folder (POSIX):
// MDAC\MDAC_TYP.exe, MSDE\setup.exe with MSDE\osql.exe and the engine
// MSDE\sqlservr.exe, RegINI\regini.exe and Cacls\cacls.exe.
void PutMediaPrograms(const std::string& folder, const std::string& stand_ins);

// A restart: exactly the services with automatic start (Start 2) run
// afterwards. Returns their names.
std::vector<std::string> RestartServices(const PortableMachine& machine);

}  // namespace quillon::machine

// Everything a program reaches the machine through, handed to its entry
// procedure. Programs never include a platform header.
#pragma once

#include <functional>
#include <string>

#include "shared/database.h"
#include "shared/host_file_system.h"
#include "shared/host_shell.h"
#include "shared/network.h"
#include "shared/platform.h"

namespace quillon {

// Tells the folder that holds the running program (Windows form, no trailing
// backslash except at a drive's root; "" when the platform cannot tell).
// Only the installer needs it, so it is worked out when asked for: the
// checker, started for every launch, never pays for it.
using ProgramFolderQuery = std::function<std::string()>;

struct Host {
  HostShell& shell;
  HostFileSystem& files;
  Dialogs& dialogs;
  Processes& processes;
  EnvironmentReader& environment;
  DirectorySearch& search;
  Clock& clock;
  Database& database;
  RandomSource& random;
  Network& network;
  // The folder that holds the running program, worked out when asked.
  ProgramFolderQuery program_folder;
};

}  // namespace quillon

// Everything a program reaches the machine through, handed to its entry
// procedure. Programs never include a platform header.
#pragma once

#include <string>

#include "shared/database.h"
#include "shared/host_file_system.h"
#include "shared/host_shell.h"
#include "shared/network.h"
#include "shared/platform.h"

namespace quillon {

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
  // The folder that holds the running program (Windows form, no trailing
  // backslash except at a drive's root).
  std::string program_folder;
};

}  // namespace quillon

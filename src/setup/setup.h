// Setup: checks the administrator's rights, the licence agreement and an
// earlier installation; makes sure the data access components, the web
// server and the database engine are in place; lays down the product files,
// the settings file, the Start Menu group and the uninstall registration;
// runs the install scripts; grants permissions; seeds the database; installs
// the hook library and turns hooking on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/host.h"

namespace quillon {

// The values every step uses, read once at start-up and never changed.
struct SetupValues {
  std::string windir;
  std::string program_files;
  std::string temp;
  // The folder holding the running Setup (no trailing backslash, except at a
  // drive's root, where paths joined to it then hold two in a row).
  std::string setup_folder;
};

inline constexpr char kSetupTitle[] = "Quillon Setup";
inline constexpr char kRefusalTitle[] = "Error!";

// The entry procedure. The argument text is ignored.
void RunSetup(Host& host, const std::string& argument_text);

// ------------------------------------------------- prerequisites (prerequisites.cc)

// True when a data access components version text is older than 2.8, judged
// by its first and third characters only; a text that cannot be judged
// counts as out of date.
bool DataAccessOutOfDate(const std::string& version);

// The characters an engine password is drawn from: nothing a command line
// would split or quote.
inline constexpr char kPasswordAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@#$";
inline constexpr std::size_t kPasswordLength = 12;

// A fresh password for the database engine's administrator account, each
// character drawn uniformly from kPasswordAlphabet. Throws HostError when the
// random source fails.
std::string DrawEnginePassword(RandomSource& random);

// The engine setup's command line for a password.
std::string DatabaseEngineSetupCommand(const std::string& password);

// Check 1: installs the data access components when they are out of date.
void EnsureDataAccessComponents(HostShell& shell, Dialogs& dialogs);
// Check 2: installs the web server, or sets it to start automatically and
// starts it.
void EnsureWebServer(HostShell& shell, Dialogs& dialogs, const SetupValues& values);

enum class EngineOutcome { kInPlace, kRestartNeeded };
// Check 3: installs the database engine (then a restart is needed), or sets
// it to start automatically and starts it.
EngineOutcome EnsureDatabaseEngine(HostShell& shell, Dialogs& dialogs, RandomSource& random);

// ------------------------------------------------ completion (setup.cc)

}  // namespace quillon

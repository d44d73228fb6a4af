// A portable machine with the product laid down the way Setup leaves it, for
// the tests of the programs that act on an installed product (the switch and
// the uninstaller): made and driven by the built quillon-machine, with the
// built programs copied in.
#pragma once

#include <string>

#include "support/test_machine.h"

namespace quillon::testing {

inline constexpr char kRegistrationKey[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentrel";
inline constexpr char kUninstallExe[] =
    "C:\\Program Files\\Harlwick\\Zentrel\\Uninstall\\Uninstall.exe";
inline constexpr char kZentrelConfigExe[] =
    "C:\\Program Files\\Harlwick\\Zentrel\\Config\\ZentrelConfig.exe";
inline constexpr char kStartMenuGroup[] =
    "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\Quillon";
inline constexpr char kRetiredHookLibrary[] = "C:\\WINDOWS\\system32\\Zentrel.dll.old";
inline constexpr char kWebSite[] = "C:\\Inetpub\\wwwroot\\Zentrel";
// An account that the database lists as controlled and grants nothing.
inline constexpr char kControlledUser[] = "Clerk";

// Creates the machine (with kControlledUser as a further user) and lays the
// product down: the product tree with the built programs and the media's
// removal scripts, the Start Menu group, the uninstall registration, the hook
// library turned on, the database with kControlledUser enabled, and the web
// site. Throws when a part is missing or cannot be made.
void MakeInstalledMachine(TestMachine& machine);

// Launches a program as a user the way the platform does (the libraries of
// AppInit_DLLs loaded) and returns the launch's fate: "running" or
// "terminated".
std::string Launch(TestMachine& machine, const std::string& user, const std::string& command_line);

}  // namespace quillon::testing

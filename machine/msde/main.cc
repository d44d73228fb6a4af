// MSDE\setup.exe, the database engine's setup of the media, on the portable
// machine: takes SAPWD=PASSWORD (required) and DISABLENETWORKPROTOCOLS=0|1,
// copies the database client osql.exe from its own folder into
// windir\system32 and the engine's program sqlservr.exe into its folder
// (support/database_service.h), and installs the engine: the MSSQLServer
// service with automatic start (not started: the real engine needs a restart
// or a "net start"), its version values, whether its network protocols are
// on, and the server's databases folder with the master catalog.
//
// The password is checked for presence only and is never written anywhere:
// the stand-ins' log shows it as ********. Left out: named instances, the
// other setup parameters (refused), and SQL Server logins.
#include <string>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "support/database_service.h"
#include "support/stand_in.h"
#include "support/usage_error.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

constexpr char kPasswordKey[] = "SAPWD=";
constexpr char kHidden[] = "********";

struct Parameters {
  bool password_given = false;
  bool network_protocols_disabled = false;
};

Parameters ParseParameters(const std::vector<std::string>& arguments) {
  Parameters parameters;
  for (const std::string& argument : arguments) {
    const std::size_t equals = argument.find('=');
    const std::string key = UpperCase(argument.substr(0, equals));
    if (equals == std::string::npos) throw UsageError("unsupported argument \"" + argument + "\"");
    const std::string value = argument.substr(equals + 1);
    if (key == "SAPWD") {
      parameters.password_given = !value.empty();
    } else if (key == "DISABLENETWORKPROTOCOLS") {
      if (value != "0" && value != "1") {
        throw UsageError("DISABLENETWORKPROTOCOLS takes 0 or 1, got \"" + value + "\"");
      }
      parameters.network_protocols_disabled = value == "1";
    } else {
      throw UsageError("unsupported parameter " + key);
    }
  }
  if (!parameters.password_given) {
    throw UsageError("a password for the sa account is required (SAPWD=...)");
  }
  return parameters;
}

// The argument text with the value of every SAPWD argument replaced.
std::string HidePassword(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    if (!text.empty()) text += ' ';
    const bool password = UpperCase(argument).rfind(kPasswordKey, 0) == 0;
    text += password ? std::string(kPasswordKey) + kHidden : argument;
  }
  return text;
}

bool EngineInstalled(StandIn& setup) {
  try {
    setup.shell().RegRead(std::string(kServicesKey) + kDatabaseService + "\\Start");
    return true;
  } catch (const HostError&) {
    return false;  // no Start value: no engine yet
  }
}

// The engine's program from this program's folder into its own folder.
void PutEngineProgram(StandIn& setup) {
  const std::string program(kDatabaseEngineProgram);
  CreateFolders(setup.machine(), program.substr(0, program.rfind('\\')));
  setup.files().CopyFile(setup.ProgramFolder() + "\\sqlservr.exe", program, true);
}

int MsdeSetup(StandIn& setup) {
  const Parameters parameters = ParseParameters(setup.arguments());
  if (EngineInstalled(setup)) {
    setup.Say("the default instance of the database engine is already installed");
    setup.Record(JsonObject().Add("already_installed", true));
    return 1;
  }
  const std::string windir = setup.shell().Environment("windir");
  setup.files().CopyFile(setup.ProgramFolder() + "\\osql.exe", windir + "\\system32\\", true);
  PutEngineProgram(setup);
  InstallDatabaseEngine(setup.shell(), setup.machine(), parameters.network_protocols_disabled);
  setup.Record(JsonObject()
                   .Add("installed", kDatabaseService)
                   .Add("network_protocols_disabled", parameters.network_protocols_disabled)
                   .Add("client", windir + "\\system32\\osql.exe"));
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("setup", argc, argv, quillon::machine::MsdeSetup,
                                      quillon::machine::HidePassword);
}

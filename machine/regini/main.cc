// regini.exe on the portable machine, the registry permission tool: reads
// each script file it is given and records the access list that the script
// sets on each key (one line per key in the stand-ins' log). No permission
// changes: the portable registry has none. Left out: the options (-m, -h,
// -i, -o, -b are refused) and value lines ("name = type data"), which a
// script may carry but this tool refuses instead of half carrying out.
#include <string>

#include "shared/host_error.h"
#include "support/permission_tools.h"
#include "support/stand_in.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

int Regini(StandIn& regini) {
  if (regini.arguments().empty()) throw UsageError("no script file given");
  for (const std::string& argument : regini.arguments()) {
    if (!argument.empty() && argument[0] == '-') {
      throw UsageError("unsupported option \"" + argument + "\"");
    }
  }
  // All scripts are read and checked before anything is recorded.
  std::vector<std::pair<std::string, std::vector<ReginiGrant>>> scripts;
  for (const std::string& script : regini.arguments()) {
    if (!regini.files().FileExists(script)) {
      regini.Say("cannot open the script file " + script);
      regini.Record(JsonObject().Add("script", script).Add("found", false));
      return 2;
    }
    scripts.emplace_back(script, ParseReginiScript(regini.ReadText(script)));
  }
  for (const auto& [script, grants] : scripts) {
    for (const ReginiGrant& grant : grants) {
      regini.Record(JsonObject().Add("script", script).Add("key", grant.key).Add("acl", grant.acl));
    }
  }
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("regini", argc, argv, quillon::machine::Regini);
}

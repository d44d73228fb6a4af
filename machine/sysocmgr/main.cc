// sysocmgr.exe on the portable machine, the optional-component manager:
// "/i:CATALOGUE /u:ANSWERFILE" reads the unattended answer file and, when its
// [Components] section sets iis_www = ON, installs the web server (the W3SVC
// service with automatic start, its version values and C:\Inetpub\wwwroot)
// and starts it, as the real setup does. /q and /r are accepted and change
// nothing. Left out: every other component, removing components, and the
// interactive wizard (a run without /u is refused).
#include <cstdio>
#include <optional>
#include <string>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "support/answer_file.h"
#include "support/services.h"
#include "support/stand_in.h"
#include "support/usage_error.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

struct Options {
  std::string catalogue;
  std::string answer_file;
};

Options ParseOptions(const std::vector<std::string>& arguments) {
  Options options;
  for (const std::string& argument : arguments) {
    const std::string upper = UpperCase(argument);
    if (upper.rfind("/I:", 0) == 0) {
      options.catalogue = argument.substr(3);
    } else if (upper.rfind("/U:", 0) == 0) {
      options.answer_file = argument.substr(3);
    } else if (upper != "/Q" && upper != "/R") {
      throw UsageError("unsupported argument \"" + argument + "\"");
    }
  }
  if (options.catalogue.empty()) throw UsageError("no component catalogue (/i:FILE) given");
  if (options.answer_file.empty()) {
    throw UsageError("no answer file (/u:FILE) given; the interactive wizard is not supported");
  }
  return options;
}

// The whole text of a file of the machine, or nullopt when it is missing.
std::optional<std::string> ReadWhole(StandIn& sysocmgr, const std::string& path) {
  if (!sysocmgr.files().FileExists(path)) return std::nullopt;
  return sysocmgr.ReadText(path);
}

int Sysocmgr(StandIn& sysocmgr) {
  const Options options = ParseOptions(sysocmgr.arguments());
  if (!sysocmgr.files().FileExists(options.catalogue)) {
    sysocmgr.Say("the component catalogue " + options.catalogue + " cannot be found");
    sysocmgr.Record(JsonObject().Add("catalogue", options.catalogue).Add("found", false));
    return 1;
  }
  const std::optional<std::string> answers = ReadWhole(sysocmgr, options.answer_file);
  if (!answers) {
    sysocmgr.Say("the answer file " + options.answer_file + " cannot be found");
    sysocmgr.Record(JsonObject().Add("answer_file", options.answer_file).Add("found", false));
    return 1;
  }
  if (!SelectsWebServer(*answers)) {
    sysocmgr.Record(JsonObject().Add("answer_file", options.answer_file).Add("iis_www", false));
    return 0;
  }
  InstallWebServer(sysocmgr.shell(), sysocmgr.machine());
  RunningServices(sysocmgr.machine().root()).Start(kWebServerService);
  sysocmgr.Record(JsonObject()
                      .Add("answer_file", options.answer_file)
                      .Add("iis_www", true)
                      .Add("installed", kWebServerService));
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("sysocmgr", argc, argv, quillon::machine::Sysocmgr);
}

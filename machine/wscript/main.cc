// wscript.exe on the portable machine: runs the script file at the given
// Windows path with /bin/sh (a script for this host is a POSIX shell script),
// passes the further arguments on, and ends with the script's exit status.
// The script inherits the machine's environment; the machine's system32 and
// Windows folders come first on PATH, so that it finds osql.exe, net.exe and
// the other programs of the machine by name, and QUILLON_SCRIPT holds the
// script's own full Windows path (what WScript.ScriptFullName gives a
// script), so that it finds the files beside it. The host options //B and
// //Nologo are accepted and change nothing; others are refused. Left out:
// VBScript and JScript themselves, and the script host's object model.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "shared/helpers/text.h"
#include "support/process_start.h"
#include "support/stand_in.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

constexpr char kShell[] = "/bin/sh";

// The POSIX folders of windir\system32 and windir put before PATH.
void PutMachineFoldersOnPath(StandIn& wscript) {
  const std::string windir = wscript.shell().Environment("windir");
  std::string path;
  for (const std::string& folder : {windir + "\\system32", windir}) {
    const std::optional<MappedPath> mapped = wscript.machine().Map(folder);
    if (windir.empty() || !mapped || !mapped->exists) continue;
    path += mapped->posix + ":";
  }
  const char* current = std::getenv("PATH");
  path += current != nullptr ? current : "/usr/bin:/bin";
  ::setenv("PATH", path.c_str(), 1);
}

int Wscript(StandIn& wscript) {
  std::vector<std::string> arguments = wscript.arguments();
  while (!arguments.empty() && arguments[0].rfind("//", 0) == 0) {
    const std::string option = UpperCase(arguments[0]);
    if (option != "//B" && option != "//NOLOGO") {
      throw UsageError("unsupported host option \"" + arguments[0] + "\"");
    }
    arguments.erase(arguments.begin());
  }
  if (arguments.empty()) throw UsageError("no script file given");

  const std::string script = arguments[0];
  const std::optional<MappedPath> file = wscript.machine().Map(script);
  if (!file || !file->exists) {
    std::fprintf(stderr, "Windows Script Host: Can not find script file \"%s\".\n", script.c_str());
    wscript.Record(JsonObject().Add("script", script).Add("found", false));
    return 1;
  }
  wscript.Record(JsonObject().Add("script", file->windows).Add("found", true));

  PutMachineFoldersOnPath(wscript);
  ::setenv("QUILLON_SCRIPT", file->windows.c_str(), 1);
  ResolvedCommand command{kShell, {kShell, file->posix}};
  command.arguments.insert(command.arguments.end(), arguments.begin() + 1, arguments.end());
  const int status = WaitForExitStatus(StartProgram(command));
  wscript.Record(JsonObject().Add("script", file->windows).Add("exit_status", status));
  return status;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("wscript", argc, argv, quillon::machine::Wscript);
}

// cacls.exe on the portable machine, the file permission tool: parses
// "PATH [/T] [/E] [/C] [/G user:perm ...] [/R user ...] [/P user:perm ...]
// [/D user ...]", checks that the path exists, and records the change in the
// stand-ins' log. Without /E it replaces the list and first asks
// "Are you sure (Y/N)?", reading the answer from standard input (an answer
// file redirected with "<", say): an answer beginning with Y applies the
// change, anything else (end of input included) leaves it. No POSIX
// permissions change. Left out: showing a permission list (a call without
// a change is refused), /M, /L, /S, and wildcards in the path.
#include <cstdio>
#include <iostream>
#include <string>

#include "support/permission_tools.h"
#include "support/stand_in.h"

namespace quillon::machine {
namespace {

int Cacls(StandIn& cacls) {
  const CaclsRequest request = ParseCaclsArguments(cacls.arguments());
  JsonObject record;
  record.Add("path", request.path)
      .Add("tree", request.tree)
      .Add("edit", request.edit)
      .Add("continue_on_error", request.continue_on_error)
      .Add("grants", request.grants)
      .Add("revokes", request.revokes)
      .Add("replaces", request.replaces)
      .Add("denies", request.denies);

  const bool folder = cacls.files().FolderExists(request.path);
  if (!folder && !cacls.files().FileExists(request.path)) {
    std::fprintf(stderr, "The system cannot find the file specified.\n");
    cacls.Record(record.Add("found", false));
    return 2;
  }
  if (request.NeedsConfirmation()) {
    std::printf("Are you sure (Y/N)?");
    std::fflush(stdout);
    std::string answer;
    std::getline(std::cin, answer);
    std::printf("\n");
    if (!IsConfirmation(answer)) {
      cacls.Record(record.Add("confirmed", false).Add("applied", false));
      return 0;
    }
    record.Add("confirmed", true);
  }
  std::printf("processed %s: %s\n", folder ? "dir" : "file", request.path.c_str());
  cacls.Record(record.Add("applied", true));
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("cacls", argc, argv, quillon::machine::Cacls);
}

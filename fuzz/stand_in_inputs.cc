// What the machine's stand-ins and the machine tool read from files and
// command lines that come with the setup media or from whoever drives the
// machine: registry permission scripts, file permission arguments,
// installers' answer files, the AppInit_DLLs list and Start Menu shortcuts.
// Each parses or fails with a usage error, and gives results within bounds.
//
// Input: five parts separated by NUL bytes (regini script, cacls command
// line, answer file, AppInit_DLLs value, shortcut text).
#include <string>

#include "fuzz_check.h"
#include "shared/helpers/text.h"
#include "support/answer_file.h"
#include "support/app_init.h"
#include "support/permission_tools.h"
#include "support/shortcut.h"
#include "support/usage_error.h"

using namespace quillon;
using namespace quillon::machine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fuzz::Parts(fuzz::Text(data, size), 5);

  try {
    for (const ReginiGrant& grant : ParseReginiScript(parts[0])) {
      FUZZ_CHECK(!grant.key.empty());
      // The access list: numbers, single blanks apart.
      FUZZ_CHECK(grant.acl.find("  ") == std::string::npos);
      FUZZ_CHECK(grant.acl.find_first_not_of("0123456789 ") == std::string::npos);
    }
  } catch (const UsageError&) {
  }

  try {
    const CaclsRequest request = ParseCaclsArguments(SplitCommandLine("cacls.exe " + parts[1]));
    FUZZ_CHECK(!request.grants.empty() || !request.revokes.empty() || !request.replaces.empty() ||
               !request.denies.empty());
    for (const std::string& grant : request.grants)
      FUZZ_CHECK(grant.find(':') != std::string::npos);
  } catch (const UsageError&) {
  }

  if (const std::optional<std::string> value = IniValue(parts[2], "Components", "iis_www")) {
    FUZZ_CHECK(TrimWhitespace(*value) == *value);
    FUZZ_CHECK(parts[2].find(*value) != std::string::npos);
  }
  (void)SelectsWebServer(parts[2]);

  // The list splits into entries that list the same libraries again.
  const std::vector<std::string> libraries = SplitLibraryList(parts[3]);
  std::string joined;
  for (const std::string& library : libraries) {
    FUZZ_CHECK(!library.empty() && library.find_first_of(" ,") == std::string::npos);
    joined += library + ",";
  }
  FUZZ_CHECK(SplitLibraryList(joined) == libraries);

  // A shortcut's command line starts the target it names.
  const auto variable = [](const std::string& name) { return name == "HOME" ? "C:\\Home" : ""; };
  for (const char* name : {"Quillon.lnk", "Site.url"}) {
    const std::optional<ShortcutCommand> command =
        ShortcutFor(name, parts[4], "C:\\Program Files\\Internet Explorer\\iexplore.exe", variable);
    if (!command) continue;
    const std::vector<std::string> words = SplitCommandLine(command->command_line);
    FUZZ_CHECK(!words.empty());
    if (std::string(name) == "Site.url") {
      FUZZ_CHECK(words[0] == "C:\\Program Files\\Internet Explorer\\iexplore.exe");
    } else {
      const std::string target = IniValue(parts[4], "Shortcut", "Target").value_or("");
      if (target.find_first_of("\"%") == std::string::npos) FUZZ_CHECK(words[0] == target);
    }
  }
  return 0;
}

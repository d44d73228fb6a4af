// The settings file Zentrel.ini over the fake file system. The checker reads
// whatever the file holds: the two values come back without blanks and
// without ";", joined by one ",". What the installer writes from two typed
// texts reads back as those texts.
#include <string>

#include "fakes/fake_host.h"
#include "fuzz_check.h"
#include "shared/helpers/settings.h"

using namespace quillon;

namespace {

constexpr char kSettingsPath[] = "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini";

std::string WithoutBlanksAndSemicolons(const std::string& text) {
  std::string kept;
  for (char c : text) {
    if (c != ' ' && c != ';') kept += c;
  }
  return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(fuzz::Text(data, size));

  // Whatever the file holds.
  {
    testing::FakeMachine machine;
    machine.files.AddFile(kSettingsPath, text);
    const std::string settings = ReadMailSettings(machine.files, kSettingsPath);
    FUZZ_CHECK(settings.find(',') != std::string::npos);
    FUZZ_CHECK(settings.find_first_of(" ;\n") == std::string::npos);
    FUZZ_CHECK(settings.size() <= text.size() + 1);
  }

  // Two typed texts (an input box takes one line each), written and read.
  const std::vector<std::string> typed = fuzz::Parts(text, 2);
  if (typed[0].find_first_of("\r\n") != std::string::npos ||
      typed[1].find_first_of("\r\n") != std::string::npos) {
    return 0;
  }
  testing::FakeMachine machine;
  machine.files.AddFolder("C:\\Program Files\\Harlwick\\Zentrel");
  machine.dialogs.Type(typed[0]);
  machine.dialogs.Type(typed[1]);
  WriteMailSettings(machine.dialogs, machine.files, kSettingsPath);
  FUZZ_CHECK(ReadMailSettings(machine.files, kSettingsPath) ==
             WithoutBlanksAndSemicolons(typed[0]) + "," + WithoutBlanksAndSemicolons(typed[1]));
  return 0;
}

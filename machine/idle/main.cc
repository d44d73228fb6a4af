// An ordinary application of the portable machine (notepad.exe, explorer.exe,
// calc.exe, wmplayer.exe, ...; one program copied under each name): it is
// recorded under its own name with what it was given, then simply runs until
// it is terminated or QUILLON_IDLE_SECONDS (default 60) have passed, and
// ends with status 0. It does nothing else.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "shared/helpers/text.h"
#include "shared/posix/portable_machine.h"
#include "support/stand_in.h"

namespace quillon::machine {
namespace {

constexpr char kSecondsVariable[] = "QUILLON_IDLE_SECONDS";
constexpr long kDefaultSeconds = 60;

long Seconds() {
  const char* text = std::getenv(kSecondsVariable);
  if (text == nullptr || *text == '\0') return kDefaultSeconds;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  return (*end == '\0' && seconds >= 0) ? seconds : kDefaultSeconds;
}

int Idle(StandIn& /*program*/) {
  for (long left = Seconds(); left > 0; --left) ::sleep(1);
  return 0;
}

// The program's base name without ".exe": the name it was copied under.
std::string OwnName(const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "idle";
  name = name.substr(name.find_last_of('/') + 1);
  if (name.size() > 4 && EqualsIgnoringAsciiCase(name.substr(name.size() - 4), ".exe")) {
    name.resize(name.size() - 4);
  }
  return name;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn(quillon::machine::OwnName(argv[0]), argc, argv,
                                      quillon::machine::Idle);
}

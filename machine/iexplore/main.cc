// iexplore.exe on the portable machine: records the address it was asked to
// open (its whole argument text) and ends; nothing is fetched or shown. Left
// out: browsing, and the browser's switches (-k, -nohome, ...), which it
// refuses.
#include <string>

#include "support/stand_in.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

int Iexplore(StandIn& iexplore) {
  const std::string address = iexplore.ArgumentText();
  if (!address.empty() && address[0] == '-') {
    throw UsageError("switches are not supported, got \"" + address + "\"");
  }
  iexplore.Record(JsonObject().Add("address", address));
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("iexplore", argc, argv, quillon::machine::Iexplore);
}

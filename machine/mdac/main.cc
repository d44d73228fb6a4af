// MDAC_TYP.exe, the data access components installer of the setup media, on
// the portable machine: sets the data access version values to 2.8
// (2.80.1022.0). Takes no arguments. Left out: the components themselves, the
// installer's options and its restart request.
#include "support/stand_in.h"
#include "support/usage_error.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

int MdacTyp(StandIn& mdac) {
  if (!mdac.arguments().empty()) {
    throw UsageError("takes no arguments, got \"" + mdac.ArgumentText() + "\"");
  }
  InstallDataAccess(mdac.shell(), kInstalledDataAccessVersion);
  mdac.Record(JsonObject().Add("version", kInstalledDataAccessVersion));
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("MDAC_TYP", argc, argv, quillon::machine::MdacTyp);
}

// wordpad.exe on the portable machine: records the document it was asked to
// open (its whole argument text, a Windows path) and whether that file
// exists, then ends; no window stays open. Left out: showing or editing the
// document, and WordPad's switches (/p, /pt), which it refuses.
#include <string>

#include "support/stand_in.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

int Wordpad(StandIn& wordpad) {
  const std::string document = wordpad.ArgumentText();
  if (!document.empty() && document[0] == '/') {
    throw UsageError("switches are not supported, got \"" + document + "\"");
  }
  JsonObject record;
  record.Add("document", document);
  if (!document.empty()) record.Add("exists", wordpad.files().FileExists(document));
  wordpad.Record(record);
  return 0;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("wordpad", argc, argv, quillon::machine::Wordpad);
}

// The checker's path normalization over the recording fake's directory
// search: any executable path a launch reports (the checker has made sure it
// holds ":\") comes out with as many elements as it went in, each directory
// element in its stored form or empty, the file name as given, all in upper
// case.
#include <string>

#include "access/access.h"
#include "fakes/fake_host.h"
#include "fuzz_check.h"
#include "shared/helpers/text.h"

using namespace quillon;

namespace {

testing::FakeMachine& Machine() {
  static testing::FakeMachine* machine = [] {
    auto* m = new testing::FakeMachine();
    m->files.AddFolder("C:\\Program Files\\Harlwick\\Zentrel\\Logs");
    m->files.AddFolder("C:\\Program Files\\Common Files");
    m->files.AddFolder("C:\\WINDOWS\\system32\\drivers");
    m->files.AddFolder("C:\\Documents and Settings\\Alice\\Desktop");
    m->files.AddFile("C:\\WINDOWS\\system32\\notepad.exe");
    m->files.AddFile("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe");
    m->files.AddShortName("C:\\Program Files", "PROGRA~1");
    m->files.AddShortName("C:\\Program Files\\Common Files", "COMMON~1");
    m->files.AddShortName("C:\\Documents and Settings", "DOCUME~1");
    m->files.AddFolder("D:\\Tools");
    return m;
  }();
  return *machine;
}

std::size_t Count(const std::string& text, char c) {
  std::size_t n = 0;
  for (char x : text) n += x == c ? 1 : 0;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path(fuzz::Text(data, size));
  if (path.find(":\\") == std::string::npos) return 0;  // refused before normalizing
  const std::string normalized = NormalizeExePath(Machine().search, path);
  FUZZ_CHECK(normalized == UpperCase(normalized));
  FUZZ_CHECK(Count(normalized, '\\') == Count(path, '\\'));
  const std::vector<std::string> in = SplitAll(path, "\\");
  const std::vector<std::string> out = SplitAll(normalized, "\\");
  FUZZ_CHECK(out.front() == UpperCase(in.front()));
  FUZZ_CHECK(out.back() == UpperCase(in.back()));
  // Normalizing is idempotent: the stored names are found again.
  FUZZ_CHECK(NormalizeExePath(Machine().search, normalized) == normalized);
  return 0;
}

// The program path a user types into Dusmere's input box: cleaned of blanks
// and one pair of quotes, with "/" as "\"; accepted only when it names an
// existing .exe file by its full path on a drive, and then normalized as a
// launch of it would be, within the same bounds as the checker's paths.
#include <string>

#include "access/access.h"
#include "fakes/fake_host.h"
#include "fuzz_check.h"
#include "request/request_tool.h"
#include "shared/helpers/text.h"

using namespace quillon;

namespace {

testing::FakeMachine& Machine() {
  static testing::FakeMachine* machine = [] {
    auto* m = new testing::FakeMachine();
    m->files.AddFile("C:\\WINDOWS\\system32\\notepad.exe");
    m->files.AddFile("C:\\Program Files\\Tools\\a b.EXE");
    m->files.AddShortName("C:\\Program Files", "PROGRA~1");
    m->files.AddFile("D:\\x.exe");
    m->files.AddFolder("C:\\Folder.exe");
    return m;
  }();
  return *machine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string typed(fuzz::Text(data, size));
  const std::string path = CleanProgramPath(typed);
  FUZZ_CHECK(path.size() <= typed.size());
  FUZZ_CHECK(path.find('/') == std::string::npos);
  FUZZ_CHECK(std::string(TrimWhitespace(path)) == path);
  if (path.size() < 2 || path.front() != '"' || path.back() != '"') {
    FUZZ_CHECK(CleanProgramPath(path) == path);
  }

  const std::string refusal = ProgramPathRefusal(Machine().files, path);
  if (!refusal.empty()) return 0;
  // Accepted: an existing file, by a full path on a drive, named .exe.
  FUZZ_CHECK(Machine().files.FileExists(path));
  FUZZ_CHECK(path.size() > 7 && path[1] == ':' && path[2] == '\\');
  FUZZ_CHECK(UpperCase(path.substr(path.size() - 4)) == ".EXE");
  const std::string normalized = NormalizeExePath(Machine().search, path);
  FUZZ_CHECK(normalized == UpperCase(normalized));
  // The very path a launch of that file reports, normalized.
  FUZZ_CHECK(normalized == "C:\\WINDOWS\\SYSTEM32\\NOTEPAD.EXE" ||
             normalized == "C:\\PROGRAM FILES\\TOOLS\\A B.EXE" || normalized == "D:\\X.EXE");
  return 0;
}

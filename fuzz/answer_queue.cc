// The answer queue: a file anyone who drives the machine writes. Boxes take
// its lines one by one, in order and whole; a message box answer is always a
// button the box offers; a line read as typed text gives back the text of
// the system code page that was written to the queue in UTF-8.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "shared/backend/box_script.h"
#include "shared/helpers/text.h"
#include "shared/posix/posix_platform.h"

using namespace quillon;

namespace {

const std::string& QueuePath() {
  static const std::string path = [] {
    char name[] = "/tmp/quillon-fuzz-answers-XXXXXX";
    const int fd = mkstemp(name);
    FUZZ_CHECK(fd >= 0);
    close(fd);
    return std::string(name);
  }();
  return path;
}

// The lines a queue holds: split at LF, a CR before it dropped, nothing
// after the last LF being no line.
std::vector<std::string> QueueLines(const std::string& content) {
  std::vector<std::string> lines = SplitAll(content, "\n");
  if (lines.back().empty()) lines.pop_back();
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(fuzz::Text(data, size));
  const int style = size > 0 ? data[0] : 0;

  {
    std::ofstream queue(QueuePath(), std::ios::binary | std::ios::trunc);
    queue << content;
  }
  const std::vector<std::string> expected = QueueLines(content);
  std::vector<std::string> taken;
  while (std::optional<std::string> line = TakeQueuedLine(QueuePath())) {
    taken.push_back(*line);
    FUZZ_CHECK(taken.size() <= expected.size());
  }
  FUZZ_CHECK(taken == expected);

  const std::vector<int> buttons = BoxButtons(style);
  for (const std::string& line : taken) {
    const int answer = MessageBoxAnswer(line, style);
    FUZZ_CHECK(std::find(buttons.begin(), buttons.end(), answer) != buttons.end());
    if (const std::optional<int> named = NamedButton(line, style)) {
      FUZZ_CHECK(*named == answer);
      FUZZ_CHECK(EqualsIgnoringAsciiCase(TrimWhitespace(line), ButtonName(answer)));
    }
    const std::string text = QueuedText(line);
    FUZZ_CHECK(text.size() <= line.size());
    if (!IsValidUtf8(line)) FUZZ_CHECK(text == line);
  }
  FUZZ_CHECK(MessageBoxAnswer(std::nullopt, style) == DefaultButton(style));
  // A text of the code page, queued in UTF-8, is typed back unchanged.
  FUZZ_CHECK(QueuedText(Cp1252ToUtf8(content)) == content);
  return 0;
}

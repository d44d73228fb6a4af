// The database client's input files (the install scripts, Setup's seeding
// files): batches split at GO lines and steps inside them keep every other
// line once, in order, and know the line numbers they came from.
#include "support/osql_script.h"

#include <string>

#include "fuzz_check.h"
#include "shared/helpers/text.h"

using namespace quillon;
using machine::OsqlBatch;
using machine::OsqlStep;

namespace {

// The input's lines, numbered from 1 (index 0 unused), line ends dropped.
std::vector<std::string> NumberedLines(std::string_view input) {
  std::vector<std::string> lines = SplitAll(input, "\n");
  if (lines.back().empty()) lines.pop_back();
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  lines.insert(lines.begin(), "");
  return lines;
}

// A batch holds its lines ending in LF, and steps read them back as lines:
// a line that itself ended in CR (CR CR LF in the input) reaches a step
// without that CR, which SQL reads as the blank it is.
std::string WithoutCr(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool IsGo(const std::string& line) {
  return UpperCase(TrimWhitespace(line)) == "GO";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::Text(data, size);
  const std::vector<std::string> lines = NumberedLines(input);
  const int line_count = static_cast<int>(lines.size()) - 1;

  int next_free_line = 1;
  for (const OsqlBatch& batch : machine::SplitBatches(input)) {
    FUZZ_CHECK(batch.first_line >= next_free_line && batch.first_line <= line_count);
    FUZZ_CHECK(!TrimWhitespace(batch.text).empty());
    // The batch is the input's lines from its first line on, up to a GO line.
    const std::vector<std::string> batch_lines = NumberedLines(batch.text);
    const int batch_size = static_cast<int>(batch_lines.size()) - 1;
    FUZZ_CHECK(batch.first_line + batch_size - 1 <= line_count);
    for (int i = 1; i <= batch_size; ++i) {
      const std::string& line = lines[static_cast<std::size_t>(batch.first_line + i - 1)];
      FUZZ_CHECK(!IsGo(line));
      FUZZ_CHECK(batch_lines[static_cast<std::size_t>(i)] == WithoutCr(line));
    }
    const int end = batch.first_line + batch_size;
    FUZZ_CHECK(end > line_count || IsGo(lines[static_cast<std::size_t>(end)]));
    next_free_line = end + 1;

    int previous_step_line = batch.first_line - 1;
    for (const OsqlStep& step : machine::SplitSteps(batch)) {
      FUZZ_CHECK(step.line > previous_step_line && step.line < end);
      const std::string first = WithoutCr(lines[static_cast<std::size_t>(step.line)]);
      if (step.kind == OsqlStep::Kind::kSql) {
        FUZZ_CHECK(!TrimWhitespace(step.text).empty());
        FUZZ_CHECK(step.text.substr(0, first.size()) == first);
        previous_step_line = step.line + static_cast<int>(NumberedLines(step.text).size()) - 2;
        FUZZ_CHECK(previous_step_line < end);
      } else {
        FUZZ_CHECK(first.find(step.text) != std::string::npos);
        previous_step_line = step.line;
      }
    }
  }
  return 0;
}

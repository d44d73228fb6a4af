// Command lines split as the Windows C runtime splits them (the portable
// host's program start, the machine's command interpreter): any text splits
// without fault, and quoting the pieces again gives the same pieces back;
// tokens joined by the interpreter split back into those tokens.
//
// Input: a command line; read again as tokens separated by NUL bytes.
#include <string>

#include "fuzz_check.h"
#include "shared/helpers/text.h"
#include "support/command_text.h"
#include "support/usage_error.h"

using namespace quillon;

namespace {

std::vector<std::string> Tokens(std::string_view text) {
  std::vector<std::string> tokens;
  if (text.empty()) return tokens;
  for (std::string& token : SplitAll(text, std::string_view("\0", 1))) {
    tokens.push_back(std::move(token));
  }
  return tokens;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::Text(data, size);

  // Any line splits; the pieces, quoted again, split back unchanged.
  const std::vector<std::string> arguments = SplitCommandLine(text);
  FUZZ_CHECK(arguments.size() <= text.size());
  if (!arguments.empty()) {
    FUZZ_CHECK(arguments[0].find('"') == std::string::npos);
    std::string requoted = "\"" + arguments[0] + "\"";
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      FUZZ_CHECK(arguments[i].size() <= text.size());
      requoted += " " + QuoteArgument(arguments[i]);
    }
    FUZZ_CHECK(SplitCommandLine(requoted) == arguments);
  }

  // Tokens joined by the interpreter split back into the same tokens (a
  // program name never holds a double quote: Windows forbids it in names).
  const std::vector<std::string> tokens = Tokens(text);
  if (!tokens.empty() && tokens[0].find('"') == std::string::npos) {
    FUZZ_CHECK(SplitCommandLine(machine::JoinCommandLine(tokens)) == tokens);
  }

  // "/c" and its tokens: a command to start, or a usage error.
  try {
    const machine::InterpreterCommand command = machine::ParseInterpreterCommand(tokens);
    FUZZ_CHECK(!command.command_line.empty());
    FUZZ_CHECK(!command.input_file || !command.input_file->empty());
  } catch (const machine::UsageError&) {
  }
  return 0;
}

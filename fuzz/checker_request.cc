// The checker's one argument, as the hook library hands it over for any
// launch a user makes: a request splits into its fields or fails with the
// errors the checker documents, never anything else.
#include <string>

#include "checker/checker.h"
#include "fuzz_check.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(fuzz::Text(data, size));
  const std::vector<std::string> fields = SplitAll(text, kRequestSeparator);
  try {
    const LaunchRequest request = ParseLaunchRequest(text);
    // Fields one, three and four, unchanged; the process id is the third
    // field's digits.
    FUZZ_CHECK(fields.size() >= 4);
    FUZZ_CHECK(request.exePath == fields[0]);
    FUZZ_CHECK(request.userName == fields[3]);
    const std::size_t significant = fields[2].find_first_not_of('0');
    FUZZ_CHECK(std::to_string(request.processId) ==
               (significant == std::string::npos ? "0" : fields[2].substr(significant)));
    FUZZ_CHECK(ParseUnsigned32(std::to_string(request.processId)) == request.processId);
  } catch (const HostError& error) {
    switch (error.number()) {
      case error_number::kSubscriptOutOfRange:
        FUZZ_CHECK(fields.size() < 4);
        break;
      case error_number::kTypeMismatch:
        FUZZ_CHECK(fields.size() >= 3);
        FUZZ_CHECK(fields[2].empty() ||
                   fields[2].find_first_not_of("0123456789") != std::string::npos);
        break;
      case error_number::kOverflow:
        FUZZ_CHECK(fields.size() >= 3 && fields[2].size() >= 10);
        break;
      default:
        FUZZ_FAIL("an error the request parser does not document");
    }
  }
  return 0;
}

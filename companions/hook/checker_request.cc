#include "companions/hook/checker_request.h"

#include "shared/helpers/product.h"
#include "shared/helpers/text.h"

namespace quillon::hook {

std::string CheckerArgument(const std::string& exe_path, std::uint32_t process_id,
                            const std::string& user_name) {
  return UpperCase(exe_path) + kRequestSeparator + kLaunchField + kRequestSeparator +
         std::to_string(process_id) + kRequestSeparator + user_name;
}

std::string CheckerPath(const std::string& program_files) {
  return program_files + kCheckerSuffix;
}

bool IsExemptLaunch(const std::string& exe_path, const std::string& program_files) {
  const std::string upper = UpperCase(exe_path);
  return upper == UpperCase(program_files + kCheckerSuffix) ||
         upper == UpperCase(program_files + kMailerSuffix);
}

}  // namespace quillon::hook

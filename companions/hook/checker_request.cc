#include "checker_request.h"

#include "shared/text.h"

namespace quillon::hook {

std::string CheckerArgument(const std::string& exe_path, std::uint32_t process_id,
                            const std::string& user_name) {
  return UpperCase(exe_path) + "_|_" + kLaunchField + "_|_" + std::to_string(process_id) + "_|_" +
         user_name;
}

std::string CheckerPath(const std::string& program_files) {
  return program_files + "\\Harlwick\\Zentrel\\Zentrel.exe";
}

bool IsExemptLaunch(const std::string& exe_path, const std::string& program_files) {
  const std::string upper = UpperCase(exe_path);
  const std::string product = UpperCase(program_files) + "\\HARLWICK\\ZENTREL\\";
  return upper == product + "ZENTREL.EXE" || upper == product + "CORVANE.EXE";
}

}  // namespace quillon::hook

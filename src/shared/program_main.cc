#include "program_main.h"

#include <exception>

namespace quillon {

void ShowErrorReport(Dialogs& dialogs, const std::string& program_name, const HostError& error) {
  dialogs.MsgBox(ErrorReportText(error), kMbIconError, program_name);
}

int RunProgramBody(Host& host, const std::string& program_name, const std::string& argument_text,
                   const ProgramBody& body) {
  try {
    body(host, argument_text);
    return 0;
  } catch (const HostError& error) {
    ShowErrorReport(host.dialogs, program_name, error);
  } catch (const std::exception& error) {
    // Anything that is not a host error is still reported, never swallowed.
    ShowErrorReport(host.dialogs, program_name,
                    HostError(error_number::kUnspecified, error.what()));
  }
  return 1;
}

}  // namespace quillon

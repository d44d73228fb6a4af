#include "shared/program_main.h"

#include <cstdio>
#include <exception>

#include "shared/helpers/text.h"

namespace quillon {

namespace {

// Shows the standard error report for an error on the given dialogs. Never
// throws: when the box itself fails, the report goes to stderr.
void ShowErrorReport(Dialogs& dialogs, const std::string& program_name, const HostError& error) {
  // The report is the last thing a failing program does: when even its box
  // fails, the report goes to stderr instead of ending the program abnormally.
  try {
    dialogs.MsgBox(ErrorReportText(error), kMbIconError, program_name);
  } catch (const std::exception& box_error) {
    std::fprintf(stderr, "%s: %s (the error report's box failed: %s)\n",
                 Cp1252ToUtf8(program_name).c_str(), Cp1252ToUtf8(ErrorReportText(error)).c_str(),
                 Cp1252ToUtf8(box_error.what()).c_str());
  }
}

}  // namespace

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

int RunConsoleProgramBody(Host& host, const std::string& program_name,
                          const std::vector<std::string>& arguments, const ConsoleBody& body,
                          std::ostream& out, std::ostream& err) {
  try {
    return body(host, arguments, out, err);
  } catch (const HostError& error) {
    err << program_name << ": " << ErrorReportText(error) << "\n";
  } catch (const std::exception& error) {
    err << program_name << ": "
        << ErrorReportText(HostError(error_number::kUnspecified, error.what())) << "\n";
  }
  return 1;
}

}  // namespace quillon

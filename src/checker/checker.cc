#include "checker/checker.h"

#include <vector>

#include "shared/helpers/text.h"
#include "shared/host_error.h"

namespace quillon {

namespace {

const std::string& Field(const std::vector<std::string>& fields, std::size_t index) {
  if (index >= fields.size()) {
    throw StandardError(error_number::kSubscriptOutOfRange);
  }
  return fields[index];
}

bool HasSeparator(const std::string& argument_text) {
  return argument_text.find(kRequestSeparator) != std::string::npos;
}

std::string InvalidArgumentsMessage(const std::string& argument_text) {
  return "Invalid command line arguments \"" + argument_text + "\"";
}

std::string NotLocalFileMessage(const std::string& exe_path) {
  return "File \"" + exe_path + "\" is not a local file";
}

}  // namespace

void RunChecker(Host& host, const std::string& argument_text) {
  // 1. Refuse an argument that is no request.
  if (!HasSeparator(argument_text)) {
    WriteErrorLog(host.files, host.environment, host.clock, InvalidArgumentsMessage(argument_text));
    return;
  }
  // 2. Take the request's fields.
  const LaunchRequest request = ParseLaunchRequest(argument_text);
  // 3. Let our own mailer pass.
  if (IsRequestMailer(request.exePath, ReadEnvironmentValue(host.environment, "ProgramFiles"))) {
    return;
  }
  // 4. Refuse a file that is not on a local drive; its process keeps running.
  if (!IsLocalExePath(request.exePath)) {
    WriteErrorLog(host.files, host.environment, host.clock, NotLocalFileMessage(request.exePath));
    return;
  }
  // 5. From here on only the stored form of the path counts.
  const std::string exe_path = NormalizeExePath(host.search, request.exePath);
  // 6. Nothing to decide without a path and a user.
  if (exe_path.empty() || request.userName.empty()) return;
  // 7. Decide; an allowed launch ends here.
  const std::string decision = CheckAccess(host.database, exe_path, request.userName);
  if (decision.empty()) return;
  // 8. Denied: the process goes before the user is told.
  TerminateLaunchedProcess(host.processes, request.processId);
  // 9. Tell the user and offer an access request.
  if (AskToRequestAccess(host.dialogs, exe_path, request.userName)) {
    RequestAccess(host, exe_path, request.userName, decision);
  }
  // 10. Log the denial.
  WriteAccessLog(host.files, host.environment, host.clock, exe_path, decision, request.userName);
}

LaunchRequest ParseLaunchRequest(const std::string& argument_text) {
  const std::vector<std::string> fields = SplitAll(argument_text, kRequestSeparator);
  LaunchRequest request;
  request.exePath = Field(fields, 0);
  request.processId = ParseUnsigned32(Field(fields, 2));
  request.userName = Field(fields, 3);
  return request;
}

}  // namespace quillon

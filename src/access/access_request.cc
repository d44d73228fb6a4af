// The access request flow that the checker runs after a denial and Dusmere
// runs for a program the user names: the request is recorded, handed to the
// mailer when the mail settings are complete, and confirmed to the user.
#include <string>

#include "access/access.h"
#include "shared/helpers/settings.h"
#include "shared/helpers/text.h"

namespace quillon {

namespace {

constexpr char kRequestSentTitle[] = "Access Request Sent";

void ConfirmRequest(Dialogs& dialogs, const std::string& prompt) {
  dialogs.MsgBox(prompt, kMbOk + kMbIconInformation, kRequestSentTitle);
}

}  // namespace

void RequestAccess(Host& host, const std::string& exe_path, const std::string& user_name,
                   const std::string& app_name) {
  // The text is address + "," + server. A server name holds no comma, while
  // an address list may ("a@x.com,b@x.com"), so the last comma separates them.
  const std::string settings = ReadMailSettings(
      host.files, ReadEnvironmentValue(host.environment, "ProgramFiles") + kSettingsFileSuffix);
  const std::size_t comma = settings.rfind(',');
  const std::string admin_address = settings.substr(0, comma);
  const std::string mail_server = settings.substr(comma + 1);

  // The row is recorded on both paths, so that the administrator finds the
  // request also when it cannot be mailed.
  const std::string request_id = RecordAccessRequest(host.database, exe_path, user_name);
  if (admin_address.empty() || mail_server.empty()) {
    ConfirmRequest(host.dialogs, "An access request has been sent to your administrator.");
    return;
  }
  StartRequestMailer(host.shell, host.environment, mail_server, admin_address, exe_path, app_name,
                     user_name, request_id);
  ConfirmRequest(host.dialogs, "An access request has been sent via e-mail to your administrator.");
}

void StartRequestMailer(HostShell& shell, EnvironmentReader& environment,
                        const std::string& mail_server, const std::string& admin_address,
                        const std::string& exe_path, const std::string& app_name,
                        const std::string& user_name, const std::string& request_id) {
  const std::string mailer = ReadEnvironmentValue(environment, "ProgramFiles") + kMailerSuffix;
  const std::string computer_name = ReadEnvironmentValue(environment, "COMPUTERNAME");
  // Every value is quoted so that the mailer gets exactly seven arguments,
  // whatever quotes or trailing backslashes a value holds.
  std::string command = "\"" + mailer + "\"";
  for (const std::string* value : {&mail_server, &admin_address, &computer_name, &exe_path,
                                   &app_name, &user_name, &request_id}) {
    command += " " + QuoteArgument(*value);
  }
  shell.Run(command, kWindowHidden, false);
}

}  // namespace quillon

// What a denial does before any access request: the launched process goes,
// then the user is told and asked.
#include <string>

#include "checker/checker.h"

namespace quillon {

void TerminateLaunchedProcess(Processes& processes, std::uint32_t process_id) {
  processes.Terminate(process_id);
}

bool AskToRequestAccess(Dialogs& dialogs, const std::string& exe_path,
                        const std::string& user_name) {
  const std::string prompt =
      "User \"" + user_name + "\" is not permitted to run the file \"" + exe_path +
      "\". If you feel you have received this message in error, please contact your "
      "administrator.\r\n\r\nWould you like to request access to this file?";
  return dialogs.MsgBox(prompt, kMbYesNo + kMbIconError, "Access Denied!") == kIdYes;
}

}  // namespace quillon

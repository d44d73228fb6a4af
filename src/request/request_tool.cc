#include "request/request_tool.h"

#include <optional>
#include <vector>

#include "access/access.h"
#include "request/request_texts.h"
#include "shared/helpers/text.h"
#include "shared/helpers/windows_names.h"

namespace quillon {

namespace {

constexpr char kProgramExtension[] = ".EXE";

void Tell(Dialogs& dialogs, const std::string& text) {
  dialogs.MsgBox(text, kMbOk + kMbIconInformation, request_texts::kTitle);
}

void Refuse(Dialogs& dialogs, const std::string& text) {
  dialogs.MsgBox(text, kMbOk + kMbIconError, request_texts::kTitle);
}

// Shows what Quillon holds for the user; true when they ask for access.
bool OfferRequest(Dialogs& dialogs, const std::string& user_name, const OwnAccess& access) {
  return dialogs.MsgBox(request_texts::StatusAndOffer(user_name, access),
                        kMbYesNo + kMbIconQuestion, request_texts::kTitle) == kIdYes;
}

// The typed path of the program; nullopt for Cancel.
std::optional<std::string> AskForProgram(Dialogs& dialogs) {
  return dialogs.InputBox(request_texts::kProgramPrompt, request_texts::kTitle, "");
}

// "X:\" and then names, none of them empty, "." or "..", nor holding a
// character Windows forbids in names.
bool IsFullPathOnDrive(const std::string& path) {
  const bool drive = path.size() > 3 &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && path[2] == '\\';
  if (!drive || PathHoldsForbiddenCharacter(path)) return false;
  for (const std::string& name : SplitAll(path.substr(3), "\\")) {
    if (name.empty() || name == "." || name == "..") return false;
  }
  return true;
}

bool EndsWithProgramExtension(const std::string& path) {
  const std::string extension = kProgramExtension;
  return path.size() > extension.size() &&
         UpperCase(path.substr(path.size() - extension.size())) == extension;
}

}  // namespace

void RunRequestTool(Host& host, const std::string& /*argument_text*/) {
  // 1. Who is asking: the account the program runs under, never a variable
  //    the user could set to another user's name.
  const std::string user_name = host.shell.UserName();
  if (user_name.empty()) {
    Refuse(host.dialogs, request_texts::kNoUser);
    return;
  }
  // 2. Show the user's status, grants and pending requests, and offer a
  //    request; No ends here.
  const OwnAccess access = ReadOwnAccess(host.database, user_name);
  if (!OfferRequest(host.dialogs, user_name, access)) return;
  // 3. Which program; Cancel ends here, without a word.
  const std::optional<std::string> typed = AskForProgram(host.dialogs);
  if (!typed) return;
  // 4. Only an existing program, named by its full path, is requested.
  const std::string program = CleanProgramPath(*typed);
  if (program.empty()) {
    Refuse(host.dialogs, request_texts::kNothingEntered);
    return;
  }
  const std::string refusal = ProgramPathRefusal(host.files, program);
  if (!refusal.empty()) {
    Refuse(host.dialogs, refusal);
    return;
  }
  // 5. The program and the user are registered as their first launch would
  //    register them, and decided as a launch is.
  const std::string exe_path = NormalizeExePath(host.search, program);
  const std::string decision = CheckAccess(host.database, exe_path, user_name);
  // 6. A program the user may start already needs no request.
  if (decision.empty()) {
    Tell(host.dialogs, request_texts::AlreadyAllowed(user_name, exe_path));
    return;
  }
  // 7. The checker's request flow: the row, the mailer, the confirmation.
  RequestAccess(host, exe_path, user_name, decision);
}

std::string CleanProgramPath(const std::string& typed) {
  std::string path(TrimWhitespace(typed));
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = std::string(TrimWhitespace(path.substr(1, path.size() - 2)));
  }
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ProgramPathRefusal(HostFileSystem& files, const std::string& program_path) {
  if (!IsFullPathOnDrive(program_path)) return request_texts::NotAFullPath(program_path);
  if (!EndsWithProgramExtension(program_path)) return request_texts::NotAProgram(program_path);
  if (!files.FileExists(program_path)) return request_texts::NoSuchProgram(program_path);
  return "";
}

}  // namespace quillon

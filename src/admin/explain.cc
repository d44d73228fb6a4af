// The explanation of a decision: the checker's own steps before it decides
// and its own rules (DecideAccess over the database's facts), and the facts
// behind them, read without changing anything.
#include <optional>

#include "access/access.h"
#include "admin/admin_internal.h"
#include "shared/helpers/text.h"

namespace quillon::admin {

namespace {

// The database's facts, remembering what the rules asked and heard.
class ObservedFacts : public AccessFacts {
 public:
  explicit ObservedFacts(AccessFacts& inner) : inner_(inner) {}

  bool IsBaseExecutable() override { return *(base = inner_.IsBaseExecutable()); }
  bool IsControlledUser() override { return *(controlled = inner_.IsControlledUser()); }
  std::optional<std::string> ApplicationName() override {
    asked_application = true;
    return application = inner_.ApplicationName();
  }
  bool IsGranted() override { return *(granted = inner_.IsGranted()); }

  std::optional<bool> base;
  std::optional<bool> controlled;
  bool asked_application = false;
  std::optional<std::string> application;
  std::optional<bool> granted;

 private:
  AccessFacts& inner_;
};

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The rule that decided, from what the rules asked and heard.
std::string RuleOf(const ObservedFacts& facts, const Explanation& explanation) {
  if (facts.base.value_or(false)) {
    return "Allowed: a base executable, allowed for everybody.";
  }
  if (facts.controlled && !*facts.controlled) {
    return explanation.user_known
               ? "Allowed: the user is not controlled (status " + Quoted(explanation.user_status) +
                     "), so everything is allowed."
               : "Allowed: the user is unknown; the launch registers them as \"DISABLED\", not "
                 "controlled, so everything is allowed.";
  }
  if (facts.asked_application && !facts.application) {
    return "Denied: the executable belongs to no application, so no grant can allow it.";
  }
  if (facts.granted.value_or(false)) {
    return "Allowed: the user holds a grant of the application " + Quoted(*facts.application) + ".";
  }
  return "Denied: the user holds no grant of the application " +
         Quoted(facts.application.value_or("")) + ".";
}

}  // namespace

Explanation Administration::Explain(const std::string& user_name, const std::string& exe_path) {
  Host& host = impl_->host;
  Explanation explanation;
  explanation.user_name = user_name;
  explanation.given_path = exe_path;

  // The checker's steps before any decision.
  if (IsRequestMailer(exe_path, ReadEnvironmentValue(host.environment, "ProgramFiles"))) {
    explanation.rule = "Not decided: the checker lets its own mailer pass.";
    return explanation;
  }
  if (!IsLocalExePath(exe_path)) {
    explanation.rule =
        "Not decided: the path is not on a local drive (it holds no \":\\\"); the checker "
        "writes an error log entry and the program keeps running.";
    return explanation;
  }
  explanation.stored_path = NormalizeExePath(host.search, exe_path);
  if (user_name.empty()) {
    explanation.stored_path.clear();
    explanation.rule = "Not decided: the checker decides nothing without a user name.";
    return explanation;
  }
  const std::string& path = explanation.stored_path;

  // The facts behind the decision.
  auto exe = impl_->Run(
      "SELECT e.exe_id AS exe_id, COALESCE(e.app_id, 0) AS app_id, "
      "CASE WHEN a.app_id IS NULL THEN 0 ELSE 1 END AS in_app, "
      "COALESCE(a.app_name, '') AS app_name FROM APP_EXES e LEFT JOIN APPS a "
      "ON a.app_id = e.app_id WHERE e.exe_path = ? ORDER BY e.exe_id",
      {path}, 1);
  if (!exe->Eof()) {
    explanation.executable_known = true;
    explanation.exe_id = NumberField(*exe, "exe_id");
    if (NumberField(*exe, "in_app") != 0) {
      explanation.app_id = NumberField(*exe, "app_id");
      explanation.application = exe->Field("app_name");
    }
  }
  auto user = impl_->Run(
      "SELECT user_status FROM USERS WHERE user_name = ? "
      "ORDER BY CASE WHEN user_status = 'ENABLED' THEN 0 ELSE 1 END, user_id",
      {user_name}, 1);
  if (!user->Eof()) {
    explanation.user_known = true;
    explanation.user_status = user->Field("user_status");
  }

  // The decision, by the checker's own rules over the database's facts.
  DatabaseAccessFacts database_facts(*impl_->db, path, user_name);
  ObservedFacts facts(database_facts);
  explanation.decision = DecideAccess(facts);
  explanation.decided = true;
  explanation.allowed = explanation.decision.empty();
  // Facts the rules did not need are read the same way, for the record.
  explanation.base_executable = facts.base ? *facts.base : database_facts.IsBaseExecutable();
  explanation.controlled_user =
      facts.controlled ? *facts.controlled : database_facts.IsControlledUser();
  explanation.granted =
      facts.granted ? *facts.granted : explanation.app_id.has_value() && database_facts.IsGranted();
  explanation.rule = RuleOf(facts, explanation);
  return explanation;
}

}  // namespace quillon::admin

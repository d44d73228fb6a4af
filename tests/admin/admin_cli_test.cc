// ZentrelAdmin's command line over a real SQLite database: every command,
// its output for people and for scripts, the refusals and their statuses,
// and help for each command.
#include "admin/admin_cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "admin_fixture.h"
#include "shared/program_main.h"

namespace quillon::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class AdminCliTest : public AdminTest {
 protected:
  AdminCliTest() {
    machine.files.AddFolder("C:\\GAMES");
    machine.files.AddFolder("C:\\TOOLS");
    machine.files.AddFolder("C:\\Policy");
    AddUser("alice", "ENABLED");
    AddUser("bob");
    AddApp("Games");
    AddExe("C:\\GAMES\\A.EXE", "1");
    AddExe("C:\\TOOLS\\B.EXE");
    AddExe("C:\\TOOLS\\C.EXE");
    Sql("INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES (1, 2)");
  }

  // Runs a command line as the program does, errors included.
  Outcome Run(const std::vector<std::string>& arguments) {
    std::ostringstream out;
    std::ostringstream err;
    const int status =
        RunConsoleProgramBody(host, "ZentrelAdmin", arguments, admin::RunAdminCommand, out, err);
    return {status, out.str(), err.str()};
  }
};

TEST_F(AdminCliTest, EachCommandDoesItsWorkAndSaysSo) {
  struct Step {
    std::vector<std::string> arguments;
    const char* output;  // a part of what it prints
  };
  const std::vector<Step> steps = {
      {{"users"}, "alice  ENABLED   yes         1"},
      {{"disable", "alice"}, "User alice is now DISABLED"},
      {{"disable", "alice"}, "was already DISABLED"},
      {{"enable", "alice"}, "User alice is now ENABLED"},
      {{"apps"}, "1   Games        1            0"},
      {{"app-add", "Tools"}, "Application Tools created (id 2)"},
      {{"app-rename", "Tools", "Toolbox"}, "renamed to Toolbox"},
      {{"exes", "--unassigned"}, "2 of 2 executable(s)"},
      {{"exes", "--filter", "tools\\c", "--limit", "1"}, "3   (none)       C:\\TOOLS\\C.EXE"},
      {{"exes", "--limit", "1"}, "next page: --after 1"},
      {{"exes", "--app", "Games"}, "C:\\GAMES\\A.EXE"},
      {{"assign", "C:\\TOOLS\\C.EXE", "Toolbox"}, "1 executable(s) now in Toolbox"},
      {{"grant", "alice", "Games"}, "alice may now run Games"},
      {{"grant", "alice", "Games"}, "already held a grant"},
      {{"revoke", "alice", "Games"}, "may no longer run Games"},
      {{"requests"}, "1   alice  (none)       C:\\TOOLS\\B.EXE"},
      {{"explain", "alice", "c:\\tools\\b.exe"},
       "Denied: the executable belongs to no application"},
      {{"approve", "1", "--app", "Toolbox"}, "alice may now run Toolbox"},
      {{"explain", "alice", "C:\\TOOLS\\B.EXE"}, "Allowed: the user holds a grant"},
      {{"app-delete", "Toolbox"}, "its 2 executable(s) are in no application"},
      {{"export", "C:\\Policy\\policy.json"}, "Policy written to C:\\Policy\\policy.json"},
      {{"import", "C:\\Policy\\policy.json"}, "0 application(s) created"},
  };
  for (const Step& step : steps) {
    const Outcome outcome = Run(step.arguments);
    EXPECT_EQ(outcome.status, 0) << step.arguments[0] << ": " << outcome.err;
    EXPECT_THAT(outcome.out, HasSubstr(step.output)) << step.arguments[0];
    EXPECT_EQ(outcome.err, "");
  }
  EXPECT_EQ(Value("SELECT COUNT(*) FROM ADMIN_AUDIT WHERE changed_by = 'Administrator'"),
            Value("SELECT COUNT(*) FROM ADMIN_AUDIT"));
}

TEST_F(AdminCliTest, JsonIsForScripts) {
  const Outcome users = Run({"users", "--json"});
  ASSERT_EQ(users.status, 0) << users.err;
  const nlohmann::json list = nlohmann::json::parse(users.out);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["name"], "alice");
  EXPECT_EQ(list[0]["controlled"], true);
  EXPECT_EQ(list[0]["requests"], 1);

  const nlohmann::json page = nlohmann::json::parse(Run({"--json", "exes", "--limit", "2"}).out);
  EXPECT_EQ(page["total"], 3);
  EXPECT_EQ(page["next_after"], 2);
  EXPECT_EQ(page["executables"][0]["application"], "Games");
  EXPECT_TRUE(page["executables"][1]["application"].is_null());

  AddUser("\xC9milie");  // JSON output is ASCII with escapes, and UTF-8 inside
  const Outcome explained = Run({"explain", "\xC9milie", "C:\\GAMES\\A.EXE", "--json"});
  EXPECT_THAT(explained.out, HasSubstr("\\u00c9milie"));
  const nlohmann::json explanation = nlohmann::json::parse(explained.out);
  EXPECT_EQ(explanation["user"], "\xC3\x89milie");
  EXPECT_EQ(explanation["allowed"], true);
  EXPECT_EQ(explanation["user_status"], "DISABLED");
  EXPECT_EQ(explanation["application"], "Games");
}

// The overview: the library's counts and the newest denials of the
// checker's Access.log (at most 15, broken lines passed over); the audit:
// each change with who made it, newest first.
TEST_F(AdminCliTest, OverviewAndAuditShowCountsDenialsAndChanges) {
  const Outcome quiet = Run({"overview"});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_THAT(quiet.out, HasSubstr("No launch has been denied yet."));
  EXPECT_THAT(Run({"audit"}).out, HasSubstr("No change has been recorded yet."));

  std::string log;
  for (int minute = 10; minute < 30; ++minute) {
    log += "12/07/26 10:" + std::to_string(minute) + ":00: C:\\TOOLS\\B.EXE_|_Unassigned_|_bob\r\n";
  }
  log += "12/07/26 10:30:00: C:\\GAMES\\A.EXE_|_Games_|_\xC9milie\r\nbroken line\r\n";
  machine.files.AddFile("C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log", log);

  const Outcome people = Run({"overview"});
  ASSERT_EQ(people.status, 0) << people.err;
  for (const char* line :
       {"Users                           2\n", "Controlled users                1\n",
        "Applications                    1\n", "Executables                     3\n",
        "Executables in no application   2\n", "Pending access requests         1\n",
        "\nWHEN               USER    APPLICATION  PATH\n"
        "12/07/26 10:30:00  \xC9milie  Games        C:\\GAMES\\A.EXE\n"
        "12/07/26 10:29:00  bob     Unassigned   C:\\TOOLS\\B.EXE\n"}) {
    EXPECT_THAT(people.out, HasSubstr(line));
  }
  EXPECT_THAT(people.out, Not(HasSubstr("10:15:00")));  // the 16th newest

  const nlohmann::json overview = nlohmann::json::parse(Run({"overview", "--json"}).out);
  const admin::Overview counts = Admin().GetOverview();
  EXPECT_EQ(overview["users"], counts.users);
  EXPECT_EQ(overview["controlled_users"], counts.controlled_users);
  EXPECT_EQ(overview["executables"], counts.executables);
  EXPECT_EQ(overview["unassigned_executables"], counts.unassigned_executables);
  EXPECT_EQ(overview["pending_requests"], counts.pending_requests);
  ASSERT_EQ(overview["latest_denials"].size(), admin::kLatestDenialsShown);
  EXPECT_EQ(overview["latest_denials"][0]["user"], "\xC3\x89milie");
  EXPECT_EQ(overview["latest_denials"][0]["decision"], "Games");
  EXPECT_EQ(overview["latest_denials"][14]["time"], "12/07/26 10:16:00");

  ASSERT_EQ(Run({"app-add", "Tools"}).status, 0);
  ASSERT_EQ(Run({"grant", "alice", "Tools"}).status, 0);
  const Outcome audit = Run({"audit"});
  ASSERT_EQ(audit.status, 0) << audit.err;
  EXPECT_THAT(audit.out, HasSubstr("WHEN                 WHO            ACTION   WHAT\n"
                                   "2006-02-03 09:05:07  Administrator  grant "));
  EXPECT_THAT(audit.out, HasSubstr("Administrator  app-add  "));
  const nlohmann::json newest = nlohmann::json::parse(Run({"audit", "--limit", "1", "--json"}).out);
  ASSERT_EQ(newest.size(), 1u);
  EXPECT_EQ(newest[0]["action"], "grant");
  EXPECT_EQ(newest[0]["who"], "Administrator");
  EXPECT_EQ(nlohmann::json::parse(Run({"--json", "audit"}).out).size(), 2u);
}

TEST_F(AdminCliTest, RefusalsAndWrongCommandLinesGiveAClearMessageAndAStatus) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"enable", "carol"}, admin::kExitRefused, "No user \"carol\""},
      {{"grant", "alice", "Office"}, admin::kExitRefused, "No application \"Office\""},
      {{"assign", "C:\\NONE.EXE", "Games"}, admin::kExitRefused, "No executable"},
      {{"approve", "42"}, admin::kExitRefused, "No access request with id 42"},
      {{"dismiss", "42"}, admin::kExitRefused, "No access request with id 42"},
      {{"approve", "1"}, admin::kExitRefused, "name the application"},
      {{"app-add", "games"}, admin::kExitRefused, "exists already"},
      {{"exes", "--app", "Office"}, admin::kExitRefused, "No application \"Office\""},
      {{"import", "C:\\Policy\\missing.json"}, 1, "ZentrelAdmin: Error "},
      {{}, admin::kExitUsage, "A subcommand is required"},
      {{"frobnicate"}, admin::kExitUsage, "no command \"frobnicate\""},
      {{"grant", "alice"}, admin::kExitUsage, "APP is required"},
      {{"approve", "one"}, admin::kExitUsage, "one"},
      {{"exes", "--limit", "0"}, admin::kExitUsage, "--limit"},
      {{"assign", "Games"}, admin::kExitUsage, "PATH... APP"},
      {{"audit", "--limit", "0"}, admin::kExitUsage, "--limit"},
      {{"overview", "now"}, admin::kExitUsage, "now"},
  };
  for (const Case& test : cases) {
    const Outcome outcome = Run(test.arguments);
    const std::string line = test.arguments.empty() ? "(none)" : test.arguments[0];
    EXPECT_EQ(outcome.status, test.status) << line << ": " << outcome.out << outcome.err;
    EXPECT_THAT(outcome.err, HasSubstr(test.message)) << line;
  }
  // Nothing was changed by any of them.
  EXPECT_EQ(Rows("ADMIN_AUDIT"), 0);
  EXPECT_EQ(Rows("APPS"), 1);
}

TEST_F(AdminCliTest, EveryCommandHasHelp) {
  const Outcome overall = Run({"--help"});
  EXPECT_EQ(overall.status, 0);
  for (const char* command :
       {"users", "enable", "disable", "apps", "app-add", "app-rename", "app-delete", "exes",
        "assign", "grant", "revoke", "requests", "approve", "dismiss", "explain", "overview",
        "audit", "export", "import"}) {
    EXPECT_THAT(overall.out, HasSubstr(command));
    const Outcome help = Run({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_THAT(help.out, HasSubstr(std::string("ZentrelAdmin ") + command)) << help.out;
  }
  EXPECT_THAT(Run({"exes", "--help"}).out, HasSubstr("--unassigned"));
  EXPECT_THAT(Run({"approve", "--help"}).out, HasSubstr("--app"));
  EXPECT_EQ(Rows("ADMIN_AUDIT"), 0);
}

}  // namespace
}  // namespace quillon::testing

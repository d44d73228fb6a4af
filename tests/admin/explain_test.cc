// Explain against the checker: for every kind of decision, the explanation's
// decision is the one the checker then takes for the same launch, and the
// facts behind it are those the database holds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "access/access.h"
#include "admin_fixture.h"
#include "checker/checker.h"
#include "shared/helpers/text.h"
#include "shared/program_main.h"

namespace quillon::testing {
namespace {

using ::testing::HasSubstr;

class ExplainTest : public AdminTest {
 protected:
  ExplainTest() {
    machine.files.AddFolder("C:\\Program Files\\Harlwick\\Zentrel\\Logs");
    for (const char* path : {"C:\\WINDOWS", "C:\\Games", "C:\\TOOLS", "C:\\NEW"}) {
      machine.files.AddFolder(path);
    }
    AddApp("Games");
    AddApp("");  // an application without a name: reported as none
    AddExe("C:\\WINDOWS\\EXPLORER.EXE", "-1");
    AddExe("C:\\GAMES\\A.EXE", "1");
    AddExe("C:\\TOOLS\\B.EXE");
    AddExe("C:\\TOOLS\\NAMELESS.EXE", "2");
    AddUser("granted", "ENABLED");
    AddUser("plain", "ENABLED");
    AddUser("free");
    AddUser("O'Neil", "ENABLED");
    Sql("INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (1, 1), (4, 1), (1, 2)");
  }
};

struct Case {
  const char* user;
  const char* path;
  const char* decision;
  const char* rule;  // a part of the rule's sentence
  bool exe_known;
  bool base;
  const char* application;
  bool user_known;
  bool controlled;
  bool granted;
};

TEST_F(ExplainTest, EveryKindOfDecisionIsTheCheckersOwn) {
  const std::vector<Case> cases = {
      {"plain", "c:\\windows\\explorer.exe", "", "base executable", true, true, "", true, true,
       false},
      {"newcomer", "C:\\games\\A.exe", "", "the user is unknown", true, false, "Games", false,
       false, false},
      {"free", "C:\\GAMES\\A.EXE", "", "not controlled (status \"DISABLED\")", true, false, "Games",
       true, false, false},
      {"plain", "C:\\TOOLS\\B.EXE", "Unassigned", "no application", true, false, "", true, true,
       false},
      {"plain", "C:\\NEW\\X.EXE", "Unassigned", "no application", false, false, "", true, true,
       false},
      {"plain", "C:\\GAMES\\A.EXE", "Games", "no grant of the application \"Games\"", true, false,
       "Games", true, true, false},
      {"granted", "C:\\GAMES\\A.EXE", "", "holds a grant of the application \"Games\"", true, false,
       "Games", true, true, true},
      {"O'Neil", "C:\\GAMES\\A.EXE", "", "holds a grant", true, false, "Games", true, true, true},
      {"granted", "C:\\TOOLS\\NAMELESS.EXE", "", "holds a grant of the application \"\"", true,
       false, "", true, true, true},
      {"plain", "C:\\TOOLS\\NAMELESS.EXE", "Unassigned", "no grant", true, false, "", true, true,
       false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.user) + " " + test.path);
    const admin::Explanation explanation = Admin().Explain(test.user, test.path);
    EXPECT_TRUE(explanation.decided);
    EXPECT_EQ(explanation.stored_path, UpperCase(test.path));
    EXPECT_EQ(explanation.decision, test.decision);
    EXPECT_EQ(explanation.allowed, std::string(test.decision).empty());
    EXPECT_THAT(explanation.rule, HasSubstr(test.rule));
    EXPECT_EQ(explanation.executable_known, test.exe_known);
    EXPECT_EQ(explanation.base_executable, test.base);
    EXPECT_EQ(explanation.application, test.application);
    EXPECT_EQ(explanation.user_known, test.user_known);
    EXPECT_EQ(explanation.controlled_user, test.controlled);
    EXPECT_EQ(explanation.granted, test.granted);

    // Explaining changed nothing; the checker then decides the same.
    const long long exes = Rows("APP_EXES");
    const long long users = Rows("USERS");
    Admin().Explain(test.user, test.path);
    EXPECT_EQ(Rows("APP_EXES"), exes);
    EXPECT_EQ(Rows("USERS"), users);
    EXPECT_EQ(CheckAccess(sqlite, explanation.stored_path, test.user), test.decision);
  }
}

TEST_F(ExplainTest, LaunchesTheCheckerDoesNotDecideAreSaidSo) {
  struct Undecided {
    const char* user;
    const char* path;
    const char* rule;
  };
  const std::vector<Undecided> cases = {
      {"plain", "notepad.exe", "not on a local drive"},
      {"plain", "\\\\SERVER\\SHARE\\A.EXE", "not on a local drive"},
      {"plain", "C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE", "its own mailer"},
      {"", "C:\\GAMES\\A.EXE", "without a user name"},
  };
  for (const Undecided& test : cases) {
    SCOPED_TRACE(test.path);
    const admin::Explanation explanation = Admin().Explain(test.user, test.path);
    EXPECT_FALSE(explanation.decided);
    EXPECT_TRUE(explanation.allowed);
    EXPECT_EQ(explanation.stored_path, "");
    EXPECT_THAT(explanation.rule, HasSubstr(test.rule));
    // The checker, given the same launch, registers nothing and decides
    // nothing.
    const long long exes = Rows("APP_EXES");
    Host checker_host = machine.host(&sqlite);
    EXPECT_EQ(RunProgramBody(checker_host, "Zentrel",
                             std::string(test.path) + "_|_LAUNCH_|_77_|_" + test.user, RunChecker),
              0);
    EXPECT_EQ(Rows("APP_EXES"), exes);
  }
}

}  // namespace
}  // namespace quillon::testing

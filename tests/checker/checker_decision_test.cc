// The access decision against a real database of the install schema: who is
// registered, what is allowed, and the statements exactly as they are run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "checker/checker.h"
#include "checker_fixture.h"
#include "shared/program_main.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kOpen[] =
    "Database Open Provider=SQLOLEDB;Initial Catalog=Zentrel;Integrated Security=SSPI;";

class DecisionTest : public CheckerTest {
 protected:
  std::string Decide(const std::string& exe_path, const std::string& user_name) {
    return CheckAccess(database, exe_path, user_name);
  }
};

TEST_F(DecisionTest, NewExecutableAndNewUserAreRegisteredAndAllowed) {
  EXPECT_EQ(Decide("C:\\TOOLS\\NEW.EXE", "alice"), "");

  EXPECT_EQ(Rows("APP_EXES"), 1);
  EXPECT_EQ(Value("SELECT exe_path FROM APP_EXES"), "C:\\TOOLS\\NEW.EXE");
  // Without an app_id the executable belongs to no application and is no
  // base executable.
  EXPECT_EQ(Rows("APP_EXES WHERE app_id = -1 OR app_id IN (SELECT app_id FROM APPS)"), 0);
  EXPECT_EQ(Rows("USERS"), 1);
  EXPECT_EQ(Value("SELECT user_name || '/' || user_status FROM USERS"), "alice/DISABLED");
  EXPECT_THAT(
      DatabaseEntries(),
      ElementsAre(kOpen,
                  "Database Execute SELECT APP_EXES.exe_path FROM APP_EXES WHERE "
                  "APP_EXES.exe_path = 'C:\\TOOLS\\NEW.EXE'",
                  "Database Execute INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\NEW.EXE')",
                  "Database Execute SELECT USERS.user_name FROM USERS WHERE USERS.user_name = "
                  "'alice'",
                  "Database Execute INSERT INTO USERS (user_name, user_status) VALUES ('alice', "
                  "'DISABLED')",
                  "Database Execute SELECT * FROM APP_EXES WHERE APP_EXES.exe_path = "
                  "'C:\\TOOLS\\NEW.EXE' AND APP_EXES.app_id = '-1'",
                  "Database Execute SELECT * FROM USERS WHERE USERS.user_name = 'alice' AND "
                  "USERS.user_status = 'ENABLED'",
                  "Database Close"));
}

TEST_F(DecisionTest, SecondLaunchOfTheSamePairAddsNothing) {
  Decide("C:\\TOOLS\\NEW.EXE", "alice");
  machine.journal.Clear();

  EXPECT_EQ(Decide("C:\\TOOLS\\NEW.EXE", "alice"), "");
  EXPECT_EQ(Rows("APP_EXES"), 1);
  EXPECT_EQ(Rows("USERS"), 1);
  EXPECT_THAT(machine.journal.Starting("Database Execute INSERT"), IsEmpty());
}

TEST_F(DecisionTest, ControlledUserIsDeniedAnExecutableOfNoApplication) {
  EnabledUser("alice");
  EXPECT_EQ(Decide("C:\\TOOLS\\NEW.EXE", "alice"), "Unassigned");
  EXPECT_EQ(Rows("APP_EXES"), 1);
  EXPECT_EQ(Rows("USERS"), 1);
  EXPECT_THAT(DatabaseEntries(),
              ElementsAre(kOpen, ::testing::_,
                          "Database Execute INSERT INTO APP_EXES (exe_path) VALUES "
                          "('C:\\TOOLS\\NEW.EXE')",
                          ::testing::_, ::testing::_,
                          "Database Execute SELECT * FROM USERS WHERE USERS.user_name = 'alice' "
                          "AND USERS.user_status = 'ENABLED'",
                          "Database Execute SELECT APPS.app_name FROM APPS, APP_EXES WHERE "
                          "APPS.app_id = APP_EXES.app_id AND APP_EXES.exe_path = "
                          "'C:\\TOOLS\\NEW.EXE'",
                          "Database Close"));
}

TEST_F(DecisionTest, ControlledUserNeedsAGrantForTheApplication) {
  const std::string alice = EnabledUser("alice");
  const std::string games = Application("Games", "C:\\TOOLS\\GAME.EXE");
  Application("Office", "C:\\TOOLS\\WORD.EXE");
  Sql("INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (" + alice + ", 2)");

  EXPECT_EQ(Decide("C:\\TOOLS\\GAME.EXE", "alice"), "Games");

  Sql("INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (" + alice + ", " + games + ")");
  machine.journal.Clear();
  EXPECT_EQ(Decide("C:\\TOOLS\\GAME.EXE", "alice"), "");
  EXPECT_THAT(DatabaseEntries(),
              ElementsAre(kOpen, ::testing::_, ::testing::_, ::testing::_, ::testing::_,
                          "Database Execute SELECT APPS.app_name FROM APPS, APP_EXES WHERE "
                          "APPS.app_id = APP_EXES.app_id AND APP_EXES.exe_path = "
                          "'C:\\TOOLS\\GAME.EXE'",
                          "Database Execute SELECT * FROM APP_EXES, APPS, ALLOWED_APPS, USERS "
                          "WHERE APP_EXES.app_id = APPS.app_id AND APPS.app_id = "
                          "ALLOWED_APPS.app_id AND ALLOWED_APPS.user_id = USERS.user_id AND "
                          "APP_EXES.exe_path = 'C:\\TOOLS\\GAME.EXE' AND USERS.user_name = "
                          "'alice'",
                          "Database Close"));
}

TEST_F(DecisionTest, GrantOfAnotherUserDoesNotCount) {
  EnabledUser("alice");
  const std::string bob = EnabledUser("bob");
  const std::string games = Application("Games", "C:\\TOOLS\\GAME.EXE");
  Sql("INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (" + bob + ", " + games + ")");

  EXPECT_EQ(Decide("C:\\TOOLS\\GAME.EXE", "alice"), "Games");
  EXPECT_EQ(Decide("C:\\TOOLS\\GAME.EXE", "bob"), "");
}

TEST_F(DecisionTest, BaseExecutableIsAllowedForAnyUserAndTestedFirst) {
  EnabledUser("alice");
  Sql("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\WINDOWS\\EXPLORER.EXE', -1)");

  EXPECT_EQ(Decide("C:\\WINDOWS\\EXPLORER.EXE", "alice"), "");
  // The user test is never reached for a base executable.
  EXPECT_THAT(machine.journal.Starting("Database Execute SELECT * FROM USERS"), IsEmpty());
  // An unknown user is still registered before the rules are tested.
  EXPECT_EQ(Decide("C:\\WINDOWS\\EXPLORER.EXE", "newcomer"), "");
  EXPECT_EQ(Rows("USERS WHERE user_name = 'newcomer' AND user_status = 'DISABLED'"), 1);
  EXPECT_EQ(Rows("APP_EXES"), 1);
}

TEST_F(DecisionTest, QuotesInNamesAreStoredAndFoundIntact) {
  EnabledUser("O'Neil");
  EXPECT_EQ(Decide("C:\\TOOLS\\O'NEIL'S.EXE", "O'Neil"), "Unassigned");
  EXPECT_EQ(Decide("C:\\TOOLS\\O'NEIL'S.EXE", "O'Neil"), "Unassigned");

  EXPECT_EQ(Value("SELECT exe_path FROM APP_EXES"), "C:\\TOOLS\\O'NEIL'S.EXE");
  EXPECT_EQ(Rows("APP_EXES"), 1);
  EXPECT_EQ(Rows("USERS"), 1);
  EXPECT_THAT(machine.journal.Starting("Database Execute INSERT"),
              ElementsAre("Database Execute INSERT INTO APP_EXES (exe_path) VALUES "
                          "('C:\\TOOLS\\O''NEIL''S.EXE')"));
}

TEST_F(DecisionTest, UserNamesMatchWithoutRegardToCase) {
  EnabledUser("Alice");
  EXPECT_EQ(Decide("C:\\TOOLS\\NEW.EXE", "ALICE"), "Unassigned");
  EXPECT_EQ(Rows("USERS"), 1);
}

TEST_F(DecisionTest, ApplicationWithoutANameIsStillADenial) {
  EnabledUser("alice");
  Application("", "C:\\TOOLS\\GAME.EXE");
  // An empty decision would mean allowed.
  EXPECT_EQ(Decide("C:\\TOOLS\\GAME.EXE", "alice"), "Unassigned");
}

TEST_F(DecisionTest, ApplicationNameThatIsNullStopsTheDecision) {
  EnabledUser("alice");
  Sql("INSERT INTO APPS (app_name) VALUES (NULL)");
  Sql("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\TOOLS\\GAME.EXE', 1)");
  try {
    Decide("C:\\TOOLS\\GAME.EXE", "alice");
    FAIL() << "no error";
  } catch (const HostError& error) {
    EXPECT_EQ(error.number(), error_number::kInvalidUseOfNull);
  }
}

TEST_F(DecisionTest, TablesWithoutDefaultsOrConstraintsDecideAlike) {
  CreateBareZentrelDatabase(folder.path());
  const std::string alice = EnabledUser("alice");
  const std::string games = Application("Games", "C:\\TOOLS\\GAME.EXE");

  EXPECT_EQ(Decide("C:\\TOOLS\\NEW.EXE", "alice"), "Unassigned");
  EXPECT_EQ(Decide("C:\\TOOLS\\NEW.EXE", "bob"), "");
  EXPECT_EQ(Decide("C:\\TOOLS\\GAME.EXE", "alice"), "Games");
  Sql("INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (" + alice + ", " + games + ")");
  EXPECT_EQ(Decide("C:\\TOOLS\\GAME.EXE", "alice"), "");
  EXPECT_EQ(Rows("USERS WHERE user_name = 'bob' AND user_status = 'DISABLED'"), 1);
}

// A database that cannot be used stops the checker before the process is
// touched: the launch keeps running, nothing is shown but the error report,
// nothing is logged.
class DatabaseFailureTest : public CheckerTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(DatabaseFailureTest, NothingFollowsTheStop) {
  EnabledUser("alice");
  machine.processes.Start(42);
  machine.faults.Fail(GetParam(), GetParam() == std::string("Execute") ? "ENABLED" : "",
                      error_number::kUnspecified, "[SQLite] database is locked");

  EXPECT_EQ(RunZentrel(Request("C:\\TOOLS\\GAME.EXE", 42, "alice")), 1);
  EXPECT_THAT(HostEntries(),
              ElementsAre("MsgBox 16 \"Zentrel\" \"Error -2147467259: [SQLite] database is "
                          "locked\" -> 1"));
  EXPECT_TRUE(machine.processes.Running(42));
  EXPECT_EQ(machine.files.Content(kAccessLog), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Operations, DatabaseFailureTest,
                         ::testing::Values("DatabaseOpen", "Execute"));

TEST_F(CheckerTest, MissingDatabaseStopsWithTheErrorReport) {
  SqliteDatabase nowhere(folder.path() + "/no-such-folder");
  RecordingDatabase recording(nowhere, machine.journal, machine.faults);
  Host host = machine.host(&recording);
  machine.processes.Start(42);

  EXPECT_EQ(
      RunProgramBody(host, "Zentrel", Request("C:\\TOOLS\\GAME.EXE", 42, "alice"), RunChecker), 1);
  EXPECT_THAT(HostEntries(), ElementsAre(::testing::StartsWith("MsgBox 16 \"Zentrel\" \"Error "
                                                               "-2147467259: ")));
  EXPECT_TRUE(machine.processes.Running(42));
}

TEST_F(CheckerTest, AllowedLaunchLeavesNoTraceButTheRegistration) {
  machine.processes.Start(42);
  EXPECT_EQ(RunZentrel(Request("C:\\TOOLS\\NEW.EXE", 42, "alice")), 0);
  EXPECT_THAT(HostEntries(), IsEmpty());
  EXPECT_TRUE(machine.processes.Running(42));
  EXPECT_EQ(machine.files.GetFolder(kLogs).files.size(), 0u);
  EXPECT_EQ(Rows("APP_EXES"), 1);
  EXPECT_EQ(Rows("USERS"), 1);
}

}  // namespace
}  // namespace quillon::testing

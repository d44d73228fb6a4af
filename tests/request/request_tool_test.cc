// Dusmere with the fakes over a real SQLite database of the install schema:
// the status box for each state of the database, the refusals of typed
// paths, and requests sent through the checker's flow.
#include "request/request_tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_host.h"
#include "request/request_texts.h"
#include "shared/posix/sqlite_database.h"
#include "shared/program_main.h"
#include "support/database_support.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kMailer[] = "\"C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe\"";

std::string Box(int style, const std::string& title, const std::string& text, int answer) {
  return "MsgBox " + std::to_string(style) + " \"" + title + "\" \"" + text + "\" -> " +
         std::to_string(answer);
}
std::string Refusal(const std::string& text) {
  return Box(16, request_texts::kTitle, text, kIdOk);
}
std::string Program(const std::string& typed) {
  return std::string("InputBox \"") + request_texts::kTitle + "\" \"" +
         request_texts::kProgramPrompt + "\" -> \"" + typed + "\"";
}

class RequestToolTest : public ::testing::Test {
 protected:
  RequestToolTest() {
    // The account counts, never the variable a user may set.
    machine.shell.SetUserName("alice");
    machine.environment.Set("USERNAME", "bob");
    for (const char* file : {"C:\\Tools\\Game.exe", "C:\\Tools\\Word.exe", "C:\\Tools\\New.exe",
                             "C:\\Tools\\readme.txt", "C:\\WINDOWS\\notepad.exe"}) {
      machine.files.AddFile(file);
    }
    machine.files.AddFile("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini",
                          "adminemail: admin@x;\r\nsmtpserver: smtp;\r\n");
    // Games (1) holds the game, Office (2) the word processor; notepad is a
    // base executable.
    RunSql(database_file,
           "INSERT INTO APPS (app_name) VALUES ('Games'), ('Office');"
           "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\TOOLS\\GAME.EXE', 1), "
           "('C:\\TOOLS\\WORD.EXE', 2), ('C:\\WINDOWS\\NOTEPAD.EXE', -1);");
  }

  // Runs Dusmere as its program does; the status box is answered by `offer`.
  int Run(int offer = kIdYes, std::optional<std::string> typed = std::nullopt) {
    machine.dialogs.Answer(offer);
    machine.dialogs.Type(std::move(typed));
    Host host = machine.host(&sqlite);
    return RunProgramBody(host, "Dusmere", "", RunRequestTool);
  }

  // Entries after the status box.
  std::vector<std::string> AfterOffer() const {
    const auto& entries = machine.journal.entries();
    return {entries.begin() + 1, entries.end()};
  }

  FakeMachine machine;
  DatabaseTestFolder folder;
  std::string database_file = CreateZentrelDatabase(folder.path());
  SqliteDatabase sqlite{folder.databases()};
};

struct StatusCase {
  const char* name;
  const char* sql;
  std::string expected;
};

class StatusBoxTest : public RequestToolTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusBoxTest, ShowsStatusGrantsAndPendingRequestsThenNoEndsIt) {
  RunSql(database_file, GetParam().sql);
  const long long exes = CountRows(database_file, "APP_EXES");
  EXPECT_EQ(Run(kIdNo), 0);
  EXPECT_THAT(
      machine.journal.entries(),
      ElementsAre(Box(36, "Quillon Access",
                      GetParam().expected + "\r\nWould you like to request access to a program?",
                      kIdNo)));
  EXPECT_EQ(CountRows(database_file, "APP_EXES"), exes);  // nothing registered
}

const char kNone[] = "\r\n    (none)\r\n";

INSTANTIATE_TEST_SUITE_P(
    Users, StatusBoxTest,
    ::testing::Values(
        StatusCase{"Unknown", "",
                   std::string("User \"alice\" is not known to Quillon yet, so Quillon does not "
                               "control this user: every program may be started.\r\n\r\n"
                               "Applications granted:") +
                       kNone + "\r\nAccess requests not yet granted:" + kNone},
        StatusCase{"NotControlled",
                   "INSERT INTO USERS (user_name) VALUES ('ALICE');"
                   "INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES (1, 1);",
                   std::string("User \"alice\" is not controlled by Quillon: every program may be "
                               "started.\r\n\r\nApplications granted:") +
                       kNone +
                       "\r\nAccess requests not yet granted:\r\n    C:\\TOOLS\\GAME.EXE\r\n"},
        // Requests for a granted and a base executable are not pending, nor
        // is another user's; grants and requests come in id order.
        StatusCase{"Controlled",
                   "INSERT INTO APPS (app_name) VALUES ('Tools');"
                   "INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\NEW.EXE');"
                   "INSERT INTO USERS (user_name, user_status) VALUES ('bob', 'ENABLED'), "
                   "('alice', 'ENABLED');"
                   "INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (2, 3), (2, 1), (1, 2);"
                   "INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES (2, 4), (2, 1), "
                   "(1, 1), (2, 3), (2, 2);",
                   "User \"alice\" is controlled by Quillon: besides the programs every user may "
                   "start, only the programs of the applications granted below may be started."
                   "\r\n\r\nApplications granted:\r\n    Games\r\n    Tools\r\n\r\nAccess "
                   "requests not yet granted:\r\n    C:\\TOOLS\\NEW.EXE\r\n    "
                   "C:\\TOOLS\\WORD.EXE\r\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(RequestToolTest, LongListsStopAfterTwentyEntries) {
  RunSql(database_file, "INSERT INTO USERS (user_name) VALUES ('alice')");
  for (int i = 0; i < 21; ++i) {
    RunSql(database_file, "INSERT INTO APPS (app_name) VALUES ('App" + std::to_string(i) +
                              "'); INSERT INTO ALLOWED_APPS SELECT 1, max(app_id) FROM APPS");
  }
  Run(kIdNo);
  EXPECT_THAT(machine.journal.entries().at(0), HasSubstr("    App19\r\n    (and more)\r\n\r\n"));
}

// A typed path and the refusal it gets ("" for none: Cancel ends quietly).
using TypedCase = std::pair<std::optional<std::string>, std::string>;

class RefusalTest : public RequestToolTest, public ::testing::WithParamInterface<TypedCase> {};

TEST_P(RefusalTest, RefusesWithoutRegisteringOrRequesting) {
  EXPECT_EQ(Run(kIdYes, GetParam().first), 0);
  std::vector<std::string> expected = {machine.journal.entries().at(1)};  // the input box
  if (!GetParam().second.empty()) expected.push_back(Refusal(GetParam().second));
  EXPECT_EQ(AfterOffer(), expected);
  EXPECT_EQ(CountRows(database_file, "APP_EXES"), 3);
  EXPECT_EQ(CountRows(database_file, "USERS"), 0);
}

namespace texts = request_texts;
INSTANTIATE_TEST_SUITE_P(
    Typed, RefusalTest,
    ::testing::Values(
        TypedCase{std::nullopt, ""}, TypedCase{" \t ", texts::kNothingEntered},
        TypedCase{"Game.exe", texts::NotAFullPath("Game.exe")},
        TypedCase{"\\\\srv\\Game.exe", texts::NotAFullPath("\\\\srv\\Game.exe")},
        TypedCase{"C:\\Tools\\..\\Game.exe", texts::NotAFullPath("C:\\Tools\\..\\Game.exe")},
        TypedCase{"C:\\Tools\\G|me.exe", texts::NotAFullPath("C:\\Tools\\G|me.exe")},
        TypedCase{"C:\\Tools\\readme.txt", texts::NotAProgram("C:\\Tools\\readme.txt")},
        TypedCase{"C:\\Tools\\Missing.exe", texts::NoSuchProgram("C:\\Tools\\Missing.exe")}));

struct RequestCase {
  const char* name;
  const char* status;  // alice's, or "" when she is unknown
  std::string typed;
  std::string stored;    // the path as the request names it
  std::string decision;  // "" when she may start it already
};

class RequestTest : public RequestToolTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(RequestTest, RequestsThroughTheCheckersFlowOrSaysNoneIsNeeded) {
  const RequestCase& c = GetParam();
  if (*c.status) {
    RunSql(database_file, std::string("INSERT INTO USERS (user_name, user_status) VALUES ('alice', "
                                      "'") +
                              c.status + "'); INSERT INTO ALLOWED_APPS VALUES (1, 1)");
  }
  EXPECT_EQ(Run(kIdYes, c.typed), 0);

  const std::string exe_id =
      QueryValue(database_file,
                 "SELECT exe_id FROM APP_EXES WHERE exe_path = '" + c.stored + "' COLLATE BINARY");
  // Program and user are registered as a launch registers them.
  EXPECT_EQ(QueryValue(database_file, "SELECT user_status FROM USERS WHERE user_name = 'alice'"),
            *c.status ? c.status : "DISABLED");
  if (c.decision.empty()) {
    EXPECT_THAT(AfterOffer(),
                ElementsAre(Program(c.typed),
                            Box(64, "Quillon Access",
                                request_texts::AlreadyAllowed("alice", c.stored), kIdOk)));
    EXPECT_EQ(CountRows(database_file, "ACCESS_REQUESTS"), 0);
    return;
  }
  const std::string request_id =
      QueryValue(database_file, "SELECT request_id FROM ACCESS_REQUESTS WHERE exe_id = " + exe_id);
  EXPECT_THAT(
      AfterOffer(),
      ElementsAre(
          Program(c.typed), "OpenTextFile C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini mode=1",
          std::string("Run ") + kMailer + " \"smtp\" \"admin@x\" \"HARLWICK-PC\" \"" + c.stored +
              "\" \"" + c.decision + "\" \"alice\" \"" + request_id + "\" style=0 wait=false",
          Box(64, "Access Request Sent",
              "An access request has been sent via e-mail to your administrator.", kIdOk)));
  EXPECT_EQ(CountRows(database_file, "ACCESS_REQUESTS"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, RequestTest,
    ::testing::Values(
        RequestCase{"Assigned", "ENABLED", "C:\\Tools\\Word.exe", "C:\\TOOLS\\WORD.EXE", "Office"},
        // A new program is registered, quotes, blanks and slashes put right.
        RequestCase{"New", "ENABLED", " \"c:/tools/new.exe\" ", "C:\\TOOLS\\NEW.EXE", "Unassigned"},
        RequestCase{"Granted", "ENABLED", "C:\\Tools\\Game.exe", "C:\\TOOLS\\GAME.EXE", ""},
        RequestCase{"Base", "ENABLED", "C:\\WINDOWS\\notepad.exe", "C:\\WINDOWS\\NOTEPAD.EXE", ""},
        RequestCase{"NotControlled", "DISABLED", "C:\\Tools\\Word.exe", "C:\\TOOLS\\WORD.EXE", ""},
        RequestCase{"Unknown", "", "C:\\Tools\\Word.exe", "C:\\TOOLS\\WORD.EXE", ""}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(RequestToolTest, ADatabaseThatCannotBeOpenedEndsInTheErrorReportAlone) {
  SqliteDatabase missing{folder.path() + "/no-databases"};
  machine.dialogs.Answer(kIdYes);
  Host host = machine.host(&missing);
  EXPECT_EQ(RunProgramBody(host, "Dusmere", "", RunRequestTool), 1);
  ASSERT_EQ(machine.journal.entries().size(), 1u);
  EXPECT_EQ(machine.journal.entries()[0].rfind("MsgBox 16 \"Dusmere\" \"Error ", 0), 0u)
      << machine.journal.entries()[0];
}

TEST_F(RequestToolTest, WithoutAUserNameItSaysSoAndTouchesNoDatabase) {
  machine.shell.SetUserName("");
  Host host = machine.host();  // a database that fails every use
  EXPECT_EQ(RunProgramBody(host, "Dusmere", "", RunRequestTool), 0);
  EXPECT_THAT(machine.journal.entries(), ElementsAre(Refusal(request_texts::kNoUser)));
}

}  // namespace
}  // namespace quillon::testing

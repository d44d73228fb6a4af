// A denied launch: termination before the box, the box itself, the access
// request with its row, the mailer's command line and the confirmation, and
// the access-log line at the end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "checker/checker.h"
#include "checker_fixture.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kGame[] = "C:\\TOOLS\\GAME.EXE";
constexpr char kDenialPrompt[] =
    "User \"alice\" is not permitted to run the file \"C:\\TOOLS\\GAME.EXE\". If you feel you have "
    "received this message in error, please contact your administrator.\r\n\r\nWould you like to "
    "request access to this file?";
constexpr char kMailer[] = "\"C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe\"";

std::string DenialBox(int answer) {
  return "MsgBox 20 \"Access Denied!\" \"" + std::string(kDenialPrompt) + "\" -> " +
         std::to_string(answer);
}

const std::string kMailedBox =
    "MsgBox 64 \"Access Request Sent\" \"An access request has been sent via e-mail to your "
    "administrator.\" -> 1";
const std::string kNotMailedBox =
    "MsgBox 64 \"Access Request Sent\" \"An access request has been sent to your administrator.\" "
    "-> 1";

class DenialTest : public CheckerTest {
 protected:
  DenialTest() {
    machine.files.AddFile("C:\\Tools\\Game.exe");
    alice = EnabledUser("alice");
    Application("Games", kGame);
    machine.processes.Start(4242);
  }

  void MailSettings(const std::string& address, const std::string& server) {
    machine.files.AddFile(kSettings,
                          "adminemail: " + address + ";\r\nsmtpserver: " + server + ";\r\n");
  }

  int Launch() { return RunZentrel(Request(kGame, 4242, "alice")); }

  static std::string AccessLogWrite(const std::string& decision, const std::string& user) {
    return std::string("Write ") + kAccessLog + " \"" + kStamp + ": C:\\TOOLS\\GAME.EXE_|_" +
           decision + "_|_" + user + "\r\n\"";
  }

  std::string alice;
};

TEST_F(DenialTest, NoTerminatesThenAsksThenLogs) {
  machine.dialogs.Answer(kIdNo);
  EXPECT_EQ(Launch(), 0);

  EXPECT_THAT(HostEntries(),
              ElementsAre("Terminate 4242", DenialBox(kIdNo),
                          std::string("OpenTextFile ") + kAccessLog + " mode=8 create",
                          AccessLogWrite("Games", "alice")));
  // The decision's connection is closed before the process goes.
  const auto& entries = machine.journal.entries();
  const auto terminate = std::find(entries.begin(), entries.end(), "Terminate 4242");
  ASSERT_NE(terminate, entries.begin());
  EXPECT_EQ(*(terminate - 1), "Database Close");
  EXPECT_FALSE(machine.processes.Running(4242));
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 0);
}

TEST_F(DenialTest, YesWithMailSettingsRecordsMailsConfirmsThenLogs) {
  MailSettings("admin@harlwick.example", "mail.harlwick.example");
  machine.dialogs.Answer(kIdYes);
  machine.journal.Clear();

  EXPECT_EQ(Launch(), 0);

  const std::string exe_id =
      Value("SELECT exe_id FROM APP_EXES WHERE exe_path = 'C:\\TOOLS\\GAME.EXE'");
  EXPECT_EQ(Rows("ACCESS_REQUESTS WHERE user_id = " + alice + " AND exe_id = " + exe_id), 1);
  const std::string request_id = Value("SELECT request_id FROM ACCESS_REQUESTS");
  EXPECT_THAT(HostEntries(),
              ElementsAre("Terminate 4242", DenialBox(kIdYes),
                          std::string("OpenTextFile ") + kSettings + " mode=1",
                          std::string("Run ") + kMailer +
                              " \"mail.harlwick.example\" \"admin@harlwick.example\" "
                              "\"HARLWICK-PC\" \"C:\\TOOLS\\GAME.EXE\" \"Games\" \"alice\" \"" +
                              request_id + "\" style=0 wait=false",
                          kMailedBox, std::string("OpenTextFile ") + kAccessLog + " mode=8 create",
                          AccessLogWrite("Games", "alice")));
}

TEST_F(DenialTest, AddressListWithCommasStaysTheAddress) {
  MailSettings("admin@harlwick.example,deputy@harlwick.example", "mail.harlwick.example");
  machine.dialogs.Answer(kIdYes);
  machine.journal.Clear();

  EXPECT_EQ(Launch(), 0);

  const std::string request_id = Value("SELECT request_id FROM ACCESS_REQUESTS");
  EXPECT_THAT(HostEntries(),
              ::testing::Contains(std::string("Run ") + kMailer +
                                  " \"mail.harlwick.example\" "
                                  "\"admin@harlwick.example,deputy@harlwick.example\" "
                                  "\"HARLWICK-PC\" \"C:\\TOOLS\\GAME.EXE\" \"Games\" \"alice\" \"" +
                                  request_id + "\" style=0 wait=false"));
  EXPECT_THAT(HostEntries(), ::testing::Contains(kMailedBox));
}

TEST_F(DenialTest, RecordingRunsItsStatementsExactly) {
  machine.dialogs.Answer(kIdNo);
  Launch();  // registers nothing new: alice and the game are known
  const std::string exe_id =
      Value("SELECT exe_id FROM APP_EXES WHERE exe_path = 'C:\\TOOLS\\GAME.EXE'");
  machine.journal.Clear();

  EXPECT_EQ(RecordAccessRequest(database, kGame, "alice"), "1");
  EXPECT_EQ(RecordAccessRequest(database, kGame, "alice"), "1");

  const std::string pair = "WHERE ACCESS_REQUESTS.exe_id = '" + exe_id +
                           "' AND ACCESS_REQUESTS.user_id = '" + alice + "'";
  const std::vector<std::string> look_ups = {
      "Database Execute SELECT APP_EXES.exe_id FROM APP_EXES WHERE APP_EXES.exe_path = "
      "'C:\\TOOLS\\GAME.EXE'",
      "Database Execute SELECT USERS.user_id FROM USERS WHERE USERS.user_name = 'alice'",
      "Database Execute SELECT * FROM ACCESS_REQUESTS " + pair};
  const std::string id_look_up =
      "Database Execute SELECT ACCESS_REQUESTS.request_id FROM ACCESS_REQUESTS " + pair;
  EXPECT_THAT(
      DatabaseEntries(),
      ElementsAre(::testing::StartsWith("Database Open"), look_ups[0], look_ups[1], look_ups[2],
                  "Database Execute INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES "
                  "('" +
                      alice + "', '" + exe_id + "')",
                  id_look_up, "Database Close",
                  // The second time the row is found and reused.
                  ::testing::StartsWith("Database Open"), look_ups[0], look_ups[1], look_ups[2],
                  id_look_up, "Database Close"));
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 1);
}

TEST_F(DenialTest, RecordingForAnUnknownPairGivesNoId) {
  EXPECT_EQ(RecordAccessRequest(database, "C:\\TOOLS\\UNKNOWN.EXE", "alice"), "");
  EXPECT_EQ(RecordAccessRequest(database, kGame, "nobody"), "");
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 0);
}

TEST_F(DenialTest, AskingAgainReusesTheRowAndItsId) {
  MailSettings("admin@x", "smtp");
  Sql("INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES (99, 99)");  // someone else's
  machine.dialogs.Answer(kIdYes);
  Launch();
  machine.processes.Start(4242);
  machine.dialogs.Answer(kIdYes);
  Launch();

  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 2);
  const auto runs = machine.journal.Starting("Run ");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0], runs[1]);
  EXPECT_THAT(runs[0], ::testing::HasSubstr("\"alice\" \"2\" style=0 wait=false"));
}

// Incomplete mail settings: no mail, the plain confirmation, and still the
// request row, so that the administrator finds the request.
class IncompleteSettingsTest : public DenialTest,
                               public ::testing::WithParamInterface<std::optional<std::string>> {};

TEST_P(IncompleteSettingsTest, RecordsTheRequestWithoutMailing) {
  if (GetParam()) machine.files.AddFile(kSettings, *GetParam());
  machine.dialogs.Answer(kIdYes);
  EXPECT_EQ(Launch(), 0);

  EXPECT_THAT(machine.journal.Starting("Run"), IsEmpty());
  EXPECT_EQ(Rows("ACCESS_REQUESTS WHERE user_id = " + alice), 1);
  const auto& entries = machine.journal.entries();
  const auto box = std::find(entries.begin(), entries.end(), kNotMailedBox);
  ASSERT_NE(box, entries.end());
  EXPECT_EQ(*(box - 1), "Database Close");  // the request's connection, before the box
  EXPECT_EQ(*(box + 2), AccessLogWrite("Games", "alice"));
}

INSTANTIATE_TEST_SUITE_P(Settings, IncompleteSettingsTest,
                         ::testing::Values(std::nullopt,
                                           std::string("adminemail: ;\r\nsmtpserver: ;\r\n"),
                                           std::string("adminemail: admin@x;\r\nsmtpserver: ;\r\n"),
                                           std::string("smtpserver: smtp;\r\n")));

TEST_F(DenialTest, ProcessThatIsGoneDoesNotStopTheFlow) {
  machine.dialogs.Answer(kIdNo);
  EXPECT_EQ(RunZentrel(Request(kGame, 0, "alice")), 0);
  EXPECT_EQ(RunZentrel(Request(kGame, 4294967295u, "alice")), 0);
  EXPECT_THAT(machine.journal.Starting("Terminate"),
              ElementsAre("Terminate 0", "Terminate 4294967295"));
  EXPECT_EQ(machine.journal.Starting("MsgBox 20").size(), 2u);
  EXPECT_EQ(machine.files.Content(kAccessLog),
            std::string(kStamp) + ": C:\\TOOLS\\GAME.EXE_|_Games_|_alice\r\n" + kStamp +
                ": C:\\TOOLS\\GAME.EXE_|_Games_|_alice\r\n");
}

TEST_F(DenialTest, UnassignedExecutableIsLoggedAsUnassigned) {
  EXPECT_EQ(RunZentrel(Request("C:\\TOOLS\\OTHER.EXE", 4242, "alice")), 0);
  EXPECT_EQ(machine.files.Content(kAccessLog),
            std::string(kStamp) + ": C:\\TOOLS\\OTHER.EXE_|_Unassigned_|_alice\r\n");
}

// A failure in the request flow stops the checker there: no confirmation,
// no access-log line; a row recorded before stays.
TEST_F(DenialTest, UnreadableSettingsStopBeforeAnythingIsRecorded) {
  MailSettings("admin@x", "smtp");
  machine.faults.Fail("OpenTextFile", "Zentrel.ini");
  machine.dialogs.Answer(kIdYes);

  EXPECT_EQ(Launch(), 1);
  EXPECT_THAT(HostEntries(),
              ElementsAre("Terminate 4242", DenialBox(kIdYes),
                          std::string("OpenTextFile ") + kSettings + " mode=1 [failed]",
                          "MsgBox 16 \"Zentrel\" \"Error 70: Permission denied\" -> 1"));
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 0);
}

TEST_F(DenialTest, FailingRequestStatementStopsBeforeTheMailer) {
  MailSettings("admin@x", "smtp");
  machine.faults.Fail("Execute", "SELECT ACCESS_REQUESTS.request_id", error_number::kUnspecified,
                      "disk I/O error");
  machine.dialogs.Answer(kIdYes);

  EXPECT_EQ(Launch(), 1);
  EXPECT_THAT(HostEntries(),
              ElementsAre("Terminate 4242", DenialBox(kIdYes),
                          std::string("OpenTextFile ") + kSettings + " mode=1",
                          "MsgBox 16 \"Zentrel\" \"Error -2147467259: disk I/O error\" -> 1"));
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 1);
}

TEST_F(DenialTest, MailerThatCannotStartStopsBeforeTheConfirmation) {
  MailSettings("admin@x", "smtp");
  machine.faults.Fail("Run", "Corvane.exe", error_number::kSystemFileNotFound,
                      "The system cannot find the file specified.");
  machine.dialogs.Answer(kIdYes);

  EXPECT_EQ(Launch(), 1);
  EXPECT_THAT(machine.journal.Starting("MsgBox"),
              ElementsAre(DenialBox(kIdYes),
                          "MsgBox 16 \"Zentrel\" \"Error -2147024894: The system cannot find the "
                          "file specified.\" -> 1"));
  EXPECT_EQ(machine.files.Content(kAccessLog), std::nullopt);
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 1);
}

TEST_F(DenialTest, AccessLogThatCannotBeWrittenStopsAfterTheBox) {
  machine.faults.Fail("OpenTextFile", "Access.log");
  EXPECT_EQ(Launch(), 1);
  EXPECT_THAT(HostEntries(),
              ElementsAre("Terminate 4242", DenialBox(kIdNo),
                          std::string("OpenTextFile ") + kAccessLog + " mode=8 create [failed]",
                          "MsgBox 16 \"Zentrel\" \"Error 70: Permission denied\" -> 1"));
}

// The checker starts for every launch and needs nothing of its own folder:
// no way through it, refused, passed, allowed or denied, asks for it.
TEST_F(DenialTest, NoWayThroughTheCheckerAsksForItsOwnFolder) {
  MailSettings("admin@harlwick.example", "mail.harlwick.example");
  struct Case {
    const char* what;
    std::string request;
    std::optional<int> answer;  // of the denial box
  };
  const Case cases[] = {
      {"not a request", "abc", std::nullopt},
      {"its own mailer", "C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE_|_x_|_4242_|_alice",
       std::nullopt},
      {"not a local file", Request("\\\\server\\share\\tool.exe", 4242, "alice"), std::nullopt},
      {"a user not controlled", Request(kGame, 4242, "bob"), std::nullopt},
      {"denied, answered No", Request(kGame, 4242, "alice"), kIdNo},
      {"denied, answered Yes", Request(kGame, 4242, "alice"), kIdYes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.answer) machine.dialogs.Answer(*c.answer);
    EXPECT_EQ(RunZentrel(c.request), 0);
  }
  // Every way was taken: two denials, the second one mailed.
  EXPECT_EQ(machine.journal.Starting("Terminate 4242").size(), 2u);
  EXPECT_EQ(machine.journal.Starting("Run ").size(), 1u);
  EXPECT_EQ(machine.program_folder_queries, 0);
}

}  // namespace
}  // namespace quillon::testing

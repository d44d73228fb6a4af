// Zentrel.exe as a Windows process: real processes decided, terminated and
// logged, the denial box as a real window, the mailer started, refused
// requests logged, and a database that cannot be reached.
#include <gtest/gtest.h>

#include <future>

#include "programs/program_fixture.h"
#include "support/window_driver.h"

namespace quillon::testing {
namespace {

class CheckerProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.Install("Zentrel.exe", machine.product() + "\\Zentrel.exe");
    machine.Install("argument_recorder.exe", machine.product() + "\\Corvane.exe");
    // The launched program lies in a folder with a long name, and the
    // request names that folder by its short alias.
    machine.Install("launch_target.exe", machine.scratch("Launched Programs\\Game.exe"));
    char short_path[MAX_PATH + 1] = {};
    GetShortPathNameA(machine.scratch("Launched Programs\\Game.exe").c_str(), short_path,
                      sizeof short_path);
    request_path = short_path;
    stored_path = NormalizedPath(request_path);
    machine.UseFreshDatabase();
  }

  std::optional<DWORD> RunChecker(const std::string& argument_text) {
    return machine.Run(Quoted(machine.product() + "\\Zentrel.exe") + " " + argument_text);
  }

  std::string Request(const StartedProcess& target, const std::string& user) const {
    return request_path + "_|_LAUNCH_|_" + std::to_string(target.id()) + "_|_" + user;
  }

  std::string Log(const std::string& name) const {
    return ReadBytes(machine.product() + "\\Logs\\" + name).value_or("");
  }

  std::string DenialText(const std::string& user) const {
    return "User \"" + user + "\" is not permitted to run the file \"" + stored_path +
           "\". If you feel you have received this message in error, please contact your "
           "administrator.\r\n\r\nWould you like to request access to this file?";
  }

  // The dialog-log line of the denial box. The stored path is plain ASCII
  // without quotes, so in the log only its backslashes are escaped.
  std::string DenialLogLine(const std::string& user, const std::string& answer) const {
    std::string path;
    for (char c : stored_path) {
      EXPECT_TRUE(c >= 0x20 && c < 0x7f && c != '"') << stored_path;
      path += c;
      if (c == '\\') path += c;
    }
    return R"({"program":"Zentrel","kind":"MsgBox","title":"Access Denied!","style":20,)"
           R"("text":"User \")" +
           user + R"(\" is not permitted to run the file \")" + path +
           R"(\". If you feel you have received this message in error, please contact your )"
           R"(administrator.\r\n\r\nWould you like to request access to this file?",)"
           R"("answer":")" +
           answer + R"("})";
  }

  ProgramMachine machine;
  std::string request_path;
  std::string stored_path;
};

TEST_F(CheckerProgramTest, AnAllowedLaunchRegistersExecutableAndUserAndLeavesNoOtherTrace) {
  StartedProcess target(Quoted(machine.scratch("Launched Programs\\Game.exe")) + " sleep");
  ASSERT_TRUE(target.started());
  EXPECT_EQ(RunChecker(Request(target, "bob")), std::optional<DWORD>(0));

  EXPECT_EQ(machine.Value("SELECT exe_path FROM APP_EXES", "exe_path"), stored_path);
  EXPECT_EQ(machine.Value("SELECT app_id FROM APP_EXES", "app_id"), "0");
  EXPECT_EQ(machine.Value("SELECT user_status FROM USERS WHERE user_name = 'bob'", "user_status"),
            "DISABLED");
  EXPECT_FALSE(target.HasEnded());
  EXPECT_TRUE(machine.DialogLog().empty());
  EXPECT_FALSE(Exists(machine.product() + "\\Logs\\Access.log"));
  EXPECT_FALSE(Exists(machine.product() + "\\Logs\\Error.log"));

  EXPECT_EQ(RunChecker(Request(target, "BOB")), std::optional<DWORD>(0));
  EXPECT_EQ(machine.Count("APP_EXES"), 1);
  EXPECT_EQ(machine.Count("USERS"), 1);
}

TEST_F(CheckerProgramTest, ADenialEndsTheRealProcessBeforeTheBoxAndLogsAfterTheAnswer) {
  machine.Sql("INSERT INTO USERS (user_name, user_status) VALUES ('alice', 'ENABLED')");
  machine.UseRealWindows();
  StartedProcess target(Quoted(machine.scratch("Launched Programs\\Game.exe")) + " sleep");
  ASSERT_TRUE(target.started());

  // A person who looks at the box, notes whether the program is still
  // there, and answers No.
  auto person = std::async(std::launch::async, [&target] {
    HWND box = WaitForBox("Access Denied!", 60000);
    if (box == nullptr) return std::make_pair(BoxSeen{}, false);
    const bool gone_when_shown = target.HasEnded();
    BoxSeen seen = ReadBox(box);
    PressButton(box, "No");
    return std::make_pair(seen, gone_when_shown);
  });
  EXPECT_EQ(RunChecker(Request(target, "alice")), std::optional<DWORD>(0));
  const auto [seen, gone_when_shown] = person.get();

  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(gone_when_shown);
  EXPECT_EQ(seen.text, DenialText("alice"));
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"Yes", "No"}));
  ASSERT_TRUE(target.WaitForEnd());
  EXPECT_EQ(target.ExitCode(), 0u);
  EXPECT_TRUE(IsTimestampedLine(Log("Access.log"), ": " + stored_path + "_|_Unassigned_|_alice"))
      << Log("Access.log");
  EXPECT_EQ(machine.DialogLog(), (std::vector<std::string>{DenialLogLine("alice", "No")}));
  EXPECT_FALSE(Exists(machine.scratch("started.txt")));  // no mailer
}

TEST_F(CheckerProgramTest, AnAccessRequestIsRecordedAndHandedToTheMailer) {
  WriteBytes(machine.product() + "\\Zentrel.ini",
             "adminemail: admin@example.com;\r\nsmtpserver: mail.example.com;\r\n");
  machine.Sql("INSERT INTO APPS (app_name) VALUES ('Games')");
  machine.Sql("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('" + stored_path + "', 1)");
  machine.Sql("INSERT INTO USERS (user_name, user_status) VALUES ('alice', 'ENABLED')");
  machine.ScriptAnswers("Yes\nOK\n");
  StartedProcess target(Quoted(machine.scratch("Launched Programs\\Game.exe")) + " sleep");

  EXPECT_EQ(RunChecker(Request(target, "alice")), std::optional<DWORD>(0));
  ASSERT_TRUE(target.WaitForEnd());
  EXPECT_EQ(machine.Value("SELECT request_id FROM ACCESS_REQUESTS WHERE user_id = '1' AND "
                          "exe_id = '1'",
                          "request_id"),
            "1");

  // The mailer is not waited for: its record comes when it comes.
  const auto started = WaitForLines(machine.scratch("started.txt"), 1);
  ASSERT_TRUE(started.has_value());
  const std::string mailer = machine.product() + "\\Corvane.exe";
  const std::string computer = VariableOf("COMPUTERNAME").value_or("");
  EXPECT_EQ(Lines(*started),
            (std::vector<std::string>{mailer + "\t" + Quoted(mailer) +
                                      " \"mail.example.com\" "
                                      "\"admin@example.com\" " +
                                      Quoted(computer) + " " + Quoted(stored_path) +
                                      " \"Games\" \"alice\" \"1\""}));
  EXPECT_EQ(machine.DialogLog(),
            (std::vector<std::string>{
                DenialLogLine("alice", "Yes"),
                R"({"program":"Zentrel","kind":"MsgBox","title":"Access Request Sent",)"
                R"("style":64,"text":"An access request has been sent via e-mail to your )"
                R"(administrator.","answer":"OK"})"}));
  EXPECT_TRUE(IsTimestampedLine(Log("Access.log"), ": " + stored_path + "_|_Games_|_alice"))
      << Log("Access.log");
}

TEST_F(CheckerProgramTest, RefusedRequestsAreLoggedAndDecideNothing) {
  EXPECT_EQ(RunChecker("abc"), std::optional<DWORD>(0));
  EXPECT_EQ(RunChecker("\\\\server\\share\\tool.exe_|_LAUNCH_|_1_|_bob"), std::optional<DWORD>(0));
  const auto lines = Lines(Log("Error.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(
      IsTimestampedLine(lines[0] + "\r\n", ": ERROR! Invalid command line arguments \"abc\""))
      << lines[0];
  EXPECT_TRUE(IsTimestampedLine(
      lines[1] + "\r\n", ": ERROR! File \"\\\\server\\share\\tool.exe\" is not a local file"))
      << lines[1];
  EXPECT_EQ(machine.Count("APP_EXES"), 0);
  EXPECT_TRUE(machine.DialogLog().empty());
}

TEST_F(CheckerProgramTest, ADatabaseThatCannotBeReachedStopsTheCheckerAndTheProcessRuns) {
  machine.PointDatabaseAt(SqliteConnectionString(UniqueName("absent"), false));
  StartedProcess target(Quoted(machine.scratch("Launched Programs\\Game.exe")) + " sleep");
  EXPECT_EQ(RunChecker(Request(target, "alice")), std::optional<DWORD>(1));
  EXPECT_FALSE(target.HasEnded());
  const auto log = machine.DialogLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("{\"program\":\"Zentrel\",\"kind\":\"MsgBox\",\"title\":\"Zentrel\","
                         "\"style\":16,\"text\":\"Error -2147467259: ",
                         0),
            0u)
      << log[0];
  EXPECT_FALSE(Exists(machine.product() + "\\Logs\\Access.log"));
}

}  // namespace
}  // namespace quillon::testing

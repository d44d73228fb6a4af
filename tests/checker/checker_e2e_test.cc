// The built Zentrel.exe on a scratch portable machine, started the way the
// hook library starts it: refusals, allowed and denied launches of real
// processes, the denial box answered through the answer queue, the access
// request with the mailer's command line, and many checkers at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "shared/database.h"
#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kAccessLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log";
constexpr char kErrorLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Error.log";
constexpr char kSettings[] = "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini";
constexpr char kCorvane[] = "C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe";
constexpr int kKilled = 128 + SIGKILL;
constexpr int kTerminated = 128 + SIGTERM;

// A log line: the 17-character timestamp, ": ", then the rest as given.
MATCHER_P(IsLogLine, rest, "") {
  static const std::regex kStamp(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d: )");
  return arg.size() >= 19 && std::regex_match(arg.substr(0, 19), kStamp) && arg.substr(19) == rest;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class CheckerEndToEndTest : public ::testing::Test {
 protected:
  CheckerEndToEndTest() {
    machine.PutCheckerInPlace();
    machine.CreateDatabase();
    MakePosixFolders(machine.Posix("C:\\Tools"));
    machine.WriteFile("C:\\Tools\\Game.exe", "");
  }

  ~CheckerEndToEndTest() override {
    for (pid_t pid : launched_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  // A launched program: a real process that runs until it is ended.
  pid_t Launch() {
    const pid_t pid = machine.StartProgram("/bin/sleep", {"300"});
    launched_.push_back(pid);
    return pid;
  }

  // How a launched process ended, once it has: killed by the checker, or
  // terminated here because it was still running.
  int EndOf(pid_t pid) {
    kill(pid, SIGTERM);
    const int status = WaitForChild(pid);
    launched_.erase(std::find(launched_.begin(), launched_.end(), pid));
    return status;
  }

  static std::string Request(const std::string& exe_path, pid_t pid, const std::string& user) {
    return exe_path + "_|_LAUNCH_|_" + std::to_string(pid) + "_|_" + user;
  }

  // Starts the installed Zentrel.exe with the argument; RunZentrel waits for it.
  pid_t StartZentrel(const std::string& argument_text) const {
    return machine.StartProgram(machine.Posix(kCheckerExe), {argument_text});
  }
  int RunZentrel(const std::string& argument_text) const {
    return WaitForChild(StartZentrel(argument_text));
  }

  void Sql(const std::string& sql) { RunSql(machine.database(), sql); }
  long long Rows(const std::string& table) { return CountRows(machine.database(), table); }
  std::string Value(const std::string& sql) { return QueryValue(machine.database(), sql); }

  void EnableAlice() {
    Sql("INSERT INTO USERS (user_name, user_status) VALUES ('alice', 'ENABLED')");
  }
  void GamesApplication(const std::string& name = "Games") {
    Sql("INSERT INTO APPS (app_name) VALUES (" + QuoteText(name) + ")");
    Sql("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\TOOLS\\GAME.EXE', 1)");
  }

  // A stand-in mailer that writes its arguments, one a line, to a file.
  std::string RecordingMailer() {
    const std::string record = machine.root() + "/mailer-arguments.txt";
    machine.WriteFile(kCorvane,
                      "#!/bin/sh\n"
                      "for argument in \"$@\"; do printf '%s\\n' \"$argument\"; done > '" +
                          record +
                          ".part'\n"
                          "/bin/mv '" +
                          record + ".part' '" + record + "'\n",
                      true);
    return record;
  }

  // The checker does not wait for the mailer: its record appears when the
  // mailer has run.
  static std::vector<std::string> AwaitRecord(const std::string& record) {
    for (int attempt = 0; attempt < 1200 && !std::filesystem::exists(record); ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return TextLines(record);
  }

  std::vector<std::string> LogLines(const std::string& log) {
    return TextLines(machine.Posix(log));
  }

  TestMachine machine{MachineTree::kMinimal};

 private:
  std::vector<pid_t> launched_;
};

TEST_F(CheckerEndToEndTest, RefusedRequestsAreLoggedAndTheProcessRunsOn) {
  const pid_t launched = Launch();
  EXPECT_EQ(RunZentrel("abc"), 0);
  EXPECT_EQ(WaitForChild(machine.StartProgram(
                machine.Posix("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"), {})),
            0);
  EXPECT_EQ(RunZentrel(Request("\\\\SERVER\\SHARE\\TOOL.EXE", launched, "alice")), 0);

  EXPECT_THAT(
      LogLines(kErrorLog),
      ElementsAre(IsLogLine("ERROR! Invalid command line arguments \"abc\""),
                  IsLogLine("ERROR! Invalid command line arguments \"\""),
                  IsLogLine("ERROR! File \"\\\\SERVER\\SHARE\\TOOL.EXE\" is not a local file")));
  EXPECT_EQ(CountOf(machine.ReadFile(kErrorLog), "\r\n"), 3u);
  EXPECT_THAT(machine.Dialogs(), IsEmpty());
  EXPECT_EQ(Rows("APP_EXES"), 0);
  EXPECT_EQ(EndOf(launched), kTerminated);
}

TEST_F(CheckerEndToEndTest, RequestThatCannotBeTakenApartShowsTheErrorReport) {
  const pid_t launched = Launch();
  EXPECT_EQ(RunZentrel("C:\\TOOLS\\GAME.EXE_|_LAUNCH_|_12x_|_alice"), 1);
  EXPECT_EQ(RunZentrel("C:\\TOOLS\\GAME.EXE_|_LAUNCH_|_" + std::to_string(launched)), 1);

  const auto boxes = machine.Dialogs();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].program, "Zentrel");
  EXPECT_EQ(boxes[0].title, "Zentrel");
  EXPECT_EQ(boxes[0].style, 16);
  EXPECT_EQ(boxes[0].text, "Error 13: Type mismatch");
  EXPECT_EQ(boxes[1].text, "Error 9: Subscript out of range");
  EXPECT_EQ(EndOf(launched), kTerminated);
}

TEST_F(CheckerEndToEndTest, AllowedLaunchLeavesNoTraceButTheRegistrationRows) {
  machine.WriteFile("C:\\Program Files\\Tools\\App.exe", "");
  const pid_t launched = Launch();
  EXPECT_EQ(RunZentrel(Request("C:\\PROGRA~1\\TOOLS\\APP.EXE", launched, "bob")), 0);
  EXPECT_EQ(RunZentrel(Request("C:\\GONE\\X.EXE", launched, "bob")), 0);

  // Stored long names, and an empty element for a folder that is not there.
  EXPECT_THAT(
      QueryRows(machine.database(), "SELECT exe_path FROM APP_EXES ORDER BY exe_id"),
      ElementsAre(ElementsAre("C:\\PROGRAM FILES\\TOOLS\\APP.EXE"), ElementsAre("C:\\\\X.EXE")));
  EXPECT_THAT(QueryRows(machine.database(), "SELECT user_name, user_status FROM USERS"),
              ElementsAre(ElementsAre("bob", "DISABLED")));
  EXPECT_THAT(machine.Dialogs(), IsEmpty());
  EXPECT_THAT(machine.Runs(), IsEmpty());
  EXPECT_TRUE(
      std::filesystem::is_empty(machine.Posix("C:\\Program Files\\Harlwick\\Zentrel\\Logs")));
  EXPECT_EQ(EndOf(launched), kTerminated);
}

TEST_F(CheckerEndToEndTest, OwnMailerPassesOnlyInUpperCase) {
  EnableAlice();
  const pid_t launched = Launch();
  EXPECT_EQ(
      RunZentrel(Request("C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE", launched, "alice")),
      0);
  EXPECT_EQ(Rows("APP_EXES"), 0);
  EXPECT_THAT(machine.Dialogs(), IsEmpty());
  EXPECT_EQ(EndOf(launched), kTerminated);
}

TEST_F(CheckerEndToEndTest, DeniedProcessIsKilledBeforeTheBoxAndTheDenialIsLogged) {
  EnableAlice();
  GamesApplication();
  const pid_t launched = Launch();
  machine.Answer("No");

  EXPECT_EQ(RunZentrel(Request("C:\\TOOLS\\GAME.EXE", launched, "alice")), 0);

  EXPECT_EQ(EndOf(launched), kKilled);
  const auto boxes = machine.Dialogs();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].program, "Zentrel");
  EXPECT_EQ(boxes[0].kind, "MsgBox");
  EXPECT_EQ(boxes[0].title, "Access Denied!");
  EXPECT_EQ(boxes[0].style, 20);
  EXPECT_EQ(boxes[0].text,
            "User \"alice\" is not permitted to run the file \"C:\\TOOLS\\GAME.EXE\". If you feel "
            "you have received this message in error, please contact your administrator.\r\n\r\n"
            "Would you like to request access to this file?");
  EXPECT_EQ(boxes[0].answer, "No");
  EXPECT_THAT(LogLines(kAccessLog), ElementsAre(IsLogLine("C:\\TOOLS\\GAME.EXE_|_Games_|_alice")));
  EXPECT_EQ(CountOf(machine.ReadFile(kAccessLog), "\r\n"), 1u);
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 0);
  EXPECT_THAT(machine.Runs(), IsEmpty());
}

TEST_F(CheckerEndToEndTest, YesRecordsTheRequestAndHandsItToTheMailer) {
  EnableAlice();
  GamesApplication("Games \"Deluxe\" \\");
  machine.WriteFile(
      kSettings, "adminemail: admin@harlwick.example;\r\nsmtpserver: mail.harlwick.example;\r\n");
  const std::string record = RecordingMailer();
  const pid_t launched = Launch();
  machine.Answer("Yes");
  machine.Answer("OK");

  EXPECT_EQ(RunZentrel(Request("C:\\TOOLS\\GAME.EXE", launched, "alice")), 0);

  EXPECT_EQ(EndOf(launched), kKilled);
  const std::string request_id = Value("SELECT request_id FROM ACCESS_REQUESTS");
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 1);
  const auto runs = machine.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].program, "Zentrel");
  EXPECT_EQ(runs[0].command,
            "\"C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe\" \"mail.harlwick.example\" "
            "\"admin@harlwick.example\" \"HARLWICK-PC\" \"C:\\TOOLS\\GAME.EXE\" "
            "\"Games \\\"Deluxe\\\" \\\\\" \"alice\" \"" +
                request_id + "\"");
  EXPECT_EQ(runs[0].style, 0);
  EXPECT_FALSE(runs[0].wait);
  EXPECT_THAT(AwaitRecord(record),
              ElementsAre("mail.harlwick.example", "admin@harlwick.example", "HARLWICK-PC",
                          "C:\\TOOLS\\GAME.EXE", "Games \"Deluxe\" \\", "alice", request_id));

  const auto boxes = machine.Dialogs();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].answer, "Yes");
  EXPECT_EQ(boxes[1].title, "Access Request Sent");
  EXPECT_EQ(boxes[1].style, 64);
  EXPECT_EQ(boxes[1].text, "An access request has been sent via e-mail to your administrator.");
  EXPECT_THAT(LogLines(kAccessLog),
              ElementsAre(IsLogLine("C:\\TOOLS\\GAME.EXE_|_Games \"Deluxe\" \\_|_alice")));

  // Asking again reuses the request and its id.
  const pid_t again = Launch();
  machine.Answer("Yes");
  EXPECT_EQ(RunZentrel(Request("C:\\TOOLS\\GAME.EXE", again, "alice")), 0);
  EXPECT_EQ(EndOf(again), kKilled);
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 1);
  ASSERT_EQ(machine.Runs().size(), 2u);
  EXPECT_EQ(machine.Runs()[1].command, runs[0].command);
}

TEST_F(CheckerEndToEndTest, WithoutMailSettingsTheRequestIsRecordedButNotMailed) {
  EnableAlice();
  GamesApplication();
  RecordingMailer();
  const pid_t launched = Launch();
  machine.Answer("Yes");

  EXPECT_EQ(RunZentrel(Request("C:\\TOOLS\\GAME.EXE", launched, "alice")), 0);

  EXPECT_EQ(EndOf(launched), kKilled);
  EXPECT_EQ(Rows("ACCESS_REQUESTS"), 1);
  EXPECT_THAT(machine.Runs(), IsEmpty());
  const auto boxes = machine.Dialogs();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].title, "Access Request Sent");
  EXPECT_EQ(boxes[1].style, 64);
  EXPECT_EQ(boxes[1].text, "An access request has been sent to your administrator.");
  EXPECT_EQ(boxes[1].answer, "OK");
  EXPECT_EQ(LogLines(kAccessLog).size(), 1u);
}

TEST_F(CheckerEndToEndTest, MissingDatabaseStopsBeforeTheProcessIsTouched) {
  std::filesystem::remove(machine.database());
  const pid_t launched = Launch();

  EXPECT_EQ(RunZentrel(Request("C:\\TOOLS\\GAME.EXE", launched, "alice")), 1);

  const auto boxes = machine.Dialogs();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].style, 16);
  EXPECT_EQ(boxes[0].title, "Zentrel");
  EXPECT_THAT(boxes[0].text, ::testing::StartsWith("Error -2147467259: "));
  EXPECT_FALSE(std::filesystem::exists(machine.Posix(kAccessLog)));
  EXPECT_EQ(EndOf(launched), kTerminated);
}

TEST_F(CheckerEndToEndTest, ManyCheckersAtOnceLoseNothing) {
  EnableAlice();
  constexpr int kCheckers = 32;
  std::vector<pid_t> checkers;
  std::set<std::string> denied;
  for (int i = 0; i < kCheckers; ++i) {
    const std::string exe_path = "C:\\TOOLS\\NEW" + std::to_string(i) + ".EXE";
    // Every other launch is alice's, who is controlled; the others are new
    // users' launches, each user's first.
    const std::string user = i % 2 == 0 ? "alice" : "user" + std::to_string(i);
    if (user == "alice") denied.insert(exe_path);
    checkers.push_back(StartZentrel(Request(exe_path, 0, user)));
  }
  std::vector<int> statuses;
  for (pid_t pid : checkers) statuses.push_back(WaitForChild(pid));

  EXPECT_THAT(statuses, ::testing::Each(0));
  EXPECT_EQ(Rows("APP_EXES"), kCheckers);
  EXPECT_EQ(Rows("(SELECT DISTINCT exe_path FROM APP_EXES)"), kCheckers);
  EXPECT_EQ(Rows("USERS"), 1 + kCheckers / 2);
  EXPECT_EQ(Rows("USERS WHERE user_status = 'DISABLED'"), kCheckers / 2);
  const auto boxes = machine.Dialogs();
  EXPECT_EQ(boxes.size(), denied.size());
  for (const auto& box : boxes) {
    EXPECT_EQ(box.title, "Access Denied!") << box.text;
    EXPECT_EQ(box.style, 20);
  }
  std::set<std::string> logged;
  for (const auto& line : LogLines(kAccessLog)) {
    const std::string exe_path = line.substr(19, line.find("_|_") - 19);
    EXPECT_THAT(line, IsLogLine(exe_path + "_|_Unassigned_|_alice"));
    logged.insert(exe_path);
  }
  EXPECT_EQ(LogLines(kAccessLog).size(), denied.size());
  EXPECT_EQ(logged, denied);
}

}  // namespace
}  // namespace quillon::testing

// The built Zentrel.exe on a scratch portable machine given names that try
// to break out of where they stand: quotes, backslashes before quotes,
// environment references, shell substitutions, statement separators, line
// breaks, 4 KB names and Latin-1 letters, as user names and as executable
// paths. Each goes through registration (a user not yet controlled) and
// then through a denial answered Yes: stored intact, handed intact to the
// mailer as one argument, and never a change to another row or another
// argument.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "shared/database.h"
#include "shared/helpers/text.h"
#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;

constexpr char kSettings[] = "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini";
constexpr char kCorvane[] = "C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe";
constexpr int kKilled = 128 + SIGKILL;
constexpr int kTerminated = 128 + SIGTERM;

struct HostileName {
  const char* what;
  std::string user;
  // In its stored form (upper case, folders as the disk spells them), so
  // that it is stored exactly as given.
  std::string exe_path;
};

const std::string k4K(4096, 'N');

std::vector<HostileName> HostileNames() {
  return {
      {"SingleQuotes", "o'brien''", "C:\\TOOLS\\O'NEIL''.EXE"},
      {"DoubleQuotes", "\"al\"ice\"", "C:\\TOOLS\\\"GAME\".EXE"},
      {"BackslashesBeforeQuotes", "a\\\"b\\\\\"c\\", "C:\\TOOLS\\B\\\\\\\"X\".EXE"},
      {"EnvironmentReferences", "%USERNAME%%PATH%", "C:\\TOOLS\\%SYSTEMROOT%.EXE"},
      {"ShellSubstitutions", "$(touch /tmp/quillon-pwned)`id`", "C:\\TOOLS\\$(ID)`ID`.EXE"},
      {"StatementSeparators", "x'; DELETE FROM USERS; --",
       "C:\\TOOLS\\'); DROP TABLE APPS; --.EXE"},
      {"LineBreaks", "al\r\nice\rbob\n", "C:\\TOOLS\\A\r\nB\r.EXE"},
      {"FourKilobytes", k4K, "C:\\TOOLS\\" + k4K + ".EXE"},
      {"Latin1Letters", "Jos\xe9 M\xfcller \xdf\x80", "C:\\TOOLS\\CAF\xc9 \xc0 LA CARTE.EXE"},
  };
}

class CheckerHostileNameTest : public ::testing::TestWithParam<HostileName> {
 protected:
  CheckerHostileNameTest() {
    machine.PutCheckerInPlace();
    machine.CreateDatabase();
    MakePosixFolders(machine.Posix("C:\\Tools\\B"));
    // Rows that no statement of the checker may touch.
    Sql("INSERT INTO APPS (app_name) VALUES ('Games');"
        "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\TOOLS\\GAME.EXE', 1);"
        "INSERT INTO USERS (user_name, user_status) VALUES ('bystander', 'ENABLED');"
        "INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (1, 1)");
    machine.WriteFile(kSettings,
                      "adminemail: admin@harlwick.example;\r\nsmtpserver: mail.example;\r\n");
    // A stand-in mailer that writes each argument it got, ended by a NUL.
    machine.WriteFile(kCorvane,
                      "#!/bin/sh\n"
                      "for argument in \"$@\"; do printf '%s\\000' \"$argument\"; done > '" +
                          Record() + ".part'\n/bin/mv '" + Record() + ".part' '" + Record() + "'\n",
                      true);
  }

  std::string Record() const { return machine.root() + "/mailer-arguments"; }

  // The mailer's arguments once it has run (the checker does not wait).
  std::vector<std::string> AwaitMailerArguments() const {
    for (int attempt = 0; attempt < 1200 && !std::filesystem::exists(Record()); ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::vector<std::string> arguments = SplitAll(ReadPosixFile(Record()), std::string(1, '\0'));
    if (!arguments.empty() && arguments.back().empty()) arguments.pop_back();
    return arguments;
  }

  // Runs the checker for a launch of a real process; how that process ended.
  int Launch(const std::string& exe_path, const std::string& user, int& checker_status) {
    const pid_t launched = machine.StartProgram("/bin/sleep", {"300"});
    checker_status = WaitForChild(machine.StartProgram(
        machine.Posix(kCheckerExe),
        {exe_path + "_|_LAUNCH_|_" + std::to_string(launched) + "_|_" + user}));
    kill(launched, SIGTERM);
    return WaitForChild(launched);
  }

  void Sql(const std::string& sql) const { RunSql(machine.database(), sql); }
  std::vector<TestRow> Rows(const std::string& sql) const {
    return QueryRows(machine.database(), sql);
  }

  TestMachine machine{MachineTree::kMinimal};
};

INSTANTIATE_TEST_SUITE_P(Names, CheckerHostileNameTest, ::testing::ValuesIn(HostileNames()),
                         [](const auto& test_info) { return std::string(test_info.param.what); });

TEST_P(CheckerHostileNameTest, IsStoredAndHandedToTheMailerIntact) {
  const HostileName& name = GetParam();
  // The database holds text as UTF-8.
  const std::string stored_user = Cp1252ToUtf8(name.user);
  const std::string stored_path = Cp1252ToUtf8(name.exe_path);

  // A user met for the first time is registered, not controlled: the launch
  // runs on, and the executable and the user are stored as they came.
  int status = -1;
  EXPECT_EQ(Launch(name.exe_path, name.user, status), kTerminated);
  EXPECT_EQ(status, 0);
  EXPECT_THAT(Rows("SELECT exe_path, app_id FROM APP_EXES ORDER BY exe_id"),
              ElementsAre(TestRow{"C:\\TOOLS\\GAME.EXE", "1"}, TestRow{stored_path, "0"}));
  EXPECT_THAT(Rows("SELECT user_name, user_status FROM USERS ORDER BY user_id"),
              ElementsAre(TestRow{"bystander", "ENABLED"}, TestRow{stored_user, "DISABLED"}));

  // Controlled, the user is denied the executable (in no application), asks
  // for access, and the request reaches the mailer.
  Sql("UPDATE USERS SET user_status = 'ENABLED'");
  machine.Answer("Yes");
  machine.Answer("OK");
  EXPECT_EQ(Launch(name.exe_path, name.user, status), kKilled);
  EXPECT_EQ(status, 0);
  const std::vector<TestRow> requests = Rows(
      "SELECT ACCESS_REQUESTS.request_id FROM ACCESS_REQUESTS, APP_EXES, USERS "
      "WHERE ACCESS_REQUESTS.exe_id = APP_EXES.exe_id AND ACCESS_REQUESTS.user_id = "
      "USERS.user_id AND APP_EXES.exe_path = " +
      QuoteText(stored_path) + " AND USERS.user_name = " + QuoteText(stored_user));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(CountRows(machine.database(), "ACCESS_REQUESTS"), 1);
  // Programs take their arguments in the system code page.
  EXPECT_THAT(AwaitMailerArguments(),
              ElementsAre("mail.example", "admin@harlwick.example", "HARLWICK-PC", name.exe_path,
                          "Unassigned", name.user, requests[0][0].value_or("")));

  // Nothing else changed.
  EXPECT_THAT(Rows("SELECT app_id, app_name FROM APPS"), ElementsAre(TestRow{"1", "Games"}));
  EXPECT_EQ(CountRows(machine.database(), "APP_EXES"), 2);
  EXPECT_EQ(CountRows(machine.database(), "USERS"), 2);
  EXPECT_THAT(Rows("SELECT user_id, app_id FROM ALLOWED_APPS"), ElementsAre(TestRow{"1", "1"}));
  EXPECT_FALSE(std::filesystem::exists("/tmp/quillon-pwned"));
}

}  // namespace
}  // namespace quillon::testing

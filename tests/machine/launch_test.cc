// The end-to-end launch: a machine with the checker and a database put in
// place by hand, the hook library in system32 and AppInit_DLLs naming it (or
// not). quillon-machine start launches a program as a user the way the
// platform does, and the checker decides.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.CreateWithTool({"--user", "Bob", "--user", "Alice"});
    machine.PutCheckerInPlace();
    machine.PutHookLibraryInPlace();
    machine.CreateDatabase();
    RunSql(machine.database(),
           "INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'ENABLED')");
  }

  void HookingOn() { machine.SetRegistryValue(kAppInitDllsValue, "Zentrel.dll"); }
  std::vector<std::string> AccessLog() const {
    return TextLines(machine.Posix(std::string(kProductFolder) + "\\Logs\\Access.log"));
  }

  TestMachine machine;
};

TEST_F(LaunchTest, EnabledUserWithoutAGrantIsTerminatedAndTold) {
  HookingOn();
  machine.Answer("No");
  const ToolResult result = machine.Start("Bob", "notepad.exe");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(LastLine(result), "terminated");
  EXPECT_THAT(result.out, HasSubstr("was killed"));

  const std::vector<std::string> boxes = machine.DialogLines();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_THAT(boxes[0], StartsWith("{\"program\":\"Zentrel\",\"kind\":\"MsgBox\","
                                   "\"title\":\"Access Denied!\",\"style\":20,"));
  EXPECT_THAT(boxes[0], HasSubstr("User \\\"Bob\\\" is not permitted to run the file "
                                  "\\\"C:\\\\WINDOWS\\\\NOTEPAD.EXE\\\""));
  EXPECT_THAT(boxes[0], EndsWith("\"answer\":\"No\"}"));
  EXPECT_THAT(AccessLog(), ElementsAre(EndsWith(": C:\\WINDOWS\\NOTEPAD.EXE_|_Unassigned_|_Bob")));

  // The hook library started the checker from the launched process, hidden
  // and without waiting, with the launch's one argument.
  const std::vector<std::string> runs = machine.RunLines();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_THAT(runs[0], StartsWith("{\"program\":\"notepad\",\"command\":\"\\\"C:\\\\Program "
                                  "Files\\\\Harlwick\\\\Zentrel\\\\Zentrel.exe\\\" "
                                  "C:\\\\WINDOWS\\\\NOTEPAD.EXE_|_LAUNCH_|_"));
  EXPECT_THAT(runs[0], EndsWith("_|_Bob\",\"style\":0,\"wait\":false}"));
}

TEST_F(LaunchTest, WithAppInitDllsEmptyTheSameLaunchRunsUntouched) {
  machine.Answer("No");
  const ToolResult off = machine.Start("Bob", "notepad.exe");
  ASSERT_EQ(off.status, 0) << off.err;
  EXPECT_EQ(LastLine(off), "running");
  EXPECT_THAT(machine.DialogLines(), IsEmpty());
  EXPECT_THAT(machine.RunLines(), IsEmpty());
  EXPECT_THAT(AccessLog(), IsEmpty());
  EXPECT_EQ(CountRows(machine.database(), "APP_EXES"), 0);

  // Only the switch differs between this launch and the next.
  HookingOn();
  const ToolResult on = machine.Start("Bob", "notepad.exe");
  EXPECT_EQ(LastLine(on), "terminated");
  EXPECT_THAT(AccessLog(), ElementsAre(HasSubstr("NOTEPAD.EXE_|_Unassigned_|_Bob")));
}

TEST_F(LaunchTest, NewAndGrantedUsersRunOnAndAreRegistered) {
  HookingOn();
  RunSql(machine.database(),
         "INSERT INTO APPS (app_name) VALUES ('Calculator');"
         "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\WINDOWS\\SYSTEM32\\CALC.EXE', 1);"
         "INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (1, 1);");

  EXPECT_EQ(
      LastLine(machine.Start("Alice", "\"C:\\Program Files\\Windows Media Player\\wmplayer.exe\"")),
      "running");
  EXPECT_EQ(LastLine(machine.Start("Bob", "calc.exe")), "running");

  EXPECT_THAT(machine.DialogLines(), IsEmpty());
  EXPECT_THAT(AccessLog(), IsEmpty());
  EXPECT_EQ(
      QueryValue(machine.database(), "SELECT user_status FROM USERS WHERE user_name = 'Alice'"),
      "DISABLED");
  EXPECT_EQ(CountRows(machine.database(),
                      "APP_EXES WHERE exe_path = 'C:\\PROGRAM FILES\\WINDOWS MEDIA "
                      "PLAYER\\WMPLAYER.EXE'"),
            1);
}

TEST_F(LaunchTest, TheCheckersOwnLaunchIsNeverReported) {
  HookingOn();
  const ToolResult result =
      machine.Start("Bob", "\"C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe\" abc");
  ASSERT_EQ(result.status, 0) << result.err;
  // No second checker was started for it (the hook host is done when start
  // returns); the one launched refuses its argument on its own.
  EXPECT_THAT(machine.RunLines(), IsEmpty());
  ASSERT_TRUE(machine.WaitForLaunchedPrograms());
  EXPECT_THAT(TextLines(machine.Posix(std::string(kProductFolder) + "\\Logs\\Error.log")),
              ElementsAre(HasSubstr("Invalid command line arguments \"abc\"")));
}

TEST_F(LaunchTest, MissingOrUnloadableLibrariesLeaveTheLaunchAlone) {
  machine.WriteFile("C:\\WINDOWS\\system32\\Broken.dll", "not a library");
  machine.SetRegistryValue(kAppInitDllsValue, "Missing.dll,Broken.dll");
  const ToolResult result = machine.Start("Bob", "notepad.exe");
  EXPECT_EQ(LastLine(result), "running");
  EXPECT_THAT(result.err, HasSubstr("C:\\WINDOWS\\system32\\Missing.dll not found"));
  EXPECT_THAT(result.err, HasSubstr("Broken.dll cannot be loaded"));
  EXPECT_THAT(machine.RunLines(), IsEmpty());
}

TEST_F(LaunchTest, StartNeedsAUserAndAProgramOfTheMachine) {
  EXPECT_EQ(machine.Tool({"start", machine.root(), "--", "notepad.exe"}).status, 2);
  EXPECT_EQ(machine.Start("Bob", "nosuch.exe").status, 127);
  // A wait that is no number, or one past a day, is refused before anything
  // starts (a number past the clock's range would overflow the deadline).
  for (const char* wait_ms : {"soon", "-1", "86400001", "99999999999999999999"}) {
    const ToolResult result = machine.Tool(
        {"start", machine.root(), "--user", "Bob", "--wait-ms", wait_ms, "--", "notepad.exe"});
    EXPECT_EQ(result.status, 2) << wait_ms;
    EXPECT_THAT(result.err, HasSubstr("--wait-ms takes a number of milliseconds up to 86400000"))
        << wait_ms;
    EXPECT_THAT(result.out, IsEmpty()) << wait_ms;
  }
}

// The machine's boundary: a folder name holding the request's separator
// cannot exist on Windows, so no launch can put a pid and a user of its
// choosing into the checker's request.
TEST_F(LaunchTest, AFolderNamedLikeARequestCannotBeStarted) {
  HookingOn();
  RunSql(machine.database(),
         "INSERT INTO USERS (user_name, user_status) VALUES ('Alice', 'ENABLED')");
  const pid_t victim = StartInChild([] {
    ::sleep(120);
    return 0;
  });
  const std::string folder = "x_|_y_|_" + std::to_string(victim) + "_|_Alice_|_";
  WritePosixFile(machine.InRoot("drive_c/Documents and Settings/Bob/" + folder + "/evil.exe"),
                 ReadPosixFile(BinPath("stand-ins/idle.exe")), 0755);

  const ToolResult result =
      machine.Start("Bob", "\"C:\\Documents and Settings\\Bob\\" + folder + "\\evil.exe\"");
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.err,
              HasSubstr("The filename, directory name, or volume label syntax is incorrect."));
  EXPECT_THAT(machine.RunLines(), IsEmpty());
  EXPECT_THAT(AccessLog(), IsEmpty());
  int status = 0;
  const pid_t ended = ::waitpid(victim, &status, WNOHANG);
  EXPECT_EQ(ended, 0) << "the victim was ended";
  if (ended == 0) {
    ::kill(victim, SIGKILL);
    WaitForChild(victim);
  }
}

// The checker's request: the launched executable's path reaches the checker
// byte for byte. A copy of a program whose path differs from the mailer's or
// a base executable's only by a doubled blank is decided under its own path.
TEST_F(LaunchTest, TheRequestReachesTheCheckerByteForByte) {
  HookingOn();
  const std::string program = ReadPosixFile(BinPath("stand-ins/idle.exe"));
  const std::vector<std::pair<std::string, std::string>> copies = {
      {"C:\\Program  Files\\Harlwick\\Zentrel\\Corvane.exe",
       "C:\\PROGRAM  FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE"},
      {"C:\\Program  Files\\Internet Explorer\\iexplore.exe",
       "C:\\PROGRAM  FILES\\INTERNET EXPLORER\\IEXPLORE.EXE"},
      {"C:\\Tools\\a  b\\c   d.exe", "C:\\TOOLS\\A  B\\C   D.EXE"},
  };
  for (const auto& [path, upper] : copies) {
    SCOPED_TRACE(path);
    machine.WriteFile(path, program, true);
    EXPECT_EQ(LastLine(machine.Start("Bob", "\"" + path + "\"")), "terminated");
    const std::vector<std::string> log = AccessLog();
    ASSERT_FALSE(log.empty());
    EXPECT_THAT(log.back(), EndsWith(": " + upper + "_|_Unassigned_|_Bob"));
  }
}

}  // namespace
}  // namespace quillon::testing

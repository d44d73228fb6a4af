// The end-to-end launch: a machine with the checker and a database put in
// place by hand, the hook library in system32 and AppInit_DLLs naming it (or
// not). quillon-machine start launches a program as a user the way the
// platform does, and the checker decides.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
  EXPECT_EQ(machine
                .Tool({"start", machine.root(), "--user", "Bob", "--wait-ms", "soon", "--",
                       "notepad.exe"})
                .status,
            2);
}

}  // namespace
}  // namespace quillon::testing

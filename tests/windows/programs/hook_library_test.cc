// Zentrel.dll loaded into a real process (Wine does not load AppInit_DLLs, so
// the process loads it itself): the checker it starts, the argument it
// passes, and a denied launch ended by the real checker.
#include <gtest/gtest.h>

#include "programs/program_fixture.h"

namespace quillon::testing {
namespace {

std::string UserName() {
  char name[257] = {};
  DWORD size = sizeof name;
  GetUserNameA(name, &size);
  return name;
}

std::string UpperCased(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return text;
}

class HookLibraryTest : public ::testing::Test {
 protected:
  std::string TargetPath() const { return BuildFolder() + "\\launch_target.exe"; }
  std::string LoadCommand() const {
    return Quoted(TargetPath()) + " load " + Quoted(BuildFolder() + "\\Zentrel.dll");
  }

  ProgramMachine machine;
};

TEST_F(HookLibraryTest, StartsTheCheckerWithTheLaunchWithoutWaitingForIt) {
  // The checker's place holds a recorder of its command line.
  machine.Install("argument_recorder.exe", machine.product() + "\\Zentrel.exe");
  StartedProcess target(LoadCommand());
  ASSERT_TRUE(target.started());
  const auto started = WaitForLines(machine.scratch("started.txt"), 1);
  ASSERT_TRUE(started.has_value());
  const std::string checker = machine.product() + "\\Zentrel.exe";
  EXPECT_EQ(Lines(*started),
            (std::vector<std::string>{checker + "\t" + Quoted(checker) + " " +
                                      UpperCased(TargetPath()) + "_|_LAUNCH_|_" +
                                      std::to_string(target.id()) + "_|_" + UserName()}));
  // The library did not hold the process up: it is still running.
  EXPECT_FALSE(target.HasEnded());
}

TEST_F(HookLibraryTest, ADeniedLaunchIsEndedByTheCheckerTheLibraryStarted) {
  machine.Install("Zentrel.exe", machine.product() + "\\Zentrel.exe");
  machine.UseFreshDatabase();
  machine.Sql("INSERT INTO USERS (user_name, user_status) VALUES (" + QuoteText(UserName()) +
              ", 'ENABLED')");
  machine.ScriptAnswers("No\n");
  StartedProcess target(LoadCommand());
  ASSERT_TRUE(target.started());
  // The target would wait for minutes; it ends because the checker ends it.
  ASSERT_TRUE(target.WaitForEnd());
  EXPECT_EQ(target.ExitCode(), 0u);

  const auto access_log = WaitForLines(machine.product() + "\\Logs\\Access.log", 1);
  ASSERT_TRUE(access_log.has_value());
  EXPECT_TRUE(IsTimestampedLine(
      *access_log, ": " + NormalizedPath(TargetPath()) + "_|_Unassigned_|_" + UserName()))
      << *access_log;
  EXPECT_EQ(machine.Value("SELECT exe_path FROM APP_EXES", "exe_path"),
            NormalizedPath(TargetPath()));
}

}  // namespace
}  // namespace quillon::testing

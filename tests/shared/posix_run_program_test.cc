// RunProgram on the portable machine: the machine root it needs, the
// argument text, the backends it wires (database folder included), the
// standard error report, and the program folder taken from where the
// executable lies.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "shared/backend/box_script.h"
#include "shared/host_error.h"
#include "shared/posix/posix_platform.h"
#include "shared/posix/posix_shell.h"
#include "shared/program_main.h"
#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kReportVariable[] = "QUILLON_TEST_HOST_REPORT";

// Runs RunProgram in a child with stderr going to a file; returns the exit
// status.
int RunProgramInChild(const std::string& stderr_path, std::vector<std::string> arguments,
                      const ProgramBody& body) {
  return RunInChild([&] {
    const int fd = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 2) < 0) return 60;
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return RunProgram("Zentrel", static_cast<int>(arguments.size()), argv.data(), body);
  });
}

class PosixRunProgramTest : public ::testing::Test {
 protected:
  TestMachine scratch{MachineTree::kDrives};
  std::string errors = scratch.InRoot("stderr.txt");
  std::string report = scratch.InRoot("report.txt");
  std::string dialog_log = scratch.InRoot("dialogs.log");
  ScopedEnvironment machine_root{"QUILLON_MACHINE", scratch.root()};
  ScopedEnvironment answers{kAnswersVariable, scratch.InRoot("answers.txt")};
  ScopedEnvironment log{kDialogLogVariable, dialog_log};
};

TEST_F(PosixRunProgramTest, WithoutAMachineTheProgramSaysSoOnceAndExitsWithTwo) {
  for (const std::optional<std::string>& root :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("relative/root"), std::optional<std::string>(errors)}) {
    ScopedEnvironment variable("QUILLON_MACHINE", root);
    WritePosixFile(errors, "");
    const int status = RunProgramInChild(errors, {"Zentrel.exe", "a_|_b"}, [&](Host&, auto&) {
      WritePosixFile(report, "the body ran");
    });
    EXPECT_EQ(status, 2);
    const std::vector<std::string> lines = FileLines(errors);
    ASSERT_EQ(lines.size(), 1u) << ReadPosixFile(errors);
    EXPECT_THAT(lines[0], HasSubstr("QUILLON_MACHINE"));
    EXPECT_THAT(lines[0], HasSubstr("Zentrel"));
    EXPECT_FALSE(PosixExists(report));
  }
}

TEST_F(PosixRunProgramTest, TheBodyGetsTheJoinedArgumentTextAndWorkingBackends) {
  WritePosixFile(scratch.InRoot("drive_c/in.txt"), "from the machine\r\n");
  CreateZentrelDatabase(scratch.root());
  const int status = RunProgramInChild(
      errors, {"Zentrel.exe", "C:\\X.EXE_|_x_|_12", "two  blanks", "\"q\""},
      [&](Host& host, const std::string& argument_text) {
        auto in = host.files.OpenTextFile("C:\\IN.TXT", IoMode::kForReading, false);
        host.shell.RegWrite("HKLM\\SOFTWARE\\Test\\Seen", in->ReadLine(), "REG_SZ");
        auto connection = host.database.NewConnection();
        connection->Open(kZentrelConnectionString);
        const std::string apps = connection->Execute("SELECT COUNT(*) AS n FROM APPS")->Field("n");
        WritePosixFile(report, argument_text + "\n[" + host.program_folder() + "]\n" + apps + "\n" +
                                   host.shell.RegRead("HKLM\\SOFTWARE\\Test\\Seen") + "\n");
      });
  EXPECT_EQ(status, 0) << ReadPosixFile(errors);
  // The executable lies outside the machine: no program folder.
  EXPECT_THAT(FileLines(report),
              ElementsAre("C:\\X.EXE_|_x_|_12 two  blanks \"q\"", "[]", "0", "from the machine"));
  EXPECT_EQ(ReadPosixFile(errors), "");
}

TEST_F(PosixRunProgramTest, ASingleArgumentIsTakenAsItIsAndNoneGivesEmptyText) {
  int status = RunProgramInChild(
      errors, {"Zentrel.exe", "  spaced  _|_ "},
      [&](Host&, const std::string& text) { WritePosixFile(report, "<" + text + ">"); });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadPosixFile(report), "<  spaced  _|_ >");
  status = RunProgramInChild(errors, {"Zentrel.exe"}, [&](Host&, const std::string& text) {
    WritePosixFile(report, "<" + text + ">");
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadPosixFile(report), "<>");
}

TEST_F(PosixRunProgramTest, AnErrorLeavingTheBodyIsReportedInABoxAndExitsWithOne) {
  const int status = RunProgramInChild(errors, {"Zentrel.exe"}, [&](Host& host, auto&) {
    host.files.DeleteFile("C:\\missing.txt", true);
    WritePosixFile(report, "after the failure");
  });
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(PosixExists(report));
  EXPECT_THAT(FileLines(dialog_log),
              ElementsAre("{\"program\":\"Zentrel\",\"kind\":\"MsgBox\",\"title\":\"Zentrel\","
                          "\"style\":16,\"text\":\"Error 53: File not found\",\"answer\":\"OK\"}"));

  // A database that does not exist is an error too, never created.
  const int database_status = RunProgramInChild(errors, {"Zentrel.exe"}, [&](Host& host, auto&) {
    host.database.NewConnection()->Open(kZentrelConnectionString);
  });
  EXPECT_EQ(database_status, 1);
  EXPECT_FALSE(PosixExists(scratch.InRoot("databases/Zentrel.sqlite3")));
  EXPECT_THAT(FileLines(dialog_log).back(), HasSubstr("\"text\":\"Error -2147467259: "));
}

// The far side of the next test: a copy of this test program, started on the
// machine, reports what RunProgram gave it. Disabled, so that only that test
// runs it.
TEST(PosixRunProgramChild, DISABLED_ReportsItsHost) {
  const char* report_path = std::getenv(kReportVariable);
  if (report_path == nullptr) GTEST_SKIP() << "runs only when started by the test below";
  char name[] = "Zentrel.exe";
  char argument[] = "started";
  char* argv[] = {name, argument, nullptr};
  const int status = RunProgram("Zentrel", 2, argv, [&](Host& host, const std::string& text) {
    WritePosixFile(report_path, host.program_folder() + "\n" + text + "\n");
  });
  EXPECT_EQ(status, 0);
}

TEST_F(PosixRunProgramTest, TheProgramFolderIsWhereTheExecutableLiesOnTheMachine) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  self[length] = '\0';
  WritePosixFile(scratch.InRoot("drive_c/Program Files/Harlwick/Zentrel/child.exe"),
                 ReadPosixFile(self), 0755);
  ScopedEnvironment report_variable(kReportVariable, report);

  PortableMachine machine(scratch.root(), "Test");
  PosixShell shell(machine);
  shell.Run(
      "\"C:\\PROGRAM FILES\\harlwick\\Zentrel\\child.exe\" "
      "--gtest_also_run_disabled_tests "
      "--gtest_filter=PosixRunProgramChild.DISABLED_ReportsItsHost",
      kWindowHidden, true);
  EXPECT_THAT(FileLines(report), ElementsAre("C:\\Program Files\\Harlwick\\Zentrel", "started"));
}

}  // namespace
}  // namespace quillon::testing

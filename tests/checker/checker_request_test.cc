// The checker's front: the request, its refusals, the mailer that passes,
// path normalization, the logs and the environment reader.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "checker/checker.h"
#include "checker_fixture.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string ErrorLine(const std::string& message) {
  return std::string(kStamp) + ": ERROR! " + message + "\r\n";
}

using RefusalTest = CheckerTest;

TEST_F(RefusalTest, ArgumentWithoutSeparatorIsLoggedAndNothingElseHappens) {
  EXPECT_EQ(RunZentrel("abc"), 0);
  EXPECT_EQ(RunZentrel(""), 0);
  EXPECT_EQ(RunZentrel("C:\\TOOLS\\A.EXE_|LAUNCH|_42"), 0);

  const std::string lines =
      ErrorLine("Invalid command line arguments \"abc\"") +
      ErrorLine("Invalid command line arguments \"\"") +
      ErrorLine("Invalid command line arguments \"C:\\TOOLS\\A.EXE_|LAUNCH|_42\"");
  // The first entry creates the log, later ones append below it; the log is
  // never opened in a way that would empty it.
  EXPECT_EQ(machine.files.Content(kErrorLog), lines);
  EXPECT_THAT(machine.journal.Starting("OpenTextFile"),
              ElementsAre(std::string("OpenTextFile ") + kErrorLog + " mode=8 create",
                          std::string("OpenTextFile ") + kErrorLog + " mode=8 create",
                          std::string("OpenTextFile ") + kErrorLog + " mode=8 create"));
  EXPECT_THAT(machine.journal.Starting("MsgBox"), IsEmpty());
  EXPECT_THAT(DatabaseEntries(), IsEmpty());
}

TEST_F(RefusalTest, PathThatIsNotLocalIsLoggedAndTheProcessKeepsRunning) {
  machine.processes.Start(42);
  EXPECT_EQ(RunZentrel(Request("\\\\server\\share\\tool.exe", 42, "alice")), 0);
  EXPECT_EQ(RunZentrel(Request("TOOL.EXE", 42, "alice")), 0);

  EXPECT_EQ(machine.files.Content(kErrorLog),
            ErrorLine("File \"\\\\server\\share\\tool.exe\" is not a local file") +
                ErrorLine("File \"TOOL.EXE\" is not a local file"));
  EXPECT_TRUE(machine.processes.Running(42));
  EXPECT_THAT(machine.journal.Starting("MsgBox"), IsEmpty());
  EXPECT_THAT(machine.journal.Starting("Terminate"), IsEmpty());
  EXPECT_THAT(DatabaseEntries(), IsEmpty());
}

TEST_F(RefusalTest, EarlierLogLinesStay) {
  machine.files.AddFile(kErrorLog, "earlier line\r\n");
  RunZentrel("x");
  EXPECT_EQ(machine.files.Content(kErrorLog),
            "earlier line\r\n" + ErrorLine("Invalid command line arguments \"x\""));
}

TEST_F(RefusalTest, MissingLogsFolderStopsWithTheErrorReport) {
  machine.files.DeleteFolder(kLogs, true);
  machine.journal.Clear();

  EXPECT_EQ(RunZentrel("abc"), 1);
  EXPECT_THAT(machine.journal.entries(),
              ElementsAre(std::string("OpenTextFile ") + kErrorLog + " mode=8 create [failed]",
                          "MsgBox 16 \"Zentrel\" \"Error 76: Path not found\" -> 1"));
}

// A request that cannot be taken apart stops the checker before anything is
// decided: the error report is all that happens, and the process runs on.
struct BadRequest {
  std::string argument_text;
  std::string report;
};

void PrintTo(const BadRequest& request, std::ostream* out) {
  *out << request.argument_text;
}

class BadRequestTest : public CheckerTest, public ::testing::WithParamInterface<BadRequest> {};

TEST_P(BadRequestTest, StopsWithTheErrorReportBeforeAnythingElse) {
  machine.processes.Start(42);
  EXPECT_EQ(RunZentrel(GetParam().argument_text), 1);
  EXPECT_THAT(machine.journal.entries(),
              ElementsAre("MsgBox 16 \"Zentrel\" \"" + GetParam().report + "\" -> 1"));
  EXPECT_TRUE(machine.processes.Running(42));
  EXPECT_EQ(Rows("APP_EXES"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BadRequestTest,
    ::testing::Values(
        BadRequest{"C:\\TOOLS\\A.EXE_|_LAUNCH", "Error 9: Subscript out of range"},
        BadRequest{"C:\\TOOLS\\A.EXE_|_LAUNCH_|_42", "Error 9: Subscript out of range"},
        BadRequest{"_|_", "Error 9: Subscript out of range"},
        BadRequest{"C:\\TOOLS\\A.EXE_|_LAUNCH_|_4x2_|_alice", "Error 13: Type mismatch"},
        BadRequest{"C:\\TOOLS\\A.EXE_|_LAUNCH_|__|_alice", "Error 13: Type mismatch"},
        BadRequest{"C:\\TOOLS\\A.EXE_|_LAUNCH_|_ 42_|_alice", "Error 13: Type mismatch"},
        BadRequest{"C:\\TOOLS\\A.EXE_|_LAUNCH_|_-1_|_alice", "Error 13: Type mismatch"},
        BadRequest{"C:\\TOOLS\\A.EXE_|_LAUNCH_|_+42_|_alice", "Error 13: Type mismatch"},
        BadRequest{"C:\\TOOLS\\A.EXE_|_LAUNCH_|_4294967296_|_alice", "Error 6: Overflow"},
        BadRequest{"C:\\TOOLS\\A.EXE_|_LAUNCH_|_99999999999999999999999_|_alice",
                   "Error 6: Overflow"},
        // The mailer is let pass only after its request has been taken apart.
        BadRequest{"C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE_|_LAUNCH_|_x_|_alice",
                   "Error 13: Type mismatch"}));

TEST_F(CheckerTest, EmptyUserNameEndsWithoutAnyOutput) {
  EnabledUser("alice");
  machine.processes.Start(42);
  EXPECT_EQ(RunZentrel(Request("C:\\TOOLS\\GAME.EXE", 42, "")), 0);
  EXPECT_THAT(machine.journal.entries(), IsEmpty());
  EXPECT_TRUE(machine.processes.Running(42));
}

using MailerTest = CheckerTest;

TEST_F(MailerTest, UpperCaseMailerPathPassesUnchecked) {
  EnabledUser("alice");
  EXPECT_EQ(RunZentrel(Request("C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE", 42, "alice")),
            0);
  EXPECT_THAT(machine.journal.entries(), IsEmpty());
  EXPECT_EQ(Rows("APP_EXES"), 0);
}

TEST_F(MailerTest, OnlyProgramFilesIsUpperCasedForTheComparison) {
  machine.environment.Set("ProgramFiles", "c:\\program files");
  EXPECT_EQ(RunZentrel(Request("C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE", 42, "alice")),
            0);
  EXPECT_THAT(machine.journal.entries(), IsEmpty());
}

TEST_F(MailerTest, MailerPathInMixedCaseIsDecidedLikeAnyOther) {
  machine.files.AddFile("C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe");
  EnabledUser("alice");
  machine.processes.Start(42);

  EXPECT_EQ(RunZentrel(Request("C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe", 42, "alice")),
            0);
  EXPECT_FALSE(machine.processes.Running(42));
  EXPECT_EQ(Value("SELECT exe_path FROM APP_EXES"),
            "C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE");
  EXPECT_EQ(machine.files.Content(kAccessLog),
            std::string(kStamp) +
                ": C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE_|_Unassigned_|_alice\r\n");
}

TEST_F(CheckerTest, DecisionAndLogsUseTheNormalizedPath) {
  machine.files.AddFile("C:\\Program Files\\Tools\\Game.exe");
  machine.files.AddShortName("C:\\Program Files", "PROGRA~1");
  EnabledUser("alice");

  RunZentrel(Request("C:\\PROGRA~1\\tools\\game.exe", 42, "alice"));

  EXPECT_EQ(Value("SELECT exe_path FROM APP_EXES"), "C:\\PROGRAM FILES\\TOOLS\\GAME.EXE");
  EXPECT_THAT(
      machine.journal.Starting("MsgBox"),
      ElementsAre(::testing::HasSubstr("run the file \"C:\\PROGRAM FILES\\TOOLS\\GAME.EXE\".")));
  EXPECT_EQ(machine.files.Content(kAccessLog),
            std::string(kStamp) + ": C:\\PROGRAM FILES\\TOOLS\\GAME.EXE_|_Unassigned_|_alice\r\n");
}

TEST_F(CheckerTest, OverlongProgramFilesReadsAsEmptyForTheLogPath) {
  machine.environment.Set("ProgramFiles", "C:\\" + std::string(260, 'p'));
  machine.files.AddFolder("C:\\Harlwick\\Zentrel\\Logs");
  EXPECT_EQ(RunZentrel("abc"), 0);
  // The product path then starts at the current drive's root.
  EXPECT_EQ(machine.files.Content("C:\\Harlwick\\Zentrel\\Logs\\Error.log"),
            ErrorLine("Invalid command line arguments \"abc\""));
}

}  // namespace
}  // namespace quillon::testing

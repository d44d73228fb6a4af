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

TEST(LaunchRequestTest, FieldsAreTakenAsTheyStand) {
  const LaunchRequest request =
      ParseLaunchRequest("\"C:\\A B\\x.exe\" _|_anything_|_4294967295_|_ O'Neil _|_more_|_");
  EXPECT_EQ(request.exePath, "\"C:\\A B\\x.exe\" ");
  EXPECT_EQ(request.processId, 4294967295u);
  EXPECT_EQ(request.userName, " O'Neil ");

  EXPECT_EQ(ParseLaunchRequest("C:\\X.EXE_|__|_0000042_|_bob").processId, 42u);
  EXPECT_EQ(ParseLaunchRequest("C:\\X.EXE_|__|_0_|_").userName, "");
}

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

// Journals every search with its pattern and attributes.
class RecordingSearch : public DirectorySearch {
 public:
  explicit RecordingSearch(DirectorySearch& inner) : inner_(inner) {}
  std::string FindFirstName(const std::string& pattern, unsigned attributes) override {
    searches.push_back(pattern + " " + std::to_string(attributes));
    return inner_.FindFirstName(pattern, attributes);
  }
  std::vector<std::string> searches;

 private:
  DirectorySearch& inner_;
};

class NormalizeTest : public ::testing::Test {
 protected:
  NormalizeTest() {
    machine.files.AddFile("C:\\Program Files\\Harlwick Tools\\Game.exe");
    machine.files.AddShortName("C:\\Program Files", "PROGRA~1");
    machine.files.AddShortName("C:\\Program Files\\Harlwick Tools", "HARLWI~1");
  }
  std::string Normalize(const std::string& path) { return NormalizeExePath(search, path); }

  FakeMachine machine;
  RecordingSearch search{machine.search};
};

TEST_F(NormalizeTest, DirectoriesTakeTheirStoredLongNamesAndAllIsUpperCase) {
  EXPECT_EQ(Normalize("c:\\PROGRA~1\\harlwi~1\\game.exe"),
            "C:\\PROGRAM FILES\\HARLWICK TOOLS\\GAME.EXE");
  // Each search runs on what has been found so far, with the attributes that
  // include hidden and system entries.
  EXPECT_THAT(search.searches, ElementsAre("c:\\PROGRA~1 22", "c:\\Program Files\\harlwi~1 22"));
}

TEST_F(NormalizeTest, FileNameIsNotSearchedAndKeepsItsAlias) {
  EXPECT_EQ(Normalize("C:\\Program Files\\Harlwick Tools\\GAME~1.EXE"),
            "C:\\PROGRAM FILES\\HARLWICK TOOLS\\GAME~1.EXE");
  EXPECT_EQ(search.searches.size(), 2u);
}

TEST_F(NormalizeTest, DirectoryNotFoundLeavesAnEmptyElement) {
  EXPECT_EQ(Normalize("C:\\Gone\\x.exe"), "C:\\\\X.EXE");
  EXPECT_EQ(Normalize("C:\\x.exe"), "C:\\X.EXE");
  EXPECT_EQ(Normalize("C:\\Program Files\\Gone\\Deeper\\x.exe"), "C:\\PROGRAM FILES\\\\\\X.EXE");
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

TEST(LogTimestampTest, TwoDigitsEachWithTheLastTwoOfTheYear) {
  FakeClock clock;
  clock.Set({2006, 2, 3, 9, 5, 7});
  EXPECT_EQ(FormatLogTimestamp(clock), "02/03/06 09:05:07");
  clock.Set({2010, 12, 31, 23, 59, 58});
  EXPECT_EQ(FormatLogTimestamp(clock), "12/31/10 23:59:58");
  clock.Set({2000, 1, 1, 0, 0, 0});
  EXPECT_EQ(FormatLogTimestamp(clock), "01/01/00 00:00:00");
}

TEST_F(CheckerTest, LogLinesCarryTheirOwnTimestamp) {
  machine.clock.Set({2010, 11, 12, 13, 14, 15});
  WriteAccessLog(machine.files, machine.environment, machine.clock, "C:\\TOOLS\\GAME.EXE", "Games",
                 "alice");
  WriteErrorLog(machine.files, machine.environment, machine.clock, "message");
  EXPECT_EQ(machine.files.Content(kAccessLog),
            "11/12/10 13:14:15: C:\\TOOLS\\GAME.EXE_|_Games_|_alice\r\n");
  EXPECT_EQ(machine.files.Content(kErrorLog), "11/12/10 13:14:15: ERROR! message\r\n");
}

// Another checker creates the log and writes its line at the moment this
// checker opens it.
class InterleavingFiles : public HostFileSystem {
 public:
  explicit InterleavingFiles(FakeFileSystem& inner) : inner_(inner) {}
  bool FileExists(const std::string& path) override { return inner_.FileExists(path); }
  bool FolderExists(const std::string& path) override { return inner_.FolderExists(path); }
  void CopyFile(const std::string& s, const std::string& d, bool o) override {
    inner_.CopyFile(s, d, o);
  }
  void CopyFolder(const std::string& s, const std::string& d, bool o) override {
    inner_.CopyFolder(s, d, o);
  }
  void DeleteFile(const std::string& p, bool f) override { inner_.DeleteFile(p, f); }
  void DeleteFolder(const std::string& p, bool f) override { inner_.DeleteFolder(p, f); }
  void MoveFile(const std::string& s, const std::string& d) override { inner_.MoveFile(s, d); }
  Folder GetFolder(const std::string& p) override { return inner_.GetFolder(p); }
  std::unique_ptr<TextStream> OpenTextFile(const std::string& path, IoMode mode,
                                           bool create) override {
    if (!interleaved_) {
      interleaved_ = true;
      if (!inner_.FileExists(path)) inner_.AddFile(path, "the other checker's line\r\n");
    }
    return inner_.OpenTextFile(path, mode, create);
  }

 private:
  FakeFileSystem& inner_;
  bool interleaved_ = false;
};

TEST_F(CheckerTest, ConcurrentFirstEntriesOfALogAreBothKept) {
  InterleavingFiles files(machine.files);
  WriteAccessLog(files, machine.environment, machine.clock, "C:\\TOOLS\\GAME.EXE", "Games",
                 "alice");
  EXPECT_EQ(machine.files.Content(kAccessLog), std::string("the other checker's line\r\n") +
                                                   kStamp +
                                                   ": C:\\TOOLS\\GAME.EXE_|_Games_|_alice\r\n");
}

TEST(EnvironmentValueTest, ValuesOf255CharactersOrMoreReadAsEmpty) {
  FakeEnvironment environment;
  const std::string fits(254, 'x');
  environment.Set("FITS", fits);
  environment.Set("FULL", std::string(255, 'x'));
  environment.Set("LONG", std::string(300, 'x'));
  environment.Set("BLANKS", "  C:\\Program Files  ");

  EXPECT_EQ(ReadEnvironmentValue(environment, "FITS"), fits);
  EXPECT_EQ(ReadEnvironmentValue(environment, "FULL"), "");
  EXPECT_EQ(ReadEnvironmentValue(environment, "LONG"), "");
  EXPECT_EQ(ReadEnvironmentValue(environment, "UNSET"), "");
  EXPECT_EQ(ReadEnvironmentValue(environment, "BLANKS"), "  C:\\Program Files  ");
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

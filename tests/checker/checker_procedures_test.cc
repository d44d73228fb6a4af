// The checker's procedures that need nothing but the fakes: the request's
// fields, path normalization, the log lines and their timestamp, the
// environment reader and the mailer's command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "checker/checker.h"
#include "fakes/fake_host.h"
#include "shared/helpers/text.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;

constexpr char kAccessLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log";
constexpr char kErrorLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Error.log";
constexpr char kStamp[] = "02/03/06 09:05:07";
constexpr char kMailer[] = "\"C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe\"";

class LogTest : public ::testing::Test {
 protected:
  LogTest() { machine.files.AddFolder("C:\\Program Files\\Harlwick\\Zentrel\\Logs"); }
  FakeMachine machine;
};

TEST(LaunchRequestTest, FieldsAreTakenAsTheyStand) {
  const LaunchRequest request =
      ParseLaunchRequest("\"C:\\A B\\x.exe\" _|_anything_|_4294967295_|_ O'Neil _|_more_|_");
  EXPECT_EQ(request.exePath, "\"C:\\A B\\x.exe\" ");
  EXPECT_EQ(request.processId, 4294967295u);
  EXPECT_EQ(request.userName, " O'Neil ");

  EXPECT_EQ(ParseLaunchRequest("C:\\X.EXE_|__|_0000042_|_bob").processId, 42u);
  EXPECT_EQ(ParseLaunchRequest("C:\\X.EXE_|__|_0_|_").userName, "");
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

TEST(LogTimestampTest, TwoDigitsEachWithTheLastTwoOfTheYear) {
  FakeClock clock;
  clock.Set({2006, 2, 3, 9, 5, 7});
  EXPECT_EQ(FormatLogTimestamp(clock), "02/03/06 09:05:07");
  clock.Set({2010, 12, 31, 23, 59, 58});
  EXPECT_EQ(FormatLogTimestamp(clock), "12/31/10 23:59:58");
  clock.Set({2000, 1, 1, 0, 0, 0});
  EXPECT_EQ(FormatLogTimestamp(clock), "01/01/00 00:00:00");
}

TEST_F(LogTest, LogLinesCarryTheirOwnTimestamp) {
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

TEST_F(LogTest, ConcurrentFirstEntriesOfALogAreBothKept) {
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

class MailerCommandTest : public ::testing::Test {
 protected:
  std::string Command(const std::vector<std::string>& values) {
    StartRequestMailer(machine.shell, machine.environment, values[0], values[1], values[2],
                       values[3], values[4], values[5]);
    const auto runs = machine.journal.Starting("Run ");
    const std::string suffix = " style=0 wait=false";
    EXPECT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs.back().substr(runs.back().size() - suffix.size()), suffix);
    return runs.back().substr(4, runs.back().size() - 4 - suffix.size());
  }
  FakeMachine machine;
};

TEST_F(MailerCommandTest, EachValueIsOneArgumentWhateverItHolds) {
  const std::vector<std::string> values = {
      "smtp \"relay\"", "a@b\\", "C:\\TOOLS\\A B\\X.EXE", "Tools \\\" x\\\\", "Bob \"the\" B", ""};
  const std::vector<std::string> arguments = SplitCommandLine(Command(values));
  EXPECT_THAT(arguments,
              ElementsAre("C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe", values[0], values[1],
                          "HARLWICK-PC", values[2], values[3], values[4], values[5]));
}

TEST_F(MailerCommandTest, PlainValuesStandInPlainQuotes) {
  machine.environment.Set("COMPUTERNAME", std::string(255, 'c'));  // too long: read as empty
  EXPECT_EQ(Command({"smtp", "a@b", "C:\\X.EXE", "Unassigned", "O'Neil", "7"}),
            std::string(kMailer) +
                " \"smtp\" \"a@b\" \"\" \"C:\\X.EXE\" \"Unassigned\" "
                "\"O'Neil\" \"7\"");
}

}  // namespace
}  // namespace quillon::testing

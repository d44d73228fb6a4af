// The platform services of the portable machine: boxes answered from the
// queue (also by several processes at once), the dialog log, the default
// answer without queue and terminal, process termination, the environment
// reader's buffer rule, the directory search and local time.
#include "shared/posix/posix_platform.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "shared/backend/box_script.h"
#include "shared/helpers/text.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Optional;

class PosixDialogsTest : public ::testing::Test {
 protected:
  void Queue(const std::string& lines) { WritePosixFile(queue_path, lines); }

  TestMachine scratch{MachineTree::kDrives};
  std::string queue_path = scratch.InRoot("answers.txt");
  std::string log_path = scratch.InRoot("dialogs.log");
  ScopedEnvironment answers{kAnswersVariable, queue_path};
  ScopedEnvironment log{kDialogLogVariable, log_path};
  PosixDialogs dialogs{"Zentrel"};
};

TEST_F(PosixDialogsTest, BoxesTakeTheQueueLineByLineAndFallBackToTheirDefaults) {
  Queue("Yes\r\nNo\nOK\nYes\nWhatever\n");
  EXPECT_EQ(dialogs.MsgBox("q1", 20, "Access Denied!"), kIdYes);
  EXPECT_EQ(dialogs.MsgBox("q2", 36, "EULA"), kIdNo);
  // An answer the box does not offer counts as its default, and is used up.
  EXPECT_EQ(dialogs.MsgBox("q3", 20, "Access Denied!"), kIdNo);
  EXPECT_EQ(dialogs.MsgBox("q4", 64, "Notice"), kIdOk);
  EXPECT_EQ(dialogs.MsgBox("q5", 0, "Plain"), kIdOk);
  // Used up: defaults.
  EXPECT_EQ(dialogs.MsgBox("q6", 4, "Yes or no"), kIdNo);
  EXPECT_EQ(dialogs.MsgBox("q7", 16, "Error!"), kIdOk);
  EXPECT_EQ(ReadPosixFile(queue_path), "");
}

TEST_F(PosixDialogsTest, InputBoxesTakeTheLineAsTypedText) {
  Queue("admin@example.com\n\n<Cancel>\nZ\xC3\xBCrich\nraw \xFC byte\n");
  EXPECT_THAT(dialogs.InputBox("Address?", "Setup", "x"),
              Optional(std::string("admin@example.com")));
  EXPECT_THAT(dialogs.InputBox("Server?", "Setup", "x"), Optional(std::string("")));
  EXPECT_EQ(dialogs.InputBox("Server?", "Setup", "x"), std::nullopt);
  // UTF-8 in the queue arrives in the system code page; other bytes as they are.
  EXPECT_THAT(dialogs.InputBox("City?", "Setup", ""), Optional(std::string("Z\xFCrich")));
  EXPECT_THAT(dialogs.InputBox("Raw?", "Setup", ""), Optional(std::string("raw \xFC byte")));
  EXPECT_EQ(dialogs.InputBox("Used up?", "Setup", "default"), std::nullopt);
}

TEST_F(PosixDialogsTest, AMissingQueueFileCountsAsEmpty) {
  unlink(queue_path.c_str());
  EXPECT_EQ(dialogs.MsgBox("q", 20, "t"), kIdNo);
  EXPECT_EQ(dialogs.MsgBox("q", 1, "t"), kIdCancel);
  EXPECT_EQ(dialogs.InputBox("q", "t", "d"), std::nullopt);
  EXPECT_FALSE(PosixExists(queue_path));
}

TEST_F(PosixDialogsTest, EveryBoxIsLoggedAsOneJsonLine) {
  Queue("Yes\n<Cancel>\nC:\\Temp \"x\"\n");
  PosixDialogs setup("Setup.exe");
  setup.MsgBox("User \"bob\" may not run \"C:\\X.EXE\".\r\n\r\nRequest?\tcaf\xE9", 20,
               "Access Denied!");
  setup.InputBox("Server?", "Quillon", "d");
  dialogs.InputBox("Folder?", "Quillon \x80", "d");
  dialogs.MsgBox(std::string("nul\x01"
                             "end",
                             7),
                 64, "");
  EXPECT_THAT(
      FileLines(log_path),
      ElementsAre("{\"program\":\"Setup\",\"kind\":\"MsgBox\",\"title\":\"Access Denied!\","
                  "\"style\":20,\"text\":\"User \\\"bob\\\" may not run \\\"C:\\\\X.EXE\\\"."
                  "\\r\\n\\r\\nRequest?\\tcaf\xC3\xA9\",\"answer\":\"Yes\"}",
                  "{\"program\":\"Setup\",\"kind\":\"InputBox\",\"title\":\"Quillon\",\"style\":0,"
                  "\"text\":\"Server?\",\"answer\":null}",
                  "{\"program\":\"Zentrel\",\"kind\":\"InputBox\",\"title\":\"Quillon "
                  "\xE2\x82\xAC\",\"style\":0,\"text\":\"Folder?\",\"answer\":\"C:\\\\Temp "
                  "\\\"x\\\"\"}",
                  "{\"program\":\"Zentrel\",\"kind\":\"MsgBox\",\"title\":\"\",\"style\":64,"
                  "\"text\":\"nul\\u0001end\",\"answer\":\"OK\"}"));
}

TEST_F(PosixDialogsTest, WithoutQueueAndTerminalTheDefaultIsTakenAndSaidOnStderr) {
  const std::string errors = scratch.InRoot("stderr.txt");
  const int status = RunInChild([&] {
    setsid();  // no controlling terminal any more
    unsetenv(kAnswersVariable);
    const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 2) < 0) return 10;
    PosixDialogs child("Uninstall");
    if (child.MsgBox("Remove?", 36, "Uninstall Quillon") != kIdNo) return 1;
    if (child.MsgBox("Done", 64, "Uninstall Quillon") != kIdOk) return 2;
    if (child.InputBox("Name?", "Uninstall Quillon", "x") != std::nullopt) return 3;
    return 0;
  });
  EXPECT_EQ(status, 0);
  const std::vector<std::string> lines = FileLines(errors);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], HasSubstr("Uninstall"));
  EXPECT_THAT(lines[0], HasSubstr("no answer queue and no terminal, answered No"));
  EXPECT_THAT(lines[1], HasSubstr("answered OK"));
  EXPECT_THAT(lines[2], HasSubstr("cancelled"));
  EXPECT_THAT(FileLines(log_path),
              ElementsAre(HasSubstr("\"answer\":\"No\""), HasSubstr("\"answer\":\"OK\""),
                          HasSubstr("\"answer\":null")));
}

TEST_F(PosixDialogsTest, WithoutAQueueABoxAsksOnTheControllingTerminal) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string terminal_name = ptsname(master);
  // Typed ahead: an answer the box does not offer is asked again.
  const std::string typed = "maybe\nyes\n\nZ\xC3\xBCrich\n<Cancel>\n";
  ASSERT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));

  const int status = RunInChild([&] {
    unsetenv(kAnswersVariable);
    setsid();
    const int terminal = open(terminal_name.c_str(), O_RDWR);  // becomes the controlling one
    if (terminal < 0) return 10;
    PosixDialogs child("Setup");
    if (child.MsgBox("Do you agree?", 36, "EULA") != kIdYes) return 1;
    if (child.InputBox("Server?", "Quillon", "smtp.local") !=
        std::optional<std::string>("smtp.local")) {
      return 2;
    }
    if (child.InputBox("City?", "Quillon", "") != std::optional<std::string>("Z\xFCrich")) return 3;
    if (child.InputBox("Name?", "Quillon", "x") != std::nullopt) return 4;
    return 0;
  });
  EXPECT_EQ(status, 0);

  std::string shown;
  char buffer[4096];
  fcntl(master, F_SETFL, O_NONBLOCK);
  for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, got);
  close(master);
  EXPECT_THAT(shown, HasSubstr("[EULA]"));
  EXPECT_THAT(shown, HasSubstr("Do you agree?"));
  EXPECT_THAT(shown, HasSubstr("(Yes/No)? "));
  EXPECT_THAT(shown, HasSubstr("[smtp.local]"));
  EXPECT_THAT(FileLines(log_path),
              ElementsAre(HasSubstr("\"answer\":\"Yes\""), HasSubstr("\"answer\":\"smtp.local\""),
                          HasSubstr("\"answer\":\"Z\xC3\xBCrich\""), HasSubstr("\"answer\":null")));
}

TEST_F(PosixDialogsTest, ProcessesTakingFromOneQueueEachGetTheirOwnLines) {
  constexpr int kProcesses = 8;
  constexpr int kBoxesEach = 25;
  std::string lines;
  for (int i = 0; i < kProcesses * kBoxesEach; ++i) lines += "answer-" + std::to_string(i) + "\n";
  Queue(lines);

  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(StartInChild([&] {
      PosixDialogs child("Zentrel");
      std::string got;
      for (int b = 0; b < kBoxesEach; ++b) {
        got += child.InputBox("?", "t", "").value_or("<none>") + "\n";
      }
      WritePosixFile(scratch.InRoot("got-" + std::to_string(p)), got);
      return 0;
    }));
  }
  for (pid_t pid : children) ASSERT_EQ(WaitForChild(pid), 0);
  std::multiset<std::string> taken;
  for (int p = 0; p < kProcesses; ++p) {
    for (const auto& line : FileLines(scratch.InRoot("got-" + std::to_string(p)))) {
      taken.insert(line);
    }
  }
  std::multiset<std::string> expected;
  for (int i = 0; i < kProcesses * kBoxesEach; ++i) expected.insert("answer-" + std::to_string(i));
  EXPECT_EQ(taken, expected);
  EXPECT_EQ(ReadPosixFile(queue_path), "");
  EXPECT_EQ(FileLines(log_path).size(), static_cast<std::size_t>(kProcesses * kBoxesEach));
}

// ----------------------------------------------------------------- processes

std::vector<std::pair<pid_t, int>>& KillCalls() {
  static std::vector<std::pair<pid_t, int>> calls;
  return calls;
}

int RecordKill(pid_t pid, int signal_number) {
  KillCalls().emplace_back(pid, signal_number);
  errno = ESRCH;  // as if the process were gone: must be ignored
  return -1;
}

TEST(PosixProcessesTest, IdsThatNameNoProcessNeverReachKill) {
  KillCalls().clear();
  PosixProcesses processes(&RecordKill);
  processes.Terminate(0);
  processes.Terminate(4294967295u);  // -1 as pid_t: every process
  processes.Terminate(2147483648u);  // negative as pid_t: a process group
  processes.Terminate(2147483647u);
  processes.Terminate(4242);
  EXPECT_THAT(KillCalls(), ElementsAre(std::make_pair(pid_t{2147483647}, SIGKILL),
                                       std::make_pair(pid_t{4242}, SIGKILL)));
}

TEST(PosixProcessesTest, AProcessThatIsGoneIsLeftAloneAfterOneKill) {
  KillCalls().clear();
  PosixProcesses processes(&RecordKill);
  EXPECT_NO_THROW(processes.Terminate(31337));
  EXPECT_THAT(KillCalls(), ElementsAre(std::make_pair(pid_t{31337}, SIGKILL)));
}

TEST(PosixProcessesTest, TerminateKillsARealProcess) {
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGTERM, SIG_IGN);  // only SIGKILL can end it
    while (true) pause();
  }
  PosixProcesses processes;
  processes.Terminate(static_cast<std::uint32_t>(child));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  processes.Sleep(1);
}

// --------------------------------------------------------------- environment

TEST(PosixEnvironmentReaderTest, ValuesMustFitTheBufferWithTheirTerminator) {
  PosixEnvironmentReader reader;
  ScopedEnvironment fits("QUILLON_TEST_VALUE", std::string(254, 'a'));
  EXPECT_EQ(reader.Read("QUILLON_TEST_VALUE", 255), std::string(254, 'a'));
  ScopedEnvironment exactly("QUILLON_TEST_VALUE", std::string(255, 'b'));
  EXPECT_EQ(reader.Read("QUILLON_TEST_VALUE", 255), "");
  EXPECT_EQ(reader.Read("QUILLON_TEST_VALUE", 256), std::string(255, 'b'));
  ScopedEnvironment longer("QUILLON_TEST_VALUE", std::string(300, 'c'));
  EXPECT_EQ(reader.Read("QUILLON_TEST_VALUE", 255), "");
  ScopedEnvironment empty("QUILLON_TEST_VALUE", "");
  EXPECT_EQ(reader.Read("QUILLON_TEST_VALUE", 255), "");
  EXPECT_EQ(reader.Read("QUILLON_TEST_VALUE", 0), "");
  ScopedEnvironment unset("QUILLON_TEST_VALUE", std::nullopt);
  EXPECT_EQ(reader.Read("QUILLON_TEST_VALUE", 255), "");
}

// ---------------------------------------------------------- directory search

class PosixDirectorySearchTest : public ::testing::Test {
 protected:
  PosixDirectorySearchTest() {
    MakePosixFolders(scratch.InRoot("drive_c/Program Files/Harlwick"));
    MakePosixFolders(scratch.InRoot("drive_c/Program Files (x86)"));
    MakePosixFolders(scratch.InRoot("drive_c/Documents and Settings"));
    WritePosixFile(scratch.InRoot("drive_c/Web/index.html"), "");
    WritePosixFile(scratch.InRoot("drive_c/Web/README.TXT"), "");
    WritePosixFile(scratch.InRoot("drive_c/Web/Default.htm"), "");
    WritePosixFile(scratch.InRoot("drive_c/Tools/app.exe"), "");
  }

  TestMachine scratch{MachineTree::kDrives};
  PortableMachine machine{scratch.root(), "Zentrel"};
  PosixDirectorySearch search{machine};
};

TEST_F(PosixDirectorySearchTest, FindsTheStoredNameWithoutRegardToCase) {
  EXPECT_EQ(search.FindFirstName("C:\\PROGRAM FILES", kSearchAllEntries), "Program Files");
  EXPECT_EQ(search.FindFirstName("C:\\Program Files\\HARLWICK", kSearchAllEntries), "Harlwick");
  EXPECT_EQ(search.FindFirstName("c:\\tools\\APP.EXE", kSearchAllEntries), "app.exe");
  EXPECT_EQ(search.FindFirstName("C:\\Gone", kSearchAllEntries), "");
  EXPECT_EQ(search.FindFirstName("C:\\Gone\\x", kSearchAllEntries), "");
  EXPECT_EQ(search.FindFirstName("C:\\", kSearchAllEntries), "");
  EXPECT_EQ(search.FindFirstName("C:\\\\Tools", kSearchAllEntries), "Tools");
  EXPECT_EQ(search.FindFirstName("\\\\server\\share\\x", kSearchAllEntries), "");
}

TEST_F(PosixDirectorySearchTest, ShortAliasesFindTheirLongNames) {
  EXPECT_EQ(search.FindFirstName("C:\\PROGRA~1", kSearchAllEntries), "Program Files");
  EXPECT_EQ(search.FindFirstName("C:\\progra~2", kSearchAllEntries), "Program Files (x86)");
  EXPECT_EQ(search.FindFirstName("C:\\DOCUME~1", kSearchAllEntries), "Documents and Settings");
  EXPECT_EQ(search.FindFirstName("C:\\PROGRA~1\\HARLWI~1", kSearchAllEntries), "");
  EXPECT_EQ(search.FindFirstName("C:\\PROGRA~1\\Harlwick", kSearchAllEntries), "Harlwick");
  EXPECT_EQ(search.FindFirstName("C:\\Web\\INDEX~1.HTM", kSearchAllEntries), "index.html");
  EXPECT_EQ(search.FindFirstName("C:\\PROGRA~3", kSearchAllEntries), "");
}

TEST_F(PosixDirectorySearchTest, WildcardsMatchLongNamesAndAliasesInListingOrder) {
  EXPECT_EQ(search.FindFirstName("C:\\Prog*", kSearchAllEntries), "Program Files");
  EXPECT_EQ(search.FindFirstName("C:\\Program Files (*)", kSearchAllEntries),
            "Program Files (x86)");
  EXPECT_EQ(search.FindFirstName("C:\\Web\\?EADME.txt", kSearchAllEntries), "README.TXT");
  // "*.htm" meets Default.htm first, and index.html only through its alias.
  EXPECT_EQ(search.FindFirstName("C:\\Web\\*.htm", kSearchAllEntries), "Default.htm");
  EXPECT_EQ(search.FindFirstName("C:\\Web\\i*.htm", kSearchAllEntries), "index.html");
  EXPECT_EQ(search.FindFirstName("C:\\Web\\*.gif", kSearchAllEntries), "");
  EXPECT_TRUE(WildcardMatch("a*b?c", "AxxxBzC"));
  EXPECT_FALSE(WildcardMatch("a*b?c", "AxxxBC"));
  EXPECT_TRUE(WildcardMatch("*", ""));
  EXPECT_FALSE(WildcardMatch("?", ""));
}

TEST_F(PosixDirectorySearchTest, FoldersNeedTheDirectoryAttribute) {
  EXPECT_EQ(search.FindFirstName("C:\\Program Files", 0), "");
  EXPECT_EQ(search.FindFirstName("C:\\PROGRA~1", 6), "");
  EXPECT_EQ(search.FindFirstName("C:\\Tools\\app.exe", 0), "app.exe");
  EXPECT_EQ(search.FindFirstName("C:\\Tools\\*", 0), "app.exe");
  EXPECT_EQ(search.FindFirstName("C:\\*", 0), "");
}

TEST_F(PosixDirectorySearchTest, APatternWithoutFolderSearchesTheCurrentDirectory) {
  ScopedCurrentDirectory inside(scratch.InRoot("drive_c/Web"));
  EXPECT_EQ(search.FindFirstName("readme.txt", kSearchAllEntries), "README.TXT");
  EXPECT_EQ(search.FindFirstName("..\\TOOLS", kSearchAllEntries), "Tools");
}

// The checker looks a path up element by element, each search in the parent
// the searches before found, through one search object. Whatever lies on
// the way (links inside and out of the machine, names Windows forbids, a
// backslash in a POSIX name, aliases, case), the object answers as a fresh
// one does.
TEST_F(PosixDirectorySearchTest, AWalkThroughOneSearchAnswersAsFreshSearches) {
  const std::string outside = scratch.Scratch("outside");
  MakePosixFolders(outside + "/Deep/Inner");
  MakePosixFolders(scratch.InRoot("drive_c/Documents and Settings/Bob/Local Settings/App/bin"));
  MakePosixFolders(scratch.InRoot("drive_c/Odd/a:b/in"));
  MakePosixFolders(scratch.InRoot("drive_c/Odd/x\\y/in"));
  MakePosixFolders(scratch.InRoot("drive_c/Odd/x/y/IN"));
  MakePosixFolders(scratch.InRoot("drive_c/Odd/Inside/Deep/Inner"));
  ASSERT_EQ(symlink(outside.c_str(), scratch.InRoot("drive_c/Odd/Out").c_str()), 0);
  ASSERT_EQ(symlink(scratch.InRoot("drive_c/Odd/Inside").c_str(),
                    scratch.InRoot("drive_c/Odd/In").c_str()),
            0);

  // The stored names found, one per directory element, as the checker
  // builds its normalized path from them.
  auto walk = [](auto&& search_for, const std::string& path) {
    const std::vector<std::string> elements = SplitAll(path, "\\");
    std::string so_far = elements.front() + "\\";
    std::vector<std::string> found;
    for (std::size_t i = 1; i + 1 < elements.size(); ++i) {
      found.push_back(search_for(so_far + elements[i]));
      so_far += found.back() + "\\";
    }
    return found;
  };
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"C:\\DOCUME~1\\bob\\LOCAL SETTINGS\\app\\BIN\\x.exe",
       {"Documents and Settings", "Bob", "Local Settings", "App", "bin"}},
      {"C:\\Odd\\In\\deep\\inner\\x.exe", {"Odd", "In", "Deep", "Inner"}},
      {"C:\\Odd\\Out\\Deep\\Inner\\x.exe", {"Odd", "Out", "", ""}},
      {"C:\\Odd\\a*\\in\\x.exe", {"Odd", "a:b", ""}},
      {"C:\\Odd\\x?y\\in\\x.exe", {"Odd", "x\\y", "IN"}},
      {"C:\\Gone\\Odd\\x.exe", {"", "Odd"}},
      {"C:\\Odd\\\\Odd\\x.exe", {"Odd", "", ""}},
  };
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(walk(
                  [&](const std::string& pattern) {
                    return search.FindFirstName(pattern, kSearchAllEntries);
                  },
                  path),
              expected);
    EXPECT_EQ(walk(
                  [&](const std::string& pattern) {
                    return PosixDirectorySearch(machine).FindFirstName(pattern, kSearchAllEntries);
                  },
                  path),
              expected);
  }
}

// A search answers from the machine as it is when it runs: what changed
// since the search before (on the found folder, on a folder above it, on
// what an alias or a spelling names, the current folder) counts, so a link
// swapped in between cannot lead a search out of the machine.
TEST_F(PosixDirectorySearchTest, ASearchSeesWhatChangedSinceTheSearchBefore) {
  namespace fs = std::filesystem;
  const std::string outside = scratch.Scratch("outside");
  MakePosixFolders(outside + "/Mid/Deep");
  MakePosixFolders(outside + "/Deep");
  MakePosixFolders(scratch.InRoot("drive_c/Here"));
  auto in_root = [&](const std::string& relative) { return scratch.InRoot(relative); };
  std::optional<ScopedCurrentDirectory> current;
  struct Case {
    const char* what;
    std::vector<std::string> folders;  // below the machine's root
    std::string first;                 // the search before, which finds "Mid"
    std::function<void()> change;
    std::string second;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"the found folder replaced by a link out of the machine",
       {"drive_c/Swap/Mid/Deep"},
       "C:\\Swap\\Mid",
       [&] {
         fs::remove_all(in_root("drive_c/Swap/Mid"));
         fs::create_directory_symlink(outside, in_root("drive_c/Swap/Mid"));
       },
       "C:\\Swap\\Mid\\Deep",
       ""},
      {"a folder above it replaced by a link out of the machine",
       {"drive_c/Above/Mid/Deep"},
       "C:\\Above\\Mid",
       [&] {
         fs::rename(in_root("drive_c/Above"), in_root("drive_c/Was Above"));
         fs::create_directory_symlink(outside, in_root("drive_c/Above"));
       },
       "C:\\Above\\Mid\\Deep",
       ""},
      {"the found folder renamed in case",
       {"drive_c/Case/Mid/Inner"},
       "C:\\Case\\Mid",
       [&] { fs::rename(in_root("drive_c/Case/Mid"), in_root("drive_c/Case/MID")); },
       "C:\\Case\\Mid\\inner",
       "Inner"},
      {"the exact spelling of a folder above it made",
       {"drive_c/SPELL/Mid/Old"},
       "C:\\spell\\Mid",
       [&] { MakePosixFolders(in_root("drive_c/spell/Mid/New")); },
       "C:\\spell\\Mid\\*",
       "New"},
      {"an alias above it given to a new folder",
       {"drive_c/Longname2/Mid/Old"},
       "C:\\LONGNA~1\\Mid",
       [&] { MakePosixFolders(in_root("drive_c/Longname1/Mid/New")); },
       "C:\\LONGNA~1\\Mid\\*",
       "New"},
      {"the current folder changed under a relative path",
       {"drive_c/Here/Rel/Mid/Old", "drive_c/There/Rel/Mid/New"},
       "Rel\\Mid",
       [&] {
         current.reset();
         current.emplace(in_root("drive_c/There"));
       },
       "Rel\\Mid\\*",
       "New"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& folder : c.folders) MakePosixFolders(in_root(folder));
    current.emplace(in_root("drive_c/Here"));
    EXPECT_EQ(search.FindFirstName(c.first, kSearchAllEntries), "Mid");
    c.change();
    EXPECT_EQ(search.FindFirstName(c.second, kSearchAllEntries), c.expected);
    EXPECT_EQ(PosixDirectorySearch(machine).FindFirstName(c.second, kSearchAllEntries), c.expected);
    current.reset();
  }
}

// --------------------------------------------------------------------- clock

TEST(PosixClockTest, LocalTimeHonoursTz) {
  const std::time_t moment = 1138957507;  // 2006-02-03 09:05:07 UTC
  {
    ScopedEnvironment tz("TZ", "UTC0");
    const LocalTime utc = LocalTimeAt(moment);
    EXPECT_EQ(std::vector<int>({utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second}),
              std::vector<int>({2006, 2, 3, 9, 5, 7}));
  }
  {
    ScopedEnvironment tz("TZ", "XST+15:30");  // 15 h 30 min west of Greenwich
    const LocalTime west = LocalTimeAt(moment);
    EXPECT_EQ(std::vector<int>({west.year, west.month, west.day, west.hour, west.minute}),
              std::vector<int>({2006, 2, 2, 17, 35}));
  }
  tzset();
}

// ------------------------------------------------------------------ random

TEST(PosixRandomSourceTest, GivesTheCountAskedForWithEveryByteValueInALargeDraw) {
  PosixRandomSource random;
  EXPECT_TRUE(random.Bytes(0).empty());
  const std::vector<std::uint8_t> first = random.Bytes(65536);
  ASSERT_EQ(first.size(), 65536u);
  // 65536 uniform bytes miss one of the 256 values with a chance below 1e-100.
  EXPECT_EQ(std::set<std::uint8_t>(first.begin(), first.end()).size(), 256u);
  EXPECT_NE(random.Bytes(32), random.Bytes(32));
}

}  // namespace
}  // namespace quillon::testing

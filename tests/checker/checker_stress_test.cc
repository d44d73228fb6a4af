// Many checker processes against one database at the same moment: each runs
// the checker's access decision and request recording, whose look-up-then-
// insert statements run without transactions on their own connections. None
// may fail on a lock, and no row may be lost or doubled.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "checker/checker.h"
#include "shared/database.h"
#include "shared/host_error.h"
#include "shared/posix/sqlite_database.h"
#include "support/database_support.h"

namespace quillon {
namespace {

constexpr int kProcesses = 32;
constexpr int kLaunchesPerProcess = 6;
// A child that has not ended by then is killed, so a hang fails the test
// instead of stalling it.
constexpr unsigned kChildAlarmSeconds = 240;

constexpr char kBaseExecutable[] = "C:\\WINDOWS\\EXPLORER.EXE";

std::string ExecutableOf(int process, int launch) {
  return "C:\\STRESS\\P" + std::to_string(process) + "\\O'NEIL" + std::to_string(launch) + ".EXE";
}

std::string UserOf(int process, int launch) {
  return "STRESS\\user'" + std::to_string(process) + "_" + std::to_string(launch);
}

// One launch as the checker handles it: the access decision, which registers
// the executable and the user, then the recording of the user's request.
// Either failing on a lock throws; a wrong answer is reported as a failure.
void CheckAndRequest(Database& database, const std::string& exe, const std::string& user) {
  // New users are registered disabled, and disabled users are not controlled.
  const std::string decision = CheckAccess(database, exe, user);
  if (!decision.empty()) throw HostError(0, "denied " + exe + ": " + decision);
  if (RecordAccessRequest(database, exe, user).empty()) {
    throw HostError(0, "request not recorded for " + exe);
  }
  // A read of a row that others do not write, while they write.
  auto connection = database.NewConnection();
  connection->Open(kZentrelConnectionString);
  auto rows = connection->Execute("SELECT * FROM APP_EXES WHERE APP_EXES.exe_path = " +
                                  QuoteText(kBaseExecutable) + " AND APP_EXES.app_id = '-1'");
  if (rows->Eof()) throw HostError(0, "base executable not found");
  rows->Close();
  connection->Close();
}

// One child process: waits at the gate, then runs its launches. Its exit
// status tells the parent whether every statement succeeded.
[[noreturn]] void RunChild(int gate, const std::string& databases, int process, bool all_the_same) {
  alarm(kChildAlarmSeconds);
  char ignored;
  while (read(gate, &ignored, 1) > 0) {
  }
  close(gate);
  int status = 0;
  try {
    SqliteDatabase database(databases);
    for (int launch = 0; launch < kLaunchesPerProcess; ++launch) {
      const int owner = all_the_same ? 0 : process;
      CheckAndRequest(database, ExecutableOf(owner, launch), UserOf(owner, launch));
    }
  } catch (const HostError& error) {
    std::fprintf(stderr, "process %d: Error %ld: %s\n", process, error.number(),
                 error.description().c_str());
    status = 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "process %d: %s\n", process, error.what());
    status = 1;
  }
  std::fflush(stderr);
  _exit(status);
}

// Starts kProcesses children that all begin when the gate opens, and returns
// how many of them failed (did not exit with status 0).
int RunChildrenAtOnce(const std::string& databases, bool all_the_same) {
  int gate[2];
  if (pipe(gate) != 0) {
    ADD_FAILURE() << "pipe failed";
    return kProcesses;
  }
  std::vector<pid_t> children;
  for (int process = 0; process < kProcesses; ++process) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      RunChild(gate[0], databases, process, all_the_same);
    }
    if (pid < 0) {
      ADD_FAILURE() << "fork failed after " << process << " children";
      break;
    }
    children.push_back(pid);
  }
  // Closing the write end opens the gate for every child at once.
  close(gate[0]);
  close(gate[1]);

  int failed = kProcesses - static_cast<int>(children.size());
  for (pid_t child : children) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ++failed;
      if (WIFSIGNALED(status)) ADD_FAILURE() << "child ended by signal " << WTERMSIG(status);
    }
  }
  return failed;
}

struct StressCase {
  const char* name;
  bool bare;
  TestJournalMode mode;
};

class CheckerStressTest : public ::testing::TestWithParam<StressCase> {
 protected:
  void SetUp() override {
    file_ = GetParam().bare ? CreateBareZentrelDatabase(machine_.path(), GetParam().mode)
                            : CreateZentrelDatabase(machine_.path(), GetParam().mode);
    ASSERT_EQ(JournalModeOf(file_), GetParam().mode == TestJournalMode::kWal ? "wal" : "delete");
    RunSql(file_,
           "INSERT INTO APPS (app_name) VALUES ('Games');"
           "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('" +
               std::string(kBaseExecutable) + "', '-1');");
  }

  DatabaseTestFolder machine_;
  std::string file_;
};

INSTANTIATE_TEST_SUITE_P(
    SchemasAndJournals, CheckerStressTest,
    ::testing::Values(StressCase{"InstallWal", false, TestJournalMode::kWal},
                      StressCase{"InstallRollback", false, TestJournalMode::kRollback},
                      StressCase{"BareRollback", true, TestJournalMode::kRollback},
                      StressCase{"BareWal", true, TestJournalMode::kWal}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST_P(CheckerStressTest, DistinctRegistrationsAllSucceedAndCountExactly) {
  ASSERT_EQ(RunChildrenAtOnce(machine_.databases(), false), 0);

  constexpr long long kLaunches = kProcesses * kLaunchesPerProcess;
  EXPECT_EQ(CountRows(file_, "APP_EXES"), kLaunches + 1);
  EXPECT_EQ(std::stoll(QueryValue(file_, "SELECT COUNT(DISTINCT exe_path) FROM APP_EXES")),
            kLaunches + 1);
  EXPECT_EQ(CountRows(file_, "USERS"), kLaunches);
  EXPECT_EQ(std::stoll(QueryValue(file_, "SELECT COUNT(DISTINCT user_name) FROM USERS")),
            kLaunches);
  EXPECT_EQ(CountRows(file_, "USERS WHERE user_status = 'DISABLED'"), kLaunches);
  EXPECT_EQ(CountRows(file_, "ACCESS_REQUESTS"), kLaunches);

  // Every request pairs the executable and the user of the same launch.
  long long paired = 0;
  for (int process = 0; process < kProcesses; ++process) {
    for (int launch = 0; launch < kLaunchesPerProcess; ++launch) {
      paired += CountRows(file_,
                          "ACCESS_REQUESTS, APP_EXES, USERS "
                          "WHERE ACCESS_REQUESTS.exe_id = APP_EXES.exe_id "
                          "AND ACCESS_REQUESTS.user_id = USERS.user_id "
                          "AND APP_EXES.exe_path = " +
                              QuoteText(ExecutableOf(process, launch)) +
                              " AND USERS.user_name = " + QuoteText(UserOf(process, launch)));
    }
  }
  EXPECT_EQ(paired, kLaunches);

  // Registered executables belong to no application and are not base ones.
  EXPECT_EQ(CountRows(file_, "APP_EXES WHERE app_id = -1"), 1);
  EXPECT_EQ(CountRows(file_, "APP_EXES, APPS WHERE APP_EXES.app_id = APPS.app_id"), 0);
}

// The hardest case for the locks: every process registers the same new
// executables and users at once. The look-up-then-insert pairs are not
// atomic, so duplicates may appear, but no process fails, and each found the
// rows it needed.
TEST_P(CheckerStressTest, SameRegistrationsAllSucceed) {
  ASSERT_EQ(RunChildrenAtOnce(machine_.databases(), true), 0);

  EXPECT_EQ(std::stoll(QueryValue(file_, "SELECT COUNT(DISTINCT exe_path) FROM APP_EXES")),
            kLaunchesPerProcess + 1);
  EXPECT_EQ(std::stoll(QueryValue(file_, "SELECT COUNT(DISTINCT user_name) FROM USERS")),
            kLaunchesPerProcess);
  EXPECT_GE(CountRows(file_, "APP_EXES"), kLaunchesPerProcess + 1);
  EXPECT_LE(CountRows(file_, "APP_EXES"), kProcesses * kLaunchesPerProcess + 1);
  EXPECT_GE(CountRows(file_, "ACCESS_REQUESTS"), kLaunchesPerProcess);
}

}  // namespace
}  // namespace quillon

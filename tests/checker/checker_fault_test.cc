// The built Zentrel.exe on a scratch portable machine whose files have gone
// wrong: a database that is empty, garbage, read-only, on a full disk,
// missing a table or kept locked by another writer, and a Logs folder that is
// missing or read-only. In every case the checker stops with its error
// report, a launch it could not decide keeps running, and nothing already
// stored changes: no row, no log line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>

#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::HasSubstr;

constexpr char kLogs[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs";
constexpr char kAccessLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log";
constexpr char kErrorLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Error.log";
constexpr int kKilled = 128 + SIGKILL;
constexpr int kTerminated = 128 + SIGTERM;

// A connection of another program that holds the database's write lock, with
// a row written and not committed, until it goes.
class HeldWriteLock {
 public:
  explicit HeldWriteLock(const std::string& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK ||
        sqlite3_exec(db_,
                     "BEGIN IMMEDIATE; INSERT INTO APP_EXES (exe_path) VALUES ('C:\\HELD.EXE')",
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error("cannot lock " + file);
    }
  }
  HeldWriteLock(const HeldWriteLock&) = delete;
  HeldWriteLock& operator=(const HeldWriteLock&) = delete;
  ~HeldWriteLock() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }

 private:
  sqlite3* db_ = nullptr;
};

// How the checker is started for a case.
enum class RunAs {
  kRoot,
  kUnprivileged,  // as the unprivileged user, so that permission bits count
  kDiskFull,      // no file may grow past kDiskRoom (writes fail with EFBIG)
};

// Room for the boxes' log line and the start of the database's shared
// index, not for the write-ahead log's first page.
constexpr rlim_t kDiskRoom = 4096;

// What the checker is asked to decide.
enum class Launch {
  kKnownDenied,    // alice, controlled, without a grant for Games: nothing to write
  kNewExecutable,  // alice and an executable the database does not know: a row to write
  kRefused,        // a request without separators: an Error.log line to write
};

struct FaultCase {
  const char* what;
  RunAs run;
  Launch launch;
  // Breaks the machine; may return an object that keeps the fault up while
  // the checker runs (a held lock).
  std::function<std::shared_ptr<void>(TestMachine&)> fault;
  // Part of the error report's text.
  const char* report;
  // The launched process is killed (the decision was made) or runs on.
  bool killed;
};

class CheckerFaultTest : public ::testing::TestWithParam<FaultCase> {
 protected:
  CheckerFaultTest() {
    machine.PutCheckerInPlace();
    machine.CreateDatabase();
    MakePosixFolders(machine.Posix("C:\\Tools"));
    machine.WriteFile("C:\\Tools\\Game.exe", "");
    RunSql(machine.database(),
           "INSERT INTO USERS (user_name, user_status) VALUES ('alice', 'ENABLED');"
           "INSERT INTO APPS (app_name) VALUES ('Games');"
           "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\TOOLS\\GAME.EXE', 1)");
    machine.WriteFile(kAccessLog, "12/01/26 10:00:00: C:\\TOOLS\\GAME.EXE_|_Games_|_alice\r\n");
    machine.WriteFile(kErrorLog,
                      "12/01/26 10:00:01: ERROR! Invalid command line arguments \"\"\r\n");
  }

  // Every stored row and every log byte, for the comparison before and after.
  std::string Stored() const {
    std::string stored;
    for (const char* table : {"APPS", "APP_EXES", "USERS", "ALLOWED_APPS", "ACCESS_REQUESTS"}) {
      stored += std::string(table) + ":";
      try {
        for (const TestRow& row :
             QueryRows(machine.database(), std::string("SELECT * FROM ") + table)) {
          for (const auto& value : row) stored += " " + value.value_or("NULL");
          stored += ";";
        }
      } catch (const std::exception&) {
        stored += " (unreadable)";
      }
      stored += "\n";
    }
    stored += "database file: " + ReadPosixFile(machine.database()) + "\n";
    for (const char* log : {kAccessLog, kErrorLog}) stored += machine.ReadFile(log) + "\n";
    return stored;
  }

  // Runs Zentrel.exe for the request as the case says; its exit status.
  int RunZentrel(RunAs run, const std::string& request) {
    const std::string checker = machine.Posix(kCheckerExe);
    const auto start = [&] { return WaitForChild(machine.StartProgram(checker, {request})); };
    switch (run) {
      case RunAs::kRoot:
        return start();
      case RunAs::kUnprivileged:
        // The boxes' log must take the unprivileged user's lines.
        WritePosixFile(machine.Scratch("dialogs.log"), "", 0666);
        return RunUnprivileged(start);
      case RunAs::kDiskFull:
        return RunInChild([&] {
          signal(SIGXFSZ, SIG_IGN);
          const rlimit limit{kDiskRoom, kDiskRoom};
          if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 99;
          return start();
        });
    }
    return -1;
  }

  // What the error report said: the last box.
  std::string Report() const {
    const auto boxes = machine.Dialogs();
    if (!boxes.empty() && boxes.back().title == "Zentrel" && boxes.back().style == 16) {
      return boxes.back().text;
    }
    return "";
  }

  TestMachine machine{MachineTree::kMinimal};
};

TEST_P(CheckerFaultTest, StopsWithItsErrorReportAndLosesNothing) {
  const FaultCase& c = GetParam();
  if (c.run == RunAs::kUnprivileged && !UnprivilegedUserCanRun(machine.Posix(kCheckerExe))) {
    GTEST_SKIP() << "the unprivileged user cannot reach the build tree";
  }
  const pid_t launched = machine.StartProgram("/bin/sleep", {"300"});
  std::string request;
  switch (c.launch) {
    case Launch::kKnownDenied:
      request = "C:\\Tools\\Game.exe_|_LAUNCH_|_" + std::to_string(launched) + "_|_alice";
      break;
    case Launch::kNewExecutable:
      request = "C:\\Tools\\New.exe_|_LAUNCH_|_" + std::to_string(launched) + "_|_alice";
      break;
    case Launch::kRefused:
      request = "abc";
      break;
  }
  std::shared_ptr<void> fault_held = c.fault(machine);
  const std::string before = Stored();

  const int status = RunZentrel(c.run, request);
  fault_held.reset();

  EXPECT_EQ(status, 1);
  EXPECT_THAT(Report(), HasSubstr(c.report));
  EXPECT_EQ(Stored(), before);
  kill(launched, SIGTERM);
  EXPECT_EQ(WaitForChild(launched), c.killed ? kKilled : kTerminated);
}

std::shared_ptr<void> Nothing() {
  return nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CheckerFaultTest,
    ::testing::Values(
        FaultCase{"DatabaseEmpty", RunAs::kRoot, Launch::kKnownDenied,
                  [](TestMachine& m) {
                    WritePosixFile(m.database(), "");
                    return Nothing();
                  },
                  "no such table: APP_EXES", false},
        FaultCase{"DatabaseGarbage", RunAs::kRoot, Launch::kKnownDenied,
                  [](TestMachine& m) {
                    WritePosixFile(m.database(), std::string(8192, '\x5a') + "not a database");
                    return Nothing();
                  },
                  "file is not a database", false},
        FaultCase{"DatabaseReadOnly", RunAs::kUnprivileged, Launch::kNewExecutable,
                  [](TestMachine& m) {
                    chmod(m.InRoot("databases").c_str(), 0777);
                    chmod(m.database().c_str(), 0444);
                    return Nothing();
                  },
                  "readonly database", false},
        FaultCase{"DatabaseOnAFullDisk", RunAs::kDiskFull, Launch::kNewExecutable,
                  [](TestMachine&) { return Nothing(); }, "Error -2147467259: ", false},
        FaultCase{"DatabaseTableMissing", RunAs::kRoot, Launch::kKnownDenied,
                  [](TestMachine& m) {
                    RunSql(m.database(), "DROP TABLE ALLOWED_APPS");
                    return Nothing();
                  },
                  "no such table: ALLOWED_APPS", false},
        // The other writer keeps its lock for longer than any statement waits.
        FaultCase{"DatabaseLockedByAnotherWriter", RunAs::kRoot, Launch::kNewExecutable,
                  [](TestMachine& m) {
                    return std::shared_ptr<void>(std::make_shared<HeldWriteLock>(m.database()));
                  },
                  "database is locked", false},
        // The decision is made and carried out; only its log line fails.
        FaultCase{"LogsFolderMissing", RunAs::kRoot, Launch::kKnownDenied,
                  [](TestMachine& m) {
                    std::filesystem::remove_all(m.Posix(kLogs));
                    return Nothing();
                  },
                  "Error ", true},
        FaultCase{"LogsFolderReadOnly", RunAs::kUnprivileged, Launch::kRefused,
                  [](TestMachine& m) {
                    chmod(m.Posix(kErrorLog).c_str(), 0444);
                    chmod(m.Posix(kLogs).c_str(), 0555);
                    return Nothing();
                  },
                  "Error 70: Permission denied", false}),
    [](const ::testing::TestParamInfo<FaultCase>& param_info) {
      return std::string(param_info.param.what);
    });

}  // namespace
}  // namespace quillon::testing

// The machine's database engine: its hold on the catalogs (which catalogs it
// holds, the logs it folds while every client stays open, a catalog dropped
// and created again under the same name), and the process sqlservr.exe
// started and stopped as the service MSSQLServer, ending by itself, and
// leaving the checker's rows as they are without it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "shared/posix/catalog_files.h"
#include "support/database_support.h"
#include "support/engine_catalogs.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// The rows of the table that the database file holds by itself, its log
// left aside: what has been folded into it. -1 without the table.
long long RowsInFileAlone(const std::string& file, const std::string& table) {
  const std::string copy = file + ".alone";
  fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
  long long rows = -1;
  try {
    rows = CountRows(copy, table);
  } catch (const std::exception&) {
    rows = -1;  // no such table in the file itself yet
  }
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(copy + suffix);
  return rows;
}

ino_t InodeOf(const std::string& path) {
  struct stat file {};
  return ::stat(path.c_str(), &file) == 0 ? file.st_ino : 0;
}

// The files a process holds open, as /proc names them ("... (deleted)" for
// one whose name is gone).
std::vector<std::string> OpenFiles(pid_t pid) {
  std::vector<std::string> files;
  std::error_code error;
  fs::directory_iterator entry("/proc/" + std::to_string(pid) + "/fd", error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    std::error_code unreadable;
    const fs::path target = fs::read_symlink(entry->path(), unreadable);
    if (!unreadable) files.push_back(target.string());
  }
  return files;
}

// Polls the condition until it holds, or gives up after a minute: the engine
// acts about once a second.
bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// ------------------------------------------------------ the hold on catalogs

class EngineCatalogsTest : public ::testing::Test {
 protected:
  std::string Catalog(const std::string& name) const {
    return folder.databases() + "/" + name + ".sqlite3";
  }
  long long Told(const std::string& text) const {
    return std::count_if(told.begin(), told.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  }

  DatabaseTestFolder folder;
  std::vector<std::string> told;
  machine::EngineCatalogs engine{folder.databases(),
                                 [this](const std::string& line) { told.push_back(line); }};
};

TEST_F(EngineCatalogsTest,
       HoldsEveryCatalogFileAndNothingElseTakingUpNewOnesAndLettingGoOfDropped) {
  CreateZentrelDatabase(folder.path());
  ASSERT_EQ(CreateCatalogFile(folder.databases(), "master"), std::nullopt);
  // Not catalogs: a file that is no database, a link, a FIFO, a folder, a
  // file of another kind.
  WritePosixFile(Catalog("Broken"), std::string(300, 'x'));
  ASSERT_EQ(::symlink("Zentrel.sqlite3", Catalog("Link").c_str()), 0);
  ASSERT_EQ(::mkfifo(Catalog("Pipe").c_str(), 0644), 0);
  MakePosixFolders(Catalog("Folder"));
  WritePosixFile(folder.databases() + "/notes.txt", "x");

  engine.Refresh();
  EXPECT_THAT(engine.Held(), ElementsAre("Zentrel.sqlite3", "master.sqlite3"));
  engine.Refresh();
  EXPECT_EQ(Told("cannot hold Broken.sqlite3: file is not a database"), 1);  // told once

  CreateZentrelDatabase(folder.path(), TestJournalMode::kWal, "Later");
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(Catalog("Zentrel") + suffix);
  engine.Refresh();
  EXPECT_THAT(engine.Held(), ElementsAre("Later.sqlite3", "master.sqlite3"));
  EXPECT_THAT(told, Contains("released Zentrel.sqlite3: its file is gone or replaced"));

  // A broken file that comes back is told of again.
  fs::remove(Catalog("Broken"));
  engine.Refresh();
  WritePosixFile(Catalog("Broken"), std::string(300, 'x'));
  engine.Refresh();
  EXPECT_EQ(Told("cannot hold Broken.sqlite3"), 2);
}

// The engine folds the log while the writer stays open, whether the catalog
// used the write-ahead log when it was taken up or turned to it later; the
// writer, closing, is never the last connection and folds nothing; the
// engine, closing last, folds and empties the log, which stays in place.
TEST_F(EngineCatalogsTest, FoldsTheLogsWhileEveryClientStaysOpen) {
  for (const bool wal_when_taken_up : {true, false}) {
    SCOPED_TRACE(wal_when_taken_up ? "write-ahead log when taken up" : "turned to it later");
    const std::string name = wal_when_taken_up ? "Early" : "Late";
    const std::string file = Catalog(name);
    MakePosixFolders(folder.databases());
    ASSERT_EQ(CreateCatalogFile(folder.databases(), name), std::nullopt);
    const std::string schema = "CREATE TABLE T (x); PRAGMA journal_mode = WAL";
    if (wal_when_taken_up) RunSql(file, schema);
    engine.Refresh();
    ASSERT_THAT(engine.Held(), Contains(name + ".sqlite3"));
    {
      TestConnection writer(file);
      if (!wal_when_taken_up) writer.Exec(schema);
      writer.Exec("INSERT INTO T VALUES (1), (2), (3)");
      EXPECT_EQ(RowsInFileAlone(file, "T"), 0);
      engine.FoldLogs();
      EXPECT_EQ(RowsInFileAlone(file, "T"), 3);
      writer.Exec("INSERT INTO T VALUES (4)");
    }
    EXPECT_EQ(RowsInFileAlone(file, "T"), 3);
    EXPECT_GT(fs::file_size(file + "-wal"), 0u);
  }
  engine.CloseAll();
  for (const char* name : {"Early", "Late"}) {
    EXPECT_EQ(RowsInFileAlone(Catalog(name), "T"), 4) << name;
    EXPECT_EQ(fs::file_size(Catalog(name) + "-wal"), 0u) << name;
    EXPECT_EQ(QueryValue(Catalog(name), "PRAGMA integrity_check"), "ok") << name;
  }
}

// DROP DATABASE deletes the file, its log and its index by name; a catalog
// created again under the name has a log and an index of its own, which
// letting go of the old file must leave alone (closing a connection may
// delete them by name, or fold the new log into the old file and cut it).
TEST_F(EngineCatalogsTest, LettingGoOfADroppedCatalogLeavesTheNewOneOfTheSameNameWhole) {
  const std::string file = CreateZentrelDatabase(folder.path());
  engine.Refresh();
  TestConnection(file).Exec("INSERT INTO APPS (app_name) VALUES ('old')");
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file + suffix);

  CreateZentrelDatabase(folder.path());
  TestConnection writer(file);
  writer.Exec("INSERT INTO APPS (app_name) VALUES ('new 1'), ('new 2')");
  const ino_t log = InodeOf(file + "-wal");
  const ino_t index = InodeOf(file + "-shm");
  engine.Refresh();

  EXPECT_THAT(told, Contains("released Zentrel.sqlite3: its file is gone or replaced"));
  EXPECT_THAT(engine.Held(), ElementsAre("Zentrel.sqlite3"));
  EXPECT_EQ(InodeOf(file + "-wal"), log);
  EXPECT_EQ(InodeOf(file + "-shm"), index);
  const std::vector<TestRow> expected = {{"new 1"}, {"new 2"}};
  EXPECT_EQ(QueryRows(file, "SELECT app_name FROM APPS ORDER BY app_id"), expected);
  engine.FoldLogs();
  EXPECT_EQ(RowsInFileAlone(file, "APPS"), 2);
  engine.CloseAll();
  EXPECT_EQ(QueryRows(file, "SELECT app_name FROM APPS ORDER BY app_id"), expected);
  EXPECT_EQ(QueryValue(file, "PRAGMA integrity_check"), "ok");
}

// ------------------------------------------------------------ the process

constexpr char kPidFile[] = "mssqlserver.pid";

pid_t EnginePid(const TestMachine& machine) {
  const std::string text = ReadPosixFile(machine.InRoot(kPidFile));
  return text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
}

// Starts the engine with net.exe and returns its process id.
pid_t StartEngine(const TestMachine& machine) {
  const ToolResult started = machine.Run("net.exe start MSSQLServer");
  EXPECT_EQ(started.status, 0) << started.out << started.err;
  EXPECT_THAT(started.out, HasSubstr("The MSSQLSERVER service was started successfully."));
  const pid_t pid = EnginePid(machine);
  EXPECT_TRUE(pid > 0 && StillRuns(pid));
  return pid;
}

bool Holds(pid_t pid, const std::string& file) {
  const std::vector<std::string> files = OpenFiles(pid);
  return std::find(files.begin(), files.end(), file) != files.end() &&
         std::find(files.begin(), files.end(), file + " (deleted)") == files.end();
}

TEST(DatabaseEngineTest, NetStartsAndStopsTheEngineAndARestartStartsItWhenAutomatic) {
  TestMachine machine;
  machine.CreateWithTool({"--no-iis"});
  // A fresh machine lists the service as running, with no process behind it.
  EXPECT_THAT(machine.RunningServices(), ElementsAre("MSSQLServer"));
  EXPECT_FALSE(PosixExists(machine.InRoot(kPidFile)));

  const pid_t pid = StartEngine(machine);
  EXPECT_TRUE(Holds(pid, machine.root() + "/databases/master.sqlite3"));
  const ToolResult again = machine.Run("net.exe start mssqlserver");
  EXPECT_EQ(again.status, 2);
  EXPECT_THAT(again.err, HasSubstr("already been started"));

  ASSERT_EQ(machine.Run("net.exe stop MSSQLServer").status, 0);
  EXPECT_FALSE(StillRuns(pid));  // net.exe waited for it
  EXPECT_FALSE(PosixExists(machine.InRoot(kPidFile)));
  EXPECT_THAT(TextLines(machine.InRoot("mssqlserver.log")), Contains("sqlservr: stopped"));

  const ToolResult restarted = machine.Tool({"restart", machine.root()});
  EXPECT_THAT(restarted.out, HasSubstr("started MSSQLServer\ndatabase engine as process "));
  const pid_t second = EnginePid(machine);
  EXPECT_TRUE(second > 0 && StillRuns(second));

  machine.SetRegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start", "3",
                           "REG_DWORD");
  ASSERT_EQ(machine.Tool({"restart", machine.root()}).status, 0);
  EXPECT_FALSE(StillRuns(second));
  EXPECT_FALSE(PosixExists(machine.InRoot(kPidFile)));
}

TEST(DatabaseEngineTest, EndsByItselfWhenItsServiceOrItsMachineIsGone) {
  const std::vector<std::pair<const char*, std::function<void(const TestMachine&)>>> cases = {
      {"the service is no longer running",
       [](const TestMachine& machine) {
         WritePosixFile(machine.InRoot("services.running"), "W3SVC\n");
       }},
      {"the machine is deleted",
       [](const TestMachine& machine) { fs::remove_all(machine.root()); }},
  };
  for (const auto& [what, end] : cases) {
    SCOPED_TRACE(what);
    TestMachine machine;
    machine.CreateWithTool({"--no-iis"});
    const pid_t pid = StartEngine(machine);
    end(machine);
    EXPECT_TRUE(WaitUntilEnded({pid}));
  }
}

// The checker decides and registers the same with the engine holding the
// database as without it.
TEST(DatabaseEngineTest, TheCheckersRowsAreTheSameWithTheEngineRunning) {
  const auto launches = [](bool engine) {
    TestMachine machine;
    machine.CreateWithTool({"--no-iis", "--user", "Bob", "--user", "Alice"});
    machine.PutCheckerInPlace();
    machine.PutHookLibraryInPlace();
    machine.CreateDatabase();
    RunSql(machine.database(),
           "INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'ENABLED')");
    machine.SetRegistryValue(kAppInitDllsValue, "Zentrel.dll");
    if (engine) {
      EXPECT_TRUE(Holds(StartEngine(machine), machine.database()));
    }
    machine.Answer("No");
    std::vector<TestRow> seen;
    for (const auto& [user, program] : {std::pair{"Bob", "notepad.exe"},
                                        {"Alice", "calc.exe"},
                                        {"Alice", "calc.exe"},
                                        {"Bob", "calc.exe"}}) {
      seen.push_back({LastLine(machine.Start(user, program))});
    }
    for (TestRow& row : QueryRows(machine.database(),
                                  "SELECT 'exe', exe_id, exe_path, app_id FROM APP_EXES "
                                  "UNION ALL SELECT 'user', user_id, user_name, user_status "
                                  "FROM USERS ORDER BY 1, 2")) {
      seen.push_back(row);
    }
    return seen;
  };
  const std::vector<TestRow> with_engine = launches(true);
  EXPECT_EQ(with_engine, launches(false));
  EXPECT_THAT(with_engine, Contains(TestRow{"exe", "2", "C:\\WINDOWS\\SYSTEM32\\CALC.EXE", "0"}));
}

// A catalog created after the engine started is taken up and its log folded
// while its writer stays open; dropped and created again, the new catalog
// keeps every row, and the engine closing last folds them.
TEST(DatabaseEngineTest, HoldsNewCatalogsAndADroppedAndRecreatedOneKeepsItsRows) {
  TestMachine machine;
  machine.CreateWithTool({"--no-iis"});
  const pid_t pid = StartEngine(machine);
  const std::string file = machine.root() + "/databases/Cat.sqlite3";
  const auto create = [&] {
    ASSERT_EQ(machine.Run("osql.exe -E -Q \"CREATE DATABASE Cat\"").status, 0);
    RunSql(file, "PRAGMA journal_mode = WAL; CREATE TABLE T (x)");
  };
  create();
  ASSERT_TRUE(Eventually([&] { return Holds(pid, file); }));
  {
    TestConnection writer(file);
    writer.Exec("INSERT INTO T VALUES ('first')");
    EXPECT_TRUE(Eventually([&] { return RowsInFileAlone(file, "T") == 1; }));
  }

  ASSERT_EQ(machine.Run("osql.exe -E -Q \"DROP DATABASE Cat\"").status, 0);
  create();
  TestConnection writer(file);
  writer.Exec("INSERT INTO T VALUES ('second'), ('third')");
  const ino_t log = InodeOf(file + "-wal");
  const ino_t index = InodeOf(file + "-shm");
  EXPECT_TRUE(Eventually([&] { return Holds(pid, file); }));
  EXPECT_EQ(InodeOf(file + "-wal"), log);
  EXPECT_EQ(InodeOf(file + "-shm"), index);
  const std::vector<TestRow> expected = {{"second"}, {"third"}};
  EXPECT_EQ(QueryRows(file, "SELECT x FROM T ORDER BY rowid"), expected);

  ASSERT_EQ(machine.Run("net.exe stop MSSQLServer").status, 0);
  EXPECT_EQ(QueryRows(file, "SELECT x FROM T ORDER BY rowid"), expected);
  EXPECT_EQ(QueryValue(file, "PRAGMA integrity_check"), "ok");
  EXPECT_THAT(TextLines(machine.InRoot("mssqlserver.log")),
              Not(Contains(HasSubstr("cannot fold"))));
}

}  // namespace
}  // namespace quillon::testing

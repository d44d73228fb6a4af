// The SQLite database of the portable host, run against the install schema
// and against a schema of bare columns, so that the code is shown to rely on
// nothing but the columns.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "shared/database.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/sqlite_database.h"
#include "support/database_support.h"

namespace quillon {
namespace {

// Runs a statement that should fail and gives its error.
template <typename Operation>
HostError ErrorOf(Operation operation) {
  try {
    operation();
  } catch (const HostError& error) {
    return error;
  }
  ADD_FAILURE() << "no HostError";
  return HostError(0, "");
}

// Whether another process could take the database's exclusive lock now, with
// no waiting: false while any statement still holds a read lock on it.
bool ExclusiveLockFree(const std::string& database_file) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(database_file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_busy_timeout(db, 0);
  const bool free = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
  return free;
}

// ---------------------------------------------------------------------------
// Opening: connection strings and missing databases.

class SqliteOpenTest : public ::testing::Test {
 protected:
  DatabaseTestFolder machine_;
  SqliteDatabase database_{machine_.databases()};
};

TEST_F(SqliteOpenTest, MissingDatabaseFailsAndIsNotCreated) {
  std::filesystem::create_directories(machine_.databases());
  auto connection = database_.NewConnection();
  const HostError error = ErrorOf([&] { connection->Open(kZentrelConnectionString); });
  EXPECT_EQ(error.number(), error_number::kUnspecified);
  EXPECT_NE(error.description().find("Zentrel"), std::string::npos) << error.description();
  EXPECT_TRUE(std::filesystem::is_empty(machine_.databases()));

  // Nor does a missing databases folder come into being.
  SqliteDatabase elsewhere(machine_.path() + "/no-such-folder");
  auto other = elsewhere.NewConnection();
  EXPECT_EQ(ErrorOf([&] { other->Open(kZentrelConnectionString); }).number(),
            error_number::kUnspecified);
  EXPECT_FALSE(std::filesystem::exists(machine_.path() + "/no-such-folder"));
}

TEST_F(SqliteOpenTest, ConnectionStringWithoutCatalogFails) {
  CreateZentrelDatabase(machine_.path());
  for (const std::string text : {"", "Provider=SQLOLEDB;Integrated Security=SSPI;",
                                 "Provider=SQLOLEDB;Initial Catalog=;Integrated Security=SSPI;",
                                 "Initial Catalog", "Zentrel", "Initial Catalog=  ;"}) {
    auto connection = database_.NewConnection();
    const HostError error = ErrorOf([&] { connection->Open(text); });
    EXPECT_EQ(error.number(), error_number::kUnspecified) << text;
    EXPECT_FALSE(error.description().empty()) << text;
  }
}

TEST_F(SqliteOpenTest, CatalogNameCannotLeaveTheDatabasesFolder) {
  CreateZentrelDatabase(machine_.path());
  // A database one folder up, which a path in the catalog name would reach.
  CreateZentrelDatabase(machine_.path() + "/databases", TestJournalMode::kAsCreated, "Escape");
  ASSERT_TRUE(std::filesystem::exists(machine_.path() + "/databases/databases/Escape.sqlite3"));
  for (const std::string catalog : {"databases/Escape", "databases\\Escape", "../databases/Zentrel",
                                    "/etc/passwd", "..", "."}) {
    auto connection = database_.NewConnection();
    EXPECT_EQ(ErrorOf([&] { connection->Open("Initial Catalog=" + catalog + ";"); }).number(),
              error_number::kUnspecified)
        << catalog;
  }
}

TEST_F(SqliteOpenTest, CatalogSelectsItsFileWhateverTheSpellingOfTheString) {
  const std::string zentrel = CreateZentrelDatabase(machine_.path());
  const std::string other =
      CreateZentrelDatabase(machine_.path(), TestJournalMode::kAsCreated, "Other");
  RunSql(zentrel, "INSERT INTO APPS (app_name) VALUES ('in Zentrel')");
  RunSql(other, "INSERT INTO APPS (app_name) VALUES ('in Other')");

  struct Case {
    std::string connection_string;
    std::string expected_app;
  };
  for (const Case& c : {
           Case{kZentrelConnectionString, "in Zentrel"},
           Case{"Initial Catalog=Other", "in Other"},
           Case{"provider=x; INITIAL CATALOG = Other ;integrated security=SSPI", "in Other"},
           Case{"Initial Catalog='Zentrel';", "in Zentrel"},
           Case{"Initial Catalog=\"Other\";", "in Other"},
           Case{"Initial Catalog=ZENTREL;", "in Zentrel"},  // catalog names ignore case
           Case{"Initial Catalog=Other;Initial Catalog=Zentrel;", "in Zentrel"},
       }) {
    auto connection = database_.NewConnection();
    connection->Open(c.connection_string);
    auto rows = connection->Execute("SELECT APPS.app_name FROM APPS");
    ASSERT_FALSE(rows->Eof()) << c.connection_string;
    EXPECT_EQ(rows->Field("app_name"), c.expected_app) << c.connection_string;
    rows->Close();
    connection->Close();
  }
}

TEST_F(SqliteOpenTest, FileThatIsNoDatabaseFailsAtTheFirstStatement) {
  std::filesystem::create_directories(machine_.databases());
  std::ofstream(machine_.databases() + "/Zentrel.sqlite3") << "not a database at all, just text\n";
  auto connection = database_.NewConnection();
  connection->Open(kZentrelConnectionString);
  EXPECT_EQ(ErrorOf([&] { connection->Execute("SELECT * FROM APPS"); }).number(),
            error_number::kUnspecified);
}

TEST_F(SqliteOpenTest, ObjectStateMisuseFails) {
  CreateZentrelDatabase(machine_.path());
  auto connection = database_.NewConnection();
  EXPECT_EQ(ErrorOf([&] { connection->Execute("SELECT * FROM APPS"); }).number(),
            error_number::kUnspecified);
  connection->Open(kZentrelConnectionString);
  EXPECT_EQ(ErrorOf([&] { connection->Open(kZentrelConnectionString); }).number(),
            error_number::kUnspecified);
  connection->Close();
  EXPECT_EQ(ErrorOf([&] { connection->Execute("SELECT * FROM APPS"); }).number(),
            error_number::kUnspecified);
  // Reopening a closed connection works.
  connection->Open(kZentrelConnectionString);
  EXPECT_TRUE(connection->Execute("SELECT * FROM APPS")->Eof());
}

// ---------------------------------------------------------------------------
// Statements, against both schemas.

enum class Schema { kInstall, kBare };

class SqliteStatementTest : public ::testing::TestWithParam<Schema> {
 protected:
  void SetUp() override {
    file_ = GetParam() == Schema::kInstall ? CreateZentrelDatabase(machine_.path())
                                           : CreateBareZentrelDatabase(machine_.path());
    connection_ = database_.NewConnection();
    connection_->Open(kZentrelConnectionString);
  }

  // The first row's value of one column, or "<no row>".
  std::string First(const std::string& statement, const std::string& column) {
    auto rows = connection_->Execute(statement);
    const std::string value = rows->Eof() ? "<no row>" : rows->Field(column);
    rows->Close();
    return value;
  }

  // The checker's registration of an executable: look up, insert when new.
  // Mirrors the checker's look-up-then-insert to test the SQLite layer alone.
  void RegisterExecutable(const std::string& path) {
    auto rows = connection_->Execute(
        "SELECT APP_EXES.exe_path FROM APP_EXES WHERE "
        "APP_EXES.exe_path = " +
        QuoteText(path));
    if (rows->Eof()) {
      connection_->Execute("INSERT INTO APP_EXES (exe_path) VALUES (" + QuoteText(path) + ")");
    } else {
      rows->Close();
    }
  }

  DatabaseTestFolder machine_;
  SqliteDatabase database_{machine_.databases()};
  std::string file_;
  std::unique_ptr<Connection> connection_;
};

INSTANTIATE_TEST_SUITE_P(Schemas, SqliteStatementTest,
                         ::testing::Values(Schema::kInstall, Schema::kBare),
                         [](const auto& test_info) {
                           return test_info.param == Schema::kInstall ? "Install" : "Bare";
                         });

TEST_P(SqliteStatementTest, ValuesWithSingleQuotesRoundTripIntact) {
  for (const std::string path : {"C:\\TOOLS\\O'NEIL.EXE", "C:\\''\\'.EXE", "'",
                                 "C:\\X'; DROP TABLE APP_EXES; --.EXE", "C:\\CAF\xc9.EXE"}) {
    RegisterExecutable(path);
    RegisterExecutable(path);  // found the second time: no second row
    EXPECT_EQ(
        First("SELECT APP_EXES.exe_path FROM APP_EXES WHERE APP_EXES.exe_path = " + QuoteText(path),
              "exe_path"),
        path);
    // Stored as the value itself (in UTF-8), not as its doubled form.
    EXPECT_EQ(CountRows(file_, "APP_EXES WHERE exe_path = " + Cp1252ToUtf8(QuoteText(path))), 1)
        << path;
  }
  EXPECT_EQ(CountRows(file_, "APP_EXES"), 5);

  connection_->Execute("INSERT INTO USERS (user_name, user_status) VALUES (" + QuoteText("O'Neil") +
                       ", 'DISABLED')");
  EXPECT_EQ(
      First("SELECT USERS.user_name FROM USERS WHERE USERS.user_name = 'O''Neil'", "user_name"),
      "O'Neil");
  EXPECT_EQ(QueryValue(file_, "SELECT user_name FROM USERS"), "O'Neil");
}

TEST_P(SqliteStatementTest, RecordsetGivesTheFirstRowByColumnName) {
  RunSql(file_,
         "INSERT INTO APPS (app_name) VALUES ('Games');"
         "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\GAMES\\A.EXE', 1);"
         "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\GAMES\\B.EXE', 1);");

  auto none = connection_->Execute("SELECT * FROM APP_EXES WHERE exe_path = 'C:\\NONE.EXE'");
  EXPECT_TRUE(none->Eof());
  EXPECT_EQ(ErrorOf([&] { none->Field("exe_path"); }).number(), error_number::kUnspecified);
  none->Close();

  auto rows = connection_->Execute(
      "SELECT APP_EXES.exe_path, APPS.app_name FROM APP_EXES, APPS "
      "WHERE APPS.app_id = APP_EXES.app_id ORDER BY APP_EXES.exe_path DESC");
  ASSERT_FALSE(rows->Eof());
  EXPECT_EQ(rows->Field("exe_path"), "C:\\GAMES\\B.EXE");
  EXPECT_EQ(rows->Field("EXE_PATH"), "C:\\GAMES\\B.EXE");  // names ignore case
  EXPECT_EQ(rows->Field("app_name"), "Games");
  EXPECT_FALSE(rows->Eof());  // reading fields does not move on
  EXPECT_EQ(ErrorOf([&] { rows->Field("no_such_column"); }).number(), error_number::kUnspecified);
  rows->Close();
  EXPECT_EQ(ErrorOf([&] { rows->Field("exe_path"); }).number(), error_number::kUnspecified);

  // A statement that returns no rows gives an empty recordset.
  auto inserted = connection_->Execute("INSERT INTO APPS (app_name) VALUES ('Office')");
  EXPECT_TRUE(inserted->Eof());
  EXPECT_EQ(CountRows(file_, "APPS"), 2);
}

TEST_P(SqliteStatementTest, NumbersComeBackAsDecimalTextAndNullCannotBeText) {
  RunSql(file_,
         "INSERT INTO APPS (app_name) VALUES (NULL);"
         "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\WINDOWS\\EXPLORER.EXE', '-1');");
  EXPECT_EQ(First("SELECT * FROM APP_EXES", "exe_id"), "1");
  EXPECT_EQ(First("SELECT * FROM APP_EXES", "app_id"), "-1");
  EXPECT_EQ(First("SELECT 12.0 AS n", "n"), "12");
  EXPECT_EQ(First("SELECT 2.5 AS n", "n"), "2.5");
  EXPECT_EQ(First("SELECT -9007199254740993 AS n", "n"), "-9007199254740993");

  auto rows = connection_->Execute("SELECT APPS.app_name FROM APPS");
  ASSERT_FALSE(rows->Eof());
  const HostError error = ErrorOf([&] { rows->Field("app_name"); });
  EXPECT_EQ(error.number(), error_number::kInvalidUseOfNull);
  EXPECT_EQ(error.description(), "Invalid use of Null");
}

TEST_P(SqliteStatementTest, QuotedIdsMatchIntegerColumns) {
  // As the installer writes them: ids as quoted text.
  RunSql(file_,
         "INSERT INTO APPS (app_name) VALUES ('Games');"
         "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\WINDOWS\\EXPLORER.EXE', '-1');"
         "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\GAMES\\SOL.EXE', '1');"
         "INSERT INTO USERS (user_name, user_status) VALUES ('alice', 'ENABLED');");
  for (int i = 0; i < 11; ++i) RegisterExecutable("C:\\FILLER\\" + std::to_string(i) + ".EXE");
  const std::string exe_id =
      First("SELECT APP_EXES.exe_id FROM APP_EXES WHERE APP_EXES.exe_path = 'C:\\FILLER\\9.EXE'",
            "exe_id");
  ASSERT_EQ(exe_id, "12");

  // The base-executable test with the marker as quoted text.
  EXPECT_EQ(First("SELECT * FROM APP_EXES WHERE APP_EXES.exe_path = 'C:\\WINDOWS\\EXPLORER.EXE' "
                  "AND APP_EXES.app_id = '-1'",
                  "exe_id"),
            "1");
  EXPECT_EQ(First("SELECT * FROM APP_EXES WHERE APP_EXES.exe_path = 'C:\\GAMES\\SOL.EXE' "
                  "AND APP_EXES.app_id = '-1'",
                  "exe_id"),
            "<no row>");

  // The request flow: ids read back as text, inlined in quotes.
  const std::string user_id =
      First("SELECT USERS.user_id FROM USERS WHERE USERS.user_name = 'alice'", "user_id");
  const std::string lookup =
      "SELECT ACCESS_REQUESTS.request_id FROM ACCESS_REQUESTS "
      "WHERE ACCESS_REQUESTS.exe_id = '" +
      exe_id +
      "' "
      "AND ACCESS_REQUESTS.user_id = '" +
      user_id + "'";
  EXPECT_EQ(First(lookup, "request_id"), "<no row>");
  connection_->Execute("INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES ('" + user_id +
                       "', '" + exe_id + "')");
  EXPECT_EQ(First(lookup, "request_id"), "1");
  // Stored as numbers, so that joins with the integer ids hold.
  EXPECT_EQ(QueryValue(file_,
                       "SELECT typeof(exe_id) || ' ' || typeof(user_id) "
                       "FROM ACCESS_REQUESTS"),
            "integer integer");
  EXPECT_EQ(CountRows(file_,
                      "ACCESS_REQUESTS, APP_EXES, USERS WHERE ACCESS_REQUESTS.exe_id = "
                      "APP_EXES.exe_id AND ACCESS_REQUESTS.user_id = USERS.user_id AND "
                      "APP_EXES.exe_path = 'C:\\FILLER\\9.EXE'"),
            1);

  // The grant: a quoted user id in ALLOWED_APPS joins the integer ids.
  const std::string grant =
      "SELECT * FROM APP_EXES, APPS, ALLOWED_APPS, USERS WHERE APP_EXES.app_id = APPS.app_id "
      "AND APPS.app_id = ALLOWED_APPS.app_id AND ALLOWED_APPS.user_id = USERS.user_id "
      "AND APP_EXES.exe_path = 'C:\\GAMES\\SOL.EXE' AND USERS.user_name = 'alice'";
  EXPECT_EQ(First(grant, "app_name"), "<no row>");
  RunSql(file_, "INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES ('" + user_id + "', '1')");
  EXPECT_EQ(First(grant, "app_name"), "Games");
}

TEST_P(SqliteStatementTest, PathsAndUserNamesCompareWithoutCase) {
  RegisterExecutable("C:\\WINDOWS\\NOTEPAD.EXE");
  RegisterExecutable("c:\\windows\\notepad.exe");
  EXPECT_EQ(CountRows(file_, "APP_EXES"), 1);
  EXPECT_EQ(First("SELECT * FROM APP_EXES WHERE APP_EXES.exe_path = 'c:\\Windows\\Notepad.exe'",
                  "exe_path"),
            "C:\\WINDOWS\\NOTEPAD.EXE");

  connection_->Execute("INSERT INTO USERS (user_name, user_status) VALUES ('Alice', 'DISABLED')");
  EXPECT_EQ(First("SELECT USERS.user_name FROM USERS WHERE USERS.user_name = 'ALICE'", "user_name"),
            "Alice");
  // Letter case only: other characters still differ.
  EXPECT_EQ(
      First("SELECT USERS.user_name FROM USERS WHERE USERS.user_name = 'Alice '", "user_name"),
      "<no row>");
}

TEST_P(SqliteStatementTest, ApplicationsNumberFromOneInInsertionOrder) {
  // The installer's seeding, which writes app ids without reading them back.
  connection_->Execute("INSERT INTO APPS (app_name) VALUES ('Editor')");
  connection_->Execute("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\EDIT.EXE', '1')");
  connection_->Execute("INSERT INTO APPS (app_name) VALUES ('Paint')");
  connection_->Execute("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\PAINT.EXE', '2')");
  connection_->Execute("INSERT INTO APPS (app_name) VALUES ('Office')");
  const auto rows = QueryRows(file_, "SELECT app_id, app_name FROM APPS ORDER BY app_id");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (TestRow{"1", "Editor"}));
  EXPECT_EQ(rows[1], (TestRow{"2", "Paint"}));
  EXPECT_EQ(rows[2], (TestRow{"3", "Office"}));
  const std::string app_of =
      "SELECT APPS.app_name FROM APPS, APP_EXES WHERE APPS.app_id = "
      "APP_EXES.app_id AND APP_EXES.exe_path = ";
  EXPECT_EQ(First(app_of + "'C:\\PAINT.EXE'", "app_name"), "Paint");

  // An executable the checker registers belongs to no application and is no
  // base executable.
  RegisterExecutable("C:\\NEW.EXE");
  EXPECT_EQ(First(app_of + "'C:\\NEW.EXE'", "app_name"), "<no row>");
  EXPECT_EQ(First("SELECT * FROM APP_EXES WHERE APP_EXES.exe_path = 'C:\\NEW.EXE' "
                  "AND APP_EXES.app_id = '-1'",
                  "exe_id"),
            "<no row>");
}

TEST_P(SqliteStatementTest, RejectedStatementsFailWithTheDriversMessage) {
  HostError error = ErrorOf([&] { connection_->Execute("SELEKT * FROM APPS"); });
  EXPECT_EQ(error.number(), error_number::kUnspecified);
  EXPECT_NE(error.description().find("syntax error"), std::string::npos) << error.description();

  error = ErrorOf([&] { connection_->Execute("SELECT * FROM NO_SUCH_TABLE"); });
  EXPECT_EQ(error.number(), error_number::kUnspecified);
  EXPECT_NE(error.description().find("NO_SUCH_TABLE"), std::string::npos) << error.description();

  EXPECT_EQ(ErrorOf([&] { connection_->Execute("   "); }).number(), error_number::kUnspecified);
  EXPECT_EQ(ErrorOf([&] {
              connection_->Execute(std::string("SELECT 1\0; DELETE FROM APPS", 27));
            }).number(),
            error_number::kUnspecified);

  // The connection stays usable after a failed statement.
  EXPECT_TRUE(connection_->Execute("SELECT * FROM APPS")->Eof());
}

TEST_P(SqliteStatementTest, OnlyOneStatementRunsPerCall) {
  RunSql(file_, "INSERT INTO APPS (app_name) VALUES ('Keep')");
  EXPECT_EQ(ErrorOf([&] {
              connection_->Execute("INSERT INTO APPS (app_name) VALUES ('x'); DELETE FROM APPS");
            }).number(),
            error_number::kUnspecified);
  EXPECT_EQ(QueryValue(file_, "SELECT group_concat(app_name) FROM APPS"), "Keep");

  // Trailing separators, blanks and comments are no second statement.
  connection_->Execute("INSERT INTO APPS (app_name) VALUES ('Two');  \r\n");
  connection_->Execute("INSERT INTO APPS (app_name) VALUES ('Three'); ; -- done\n/* end */");
  EXPECT_EQ(CountRows(file_, "APPS"), 3);
}

TEST_P(SqliteStatementTest, RecordsetsHoldNoLock) {
  RunSql(file_, "PRAGMA journal_mode = DELETE");  // where a reader blocks writers
  RegisterExecutable("C:\\A.EXE");
  RegisterExecutable("C:\\B.EXE");
  ASSERT_TRUE(ExclusiveLockFree(file_));

  auto many = connection_->Execute("SELECT * FROM APP_EXES");
  auto none = connection_->Execute("SELECT * FROM APP_EXES WHERE exe_path = 'C:\\NONE.EXE'");
  ASSERT_FALSE(many->Eof());
  ASSERT_TRUE(none->Eof());
  ASSERT_TRUE(ExclusiveLockFree(file_));
  EXPECT_EQ(many->Field("exe_path"), "C:\\A.EXE");

  // Another connection writes while both recordsets are still open.
  auto other = database_.NewConnection();
  other->Open(kZentrelConnectionString);
  other->Execute("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\C.EXE')");
  other->Close();
  EXPECT_EQ(CountRows(file_, "APP_EXES"), 3);
}

// ---------------------------------------------------------------------------
// Locks another connection holds: a statement waits them out, and one held
// past the bound fails the statement alone, which leaves nothing behind.

// Another connection that takes a lock by running sql in a transaction it
// keeps open until Release.
class LockHolder {
 public:
  LockHolder(const std::string& file, const std::string& sql) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK ||
        sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error("cannot lock " + file + ": " + sqlite3_errmsg(db_));
    }
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  ~LockHolder() {
    if (releaser_.joinable()) releaser_.join();
    Release();
    sqlite3_close(db_);
  }

  // Ends the transaction, undoing what it wrote.
  void Release() { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }

  // Ends the transaction a moment from now, from another thread.
  void ReleaseSoon() {
    releaser_ = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      Release();
    });
  }

 private:
  sqlite3* db_ = nullptr;
  std::thread releaser_;
};

struct LockCase {
  const char* what;
  TestJournalMode mode;
  const char* held;       // what the other connection runs and holds
  const char* statement;  // what ours runs meanwhile
  const char* stored;     // the row the statement stores (APP_EXES), if any
};

class SqliteLockTest : public ::testing::TestWithParam<LockCase> {
 protected:
  void SetUp() override {
    file_ = CreateZentrelDatabase(machine_.path(), GetParam().mode);
    RunSql(file_, "INSERT INTO APP_EXES (exe_path) VALUES ('C:\\BASE.EXE')");
  }

  long long StoredRows() const {
    return GetParam().stored == nullptr
               ? 0
               : CountRows(file_, std::string("APP_EXES WHERE exe_path = ") +
                                      QuoteText(GetParam().stored));
  }

  DatabaseTestFolder machine_;
  SqliteDatabase database_{machine_.databases()};
  std::string file_;
};

constexpr char kHeldWrite[] =
    "BEGIN IMMEDIATE; INSERT INTO APP_EXES (exe_path) VALUES ('C:\\HELD.EXE')";
constexpr char kHeldExclusive[] = "BEGIN EXCLUSIVE; SELECT COUNT(*) FROM APP_EXES";
constexpr char kHeldRead[] = "BEGIN; SELECT COUNT(*) FROM APP_EXES";
constexpr char kWrite[] = "INSERT INTO APP_EXES (exe_path) VALUES ('C:\\MINE.EXE')";
constexpr char kRead[] = "SELECT * FROM APP_EXES WHERE exe_path = 'C:\\BASE.EXE'";

INSTANTIATE_TEST_SUITE_P(
    Locks, SqliteLockTest,
    ::testing::Values(LockCase{"WriterBeforeWriteWal", TestJournalMode::kWal, kHeldWrite, kWrite,
                               "C:\\MINE.EXE"},
                      LockCase{"WriterBeforeWriteRollback", TestJournalMode::kRollback, kHeldWrite,
                               kWrite, "C:\\MINE.EXE"},
                      // A write that has done its work waits at its commit for readers.
                      LockCase{"ReaderBeforeCommitRollback", TestJournalMode::kRollback, kHeldRead,
                               kWrite, "C:\\MINE.EXE"},
                      LockCase{"ExclusiveBeforeReadRollback", TestJournalMode::kRollback,
                               kHeldExclusive, kRead, nullptr}),
    [](const auto& test_info) { return std::string(test_info.param.what); });

TEST_P(SqliteLockTest, AStatementWaitsOutALockThatIsReleased) {
  auto connection = database_.NewConnection();
  connection->Open(kZentrelConnectionString);
  LockHolder holder(file_, GetParam().held);
  holder.ReleaseSoon();
  auto rows = connection->Execute(GetParam().statement);
  if (GetParam().stored == nullptr) {
    EXPECT_FALSE(rows->Eof());
  }
  EXPECT_EQ(StoredRows(), GetParam().stored == nullptr ? 0 : 1);
  EXPECT_EQ(CountRows(file_, "APP_EXES WHERE exe_path = 'C:\\HELD.EXE'"), 0);
}

TEST_P(SqliteLockTest, ALockHeldPastTheBoundFailsTheStatementAndLeavesNothing) {
  auto connection = database_.NewConnection();
  connection->Open(kZentrelConnectionString);
  {
    LockHolder holder(file_, GetParam().held);
    const HostError error = ErrorOf([&] { connection->Execute(GetParam().statement); });
    EXPECT_EQ(error.number(), error_number::kUnspecified);
    EXPECT_EQ(error.description(), "database is locked");
  }
  EXPECT_EQ(StoredRows(), 0);
  // The failed statement left no lock behind: the connection and others go on.
  connection->Execute(kWrite);
  EXPECT_TRUE(ExclusiveLockFree(file_));
  EXPECT_EQ(CountRows(file_, "APP_EXES WHERE exe_path = 'C:\\MINE.EXE'"), 1);
}

}  // namespace
}  // namespace quillon

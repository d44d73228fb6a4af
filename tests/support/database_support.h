// Test databases on the portable host: a machine's databases/Zentrel.sqlite3
// created from the install schema (companions/database/zentrel_tables.sql) or
// from the bare columns alone, and direct access to their rows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/test_machine.h"

struct sqlite3;

namespace quillon {

// A connection of the test's own to a database file (read-write; create:
// made when missing), open until the object goes, as a program's would be
// while it works. It waits up to a minute for other connections' locks.
// Throws std::runtime_error when the file cannot be opened or a statement
// fails.
class TestConnection {
 public:
  explicit TestConnection(const std::string& file, bool create = false);
  TestConnection(const TestConnection&) = delete;
  TestConnection& operator=(const TestConnection&) = delete;
  ~TestConnection();

  void Exec(const std::string& sql);
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// A fresh empty folder (a machine root for database tests), removed with all
// it holds when the object goes.
class DatabaseTestFolder : public testing::TemporaryFolder {
 public:
  // The databases/ folder inside it (not created here).
  std::string databases() const { return path() + "/databases"; }
};

// The journal mode a test database ends up in.
enum class TestJournalMode {
  kAsCreated,  // what the schema sets (the install schema: write-ahead log)
  kRollback,   // SQLite's rollback journal (journal_mode DELETE)
  kWal,        // write-ahead log
};

// Creates <machine_root>/databases/<catalog>.sqlite3 (and the databases
// folder) from the install schema, replacing any earlier file. Returns the
// database file's path. Throws std::runtime_error on failure.
std::string CreateZentrelDatabase(const std::string& machine_root,
                                  TestJournalMode mode = TestJournalMode::kAsCreated,
                                  const std::string& catalog = "Zentrel");

// Like CreateZentrelDatabase, but the tables hold only their columns: each
// with its type, the ids as SQLite's generated row ids, exe_path and
// user_name comparing without regard to case; no defaults, no NOT NULL, no
// indexes, no other constraints, rollback journal unless mode says otherwise.
std::string CreateBareZentrelDatabase(const std::string& machine_root,
                                      TestJournalMode mode = TestJournalMode::kAsCreated,
                                      const std::string& catalog = "Zentrel");

// The install schema's text.
std::string ZentrelSchemaText();

// Runs SQL text (any number of statements) directly against a database file.
void RunSql(const std::string& database_file, const std::string& sql);

// Every row a query returns, each value as SQLite's text, nullopt for NULL.
using TestRow = std::vector<std::optional<std::string>>;
std::vector<TestRow> QueryRows(const std::string& database_file, const std::string& sql);

// The single value of a query that returns one row of one column.
std::string QueryValue(const std::string& database_file, const std::string& sql);

// The number of rows of a table (or of "TABLE WHERE ...").
long long CountRows(const std::string& database_file, const std::string& table);

// The database's journal mode as SQLite names it ("wal", "delete").
std::string JournalModeOf(const std::string& database_file);

}  // namespace quillon

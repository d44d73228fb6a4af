#include "support/database_support.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillon {
namespace {

constexpr char kSchemaFile[] = QUILLON_SOURCE_DIR "/companions/database/zentrel_tables.sql";

// The five tables with nothing but their columns.
constexpr char kBareSchema[] = R"sql(
CREATE TABLE APPS (app_id INTEGER PRIMARY KEY, app_name TEXT);
CREATE TABLE APP_EXES (exe_id INTEGER PRIMARY KEY, exe_path TEXT COLLATE NOCASE, app_id INTEGER);
CREATE TABLE USERS (user_id INTEGER PRIMARY KEY, user_name TEXT COLLATE NOCASE, user_status TEXT);
CREATE TABLE ALLOWED_APPS (user_id INTEGER, app_id INTEGER);
CREATE TABLE ACCESS_REQUESTS (request_id INTEGER PRIMARY KEY, user_id INTEGER, exe_id INTEGER);
)sql";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A fresh, empty database file for the catalog: earlier files are removed
// with their journals.
std::string FreshDatabaseFile(const std::string& machine_root, const std::string& catalog) {
  const std::filesystem::path folder = std::filesystem::path(machine_root) / "databases";
  std::filesystem::create_directories(folder);
  const std::string file = (folder / (catalog + ".sqlite3")).string();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::filesystem::remove(file + suffix);
  }
  return file;
}

std::string CreateDatabase(const std::string& machine_root, const std::string& catalog,
                           const std::string& schema, TestJournalMode mode) {
  const std::string file = FreshDatabaseFile(machine_root, catalog);
  TestConnection db(file, true);
  db.Exec(schema);
  if (mode == TestJournalMode::kRollback) db.Exec("PRAGMA journal_mode = DELETE;");
  if (mode == TestJournalMode::kWal) db.Exec("PRAGMA journal_mode = WAL;");
  return file;
}

}  // namespace

TestConnection::TestConnection(const std::string& file, bool create) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close_v2(db_);
    throw std::runtime_error("cannot open " + file + ": " + message);
  }
  sqlite3_busy_timeout(db_, 60000);
}

TestConnection::~TestConnection() {
  sqlite3_close_v2(db_);
}

void TestConnection::Exec(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw std::runtime_error("SQL failed: " + message + "\n" + sql);
  }
}

std::string ZentrelSchemaText() {
  return ReadFile(kSchemaFile);
}

std::string CreateZentrelDatabase(const std::string& machine_root, TestJournalMode mode,
                                  const std::string& catalog) {
  return CreateDatabase(machine_root, catalog, ZentrelSchemaText(), mode);
}

std::string CreateBareZentrelDatabase(const std::string& machine_root, TestJournalMode mode,
                                      const std::string& catalog) {
  return CreateDatabase(machine_root, catalog, kBareSchema, mode);
}

void RunSql(const std::string& database_file, const std::string& sql) {
  TestConnection db(database_file);
  db.Exec(sql);
}

std::vector<TestRow> QueryRows(const std::string& database_file, const std::string& sql) {
  TestConnection db(database_file);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    throw std::runtime_error("SQL failed: " + std::string(sqlite3_errmsg(db.get())) + "\n" + sql);
  }
  std::vector<TestRow> rows;
  int result;
  while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
    TestRow row;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      const auto* text = sqlite3_column_text(statement, column);
      if (text == nullptr) {
        row.emplace_back(std::nullopt);
      } else {
        row.emplace_back(
            std::string(reinterpret_cast<const char*>(text),
                        static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
      }
    }
    rows.push_back(std::move(row));
  }
  const std::string message = sqlite3_errmsg(db.get());
  sqlite3_finalize(statement);
  if (result != SQLITE_DONE) throw std::runtime_error("SQL failed: " + message + "\n" + sql);
  return rows;
}

std::string QueryValue(const std::string& database_file, const std::string& sql) {
  const std::vector<TestRow> rows = QueryRows(database_file, sql);
  if (rows.size() != 1 || rows[0].size() != 1 || !rows[0][0]) {
    throw std::runtime_error("expected one non-NULL value from: " + sql);
  }
  return *rows[0][0];
}

long long CountRows(const std::string& database_file, const std::string& table) {
  return std::stoll(QueryValue(database_file, "SELECT COUNT(*) FROM " + table));
}

std::string JournalModeOf(const std::string& database_file) {
  return QueryValue(database_file, "PRAGMA journal_mode");
}

}  // namespace quillon

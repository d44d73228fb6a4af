#include "shared/posix/sqlite_database.h"

#include <sqlite3.h>

#include <charconv>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "shared/backend/database_backend.h"
#include "shared/helpers/text.h"
#include "shared/posix/catalog_files.h"
#include "shared/posix/portable_machine.h"

namespace quillon {
namespace {

constexpr char kCatalogKey[] = "initial catalog";

using ado::Fail;
using ado::kNoTransaction;
using ado::kObjectClosed;
using ado::kObjectOpen;
using ado::kTransactionOpen;
using ado::RowsRecordset;

// The value of "Initial Catalog" in a connection string of key=value pairs
// separated by ";". Keys match without regard to case; a value may stand in
// single or double quotes. The last occurrence wins. Empty when absent.
std::string CatalogOf(const std::string& connection_string) {
  std::string catalog;
  std::string_view rest = connection_string;
  while (!rest.empty()) {
    std::size_t end = rest.find(';');
    std::string_view pair = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos) continue;
    if (!EqualsIgnoringAsciiCase(TrimWhitespace(pair.substr(0, equals)), kCatalogKey)) continue;
    std::string_view value = TrimWhitespace(pair.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    catalog = std::string(value);
  }
  return catalog;
}

bool IsRetryable(int result_code) {
  const int primary = result_code & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED || primary == SQLITE_PROTOCOL;
}

// Text read from the database: UTF-8 converted to the system code page.
// Text that is not UTF-8 was stored in the code page before the database
// held UTF-8, and is taken as it is.
std::string DatabaseTextToCodePage(std::string_view stored) {
  return IsValidUtf8(stored) ? Utf8ToCp1252(stored) : std::string(stored);
}

std::string ValueText(sqlite3_stmt* statement, int column) {
  const int type = sqlite3_column_type(statement, column);
  switch (type) {
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT: {
      char digits[32];
      const auto result =
          std::to_chars(digits, digits + sizeof digits, sqlite3_column_double(statement, column));
      return std::string(digits, result.ptr);
    }
    default: {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
      const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
      const std::string_view stored =
          bytes == nullptr ? std::string_view() : std::string_view(bytes, size);
      // Text is UTF-8 in the database and the system code page in programs;
      // blobs are the stored bytes.
      return type == SQLITE_TEXT ? DatabaseTextToCodePage(stored) : std::string(stored);
    }
  }
}

// The current row of a statement that has just stepped onto it.
RowsRecordset::Row CurrentRow(sqlite3_stmt* statement) {
  RowsRecordset::Row row;
  const int columns = sqlite3_column_count(statement);
  for (int column = 0; column < columns; ++column) {
    const char* name = sqlite3_column_name(statement, column);
    std::optional<std::string> value;
    if (sqlite3_column_type(statement, column) != SQLITE_NULL) {
      value = ValueText(statement, column);
    }
    row.emplace_back(name == nullptr ? std::string() : Utf8ToCp1252(name), std::move(value));
  }
  return row;
}

// Column names match without regard to ASCII letter case.
const std::optional<std::string>* FindColumn(const RowsRecordset::Row& row,
                                             const std::string& column) {
  for (const auto& [name, value] : row) {
    if (EqualsIgnoringAsciiCase(name, column)) return &value;
  }
  return nullptr;
}

// Owns a prepared statement and finalizes it on every way out.
class PreparedStatement {
 public:
  PreparedStatement() = default;
  PreparedStatement(const PreparedStatement&) = delete;
  PreparedStatement& operator=(const PreparedStatement&) = delete;
  ~PreparedStatement() { sqlite3_finalize(statement_); }

  sqlite3_stmt* get() const { return statement_; }
  sqlite3_stmt** out() { return &statement_; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

class SqliteConnection : public Connection {
 public:
  explicit SqliteConnection(std::string databases_folder)
      : databases_folder_(std::move(databases_folder)) {}

  ~SqliteConnection() override { sqlite3_close_v2(db_); }

  void Open(const std::string& connection_string) override {
    if (db_ != nullptr) Fail(kObjectOpen);
    const std::string catalog = CatalogOf(connection_string);
    if (catalog.empty()) Fail("The connection string names no database (Initial Catalog).");
    const std::optional<std::string> file = CatalogFilePath(databases_folder_, catalog);
    if (!file) Fail("Invalid database name \"" + catalog + "\".");

    // Read-write without create: a missing database is an error, never a new
    // empty file. The catalog file must be the file itself, not a link (out
    // of the machine, say).
    sqlite3* db = nullptr;
    const int result = OpenCatalogFile(*file, &db, lock_wait_);
    if (result != SQLITE_OK) {
      const std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(result);
      sqlite3_close_v2(db);
      Fail("Cannot open database \"" + catalog + "\": " + message);
    }
    db_ = db;
  }

  std::unique_ptr<Recordset> Execute(const std::string& statement) override {
    return ExecuteBound(statement, {}, 0);
  }

  std::unique_ptr<Recordset> ExecuteBound(const std::string& statement,
                                          const Parameters& parameters,
                                          std::size_t max_rows) override {
    if (db_ == nullptr) Fail(kObjectClosed);
    if (statement.find('\0') != std::string::npos) Fail("The statement holds a NUL character.");
    // The statement's waits for locks, its preparation's included, share
    // one bound.
    lock_wait_.Begin();
    if (!prepared_) {
      PrepareCatalogConnection(db_);
      prepared_ = true;
    }

    // The database holds text as UTF-8: the statement's literals and the
    // text values are converted from the system code page on their way in.
    PreparedStatement prepared;
    Prepare(Cp1252ToUtf8(statement), prepared);
    Bind(prepared.get(), parameters);
    return Run(prepared.get(), max_rows);
  }

  // BEGIN IMMEDIATE takes the write lock at once, so that a transaction
  // never fails half way for want of it; Step waits for it like any lock.
  void BeginTrans() override {
    if (db_ == nullptr) Fail(kObjectClosed);
    if (!sqlite3_get_autocommit(db_)) Fail(kTransactionOpen);
    Execute("BEGIN IMMEDIATE");
  }

  void CommitTrans() override {
    if (db_ == nullptr) Fail(kObjectClosed);
    if (sqlite3_get_autocommit(db_)) Fail(kNoTransaction);
    Execute("COMMIT");
  }

  void RollbackTrans() override {
    if (db_ == nullptr) Fail(kObjectClosed);
    if (sqlite3_get_autocommit(db_)) Fail(kNoTransaction);
    Execute("ROLLBACK");
  }

  void Close() override {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    prepared_ = false;
  }

 private:
  [[noreturn]] void FailWithDriverMessage() const {
    Fail(DatabaseTextToCodePage(sqlite3_errmsg(db_)));
  }

  // Compiles exactly one statement; trailing text may only be blanks,
  // semicolons or comments.
  void Prepare(const std::string& text, PreparedStatement& prepared) {
    const char* tail = nullptr;
    for (;;) {
      const int result = sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size() + 1),
                                            prepared.out(), &tail);
      if (result == SQLITE_OK) break;
      if (!IsRetryable(result) || !lock_wait_.Pause()) FailWithDriverMessage();
    }
    if (prepared.get() == nullptr) Fail("The statement is empty.");

    const char* const end = text.c_str() + text.size();
    while (tail != nullptr && tail < end) {
      std::string_view rest(tail, static_cast<std::size_t>(end - tail));
      if (TrimWhitespace(rest).empty()) break;
      PreparedStatement extra;
      const char* next = nullptr;
      const int result =
          sqlite3_prepare_v2(db_, tail, static_cast<int>(rest.size() + 1), extra.out(), &next);
      if (result != SQLITE_OK || extra.get() != nullptr) {
        Fail("Only one statement can be run at a time.");
      }
      if (next == tail) break;
      tail = next;
    }
  }

  // Binds each value to its placeholder; text goes in as UTF-8.
  void Bind(sqlite3_stmt* statement, const Parameters& parameters) {
    const int placeholders = sqlite3_bind_parameter_count(statement);
    if (static_cast<std::size_t>(placeholders) != parameters.size()) {
      Fail(ado::ParameterCountMessage(static_cast<std::size_t>(placeholders), parameters.size()));
    }
    for (int index = 1; index <= placeholders; ++index) {
      const Parameter& value = parameters[static_cast<std::size_t>(index - 1)];
      int result = SQLITE_OK;
      if (const auto* number = std::get_if<std::int64_t>(&value)) {
        result = sqlite3_bind_int64(statement, index, *number);
      } else {
        const std::string& text = std::get<std::string>(value);
        if (text.find('\0') != std::string::npos) Fail("A text value holds a NUL character.");
        const std::string utf8 = Cp1252ToUtf8(text);
        result = sqlite3_bind_text64(statement, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
      }
      if (result != SQLITE_OK) FailWithDriverMessage();
    }
  }

  // Steps the statement, waiting out locks held by other processes: SQLite
  // waits through the busy handler, and a lock it reports at once (one that
  // waiting cannot win, a table another statement holds, a log being
  // rebuilt) is tried again after a pause. A statement that met a lock has
  // changed nothing (inside a transaction too: SQLite undoes the one
  // statement), so it is reset and run again.
  int Step(sqlite3_stmt* statement) {
    for (;;) {
      const int result = sqlite3_step(statement);
      if (!IsRetryable(result) || !lock_wait_.Pause()) return result;
      sqlite3_reset(statement);
    }
  }

  // Runs the statement to its end (a SELECT to its last row, or to max_rows
  // rows when that is not 0) and keeps the rows; the caller's
  // PreparedStatement then finalizes it, so no lock outlives Execute.
  std::unique_ptr<Recordset> Run(sqlite3_stmt* statement, std::size_t max_rows) {
    std::vector<RowsRecordset::Row> rows;
    int result = Step(statement);
    // Once a row has been read, stepping on cannot meet a lock the first
    // step did not, so the rest is read without retries.
    while (result == SQLITE_ROW) {
      if (max_rows == 0 || rows.size() < max_rows) {
        rows.push_back(CurrentRow(statement));
      } else if (sqlite3_stmt_readonly(statement)) {
        break;
      }
      // A statement that writes and returns rows finishes its work.
      result = sqlite3_step(statement);
    }
    if (result != SQLITE_ROW && result != SQLITE_DONE) FailWithDriverMessage();
    return std::make_unique<RowsRecordset>(std::move(rows), &FindColumn);
  }

  std::string databases_folder_;
  LockWait lock_wait_;  // how db_ waits for other connections' locks
  sqlite3* db_ = nullptr;
  bool prepared_ = false;  // PrepareCatalogConnection has run
};

}  // namespace

SqliteDatabase::SqliteDatabase(std::string databases_folder)
    : databases_folder_(std::move(databases_folder)) {}

std::unique_ptr<Connection> SqliteDatabase::NewConnection() {
  return std::make_unique<SqliteConnection>(databases_folder_);
}

}  // namespace quillon

#include "shared/win32/odbc_database.h"

#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "shared/backend/database_backend.h"
#include "shared/backend/lock_wait.h"
#include "shared/helpers/text.h"
#include "shared/win32/registry.h"
#include "shared/win32/windows_api.h"

namespace quillon {
namespace {

using ado::Fail;
using ado::kNoTransaction;
using ado::kObjectClosed;
using ado::kObjectOpen;
using ado::kTransactionOpen;
using ado::RowsRecordset;

// The driver's diagnostic records of a handle, joined: "[state] message".
std::string Diagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  std::string text;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN result = SQLGetDiagRec(handle_type, handle, record, state, &native, message,
                                           static_cast<SQLSMALLINT>(sizeof message), &length);
    if (!SQL_SUCCEEDED(result)) break;
    if (!text.empty()) text += ' ';
    text += '[';
    text.append(reinterpret_cast<const char*>(state));
    text += "] ";
    text.append(reinterpret_cast<const char*>(message));
  }
  return text.empty() ? "The ODBC driver reported an error without a description." : text;
}

[[noreturn]] void FailWithDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  Fail(Diagnostics(handle_type, handle));
}

// Frees an ODBC handle on every way out.
class OdbcHandle {
 public:
  explicit OdbcHandle(SQLSMALLINT type) : type_(type) {}
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  ~OdbcHandle() { Free(); }

  void Allocate(SQLHANDLE parent, SQLSMALLINT parent_type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type_, parent, &handle_))) {
      handle_ = SQL_NULL_HANDLE;
      if (parent == SQL_NULL_HANDLE) Fail("The ODBC driver manager cannot be loaded.");
      FailWithDiagnostics(parent_type, parent);
    }
  }
  void Free() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
    handle_ = SQL_NULL_HANDLE;
  }
  SQLHANDLE get() const { return handle_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  return UpperCase(a) == UpperCase(b);
}

// The key=value pairs of a connection string, keys trimmed, in order.
std::vector<std::pair<std::string, std::string>> PairsOf(const std::string& connection_string) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& part : SplitAll(connection_string, ";")) {
    const std::size_t equals = part.find('=');
    if (equals == std::string::npos) continue;
    pairs.emplace_back(TrimBlanks(part.substr(0, equals)), TrimBlanks(part.substr(equals + 1)));
  }
  return pairs;
}

std::optional<std::string> ValueOf(const std::vector<std::pair<std::string, std::string>>& pairs,
                                   const std::string& key) {
  std::optional<std::string> value;
  for (const auto& [name, text] : pairs) {
    if (EqualIgnoringCase(name, key)) value = text;  // the last one wins
  }
  return value;
}

// Column names match without regard to letter case; some drivers label a
// column by table and name (APPS.app_name), which matches by its name when
// no column has the name itself.
const std::optional<std::string>* FindColumn(const RowsRecordset::Row& row,
                                             const std::string& column) {
  for (const auto& [name, value] : row) {
    if (EqualIgnoringCase(name, column)) return &value;
  }
  for (const auto& [name, value] : row) {
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && EqualIgnoringCase(name.substr(dot + 1), column)) {
      return &value;
    }
  }
  return nullptr;
}

// One column of the current row as text; nullopt for NULL.
std::optional<std::string> ColumnText(SQLHSTMT statement, SQLUSMALLINT column) {
  std::string text;
  std::vector<char> chunk(4096);
  while (true) {
    SQLLEN indicator = 0;
    const SQLRETURN result = SQLGetData(statement, column, SQL_C_CHAR, chunk.data(),
                                        static_cast<SQLLEN>(chunk.size()), &indicator);
    if (result == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(result)) FailWithDiagnostics(SQL_HANDLE_STMT, statement);
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    // A part that did not fit fills the chunk but its terminating NUL.
    const bool truncated =
        result == SQL_SUCCESS_WITH_INFO &&
        (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(chunk.size()));
    if (truncated) {
      text.append(chunk.data(), chunk.size() - 1);
      continue;
    }
    text.append(chunk.data(), static_cast<std::size_t>(indicator));
    break;
  }
  return text;
}

// The values of a statement's placeholders, held where the driver reads them
// when the statement runs: text as character data, integers as 64-bit ones.
class BoundValues {
 public:
  explicit BoundValues(const Parameters& parameters) : parameters_(parameters) {
    lengths_.resize(parameters.size());
    numbers_.resize(parameters.size());
  }

  void Bind(SQLHSTMT statement) {
    SQLSMALLINT placeholders = 0;
    if (!SQL_SUCCEEDED(SQLNumParams(statement, &placeholders))) {
      FailWithDiagnostics(SQL_HANDLE_STMT, statement);
    }
    if (static_cast<std::size_t>(placeholders) != parameters_.size()) {
      Fail(ado::ParameterCountMessage(static_cast<std::size_t>(placeholders), parameters_.size()));
    }
    for (std::size_t i = 0; i < parameters_.size(); ++i) {
      const auto number = static_cast<SQLUSMALLINT>(i + 1);
      SQLRETURN result = SQL_SUCCESS;
      if (const auto* integer = std::get_if<std::int64_t>(&parameters_[i])) {
        numbers_[i] = *integer;
        lengths_[i] = 0;
        result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0,
                                  0, &numbers_[i], 0, &lengths_[i]);
      } else {
        const std::string& text = std::get<std::string>(parameters_[i]);
        lengths_[i] = static_cast<SQLLEN>(text.size());
        // Long texts go as long character data; the column size is never 0.
        const SQLSMALLINT type = text.size() > 8000 ? SQL_LONGVARCHAR : SQL_VARCHAR;
        const SQLULEN size = text.empty() ? 1 : text.size();
        result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_CHAR, type, size, 0,
                                  const_cast<char*>(text.data()), static_cast<SQLLEN>(text.size()),
                                  &lengths_[i]);
      }
      if (!SQL_SUCCEEDED(result)) FailWithDiagnostics(SQL_HANDLE_STMT, statement);
    }
  }

 private:
  const Parameters& parameters_;
  std::vector<SQLLEN> lengths_;
  std::vector<std::int64_t> numbers_;
};

// The lock bound in whole seconds (at least one), as ODBC's timeouts take it.
SQLPOINTER TimeoutSeconds() {
  constexpr SQLULEN kSeconds = (kLockWaitMilliseconds + 999) / 1000;
  return reinterpret_cast<SQLPOINTER>(kSeconds);
}

class OdbcConnection : public Connection {
 public:
  OdbcConnection() : environment_(SQL_HANDLE_ENV), connection_(SQL_HANDLE_DBC) {}
  ~OdbcConnection() override { Close(); }

  void Open(const std::string& connection_string) override {
    if (open_) Fail(kObjectOpen);
    const std::string odbc_string = OdbcConnectionString(
        connection_string, ReadRegistryText(kConnectionStringValue).value_or(""));

    environment_.Allocate(SQL_NULL_HANDLE, SQL_HANDLE_ENV);
    SQLSetEnvAttr(environment_.get(), SQL_ATTR_ODBC_VERSION,
                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0);
    connection_.Allocate(environment_.get(), SQL_HANDLE_ENV);
    // Neither a server that does not answer nor a database that somebody
    // keeps locked may hold the program for longer than the lock bound. A
    // driver without these settings keeps its own; that is no error.
    SQLSetConnectAttr(connection_.get(), SQL_ATTR_LOGIN_TIMEOUT, TimeoutSeconds(), 0);
    std::vector<SQLCHAR> text(odbc_string.begin(), odbc_string.end());
    text.push_back('\0');
    SQLCHAR completed[1024] = {};
    SQLSMALLINT completed_length = 0;
    const SQLRETURN result = SQLDriverConnect(connection_.get(), nullptr, text.data(), SQL_NTS,
                                              completed, static_cast<SQLSMALLINT>(sizeof completed),
                                              &completed_length, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(result)) {
      const std::string message = Diagnostics(SQL_HANDLE_DBC, connection_.get());
      connection_.Free();
      environment_.Free();
      Fail(message);
    }
    open_ = true;
  }

  std::unique_ptr<Recordset> Execute(const std::string& statement_text) override {
    return ExecuteBound(statement_text, {}, 0);
  }

  std::unique_ptr<Recordset> ExecuteBound(const std::string& statement_text,
                                          const Parameters& parameters,
                                          std::size_t max_rows) override {
    if (!open_) Fail(kObjectClosed);
    OdbcHandle statement(SQL_HANDLE_STMT);
    statement.Allocate(connection_.get(), SQL_HANDLE_DBC);
    SQLSetStmtAttr(statement.get(), SQL_ATTR_QUERY_TIMEOUT, TimeoutSeconds(), 0);
    std::vector<SQLCHAR> text(statement_text.begin(), statement_text.end());
    text.push_back('\0');
    SQLRETURN result = SQLPrepare(statement.get(), text.data(), SQL_NTS);
    if (!SQL_SUCCEEDED(result)) FailWithDiagnostics(SQL_HANDLE_STMT, statement.get());
    // The bound values must stay in place until the statement has run.
    BoundValues values(parameters);
    values.Bind(statement.get());
    if (max_rows > 0) {
      // A hint the server may take; the fetch loop below stops there anyway.
      SQLSetStmtAttr(statement.get(), SQL_ATTR_MAX_ROWS,
                     reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(max_rows)), 0);
    }
    result = SQLExecute(statement.get());
    if (result != SQL_NO_DATA && !SQL_SUCCEEDED(result)) {
      FailWithDiagnostics(SQL_HANDLE_STMT, statement.get());
    }
    SQLSMALLINT columns = 0;
    if (result == SQL_NO_DATA || !SQL_SUCCEEDED(SQLNumResultCols(statement.get(), &columns)) ||
        columns <= 0) {
      return std::make_unique<RowsRecordset>(&FindColumn);
    }
    std::vector<std::string> names;
    for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(columns); ++column) {
      SQLCHAR name[256] = {};
      SQLSMALLINT name_length = 0;
      SQLSMALLINT type = 0;
      SQLULEN size = 0;
      SQLSMALLINT digits = 0;
      SQLSMALLINT nullable = 0;
      if (!SQL_SUCCEEDED(SQLDescribeCol(statement.get(), column, name,
                                        static_cast<SQLSMALLINT>(sizeof name), &name_length, &type,
                                        &size, &digits, &nullable))) {
        FailWithDiagnostics(SQL_HANDLE_STMT, statement.get());
      }
      names.emplace_back(reinterpret_cast<char*>(name));
    }
    // The recordset keeps every row; the statement and its cursor are freed
    // before Execute returns.
    std::vector<RowsRecordset::Row> rows;
    while (max_rows == 0 || rows.size() < max_rows) {
      const SQLRETURN fetched = SQLFetch(statement.get());
      if (fetched == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(fetched)) FailWithDiagnostics(SQL_HANDLE_STMT, statement.get());
      RowsRecordset::Row row;
      for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(columns); ++column) {
        row.emplace_back(names[column - 1], ColumnText(statement.get(), column));
      }
      rows.push_back(std::move(row));
    }
    return std::make_unique<RowsRecordset>(std::move(rows), &FindColumn);
  }

  // A transaction turns the connection's automatic commit off until it ends.
  void BeginTrans() override {
    if (!open_) Fail(kObjectClosed);
    if (in_transaction_) Fail(kTransactionOpen);
    SetAutoCommit(false);
    in_transaction_ = true;
  }

  void CommitTrans() override { EndTransaction(SQL_COMMIT); }

  void RollbackTrans() override { EndTransaction(SQL_ROLLBACK); }

  void Close() override {
    // Disconnecting with a transaction open would fail: it is rolled back.
    if (open_ && in_transaction_) {
      SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK);
    }
    in_transaction_ = false;
    if (open_) SQLDisconnect(connection_.get());
    open_ = false;
    connection_.Free();
    environment_.Free();
  }

 private:
  void SetAutoCommit(bool on) {
    const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(connection_.get(), SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(value), 0))) {
      FailWithDiagnostics(SQL_HANDLE_DBC, connection_.get());
    }
  }

  void EndTransaction(SQLSMALLINT completion) {
    if (!open_) Fail(kObjectClosed);
    if (!in_transaction_) Fail(kNoTransaction);
    if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, connection_.get(), completion))) {
      // Still in the transaction, for a rollback.
      FailWithDiagnostics(SQL_HANDLE_DBC, connection_.get());
    }
    in_transaction_ = false;
    SetAutoCommit(true);
  }

  OdbcHandle environment_;
  OdbcHandle connection_;
  bool open_ = false;
  bool in_transaction_ = false;
};

}  // namespace

std::string OdbcConnectionString(const std::string& connection_string,
                                 const std::string& override_string) {
  if (!TrimBlanks(override_string).empty()) return override_string;
  const auto pairs = PairsOf(connection_string);
  const std::optional<std::string> provider = ValueOf(pairs, "Provider");
  if (!provider || !EqualIgnoringCase(provider->substr(0, 8), "SQLOLEDB")) {
    return connection_string;
  }
  const std::string server = ValueOf(pairs, "Data Source").value_or("(local)");
  std::string odbc = "Driver={SQL Server};Server=" + (server.empty() ? "(local)" : server) + ";";
  if (const auto catalog = ValueOf(pairs, "Initial Catalog")) odbc += "Database=" + *catalog + ";";
  const std::string security = ValueOf(pairs, "Integrated Security").value_or("");
  if (EqualIgnoringCase(security, "SSPI") || EqualIgnoringCase(security, "True") ||
      EqualIgnoringCase(security, "Yes")) {
    odbc += "Trusted_Connection=Yes;";
  } else {
    if (const auto user = ValueOf(pairs, "User ID")) odbc += "UID=" + *user + ";";
    if (const auto password = ValueOf(pairs, "Password")) odbc += "PWD=" + *password + ";";
  }
  return odbc;
}

std::unique_ptr<Connection> OdbcDatabase::NewConnection() {
  return std::make_unique<OdbcConnection>();
}

}  // namespace quillon

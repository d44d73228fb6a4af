#include <optional>
#include <utility>
#include <vector>

#include "shared/backend/database_backend.h"
#include "shared/helpers/text.h"
#include "shared/win32/registry.h"
#include "shared/win32/win32_host.h"
#include "shared/win32/windows_api.h"

namespace quillon {
namespace {

using ado::Fail;
using ado::FirstRowRecordset;
using ado::kObjectClosed;
using ado::kObjectOpen;

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
const std::optional<std::string>* FindColumn(const FirstRowRecordset::Row& row,
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
    if (!open_) Fail(kObjectClosed);
    OdbcHandle statement(SQL_HANDLE_STMT);
    statement.Allocate(connection_.get(), SQL_HANDLE_DBC);
    std::vector<SQLCHAR> text(statement_text.begin(), statement_text.end());
    text.push_back('\0');
    const SQLRETURN result =
        SQLExecDirect(statement.get(), text.data(), static_cast<SQLINTEGER>(statement_text.size()));
    if (result != SQL_NO_DATA && !SQL_SUCCEEDED(result)) {
      FailWithDiagnostics(SQL_HANDLE_STMT, statement.get());
    }
    SQLSMALLINT columns = 0;
    if (result == SQL_NO_DATA || !SQL_SUCCEEDED(SQLNumResultCols(statement.get(), &columns)) ||
        columns <= 0) {
      return std::make_unique<FirstRowRecordset>(&FindColumn);
    }
    // The recordset keeps the first row, the only one callers read; the
    // statement and its cursor are freed before Execute returns.
    const SQLRETURN fetched = SQLFetch(statement.get());
    if (fetched == SQL_NO_DATA) return std::make_unique<FirstRowRecordset>(&FindColumn);
    if (!SQL_SUCCEEDED(fetched)) FailWithDiagnostics(SQL_HANDLE_STMT, statement.get());
    FirstRowRecordset::Row row;
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
      row.emplace_back(std::string(reinterpret_cast<char*>(name)),
                       ColumnText(statement.get(), column));
    }
    return std::make_unique<FirstRowRecordset>(std::move(row), &FindColumn);
  }

  void Close() override {
    if (open_) SQLDisconnect(connection_.get());
    open_ = false;
    connection_.Free();
    environment_.Free();
  }

 private:
  OdbcHandle environment_;
  OdbcHandle connection_;
  bool open_ = false;
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

// osql.exe on the portable machine, the database server's command-line
// client: "-E -i FILE" runs the file's batches, "-E -Q TEXT" runs one text.
// Batches are separated by lines that hold only GO; "USE name" selects the
// catalog (master at first, or -d name), "CREATE DATABASE name" creates
// databases/<name>.sqlite3 (an error when it exists), "DROP DATABASE name"
// deletes it with its -wal and -shm files; every other statement runs with
// SQLite against the selected catalog. A failed batch prints its error
// ("Msg ..., Level 16, ...") and the next batch runs; the exit status is 0
// then, as with the real client, unless -b asks to stop with status 1 at the
// first error. The server must be installed and running (MSSQLServer).
//
// Text: input files and -Q text are in the system code page (Windows-1252),
// as the product's scripts write them, unless a file starts with a UTF-8
// byte-order mark; the database holds text as UTF-8, the same bytes the
// programs store; rows and messages are printed in the code page.
//
// Accepted besides: -S for the local server (".", "(local)", "localhost" or
// the computer name) and -n. Left out: SQL Server logins (-U, -P are
// refused: only Windows authentication), T-SQL beyond what SQLite
// understands, "GO n", and output formatting options.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "shared/posix/catalog_files.h"
#include "shared/posix/portable_machine.h"
#include "support/osql_script.h"
#include "support/services.h"
#include "support/stand_in.h"
#include "support/usage_error.h"
#include "support/windows_components.h"

namespace quillon::machine {
namespace {

struct Options {
  std::optional<std::string> input_file;  // -i
  std::optional<std::string> query;       // -Q
  std::string catalog = "master";         // -d
  std::string server;                     // -S
  bool stop_at_error = false;             // -b
};

Options ParseOptions(const std::vector<std::string>& arguments) {
  Options options;
  bool trusted = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() < 2 || argument[0] != '-') {
      throw UsageError("unexpected argument \"" + argument + "\"");
    }
    const char flag = argument[1];
    auto value = [&]() -> std::string {
      if (argument.size() > 2) return argument.substr(2);
      if (i + 1 >= arguments.size()) throw UsageError(argument + " needs a value");
      return arguments[++i];
    };
    if (flag == 'E' && argument.size() == 2) {
      trusted = true;
    } else if (flag == 'b' && argument.size() == 2) {
      options.stop_at_error = true;
    } else if (flag == 'n' && argument.size() == 2) {
      // Input line numbering is off anyway.
    } else if (flag == 'i') {
      options.input_file = value();
    } else if (flag == 'Q') {
      options.query = value();
    } else if (flag == 'd') {
      options.catalog = value();
    } else if (flag == 'S') {
      options.server = value();
    } else if (flag == 'U' || flag == 'P') {
      throw UsageError("SQL Server logins are not supported; use -E (Windows authentication)");
    } else {
      throw UsageError("unsupported option \"" + argument + "\"");
    }
  }
  if (!trusted) throw UsageError("only Windows authentication is supported: give -E");
  if (options.input_file.has_value() == options.query.has_value()) {
    throw UsageError("give exactly one of -i FILE and -Q \"TEXT\"");
  }
  return options;
}

// Messages that the server sends back for a failed statement.
struct ServerError {
  int number;
  int level;
  std::string text;
};

class Server {
 public:
  Server(std::string databases, std::string server_name, std::string catalog)
      : databases_(std::move(databases)),
        server_name_(std::move(server_name)),
        catalog_(std::move(catalog)) {}
  ~Server() { CloseCatalog(); }

  // Runs one batch; returns false after printing the error that ended it.
  bool RunBatch(const OsqlBatch& batch) {
    for (const OsqlStep& step : SplitSteps(batch)) {
      std::optional<ServerError> error;
      int line = step.line - batch.first_line + 1;
      switch (step.kind) {
        case OsqlStep::Kind::kUse:
          error = Use(step.text);
          break;
        case OsqlStep::Kind::kCreateDatabase:
          error = CreateDatabase(step.text);
          break;
        case OsqlStep::Kind::kDropDatabase:
          error = DropDatabase(step.text);
          break;
        case OsqlStep::Kind::kSql:
          error = RunSql(step.text, line);
          break;
      }
      if (error) {
        std::printf("Msg %d, Level %d, State 1, Server %s, Line %d\n%s\n", error->number,
                    error->level, server_name_.c_str(), line, Utf8ToCp1252(error->text).c_str());
        return false;
      }
    }
    return true;
  }

 private:
  std::optional<std::string> CatalogFile(const std::string& name) const {
    return ExistingCatalogFile(databases_, name);
  }

  static ServerError NoSuchCatalog(const std::string& name) {
    return {911, 16,
            "Could not locate entry in sysdatabases for database '" + name +
                "'. No entry found with that name. Make sure that the name is entered "
                "correctly."};
  }

  void CloseCatalog() {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  std::optional<ServerError> Use(const std::string& name) {
    if (!CatalogFile(name)) return NoSuchCatalog(name);
    CloseCatalog();
    catalog_ = name;
    return std::nullopt;
  }

  std::optional<ServerError> CreateDatabase(const std::string& name) {
    if (!IsPlainCatalogName(name))
      return ServerError{102, 15, "Incorrect syntax near '" + name + "'."};
    if (CatalogFile(name)) {
      return ServerError{1801, 16, "Database '" + name + "' already exists."};
    }
    if (const std::optional<std::string> failure = CreateCatalogFile(databases_, name)) {
      return ServerError{1802, 16, "CREATE DATABASE failed: " + *failure};
    }
    std::printf("The CREATE DATABASE process is allocating the database '%s'.\n", name.c_str());
    return std::nullopt;
  }

  std::optional<ServerError> DropDatabase(const std::string& name) {
    const std::optional<std::string> file = CatalogFile(name);
    if (!file) {
      return ServerError{3701, 11,
                         "Cannot drop the database '" + name +
                             "', because it does not exist in the system catalog."};
    }
    if (EqualsIgnoringAsciiCase(catalog_, name)) {
      CloseCatalog();
      catalog_ = "master";
    }
    if (::unlink(file->c_str()) != 0) {
      return ServerError{3702, 16, "Cannot drop the database '" + name + "'."};
    }
    ::unlink((*file + "-wal").c_str());
    ::unlink((*file + "-shm").c_str());
    std::printf("Deleting database file '%s'.\n", file->c_str());
    return std::nullopt;
  }

  std::optional<ServerError> OpenCatalog() {
    if (db_ != nullptr) return std::nullopt;
    const std::optional<std::string> file = CatalogFile(catalog_);
    if (!file) return NoSuchCatalog(catalog_);
    if (OpenCatalogFile(*file, &db_, lock_wait_) != SQLITE_OK) {
      const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
      CloseCatalog();
      return ServerError{4060, 11,
                         "Cannot open database requested in login '" + catalog_ + "'. " + message};
    }
    PrepareCatalogConnection(db_);
    return std::nullopt;
  }

  // The server's number for a statement the engine rejected.
  static int ErrorNumber(const std::string& message) {
    if (message.find("syntax error") != std::string::npos) return 170;
    if (message.find("no such table") != std::string::npos) return 208;
    if (message.find("no such column") != std::string::npos) return 207;
    if (message.find("already exists") != std::string::npos) return 2714;
    if (message.find("constraint failed") != std::string::npos) return 2627;
    return 50000;
  }

  static int LinesBefore(const std::string& text, std::size_t offset) {
    int lines = 0;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) lines += text[i] == '\n';
    return lines;
  }

  static void PrintRows(sqlite3_stmt* statement,
                        const std::vector<std::vector<std::string>>& rows) {
    const int columns = sqlite3_column_count(statement);
    std::vector<std::size_t> widths;
    std::vector<std::string> names;
    for (int column = 0; column < columns; ++column) {
      const char* name = sqlite3_column_name(statement, column);
      names.push_back(name != nullptr ? Utf8ToCp1252(name) : "");
      widths.push_back(names.back().size());
    }
    for (const auto& row : rows) {
      for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    auto print_line = [&](const std::vector<std::string>& cells) {
      std::string line;
      for (std::size_t c = 0; c < cells.size(); ++c) {
        line += " " + cells[c] + std::string(widths[c] - cells[c].size(), ' ');
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      std::printf("%s\n", line.c_str());
    };
    print_line(names);
    std::vector<std::string> dashes;
    for (std::size_t width : widths) dashes.emplace_back(width, '-');
    print_line(dashes);
    for (const auto& row : rows) print_line(row);
  }

  static void PrintCount(long count) {
    std::printf("(%ld row%s affected)\n", count, count == 1 ? "" : "s");
  }

  struct Prepared {
    sqlite3_stmt* statement = nullptr;  // nullptr for blanks or a comment
    std::size_t end = 0;                // offset just past the statement
    std::optional<ServerError> error;
    int error_offset = -1;  // where the error lies, from the statement's start
  };

  // Compiles the statement that begins at offset. As in T-SQL, statements
  // need no ";" between them: where the engine stumbles over a word that
  // begins a line, the statement before that line is taken on its own.
  Prepared PrepareNext(const std::string& text, std::size_t offset) {
    Prepared prepared;
    const char* start = text.c_str() + offset;
    const char* next = nullptr;
    if (sqlite3_prepare_v2(db_, start, -1, &prepared.statement, &next) == SQLITE_OK) {
      prepared.end = static_cast<std::size_t>(next - text.c_str());
      return prepared;
    }
    const std::string message = sqlite3_errmsg(db_);
    const int at = sqlite3_error_offset(db_);
    if (at > 0 && BeginsLine(text, offset + static_cast<std::size_t>(at))) {
      const std::string part = text.substr(offset, static_cast<std::size_t>(at));
      const char* part_next = nullptr;
      if (sqlite3_prepare_v2(db_, part.c_str(), -1, &prepared.statement, &part_next) == SQLITE_OK &&
          prepared.statement != nullptr) {
        prepared.end = offset + static_cast<std::size_t>(part_next - part.c_str());
        return prepared;
      }
    }
    prepared.error = ServerError{ErrorNumber(message), 16, message};
    prepared.error_offset = at;
    return prepared;
  }

  // True when only blanks stand between the line's start and offset.
  static bool BeginsLine(const std::string& text, std::size_t offset) {
    for (std::size_t i = offset; i > 0; --i) {
      const char c = text[i - 1];
      if (c == '\n') return true;
      if (c != ' ' && c != '\t' && c != '\r') return false;
    }
    return true;
  }

  std::optional<ServerError> RunSql(const std::string& text, int& line) {
    if (std::optional<ServerError> error = OpenCatalog()) return error;
    const int first_line = line;
    std::size_t offset = 0;
    while (offset < text.size()) {
      const std::size_t begin = text.find_first_not_of(" \t\r\n", offset);
      if (begin == std::string::npos) break;
      line = first_line + LinesBefore(text, begin);
      lock_wait_.Begin();
      Prepared prepared = PrepareNext(text, offset);
      if (prepared.error) {
        if (prepared.error_offset >= 0) {
          line = first_line +
                 LinesBefore(text, offset + static_cast<std::size_t>(prepared.error_offset));
        }
        return prepared.error;
      }
      offset = prepared.end;
      if (prepared.statement == nullptr) continue;
      std::optional<ServerError> error = Step(prepared.statement);
      sqlite3_finalize(prepared.statement);
      if (error) return error;
    }
    return std::nullopt;
  }

  // Runs a compiled statement and prints its rows or the rows it changed.
  std::optional<ServerError> Step(sqlite3_stmt* statement) {
    std::vector<std::vector<std::string>> rows;
    const int columns = sqlite3_column_count(statement);
    int result = SQLITE_OK;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int column = 0; column < columns; ++column) {
        const unsigned char* value = sqlite3_column_text(statement, column);
        row.push_back(value != nullptr ? Utf8ToCp1252(reinterpret_cast<const char*>(value))
                                       : "NULL");
      }
      rows.push_back(std::move(row));
    }
    if (result != SQLITE_DONE) {
      const std::string message = sqlite3_errmsg(db_);
      return ServerError{ErrorNumber(message), 16, message};
    }
    if (columns > 0) {
      PrintRows(statement, rows);
      PrintCount(static_cast<long>(rows.size()));
    } else if (!sqlite3_stmt_readonly(statement)) {
      const char* sql = sqlite3_sql(statement);
      const std::string text = sql != nullptr ? sql : "";
      const std::size_t word = text.find_first_not_of(" \t\r\n");
      const std::string verb = word == std::string::npos ? "" : UpperCase(text.substr(word, 6));
      if (verb == "INSERT" || verb == "UPDATE" || verb == "DELETE") {
        PrintCount(sqlite3_changes(db_));
      }
    }
    return std::nullopt;
  }

  std::string databases_;
  std::string server_name_;
  std::string catalog_;
  LockWait lock_wait_;  // how db_ waits for other connections' locks
  sqlite3* db_ = nullptr;
};

bool IsLocalServer(const std::string& server, const std::string& computer) {
  const std::string upper = UpperCase(server);
  return upper.empty() || upper == "." || upper == "(LOCAL)" || upper == "LOCALHOST" ||
         upper == "127.0.0.1" || upper == UpperCase(computer);
}

bool ServerRunning(StandIn& osql) {
  try {
    osql.shell().RegRead(std::string(kServicesKey) + kDatabaseService + "\\Start");
  } catch (const HostError&) {
    return false;  // the engine is not installed
  }
  return RunningServices(osql.machine().root()).IsRunning(kDatabaseService);
}

// The input in UTF-8: the file's text, or the query. nullopt after saying
// why not.
std::optional<std::string> ReadInput(StandIn& osql, const Options& options) {
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (options.query) return Cp1252ToUtf8(*options.query);
  try {
    const std::string text = osql.ReadText(*options.input_file);
    if (text.starts_with(kUtf8Mark)) return text.substr(kUtf8Mark.size());
    return Cp1252ToUtf8(text);
  } catch (const HostError&) {
    std::printf("[osql] Error: Can't open input file '%s'.\n", options.input_file->c_str());
    return std::nullopt;
  }
}

int Osql(StandIn& osql) {
  const Options options = ParseOptions(osql.arguments());
  const std::string computer = osql.shell().Environment("COMPUTERNAME");
  if (!IsLocalServer(options.server, computer) || !ServerRunning(osql)) {
    std::printf(
        "[DBNETLIB]SQL Server does not exist or access denied.\n"
        "[DBNETLIB]ConnectionOpen (Connect()).\n");
    osql.Record(JsonObject().Add("connected", false));
    return 1;
  }
  const std::optional<std::string> input = ReadInput(osql, options);
  if (!input) {
    osql.Record(JsonObject().Add("input_file", *options.input_file).Add("found", false));
    return 1;
  }

  Server server(osql.machine().DatabasesPath(), computer.empty() ? "(local)" : computer,
                options.catalog);
  long failed = 0;
  long batches = 0;
  for (const OsqlBatch& batch : SplitBatches(*input)) {
    ++batches;
    if (server.RunBatch(batch)) continue;
    ++failed;
    if (options.stop_at_error) break;
  }
  std::fflush(stdout);
  osql.Record(JsonObject().Add("batches", batches).Add("failed_batches", failed));
  return options.stop_at_error && failed > 0 ? 1 : 0;
}

}  // namespace
}  // namespace quillon::machine

int main(int argc, char** argv) {
  return quillon::machine::RunStandIn("osql", argc, argv, quillon::machine::Osql);
}

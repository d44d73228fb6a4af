// The portable host's database server: every catalog is one SQLite file,
// <databases folder>/<catalog>.sqlite3.
//
// Several checker processes run statements against the same file at once,
// without transactions. A statement therefore waits for the locks of the
// others (busy timeout, then retries) instead of failing, and a recordset
// never holds a lock: Execute reads what it needs and finalizes the
// statement before it returns.
#pragma once

#include <memory>
#include <string>

#include "shared/database.h"

namespace quillon {

class SqliteDatabase : public Database {
 public:
  // databases_folder: POSIX path of the machine's databases/ folder.
  explicit SqliteDatabase(std::string databases_folder);

  // A connection that Open attaches to the catalog its connection string
  // names ("Initial Catalog=<name>"). Open never creates a database file: a
  // missing catalog is an error, as is a connection string without one.
  // Errors are HostError with error_number::kUnspecified and the driver's
  // message; reading a NULL field gives error_number::kInvalidUseOfNull.
  std::unique_ptr<Connection> NewConnection() override;

 private:
  std::string databases_folder_;
};

}  // namespace quillon

// The database layer: a connection that runs statement texts and recordsets
// that give the first row's values as text. Statements are single texts with
// values inlined (see QuoteText); there are no parameters and no transactions.
#pragma once

#include <memory>
#include <string>

namespace quillon {

// The access-control database on the local server, Windows authentication.
inline constexpr char kZentrelConnectionString[] =
    "Provider=SQLOLEDB;Initial Catalog=Zentrel;Integrated Security=SSPI;";

class Recordset {
 public:
  virtual ~Recordset() = default;
  // True when the statement returned no row.
  virtual bool Eof() const = 0;
  // The first row's value of a column, as text (numbers as decimal digits).
  // Throws HostError for an unknown column, a NULL value, or at Eof.
  virtual std::string Field(const std::string& column) const = 0;
  virtual void Close() = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;
  // Throws HostError when the database cannot be reached or does not exist.
  virtual void Open(const std::string& connection_string) = 0;
  // Runs one statement. A SELECT's rows are in the recordset; other
  // statements give an empty one. Throws HostError when the statement fails.
  virtual std::unique_ptr<Recordset> Execute(const std::string& statement) = 0;
  virtual void Close() = 0;
};

// Creates unopened connections (one per database procedure).
class Database {
 public:
  virtual ~Database() = default;
  virtual std::unique_ptr<Connection> NewConnection() = 0;
};

// Doubles every single quote of a text value: O'Neil -> O''Neil.
std::string DoubleQuotes(const std::string& value);
// A text value as a statement literal: 'O''Neil'.
std::string QuoteText(const std::string& value);

}  // namespace quillon

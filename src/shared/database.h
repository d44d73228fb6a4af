// The database layer: a connection that runs statements and recordsets that
// give the rows' values as text. A statement is either a single text with
// values inlined (see QuoteText), as the checker writes them, or a text with
// "?" placeholders and a value bound to each, which is how every value that
// comes from a person is passed. A connection may hold one transaction at a
// time (see Transaction).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace quillon {

// The access-control database on the local server, Windows authentication.
inline constexpr char kZentrelConnectionString[] =
    "Provider=SQLOLEDB;Initial Catalog=Zentrel;Integrated Security=SSPI;";

// A value bound to a "?" placeholder: text or an integer.
using Parameter = std::variant<std::string, std::int64_t>;
using Parameters = std::vector<Parameter>;

class Recordset {
 public:
  virtual ~Recordset() = default;
  // True when the statement returned no row, or after MoveNext has passed
  // the last one.
  virtual bool Eof() const = 0;
  // The current row's value of a column, as text (numbers as decimal
  // digits); the current row is the first one until MoveNext.
  // Throws HostError for an unknown column, a NULL value, or at Eof.
  virtual std::string Field(const std::string& column) const = 0;
  // Moves to the next row (Eof after the last). Throws HostError at Eof.
  virtual void MoveNext() = 0;
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
  // Runs one statement with parameters[i] bound to its i-th "?", text as
  // text and integers as integers; the values never become statement text.
  // With max_rows > 0 a SELECT's recordset holds at most that many rows.
  // Throws HostError when the statement fails or the number of values is
  // not the number of placeholders.
  virtual std::unique_ptr<Recordset> ExecuteBound(const std::string& statement,
                                                  const Parameters& parameters,
                                                  std::size_t max_rows = 0) = 0;
  // A transaction: the statements between BeginTrans and CommitTrans take
  // effect together, or none of them after RollbackTrans (or when the
  // connection closes first). One transaction at a time; each throws
  // HostError when misused or when the database refuses.
  virtual void BeginTrans() = 0;
  virtual void CommitTrans() = 0;
  virtual void RollbackTrans() = 0;
  virtual void Close() = 0;
};

// A transaction for one scope: begun on construction, rolled back on the way
// out unless Commit was called, so that an error leaves nothing half done.
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();
  void Commit();

 private:
  Connection& connection_;
  bool open_ = true;
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

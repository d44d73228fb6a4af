// What the database backends share: ADO's texts for the misuses it refuses,
// the error a failing database operation throws, and the recordset that
// holds the rows of a statement's result. Programs use database.h only.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shared/database.h"

namespace quillon::ado {

inline constexpr char kObjectClosed[] = "Operation is not allowed when the object is closed.";
inline constexpr char kObjectOpen[] = "Operation is not allowed when the object is open.";
inline constexpr char kNoCurrentRecord[] =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.";
inline constexpr char kItemNotFound[] =
    "Item cannot be found in the collection corresponding to the requested name or ordinal.";
inline constexpr char kTransactionOpen[] = "A transaction is already open on this connection.";
inline constexpr char kNoTransaction[] = "No transaction is open on this connection.";

// The message for a statement whose placeholders and values differ in number.
std::string ParameterCountMessage(std::size_t placeholders, std::size_t values);

// Throws the HostError of a failing database operation:
// error_number::kUnspecified with the message.
[[noreturn]] void Fail(const std::string& message);

// The rows of a statement's result, read in full before Execute returns, so
// that no cursor or lock outlives it. Fields are read as ADO reads them: a
// closed recordset, a field at Eof, an unknown column and a NULL value each
// fail with ADO's text (a NULL with error_number::kInvalidUseOfNull).
class RowsRecordset : public Recordset {
 public:
  // Column names and values as text; nullopt is NULL.
  using Row = std::vector<std::pair<std::string, std::optional<std::string>>>;
  // The value of the row's column of that name by the backend's rule for
  // column names; nullptr when the row has none.
  using ColumnFinder = const std::optional<std::string>* (*)(const Row& row,
                                                             const std::string& column);

  // No rows: Eof.
  explicit RowsRecordset(ColumnFinder find) : find_(find) {}
  RowsRecordset(std::vector<Row> rows, ColumnFinder find) : rows_(std::move(rows)), find_(find) {}

  bool Eof() const override;
  std::string Field(const std::string& column) const override;
  void MoveNext() override;
  void Close() override;

 private:
  std::vector<Row> rows_;
  std::size_t current_ = 0;
  bool closed_ = false;
  ColumnFinder find_;
};

}  // namespace quillon::ado

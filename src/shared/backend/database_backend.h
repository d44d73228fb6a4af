// What the database backends share: ADO's texts for the misuses it refuses,
// the error a failing database operation throws, and the recordset that
// holds the first row of a statement's result. Programs use database.h only.
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

// Throws the HostError of a failing database operation:
// error_number::kUnspecified with the message.
[[noreturn]] void Fail(const std::string& message);

// The first row of a statement's result, or no row at all. Fields are read
// as ADO reads them: a closed recordset, a field at Eof, an unknown column
// and a NULL value each fail with ADO's text (a NULL with
// error_number::kInvalidUseOfNull).
class FirstRowRecordset : public Recordset {
 public:
  // Column names and values as text; nullopt is NULL.
  using Row = std::vector<std::pair<std::string, std::optional<std::string>>>;
  // The value of the row's column of that name by the backend's rule for
  // column names; nullptr when the row has none.
  using ColumnFinder = const std::optional<std::string>* (*)(const Row& row,
                                                             const std::string& column);

  // No row: Eof.
  explicit FirstRowRecordset(ColumnFinder find) : find_(find) {}
  FirstRowRecordset(Row row, ColumnFinder find) : eof_(false), row_(std::move(row)), find_(find) {}

  bool Eof() const override;
  std::string Field(const std::string& column) const override;
  void Close() override;

 private:
  bool eof_ = true;
  bool closed_ = false;
  Row row_;
  ColumnFinder find_;
};

}  // namespace quillon::ado

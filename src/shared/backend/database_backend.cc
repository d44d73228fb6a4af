#include "shared/backend/database_backend.h"

#include "shared/host_error.h"

namespace quillon::ado {

void Fail(const std::string& message) {
  throw HostError(error_number::kUnspecified, message);
}

std::string ParameterCountMessage(std::size_t placeholders, std::size_t values) {
  return "The statement has " + std::to_string(placeholders) + " parameter placeholder(s) but " +
         std::to_string(values) + " value(s) were given.";
}

bool RowsRecordset::Eof() const {
  if (closed_) Fail(kObjectClosed);
  return current_ >= rows_.size();
}

std::string RowsRecordset::Field(const std::string& column) const {
  if (Eof()) Fail(kNoCurrentRecord);
  const std::optional<std::string>* value = find_(rows_[current_], column);
  if (value == nullptr) Fail(kItemNotFound);
  if (!*value) throw StandardError(error_number::kInvalidUseOfNull);
  return **value;
}

void RowsRecordset::MoveNext() {
  if (Eof()) Fail(kNoCurrentRecord);
  ++current_;
}

void RowsRecordset::Close() {
  closed_ = true;
  rows_.clear();
}

}  // namespace quillon::ado

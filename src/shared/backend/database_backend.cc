#include "shared/backend/database_backend.h"

#include "shared/host_error.h"

namespace quillon::ado {

void Fail(const std::string& message) {
  throw HostError(error_number::kUnspecified, message);
}

bool FirstRowRecordset::Eof() const {
  if (closed_) Fail(kObjectClosed);
  return eof_;
}

std::string FirstRowRecordset::Field(const std::string& column) const {
  if (closed_) Fail(kObjectClosed);
  if (eof_) Fail(kNoCurrentRecord);
  const std::optional<std::string>* value = find_(row_, column);
  if (value == nullptr) Fail(kItemNotFound);
  if (!*value) throw StandardError(error_number::kInvalidUseOfNull);
  return **value;
}

void FirstRowRecordset::Close() {
  closed_ = true;
}

}  // namespace quillon::ado

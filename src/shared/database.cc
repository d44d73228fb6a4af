#include "shared/database.h"

namespace quillon {

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.BeginTrans();
}

Transaction::~Transaction() {
  if (!open_) return;
  // Already on an error's way out: a failing rollback must not replace that
  // error, and the database drops the transaction with the connection.
  try {
    connection_.RollbackTrans();
  } catch (...) {
  }
}

void Transaction::Commit() {
  // A commit that fails leaves the transaction open, for the rollback.
  connection_.CommitTrans();
  open_ = false;
}

std::string DoubleQuotes(const std::string& value) {
  std::string doubled;
  doubled.reserve(value.size() + 2);
  for (char c : value) {
    doubled += c;
    if (c == '\'') doubled += '\'';
  }
  return doubled;
}

// Built by appending: GCC 12 at -O3 reports a false -Wrestrict overlap for
// "'" + std::string&&.
std::string QuoteText(const std::string& value) {
  std::string quoted = "'";
  quoted += DoubleQuotes(value);
  quoted += '\'';
  return quoted;
}

}  // namespace quillon

// How the database command-line client reads its input: batches separated
// by lines that hold only GO, and inside a batch the statements the server
// itself handles (USE, CREATE DATABASE, DROP DATABASE) apart from the SQL
// that runs against the selected catalog.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon::machine {

struct OsqlBatch {
  std::string text;    // the batch's lines, each ending in LF
  int first_line = 1;  // line number of its first line in the input
};

// Splits the input at lines that hold only GO (any case, blanks and tabs
// around allowed). Batches that hold nothing but blanks are dropped; the
// text after the last GO is a batch of its own.
std::vector<OsqlBatch> SplitBatches(std::string_view input);

struct OsqlStep {
  enum class Kind { kSql, kUse, kCreateDatabase, kDropDatabase };
  Kind kind = Kind::kSql;
  std::string text;  // the SQL, or the catalog name
  int line = 1;      // line number of the step's first line in the input
};

// Splits a batch into its steps, in order. A line that holds only
// "USE name", "CREATE DATABASE name" or "DROP DATABASE name" (keywords in any
// case, the name bare, in [brackets] or in "double quotes", an optional ";")
// is a step of its own; the lines between such lines form SQL steps (blank
// ones are dropped).
std::vector<OsqlStep> SplitSteps(const OsqlBatch& batch);

}  // namespace quillon::machine

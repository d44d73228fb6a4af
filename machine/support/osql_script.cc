#include "support/osql_script.h"

#include <optional>

#include "shared/helpers/text.h"

namespace quillon::machine {
namespace {

// Splits at runs of blanks and tabs.
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// Lines with their line ends (LF, or CR LF) removed.
std::vector<std::string> Lines(std::string_view input) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    std::string_view line = input.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

std::string Unbracket(std::string name) {
  if (name.size() >= 2 && ((name.front() == '[' && name.back() == ']') ||
                           (name.front() == '"' && name.back() == '"'))) {
    return name.substr(1, name.size() - 2);
  }
  return name;
}

// "USE name", "CREATE DATABASE name", "DROP DATABASE name" on a line alone.
std::optional<OsqlStep> ServerStatement(std::string_view line) {
  std::string_view text = TrimWhitespace(line);
  if (!text.empty() && text.back() == ';') text = TrimWhitespace(text.substr(0, text.size() - 1));
  const std::vector<std::string> words = Words(text);
  if (words.size() == 2 && UpperCase(words[0]) == "USE") {
    return OsqlStep{OsqlStep::Kind::kUse, Unbracket(words[1]), 0};
  }
  if (words.size() == 3 && UpperCase(words[1]) == "DATABASE") {
    if (UpperCase(words[0]) == "CREATE") {
      return OsqlStep{OsqlStep::Kind::kCreateDatabase, Unbracket(words[2]), 0};
    }
    if (UpperCase(words[0]) == "DROP") {
      return OsqlStep{OsqlStep::Kind::kDropDatabase, Unbracket(words[2]), 0};
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<OsqlBatch> SplitBatches(std::string_view input) {
  std::vector<OsqlBatch> batches;
  OsqlBatch current;
  int line_number = 0;
  auto finish = [&](int next_first_line) {
    if (!TrimWhitespace(current.text).empty()) batches.push_back(current);
    current = OsqlBatch{"", next_first_line};
  };
  for (const std::string& line : Lines(input)) {
    ++line_number;
    if (UpperCase(TrimWhitespace(line)) == "GO") {
      finish(line_number + 1);
      continue;
    }
    current.text += line + "\n";
  }
  finish(line_number + 1);
  return batches;
}

std::vector<OsqlStep> SplitSteps(const OsqlBatch& batch) {
  std::vector<OsqlStep> steps;
  OsqlStep sql{OsqlStep::Kind::kSql, "", batch.first_line};
  auto finish_sql = [&](int next_line) {
    if (!TrimWhitespace(sql.text).empty()) steps.push_back(sql);
    sql = OsqlStep{OsqlStep::Kind::kSql, "", next_line};
  };
  int line_number = batch.first_line;
  for (const std::string& line : Lines(batch.text)) {
    if (std::optional<OsqlStep> statement = ServerStatement(line)) {
      finish_sql(line_number + 1);
      statement->line = line_number;
      steps.push_back(*statement);
    } else {
      if (TrimWhitespace(sql.text).empty()) {
        sql.text.clear();
        sql.line = line_number;
      }
      sql.text += line + "\n";
    }
    ++line_number;
  }
  finish_sql(line_number);
  return steps;
}

}  // namespace quillon::machine

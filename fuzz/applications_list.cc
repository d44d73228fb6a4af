// Seeding from the applications list on the setup media and the executables
// list the list writer made: every rule line parses to a trimmed name and an
// upper-case pattern; the command input file the client runs holds one
// statement per line, each text value in one well-formed quoted literal that
// gives back exactly the name or path (nothing of a name reaches the SQL
// outside its quotes), application ids counting up from 1, and only
// executables that hold their rule's pattern.
//
// The users list the users list writer made goes the same way: one row per
// non-blank line, the trimmed name in one well-formed literal.
//
// Input: the applications list, a NUL byte, the executables list, a NUL
// byte, the users list.
#include <algorithm>
#include <string>

#include "fakes/fake_host.h"
#include "fuzz_check.h"
#include "setup/seeding.h"
#include "shared/helpers/text.h"

using namespace quillon;

namespace {

constexpr char kExecutables[] = "C:\\TEMP\\ZentrelEXEs.list";
constexpr char kApplications[] = "D:\\Quillon\\Applications.list";
constexpr char kInput[] = "C:\\TEMP\\OSQL.input";

// Reads the SQL string literals of a statement in order; false when a quote
// is left open. Outside the literals only the statement's own text stands.
bool Literals(const std::string& statement, std::vector<std::string>& literals,
              std::string& outside) {
  std::size_t i = 0;
  while (i < statement.size()) {
    if (statement[i] != '\'') {
      outside += statement[i++];
      continue;
    }
    std::string literal;
    ++i;
    while (true) {
      if (i >= statement.size()) return false;
      if (statement[i] == '\'') {
        if (i + 1 < statement.size() && statement[i + 1] == '\'') {
          literal += '\'';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      literal += statement[i++];
    }
    literals.push_back(literal);
    outside += "?";
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = fuzz::Parts(fuzz::Text(data, size), 3);
  const PatternFolders folders{"C:\\WINDOWS", "C:\\PROGRAM FILES"};

  // Each rule line by itself.
  std::vector<ApplicationRule> rules;
  for (const std::string& line : SplitAll(parts[0], "\n")) {
    const std::optional<ApplicationRule> rule = ParseApplicationRule(line, folders);
    FUZZ_CHECK(rule.has_value() == (line.find(';') != std::string::npos));
    if (!rule) continue;
    FUZZ_CHECK(rule->name == TrimBlanks(rule->name));
    FUZZ_CHECK(rule->pattern == UpperCase(rule->pattern));
    FUZZ_CHECK(rule->name.find(';') == std::string::npos);
  }

  // The whole command input file.
  testing::FakeMachine machine;
  machine.files.AddFolder("C:\\TEMP");
  machine.files.AddFile(kApplications, parts[0]);
  machine.files.AddFile(kExecutables, parts[1]);
  WriteApplicationsInput(machine.files, kExecutables, kApplications, kInput, folders);
  const std::string input = machine.files.Content(kInput).value_or("");
  FUZZ_CHECK(input.substr(0, 17) == "USE Zentrel\r\nGO\r\n");
  FUZZ_CHECK(input.size() >= 21 && input.substr(input.size() - 4) == "GO\r\n");

  std::vector<std::string> executables;
  for (std::string line : SplitAll(parts[1], "\n")) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // as ReadLine drops it
    executables.push_back(NormalizedExecutable(line));
  }
  long last_id = 0;
  std::string pending_name;
  for (const std::string& statement : SplitAll(input.substr(17, input.size() - 21), "\r\n")) {
    if (statement.empty()) continue;
    std::vector<std::string> literals;
    std::string outside;
    FUZZ_CHECK(Literals(statement, literals, outside));
    if (outside == "INSERT INTO APPS (app_name) VALUES (?)") {
      FUZZ_CHECK(literals.size() == 1);
      pending_name = literals[0];
      ++last_id;
      continue;
    }
    FUZZ_CHECK(outside == "INSERT INTO APP_EXES (exe_path, app_id) VALUES (?, ?)");
    FUZZ_CHECK(literals.size() == 2);
    FUZZ_CHECK(literals[1] == std::to_string(last_id));
    FUZZ_CHECK(std::find(executables.begin(), executables.end(), literals[0]) != executables.end());
    FUZZ_CHECK(!literals[0].empty());
  }

  // The users and base executables step.
  machine.files.AddFile("C:\\TEMP\\ZentrelUsers.list", parts[2]);
  SeedUsersAndBaseExecutables(
      machine.shell, machine.files,
      SetupValues{"C:\\WINDOWS", "C:\\Program Files", "C:\\TEMP", "D:\\Quillon"});
  const std::string users_input = machine.files.Content(kInput).value_or("");
  std::vector<std::string> users;
  for (std::string line : SplitAll(parts[2], "\n")) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!TrimBlanks(line).empty()) users.push_back(TrimBlanks(line));
  }
  std::size_t user_rows = 0;
  for (const std::string& statement : SplitAll(users_input, "\r\n")) {
    std::vector<std::string> literals;
    std::string outside;
    FUZZ_CHECK(Literals(statement, literals, outside));
    if (outside != "INSERT INTO USERS (user_name, user_status) VALUES (?, ?)") continue;
    FUZZ_CHECK(literals.size() == 2 && literals[1] == "DISABLED");
    FUZZ_CHECK(user_rows < users.size() && literals[0] == users[user_rows]);
    ++user_rows;
  }
  FUZZ_CHECK(user_rows == users.size());
  return 0;
}

#include "programs/program_fixture.h"

#include <regex>
#include <stdexcept>

#include "shared/win32/dialog_script.h"
#include "shared/win32/odbc_database.h"
#include "shared/win32/win32_shell.h"

namespace quillon::testing {

namespace {

std::string ProgramFilesFolder() {
  const std::string folder = VariableOf("ProgramFiles").value_or("");
  if (folder.empty()) throw std::runtime_error("ProgramFiles is not set");
  return folder;
}

}  // namespace

ProgramMachine::ProgramMachine()
    : program_files_(ProgramFilesFolder()),
      windir_variable_("windir", scratch_ / "WINDOWS"),
      answers_(std::make_unique<ScopedVariable>(kAnswersVariable, scratch_ / "answers.txt")),
      dialog_log_(kDialogLogVariable, scratch_ / "dialogs.jsonl"),
      record_file_("QUILLON_RECORD_FILE", scratch_ / "started.txt"),
      saved_connection_string_(kConnectionStringValue) {
  if (Exists(program_files_ + "\\Harlwick")) {
    throw std::runtime_error(program_files_ + "\\Harlwick exists: not a machine for these tests");
  }
  MakeFolders(product() + "\\Logs");
  MakeFolders(windir() + "\\system32");
}

ProgramMachine::~ProgramMachine() {
  // A program the product started on its own (the mailer that a denied
  // launch hands its request to) may still be running from the product
  // folder for a moment after the test has seen what it waited for, and
  // Windows keeps a running program's file: try again until it has ended,
  // so the next test finds no machine left behind.
  const std::string tree = program_files_ + "\\Harlwick";
  for (int attempt = 0; attempt < 300 && Exists(tree); ++attempt) {
    if (attempt > 0) Sleep(100);
    DeleteTree(tree);
  }
}

void ProgramMachine::Install(const std::string& built_file, const std::string& path) const {
  MakeFolders(path.substr(0, path.find_last_of('\\')));
  if (!CopyFileA((BuildFolder() + "\\" + built_file).c_str(), path.c_str(), FALSE)) {
    throw std::runtime_error("cannot install " + built_file + " as " + path);
  }
}

void ProgramMachine::ScriptAnswers(const std::string& lines) const {
  WriteBytes(scratch_ / "answers.txt", lines);
}

void ProgramMachine::UseRealWindows() {
  answers_.reset();
  answers_ = std::make_unique<ScopedVariable>(kAnswersVariable, std::nullopt);
}

std::vector<std::string> ProgramMachine::DialogLog() const {
  return Lines(ReadBytes(scratch_ / "dialogs.jsonl").value_or(""));
}

void ProgramMachine::PointDatabaseAt(const std::string& odbc_connection_string) {
  Win32Shell().RegWrite(kConnectionStringValue, odbc_connection_string, "REG_SZ");
}

void ProgramMachine::UseFreshDatabase() {
  PointDatabaseAt(SqliteConnectionString(UniqueName("zentrel")));
  for (const std::string& statement : ZentrelTableStatements()) Sql(statement);
}

void ProgramMachine::Sql(const std::string& statement) {
  auto connection = OdbcDatabase().NewConnection();
  connection->Open(kZentrelConnectionString);
  connection->Execute(statement);
  connection->Close();
}

std::optional<std::string> ProgramMachine::Value(const std::string& select,
                                                 const std::string& column) {
  auto connection = OdbcDatabase().NewConnection();
  connection->Open(kZentrelConnectionString);
  auto rows = connection->Execute(select);
  if (rows->Eof()) return std::nullopt;
  return rows->Field(column);
}

long long ProgramMachine::Count(const std::string& table_and_condition) {
  return std::stoll(Value("SELECT COUNT(*) AS n FROM " + table_and_condition, "n").value_or("-1"));
}

std::optional<DWORD> ProgramMachine::Run(const std::string& command_line) const {
  return RunToEnd(command_line);
}

std::string NormalizedPath(const std::string& path) {
  char long_path[MAX_PATH + 1] = {};
  if (GetLongPathNameA(path.c_str(), long_path, sizeof long_path) == 0) {
    throw std::runtime_error("no long path for " + path);
  }
  std::string upper = long_path;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return upper;
}

bool IsTimestampedLine(const std::string& line, const std::string& rest) {
  static const std::regex stamp("[01][0-9]/[0-3][0-9]/[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]");
  return line.size() == 17 + rest.size() + 2 && std::regex_match(line.substr(0, 17), stamp) &&
         line.compare(17, rest.size(), rest) == 0 && line.compare(line.size() - 2, 2, "\r\n") == 0;
}

}  // namespace quillon::testing

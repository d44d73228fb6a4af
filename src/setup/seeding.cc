#include "setup/seeding.h"

#include <limits>

#include "shared/database.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"

namespace quillon {

namespace {

constexpr char kProgramFilesToken[] = "%PROGRAMFILES%";
constexpr char kWindirToken[] = "%WINDIR%";
// The identifier of base executables, which every user may start.
constexpr char kBaseExecutableId[] = "-1";

// The base executables below the upper-cased ProgramFiles and windir.
// Dusmere, the users' own access tool, is one of them: a controlled user must
// be able to start it to see their access and ask for more.
constexpr const char* kBaseBelowProgramFiles[] = {"\\HARLWICK\\ZENTREL\\CONFIG\\ZENTRELCONFIG.EXE",
                                                  "\\HARLWICK\\ZENTREL\\DUSMERE.EXE"};
constexpr const char* kBaseBelowWindir[] = {"\\EXPLORER.EXE",          "\\HH.EXE",
                                            "\\WINHELP.EXE",           "\\SYSTEM32\\NET.EXE",
                                            "\\SYSTEM32\\NET1.EXE",    "\\SYSTEM32\\USERINIT.EXE",
                                            "\\SYSTEM32\\WINHLP32.EXE"};

void WriteLine(TextStream& stream, const std::string& line) {
  stream.Write(line + "\r\n");
}

// Every occurrence of `token` replaced, scanning on after each replacement.
std::string ReplaceAll(std::string text, const std::string& token, const std::string& value) {
  for (std::size_t at = text.find(token); at != std::string::npos;
       at = text.find(token, at + value.size())) {
    text.replace(at, token.size(), value);
  }
  return text;
}

// The database command-line client on one input file, with the Windows
// account running Setup.
std::string ClientCommand(const SetupValues& values) {
  return "osql.exe -E -i \"" + values.temp + kCommandInputSuffix + "\"";
}

// The executables list, each line in its matching form, read once. Blank
// lines name no executable and are left out (no pattern can match them).
std::vector<std::string> ReadExecutables(HostFileSystem& files, const std::string& list) {
  std::vector<std::string> executables;
  auto stream = files.OpenTextFile(list, IoMode::kForReading, false);
  while (!stream->AtEndOfStream()) {
    std::string executable = NormalizedExecutable(stream->ReadLine());
    if (!executable.empty()) executables.push_back(std::move(executable));
  }
  stream->Close();
  return executables;
}

}  // namespace

PatternFolders UpperCasedFolders(const SetupValues& values) {
  return PatternFolders{UpperCase(values.windir), UpperCase(values.program_files)};
}

std::optional<ApplicationRule> ParseApplicationRule(const std::string& line,
                                                    const PatternFolders& folders) {
  const std::string trimmed = TrimBlanks(line);
  if (trimmed.find(';') == std::string::npos) return std::nullopt;
  const std::vector<std::string> fields = SplitAll(trimmed, ";");
  std::string pattern = TrimBlanks(UpperCase(fields[1]));
  pattern = ReplaceAll(pattern, kProgramFilesToken, folders.program_files);
  pattern = ReplaceAll(pattern, kWindirToken, folders.windir);
  return ApplicationRule{TrimBlanks(fields[0]), pattern};
}

std::string NormalizedExecutable(const std::string& line) {
  return TrimBlanks(UpperCase(line));
}

namespace {

// The statements of the seeding files, without their line ends.
std::string ExecutableStatement(const std::string& path, const std::string& app_id) {
  return "INSERT INTO APP_EXES (exe_path, app_id) VALUES (" + QuoteText(path) + ", " +
         QuoteText(app_id) + ")";
}

std::string ApplicationStatement(const std::string& name) {
  // A name holding an apostrophe has it doubled, as paths have.
  return "INSERT INTO APPS (app_name) VALUES (" + QuoteText(name) + ")";
}

std::string UserStatement(const std::string& name) {
  return "INSERT INTO USERS (user_name, user_status) VALUES (" + QuoteText(name) + ", 'DISABLED')";
}

}  // namespace

std::int32_t NextApplicationId(std::int32_t counter) {
  if (counter == std::numeric_limits<std::int32_t>::max()) {
    throw StandardError(error_number::kOverflow);
  }
  return counter + 1;
}

void WriteRuleStatements(const ApplicationRule& rule,
                         const std::vector<std::string>& normalized_executables,
                         ApplicationGroups& groups, TextStream& input) {
  if (rule.name != groups.previous_name) {
    groups.previous_name = rule.name;
    groups.group_written = false;
  }
  for (const std::string& executable : normalized_executables) {
    if (executable.find(rule.pattern) == std::string::npos) continue;
    if (!groups.group_written) {
      WriteLine(input, "");
      WriteLine(input, ApplicationStatement(rule.name));
      groups.counter = NextApplicationId(groups.counter);
      groups.group_written = true;
    }
    WriteLine(input, ExecutableStatement(executable, std::to_string(groups.counter)));
  }
}

void WriteApplicationsInput(HostFileSystem& files, const std::string& executables_list,
                            const std::string& applications_list, const std::string& command_input,
                            const PatternFolders& folders) {
  auto input = files.OpenTextFile(command_input, IoMode::kForWriting, true);
  WriteLine(*input, "USE Zentrel");
  WriteLine(*input, "GO");
  const std::vector<std::string> executables = ReadExecutables(files, executables_list);

  ApplicationGroups groups;
  auto rules = files.OpenTextFile(applications_list, IoMode::kForReading, false);
  while (!rules->AtEndOfStream()) {
    const std::optional<ApplicationRule> rule = ParseApplicationRule(rules->ReadLine(), folders);
    if (rule) WriteRuleStatements(*rule, executables, groups, *input);
  }
  WriteLine(*input, "GO");
  rules->Close();
  input->Close();
}

void SeedUsersAndBaseExecutables(HostShell& shell, HostFileSystem& files,
                                 const SetupValues& values) {
  shell.Run("Faldrin.exe", kWindowHidden, true);
  const std::string users_list = values.temp + kUsersListSuffix;
  if (!files.FileExists(users_list)) return;

  const PatternFolders folders = UpperCasedFolders(values);
  auto input = files.OpenTextFile(values.temp + kCommandInputSuffix, IoMode::kForWriting, true);
  WriteLine(*input, "USE Zentrel");
  WriteLine(*input, "GO");
  WriteLine(*input, "");
  for (const char* below : kBaseBelowProgramFiles) {
    WriteLine(*input, ExecutableStatement(folders.program_files + below, kBaseExecutableId));
  }
  for (const char* below : kBaseBelowWindir) {
    WriteLine(*input, ExecutableStatement(folders.windir + below, kBaseExecutableId));
  }
  WriteLine(*input, "GO");
  WriteLine(*input, "");

  auto users = files.OpenTextFile(users_list, IoMode::kForReading, false);
  while (!users->AtEndOfStream()) {
    const std::string name = TrimBlanks(users->ReadLine());
    if (!name.empty()) WriteLine(*input, UserStatement(name));
  }
  WriteLine(*input, "GO");
  users->Close();
  input->Close();

  shell.Run(ClientCommand(values), kWindowHidden, true);
}

void SeedApplications(HostShell& shell, HostFileSystem& files, const SetupValues& values) {
  const std::string executables_list = values.temp + kExecutablesListSuffix;
  // The list holds what the two runs below write, nothing older.
  if (files.FileExists(executables_list)) files.DeleteFile(executables_list, true);
  shell.Run("Gemthorn.exe \"" + values.program_files + "\"", kWindowHidden, true);
  shell.Run("Gemthorn.exe \"" + values.windir + "\"", kWindowHidden, true);
  if (!files.FileExists(executables_list)) return;

  WriteApplicationsInput(files, executables_list, kApplicationsList,
                         values.temp + kCommandInputSuffix, UpperCasedFolders(values));
  shell.Run(ClientCommand(values), kWindowHidden, true);
}

}  // namespace quillon

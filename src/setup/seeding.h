// Seeding the access-control database: the users with a profile on the
// machine, the base executables everybody may start, and the applications
// found on the machine by the rules of the applications list. Setup writes
// each batch into a command input file in TEMP and hands it to the database
// command-line client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "setup/setup.h"
#include "shared/host.h"

namespace quillon {

// The files of seeding, below TEMP or (the applications list) relative to the
// current directory.
inline constexpr char kUsersListSuffix[] = "\\ZentrelUsers.list";
inline constexpr char kExecutablesListSuffix[] = "\\ZentrelEXEs.list";
inline constexpr char kCommandInputSuffix[] = "\\OSQL.input";
inline constexpr char kApplicationsList[] = "Applications.list";

// The folders that stand for the tokens of the rules and head the base
// executables, upper-cased once.
struct PatternFolders {
  std::string windir;         // upper-cased windir
  std::string program_files;  // upper-cased ProgramFiles
};
PatternFolders UpperCasedFolders(const SetupValues& values);

// One rule of the applications list: the application's name as written and
// the upper-cased pattern with its tokens replaced.
struct ApplicationRule {
  std::string name;
  std::string pattern;
};

// The rule a line of the applications list holds, or nullopt for a line
// without ";" (blank lines, headings, remarks).
std::optional<ApplicationRule> ParseApplicationRule(const std::string& line,
                                                    const PatternFolders& folders);

// The form an executables list line is matched and written in: upper case,
// without blanks at either end.
std::string NormalizedExecutable(const std::string& line);

// Counts applications; the next identifier after `counter`. Throws HostError
// (overflow) past the largest 32-bit identifier.
std::int32_t NextApplicationId(std::int32_t counter);

// The applications step's state while the rules are read in order.
struct ApplicationGroups {
  std::int32_t counter = 0;    // application rows written so far
  bool group_written = false;  // the current group's row is written
  std::string previous_name;   // the last rule's name
};

// Writes the statements one rule adds for the executables it matches (each
// line ends in CR LF): the group's application row at its first match, then
// one row per matching executable with the group's identifier.
void WriteRuleStatements(const ApplicationRule& rule,
                         const std::vector<std::string>& normalized_executables,
                         ApplicationGroups& groups, TextStream& input);

// The whole command input file of the applications step from the
// executables list (read once and kept in memory) and the rules.
void WriteApplicationsInput(HostFileSystem& files, const std::string& executables_list,
                            const std::string& applications_list, const std::string& command_input,
                            const PatternFolders& folders);

// Users and base executables: the users list writer, then one input file and
// one client run. Nothing is written without a users list.
void SeedUsersAndBaseExecutables(HostShell& shell, HostFileSystem& files,
                                 const SetupValues& values);

// Applications: the executables list written afresh by two runs of its
// writer, then one input file and one client run. Nothing is written
// without an executables list.
void SeedApplications(HostShell& shell, HostFileSystem& files, const SetupValues& values);

}  // namespace quillon

// The list writers that the installer runs before it seeds the database:
// Faldrin.exe lists the machine's user accounts, Gemthorn.exe the executable
// files below a folder. Both write into the TEMP folder, in the system code
// page, one entry per line ending in CR LF.
#pragma once

#include <functional>
#include <string>

#include "shared/host.h"

namespace quillon::lists {

// The lists below TEMP.
inline constexpr char kUsersListSuffix[] = "\\ZentrelUsers.list";
inline constexpr char kExecutablesListSuffix[] = "\\ZentrelEXEs.list";

// Where a list writer reports what it skipped (one line, no line end).
using Report = std::function<void(const std::string& line)>;

// Faldrin: writes TEMP + "\ZentrelUsers.list" anew with the account name of
// every user profile of the machine, leaving out the system profiles (All
// Users, Default User, LocalService, NetworkService and SYSTEM's
// systemprofile). Returns the number of names written. A failure to list the
// profiles or to write the file propagates as HostError.
int WriteUsersList(Host& host);

// The folder named by the argument text: the text without blanks around it
// and without the double quotes that enclose it. "" when there is none.
std::string FolderArgument(const std::string& argument_text);

// Gemthorn: appends to TEMP + "\ZentrelEXEs.list" the full path, letter case
// as stored, of every file ending in ".exe" (any case) in the folder and the
// folders below it: a folder's files first, then its sub-folders, each in
// the platform's listing order. Links and junctions are not entered. A
// folder that cannot be read is reported and skipped; the walk goes on.
// Returns the number of paths appended. A list that cannot be written, or a
// start folder that does not exist, propagates as HostError.
int AppendExecutables(Host& host, const std::string& folder, const Report& report);

}  // namespace quillon::lists

// Dusmere: a user's own view of Quillon. It shows the user's status, the
// applications granted to them and their access requests not yet granted,
// offers to request access to a program, and sends such a request through
// the checker's request flow (request row, mailer, confirmation).
#pragma once

#include <string>
#include <vector>

#include "shared/host.h"

namespace quillon {

// At most this many entries of a list are shown in a box.
inline constexpr std::size_t kMaxListed = 20;

// Entries of a list, in id order; `more` when entries past kMaxListed exist.
struct Listing {
  std::vector<std::string> entries;
  bool more = false;
};

// What the access-control database holds for one user.
struct OwnAccess {
  bool known = false;       // a USERS row has the name
  bool controlled = false;  // a USERS row of the name is "ENABLED"
  Listing applications;     // names of the applications granted
  // Paths of the executables requested that the user may not start yet
  // (neither a base executable nor in an application granted): the schema
  // keeps no state of a request, so one that is not granted yet is pending.
  Listing pending_requests;
};

// The entry procedure. Nothing is trapped: a failure leaves as HostError for
// the standard error report. The argument text is not read.
void RunRequestTool(Host& host, const std::string& argument_text);

// Reads the user's status, grants and pending requests over one connection.
OwnAccess ReadOwnAccess(Database& database, const std::string& user_name);

// The typed text without blanks, tabs and line ends at its ends and without one pair of double
// quotes around it (as Explorer's "Copy as path" gives it); "/" as "\".
std::string CleanProgramPath(const std::string& typed);

// Why a cleaned path cannot be requested, as the box's text; "" when it
// names an existing .exe file by its full path on a drive.
std::string ProgramPathRefusal(HostFileSystem& files, const std::string& program_path);

}  // namespace quillon

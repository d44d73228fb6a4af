// The launch checker Zentrel: started by the hook library for one launch, it
// decides from the access-control database whether the launching user may
// run the executable; on a denial it terminates the new process, tells the
// user, offers an access request and writes the access log.
//
// Nothing here traps an error: a failing operation leaves the checker at
// once, so a launch that cannot be decided keeps running. The decision, the
// access request flow and the logs are shared with Dusmere (access/access.h).
#pragma once

#include <cstdint>
#include <string>

#include "access/access.h"
#include "shared/host.h"

namespace quillon {

// The hook library's request: executable path, an unused field, process id
// and user name, joined by "_|_".
struct LaunchRequest {
  std::string exePath;
  std::uint32_t processId = 0;
  std::string userName;
};

// The checker's entry procedure for its whole argument text.
void RunChecker(Host& host, const std::string& argument_text);

// Splits a request that holds the separator. Throws HostError: subscript out
// of range with fewer than four fields, type mismatch when the process id is
// not decimal digits, overflow above 4294967295.
LaunchRequest ParseLaunchRequest(const std::string& argument_text);

// Terminates the launched process; a process that is gone is left alone.
void TerminateLaunchedProcess(Processes& processes, std::uint32_t process_id);

// Shows the "Access Denied!" box; true when the user asks for access.
bool AskToRequestAccess(Dialogs& dialogs, const std::string& exe_path,
                        const std::string& user_name);

}  // namespace quillon

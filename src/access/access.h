// What the launch checker and Dusmere share about a user's access: the stored
// form of an executable's path, the access decision with the registration of
// new executables and users, the access request flow (the request row, the
// mailer Corvane.exe, the confirmation), the product's logs and the
// environment reader they all use.
//
// Nothing here traps an error: a failing operation leaves at once as
// HostError, for the calling program's standard error report.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "shared/helpers/product.h"
#include "shared/host.h"

namespace quillon {

// The decision for an executable that belongs to no application.
inline constexpr char kUnassigned[] = "Unassigned";
// The size of the buffer environment values are read into.
inline constexpr std::size_t kEnvironmentBufferSize = 255;

// The path with every directory in the form the file system stores it (long
// names for short aliases, an empty element for a directory that is not
// found), the file name as given, all upper case. The path holds ":\".
std::string NormalizeExePath(DirectorySearch& search, const std::string& exe_path);

// A connection opened on the access-control database.
std::unique_ptr<Connection> OpenZentrel(Database& database);

// True when the look-up returns a row.
bool Found(Connection& connection, const std::string& look_up);

// The facts the access rules look at, asked for in the order the rules
// need them (a fact the decision does not need is never asked for).
class AccessFacts {
 public:
  virtual ~AccessFacts() = default;
  // The executable is a base executable, allowed for everybody.
  virtual bool IsBaseExecutable() = 0;
  // The user is controlled: known and "ENABLED".
  virtual bool IsControlledUser() = 0;
  // The name of the application the executable belongs to; nullopt when it
  // belongs to none.
  virtual std::optional<std::string> ApplicationName() = 0;
  // The user holds a grant of the executable's application.
  virtual bool IsGranted() = 0;
};

// The access rules: "" when allowed, otherwise the executable's application
// name or "Unassigned".
std::string DecideAccess(AccessFacts& facts);

// The facts as the access-control database holds them for a stored
// executable path and a user name, read over an open connection with the
// checker's look-ups (read only: nothing is registered).
class DatabaseAccessFacts : public AccessFacts {
 public:
  DatabaseAccessFacts(Connection& connection, const std::string& exe_path,
                      const std::string& user_name);
  bool IsBaseExecutable() override;
  bool IsControlledUser() override;
  std::optional<std::string> ApplicationName() override;
  bool IsGranted() override;

 private:
  Connection& connection_;
  std::string path_;  // quotes doubled
  std::string user_;  // quotes doubled
};

// The checker lets its own mailer pass unchecked when the hook library
// reports its path (upper case) under the product folder.
bool IsRequestMailer(const std::string& exe_path, const std::string& program_files);

// The checker decides only executables on a local drive (the path holds
// ":\").
bool IsLocalExePath(const std::string& exe_path);

// Registers the executable and the user when they are new, then decides:
// "" when allowed, otherwise the executable's application name or
// "Unassigned".
std::string CheckAccess(Database& database, const std::string& exe_path,
                        const std::string& user_name);

// Records the request and mails it when the mail settings are complete, then
// confirms it to the user.
void RequestAccess(Host& host, const std::string& exe_path, const std::string& user_name,
                   const std::string& app_name);

// The ACCESS_REQUESTS row of the user and the executable, inserted unless it
// exists; returns its request id, or "" when the user or the executable is
// unknown.
std::string RecordAccessRequest(Database& database, const std::string& exe_path,
                                const std::string& user_name);

// Starts the mailer Corvane.exe, hidden and without waiting, with the seven
// values as its arguments.
void StartRequestMailer(HostShell& shell, EnvironmentReader& environment,
                        const std::string& mail_server, const std::string& admin_address,
                        const std::string& exe_path, const std::string& app_name,
                        const std::string& user_name, const std::string& request_id);

// An environment value as read into a buffer of 255 characters: "" when unset
// and when it has 255 characters or more.
std::string ReadEnvironmentValue(EnvironmentReader& environment, const std::string& name);

// The local time as MM/DD/YY HH:MM:SS.
std::string FormatLogTimestamp(Clock& clock);

// Appends "<timestamp>: <path>_|_<decision>_|_<user>" to Logs\Access.log.
void WriteAccessLog(HostFileSystem& files, EnvironmentReader& environment, Clock& clock,
                    const std::string& exe_path, const std::string& decision,
                    const std::string& user_name);

// Appends "<timestamp>: ERROR! <message>" to Logs\Error.log.
void WriteErrorLog(HostFileSystem& files, EnvironmentReader& environment, Clock& clock,
                   const std::string& message);

}  // namespace quillon

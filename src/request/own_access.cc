// What the access-control database holds for the user who runs Dusmere, read
// over one connection without changing anything. The database layer gives a
// result's first row only, so a list is walked one statement per entry, each
// asking for the first row past the id seen last.
#include <memory>

#include "access/access.h"
#include "request/request_tool.h"

namespace quillon {

namespace {

// The rows of "SELECT <id> AS row_id, <value> AS row_value <from_where>" in
// id order: up to kMaxListed values, and whether more rows exist. The
// condition on the id is joined to from_where with AND.
Listing Walk(Connection& connection, const std::string& id, const std::string& value,
             const std::string& from_where) {
  Listing listing;
  std::string past;
  while (true) {
    const std::string after = past.empty() ? "" : " AND " + id + " > '" + past + "'";
    auto rows = connection.Execute("SELECT " + id + " AS row_id, " + value + " AS row_value " +
                                   from_where + after + " ORDER BY " + id);
    if (rows->Eof()) return listing;
    if (listing.entries.size() == kMaxListed) {
      rows->Close();
      listing.more = true;
      return listing;
    }
    past = rows->Field("row_id");
    listing.entries.push_back(rows->Field("row_value"));
    rows->Close();
  }
}

}  // namespace

OwnAccess ReadOwnAccess(Database& database, const std::string& user_name) {
  const std::string user = DoubleQuotes(user_name);
  auto connection = OpenZentrel(database);
  OwnAccess access;

  access.known =
      Found(*connection, "SELECT USERS.user_id FROM USERS WHERE USERS.user_name = '" + user + "'");
  // The checker's own test of a controlled user.
  access.controlled = Found(*connection, "SELECT * FROM USERS WHERE USERS.user_name = '" + user +
                                             "' AND USERS.user_status = 'ENABLED'");
  // An application without a name is listed with an empty one.
  access.applications =
      Walk(*connection, "APPS.app_id", "COALESCE(APPS.app_name, '')",
           "FROM APPS, ALLOWED_APPS, USERS WHERE APPS.app_id = ALLOWED_APPS.app_id AND "
           "ALLOWED_APPS.user_id = USERS.user_id AND USERS.user_name = '" +
               user + "'");
  // A request is pending while the checker would still deny its executable
  // to the user when controlled: no row of its path is a base executable or
  // belongs to an application granted to the user.
  access.pending_requests =
      Walk(*connection, "ACCESS_REQUESTS.request_id", "APP_EXES.exe_path",
           "FROM ACCESS_REQUESTS, APP_EXES, USERS WHERE ACCESS_REQUESTS.exe_id = APP_EXES.exe_id "
           "AND ACCESS_REQUESTS.user_id = USERS.user_id AND USERS.user_name = '" +
               user +
               "' AND APP_EXES.exe_path NOT IN (SELECT BASE.exe_path FROM APP_EXES BASE WHERE "
               "BASE.app_id = '-1') AND APP_EXES.exe_path NOT IN (SELECT GRANTED.exe_path FROM "
               "APP_EXES GRANTED, APPS, ALLOWED_APPS, USERS GRANTEE WHERE GRANTED.app_id = "
               "APPS.app_id AND APPS.app_id = ALLOWED_APPS.app_id AND ALLOWED_APPS.user_id = "
               "GRANTEE.user_id AND GRANTEE.user_name = '" +
               user + "')");

  connection->Close();
  return access;
}

}  // namespace quillon

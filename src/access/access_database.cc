// The two database procedures of a user's access: the decision with the
// registration of new executables and users, and the recording of access
// requests. Each opens its own connection and runs its statements one after
// another, without a transaction; a failure leaves at once.
#include <memory>
#include <optional>

#include "access/access.h"
#include "shared/helpers/text.h"

namespace quillon {

std::unique_ptr<Connection> OpenZentrel(Database& database) {
  auto connection = database.NewConnection();
  connection->Open(kZentrelConnectionString);
  return connection;
}

bool Found(Connection& connection, const std::string& look_up) {
  auto rows = connection.Execute(look_up);
  if (rows->Eof()) return false;
  rows->Close();
  return true;
}

namespace {

// The first row's value of a column, or nullopt when there is no row.
std::optional<std::string> FirstValue(Connection& connection, const std::string& look_up,
                                      const std::string& column) {
  auto rows = connection.Execute(look_up);
  if (rows->Eof()) return std::nullopt;
  std::string value = rows->Field(column);
  rows->Close();
  return value;
}

// Runs the insert when the look-up finds no row.
void InsertUnlessFound(Connection& connection, const std::string& look_up,
                       const std::string& insert) {
  if (!Found(connection, look_up)) connection.Execute(insert);
}

}  // namespace

std::string DecideAccess(AccessFacts& facts) {
  // A base executable is allowed for everybody.
  if (facts.IsBaseExecutable()) return "";
  // A user who is not enabled is not controlled.
  if (!facts.IsControlledUser()) return "";
  const std::optional<std::string> app_name = facts.ApplicationName();
  if (!app_name) return kUnassigned;
  if (facts.IsGranted()) return "";
  // Denied. An empty decision would read as allowed, so an application
  // without a name is reported like no application at all.
  return app_name->empty() ? kUnassigned : *app_name;
}

DatabaseAccessFacts::DatabaseAccessFacts(Connection& connection, const std::string& exe_path,
                                         const std::string& user_name)
    : connection_(connection), path_(DoubleQuotes(exe_path)), user_(DoubleQuotes(user_name)) {}

bool DatabaseAccessFacts::IsBaseExecutable() {
  return Found(connection_, "SELECT * FROM APP_EXES WHERE APP_EXES.exe_path = '" + path_ +
                                "' AND APP_EXES.app_id = '-1'");
}

bool DatabaseAccessFacts::IsControlledUser() {
  return Found(connection_, "SELECT * FROM USERS WHERE USERS.user_name = '" + user_ +
                                "' AND USERS.user_status = 'ENABLED'");
}

std::optional<std::string> DatabaseAccessFacts::ApplicationName() {
  return FirstValue(
      connection_,
      "SELECT APPS.app_name FROM APPS, APP_EXES WHERE APPS.app_id = APP_EXES.app_id AND "
      "APP_EXES.exe_path = '" +
          path_ + "'",
      "app_name");
}

bool DatabaseAccessFacts::IsGranted() {
  return Found(connection_,
               "SELECT * FROM APP_EXES, APPS, ALLOWED_APPS, USERS WHERE APP_EXES.app_id = "
               "APPS.app_id AND APPS.app_id = ALLOWED_APPS.app_id AND ALLOWED_APPS.user_id = "
               "USERS.user_id AND APP_EXES.exe_path = '" +
                   path_ + "' AND USERS.user_name = '" + user_ + "'");
}

bool IsRequestMailer(const std::string& exe_path, const std::string& program_files) {
  return exe_path == UpperCase(program_files + kMailerSuffix);
}

bool IsLocalExePath(const std::string& exe_path) {
  return exe_path.find(":\\") != std::string::npos;
}

std::string CheckAccess(Database& database, const std::string& exe_path,
                        const std::string& user_name) {
  const std::string path = DoubleQuotes(exe_path);
  const std::string user = DoubleQuotes(user_name);
  auto connection = OpenZentrel(database);

  InsertUnlessFound(
      *connection,
      "SELECT APP_EXES.exe_path FROM APP_EXES WHERE APP_EXES.exe_path = '" + path + "'",
      "INSERT INTO APP_EXES (exe_path) VALUES ('" + path + "')");
  InsertUnlessFound(
      *connection, "SELECT USERS.user_name FROM USERS WHERE USERS.user_name = '" + user + "'",
      "INSERT INTO USERS (user_name, user_status) VALUES ('" + user + "', 'DISABLED')");
  DatabaseAccessFacts facts(*connection, exe_path, user_name);
  const std::string decision = DecideAccess(facts);

  connection->Close();
  return decision;
}

std::string RecordAccessRequest(Database& database, const std::string& exe_path,
                                const std::string& user_name) {
  const std::string path = DoubleQuotes(exe_path);
  const std::string user = DoubleQuotes(user_name);
  auto connection = OpenZentrel(database);

  const std::string exe_id =
      FirstValue(*connection,
                 "SELECT APP_EXES.exe_id FROM APP_EXES WHERE APP_EXES.exe_path = '" + path + "'",
                 "exe_id")
          .value_or("");
  const std::string user_id =
      FirstValue(*connection,
                 "SELECT USERS.user_id FROM USERS WHERE USERS.user_name = '" + user + "'",
                 "user_id")
          .value_or("");
  std::string request_id;
  if (!exe_id.empty() && !user_id.empty()) {
    const std::string of_the_pair = "WHERE ACCESS_REQUESTS.exe_id = '" + exe_id +
                                    "' AND ACCESS_REQUESTS.user_id = '" + user_id + "'";
    InsertUnlessFound(*connection, "SELECT * FROM ACCESS_REQUESTS " + of_the_pair,
                      "INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES ('" + user_id + "', '" +
                          exe_id + "')");
    request_id = FirstValue(*connection,
                            "SELECT ACCESS_REQUESTS.request_id FROM ACCESS_REQUESTS " + of_the_pair,
                            "request_id")
                     .value_or("");
  }

  connection->Close();
  return request_id;
}

}  // namespace quillon

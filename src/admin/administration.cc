// Users, applications, executables, grants, access requests, the overview
// and the audit.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <utility>

#include "access/access.h"
#include "admin/admin_internal.h"
#include "shared/helpers/text.h"
#include "shared/host_error.h"

namespace quillon::admin {

namespace {

// The audit table as the schema files create it: SQLite's form first (SQL
// Server refuses it; SQLite would take SQL Server's with an id it never
// fills), then SQL Server's. The two differ only in how the id is made.
constexpr const char* kCreateAudit[] = {
    "CREATE TABLE ADMIN_AUDIT (audit_id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "changed_at TEXT NOT NULL, changed_by TEXT NOT NULL, action TEXT NOT NULL, "
    "details TEXT NOT NULL)",
    "CREATE TABLE ADMIN_AUDIT (audit_id int IDENTITY(1, 1) NOT NULL PRIMARY KEY, "
    "changed_at varchar(19) NOT NULL, changed_by varchar(256) NOT NULL, "
    "action varchar(32) NOT NULL, details varchar(2000) NOT NULL)"};
constexpr std::size_t kAuditDetailsSize = 2000;
constexpr std::size_t kMaxPage = 1000;

std::string Timestamp(Clock& clock) {
  const LocalTime now = clock.Now();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  return text;
}

// A LIKE pattern that matches the text anywhere, its wildcards (and the
// bracket some servers read as one) taken literally, escaped with "!".
std::string ContainsPattern(const std::string& text) {
  std::string pattern = "%";
  for (char c : text) {
    if (c == '!' || c == '%' || c == '_' || c == '[') pattern += '!';
    pattern += c;
  }
  pattern += '%';
  return pattern;
}

bool SameName(const std::string& a, const std::string& b) {
  return UpperCase(a) == UpperCase(b);
}

void CheckAppName(const std::string& name) {
  if (TrimBlanks(name).empty()) {
    throw AdminError(AdminError::Kind::kInvalid, "An application needs a name.");
  }
  if (SameName(TrimBlanks(name), kUnassigned)) {
    throw AdminError(AdminError::Kind::kInvalid,
                     "\"Unassigned\" is what the checker reports for an executable in no "
                     "application; choose another name.");
  }
  if (name.size() > 255) {
    throw AdminError(AdminError::Kind::kInvalid, "An application name has at most 255 characters.");
  }
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The columns of an executable row: exe_id, exe_path, app_id (0 for NULL),
// app_name ("" for none), in_app.
constexpr char kExecutableColumns[] =
    "SELECT e.exe_id AS exe_id, e.exe_path AS exe_path, COALESCE(e.app_id, 0) AS app_id, "
    "COALESCE(a.app_name, '') AS app_name, CASE WHEN a.app_id IS NULL THEN 0 ELSE 1 END AS in_app "
    "FROM APP_EXES e LEFT JOIN APPS a ON a.app_id = e.app_id";

// In no application: neither base nor the id of an application.
constexpr char kUnassignedCondition[] =
    "(e.app_id IS NULL OR (e.app_id <> -1 AND NOT EXISTS "
    "(SELECT 1 FROM APPS u WHERE u.app_id = e.app_id)))";

Executable ExecutableOf(const Recordset& rows) {
  Executable exe;
  exe.id = NumberField(rows, "exe_id");
  exe.path = rows.Field("exe_path");
  exe.app_id = NumberField(rows, "app_id");
  exe.base = *exe.app_id == kBaseAppId;
  if (NumberField(rows, "in_app") != 0) exe.application = rows.Field("app_name");
  return exe;
}

}  // namespace

std::int64_t NumberField(const Recordset& rows, const std::string& column) {
  const std::string text = rows.Field(column);
  try {
    return std::stoll(text);
  } catch (const std::exception&) {
    throw HostError(error_number::kTypeMismatch, "Column " + column + " is not a number: " + text);
  }
}

Administration::Impl::Impl(Host& host_in, std::string actor_in)
    : host(host_in), actor(std::move(actor_in)), db(OpenZentrel(host_in.database)) {}

std::unique_ptr<Recordset> Administration::Impl::Run(const std::string& sql,
                                                     const Parameters& values,
                                                     std::size_t max_rows) {
  return db->ExecuteBound(sql, values, max_rows);
}

std::int64_t Administration::Impl::Number(const std::string& sql, const Parameters& values) {
  return NumberField(*Run(sql, values), "n");
}

void Administration::Impl::EnsureAudit() {
  if (audit_ready) return;
  try {
    Run("SELECT COUNT(*) AS n FROM ADMIN_AUDIT WHERE 1 = 0");
  } catch (const HostError&) {
    // A database made before the audit existed: the table, and the index
    // that keeps listings by application quick, which came with it.
    for (std::size_t form = 0;; ++form) {
      try {
        Run(kCreateAudit[form]);
        break;
      } catch (const HostError&) {
        if (form + 1 == std::size(kCreateAudit)) throw;
      }
    }
    try {
      Run("CREATE INDEX APP_EXES_app_id ON APP_EXES (app_id)");
    } catch (const HostError&) {
      // Already there: the index is only an aid.
    }
  }
  audit_ready = true;
}

void Administration::Impl::Record(const std::string& action, const std::string& details) {
  Run("INSERT INTO ADMIN_AUDIT (changed_at, changed_by, action, details) VALUES (?, ?, ?, ?)",
      {Timestamp(host.clock), actor, action, details.substr(0, kAuditDetailsSize)});
}

std::int64_t Administration::Impl::UserId(const std::string& name) {
  auto rows = Run("SELECT user_id FROM USERS WHERE user_name = ? ORDER BY user_id", {name}, 1);
  if (rows->Eof()) throw AdminError(AdminError::Kind::kNotFound, "No user " + Quoted(name) + ".");
  return NumberField(*rows, "user_id");
}

std::optional<AppRef> Administration::Impl::FindApp(const std::string& name) {
  auto rows =
      Run("SELECT app_id, app_name FROM APPS WHERE UPPER(app_name) = UPPER(?) ORDER BY app_id",
          {name}, 1);
  if (rows->Eof()) return std::nullopt;
  return AppRef{NumberField(*rows, "app_id"), rows->Field("app_name")};
}

AppRef Administration::Impl::App(const std::string& name) {
  std::optional<AppRef> app = FindApp(name);
  if (!app) throw AdminError(AdminError::Kind::kNotFound, "No application " + Quoted(name) + ".");
  return *app;
}

AppRef Administration::Impl::NewApp(const std::string& name) {
  CheckAppName(name);
  if (FindApp(name)) {
    throw AdminError(AdminError::Kind::kConflict,
                     "An application " + Quoted(name) + " exists already.");
  }
  Run("INSERT INTO APPS (app_name) VALUES (?)", {name});
  return App(name);
}

std::int64_t Administration::Impl::AssignPath(const std::string& path, std::int64_t app_id) {
  const std::int64_t rows = Number("SELECT COUNT(*) AS n FROM APP_EXES WHERE exe_path = ?", {path});
  if (rows == 0) {
    throw AdminError(AdminError::Kind::kNotFound, "No executable " + Quoted(path) + ".");
  }
  const std::int64_t changing = Number(
      "SELECT COUNT(*) AS n FROM APP_EXES WHERE exe_path = ? AND (app_id IS NULL OR app_id <> ?)",
      {path, app_id});
  Run("UPDATE APP_EXES SET app_id = ? WHERE exe_path = ?", {app_id, path});
  return changing;
}

bool Administration::Impl::GrantApp(const std::string& user_name, const AppRef& app) {
  const std::int64_t user_id = UserId(user_name);
  if (Number("SELECT COUNT(*) AS n FROM ALLOWED_APPS g, USERS u WHERE g.user_id = u.user_id "
             "AND u.user_name = ? AND g.app_id = ?",
             {user_name, app.id}) > 0) {
    return false;
  }
  Run("INSERT INTO ALLOWED_APPS (user_id, app_id) VALUES (?, ?)", {user_id, app.id});
  return true;
}

// ----------------------------------------------------------------------------

Administration::Administration(Host& host, std::string actor)
    : impl_(std::make_unique<Impl>(host, std::move(actor))) {}

Administration::~Administration() {
  try {
    impl_->db->Close();
  } catch (...) {
    // Closing gives nothing back to lose.
  }
}

std::vector<User> Administration::Users() {
  // The checker keeps a user's name unique only as far as its look-ups
  // allow: rows of the same name are one user, controlled when any row is
  // enabled, as the checker's look-up finds it.
  std::vector<User> users;
  std::map<std::string, std::size_t> by_name;
  std::map<std::int64_t, std::size_t> by_id;
  for (auto rows = impl_->Run(
           "SELECT user_id, user_name, user_status FROM USERS ORDER BY user_name, user_id");
       !rows->Eof(); rows->MoveNext()) {
    const std::int64_t id = NumberField(*rows, "user_id");
    const std::string name = rows->Field("user_name");
    const std::string status = rows->Field("user_status");
    auto [it, added] = by_name.emplace(UpperCase(name), users.size());
    if (added) users.push_back(User{id, name, status, false, {}, 0});
    User& user = users[it->second];
    if (status == kEnabled) {
      user.controlled = true;
      user.status = status;
    }
    by_id[id] = it->second;
  }
  for (auto rows = impl_->Run(
           "SELECT DISTINCT g.user_id AS user_id, a.app_name AS app_name FROM ALLOWED_APPS g, "
           "APPS a WHERE g.app_id = a.app_id AND a.app_name IS NOT NULL ORDER BY a.app_name");
       !rows->Eof(); rows->MoveNext()) {
    const auto user = by_id.find(NumberField(*rows, "user_id"));
    if (user == by_id.end()) continue;
    std::vector<std::string>& apps = users[user->second].applications;
    const std::string app = rows->Field("app_name");
    if (std::find(apps.begin(), apps.end(), app) == apps.end()) apps.push_back(app);
  }
  for (auto rows =
           impl_->Run("SELECT user_id, COUNT(*) AS n FROM ACCESS_REQUESTS GROUP BY user_id");
       !rows->Eof(); rows->MoveNext()) {
    const auto user = by_id.find(NumberField(*rows, "user_id"));
    if (user != by_id.end()) users[user->second].requests += NumberField(*rows, "n");
  }
  return users;
}

User Administration::GetUser(const std::string& name) {
  for (User& user : Users()) {
    if (SameName(user.name, name)) return user;
  }
  throw AdminError(AdminError::Kind::kNotFound, "No user " + Quoted(name) + ".");
}

bool Administration::SetUserControlled(const std::string& name, bool controlled) {
  const User user = GetUser(name);
  const char* status = controlled ? kEnabled : kDisabled;
  if (impl_->Number("SELECT COUNT(*) AS n FROM USERS WHERE user_name = ? AND user_status <> ?",
                    {name, std::string(status)}) == 0) {
    return false;
  }
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  impl_->Run("UPDATE USERS SET user_status = ? WHERE user_name = ?", {std::string(status), name});
  impl_->Record(controlled ? "enable" : "disable", "user " + Quoted(user.name));
  transaction.Commit();
  return true;
}

std::vector<Application> Administration::Applications() {
  std::vector<Application> apps;
  for (auto rows = impl_->Run(
           "SELECT a.app_id AS app_id, COALESCE(a.app_name, '') AS app_name, "
           "(SELECT COUNT(*) FROM APP_EXES e WHERE e.app_id = a.app_id) AS exes, "
           "(SELECT COUNT(DISTINCT g.user_id) FROM ALLOWED_APPS g WHERE g.app_id = a.app_id) "
           "AS users FROM APPS a ORDER BY a.app_name, a.app_id");
       !rows->Eof(); rows->MoveNext()) {
    apps.push_back(Application{NumberField(*rows, "app_id"), rows->Field("app_name"),
                               NumberField(*rows, "exes"), NumberField(*rows, "users")});
  }
  return apps;
}

Application Administration::GetApplication(const std::string& name) {
  const AppRef app = impl_->App(name);
  for (Application& each : Applications()) {
    if (each.id == app.id) return each;
  }
  throw AdminError(AdminError::Kind::kNotFound, "No application " + Quoted(name) + ".");
}

Application Administration::CreateApplication(const std::string& name) {
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  const AppRef app = impl_->NewApp(name);
  impl_->Record("app-add", "application " + Quoted(name));
  transaction.Commit();
  return Application{app.id, app.name, 0, 0};
}

void Administration::RenameApplication(const std::string& old_name, const std::string& new_name) {
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  const AppRef app = impl_->App(old_name);
  CheckAppName(new_name);
  const std::optional<AppRef> taken = impl_->FindApp(new_name);
  if (taken && taken->id != app.id) {
    throw AdminError(AdminError::Kind::kConflict,
                     "An application " + Quoted(new_name) + " exists already.");
  }
  impl_->Run("UPDATE APPS SET app_name = ? WHERE app_id = ?", {new_name, app.id});
  impl_->Record("app-rename", "application " + Quoted(app.name) + " to " + Quoted(new_name));
  transaction.Commit();
}

void Administration::DeleteApplication(const std::string& name) {
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  const AppRef app = impl_->App(name);
  const std::int64_t exes =
      impl_->Number("SELECT COUNT(*) AS n FROM APP_EXES WHERE app_id = ?", {app.id});
  const std::int64_t grants =
      impl_->Number("SELECT COUNT(*) AS n FROM ALLOWED_APPS WHERE app_id = ?", {app.id});
  impl_->Run("UPDATE APP_EXES SET app_id = ? WHERE app_id = ?", {kNoAppId, app.id});
  impl_->Run("DELETE FROM ALLOWED_APPS WHERE app_id = ?", {app.id});
  impl_->Run("DELETE FROM APPS WHERE app_id = ?", {app.id});
  impl_->Record("app-delete", "application " + Quoted(app.name) + " (" + std::to_string(exes) +
                                  " executables to no application, " + std::to_string(grants) +
                                  " grants removed)");
  transaction.Commit();
}

ExecutablePage Administration::Executables(const ExecutableQuery& query) {
  if (query.limit == 0 || query.limit > kMaxPage) {
    throw AdminError(AdminError::Kind::kInvalid, "A page holds 1 to 1000 executables.");
  }
  std::string where = " WHERE 1 = 1";
  Parameters values;
  if (!query.filter.empty()) {
    where += " AND e.exe_path LIKE ? ESCAPE '!'";
    values.emplace_back(ContainsPattern(query.filter));
  }
  if (query.unassigned) where += std::string(" AND ") + kUnassignedCondition;
  if (query.app_id) {
    where += " AND e.app_id = ?";
    values.emplace_back(*query.app_id);
  }

  ExecutablePage page;
  page.total = impl_->Number("SELECT COUNT(*) AS n FROM APP_EXES e" + where, values);
  values.emplace_back(query.after_id);
  auto rows =
      impl_->Run(std::string(kExecutableColumns) + where + " AND e.exe_id > ? ORDER BY e.exe_id",
                 values, query.limit + 1);
  for (; !rows->Eof(); rows->MoveNext()) {
    if (page.executables.size() == query.limit) {
      page.next_after_id = page.executables.back().id;
      break;
    }
    page.executables.push_back(ExecutableOf(*rows));
  }
  return page;
}

Executable Administration::GetExecutable(const std::string& path) {
  auto rows = impl_->Run(
      std::string(kExecutableColumns) + " WHERE e.exe_path = ? ORDER BY e.exe_id", {path}, 1);
  if (rows->Eof()) {
    throw AdminError(AdminError::Kind::kNotFound, "No executable " + Quoted(path) + ".");
  }
  return ExecutableOf(*rows);
}

std::int64_t Administration::Assign(const std::vector<std::string>& paths,
                                    const std::string& app_name) {
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  const AppRef app = impl_->App(app_name);
  std::int64_t changed = 0;
  for (const std::string& path : paths) {
    changed += impl_->AssignPath(path, app.id);
    impl_->Record("assign", "executable " + Quoted(path) + " to application " + Quoted(app.name));
  }
  transaction.Commit();
  return changed;
}

std::int64_t Administration::AssignIds(const std::vector<std::int64_t>& exe_ids,
                                       const std::string& app_name) {
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  const AppRef app = impl_->App(app_name);
  std::int64_t changed = 0;
  for (std::int64_t id : exe_ids) {
    auto rows = impl_->Run("SELECT exe_path FROM APP_EXES WHERE exe_id = ?", {id}, 1);
    if (rows->Eof()) {
      throw AdminError(AdminError::Kind::kNotFound,
                       "No executable with id " + std::to_string(id) + ".");
    }
    const std::string path = rows->Field("exe_path");
    changed += impl_->AssignPath(path, app.id);
    impl_->Record("assign", "executable " + Quoted(path) + " to application " + Quoted(app.name));
  }
  transaction.Commit();
  return changed;
}

bool Administration::Grant(const std::string& user_name, const std::string& app_name) {
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  const AppRef app = impl_->App(app_name);
  const bool added = impl_->GrantApp(user_name, app);
  if (added)
    impl_->Record("grant", "user " + Quoted(user_name) + " application " + Quoted(app.name));
  transaction.Commit();
  return added;
}

bool Administration::Revoke(const std::string& user_name, const std::string& app_name) {
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  const AppRef app = impl_->App(app_name);
  impl_->UserId(user_name);
  const std::string of_user =
      " WHERE app_id = ? AND user_id IN (SELECT user_id FROM USERS WHERE user_name = ?)";
  const std::int64_t grants =
      impl_->Number("SELECT COUNT(*) AS n FROM ALLOWED_APPS" + of_user, {app.id, user_name});
  if (grants > 0) {
    impl_->Run("DELETE FROM ALLOWED_APPS" + of_user, {app.id, user_name});
    impl_->Record("revoke", "user " + Quoted(user_name) + " application " + Quoted(app.name));
  }
  transaction.Commit();
  return grants > 0;
}

namespace {

constexpr char kRequestColumns[] =
    "SELECT r.request_id AS request_id, r.user_id AS user_id, r.exe_id AS exe_id, "
    "COALESCE(u.user_name, '') AS user_name, COALESCE(e.exe_path, '') AS exe_path, "
    "COALESCE(e.app_id, 0) AS app_id, COALESCE(a.app_name, '') AS app_name, "
    "CASE WHEN a.app_id IS NULL THEN 0 ELSE 1 END AS in_app "
    "FROM ACCESS_REQUESTS r LEFT JOIN USERS u ON u.user_id = r.user_id "
    "LEFT JOIN APP_EXES e ON e.exe_id = r.exe_id LEFT JOIN APPS a ON a.app_id = e.app_id";

AccessRequest RequestOf(const Recordset& rows) {
  AccessRequest request;
  request.id = NumberField(rows, "request_id");
  request.user_id = NumberField(rows, "user_id");
  request.exe_id = NumberField(rows, "exe_id");
  request.user = rows.Field("user_name");
  request.exe_path = rows.Field("exe_path");
  const std::int64_t app_id = NumberField(rows, "app_id");
  request.base = !request.exe_path.empty() && app_id == kBaseAppId;
  if (NumberField(rows, "in_app") != 0) {
    request.app_id = app_id;
    request.application = rows.Field("app_name");
  }
  return request;
}

}  // namespace

std::vector<AccessRequest> Administration::Requests() {
  std::vector<AccessRequest> requests;
  for (auto rows = impl_->Run(std::string(kRequestColumns) + " ORDER BY r.request_id");
       !rows->Eof(); rows->MoveNext()) {
    requests.push_back(RequestOf(*rows));
  }
  return requests;
}

AccessRequest Administration::GetRequest(std::int64_t request_id) {
  auto rows = impl_->Run(std::string(kRequestColumns) + " WHERE r.request_id = ?", {request_id}, 1);
  if (rows->Eof()) {
    throw AdminError(AdminError::Kind::kNotFound,
                     "No access request with id " + std::to_string(request_id) + ".");
  }
  return RequestOf(*rows);
}

std::string Administration::Approve(std::int64_t request_id, const std::string& app_name) {
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  const AccessRequest request = GetRequest(request_id);
  if (request.user.empty() || request.exe_path.empty()) {
    throw AdminError(AdminError::Kind::kInvalid,
                     "Access request " + std::to_string(request_id) +
                         " names a user or an executable that no longer exists; dismiss it.");
  }
  std::string granted;
  if (!request.base) {
    AppRef app;
    if (request.app_id) {
      if (!app_name.empty() && !SameName(app_name, request.application)) {
        throw AdminError(AdminError::Kind::kInvalid,
                         "The executable belongs to " + Quoted(request.application) +
                             "; assign it to " + Quoted(app_name) + " first.");
      }
      app = AppRef{*request.app_id, request.application};
    } else {
      if (app_name.empty()) {
        throw AdminError(AdminError::Kind::kInvalid,
                         "The executable is in no application: name the application to put it "
                         "in (an existing one or a new one).");
      }
      const std::optional<AppRef> existing = impl_->FindApp(app_name);
      app = existing ? *existing : impl_->NewApp(app_name);
      if (!existing) impl_->Record("app-add", "application " + Quoted(app.name));
      impl_->AssignPath(request.exe_path, app.id);
      impl_->Record("assign", "executable " + Quoted(request.exe_path) + " to application " +
                                  Quoted(app.name));
    }
    if (impl_->GrantApp(request.user, app)) {
      impl_->Record("grant", "user " + Quoted(request.user) + " application " + Quoted(app.name));
    }
    granted = app.name;
  }
  impl_->Run("DELETE FROM ACCESS_REQUESTS WHERE request_id = ?", {request_id});
  impl_->Record("approve", "request " + std::to_string(request_id) + " of user " +
                               Quoted(request.user) + " for " + Quoted(request.exe_path));
  transaction.Commit();
  return granted;
}

void Administration::Dismiss(std::int64_t request_id) {
  impl_->EnsureAudit();
  Transaction transaction(*impl_->db);
  const AccessRequest request = GetRequest(request_id);
  impl_->Run("DELETE FROM ACCESS_REQUESTS WHERE request_id = ?", {request_id});
  impl_->Record("dismiss", "request " + std::to_string(request_id) + " of user " +
                               Quoted(request.user) + " for " + Quoted(request.exe_path));
  transaction.Commit();
}

Overview Administration::GetOverview() {
  Overview overview;
  const std::vector<User> users = Users();
  overview.users = static_cast<std::int64_t>(users.size());
  overview.controlled_users =
      std::count_if(users.begin(), users.end(), [](const User& user) { return user.controlled; });
  overview.applications = impl_->Number("SELECT COUNT(*) AS n FROM APPS");
  overview.executables = impl_->Number("SELECT COUNT(*) AS n FROM APP_EXES");
  overview.unassigned_executables = impl_->Number(
      std::string("SELECT COUNT(*) AS n FROM APP_EXES e WHERE ") + kUnassignedCondition);
  overview.pending_requests = impl_->Number("SELECT COUNT(*) AS n FROM ACCESS_REQUESTS");
  return overview;
}

std::vector<AuditEntry> Administration::Audit(std::size_t limit) {
  impl_->EnsureAudit();
  std::vector<AuditEntry> entries;
  for (auto rows = impl_->Run("SELECT changed_at, changed_by, action, details FROM ADMIN_AUDIT "
                              "ORDER BY audit_id DESC",
                              {}, limit);
       !rows->Eof(); rows->MoveNext()) {
    entries.push_back(AuditEntry{rows->Field("changed_at"), rows->Field("changed_by"),
                                 rows->Field("action"), rows->Field("details")});
  }
  return entries;
}

}  // namespace quillon::admin

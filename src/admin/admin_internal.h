// What the parts of the administration library share: the connection with
// its helpers for bound statements, the audit, and the look-ups of users,
// applications and executables by name.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "admin/admin.h"
#include "shared/database.h"

namespace quillon::admin {

struct AppRef {
  std::int64_t id = 0;
  std::string name;
};

struct Administration::Impl {
  Impl(Host& host_in, std::string actor_in);

  // A statement with bound values; every row (at most max_rows when not 0).
  std::unique_ptr<Recordset> Run(const std::string& sql, const Parameters& values = {},
                                 std::size_t max_rows = 0);
  // The single number a statement returns (column "n").
  std::int64_t Number(const std::string& sql, const Parameters& values = {});

  // Creates the audit table when the database lacks it; before a change's
  // transaction.
  void EnsureAudit();
  // One audit row, inside the change's transaction.
  void Record(const std::string& action, const std::string& details);

  // Look-ups; each throws AdminError kNotFound.
  std::int64_t UserId(const std::string& name);  // the first row of that name
  AppRef App(const std::string& name);
  std::optional<AppRef> FindApp(const std::string& name);
  // A new application; checks the name.
  AppRef NewApp(const std::string& name);
  // Puts every row of the path into the application; kNotFound when the
  // path is unknown. Returns the rows changed.
  std::int64_t AssignPath(const std::string& path, std::int64_t app_id);
  // Grants when the user holds no grant of it yet; true when added.
  bool GrantApp(const std::string& user_name, const AppRef& app);

  Host& host;
  std::string actor;
  std::unique_ptr<Connection> db;
  bool audit_ready = false;
};

// A column's value as a number.
std::int64_t NumberField(const Recordset& rows, const std::string& column);

}  // namespace quillon::admin

// What the administration tests share: a fake machine with a real SQLite
// database of the install schema, and the library over it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "admin/admin.h"
#include "fakes/fake_host.h"
#include "shared/helpers/text.h"
#include "shared/posix/sqlite_database.h"
#include "support/database_support.h"

namespace quillon::testing {

class AdminTest : public ::testing::Test {
 protected:
  AdminTest() : database_file(CreateZentrelDatabase(folder.path())) {}

  admin::Administration& Admin() {
    if (!admin_) admin_ = std::make_unique<admin::Administration>(host, "Administrator");
    return *admin_;
  }

  // Set-up statements in the system code page, stored as UTF-8 as the
  // database layer stores text.
  void Sql(const std::string& sql) { RunSql(database_file, Cp1252ToUtf8(sql)); }
  long long Rows(const std::string& table) { return CountRows(database_file, table); }
  std::string Value(const std::string& sql) { return QueryValue(database_file, sql); }

  // Set-up rows; ids are numbered from 1 in a fresh database.
  void AddUser(const std::string& name, const std::string& status = "DISABLED") {
    Sql("INSERT INTO USERS (user_name, user_status) VALUES ('" + DoubleQuotes(name) + "', '" +
        status + "')");
  }
  void AddApp(const std::string& name) {
    Sql("INSERT INTO APPS (app_name) VALUES ('" + DoubleQuotes(name) + "')");
  }
  void AddExe(const std::string& path, const std::string& app_id = "") {
    if (app_id.empty()) {
      Sql("INSERT INTO APP_EXES (exe_path) VALUES ('" + path + "')");
    } else {
      Sql("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('" + path + "', " + app_id + ")");
    }
  }

  FakeMachine machine;
  DatabaseTestFolder folder;
  std::string database_file;
  SqliteDatabase sqlite{folder.databases()};
  Host host = machine.host(&sqlite);

 private:
  std::unique_ptr<admin::Administration> admin_;
};

}  // namespace quillon::testing

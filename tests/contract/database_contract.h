// The database layer's contract: the same bodies for the portable machine's
// SQLite catalogs and for ODBC on Windows. A backend offers Opened() (a
// connection opened on an empty Zentrel database made from the install
// schema), NewConnection() (an unopened one to that database) and
// OpenMissing() (opens a connection to a database that does not exist).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "shared/database.h"
#include "shared/host_error.h"
#include "support/error_number_of.h"

namespace quillon::testing {

template <typename Backend>
class DatabaseContract : public ::testing::Test {
 protected:
  Backend backend;
};

TYPED_TEST_SUITE_P(DatabaseContract);

// Statements that return no rows give an empty recordset; a SELECT gives its
// first row, each value as text by a column name in any case, numbers as
// decimal digits, column defaults included.
TYPED_TEST_P(DatabaseContract, SelectsGiveTheFirstRowAsText) {
  std::unique_ptr<Connection> db = this->backend.Opened();
  EXPECT_TRUE(db->Execute("INSERT INTO APPS (app_name) VALUES ('Games')")->Eof());
  db->Execute("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\GAMES\\A.EXE', '1')");
  db->Execute("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\GAMES\\B.EXE', '1')");
  db->Execute("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\C.EXE')");

  std::unique_ptr<Recordset> rows = db->Execute(
      "SELECT APP_EXES.exe_id, APP_EXES.exe_path, APPS.app_name FROM APP_EXES, APPS "
      "WHERE APPS.app_id = APP_EXES.app_id ORDER BY APP_EXES.exe_path DESC");
  ASSERT_FALSE(rows->Eof());
  EXPECT_EQ(rows->Field("exe_path"), "C:\\GAMES\\B.EXE");
  EXPECT_EQ(rows->Field("EXE_PATH"), "C:\\GAMES\\B.EXE");
  EXPECT_EQ(rows->Field("exe_id"), "2");
  EXPECT_EQ(rows->Field("App_Name"), "Games");
  EXPECT_FALSE(rows->Eof());  // reading fields does not move on
  rows->Close();

  std::unique_ptr<Recordset> tool =
      db->Execute("SELECT * FROM APP_EXES WHERE exe_path = 'c:\\tools\\c.exe'");
  ASSERT_FALSE(tool->Eof());
  EXPECT_EQ(tool->Field("app_id"), "0");  // the column default: no application
  EXPECT_TRUE(db->Execute("SELECT * FROM APP_EXES WHERE exe_path = 'C:\\NONE.EXE'")->Eof());
}

// Quotes and letters of the system code page are stored and found intact.
TYPED_TEST_P(DatabaseContract, QuotedAndEightBitTextsRoundTrip) {
  std::unique_ptr<Connection> db = this->backend.Opened();
  const std::string user = "O'Neil \xC9milie";
  db->Execute("INSERT INTO USERS (user_name, user_status) VALUES (" + QuoteText(user) +
              ", 'DISABLED')");
  std::unique_ptr<Recordset> found =
      db->Execute("SELECT USERS.user_id, USERS.user_name FROM USERS WHERE USERS.user_name = " +
                  QuoteText(user));
  ASSERT_FALSE(found->Eof());
  EXPECT_EQ(found->Field("user_name"), user);
  EXPECT_EQ(found->Field("user_id"), "1");
}

// What the layer refuses, and the numbers it refuses it with.
TYPED_TEST_P(DatabaseContract, MisusesNullsAndRejectedStatementsFail) {
  std::unique_ptr<Connection> unopened = this->backend.NewConnection();
  EXPECT_NE(ErrorNumberOf([&] { unopened->Execute("SELECT * FROM APPS"); }), 0);

  std::unique_ptr<Connection> db = this->backend.Opened();
  db->Execute("INSERT INTO APPS (app_name) VALUES (NULL)");
  std::unique_ptr<Recordset> row = db->Execute("SELECT APPS.app_name FROM APPS");
  ASSERT_FALSE(row->Eof());
  EXPECT_EQ(ErrorNumberOf([&] { row->Field("app_name"); }), error_number::kInvalidUseOfNull);
  EXPECT_NE(ErrorNumberOf([&] { row->Field("no_such_column"); }), 0);
  std::unique_ptr<Recordset> none = db->Execute("SELECT * FROM APPS WHERE app_id = '99'");
  EXPECT_TRUE(none->Eof());
  EXPECT_NE(ErrorNumberOf([&] { none->Field("app_name"); }), 0);

  try {
    db->Execute("SELECT * FROM NO_SUCH_TABLE");
    ADD_FAILURE() << "no error";
  } catch (const HostError& error) {
    EXPECT_EQ(error.number(), error_number::kUnspecified);
    EXPECT_NE(error.description().find("NO_SUCH_TABLE"), std::string::npos) << error.description();
  }
  db->Close();
  EXPECT_NE(ErrorNumberOf([&] { db->Execute("SELECT 1"); }), 0);
}

// Values bound to placeholders are values, never statement text: quotes,
// statement separators and comments are stored as written; integers compare
// as numbers. Every row comes back, in order, up to max_rows when given.
TYPED_TEST_P(DatabaseContract, BoundValuesAreNeverStatementText) {
  std::unique_ptr<Connection> db = this->backend.Opened();
  const std::vector<std::string> names = {
      "O'Neil \xC9milie", "x'); DROP TABLE USERS; --", "' OR '1'='1", "a?b", "", "%_\\"};
  for (const std::string& name : names) {
    EXPECT_TRUE(db->ExecuteBound("INSERT INTO USERS (user_name, user_status) VALUES (?, ?)",
                                 {name, std::string("DISABLED")})
                    ->Eof());
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::unique_ptr<Recordset> found =
        db->ExecuteBound("SELECT user_id, user_name FROM USERS WHERE user_name = ?", {names[i]});
    ASSERT_FALSE(found->Eof()) << names[i];
    EXPECT_EQ(found->Field("user_name"), names[i]);
    EXPECT_EQ(found->Field("user_id"), std::to_string(i + 1));
    found->MoveNext();
    EXPECT_TRUE(found->Eof()) << names[i];
  }
  // An injection text matches nothing it is not equal to.
  EXPECT_TRUE(
      db->ExecuteBound("SELECT * FROM USERS WHERE user_name = ?", {std::string("' OR ''='")})
          ->Eof());

  std::unique_ptr<Recordset> all = db->ExecuteBound(
      "SELECT user_id FROM USERS WHERE user_id > ? ORDER BY user_id", {std::int64_t{2}});
  std::vector<std::string> ids;
  for (; !all->Eof(); all->MoveNext()) ids.push_back(all->Field("user_id"));
  EXPECT_EQ(ids, (std::vector<std::string>{"3", "4", "5", "6"}));
  EXPECT_NE(ErrorNumberOf([&] { all->MoveNext(); }), 0);  // past the end

  std::unique_ptr<Recordset> two =
      db->ExecuteBound("SELECT user_id FROM USERS ORDER BY user_id DESC", {}, 2);
  ASSERT_FALSE(two->Eof());
  EXPECT_EQ(two->Field("user_id"), "6");
  two->MoveNext();
  EXPECT_EQ(two->Field("user_id"), "5");
  two->MoveNext();
  EXPECT_TRUE(two->Eof());

  // Unbound statements give every row too.
  std::unique_ptr<Recordset> unbound = db->Execute("SELECT user_id FROM USERS");
  int count = 0;
  for (; !unbound->Eof(); unbound->MoveNext()) ++count;
  EXPECT_EQ(count, 6);

  // As many values as placeholders, no more, no fewer.
  EXPECT_NE(ErrorNumberOf([&] { db->ExecuteBound("SELECT * FROM USERS WHERE user_id = ?", {}); }),
            0);
  EXPECT_NE(ErrorNumberOf([&] { db->ExecuteBound("SELECT * FROM USERS", {std::int64_t{1}}); }), 0);
  EXPECT_EQ(db->Execute("SELECT COUNT(*) AS n FROM USERS")->Field("n"), "6");
}

// A transaction takes effect whole on commit and not at all on rollback, a
// scoped one rolls back unless committed; misuses fail.
TYPED_TEST_P(DatabaseContract, TransactionsAreAllOrNothing) {
  std::unique_ptr<Connection> db = this->backend.Opened();
  auto apps = [&] { return db->Execute("SELECT COUNT(*) AS n FROM APPS")->Field("n"); };

  db->BeginTrans();
  db->ExecuteBound("INSERT INTO APPS (app_name) VALUES (?)", {std::string("Dropped")});
  EXPECT_EQ(apps(), "1");  // seen inside the transaction
  db->RollbackTrans();
  EXPECT_EQ(apps(), "0");

  db->BeginTrans();
  db->ExecuteBound("INSERT INTO APPS (app_name) VALUES (?)", {std::string("Kept")});
  db->ExecuteBound("INSERT INTO APPS (app_name) VALUES (?)", {std::string("Kept too")});
  db->CommitTrans();
  EXPECT_EQ(apps(), "2");

  try {
    Transaction transaction(*db);
    db->ExecuteBound("INSERT INTO APPS (app_name) VALUES (?)", {std::string("Half")});
    db->Execute("INSERT INTO NO_SUCH_TABLE VALUES (1)");
    transaction.Commit();
    ADD_FAILURE() << "no error";
  } catch (const HostError&) {
  }
  EXPECT_EQ(apps(), "2");
  {
    Transaction transaction(*db);
    db->ExecuteBound("INSERT INTO APPS (app_name) VALUES (?)", {std::string("Guarded")});
    transaction.Commit();
  }
  EXPECT_EQ(apps(), "3");

  // A committed change is there for the next connection.
  std::unique_ptr<Connection> other = this->backend.NewConnection();
  other->Open(kZentrelConnectionString);
  EXPECT_EQ(other->Execute("SELECT COUNT(*) AS n FROM APPS")->Field("n"), "3");
  other->Close();

  EXPECT_NE(ErrorNumberOf([&] { db->CommitTrans(); }), 0);
  EXPECT_NE(ErrorNumberOf([&] { db->RollbackTrans(); }), 0);
  db->BeginTrans();
  EXPECT_NE(ErrorNumberOf([&] { db->BeginTrans(); }), 0);
  db->RollbackTrans();
}

// A missing database is an error, never a new empty one.
TYPED_TEST_P(DatabaseContract, AMissingDatabaseIsAnError) {
  EXPECT_EQ(ErrorNumberOf([&] { this->backend.OpenMissing(); }), error_number::kUnspecified);
}

REGISTER_TYPED_TEST_SUITE_P(DatabaseContract, SelectsGiveTheFirstRowAsText,
                            QuotedAndEightBitTextsRoundTrip, MisusesNullsAndRejectedStatementsFail,
                            BoundValuesAreNeverStatementText, TransactionsAreAllOrNothing,
                            AMissingDatabaseIsAnError);

}  // namespace quillon::testing

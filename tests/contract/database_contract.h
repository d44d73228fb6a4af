// The database layer's contract: the same bodies for the portable machine's
// SQLite catalogs and for ODBC on Windows. A backend offers Opened() (a
// connection opened on an empty Zentrel database made from the install
// schema), NewConnection() (an unopened one to that database) and
// OpenMissing() (opens a connection to a database that does not exist).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

// A missing database is an error, never a new empty one.
TYPED_TEST_P(DatabaseContract, AMissingDatabaseIsAnError) {
  EXPECT_EQ(ErrorNumberOf([&] { this->backend.OpenMissing(); }), error_number::kUnspecified);
}

REGISTER_TYPED_TEST_SUITE_P(DatabaseContract, SelectsGiveTheFirstRowAsText,
                            QuotedAndEightBitTextsRoundTrip, MisusesNullsAndRejectedStatementsFail,
                            AMissingDatabaseIsAnError);

}  // namespace quillon::testing

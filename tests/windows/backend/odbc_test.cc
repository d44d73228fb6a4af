// OdbcDatabase: the connection string mapping, the HKLM override, and the
// recordset contract against a real ODBC driver (SQLite's).
#include <gtest/gtest.h>

#include <functional>

#include "shared/database.h"
#include "shared/host_error.h"
#include "shared/win32/odbc_database.h"
#include "shared/win32/win32_shell.h"
#include "support/windows_test_support.h"

namespace quillon::testing {
namespace {

std::string ErrorTextOf(const std::function<void()>& operation, long* number = nullptr) {
  try {
    operation();
  } catch (const HostError& error) {
    if (number != nullptr) *number = error.number();
    return error.description();
  }
  return "";
}

TEST(OdbcConnectionString, TheProgramsStringMeansTheLocalSqlServerWithWindowsLogon) {
  EXPECT_EQ(OdbcConnectionString(kZentrelConnectionString, ""),
            "Driver={SQL Server};Server=(local);Database=Zentrel;Trusted_Connection=Yes;");
  EXPECT_EQ(OdbcConnectionString(
                "Provider=SQLOLEDB.1;Data Source=DBHOST;Initial Catalog=Other;User ID=sa;"
                "Password=pw;",
                ""),
            "Driver={SQL Server};Server=DBHOST;Database=Other;UID=sa;PWD=pw;");
  EXPECT_EQ(OdbcConnectionString(kZentrelConnectionString, "Driver=SQLite3;Database=x;"),
            "Driver=SQLite3;Database=x;");
  EXPECT_EQ(OdbcConnectionString(kZentrelConnectionString, "   "),
            "Driver={SQL Server};Server=(local);Database=Zentrel;Trusted_Connection=Yes;");
  EXPECT_EQ(OdbcConnectionString("DSN=Zentrel;", ""), "DSN=Zentrel;");
}

class OdbcDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The test database, reached through the HKLM override only.
    Win32Shell().RegWrite(kConnectionStringValue, SqliteConnectionString(name_), "REG_SZ");
    auto connection = database_.NewConnection();
    connection->Open(kZentrelConnectionString);
    for (const std::string& statement : ZentrelTableStatements()) connection->Execute(statement);
    connection->Close();
  }

  std::unique_ptr<Connection> Opened() {
    auto connection = database_.NewConnection();
    connection->Open(kZentrelConnectionString);
    return connection;
  }

  SavedRegistryValue saved_{kConnectionStringValue};
  std::string name_ = UniqueName("odbc");
  OdbcDatabase database_;
};

TEST_F(OdbcDatabaseTest, InsertsGiveNoRowsAndSelectsGiveTheFirstRowAsText) {
  auto db = Opened();
  auto inserted = db->Execute("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\APP.EXE')");
  EXPECT_TRUE(inserted->Eof());
  db->Execute("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\TOOLS\\TWO.EXE', -1)");

  auto rows = db->Execute(
      "SELECT APP_EXES.exe_id, APP_EXES.exe_path, APP_EXES.app_id "
      "FROM APP_EXES WHERE APP_EXES.exe_path LIKE 'C:\\TOOLS\\%' "
      "ORDER BY exe_id");
  ASSERT_FALSE(rows->Eof());
  EXPECT_EQ(rows->Field("exe_id"), "1");
  EXPECT_EQ(rows->Field("EXE_PATH"), "C:\\TOOLS\\APP.EXE");
  EXPECT_EQ(rows->Field("app_id"), "0");  // the column default: no application
  rows->Close();

  auto base = db->Execute(
      "SELECT * FROM APP_EXES WHERE APP_EXES.exe_path = 'c:\\tools\\two.exe' "
      "AND APP_EXES.app_id = '-1'");
  ASSERT_FALSE(base->Eof());
  EXPECT_EQ(base->Field("app_id"), "-1");
  EXPECT_EQ(base->Field("exe_id"), "2");

  EXPECT_TRUE(db->Execute("SELECT * FROM APP_EXES WHERE exe_path = 'C:\\NONE.EXE'")->Eof());
  db->Close();
}

TEST_F(OdbcDatabaseTest, QuotedAndEightBitTextsAreStoredAndFoundIntact) {
  auto db = Opened();
  const std::string user = "O'Neil \xC9milie";
  db->Execute("INSERT INTO USERS (user_name, user_status) VALUES (" + QuoteText(user) +
              ", 'DISABLED')");
  auto found = db->Execute(
      "SELECT USERS.user_id, USERS.user_name FROM USERS WHERE "
      "USERS.user_name = " +
      QuoteText(user));
  ASSERT_FALSE(found->Eof());
  EXPECT_EQ(found->Field("user_name"), user);
  EXPECT_EQ(found->Field("user_id"), "1");
}

TEST_F(OdbcDatabaseTest, MisusesAndNullsFailAsTheRecordsetContractSays) {
  auto db = Opened();
  db->Execute("INSERT INTO APPS (app_name) VALUES (NULL)");
  auto row = db->Execute("SELECT APPS.app_name FROM APPS");
  ASSERT_FALSE(row->Eof());
  long number = 0;
  ErrorTextOf([&] { row->Field("app_name"); }, &number);
  EXPECT_EQ(number, error_number::kInvalidUseOfNull);
  EXPECT_NE(ErrorTextOf([&] { row->Field("no_such_column"); }), "");

  auto none = db->Execute("SELECT APPS.app_name FROM APPS WHERE app_id = '99'");
  EXPECT_TRUE(none->Eof());
  EXPECT_NE(ErrorTextOf([&] { none->Field("app_name"); }), "");

  number = 0;
  const std::string rejected =
      ErrorTextOf([&] { db->Execute("SELECT * FROM NO_SUCH_TABLE"); }, &number);
  EXPECT_EQ(number, error_number::kUnspecified);
  EXPECT_NE(rejected.find("NO_SUCH_TABLE"), std::string::npos) << rejected;

  db->Close();
  EXPECT_NE(ErrorTextOf([&] { db->Execute("SELECT 1"); }), "");
}

TEST_F(OdbcDatabaseTest, AMissingDatabaseIsAnErrorNotANewFile) {
  Win32Shell().RegWrite(kConnectionStringValue, SqliteConnectionString(UniqueName("absent"), false),
                        "REG_SZ");
  long number = 0;
  const std::string text = ErrorTextOf([&] { Opened(); }, &number);
  EXPECT_EQ(number, error_number::kUnspecified);
  EXPECT_NE(text, "");
}

TEST_F(OdbcDatabaseTest, TheOverrideIsReadFromHklmOnlyNeverFromTheUserOrTheEnvironment) {
  const std::string user_value = "HKCU\\SOFTWARE\\Harlwick\\Zentrel\\ConnectionString";
  SavedRegistryValue saved_user(user_value);
  Win32Shell shell;
  shell.RegWrite(user_value, SqliteConnectionString(name_), "REG_SZ");
  ScopedVariable variable("ConnectionString", SqliteConnectionString(name_));
  ScopedVariable other("QUILLON_CONNECTION_STRING", SqliteConnectionString(name_));
  shell.RegDelete(kConnectionStringValue);

  // Without the HKLM value the connection goes to the local SQL Server,
  // whose ODBC driver this machine does not have.
  long number = 0;
  const std::string text = ErrorTextOf([&] { Opened(); }, &number);
  EXPECT_EQ(number, error_number::kUnspecified);
  EXPECT_NE(text, "");

  shell.RegWrite(kConnectionStringValue, SqliteConnectionString(name_), "REG_SZ");
  EXPECT_TRUE(Opened()->Execute("SELECT * FROM USERS")->Eof());
}

}  // namespace
}  // namespace quillon::testing

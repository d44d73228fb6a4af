// ZentrelAdmin.exe as a Windows console process over ODBC: its changes reach
// the database through bound values, its refusals give status 3, its export
// writes the policy file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "programs/program_fixture.h"

namespace quillon::testing {
namespace {

class AdminProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.Install("ZentrelAdmin.exe", machine.product() + "\\Config\\ZentrelAdmin.exe");
    machine.UseFreshDatabase();
    machine.Sql("INSERT INTO USERS (user_name, user_status) VALUES ('O''Neil', 'DISABLED')");
    machine.Sql("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\A.EXE')");
  }

  std::optional<DWORD> Admin(const std::string& arguments) {
    return machine.Run(Quoted(machine.product() + "\\Config\\ZentrelAdmin.exe") + " " +
                       arguments);
  }

  ProgramMachine machine;
};

TEST_F(AdminProgramTest, ChangesRefusalsAndThePolicyFile) {
  struct Step {
    std::string arguments;
    DWORD status;
  };
  const std::vector<Step> steps = {
      {"enable \"O'Neil\"", 0},
      {"app-add \"x'); DROP TABLE APPS; --\"", 0},
      {"assign C:\\TOOLS\\A.EXE \"x'); DROP TABLE APPS; --\"", 0},
      {"grant \"O'Neil\" \"x'); DROP TABLE APPS; --\"", 0},
      {"grant nobody Games", 3},
      {"approve 42", 3},
      {"frobnicate", 2},
      {"explain \"O'Neil\" C:\\TOOLS\\A.EXE --json", 0},
      {"export " + Quoted(machine.scratch("policy.json")), 0},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(Admin(step.arguments), std::optional<DWORD>(step.status)) << step.arguments;
  }
  EXPECT_EQ(machine.Value("SELECT user_status FROM USERS", "user_status"), "ENABLED");
  EXPECT_EQ(machine.Value("SELECT app_name FROM APPS", "app_name"), "x'); DROP TABLE APPS; --");
  EXPECT_EQ(machine.Value("SELECT app_id FROM APP_EXES", "app_id"), "1");
  EXPECT_EQ(machine.Count("ALLOWED_APPS"), 1);
  EXPECT_EQ(machine.Count("ADMIN_AUDIT"), 4);

  std::ifstream file(machine.scratch("policy.json"));
  std::stringstream policy;
  policy << file.rdbuf();
  EXPECT_NE(policy.str().find("\"C:\\\\TOOLS\\\\A.EXE\""), std::string::npos) << policy.str();
  EXPECT_NE(policy.str().find("\"O'Neil\""), std::string::npos) << policy.str();
}

}  // namespace
}  // namespace quillon::testing

// ZentrelAdmin.exe as a Windows console process over ODBC: its changes reach
// the database through bound values, its refusals give status 3, its export
// writes the policy file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>

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
    return machine.Run(Quoted(machine.product() + "\\Config\\ZentrelAdmin.exe") + " " + arguments);
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

// Runs a UTF-16 command line to its end with stdout going to a file (a
// redirection, not a console); gives the exit code and what it wrote.
std::pair<std::optional<DWORD>, std::string> RunWideToFile(const std::wstring& command_line,
                                                           const std::string& output_file) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE out = CreateFileA(output_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return {std::nullopt, ""};
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  std::wstring line = command_line;
  std::optional<DWORD> status;
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                     nullptr, &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(process.hProcess, &code);
      status = code;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  std::ifstream file(output_file, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return {status, text.str()};
}

std::wstring Wide(const std::string& system_code_page_text) {
  std::wstring wide(system_code_page_text.size() + 1, L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, system_code_page_text.data(),
                                         static_cast<int>(system_code_page_text.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(length));
  return wide;
}

// Names in the system code page: an argument reaches the program as the
// letters typed, output that is redirected keeps the code page's bytes, and
// an argument the code page cannot hold is refused rather than turned into
// a look-alike (a best-fit 'L' for 'Ł' would enable another user).
TEST_F(AdminProgramTest, NamesBeyondAsciiInArgumentsAndRedirectedOutput) {
  ASSERT_EQ(GetACP(), 1252u);  // the code page these names are written in
  machine.Sql("INSERT INTO USERS (user_name, user_status) VALUES ('\xC9milie', 'DISABLED')");
  machine.Sql("INSERT INTO USERS (user_name, user_status) VALUES ('Lukasz', 'DISABLED')");
  const std::wstring program = Wide(Quoted(machine.product() + "\\Config\\ZentrelAdmin.exe"));

  const auto enabled =
      RunWideToFile(program + L" enable \u00C9milie", machine.scratch("enable.txt"));
  EXPECT_EQ(enabled.first, std::optional<DWORD>(0)) << enabled.second;
  EXPECT_NE(enabled.second.find("User \xC9milie is now ENABLED"), std::string::npos)
      << enabled.second;

  const auto refused =
      RunWideToFile(program + L" enable \u0141ukasz", machine.scratch("refused.txt"));
  EXPECT_EQ(refused.first, std::optional<DWORD>(2)) << refused.second;
  EXPECT_NE(refused.second.find("argument 2 holds a character"), std::string::npos)
      << refused.second;

  const auto listed = RunWideToFile(program + L" users", machine.scratch("users.txt"));
  EXPECT_EQ(listed.first, std::optional<DWORD>(0));
  EXPECT_NE(listed.second.find("\xC9milie  ENABLED"), std::string::npos) << listed.second;
  EXPECT_NE(listed.second.find("Lukasz  DISABLED"), std::string::npos) << listed.second;
  EXPECT_EQ(machine.Count("USERS WHERE user_status = 'ENABLED'"), 1);
}

}  // namespace
}  // namespace quillon::testing

// ZentrelWeb.exe as IIS runs it: a Windows console process with the CGI
// variables in its environment, the request body on its standard input
// and its answer read from its standard output, over ODBC. IIS starts CGI
// programs as the requesting user (CreateProcessAsUser); the tests start
// it with this process's own token, whose account Wine makes a member of
// Administrators, and with the same token with Administrators made
// deny-only, as a user outside the group has it.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <map>

#include "programs/program_fixture.h"

namespace quillon::testing {
namespace {

const std::string kToken(64, 'a');

enum class Account { kAsIs, kAdministratorsDenied };

struct CgiResult {
  std::optional<DWORD> status;  // nullopt: did not start or did not end
  std::string output;
};

// A handle closed when it goes.
struct OwnedHandle {
  HANDLE handle = nullptr;
  OwnedHandle() = default;
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Close(); }
  void Close() {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
  }
};

// This process's token, or a copy with the Administrators group deny-only.
void PrimaryToken(Account account, OwnedHandle& token) {
  OwnedHandle own;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(),
                               TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY, &own.handle));
  if (account == Account::kAsIs) {
    ASSERT_TRUE(DuplicateTokenEx(own.handle, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                                 TokenPrimary, &token.handle));
    return;
  }
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                       DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators));
  SID_AND_ATTRIBUTES denied{administrators, 0};
  const BOOL made =
      CreateRestrictedToken(own.handle, 0, 1, &denied, 0, nullptr, 0, nullptr, &token.handle);
  FreeSid(administrators);
  ASSERT_TRUE(made) << GetLastError();
}

// Starts the command line with the token, body on its standard input, and
// reads its standard output to the end.
void RunCgiProgram(const std::string& command_line, Account account, const std::string& body,
                   CgiResult& result) {
  OwnedHandle token;
  PrimaryToken(account, token);
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  OwnedHandle input_read, input_write, output_read, output_write;
  ASSERT_TRUE(CreatePipe(&input_read.handle, &input_write.handle, &inherited, 1 << 16));
  ASSERT_TRUE(CreatePipe(&output_read.handle, &output_write.handle, &inherited, 0));
  SetHandleInformation(input_write.handle, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_read.handle, HANDLE_FLAG_INHERIT, 0);
  DWORD written = 0;
  ASSERT_TRUE(body.empty() || (WriteFile(input_write.handle, body.data(),
                                         static_cast<DWORD>(body.size()), &written, nullptr) &&
                               written == body.size()));
  input_write.Close();  // the end of the body

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input_read.handle;
  startup.hStdOutput = output_write.handle;
  startup.hStdError = output_write.handle;
  PROCESS_INFORMATION process{};
  std::string command = command_line;
  ASSERT_TRUE(CreateProcessAsUserA(token.handle, nullptr, command.data(), nullptr, nullptr, TRUE,
                                   CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process))
      << GetLastError();
  CloseHandle(process.hThread);
  input_read.Close();
  output_write.Close();
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(output_read.handle, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    result.output.append(buffer, read);
  }
  if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.status = code;
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hProcess);
}

std::string ThisAccount() {
  char name[257] = {};
  DWORD size = sizeof name;
  return GetUserNameA(name, &size) ? name : "";
}

class WebProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.Install("ZentrelWeb.exe", program);
    machine.UseFreshDatabase();
    machine.Sql("INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'DISABLED')");
    machine.Sql("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\A.EXE')");
  }

  // One request as IIS hands it over; user is REMOTE_USER and AUTH_USER
  // ("" anonymous).
  CgiResult Cgi(Account account, const std::string& user, const std::string& method,
                const std::string& query, const std::string& body = "") {
    const std::map<std::string, std::string> variables = {
        {"GATEWAY_INTERFACE", "CGI/1.1"},
        {"REQUEST_METHOD", method},
        {"QUERY_STRING", query},
        {"SCRIPT_NAME", "/Zentrel/ZentrelWeb.exe"},
        {"HTTP_HOST", "localhost"},
        {"HTTP_COOKIE", "ZentrelToken=" + kToken},
        {"AUTH_TYPE", user.empty() ? "" : "Negotiate"},
        {"REMOTE_USER", user},
        {"AUTH_USER", user},
        {"LOGON_USER", user},
        {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
        {"CONTENT_LENGTH", std::to_string(body.size())}};
    std::vector<std::unique_ptr<ScopedVariable>> set;
    for (const auto& [name, value] : variables) {
      set.push_back(std::make_unique<ScopedVariable>(
          name, value.empty() ? std::nullopt : std::optional<std::string>(value)));
    }
    CgiResult result;
    RunCgiProgram(Quoted(program), account, body, result);
    return result;
  }

  ProgramMachine machine;
  const std::string program = machine.scratch("wwwroot\\Zentrel\\ZentrelWeb.exe");
};

TEST_F(WebProgramTest, AnswersAdministratorsAndRefusesEveryoneElse) {
  // What Wine answers for its one account: a member of Administrators, as
  // the shell's own test says too.
  ASSERT_TRUE(IsUserAnAdmin()) << "these tests need an account in Administrators";
  const std::string computer = VariableOf("COMPUTERNAME").value_or("WINE");
  const std::string user = computer + "\\" + ThisAccount();  // as Windows authentication names it

  const std::string control_bob = "action=control&user=Bob&on=1&back=page%3Dusers&token=";
  const struct {
    const char* what;
    Account account;
    std::string user, method, query, body;
    std::string status_line;  // the start of the answer, byte for byte
    std::string shows;
  } requests[] = {
      {"overview for an administrator", Account::kAsIs, user, "GET", "", "",
       "Status: 200 OK\nContent-Type: text/html; charset=utf-8\n", ">executables<"},
      {"the same account outside Administrators", Account::kAdministratorsDenied, user, "GET",
       "page=users", "", "Status: 403 Forbidden\n", "Administrators only"},
      {"anonymous", Account::kAsIs, "", "GET", "page=users", "", "Status: 401 Unauthorized\n",
       "Log on first"},
      {"another user than the program runs as", Account::kAsIs, computer + "\\Bob", "GET",
       "page=users", "", "Status: 403 Forbidden\n", "Not started as you"},
      {"a change with another token", Account::kAsIs, user, "POST", "", control_bob + "b" + kToken,
       "Status: 403 Forbidden\n", "Change refused"},
      {"a change outside Administrators", Account::kAdministratorsDenied, user, "POST", "",
       control_bob + kToken, "Status: 403 Forbidden\n", "Administrators only"},
      // CR LF in the body: read in text mode it would shrink, and the
      // token's last character would be lost.
      {"a change with the session's token", Account::kAsIs, user, "POST", "",
       "x=1\r\n2&" + control_bob + kToken, "Status: 303 See Other\n", ""},
  };
  for (const auto& request : requests) {
    if (std::string(request.what) == "a change with the session's token") {
      EXPECT_EQ(machine.Value("SELECT user_status FROM USERS", "user_status"), "DISABLED");
    }
    const CgiResult answer =
        Cgi(request.account, request.user, request.method, request.query, request.body);
    EXPECT_EQ(answer.status, std::optional<DWORD>(0)) << request.what;
    EXPECT_EQ(answer.output.compare(0, request.status_line.size(), request.status_line), 0)
        << request.what << ":\n"
        << answer.output.substr(0, 400);
    EXPECT_NE(answer.output.find(request.shows), std::string::npos)
        << request.what << ":\n"
        << answer.output.substr(0, 2000);
    EXPECT_EQ(answer.output.find('\r'), std::string::npos) << request.what;
  }
  EXPECT_EQ(machine.Value("SELECT user_status FROM USERS", "user_status"), "ENABLED");
  EXPECT_EQ(machine.Value("SELECT changed_by FROM ADMIN_AUDIT", "changed_by"), user);
  EXPECT_EQ(machine.Count("ADMIN_AUDIT"), 1);
}

}  // namespace
}  // namespace quillon::testing

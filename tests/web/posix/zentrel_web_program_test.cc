// ZentrelWeb.exe as a web server starts it: the CGI variables in its
// environment and the body on its standard input, on a portable machine
// with the install schema's database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr char kProgram[] = "C:\\Inetpub\\wwwroot\\Zentrel\\ZentrelWeb.exe";

class ZentrelWebProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.CreateWithTool({"--user", "Bob"});
    machine.CreateDatabase();
    machine.CopyIn(BinPath("ZentrelWeb.exe"), kProgram);
    RunSql(machine.database(),
           "INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'DISABLED')");
    machine.environment["SCRIPT_NAME"] = "/Zentrel/ZentrelWeb.exe";
    machine.environment["HTTP_HOST"] = "127.0.0.1:80";
    machine.environment["HTTP_COOKIE"] = "ZentrelToken=" + std::string(64, 'a');
  }

  ToolResult Cgi(const std::string& user, const std::string& method, const std::string& query,
                 const std::string& body = "", const std::string& announced_length = "") {
    machine.environment["REQUEST_METHOD"] = method;
    machine.environment["QUERY_STRING"] = query;
    machine.environment["REMOTE_USER"] = user;
    machine.environment["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    machine.environment["CONTENT_LENGTH"] =
        announced_length.empty() ? std::to_string(body.size()) : announced_length;
    // An anonymous request still runs as some account of the machine.
    return machine.Tool(
        {"run", machine.root(), "--user", user.empty() ? "Administrator" : user, "--", kProgram},
        body);
  }

  TestMachine machine;
};

TEST_F(ZentrelWebProgramTest, AnswersAsACgiProgramAndKeepsOutNonAdministrators) {
  const ToolResult page = Cgi("Administrator", "GET", "page=users");
  EXPECT_EQ(page.status, 0) << page.err;
  EXPECT_THAT(page.out, StartsWith("Status: 200 OK\nContent-Type: text/html; charset=utf-8\n"));
  EXPECT_THAT(page.out, HasSubstr("\n\n<!DOCTYPE html>"));
  EXPECT_THAT(page.out, HasSubstr(">Bob</a>"));

  const ToolResult change = Cgi("Administrator", "POST", "",
                                "action=control&user=Bob&on=1&token=" + std::string(64, 'a'));
  EXPECT_THAT(change.out, StartsWith("Status: 303 See Other\n"));
  EXPECT_EQ(QueryValue(machine.database(), "SELECT user_status FROM USERS"), "ENABLED");
  // Who made it is on record.
  EXPECT_EQ(QueryValue(machine.database(), "SELECT changed_by FROM ADMIN_AUDIT"), "Administrator");

  EXPECT_THAT(Cgi("Bob", "GET", "page=users").out, StartsWith("Status: 403 Forbidden\n"));
  EXPECT_THAT(Cgi("", "GET", "page=users").out, StartsWith("Status: 401 Unauthorized\n"));
}

TEST_F(ZentrelWebProgramTest, AFormTooLargeOrCutShortIsRefusedWholeAndChangesNothing) {
  const std::string form = "action=control&user=Bob&on=1&token=" + std::string(64, 'a');
  const struct {
    const char* what;
    std::string body;
    std::string announced_length;
  } cases[] = {
      {"announced longer than sent", form, std::to_string(form.size() + 10)},
      {"over the limit", form + "&filler=" + std::string(1024 * 1024, 'x'), ""},
      {"a length that wraps", form, "-1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolResult answer = Cgi("Administrator", "POST", "", c.body, c.announced_length);
    EXPECT_THAT(answer.out, StartsWith("Status: 413 Content Too Large\n"));
    EXPECT_THAT(answer.out, HasSubstr("Nothing was changed."));
    EXPECT_EQ(QueryValue(machine.database(), "SELECT user_status FROM USERS"), "DISABLED");
  }
  // The same form announced rightly is taken.
  EXPECT_THAT(Cgi("Administrator", "POST", "", form).out, StartsWith("Status: 303 See Other\n"));
}

}  // namespace
}  // namespace quillon::testing

// The administration web site, request by request, over a real SQLite
// database of the install schema: the pages, the changes made through
// them, and what the site refuses (anonymous users, non-administrators,
// changes without the form's token or from another site, changes on GET,
// bad input), with every text escaped.
#include "web/web_site.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "fakes/fake_host.h"
#include "shared/database.h"
#include "shared/helpers/text.h"
#include "shared/posix/sqlite_database.h"
#include "support/database_support.h"

namespace quillon::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kToken[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

class WebSiteTest : public ::testing::Test {
 protected:
  WebSiteTest() : database_file(CreateZentrelDatabase(folder.path())) {
    machine.shell.SetUserName("Administrator");
  }

  void Sql(const std::string& sql) { RunSql(database_file, Cp1252ToUtf8(sql)); }
  std::string Value(const std::string& sql) { return QueryValue(database_file, sql); }

  web::WebAnswer Get(const std::string& query, const std::string& user = "Administrator") {
    web::CgiRequest request;
    request.method = "GET";
    request.script_name = "/Zentrel/ZentrelWeb.exe";
    request.remote_user = user;
    request.host = "127.0.0.1:8080";
    request.query = web::ParseUrlEncoded(query);
    request.cookies[web::kTokenCookie] = kToken;
    return web::AnswerRequest(host, request);
  }

  // A POST as the site's own form sends it, unless told otherwise.
  web::WebAnswer Post(const std::string& form, const std::string& token = kToken,
                      const std::string& cookie = kToken, const std::string& origin = "") {
    web::CgiRequest request;
    request.method = "POST";
    request.script_name = "/Zentrel/ZentrelWeb.exe";
    request.remote_user = "Administrator";
    request.host = "127.0.0.1:8080";
    request.origin = origin;
    request.form = web::ParseUrlEncoded(form + "&token=" + token);
    if (!cookie.empty()) request.cookies[web::kTokenCookie] = cookie;
    return web::AnswerRequest(host, request);
  }

  static std::string Header(const web::WebAnswer& answer, const std::string& name) {
    for (const auto& [key, value] : answer.headers) {
      if (key == name) return value;
    }
    return "";
  }

  FakeMachine machine;
  DatabaseTestFolder folder;
  std::string database_file;
  SqliteDatabase sqlite{folder.databases()};
  Host host = machine.host(&sqlite);
};

TEST_F(WebSiteTest, EveryPageRendersInTheFrameWithItsMenu) {
  Sql("INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'ENABLED')");
  Sql("INSERT INTO APPS (app_name) VALUES ('Office')");
  Sql("INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\OFFICE\\WORD.EXE', 1)");
  Sql("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\NEW.EXE')");
  const struct {
    std::string query, expected;
  } pages[] = {
      {"", "<h1>Overview</h1>"},
      {"page=overview", "in no application"},
      {"page=apps", ">Office</a>"},
      {"page=app&name=office", "C:\\OFFICE\\WORD.EXE"},
      {"page=unassigned", "C:\\TOOLS\\NEW.EXE"},
      {"page=users", "Controlled"},
      {"page=user&name=bob", "<h1>User Bob</h1>"},
      {"page=requests", "No access request is waiting."},
      {"page=explain", "<form method=\"get\""},
      {"page=explain&user=Bob&path=C:\\OFFICE\\WORD.EXE", "Denied"},
  };
  for (const auto& page : pages) {
    const web::WebAnswer answer = Get(page.query);
    EXPECT_EQ(answer.status, 200) << page.query;
    EXPECT_THAT(answer.body, HasSubstr(page.expected)) << page.query;
    EXPECT_THAT(answer.body, HasSubstr("<nav>")) << page.query;
    EXPECT_THAT(answer.body, HasSubstr("href=\"Zentrel.css\"")) << page.query;
    EXPECT_EQ(Header(answer, "Content-Type"), "text/html; charset=utf-8");
    EXPECT_THAT(Header(answer, "Content-Security-Policy"), HasSubstr("default-src 'none'"));
  }
}

TEST_F(WebSiteTest, ChangesMadeThroughTheFormsReachTheDatabase) {
  Sql("INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'DISABLED')");
  Sql("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\A.EXE')");
  Sql("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\TOOLS\\B.EXE')");
  Sql("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\GAMES\\SOL.EXE')");

  const web::WebAnswer enabled = Post("action=control&user=bob&on=1&back=page%3Dusers");
  EXPECT_EQ(enabled.status, 303);
  EXPECT_EQ(Header(enabled, "Location"), "/Zentrel/ZentrelWeb.exe?page=users&note=enabled");
  EXPECT_EQ(Value("SELECT user_status FROM USERS WHERE user_name = 'Bob'"), "ENABLED");

  EXPECT_EQ(Post("action=app-create&name=+Tools+&back=page%3Dapps").status, 303);
  EXPECT_EQ(Post("action=assign&exe=1&exe=2&app=Tools&back=page%3Dunassigned").status, 303);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM APP_EXES e JOIN APPS a ON a.app_id = e.app_id "
                  "WHERE a.app_name = 'Tools'"),
            "2");
  // Into a new application named in the same form.
  EXPECT_EQ(Post("action=assign&exe=3&app=&new_app=Games").status, 303);
  EXPECT_EQ(Value("SELECT a.app_name FROM APP_EXES e JOIN APPS a ON a.app_id = e.app_id "
                  "WHERE e.exe_path = 'C:\\GAMES\\SOL.EXE'"),
            "Games");
  EXPECT_EQ(Post("action=grant&user=Bob&app=Tools").status, 303);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM ALLOWED_APPS"), "1");
  EXPECT_EQ(Post("action=revoke&user=Bob&app=Tools").status, 303);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM ALLOWED_APPS"), "0");

  EXPECT_EQ(Post("action=app-rename&app=Games&name=Pastimes").status, 303);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM APPS WHERE app_name = 'Pastimes'"), "1");
  // Deleting needs the confirmation.
  EXPECT_EQ(Post("action=app-delete&app=Pastimes&back=page%3Dapps").status, 400);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM APPS WHERE app_name = 'Pastimes'"), "1");
  EXPECT_EQ(Post("action=app-delete&app=Pastimes&confirm=yes&back=page%3Dapps").status, 303);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM APPS WHERE app_name = 'Pastimes'"), "0");

  // A request for an executable in no application: approved into a new one.
  Sql("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\EDIT\\ED.EXE')");
  Sql("INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES (1, 4)");
  EXPECT_THAT(Get("page=requests").body, HasSubstr("C:\\EDIT\\ED.EXE"));
  const web::WebAnswer unnamed = Post("action=approve&request=1&back=page%3Drequests");
  EXPECT_EQ(unnamed.status, 400);
  EXPECT_THAT(unnamed.body, HasSubstr("Nothing was changed."));
  EXPECT_EQ(Post("action=approve&request=1&app=&new_app=Editors&back=page%3Drequests").status, 303);
  EXPECT_EQ(Value("SELECT a.app_name FROM ALLOWED_APPS g JOIN APPS a ON a.app_id = g.app_id"),
            "Editors");
  EXPECT_THAT(Get("page=requests").body, HasSubstr("No access request is waiting."));
}

TEST_F(WebSiteTest, RefusesAnonymousUsersNonAdministratorsAndForeignForms) {
  Sql("INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'DISABLED')");
  EXPECT_EQ(Get("page=users", "").status, 401);
  machine.shell.SetAdministrator(false);
  const web::WebAnswer outsider = Get("page=users", "Bob");
  EXPECT_EQ(outsider.status, 403);
  EXPECT_THAT(outsider.body, Not(HasSubstr("<nav>")));
  machine.shell.SetAdministrator(true);

  const std::string change = "action=control&user=Bob&on=1";
  const struct {
    std::string token, cookie, origin;
  } forged[] = {
      {"", kToken, ""},                             // no token in the form
      {std::string(64, 'f'), kToken, ""},           // another token
      {kToken, "", ""},                             // no cookie: a new session
      {kToken, kToken, "http://attacker.example"},  // another site's page
  };
  for (const auto& attempt : forged) {
    const web::WebAnswer refused = Post(change, attempt.token, attempt.cookie, attempt.origin);
    EXPECT_EQ(refused.status, 403) << attempt.token << " " << attempt.origin;
    EXPECT_EQ(Value("SELECT user_status FROM USERS WHERE user_name = 'Bob'"), "DISABLED");
  }
  EXPECT_EQ(Post(change, kToken, kToken, "http://127.0.0.1:8080").status, 303);

  // GET changes nothing, whatever it carries.
  Get("page=users&" + change + "&on=0&token=" + kToken);
  EXPECT_EQ(Value("SELECT user_status FROM USERS WHERE user_name = 'Bob'"), "ENABLED");

  // A session without a token gets one, in a cookie scripts cannot read.
  web::CgiRequest fresh;
  fresh.method = "GET";
  fresh.remote_user = "Administrator";
  const web::WebAnswer first = web::AnswerRequest(host, fresh);
  EXPECT_THAT(
      Header(first, "Set-Cookie"),
      ::testing::MatchesRegex("ZentrelToken=[0-9a-f]{64}; Path=/; HttpOnly; SameSite=Strict"));
}

// Who the server logged on, as its variables name them, against the account
// the program runs under: the membership test speaks for the logged-on user
// only when the server started the program as that user.
TEST_F(WebSiteTest, LetsInOnlyAnAdministratorTheProgramRunsAs) {
  const struct {
    std::string remote_user, auth_user, process_account;
    bool administrator;
    int status;
  } cases[] = {
      {"Administrator", "", "Administrator", true, 200},
      {"HARLWICK-PC\\Administrator", "HARLWICK-PC\\Administrator", "Administrator", true, 200},
      {"harlwick-pc\\ADMINISTRATOR", "", "Administrator", true, 200},
      {"", "HARLWICK-PC\\Administrator", "Administrator", true, 200},  // AUTH_USER alone
      {"", "", "Administrator", true, 401},
      {"HARLWICK-PC\\Bob", "", "Bob", false, 403},
      // Started as the server's own account, which is an administrator.
      {"HARLWICK-PC\\Bob", "", "Administrator", true, 403},
      {"Bob", "", "SYSTEM", true, 403},
      {"HARLWICK-PC\\", "", "Administrator", true, 403},
  };
  for (const auto& c : cases) {
    machine.shell.SetUserName(c.process_account);
    machine.shell.SetAdministrator(c.administrator);
    const std::map<std::string, std::string> variables = {
        {"REQUEST_METHOD", "get"},
        {"QUERY_STRING", "page=users"},
        {"REMOTE_USER", c.remote_user},
        {"AUTH_USER", c.auth_user},
        {"HTTP_COOKIE", std::string(web::kTokenCookie) + "=" + kToken}};
    const web::CgiRequest request = web::ReadCgiRequest(
        [&](const std::string& name) {
          const auto found = variables.find(name);
          return found == variables.end() ? std::string() : found->second;
        },
        "");
    const web::WebAnswer answer = web::AnswerRequest(host, request);
    EXPECT_EQ(answer.status, c.status)
        << c.remote_user << " / " << c.auth_user << " as " << c.process_account;
    EXPECT_EQ(answer.body.find("<nav>") != std::string::npos, c.status == 200) << c.remote_user;
  }
}

TEST_F(WebSiteTest, EscapesEveryTextFromTheDatabaseAndTheRequest) {
  const std::string hostile = "<script>alert(\"x\")</script>&'";
  Sql("INSERT INTO APPS (app_name) VALUES ('" + DoubleQuotes(hostile) + "')");
  Sql("INSERT INTO USERS (user_name, user_status) VALUES ('\"><img src=x onerror=alert(1)>', "
      "'ENABLED')");
  Sql("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\<B>\\X.EXE')");
  for (const std::string& query :
       {std::string("page=apps"), std::string("page=users"), std::string("page=unassigned"),
        std::string("page=app&name=") + web::UrlEncode(hostile),
        std::string("page=explain&user=%3Cu%3E&path=C:%5C%3Cscript%3E.exe"),
        std::string("page=unassigned&filter=%22%3E%3Cscript%3E")}) {
    const web::WebAnswer answer = Get(query);
    EXPECT_THAT(answer.body, Not(HasSubstr("<script>"))) << query;
    EXPECT_THAT(answer.body, Not(HasSubstr("<img"))) << query;
  }
  EXPECT_THAT(Get("page=apps").body,
              HasSubstr("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;&#39;"));
  // Text in the system code page reaches the page as UTF-8.
  Sql("INSERT INTO APPS (app_name) VALUES ('Caf\xE9')");
  EXPECT_THAT(Get("page=apps").body, HasSubstr("Caf\xC3\xA9"));
}

TEST_F(WebSiteTest, BadInputGetsAClearAnswerAndChangesNothing) {
  Sql("INSERT INTO APPS (app_name) VALUES ('Tools')");
  const struct {
    std::string form;
    int status;
    std::string message;
  } cases[] = {
      {"action=assign&exe=abc&app=Tools", 400, "not a number"},
      {"action=assign&app=Tools", 400, "Check the executables"},
      {"action=assign&exe=99&app=Tools", 404, ""},
      {"action=grant&user=Nobody&app=Tools", 404, ""},
      {"action=app-create&name=Tools", 409, ""},
      {"action=app-create&name=", 400, ""},
      {"action=approve&request=7", 404, ""},
      {"action=dismiss&request=-1", 400, "not a number"},
      {"action=explode", 400, "unknown"},
  };
  for (const auto& c : cases) {
    const web::WebAnswer answer = Post(c.form + "&back=page%3Dapps");
    EXPECT_EQ(answer.status, c.status) << c.form;
    EXPECT_THAT(answer.body, HasSubstr("Nothing was changed.")) << c.form;
    EXPECT_THAT(answer.body, HasSubstr(c.message)) << c.form;
    EXPECT_THAT(answer.body, HasSubstr("<h1>Applications</h1>")) << c.form;  // back on its page
  }
  EXPECT_EQ(Value("SELECT COUNT(*) FROM APPS"), "1");
  EXPECT_EQ(Get("page=app&name=Nothing").status, 404);
  EXPECT_EQ(Get("page=user&name=Nobody").status, 404);
}

TEST_F(WebSiteTest, ADatabaseFailureShowsAClearPage) {
  ASSERT_EQ(std::remove(database_file.c_str()), 0);
  const web::WebAnswer answer = Post("action=app-create&name=Tools");
  EXPECT_EQ(answer.status, 500);
  EXPECT_THAT(answer.body, HasSubstr("The database cannot be used"));
  EXPECT_THAT(answer.body, HasSubstr("Nothing was changed."));
}

// The database refuses the last step of a change that takes several (here
// the record of who made it): the steps before it are undone with it.
TEST_F(WebSiteTest, ADatabaseThatRefusesMidwayLeavesNothingHalfDone) {
  Sql("INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'DISABLED')");
  Sql("INSERT INTO APP_EXES (exe_path) VALUES ('C:\\EDIT\\ED.EXE')");
  Sql("INSERT INTO ACCESS_REQUESTS (user_id, exe_id) VALUES (1, 1)");
  // Every table a change may touch, in one line.
  const std::string state =
      "SELECT (SELECT COUNT(*) FROM APPS) || '/' || (SELECT COUNT(*) FROM ALLOWED_APPS) || '/' "
      "|| (SELECT COUNT(*) FROM ACCESS_REQUESTS) || '/' || (SELECT COUNT(*) FROM ADMIN_AUDIT) "
      "|| '/' || (SELECT IFNULL(app_id, '-') FROM APP_EXES) || '/' || "
      "(SELECT user_status FROM USERS)";
  const std::string before = Value(state);
  const struct {
    std::string refused_action, form;
  } cases[] = {
      {"enable", "action=control&user=Bob&on=1"},
      // The new application, the executable moved into it and the grant
      // are made before the request's approval is recorded.
      {"approve", "action=approve&request=1&app=&new_app=Editors"},
  };
  for (const auto& c : cases) {
    Sql("CREATE TRIGGER refuse BEFORE INSERT ON ADMIN_AUDIT WHEN NEW.action = '" +
        c.refused_action + "' BEGIN SELECT RAISE(ABORT, 'the disk is full'); END");
    const web::WebAnswer answer = Post(c.form + "&back=page%3Drequests");
    EXPECT_EQ(answer.status, 500) << c.form;
    EXPECT_THAT(answer.body, HasSubstr("The database cannot be used")) << c.form;
    EXPECT_THAT(answer.body, HasSubstr("the disk is full")) << c.form;
    EXPECT_THAT(answer.body, HasSubstr("Nothing was changed.")) << c.form;
    EXPECT_EQ(Value(state), before) << c.form;
    Sql("DROP TRIGGER refuse");
  }
  // Once the database takes it again, the same form goes through.
  EXPECT_EQ(Post("action=approve&request=1&app=&new_app=Editors").status, 303);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM ACCESS_REQUESTS"), "0");
}

TEST(WebPartsTest, ReadsFormsLogsAndWritesCgiAnswers) {
  const auto form = web::ParseUrlEncoded("a=1&b=x+y%26z&a=2&c&%ZZ=%4");
  EXPECT_EQ(form.count("a"), 2u);
  EXPECT_EQ(form.find("b")->second, "x y&z");
  EXPECT_EQ(form.find("c")->second, "");
  EXPECT_EQ(form.find("%ZZ")->second, "%4");
  EXPECT_EQ(web::UrlEncode("C:\\A B\xE9"), "C%3A%5CA%20B%E9");
  EXPECT_EQ(web::UrlDecode(web::UrlEncode("<&=+>")), "<&=+>");
  EXPECT_EQ(web::ParseCookies("x=1; ZentrelToken=ab; x=2").at("x"), "1");

  const std::vector<web::Denial> denials = web::LatestDenials(
      {"12/07/26 10:00:00: C:\\A.EXE_|_Unassigned_|_Bob", "broken line",
       "12/07/26 10:05:00: C:\\B.EXE_|_Office_|_Ann", "12/07/26 10:06:00: C:\\C.EXE_|_x"},
      10);
  ASSERT_EQ(denials.size(), 2u);
  EXPECT_EQ(denials[0].path, "C:\\B.EXE");
  EXPECT_EQ(denials[0].decision, "Office");
  EXPECT_EQ(denials[0].user, "Ann");
  EXPECT_EQ(denials[1].time, "12/07/26 10:00:00");
  EXPECT_EQ(web::LatestDenials({"12/07/26 10:00:00: C:\\A.EXE_|_Unassigned_|_Bob"}, 0).size(), 0u);

  web::WebAnswer answer;
  answer.status = 303;
  answer.headers = {{"Location", "/x?page=apps"}};
  EXPECT_EQ(web::CgiOutput(answer), "Status: 303 See Other\nLocation: /x?page=apps\n\n");
}

}  // namespace
}  // namespace quillon::testing

// The portable machine's web server: started and stopped as the service
// W3SVC, logon against the machine's accounts, static files and CGI
// programs under the web root, and what it refuses.
#include "support/web_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <thread>

#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr char kWebRoot[] = "C:\\Inetpub\\wwwroot";

// A CGI program (a shell script) that shows what it was given.
constexpr char kEchoProgram[] =
    "#!/bin/sh\n"
    "printf 'Content-Type: text/plain\\r\\nStatus: 201 Made\\r\\nX-Echo: yes\\r\\n\\r\\n'\n"
    "for v in REQUEST_METHOD QUERY_STRING SCRIPT_NAME REMOTE_USER USERNAME HTTP_COOKIE "
    "CONTENT_LENGTH; do eval \"printf '%s=%s\\n' $v \\\"\\$$v\\\"\"; done\n"
    "printf 'cwd=%s\\n' \"$(pwd)\"\n"
    "cat\n";

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.CreateWithTool({"--user", "Bob"});
    ASSERT_EQ(
        machine
            .Tool({"account", machine.root(), "Administrator", "--administrator"}, "s3cret pass\n")
            .status,
        0);
    ASSERT_EQ(machine.Tool({"account", machine.root(), "Bob"}, "bobs\n").status, 0);
    machine.WriteFile(std::string(kWebRoot) + "\\Default.htm", "<p>home</p>");
    machine.WriteFile(std::string(kWebRoot) + "\\Site\\cgi.ini", "[CGI]\r\nprogram = Echo.exe\r\n");
    machine.WriteFile(std::string(kWebRoot) + "\\Site\\Echo.exe", kEchoProgram, true);
    machine.WriteFile(std::string(kWebRoot) + "\\Site\\site.css", "body{}");
    const ToolResult started = machine.Run("net.exe start W3SVC");
    ASSERT_EQ(started.status, 0) << started.err;
    ASSERT_THAT(started.out, HasSubstr("The web server listens at http://127.0.0.1:"));
    port = std::stoi(ReadPosixFile(machine.InRoot("w3svc.port")));
  }
  void TearDown() override { machine.Run("net.exe stop W3SVC"); }

  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(120, 0);
    return client;
  }
  // Logs on and returns the session cookie ("" when refused).
  std::string LogOn(const std::string& user, const std::string& password) const {
    httplib::Client client = Client();
    const auto result =
        client.Post("/_logon", httplib::Params{{"user", user}, {"password", password}});
    if (!result || result->status != 303) return "";
    const std::string cookie = result->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
  }

  TestMachine machine;
  int port = 0;
};

TEST_F(WebServerTest, AsksEveryoneToLogOnAndLetsInOnlyTheRightPassword) {
  httplib::Client client = Client();
  const auto anonymous = client.Get("/Site/");
  ASSERT_TRUE(anonymous);
  EXPECT_EQ(anonymous->status, 401);
  EXPECT_THAT(anonymous->body, HasSubstr("<form"));
  EXPECT_THAT(anonymous->body, HasSubstr("value=\"/Site/\""));  // comes back here
  EXPECT_THAT(anonymous->get_header_value("Content-Security-Policy"), HasSubstr("default-src"));

  struct Attempt {
    std::string user, password;
    bool accepted;
  } const attempts[] = {
      {"Administrator", "s3cret pass", true},
      {"administrator", "s3cret pass", true},
      {"Administrator", "s3cret", false},
      {"Administrator", "", false},
      {"Bob", "bobs", true},
      {"Nobody", "bobs", false},
      {"Bob", "s3cret pass", false},
  };
  for (const Attempt& attempt : attempts) {
    EXPECT_EQ(!LogOn(attempt.user, attempt.password).empty(), attempt.accepted)
        << attempt.user << " / " << attempt.password;
  }
  // Only hashes are stored, never the passwords.
  const std::string accounts = ReadPosixFile(machine.InRoot("accounts"));
  EXPECT_THAT(accounts, HasSubstr("Administrator\tAdministrators\t$argon2id$"));
  EXPECT_THAT(accounts, HasSubstr("Bob\tUsers\t$argon2id$"));
  EXPECT_THAT(accounts, Not(HasSubstr("s3cret")));

  // A forged or ended session is no session.
  const std::string cookie = LogOn("Bob", "bobs");
  EXPECT_EQ(client.Get("/", {{"Cookie", "QuillonLogon=0000"}})->status, 401);
  EXPECT_EQ(client.Get("/", {{"Cookie", cookie}})->status, 200);
  EXPECT_EQ(client.Post("/_logoff", {{"Cookie", cookie}}, "", "text/plain")->status, 200);
  const auto ended = client.Get("/Site/", {{"Cookie", cookie}});
  EXPECT_EQ(ended->status, 401);
  // The browser still sent its cookie: the form says why it shows again.
  EXPECT_THAT(ended->body, HasSubstr("Your logon has ended; log on again."));
  EXPECT_THAT(anonymous->body, Not(HasSubstr("Your logon has ended")));
}

TEST_F(WebServerTest, ServesFilesAndRunsTheFoldersCgiProgramWithTheRequest) {
  const std::string cookie = LogOn("Bob", "bobs");
  httplib::Client client = Client();
  const httplib::Headers headers{{"Cookie", cookie + "; theme=dark"}};
  EXPECT_EQ(client.Get("/", headers)->body, "<p>home</p>");
  EXPECT_EQ(client.Get("/Site/site.css", headers)->get_header_value("Content-Type"), "text/css");

  const auto get = client.Get("/site/?page=apps&x=%3C", headers);
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 201);
  EXPECT_EQ(get->get_header_value("X-Echo"), "yes");
  EXPECT_THAT(get->body, HasSubstr("REQUEST_METHOD=GET\n"));
  EXPECT_THAT(get->body, HasSubstr("QUERY_STRING=page=apps&x=%3C\n"));
  EXPECT_THAT(get->body, HasSubstr("SCRIPT_NAME=/site/Echo.exe\n"));
  EXPECT_THAT(get->body, HasSubstr("REMOTE_USER=Bob\nUSERNAME=Bob\n"));
  // The server's own session cookie stays with the server.
  EXPECT_THAT(get->body, HasSubstr("HTTP_COOKIE=theme=dark\n"));
  EXPECT_THAT(get->body, HasSubstr("cwd=" + machine.Posix(std::string(kWebRoot) + "\\Site")));

  const auto post =
      client.Post("/Site/Echo.exe", headers, "a=1&b=%26", "application/x-www-form-urlencoded");
  ASSERT_TRUE(post);
  EXPECT_THAT(post->body, HasSubstr("REQUEST_METHOD=POST\n"));
  EXPECT_THAT(post->body, HasSubstr("CONTENT_LENGTH=9\n"));
  EXPECT_THAT(post->body, HasSubstr("a=1&b=%26"));
}

TEST_F(WebServerTest, RefusesWhatItMustNotServe) {
  const std::string cookie = LogOn("Bob", "bobs");
  httplib::Client client = Client();
  const httplib::Headers headers{{"Cookie", cookie}};
  struct Case {
    std::string path;
    int status;
  } const cases[] = {
      {"/Site", 301},          // a folder is addressed with its slash
      {"/Site/cgi.ini", 404},  // settings are not content
      {"/Site/nothing.htm", 404},
      {"/Site/%2e%2e/%2e%2e/%2e%2e/registry.reg", 404},  // never above the root
      {"/Site/..%5c..%5cregistry.reg", 404},
      {"/Site/a%3Cb.htm", 404},  // a name Windows forbids
  };
  for (const Case& c : cases) {
    const auto result = client.Get(c.path, headers);
    ASSERT_TRUE(result) << c.path;
    EXPECT_EQ(result->status, c.status) << c.path;
  }
  machine.WriteFile(std::string(kWebRoot) + "\\Empty\\note.txt", "x");
  EXPECT_EQ(client.Get("/Empty/", headers)->status, 403);  // no listings

  // A form of another site is refused before the program runs.
  httplib::Headers foreign = headers;
  foreign.emplace("Origin", "http://attacker.example");
  EXPECT_EQ(client.Post("/Site/", foreign, "a=1", "application/x-www-form-urlencoded")->status,
            403);
  httplib::Headers own = headers;
  own.emplace("Origin", "http://127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(client.Post("/Site/", own, "a=1", "application/x-www-form-urlencoded")->status, 201);

  // After logging on, only paths of this site are returned to.
  const auto logon = client.Post(
      "/_logon",
      httplib::Params{{"user", "Bob"}, {"password", "bobs"}, {"return", "//attacker.example/"}});
  EXPECT_EQ(logon->get_header_value("Location"), "/");
}

TEST_F(WebServerTest, StopsWithTheServiceAndStartsAgainOnRestart) {
  EXPECT_EQ(machine.Tool({"web", machine.root()}).out,
            "http://127.0.0.1:" + std::to_string(port) + "/\n");
  // Already running: net says so.
  EXPECT_EQ(machine.Run("net.exe start W3SVC").status, 2);

  ASSERT_EQ(machine.Run("net.exe stop W3SVC").status, 0);
  EXPECT_EQ(machine.Tool({"web", machine.root()}).status, 1);
  EXPECT_FALSE(PosixExists(machine.InRoot("w3svc.port")));
  EXPECT_FALSE(Client().Get("/"));

  const ToolResult restarted = machine.Tool({"restart", machine.root()});
  EXPECT_THAT(restarted.out, HasSubstr("started W3SVC\nweb server at http://127.0.0.1:"));
  port = std::stoi(ReadPosixFile(machine.InRoot("w3svc.port")));
  EXPECT_EQ(Client().Get("/")->status, 401);

  // Manual start: a restart leaves it stopped.
  machine.SetRegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start", "3",
                           "REG_DWORD");
  machine.Tool({"restart", machine.root()});
  EXPECT_EQ(machine.Tool({"web", machine.root()}).status, 1);
}

TEST(CgiOutputTest, SplitsStatusHeadersAndBody) {
  using machine::ParseCgiOutput;
  const auto plain = ParseCgiOutput("Content-Type: text/html\r\n\r\n<p>x</p>\r\n\r\nmore");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->status, 200);
  EXPECT_EQ(plain->body, "<p>x</p>\r\n\r\nmore");
  const auto moved = ParseCgiOutput("Location: /x/\nSet-Cookie: a=b\n\n");
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->status, 302);
  EXPECT_EQ(moved->headers.size(), 2u);
  EXPECT_EQ(ParseCgiOutput("Status: 403 Forbidden\r\nContent-Type: text/plain\r\n\r\nno")->status,
            403);
  for (const char* broken : {"", "<html>no headers</html>", "Status: 99\r\n\r\n",
                             "Status: nine\r\n\r\n", "no colon here\n\nbody"}) {
    EXPECT_FALSE(ParseCgiOutput(broken)) << broken;
  }
  EXPECT_EQ(machine::CookieHeaderWithout("a=1; QuillonLogon=xyz; b=2", "QuillonLogon"), "a=1; b=2");
  EXPECT_EQ(machine::CookieValue("a=1; QuillonLogon=xyz", "QuillonLogon"), "xyz");
  EXPECT_EQ(machine::CookieValue("QuillonLogonX=1", "QuillonLogon"), "");
}

}  // namespace
}  // namespace quillon::testing

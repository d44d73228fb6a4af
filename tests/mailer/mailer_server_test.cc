// The built Corvane.exe on a portable machine against mail servers on
// 127.0.0.1: the message arrives with every value intact, hostile values
// change nothing, every kind of failure ends in one Error.log line, and a
// denied launch answered Yes brings the recorded request to the server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <regex>

#include "local_mail_server.h"
#include "shared/helpers/text.h"
#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::SizeIs;

constexpr char kMailer[] = "C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe";
constexpr char kErrorLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Error.log";
constexpr char kSettings[] = "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini";

using Record = std::map<std::string, std::optional<std::string>>;

std::string Field(const Record& record, const std::string& name) {
  const auto found = record.find(name);
  return found == record.end() ? "<absent>" : found->second.value_or("<null>");
}

// A value as the message's text shows it: every line break one LF.
std::string AsText(const std::string& value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') continue;
    text += value[i] == '\r' ? '\n' : value[i];
  }
  return text;
}

// A value as a header shows it: one line, runs of blanks one blank.
std::string AsHeader(const std::string& value) {
  std::string header;
  for (char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    if (c != ' ' || (!header.empty() && header.back() != ' ')) header += c;
  }
  return header;
}

// The message's text as the checker's values make it, line breaks as LF.
std::string ExpectedText(const std::vector<std::string>& a, const std::string& page) {
  return AsText(a[5] + " asks for access to the application " + a[4] + " on " + a[2] +
                ".\n\nRequest:     " + a[6] + "\nUser:        " + a[5] + "\nComputer:    " + a[2] +
                "\nApplication: " + a[4] + "\nExecutable:  " + a[3] +
                "\n\nDecide on the request on the administration web site:\n" + page + "\n");
}

// A port of 127.0.0.1 where nothing listens.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

class MailerServerTest : public ::testing::Test {
 protected:
  MailerServerTest() {
    MakePosixFolders(machine.Posix(std::string(kProductFolder) + "\\Logs"));
    machine.CopyIn(BinPath("Corvane.exe"), kMailer);
  }

  int RunCorvane(const std::vector<std::string>& arguments) const {
    return WaitForChild(machine.StartProgram(machine.Posix(kMailer), arguments));
  }

  std::vector<std::string> Request(const std::string& server) const {
    return {
        server, "admin@harlwick.example", "HARLWICK-PC", "C:\\TOOLS\\GAME.EXE", "Games", "alice",
        "17"};
  }

  TestMachine machine{MachineTree::kMinimal};
};

TEST_F(MailerServerTest, TheMessageArrivesWithEveryValueIntact) {
  const LocalMailServer server("accept");
  std::vector<std::string> request = Request(server.address());
  request[1] = " admin@harlwick.example ,, second@harlwick.example,";
  ASSERT_EQ(RunCorvane(request), 0);

  const auto message = server.AwaitMessage(1);
  ASSERT_TRUE(message);
  EXPECT_EQ(Field(*message, "mail_from"), "zentrel@HARLWICK-PC");
  EXPECT_EQ(Field(*message, "rcpt_to"), "admin@harlwick.example, second@harlwick.example");
  EXPECT_EQ(Field(*message, "header_names"),
            "Date, From, To, Subject, Message-ID, MIME-Version, Content-Type, "
            "Content-Transfer-Encoding");
  EXPECT_EQ(Field(*message, "From"), "zentrel@HARLWICK-PC");
  EXPECT_EQ(Field(*message, "To"), "admin@harlwick.example, second@harlwick.example");
  EXPECT_EQ(Field(*message, "Subject"), "Access request: alice asks for Games on HARLWICK-PC");
  EXPECT_THAT(Field(*message, "Date"),
              MatchesRegex("[A-Z][a-z][a-z], [0-9][0-9] [A-Z][a-z][a-z] 20[0-9][0-9] "
                           "[0-9][0-9]:[0-9][0-9]:[0-9][0-9] \\+0000"));
  EXPECT_THAT(Field(*message, "Message-ID"),
              MatchesRegex("<request-17\\.[0-9]+\\.[0-9a-f]{16}@HARLWICK-PC>"));
  EXPECT_EQ(Field(*message, "MIME-Version"), "1.0");
  EXPECT_EQ(Field(*message, "Content-Type"), "text/plain; charset=\"UTF-8\"");
  EXPECT_EQ(Field(*message, "Content-Transfer-Encoding"), "quoted-printable");
  EXPECT_EQ(AsText(Field(*message, "body")),
            ExpectedText(request, "http://HARLWICK-PC/Zentrel/requests?id=17"));
  EXPECT_FALSE(machine.Exists(kErrorLog));
  EXPECT_THAT(machine.Dialogs(), IsEmpty());
}

TEST_F(MailerServerTest, HostileValuesNeverChangeTheMessage) {
  const LocalMailServer server("accept");
  const std::string kilobyte(1024, 'k');
  struct Case {
    std::string name;
    std::vector<std::string> values;  // computer, executable, application, user, id
  };
  const std::vector<Case> cases = {
      {"quotes", {"PC", "C:\\A \"B\"\\X.EXE", "\"Games\" 'n' \\", "o'brien \"ob\"", "1"}},
      {"line breaks",
       {"PC\r\nBcc: evil@example.com", "C:\\X.EXE\r\n.\r\nQUIT\r\n",
        "Games\r\nSubject: forged\r\n\r\nbody", "alice\nTo: evil@example.com", "2\r\n.\r\n"}},
      {"lone CR and dots", {"PC", ".\rC:\\X.EXE", ".Games\r..more", "..alice", ".3"}},
      {"kilobyte names",
       {kilobyte, "C:\\" + kilobyte + "\\X.EXE", kilobyte, kilobyte + " " + kilobyte, "4"}},
      {"Latin-1 letters",
       {"B\xdcRO", "C:\\PROGRAMME\\CAF\xc9\\\xc0 LA CARTE.EXE", "\xc9t\xe9 \x80 \xdf",
        "Jos\xe9 M\xfcller", "5"}},
      {"encoded-word lookalike", {"PC", "C:\\X.EXE", "=?UTF-8?B?ZXZpbA==?=", "=?x?=", "6"}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::vector<std::string> request = {server.address(), "admin@harlwick.example",
                                              c.values[0],      c.values[1],
                                              c.values[2],      c.values[3],
                                              c.values[4]};
    ASSERT_EQ(RunCorvane(request), 0) << machine.ReadFile(kErrorLog);
    const auto message = server.AwaitMessage(static_cast<int>(i + 1));
    ASSERT_TRUE(message);
    EXPECT_EQ(Field(*message, "rcpt_to"), "admin@harlwick.example");
    EXPECT_EQ(Field(*message, "header_names"),
              "Date, From, To, Subject, Message-ID, MIME-Version, Content-Type, "
              "Content-Transfer-Encoding");
    EXPECT_EQ(Field(*message, "To"), "admin@harlwick.example");
    EXPECT_EQ(Field(*message, "Subject"), AsHeader("Access request: " + c.values[3] + " asks for " +
                                                   c.values[2] + " on " + c.values[0]));
    const std::string body = AsText(Field(*message, "body"));
    for (const std::string& value : c.values) {
      EXPECT_NE(body.find(AsText(value)), std::string::npos) << AsText(value).substr(0, 40);
    }
    // On the wire: header lines of at most 78 characters, text lines of at
    // most 76.
    const std::string raw = server.RawMessage(static_cast<int>(i + 1));
    const std::size_t end_of_headers = raw.find("\r\n\r\n");
    ASSERT_NE(end_of_headers, std::string::npos);
    for (const std::string& line : SplitAll(raw.substr(0, end_of_headers), "\r\n")) {
      EXPECT_LE(line.size(), 78u) << line.substr(0, 60);
    }
    for (const std::string& line : SplitAll(raw.substr(end_of_headers + 4), "\r\n")) {
      EXPECT_LE(line.size(), 76u) << line.substr(0, 60);
    }
  }
  EXPECT_FALSE(machine.Exists(kErrorLog));
}

TEST_F(MailerServerTest, EveryFailureEndsInOneErrorLogLine) {
  struct Case {
    std::string name;
    std::string mode;  // the server's, or "" for none
    std::string server;
    std::size_t arguments;
    std::string logged;  // a regular expression for what follows the timestamp
  };
  const std::vector<Case> cases = {
      {"recipient refused", "reject", "", 7,
       R"(ERROR! Corvane: access request "17" not mailed through "127\.0\.0\.1:[0-9]+": the )"
       R"(server answered "550 5\.7\.1 Relaying denied" to RCPT TO:<admin@harlwick\.example>)"},
      {"closed after the greeting", "close", "", 7,
       R"(ERROR! Corvane: access request "17" not mailed through "127\.0\.0\.1:[0-9]+": the )"
       R"(server closed the connection before answering EHLO HARLWICK-PC)"},
      {"never answers", "silent", "", 7,
       R"(ERROR! Corvane: access request "17" not mailed through "127\.0\.0\.1:[0-9]+": Timed )"
       R"(out waiting for the answer to the connection)"},
      {"connection refused", "", "<a closed port>", 7,
       R"(ERROR! Corvane: access request "17" not mailed through "127\.0\.0\.1:[0-9]+": )"
       R"(Connection refused)"},
      {"unknown host", "", "no-such-host.invalid", 7,
       R"(ERROR! Corvane: access request "17" not mailed through "no-such-host\.invalid": )"
       R"(Host not found: "no-such-host\.invalid" \(.*\))"},
      {"six arguments", "", "mail.test", 6,
       R"(ERROR! Corvane: invalid command line arguments \(6 instead of 7\): "mail\.test" )"
       R"("admin@harlwick\.example" "HARLWICK-PC" "C:\\TOOLS\\GAME\.EXE" "Games" "alice")"},
  };
  // The silent server is waited for no longer than the shortened bound.
  machine.environment["QUILLON_SMTP_TIMEOUT_MS"] = "1500";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<LocalMailServer> server;
    if (!c.mode.empty()) server.emplace(c.mode);
    const std::string closed = "127.0.0.1:" + std::to_string(ClosedPort());
    std::vector<std::string> request = Request(server                          ? server->address()
                                               : c.server == "<a closed port>" ? closed
                                                                               : c.server);
    request.resize(c.arguments);
    std::filesystem::remove(machine.Posix(kErrorLog));

    EXPECT_EQ(RunCorvane(request), 1);

    const std::vector<std::string> lines = TextLines(machine.Posix(kErrorLog));
    ASSERT_THAT(lines, SizeIs(1));
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d: )" + c.logged)))
        << lines[0];
    std::cout << "[ logged   ] " << c.name << ": " << lines[0] << "\n";
  }
  EXPECT_THAT(machine.Dialogs(), IsEmpty());
}

TEST(MailerLaunchTest, ADeniedLaunchAnsweredYesMailsTheRecordedRequest) {
  const LocalMailServer server("accept");
  TestMachine machine;
  machine.CreateWithTool({"--user", "Bob", "--computer-name", "XP-DESK"});
  machine.PutCheckerInPlace();
  machine.PutHookLibraryInPlace();
  machine.CopyIn(BinPath("Corvane.exe"), kMailer);
  machine.CreateDatabase();
  RunSql(machine.database(),
         "INSERT INTO USERS (user_name, user_status) VALUES ('Bob', 'ENABLED')");
  machine.WriteFile(kSettings, "adminemail: admin@harlwick.example;\r\nsmtpserver: " +
                                   server.address() + ";\r\n");
  machine.SetRegistryValue(kAppInitDllsValue, "Zentrel.dll");
  machine.Answer("Yes");
  machine.Answer("OK");

  const ToolResult result = machine.Start("Bob", "notepad.exe");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(LastLine(result), "terminated");

  const auto message = server.AwaitMessage(1);
  ASSERT_TRUE(message);
  const std::string request_id =
      QueryValue(machine.database(), "SELECT request_id FROM ACCESS_REQUESTS");
  EXPECT_FALSE(request_id.empty());
  EXPECT_EQ(Field(*message, "rcpt_to"), "admin@harlwick.example");
  EXPECT_EQ(Field(*message, "Subject"), "Access request: Bob asks for Unassigned on XP-DESK");
  EXPECT_EQ(AsText(Field(*message, "body")),
            ExpectedText({server.address(), "admin@harlwick.example", "XP-DESK",
                          "C:\\WINDOWS\\NOTEPAD.EXE", "Unassigned", "Bob", request_id},
                         "http://XP-DESK/Zentrel/requests?id=" + request_id));
  EXPECT_FALSE(machine.Exists(kErrorLog));
  std::cout << "[ received ]\n" << server.RawMessage(1);
}

}  // namespace
}  // namespace quillon::testing

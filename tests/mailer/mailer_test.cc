// The mailer's entry procedure over the fakes: the exact SMTP conversation,
// the HELO fallback, the bounds and their shortening, and every failure
// ending in one Error.log line and status 1.
#include "mailer/mailer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_host.h"

namespace quillon::mailer {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kErrorLog[] = "C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Error.log";

class MailerTest : public ::testing::Test {
 protected:
  MailerTest() { machine.files.AddFolder("C:\\Program Files\\Harlwick\\Zentrel\\Logs"); }

  int Run(const std::vector<std::string>& arguments = {
              "mail.harlwick.example:2525", "a@x.example, b@x.example", "HARLWICK-PC",
              "C:\\TOOLS\\GAME.EXE", "Games", "alice", "7"}) {
    Host host = machine.host();
    return RunMailer(host, arguments);
  }

  // The commands the mailer sent, one per line; the message as "<message>".
  std::vector<std::string> Commands() const {
    std::vector<std::string> commands;
    const std::string& sent = machine.network.sent;
    for (std::size_t at = 0; at < sent.size();) {
      if (!commands.empty() && commands.back() == "DATA") {
        const std::size_t end = sent.find("\r\n.\r\n", at);
        commands.push_back("<message>");
        at = end + 5;
        continue;
      }
      const std::size_t end = sent.find("\r\n", at);
      commands.push_back(sent.substr(at, end - at));
      at = end + 2;
    }
    return commands;
  }

  std::string ErrorLog() const { return machine.files.Content(kErrorLog).value_or(""); }

  void Serve(const std::vector<std::string>& replies) {
    for (const std::string& reply : replies) machine.network.Queue(reply);
  }

  testing::FakeMachine machine;
};

const std::vector<std::string> kAcceptingServer = {"220 mail.test ESMTP\r\n",
                                                   "250-mail.test\r\n250-PIPE",
                                                   "LINING\r\n250 8BITMIME\r\n",
                                                   "250 OK\r\n",
                                                   "250 OK\r\n",
                                                   "251 forwarded\r\n",
                                                   "354 go on\r\n",
                                                   "250 queued\r\n",
                                                   "221 bye\r\n"};

TEST_F(MailerTest, TheMessageGoesThroughOneConversation) {
  Serve(kAcceptingServer);
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(machine.journal.entries(),
              ElementsAre("Connect mail.harlwick.example:2525 (10000 ms)"));
  EXPECT_THAT(Commands(), ElementsAre("EHLO HARLWICK-PC", "MAIL FROM:<zentrel@HARLWICK-PC>",
                                      "RCPT TO:<a@x.example>", "RCPT TO:<b@x.example>", "DATA",
                                      "<message>", "QUIT"));
  EXPECT_THAT(machine.network.sent, HasSubstr("\r\nSubject: Access request: alice asks for Games "
                                              "on HARLWICK-PC\r\n"));
  EXPECT_FALSE(machine.files.Content(kErrorLog));
}

TEST_F(MailerTest, ARefusedEhloFallsBackToHeloAndAQuitThatFailsLosesNothing) {
  Serve({"220 old.test\r\n", "502 5.5.1 EHLO not implemented\r\n", "250 old.test\r\n", "250 OK\r\n",
         "250 OK\r\n", "250 OK\r\n", "354 go on\r\n", "250 queued\r\n"});
  // The server leaves without answering QUIT: the message was taken.
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(Commands(), ElementsAre("EHLO HARLWICK-PC", "HELO HARLWICK-PC",
                                      "MAIL FROM:<zentrel@HARLWICK-PC>", "RCPT TO:<a@x.example>",
                                      "RCPT TO:<b@x.example>", "DATA", "<message>", "QUIT"));
  EXPECT_FALSE(machine.files.Content(kErrorLog));
}

TEST_F(MailerTest, EveryFailureIsOneErrorLogLineAndStatusOne) {
  struct Case {
    std::string name;
    std::vector<std::string> replies;
    std::vector<std::string> arguments;
    std::string logged;    // after "ERROR! "
    std::size_t commands;  // sent before the end
  };
  const std::vector<std::string> request = {
      "mail.test", "admin@x.example", "PC", "C:\\A.EXE", "Apps", "bob", "12"};
  auto with = [&](std::size_t index, const std::string& value) {
    auto arguments = request;
    arguments[index] = value;
    return arguments;
  };
  const std::string prefix = "Corvane: access request \"12\" not mailed through \"mail.test\": ";
  for (const Case& c : std::vector<Case>{
           {"greeting refused",
            {"554 5.3.2 busy\r\n"},
            request,
            prefix + "the server answered \"554 5.3.2 busy\" to the connection",
            0},
           {"recipient refused",
            {"220 x\r\n", "250 x\r\n", "250 OK\r\n", "550-5.7.1 Relaying\r\n550 5.7.1 denied\r\n"},
            request,
            prefix + "the server answered \"550 5.7.1 Relaying / 5.7.1 denied\" to "
                     "RCPT TO:<admin@x.example>",
            3},
           {"HELO refused too",
            {"220 x\r\n", "500 what\r\n", "501 no\r\n"},
            request,
            prefix + "the server answered \"501 no\" to HELO PC",
            2},
           {"message refused",
            {"220 x\r\n", "250 x\r\n", "250 OK\r\n", "250 OK\r\n", "354 go\r\n",
             "452 4.3.1 full\r\n"},
            request,
            prefix + "the server answered \"452 4.3.1 full\" to the message",
            5},
           {"closed after the greeting",
            {"220 x\r\n"},
            request,
            prefix + "the server closed the connection before answering EHLO PC",
            1},
           {"not SMTP",
            {"HTTP/1.1 400 Bad Request\r\n"},
            request,
            prefix +
                "not an SMTP reply: \"HTTP/1.1 400 Bad Request\" in the answer to the connection",
            0},
           {"no port",
            {},
            with(0, "mail.test:x"),
            "Corvane: access request \"12\" not mailed through \"mail.test:x\": \"mail.test:x\" is "
            "not a mail server (host or host:port)",
            0},
           {"no address", {}, with(1, " , "), prefix + "no administrator address is given", 0},
           {"address that would add a command",
            {},
            with(1, "a@x\r\nRSET"),
            prefix + "\"a@x  RSET\" is not a usable mail address",
            0},
       }) {
    SCOPED_TRACE(c.name);
    machine.network.Reset();
    machine.files.AddFile(kErrorLog, "");
    Serve(c.replies);
    EXPECT_EQ(Run(c.arguments), 1);
    EXPECT_EQ(ErrorLog(), "02/03/06 09:05:07: ERROR! " + c.logged + "\r\n");
    EXPECT_EQ(Commands().size(), c.commands);
  }
}

TEST_F(MailerTest, FailuresOfTheNetworkAreLoggedWithWhatWasGoingOn) {
  machine.faults.Fail("Connect", "", error_number::kConnectionRefused, "Connection refused");
  EXPECT_EQ(Run(), 1);
  machine.faults = testing::FaultSwitches();
  Serve({"220 x\r\n"});
  machine.faults.FailAfter(1, "Receive", "", error_number::kTimedOut, "Timed out");
  EXPECT_EQ(Run(), 1);
  const std::string prefix =
      "02/03/06 09:05:07: ERROR! Corvane: access request \"7\" not mailed through "
      "\"mail.harlwick.example:2525\": ";
  EXPECT_EQ(ErrorLog(), prefix + "Connection refused\r\n" + prefix +
                            "Timed out waiting for the answer to EHLO HARLWICK-PC\r\n");
}

TEST_F(MailerTest, WrongArgumentCountsAreLoggedWithTheArguments) {
  EXPECT_EQ(Run({"mail.test", "a@x", "PC"}), 1);
  EXPECT_EQ(Run({"1", "2", "3", "4", "5", "6", "7\r\nforged line", "8"}), 1);
  EXPECT_EQ(ErrorLog(),
            "02/03/06 09:05:07: ERROR! Corvane: invalid command line arguments (3 instead of 7): "
            "\"mail.test\" \"a@x\" \"PC\"\r\n"
            "02/03/06 09:05:07: ERROR! Corvane: invalid command line arguments (8 instead of 7): "
            "\"1\" \"2\" \"3\" \"4\" \"5\" \"6\" \"7  forged line\" \"8\"\r\n");
  EXPECT_THAT(machine.journal.entries(), ::testing::Not(::testing::Contains(HasSubstr("Connect"))));
}

TEST_F(MailerTest, TheTimeoutVariableOnlyShortensTheBounds) {
  for (const auto& [value, connect, conversation] :
       std::vector<std::tuple<std::string, long, long>>{{"", 10000, 30000},
                                                        {"1500", 1500, 1500},
                                                        {"20000", 10000, 20000},
                                                        {"99999999", 10000, 30000},
                                                        {"0", 10000, 30000},
                                                        {"-5", 10000, 30000},
                                                        {"15 ", 10000, 30000},
                                                        {"1e3", 10000, 30000}}) {
    machine.environment.Set(kTimeoutVariable, value);
    const MailBounds bounds = ReadMailBounds(machine.environment);
    EXPECT_EQ(bounds.connect.count(), connect) << value;
    EXPECT_EQ(bounds.conversation.count(), conversation) << value;
  }
  machine.environment.Set(kTimeoutVariable, "1500");
  Run();
  EXPECT_EQ(machine.journal.entries().at(0), "Connect mail.harlwick.example:2525 (1500 ms)");
}

}  // namespace
}  // namespace quillon::mailer

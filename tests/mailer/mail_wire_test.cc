// The mailer's wire functions: the server setting, the address list, SMTP
// replies, header fields, quoted-printable text, dot-stuffing and the whole
// message, each against hostile input.
#include "mailer/mail_wire.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "shared/helpers/text.h"

namespace quillon::mailer {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::SizeIs;

std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines = SplitAll(text, "\r\n");
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// What a reader of quoted-printable gets back: soft breaks removed, =XX
// decoded, line breaks as LF.
std::string DecodeQuotedPrintable(const std::string& encoded) {
  std::string text;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded.compare(i, 3, "=\r\n") == 0) {
      i += 2;
    } else if (encoded[i] == '=') {
      text += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else if (encoded.compare(i, 2, "\r\n") == 0) {
      text += '\n';
      ++i;
    } else {
      text += encoded[i];
    }
  }
  return text;
}

TEST(MailWireTest, MailServerSettings) {
  struct Case {
    std::string setting;
    std::optional<std::string> host;
    std::uint16_t port = 25;
  };
  for (const Case& c : std::vector<Case>{
           {"mail.harlwick.example", "mail.harlwick.example"},
           {"  mail.harlwick.example:2525 ", "mail.harlwick.example", 2525},
           {"127.0.0.1:65535", "127.0.0.1", 65535},
           {"[::1]:587", "::1", 587},
           {"[::1]", "::1"},
           {"::1", "::1"},
           {"", std::nullopt},
           {":25", std::nullopt},
           {"mail:", std::nullopt},
           {"mail:0", std::nullopt},
           {"mail:65536", std::nullopt},
           {"mail:25x", std::nullopt},
           {"mail:+25", std::nullopt},
           {"mail:0000025", std::nullopt},
           {"mail server", std::nullopt},
           {"mail\r\nRCPT TO:<x@y>", std::nullopt},
           {"[::1", std::nullopt},
           {"[::1]x", std::nullopt},
       }) {
    SCOPED_TRACE(c.setting);
    const auto server = ParseMailServer(c.setting);
    ASSERT_EQ(server.has_value(), c.host.has_value());
    if (!server) continue;
    EXPECT_EQ(server->host, *c.host);
    EXPECT_EQ(server->port, c.port);
  }
}

TEST(MailWireTest, AddressListsAndUsableAddresses) {
  EXPECT_THAT(SplitAddresses("admin@x.example"), ElementsAre("admin@x.example"));
  EXPECT_THAT(SplitAddresses(" a@x.example ,\tb@y.example,, ,c@z.example,"),
              ElementsAre("a@x.example", "b@y.example", "c@z.example"));
  EXPECT_THAT(SplitAddresses(" , ,"), SizeIs(0));

  EXPECT_TRUE(IsUsableAddress("a.b+c@x.example"));
  for (const std::string bad :
       {"", "a b@x", "a@x\r\nRCPT TO:<evil@y>", "a@x>", "<a@x", "caf\xe9@x", "a@x\x7f"}) {
    EXPECT_FALSE(IsUsableAddress(bad)) << bad;
  }
}

TEST(MailWireTest, RepliesAreTakenWholeOneAtATime) {
  std::string received =
      "220 mail.test ESMTP ready\r\n250-mail.test\r\n250-PIPELINING\n250 8BITMIME";
  auto greeting = TakeReply(received);
  ASSERT_TRUE(greeting);
  EXPECT_EQ(greeting->code, 220);
  EXPECT_THAT(greeting->lines, ElementsAre("mail.test ESMTP ready"));
  // The multi-line reply's last line has not arrived whole yet.
  EXPECT_FALSE(TakeReply(received));
  received += "\r\n354\r\n";
  auto ehlo = TakeReply(received);
  ASSERT_TRUE(ehlo);
  EXPECT_EQ(ehlo->code, 250);
  EXPECT_THAT(ehlo->lines, ElementsAre("mail.test", "PIPELINING", "8BITMIME"));
  EXPECT_EQ(ReplyText(*ehlo), "250 mail.test / PIPELINING / 8BITMIME");
  auto bare = TakeReply(received);
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->code, 354);
  EXPECT_EQ(received, "");

  for (std::string bad :
       {"hello\r\n", "25 short\r\n", "250x\r\n", "650 no\r\n", "250-first\r\n550 other code\r\n"}) {
    EXPECT_THROW(TakeReply(bad), std::runtime_error) << bad;
  }
  std::string hostile = "550 no\x1b[2J\tway\r\n";
  EXPECT_EQ(ReplyText(*TakeReply(hostile)), "550 no [2J way");
}

TEST(MailWireTest, ComputerNamesBecomeDomainLabels) {
  for (const auto& [name, label] : std::vector<std::pair<std::string, std::string>>{
           {"HARLWICK-PC", "HARLWICK-PC"},
           {"B\xc3\xbcro 2", "B--ro-2"},
           {"-._x_.-", "x"},
           {"", "localhost"},
           {"\r\n", "localhost"},
           {std::string(100, 'a') + "-b", std::string(63, 'a')},
       }) {
    EXPECT_EQ(DomainLabel(name), label) << name;
  }
}

TEST(MailWireTest, HeaderFieldsStayOneFieldOnShortLines) {
  struct Case {
    std::string value;
    bool encoded;
  };
  for (const Case& c : std::vector<Case>{
           {"Access request: alice asks for Games on HARLWICK-PC", false},
           {"x\r\nBcc: evil@example.com\r\n\r\nbody", false},
           {std::string(40, 'w') + " " + std::string(40, 'v') + " " + std::string(40, 'u'), false},
           {"Caf\xc3\xa9 for Jos\xc3\xa9", true},
           {"=?UTF-8?B?ZXZpbA==?=", true},
           {std::string(1024, 'n'), true},
           {std::string(300, ' ') + "spaced" + std::string(300, ' ') + "out", false},
           {std::string(100, '\xc3') + std::string(100, '\xa9'), true},
       }) {
    SCOPED_TRACE(c.value.substr(0, 60));
    const std::string field = HeaderField("Subject", c.value);
    ASSERT_GE(field.size(), 2u);
    EXPECT_EQ(field.substr(field.size() - 2), "\r\n");
    const auto lines = CrLfLines(field);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("Subject: ", 0), 0u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_LE(lines[i].size(), 78u) << lines[i];
      EXPECT_EQ(lines[i].find_first_of("\r\n"), std::string::npos);
      // Every further line continues the field and holds more than blanks.
      if (i > 0) {
        EXPECT_EQ(lines[i][0], ' ');
        EXPECT_NE(lines[i].find_first_not_of(' '), std::string::npos);
      }
    }
    EXPECT_EQ(field.find("=?UTF-8?B?") != std::string::npos, c.encoded);
    if (!c.encoded) {
      // Unfolded, the words are the value's, blanks between them one each.
      std::string unfolded;
      for (const auto& line : lines) unfolded += line;
      std::string expected;
      for (char ch : OneLine(c.value)) {
        if (ch != ' ' || (!expected.empty() && expected.back() != ' ')) expected += ch;
      }
      while (!expected.empty() && expected.back() == ' ') expected.pop_back();
      EXPECT_EQ(unfolded, "Subject: " + expected);
    }
  }
  // Encoded-words never cut a UTF-8 sequence: each decodes on its own.
  const std::string field = HeaderField("Subject", std::string(100, 'a') + "\xc3\xa9\xc3\xa9");
  EXPECT_THAT(CrLfLines(field), Each(::testing::EndsWith("?=")));
}

TEST(MailWireTest, QuotedPrintableKeepsTheTextOnShortSevenBitLines) {
  for (const std::string& text :
       {std::string("plain\r\ntext\r\n"), std::string("caf\xc3\xa9 = 100%\r\ntrailing blank \r\n"),
        std::string("bare\nline\rbreaks\r\n\r\n"), std::string(1024, 'x') + "\r\n",
        std::string(200, '=') + "\r\n", std::string("no final break"),
        std::string(".\r\n..dots\r\n"), std::string(75, 'y') + "\t"}) {
    SCOPED_TRACE(text.substr(0, 40));
    const std::string encoded = QuotedPrintable(text);
    for (const auto& line : CrLfLines(encoded)) {
      EXPECT_LE(line.size(), 76u) << line;
      for (char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << line;
      EXPECT_FALSE(line.ends_with(" ") || line.ends_with("\t")) << line;
    }
    std::string expected;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r') {
        expected += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      } else {
        expected += text[i];
      }
    }
    if (expected.empty() || expected.back() != '\n') expected += '\n';
    EXPECT_EQ(DecodeQuotedPrintable(encoded), expected);
  }
}

TEST(MailWireTest, DotStuffingKeepsTheDataOpenUntilItsEnd) {
  for (const auto& [message, block] : std::vector<std::pair<std::string, std::string>>{
           {"a\r\nb\r\n", "a\r\nb\r\n.\r\n"},
           {"a\r\n.\r\nQUIT\r\n", "a\r\n..\r\nQUIT\r\n.\r\n"},
           {".leading\r\n..two\r\nmid.dle\r\n", "..leading\r\n...two\r\nmid.dle\r\n.\r\n"},
           {"no end", "no end\r\n.\r\n"},
           {"bare\n.\nLF", "bare\r\n..\r\nLF\r\n.\r\n"},
           {"", "\r\n.\r\n"},
       }) {
    EXPECT_EQ(DotStuffed(message), block) << message;
  }
}

TEST(MailWireTest, MailDatesAreInUtc) {
  EXPECT_EQ(MailDate(0), "Thu, 01 Jan 1970 00:00:00 +0000");
  EXPECT_EQ(MailDate(1138957507), "Fri, 03 Feb 2006 09:05:07 +0000");
}

AccessRequest Hostile() {
  return {"mail.harlwick.example",
          "a@x.example, b@y.example",
          "HARLWICK-PC",
          "C:\\TOOLS\\GAME.EXE",
          "Games\r\n.\r\nQUIT",
          "alice\r\nBcc: evil@example.com",
          "7 8"};
}

TEST(MailWireTest, TheMessageHoldsEveryValueAndHostileOnesChangeNothing) {
  const std::string message =
      ComposeMessage(Hostile(), "Fri, 03 Feb 2006 09:05:07 +0000", "<request-7.x@HARLWICK-PC>");
  const std::size_t end_of_headers = message.find("\r\n\r\n");
  ASSERT_NE(end_of_headers, std::string::npos);
  std::vector<std::string> names;
  for (const auto& line : CrLfLines(message.substr(0, end_of_headers + 2))) {
    if (line[0] != ' ') names.push_back(line.substr(0, line.find(':')));
  }
  EXPECT_THAT(names, ElementsAre("Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                                 "Content-Type", "Content-Transfer-Encoding"));
  EXPECT_NE(message.find("From: zentrel@HARLWICK-PC\r\n"), std::string::npos);
  EXPECT_NE(message.find("To: a@x.example, b@y.example\r\n"), std::string::npos);
  EXPECT_NE(message.find("Subject: Access request: alice Bcc: evil@example.com asks for"),
            std::string::npos)
      << message;
  EXPECT_NE(message.find("Content-Type: text/plain; charset=UTF-8\r\n"), std::string::npos);
  const std::string body = DecodeQuotedPrintable(message.substr(end_of_headers + 4));
  EXPECT_NE(body.find("Request:     7 8\n"), std::string::npos) << body;
  EXPECT_NE(body.find("User:        alice\nBcc: evil@example.com\n"), std::string::npos);
  EXPECT_NE(body.find("Application: Games\n.\nQUIT\n"), std::string::npos);
  EXPECT_NE(body.find("Executable:  C:\\TOOLS\\GAME.EXE\n"), std::string::npos);
  EXPECT_NE(body.find("\nhttp://HARLWICK-PC/Zentrel/requests?id=7%208\n"), std::string::npos);
  // The hostile lone "." goes out stuffed: the data ends only at its end.
  const std::string block = DotStuffed(message);
  EXPECT_EQ(block.find("\r\n.\r\n"), block.size() - 5);
}

TEST(MailWireTest, RequestPageAddresses) {
  AccessRequest request = Hostile();
  request.request_id = "42";
  EXPECT_EQ(RequestPageAddress(request), "http://HARLWICK-PC/Zentrel/requests?id=42");
  request.request_id = "";
  EXPECT_EQ(RequestPageAddress(request), "http://HARLWICK-PC/Zentrel/");
  request.computer_name = "B\xc3\xbcro";
  request.request_id = "1&x=\"2\"";
  EXPECT_EQ(RequestPageAddress(request), "http://B--ro/Zentrel/requests?id=1%26x%3D%222%22");
  EXPECT_EQ(SenderAddress(request), "zentrel@B--ro");
}

}  // namespace
}  // namespace quillon::mailer

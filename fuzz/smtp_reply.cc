// What the mailer reads from the mail server and writes around the user's
// texts: SMTP replies are taken whole from the front of what arrived, the
// same however the bytes were cut into reads, and fail only as documented;
// the server setting, the address list, the greeting's label, header fields
// and quoted-printable text stay within the forms the wire allows.
//
// Input: bytes as received from a server; read again as a server setting,
// an address list, a computer name and a header value.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "mailer/mail_wire.h"

using namespace quillon;
using namespace quillon::mailer;

namespace {

// Every reply in the bytes, taken after each cut of `step` bytes arrives;
// false when a line was refused.
bool Replies(const std::string& bytes, std::size_t step, std::vector<SmtpReply>& replies) {
  std::string received;
  try {
    for (std::size_t at = 0; at < bytes.size(); at += step) {
      received += bytes.substr(at, step);
      while (true) {
        const std::string before = received;
        std::optional<SmtpReply> reply = TakeReply(received);
        if (!reply) {
          FUZZ_CHECK(received == before);
          break;
        }
        // What was taken is the front of what arrived.
        FUZZ_CHECK(received.size() < before.size());
        FUZZ_CHECK(before.substr(before.size() - received.size()) == received);
        FUZZ_CHECK(reply->code >= 0 && reply->code <= 999);
        FUZZ_CHECK(!reply->lines.empty());
        // A line ends at LF; a lone CR inside it is text, which the log's
        // one-line form below turns into a blank.
        for (const std::string& line : reply->lines) {
          FUZZ_CHECK(line.find('\n') == std::string::npos);
        }
        FUZZ_CHECK(ReplyText(*reply).find_first_of("\r\n") == std::string::npos);
        replies.push_back(std::move(*reply));
      }
    }
  } catch (const std::runtime_error&) {
    return false;
  }
  return true;
}

bool SameReplies(const std::vector<SmtpReply>& a, const std::vector<SmtpReply>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].code != b[i].code || a[i].lines != b[i].lines) return false;
  }
  return true;
}

bool LinesWithin(const std::string& text, std::size_t longest) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) return false;  // every line ends in CR LF
    const std::string line = text.substr(start, end - start);
    if (line.size() > longest || line.find_first_of("\r\n") != std::string::npos) return false;
    start = end + 2;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(fuzz::Text(data, size));

  std::vector<SmtpReply> whole;
  std::vector<SmtpReply> bytewise;
  const bool whole_ok = Replies(bytes, bytes.size() + 1, whole);
  const bool bytewise_ok = Replies(bytes, 1 + size % 7, bytewise);
  FUZZ_CHECK(whole_ok == bytewise_ok);
  if (whole_ok) FUZZ_CHECK(SameReplies(whole, bytewise));

  if (const std::optional<MailServer> server = ParseMailServer(bytes)) {
    FUZZ_CHECK(!server->host.empty() && server->port >= 1);
    for (char c : server->host) FUZZ_CHECK(static_cast<unsigned char>(c) > ' ' && c != 0x7F);
  }
  for (const std::string& address : SplitAddresses(bytes)) {
    FUZZ_CHECK(!address.empty() && address.find(',') == std::string::npos);
    FUZZ_CHECK(address.front() != ' ' && address.back() != ' ');
  }

  const std::string label = DomainLabel(bytes);
  FUZZ_CHECK(!label.empty() && label.size() <= 63);
  FUZZ_CHECK(label.front() != '-' && label.back() != '-');
  for (char c : label) {
    FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-');
  }

  for (char c : OneLine(bytes)) FUZZ_CHECK(static_cast<unsigned char>(c) >= ' ' && c != 0x7F);
  FUZZ_CHECK(LinesWithin(HeaderField("Subject", bytes), 78));
  const std::string encoded = QuotedPrintable(bytes);
  FUZZ_CHECK(encoded.empty() || LinesWithin(encoded, 76));
  // 7-bit text only: printable ASCII, the line ends, and a tab, which
  // quoted-printable keeps as it is inside a line.
  for (char c : encoded) {
    FUZZ_CHECK(c == '\r' || c == '\n' || c == '\t' || (c >= ' ' && c <= '~'));
  }
  // A tab or blank never ends a line: a mail system may strip it there.
  for (std::size_t at = encoded.find("\r\n"); at != std::string::npos && at > 0;
       at = encoded.find("\r\n", at + 2)) {
    FUZZ_CHECK(encoded[at - 1] != ' ' && encoded[at - 1] != '\t');
  }
  return 0;
}

// What the mailer puts on the wire and reads back, as pure functions: the
// mail server setting, the administrator address list, SMTP replies, the
// access request message (RFC 5322 headers, quoted-printable UTF-8 text) and
// the dot-stuffed DATA block. Nothing here touches the network.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::mailer {

// The port of a mail server given without one.
inline constexpr std::uint16_t kSmtpPort = 25;
// The address of a request on the administration web site: "http://" and
// the computer's name, then this path and the request id.
inline constexpr char kRequestPagePath[] = "/Zentrel/requests?id=";
// The local part of the sender address, "zentrel@<computer>".
inline constexpr char kSenderLocalPart[] = "zentrel";

struct MailServer {
  std::string host;
  std::uint16_t port = kSmtpPort;
};

// "host" or "host:port" ("[v6 address]:port" for an IPv6 address), blanks
// around it trimmed. nullopt for an empty host, a port that is not 1 to
// 65535 in digits, or a host holding blanks or control characters.
std::optional<MailServer> ParseMailServer(std::string_view setting);

// The addresses of a comma-separated list, each trimmed of blanks and tabs,
// empty ones left out.
std::vector<std::string> SplitAddresses(std::string_view list);

// Whether an address may stand in an SMTP command as <address>: not empty,
// printable ASCII only (no blank, no control character), no '<' or '>'.
bool IsUsableAddress(std::string_view address);

// One SMTP reply: its three-digit code and the text of each of its lines.
struct SmtpReply {
  int code = 0;
  std::vector<std::string> lines;
};

// Takes one whole reply (one line "250 text", or lines "250-..." ending
// with "250 ..."; CR LF or a bare LF ends a line) from the front of the
// received bytes and removes it there. nullopt while the reply is still
// incomplete. Throws std::runtime_error for a line that is not an SMTP reply
// line (no three-digit code, another code than the first line's).
std::optional<SmtpReply> TakeReply(std::string& received);

// The reply as one line for a log: "250 first / second", control characters
// made blanks.
std::string ReplyText(const SmtpReply& reply);

// A valid domain label made of a computer name, for "zentrel@<label>", the
// EHLO greeting and the web site's address: ASCII letters, digits and
// hyphens, every other character a hyphen, no hyphen at either end, at most
// 63 characters; "localhost" when nothing is left.
std::string DomainLabel(std::string_view computer_name);

// Replaces CR, LF and every other control character by a blank: what keeps
// a value inside its header.
std::string OneLine(std::string_view text);

// A header field "Name: value" with CR LF, the value (UTF-8) kept on lines
// of at most 78 characters: folded at blanks, or, when it holds non-ASCII
// text, "=?" or a word too long to fold, written as RFC 2047 encoded-words
// ("=?UTF-8?B?...?="), one per line. Control characters become blanks.
std::string HeaderField(std::string_view name, std::string_view value);

// UTF-8 text with CR LF, CR or LF line breaks as quoted-printable: lines end
// in CR LF, no line longer than 76 characters (soft breaks "=" CR LF), bytes
// outside printable ASCII and "=" as "=XX", a blank or tab at a line's end
// encoded.
std::string QuotedPrintable(std::string_view text);

// The DATA block of a message: a "." at a line's start doubled, the message
// ended by CR LF and the closing "." line.
std::string DotStuffed(std::string_view message);

// "Mon, 07 Dec 2026 17:40:10 +0000" for a moment, in UTC.
std::string MailDate(std::time_t moment);

// The seven values of an access request, in UTF-8, as the checker hands them
// over: mail server, administrator address(es), computer, executable,
// application, user, request id.
struct AccessRequest {
  std::string mail_server;
  std::string admin_addresses;
  std::string computer_name;
  std::string exe_path;
  std::string app_name;
  std::string user_name;
  std::string request_id;
};

// The request's address on the administration web site: the computer's
// domain label, kRequestPagePath, the request id with every byte outside
// letters, digits and "-._~" percent-encoded.
std::string RequestPageAddress(const AccessRequest& request);

// The sender address "zentrel@<domain label of the computer>".
std::string SenderAddress(const AccessRequest& request);

// The whole message, headers and quoted-printable body, lines ending in
// CR LF (not yet dot-stuffed). `date` is a MailDate, `message_id` the
// "<...>" form.
std::string ComposeMessage(const AccessRequest& request, const std::string& date,
                           const std::string& message_id);

}  // namespace quillon::mailer

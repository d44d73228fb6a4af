#include "mailer/mailer.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "access/access.h"
#include "shared/helpers/skipping.h"
#include "shared/host_error.h"

namespace quillon::mailer {

namespace {

using Milliseconds = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kArgumentCount = 7;
// A reply longer than this is no SMTP server's: the conversation ends.
constexpr std::size_t kLongestReply = 64 * 1024;
// The longest failure text that goes into the log.
constexpr std::size_t kLongestLogText = 4096;

// One conversation with a server, every wait bounded by the conversation's
// deadline.
class SmtpSession {
 public:
  SmtpSession(Network& network, const MailServer& server, const MailBounds& bounds)
      : deadline_(SteadyClock::now() + bounds.conversation) {
    connection_ =
        network.Connect(server.host, server.port, std::min(bounds.connect, bounds.conversation));
  }

  // Reads the next reply; `expected` says what it answers, for errors.
  SmtpReply Read(const std::string& expected) {
    while (true) {
      std::optional<SmtpReply> reply;
      try {
        reply = TakeReply(received_);
      } catch (const std::runtime_error& error) {
        throw HostError(error_number::kNetworkDown,
                        std::string(error.what()) + " in the answer to " + expected);
      }
      if (reply) return *reply;
      if (received_.size() > kLongestReply) {
        throw HostError(error_number::kNetworkDown,
                        "the answer to " + expected + " is too long for an SMTP reply");
      }
      std::string bytes;
      try {
        bytes = connection_->Receive(Remaining(expected));
      } catch (const HostError& error) {
        throw HostError(error.number(),
                        error.description() + " waiting for the answer to " + expected);
      }
      if (bytes.empty()) {
        throw HostError(error_number::kNetworkDown,
                        "the server closed the connection before answering " + expected);
      }
      received_ += bytes;
    }
  }

  // Sends one command line and reads its reply.
  SmtpReply Command(const std::string& command) {
    Send(command + "\r\n", command);
    return Read(command);
  }

  void Send(const std::string& bytes, const std::string& what) {
    try {
      connection_->Send(bytes, Remaining(what));
    } catch (const HostError& error) {
      throw HostError(error.number(), error.description() + " sending " + what);
    }
  }

 private:
  Milliseconds Remaining(const std::string& what) const {
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline_ - SteadyClock::now());
    if (left.count() <= 0) {
      throw HostError(error_number::kTimedOut,
                      "the time allowed for the conversation ran out before " + what);
    }
    return left;
  }

  SteadyClock::time_point deadline_;
  std::unique_ptr<NetworkConnection> connection_;
  std::string received_;
};

// Fails unless the reply's code is one of the accepted ones.
void Expect(const SmtpReply& reply, std::initializer_list<int> accepted, const std::string& what) {
  if (std::find(accepted.begin(), accepted.end(), reply.code) != accepted.end()) return;
  throw HostError(error_number::kNetworkDown,
                  "the server answered \"" + ReplyText(reply) + "\" to " + what);
}

AccessRequest RequestInUtf8(Network& network, const std::vector<std::string>& arguments) {
  std::vector<std::string> values;
  for (const std::string& argument : arguments)
    values.push_back(network.SystemTextToUtf8(argument));
  return {values[0], values[1], values[2], values[3], values[4], values[5], values[6]};
}

MailServer ServerOf(const std::string& setting) {
  const std::optional<MailServer> server = ParseMailServer(setting);
  if (!server) {
    throw HostError(error_number::kInvalidProcedureCall,
                    "\"" + setting + "\" is not a mail server (host or host:port)");
  }
  return *server;
}

std::vector<std::string> RecipientsOf(const std::string& list) {
  const std::vector<std::string> recipients = SplitAddresses(list);
  if (recipients.empty()) {
    throw HostError(error_number::kInvalidProcedureCall, "no administrator address is given");
  }
  for (const std::string& address : recipients) {
    if (!IsUsableAddress(address)) {
      throw HostError(error_number::kInvalidProcedureCall,
                      "\"" + address + "\" is not a usable mail address");
    }
  }
  return recipients;
}

// "<request-7.1796406010.3f9a0c12d4e5b687@HARLWICK-PC>": unique through the
// time and 64 random bits.
std::string MessageId(RandomSource& random, const AccessRequest& request, std::time_t now) {
  std::string hex;
  for (std::uint8_t byte : random.Bytes(8)) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  std::string id;
  for (char c : request.request_id.substr(0, 20)) id += (c >= '0' && c <= '9') ? c : '-';
  return "<request-" + id + "." + std::to_string(static_cast<long long>(now)) + "." + hex + "@" +
         DomainLabel(request.computer_name) + ">";
}

// Appends the failure to the checker's Error.log and gives the exit status.
// When even the log cannot be written, nothing is left to tell anybody: that
// write is skipped.
int Failed(Host& host, const std::string& text) {
  const std::string line = OneLine(text).substr(0, kLongestLogText);
  Skipping([&] { WriteErrorLog(host.files, host.environment, host.clock, line); });
  return 1;
}

std::string QuotedArguments(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += " \"" + argument + "\"";
  return text;
}

}  // namespace

MailBounds ReadMailBounds(EnvironmentReader& environment) {
  MailBounds bounds;
  const std::string value = ReadEnvironmentValue(environment, kTimeoutVariable);
  if (value.empty() || value.size() > 9 ||
      value.find_first_not_of("0123456789") != std::string::npos) {
    return bounds;
  }
  const Milliseconds shortest(std::stol(value));
  if (shortest.count() == 0) return bounds;
  bounds.connect = std::min(bounds.connect, shortest);
  bounds.conversation = std::min(bounds.conversation, shortest);
  return bounds;
}

void SendMessage(Network& network, const MailServer& server, const std::string& helo_domain,
                 const std::string& sender, const std::vector<std::string>& recipients,
                 const std::string& message, const MailBounds& bounds) {
  SmtpSession session(network, server, bounds);
  Expect(session.Read("the connection"), {220}, "the connection");
  const SmtpReply ehlo = session.Command("EHLO " + helo_domain);
  if (ehlo.code >= 500) {
    Expect(session.Command("HELO " + helo_domain), {250}, "HELO " + helo_domain);
  } else {
    Expect(ehlo, {250}, "EHLO " + helo_domain);
  }
  Expect(session.Command("MAIL FROM:<" + sender + ">"), {250}, "MAIL FROM:<" + sender + ">");
  for (const std::string& recipient : recipients) {
    Expect(session.Command("RCPT TO:<" + recipient + ">"), {250, 251},
           "RCPT TO:<" + recipient + ">");
  }
  Expect(session.Command("DATA"), {354}, "DATA");
  session.Send(DotStuffed(message), "the message");
  Expect(session.Read("the message"), {250}, "the message");
  // The message is taken: the end of the conversation can no longer fail it.
  Skipping([&] { session.Command("QUIT"); });
}

int RunMailer(Host& host, const std::vector<std::string>& arguments) {
  if (arguments.size() != kArgumentCount) {
    return Failed(host, "Corvane: invalid command line arguments (" +
                            std::to_string(arguments.size()) +
                            " instead of 7):" + QuotedArguments(arguments));
  }
  const std::string& server_setting = arguments[0];
  const std::string& request_id = arguments[6];
  try {
    const AccessRequest request = RequestInUtf8(host.network, arguments);
    const MailServer server = ServerOf(server_setting);
    const std::vector<std::string> recipients = RecipientsOf(arguments[1]);
    const std::time_t now = std::time(nullptr);
    const std::string message =
        ComposeMessage(request, MailDate(now), MessageId(host.random, request, now));
    SendMessage(host.network, server, DomainLabel(request.computer_name), SenderAddress(request),
                recipients, message, ReadMailBounds(host.environment));
    return 0;
  } catch (const std::exception& error) {
    // A host error or anything else: the request is not mailed, and says so.
    return Failed(host, "Corvane: access request \"" + request_id + "\" not mailed through \"" +
                            server_setting + "\": " + error.what());
  }
}

}  // namespace quillon::mailer

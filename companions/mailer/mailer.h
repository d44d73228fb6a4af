// The mailer Corvane.exe: the checker starts it, hidden and not waited for,
// with the seven values of an access request; it sends the request to the
// administrator address(es) through the mail server over plain SMTP.
//
// It never shows anything to the user: every failure ends with one line in
// the product's Logs\Error.log (the checker's log) and exit status 1.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "mailer/mail_wire.h"
#include "shared/host.h"

namespace quillon::mailer {

// How long the mailer may wait: for the connection, and for the whole
// conversation from the start of the connection.
struct MailBounds {
  std::chrono::milliseconds connect{10000};
  std::chrono::milliseconds conversation{30000};
};

// The variable that shortens both bounds for tests: a number of
// milliseconds, used when it is lower than a bound.
inline constexpr char kTimeoutVariable[] = "QUILLON_SMTP_TIMEOUT_MS";

// The mailer's entry procedure for its arguments (without the program
// name). Returns the exit status: 0 when the server took the message.
int RunMailer(Host& host, const std::vector<std::string>& arguments);

// The bounds, shortened by the variable's value when it is a number of
// milliseconds lower than a bound.
MailBounds ReadMailBounds(EnvironmentReader& environment);

// Delivers one message through the server: greeting, EHLO (HELO when EHLO
// is refused), MAIL FROM, one RCPT TO per recipient, DATA with the
// dot-stuffed message, QUIT. Throws HostError when the server cannot be
// reached, answers with a failure, closes early or the bounds run out; its
// description names the command and the server's reply.
void SendMessage(Network& network, const MailServer& server, const std::string& helo_domain,
                 const std::string& sender, const std::vector<std::string>& recipients,
                 const std::string& message, const MailBounds& bounds);

}  // namespace quillon::mailer

// A mail server on 127.0.0.1 for a test: tests/mail_server.py started on a
// free port, in one of its modes, and ended with the object.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

#include "support/test_machine.h"

namespace quillon::testing {

class LocalMailServer {
 public:
  // mode: "accept", "reject", "close" or "silent" (see tests/mail_server.py).
  explicit LocalMailServer(const std::string& mode);
  LocalMailServer(const LocalMailServer&) = delete;
  LocalMailServer& operator=(const LocalMailServer&) = delete;
  ~LocalMailServer();

  // "127.0.0.1:<port>", as the mail server setting names it.
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // The n-th message taken (from 1): its record (envelope, decoded header
  // fields, decoded text, see the script) once it has arrived; nullopt when
  // it has not within a minute.
  std::optional<std::map<std::string, std::optional<std::string>>> AwaitMessage(int n) const;
  // The n-th message's bytes as received.
  std::string RawMessage(int n) const;
  // How many messages have arrived so far.
  int MessageCount() const;

 private:
  TemporaryFolder folder_;
  pid_t pid_ = -1;
  int input_ = -1;  // the server's standard input; it ends when this closes
  int port_ = 0;
};

}  // namespace quillon::testing

#include "support/logon_sessions.h"

#include <sodium.h>

#include <iterator>
#include <stdexcept>
#include <utility>

namespace quillon::machine {
namespace {

std::string NewToken() {
  static constexpr char kDigits[] = "0123456789abcdef";
  unsigned char bytes[32];
  randombytes_buf(bytes, sizeof bytes);
  std::string token;
  for (const unsigned char byte : bytes) {
    token += kDigits[byte >> 4];
    token += kDigits[byte & 15];
  }
  return token;
}

}  // namespace

LogonSessions::LogonSessions(std::function<Clock::time_point()> now) : now_(std::move(now)) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

bool LogonSessions::Expired(const Session& session, Clock::time_point now) const {
  return now - session.last_used >= kSessionIdleLimit || now - session.started >= kSessionLifetime;
}

std::string LogonSessions::Start(const std::string& user) {
  const Clock::time_point now = now_();
  std::string token = NewToken();
  const std::lock_guard<std::mutex> lock(mutex_);
  // Sessions nobody came back to go here, so the map does not grow with
  // every logon.
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = Expired(it->second, now) ? sessions_.erase(it) : std::next(it);
  }
  sessions_[token] = Session{user, now, now};
  return token;
}

std::string LogonSessions::UserOf(const std::string& token) {
  if (token.empty()) return "";
  const Clock::time_point now = now_();
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = sessions_.find(token);
  if (found == sessions_.end()) return "";
  if (Expired(found->second, now)) {
    sessions_.erase(found);
    return "";
  }
  found->second.last_used = now;
  return found->second.user;
}

void LogonSessions::End(const std::string& token) {
  const std::lock_guard<std::mutex> lock(mutex_);
  sessions_.erase(token);
}

std::size_t LogonSessions::size() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

}  // namespace quillon::machine

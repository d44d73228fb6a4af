// The web server's logon sessions: a random token (what the session cookie
// carries) for each logged-on user, kept in memory. A session ends when
// its user logs off, after kSessionIdleLimit without a request, and at the
// latest kSessionLifetime after the logon however busy it is, so a browser
// left open (or a cookie carried off) does not stay logged on for as long
// as the server runs. Safe to use from the server's threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace quillon::machine {

inline constexpr std::chrono::minutes kSessionIdleLimit{30};
inline constexpr std::chrono::hours kSessionLifetime{8};

class LogonSessions {
 public:
  using Clock = std::chrono::steady_clock;

  // now gives the current time; tests hand in a clock of their own.
  explicit LogonSessions(std::function<Clock::time_point()> now = Clock::now);

  // Starts a session for the user and returns its token (64 hex digits).
  std::string Start(const std::string& user);

  // The user of a live session, which counts as a request (the idle time
  // starts again); "" for an unknown, ended or expired token. An expired
  // session is forgotten.
  std::string UserOf(const std::string& token);

  // Ends the session (nothing happens for an unknown token).
  void End(const std::string& token);

  // Sessions held, expired ones that were not asked for yet included.
  std::size_t size();

 private:
  struct Session {
    std::string user;
    Clock::time_point started;
    Clock::time_point last_used;
  };
  bool Expired(const Session& session, Clock::time_point now) const;

  std::function<Clock::time_point()> now_;
  std::mutex mutex_;
  std::map<std::string, Session> sessions_;
};

}  // namespace quillon::machine

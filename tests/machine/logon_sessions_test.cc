// The web server's logon sessions on a clock the test moves: a session
// lives while it is used, ends after the idle limit, and ends at the
// lifetime limit however busy it is.
#include "support/logon_sessions.h"

#include <gtest/gtest.h>

#include <set>

namespace quillon::testing {
namespace {

using machine::kSessionIdleLimit;
using machine::kSessionLifetime;
using machine::LogonSessions;
using std::chrono::minutes;
using std::chrono::seconds;

TEST(LogonSessionsTest, EndAfterIdleTimeAtTheLifetimeLimitAndOnLogOff) {
  static_assert(kSessionIdleLimit == minutes(30) && kSessionLifetime == minutes(8 * 60));
  // Each case: the pauses between the logon and each request, and which
  // requests still find the user.
  const struct {
    const char* what;
    std::vector<LogonSessions::Clock::duration> pauses;
    std::vector<bool> found;
  } cases[] = {
      {"used at once", {seconds(0)}, {true}},
      {"just inside the idle limit", {kSessionIdleLimit - seconds(1)}, {true}},
      {"idle for the limit", {kSessionIdleLimit}, {false}},
      {"each request restarts the idle time",
       {minutes(29), minutes(29), minutes(29), minutes(29)},
       {true, true, true, true}},
      {"an ended session stays ended", {minutes(31), seconds(1)}, {false, false}},
      // 17 requests 29 minutes apart reach 8 h 13 min: the 17th is past the
      // lifetime although the session was never idle for long.
      {"busy until the lifetime ends",
       std::vector<LogonSessions::Clock::duration>(17, minutes(29)),
       {true, true, true, true, true, true, true, true, true, true, true, true, true, true, true,
        true, false}},
  };
  for (const auto& c : cases) {
    LogonSessions::Clock::time_point now{};
    LogonSessions sessions([&] { return now; });
    const std::string token = sessions.Start("Administrator");
    for (std::size_t i = 0; i < c.pauses.size(); ++i) {
      now += c.pauses[i];
      EXPECT_EQ(sessions.UserOf(token), c.found[i] ? "Administrator" : "")
          << c.what << ", request " << i + 1;
    }
  }
}

TEST(LogonSessionsTest, TokensAreUnguessableAndSessionsApart) {
  LogonSessions::Clock::time_point now{};
  LogonSessions sessions([&] { return now; });
  std::set<std::string> tokens;
  for (int i = 0; i < 100; ++i) tokens.insert(sessions.Start("Bob"));
  EXPECT_EQ(tokens.size(), 100u);
  for (const std::string& token : tokens) {
    ASSERT_EQ(token.size(), 64u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
  }
  const std::string ann = sessions.Start("Ann");
  EXPECT_EQ(sessions.UserOf(ann), "Ann");
  EXPECT_EQ(sessions.UserOf(""), "");
  EXPECT_EQ(sessions.UserOf(ann.substr(1) + "0"), "");
  sessions.End(*tokens.begin());
  EXPECT_EQ(sessions.UserOf(*tokens.begin()), "");
  EXPECT_EQ(sessions.UserOf(ann), "Ann");  // others stay

  // Sessions left idle are forgotten at the next logon, not kept forever.
  EXPECT_EQ(sessions.size(), 100u);
  now += kSessionIdleLimit;
  const std::string later = sessions.Start("Ann");
  EXPECT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions.UserOf(later), "Ann");
}

}  // namespace
}  // namespace quillon::testing

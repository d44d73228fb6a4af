// The answer queue when its remaining lines cannot be written back: the box
// fails with a host error instead of leaving a queue cut to a mix of new and
// old lines behind a success.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "shared/host_error.h"
#include "shared/posix/posix_platform.h"

namespace quillon::testing {
namespace {

// In a child process the file size limit lies below the remaining lines, so
// rewriting them fails part way.
void TakeWithTooSmallFileSizeLimit(const std::string& queue_path) {
  signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{10, 10};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(3);
  try {
    TakeQueuedLine(queue_path);
  } catch (const HostError& error) {
    std::_Exit(error.number() == error_number::kUnspecified ? 0 : 2);
  }
  std::_Exit(1);
}

TEST(AnswerQueueDeathTest, FailedRewriteIsReportedNotTruncatedAway) {
  char folder_template[] = "/tmp/quillon-queue-XXXXXX";
  ASSERT_NE(mkdtemp(folder_template), nullptr);
  const std::string queue_path = std::string(folder_template) + "/answers.txt";
  std::ofstream(queue_path) << "Yes\n" << std::string(100, 'n') << "\nNo\n";

  EXPECT_EXIT(TakeWithTooSmallFileSizeLimit(queue_path), ::testing::ExitedWithCode(0), "");

  std::remove(queue_path.c_str());
  rmdir(folder_template);
}

}  // namespace
}  // namespace quillon::testing

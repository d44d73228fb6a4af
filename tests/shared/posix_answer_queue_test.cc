// The answer queue when its remaining lines cannot be written back: taking a
// line fails with a host error instead of leaving a queue cut to a mix of new
// and old lines behind a success. And a queue that cannot be read, or holds
// more than any queue needs, never makes a box fail: the box takes its
// default answer and says so on stderr, inside the error report too.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "fakes/fake_host.h"
#include "shared/host_error.h"
#include "shared/posix/posix_platform.h"
#include "shared/program_main.h"

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

// Sets an environment variable (or unsets it: nullopt) while it lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

off_t SizeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

TEST(UnreadableAnswerQueueTest, BoxesTakeTheirDefaultAndTheErrorReportStillShows) {
  char folder_template[] = "/tmp/quillon-queue-XXXXXX";
  ASSERT_NE(mkdtemp(folder_template), nullptr);
  // Far more than any queue of answers: 64 MiB without a line end (sparse).
  const std::string huge = std::string(folder_template) + "/huge.txt";
  std::ofstream(huge) << "";
  ASSERT_EQ(truncate(huge.c_str(), 64 << 20), 0);

  const std::string queues[] = {
      "/proc/self/mem",  // opens, but reading its start fails
      "/dev/full",       // reads as zeros without end
      huge,
  };
  for (const std::string& queue : queues) {
    SCOPED_TRACE(queue);
    const ScopedVariable answers(kAnswersVariable, queue);
    const ScopedVariable dialog_log(kDialogLogVariable, std::nullopt);
    const off_t size_before = SizeOf(queue);
    FakeMachine machine;
    PosixDialogs dialogs("Zentrel.exe");
    // The fake machine's host with the real boxes.
    const Host fake = machine.host();
    Host host{fake.shell,         fake.files, dialogs,       fake.processes, fake.environment,
              fake.search,        fake.clock, fake.database, fake.random,    fake.network,
              fake.program_folder};

    ::testing::internal::CaptureStderr();
    const int status = RunProgramBody(host, "Zentrel", "", [](Host&, const std::string&) {
      throw HostError(error_number::kAccessDenied, "Access is denied.");
    });
    const int button = dialogs.MsgBox("Send a request?", kMbYesNo, "Zentrel");
    const std::optional<std::string> typed = dialogs.InputBox("Why?", "Zentrel", "default");
    const std::string said = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(status, 1);
    EXPECT_EQ(button, kIdNo);
    EXPECT_EQ(typed, std::nullopt);
    EXPECT_THAT(said,
                ::testing::HasSubstr("Zentrel: message box \"Zentrel\": answer queue " + queue));
    EXPECT_THAT(said, ::testing::HasSubstr("answered OK\n"));
    EXPECT_THAT(said, ::testing::HasSubstr("answered No\n"));
    EXPECT_THAT(said,
                ::testing::HasSubstr("Zentrel: input box \"Zentrel\": answer queue " + queue));
    EXPECT_EQ(SizeOf(queue), size_before);  // left as it was
  }
  std::remove(huge.c_str());
  rmdir(folder_template);
}

}  // namespace
}  // namespace quillon::testing

// The logs that the portable host appends to (the checker's logs through the
// file system, the JSON logs of boxes and program starts) and the other files
// it keeps for itself: an entry goes in whole or not at all, and a file that
// is not a regular file is refused at once instead of blocking.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <functional>
#include <string>

#include "shared/host_error.h"
#include "shared/posix/json_log.h"
#include "shared/posix/posix_file_system.h"
#include "shared/posix/posix_platform.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

// What an operation on a host file gave: the number of the host error it
// threw, kFailed when it reported a failure otherwise, kDone when it worked.
constexpr long kDone = 0;
constexpr long kFailed = -1;

template <typename T>
long OutcomeOf(T&& operation) {
  try {
    return operation() ? kDone : kFailed;
  } catch (const HostError& error) {
    return error.number();
  }
}

struct HostFileCase {
  const char* what;
  const char* file;  // below drive C
  std::function<bool(PosixFileSystem& files, const std::string& windows_path,
                     const std::string& posix_path)>
      operation;
  long outcome;
};

bool AppendThroughTheFileSystem(PosixFileSystem& files, const std::string& windows_path,
                                const std::string& line) {
  auto log = files.OpenTextFile(windows_path, IoMode::kForAppending, true);
  log->Write(line);
  log->Close();
  return true;
}

// A line that does not fit below the file size limit is not left half
// written: the log keeps its earlier entries and nothing else, and the
// failure is the documented one.
TEST(PosixLogTest, AnEntryGoesInWholeOrNotAtAll) {
  const std::string line = "02/03/06 09:05:07: C:\\TOOLS\\GAME.EXE_|_Games_|_alice\r\n";
  const HostFileCase cases[] = {
      {"checker log", "Logs/Access.log",
       [&](PosixFileSystem& files, const std::string& windows_path, const std::string&) {
         return AppendThroughTheFileSystem(files, windows_path, line);
       },
       error_number::kDiskFull},
      {"JSON log", "Logs/dialogs.log",
       [&](PosixFileSystem&, const std::string&, const std::string& posix_path) {
         return AppendLogLine(posix_path, "{\"program\":\"Zentrel\",\"kind\":\"MsgBox\"}");
       },
       kFailed},
  };
  const std::string earlier = "02/03/06 09:05:06: C:\\EARLIER.EXE_|_Unassigned_|_bob\r\n";
  for (const HostFileCase& c : cases) {
    SCOPED_TRACE(c.what);
    TestMachine scratch{MachineTree::kDrives};
    PortableMachine machine{scratch.root(), "Zentrel"};
    PosixFileSystem files{machine};
    const std::string posix_path = scratch.InRoot(std::string("drive_c/") + c.file);
    WritePosixFile(posix_path, earlier);

    // In a child: the limit leaves room for part of the line only.
    const int status = RunInChild([&] {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{earlier.size() + 10, earlier.size() + 10};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
      const long outcome =
          OutcomeOf([&] { return c.operation(files, std::string("C:\\") + c.file, posix_path); });
      return outcome == c.outcome ? 0 : 1;
    });

    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadPosixFile(posix_path), earlier);
  }
}

// A FIFO where the host expects one of its files is refused at once.
TEST(PosixLogTest, FilesTheHostKeepsMustBeRegularFiles) {
  const HostFileCase cases[] = {
      {"checker log", "Logs/Access.log",
       [](PosixFileSystem& files, const std::string& windows_path, const std::string&) {
         return AppendThroughTheFileSystem(files, windows_path, "line\r\n");
       },
       error_number::kPermissionDenied},
      {"settings file", "Zentrel.ini",
       [](PosixFileSystem& files, const std::string& windows_path, const std::string&) {
         files.OpenTextFile(windows_path, IoMode::kForReading, false);
         return true;
       },
       error_number::kPermissionDenied},
      {"JSON log", "Logs/dialogs.log",
       [](PosixFileSystem&, const std::string&, const std::string& posix_path) {
         return AppendLogLine(posix_path, "{}");
       },
       kFailed},
      {"answer queue", "answers.txt",
       [](PosixFileSystem&, const std::string&, const std::string& posix_path) {
         return TakeQueuedLine(posix_path).has_value();
       },
       error_number::kUnspecified},
  };
  for (const HostFileCase& c : cases) {
    SCOPED_TRACE(c.what);
    TestMachine scratch{MachineTree::kDrives};
    PortableMachine machine{scratch.root(), "Zentrel"};
    PosixFileSystem files{machine};
    const std::string posix_path = scratch.InRoot(std::string("drive_c/") + c.file);
    MakePosixFolders(posix_path.substr(0, posix_path.rfind('/')));
    ASSERT_EQ(mkfifo(posix_path.c_str(), 0666), 0);

    // In a child, so that the test process never hangs on the FIFO.
    const int status = RunInChild([&] {
      const long outcome =
          OutcomeOf([&] { return c.operation(files, std::string("C:\\") + c.file, posix_path); });
      return outcome == c.outcome ? 0 : 1;
    });

    EXPECT_EQ(status, 0);
  }
}

}  // namespace
}  // namespace quillon::testing

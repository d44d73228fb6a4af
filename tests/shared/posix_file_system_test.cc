// What only the portable machine's file system can show: permission bits,
// bytes on disk, links, concurrent appends, system errors (the contract it
// shares with the fake and the Win32 backend is in tests/contract).
#include "shared/posix/posix_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#include "shared/host_error.h"
#include "support/error_number_of.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> Names(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

// ------------------------------------------------------ the real backend only

class PosixFileSystemTest : public ::testing::Test {
 protected:
  TestMachine scratch{MachineTree::kDrives};
  PortableMachine machine{scratch.root(), "Test"};
  PosixFileSystem files{machine};
};

TEST_F(PosixFileSystemTest, CopiesKeepPermissionBits) {
  WritePosixFile(scratch.InRoot("drive_c/Media/Zentrel.exe"), "#!/bin/sh\n", 0755);
  WritePosixFile(scratch.InRoot("drive_c/Media/Tree/Sub/tool.exe"), "#!/bin/sh\n", 0750);
  WritePosixFile(scratch.InRoot("drive_c/Media/Tree/readonly.txt"), "r", 0444);
  WritePosixFile(scratch.InRoot("drive_c/Out/Zentrel.exe"), "old", 0600);
  files.CopyFile("C:\\Media\\Zentrel.exe", "C:\\Out\\", true);
  files.CopyFolder("C:\\Media\\Tree", "C:\\Out\\", true);
  EXPECT_EQ(PosixMode(scratch.InRoot("drive_c/Out/Zentrel.exe")), 0755u);
  EXPECT_EQ(PosixMode(scratch.InRoot("drive_c/Out/Tree/Sub/tool.exe")), 0750u);
  EXPECT_EQ(PosixMode(scratch.InRoot("drive_c/Out/Tree/readonly.txt")), 0444u);
  EXPECT_EQ(ReadPosixFile(scratch.InRoot("drive_c/Out/Zentrel.exe")), "#!/bin/sh\n");
}

TEST_F(PosixFileSystemTest, NewNamesKeepTheCaseGivenAndOldOnesTheirs) {
  WritePosixFile(scratch.InRoot("drive_c/Media/Setup.INI"), "x");
  WritePosixFile(scratch.InRoot("drive_c/Out/setup.ini"), "old");
  files.CopyFile("C:\\Media\\setup.ini", "C:\\OUT\\", true);
  files.CopyFile("C:\\Media\\setup.ini", "C:\\Out\\NewName.Ini", true);
  EXPECT_THAT(*ListFolder(scratch.InRoot("drive_c/Out")), ElementsAre("NewName.Ini", "setup.ini"));
  EXPECT_EQ(ReadPosixFile(scratch.InRoot("drive_c/Out/setup.ini")), "x");
}

TEST_F(PosixFileSystemTest, EightBitTextGoesToDiskByteForByte) {
  MakePosixFolders(scratch.InRoot("drive_c/Out"));
  const std::string text = std::string("caf\xE9 \x80 \x01\x7F\xFF\r\nline 2\n");
  auto out = files.OpenTextFile("C:\\Out\\t.txt", IoMode::kForWriting, true);
  out->Write(text);
  out->Close();
  EXPECT_EQ(ReadPosixFile(scratch.InRoot("drive_c/Out/t.txt")), text);
  auto in = files.OpenTextFile("C:\\Out\\t.txt", IoMode::kForReading, false);
  EXPECT_EQ(in->ReadLine(), std::string("caf\xE9 \x80 \x01\x7F\xFF"));
  EXPECT_EQ(in->ReadLine(), "line 2");
  EXPECT_TRUE(in->AtEndOfStream());
}

TEST_F(PosixFileSystemTest, LongLinesAndBareCarriageReturns) {
  const std::string long_line(200000, 'x');
  WritePosixFile(scratch.InRoot("drive_c/in.txt"), long_line + "\r\nmid\rdle\n\r\nlast\r");
  auto in = files.OpenTextFile("C:\\in.txt", IoMode::kForReading, false);
  EXPECT_EQ(in->ReadLine(), long_line);
  EXPECT_EQ(in->ReadLine(), "mid\rdle");
  EXPECT_EQ(in->ReadLine(), "");
  EXPECT_EQ(in->ReadLine(), "last\r");
  EXPECT_TRUE(in->AtEndOfStream());
}

TEST_F(PosixFileSystemTest, StreamsUsedTheWrongWayReportBadFileMode) {
  WritePosixFile(scratch.InRoot("drive_c/in.txt"), "a\n");
  auto in = files.OpenTextFile("C:\\in.txt", IoMode::kForReading, false);
  EXPECT_EQ(ErrorNumberOf([&] { in->Write("x"); }), error_number::kBadFileMode);
  in->Close();
  in->Close();
  EXPECT_EQ(ErrorNumberOf([&] { in->ReadLine(); }), error_number::kBadFileMode);
  auto out = files.OpenTextFile("C:\\in.txt", IoMode::kForAppending, false);
  EXPECT_EQ(ErrorNumberOf([&] { out->AtEndOfStream(); }), error_number::kBadFileMode);
  EXPECT_EQ(ErrorNumberOf([&] { files.OpenTextFile("C:\\in.txt", static_cast<IoMode>(3), false); }),
            error_number::kInvalidProcedureCall);
}

TEST_F(PosixFileSystemTest, ReadingModeWithCreateMakesAnEmptyFile) {
  MakePosixFolders(scratch.InRoot("drive_c/Logs"));
  auto in = files.OpenTextFile("C:\\Logs\\new.log", IoMode::kForReading, true);
  EXPECT_TRUE(in->AtEndOfStream());
  EXPECT_TRUE(PosixExists(scratch.InRoot("drive_c/Logs/new.log")));
}

TEST_F(PosixFileSystemTest, NothingIsCopiedOntoItselfOrIntoItself) {
  WritePosixFile(scratch.InRoot("drive_c/Tree/a.txt"), "precious");
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile("C:\\Tree\\a.txt", "C:\\TREE\\A.TXT", true); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile("C:\\Tree\\a.txt", "C:\\Tree\\", true); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(ReadPosixFile(scratch.InRoot("drive_c/Tree/a.txt")), "precious");
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder("C:\\Tree", "C:\\Tree\\", true); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder("C:\\Tree", "C:\\Tree\\Inner\\Deeper", true); }),
            error_number::kPathNotFound);
  EXPECT_THAT(*ListFolder(scratch.InRoot("drive_c/Tree")), ElementsAre("a.txt"));
}

TEST_F(PosixFileSystemTest, DeletingFollowsNoLinksAndLeavesDrivesAlone) {
  WritePosixFile(scratch.InRoot("drive_d/Precious/data.txt"), "keep me");
  MakePosixFolders(scratch.InRoot("drive_c/Group"));
  ASSERT_EQ(symlink(scratch.InRoot("drive_d/Precious").c_str(),
                    scratch.InRoot("drive_c/Group/link").c_str()),
            0);
  files.DeleteFolder("C:\\Group", true);
  EXPECT_FALSE(PosixExists(scratch.InRoot("drive_c/Group")));
  EXPECT_EQ(ReadPosixFile(scratch.InRoot("drive_d/Precious/data.txt")), "keep me");

  // A link to a folder goes by itself.
  ASSERT_EQ(
      symlink(scratch.InRoot("drive_d/Precious").c_str(), scratch.InRoot("drive_c/Alias").c_str()),
      0);
  files.DeleteFolder("C:\\Alias", true);
  EXPECT_FALSE(PosixExists(scratch.InRoot("drive_c/Alias")));
  EXPECT_EQ(ReadPosixFile(scratch.InRoot("drive_d/Precious/data.txt")), "keep me");

  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFolder("D:\\", true); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFolder("D:\\..", true); }),
            error_number::kPermissionDenied);
  EXPECT_TRUE(PosixExists(scratch.InRoot("drive_d/Precious/data.txt")));
}

// Links to a file outside the machine where programs work (a log, an entry
// of a folder copied, an entry of a copy's destination) are not followed:
// they count as missing, listings leave them out, and the file stays as it
// was.
TEST_F(PosixFileSystemTest, LinksToFilesOutsideTheMachineAreNeverFollowed) {
  const std::string outside = scratch.Scratch("outside.txt");
  WritePosixFile(outside, "outside");
  WritePosixFile(scratch.InRoot("drive_c/Tree/a.txt"), "a");
  MakePosixFolders(scratch.InRoot("drive_c/Logs"));
  MakePosixFolders(scratch.InRoot("drive_c/Into"));
  for (const char* link :
       {"drive_c/Logs/Access.log", "drive_c/Tree/secret.txt", "drive_c/Into/a.txt"}) {
    ASSERT_EQ(symlink(outside.c_str(), scratch.InRoot(link).c_str()), 0);
  }

  EXPECT_FALSE(files.FileExists("C:\\Logs\\Access.log"));
  EXPECT_EQ(ErrorNumberOf(
                [&] { files.OpenTextFile("C:\\Logs\\Access.log", IoMode::kForAppending, true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile("C:\\Logs\\Access.log", true); }),
            error_number::kFileNotFound);
  EXPECT_THAT(Names(files.GetFolder("C:\\Tree").files), ElementsAre("a.txt"));
  files.CopyFolder("C:\\Tree", "C:\\Copy", true);
  EXPECT_THAT(*ListFolder(scratch.InRoot("drive_c/Copy")), ElementsAre("a.txt"));
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile("C:\\Tree\\a.txt", "C:\\Into\\", true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder("C:\\Tree", "C:\\Into", true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ReadPosixFile(outside), "outside");
}

TEST_F(PosixFileSystemTest, ForceRemovesReadOnlyFoldersToo) {
  WritePosixFile(scratch.InRoot("drive_c/Group/Sub/a.lnk"), "x", 0444);
  ASSERT_EQ(chmod(scratch.InRoot("drive_c/Group/Sub").c_str(), 0555), 0);
  const int status = RunUnprivileged([&] {
    // Owned by root: even force cannot help an unprivileged user.
    return ErrorNumberOf([&] { files.DeleteFolder("C:\\Group", true); }) ==
                   error_number::kPermissionDenied
               ? 0
               : 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(PosixExists(scratch.InRoot("drive_c/Group/Sub/a.lnk")));
  files.DeleteFolder("C:\\Group", true);
  EXPECT_FALSE(PosixExists(scratch.InRoot("drive_c/Group")));
}

TEST_F(PosixFileSystemTest, SystemRefusalsArePermissionDenied) {
  WritePosixFile(scratch.InRoot("drive_c/Sealed/inner.txt"), "x");
  ASSERT_EQ(chmod(scratch.InRoot("drive_c/Sealed").c_str(), 0555), 0);
  WritePosixFile(scratch.InRoot("drive_c/Media/a.txt"), "a");
  const int status = RunUnprivileged([&] {
    if (ErrorNumberOf([&] { files.DeleteFile("C:\\Sealed\\inner.txt", true); }) !=
        error_number::kPermissionDenied) {
      return 1;
    }
    if (ErrorNumberOf([&] { files.CopyFile("C:\\Media\\a.txt", "C:\\Sealed\\", true); }) !=
        error_number::kPermissionDenied) {
      return 2;
    }
    if (ErrorNumberOf([&] {
          files.OpenTextFile("C:\\Sealed\\new.txt", IoMode::kForWriting, true);
        }) != error_number::kPermissionDenied) {
      return 3;
    }
    if (ErrorNumberOf([&] { files.MoveFile("C:\\Sealed\\inner.txt", "C:\\Media\\b.txt"); }) !=
        error_number::kPermissionDenied) {
      return 4;
    }
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(PosixExists(scratch.InRoot("drive_c/Sealed/inner.txt")));
}

TEST_F(PosixFileSystemTest, ConcurrentAppendsNeverInterleave) {
  constexpr int kProcesses = 8;
  constexpr int kLinesEach = 200;
  MakePosixFolders(scratch.InRoot("drive_c/Logs"));
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(StartInChild([&] {
      for (int i = 0; i < kLinesEach; ++i) {
        auto log = files.OpenTextFile("C:\\Logs\\Access.log", IoMode::kForAppending, true);
        log->Write("process " + std::to_string(p) + " line " + std::to_string(i) + " " +
                   std::string(100, static_cast<char>('a' + p)) + "\r\n");
        log->Close();
      }
      return 0;
    }));
  }
  for (pid_t pid : children) ASSERT_EQ(WaitForChild(pid), 0);
  auto in = files.OpenTextFile("C:\\Logs\\Access.log", IoMode::kForReading, false);
  std::map<int, int> next_line;
  int lines = 0;
  while (!in->AtEndOfStream()) {
    const std::string line = in->ReadLine();
    int p = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "process %d line %d", &p, &i), 2) << line;
    ASSERT_TRUE(p >= 0 && p < kProcesses);
    EXPECT_EQ(i, next_line[p]++) << "lines of one process stay in order";
    EXPECT_EQ(line.substr(line.size() - 100), std::string(100, static_cast<char>('a' + p)));
    ++lines;
  }
  EXPECT_EQ(lines, kProcesses * kLinesEach);
}

}  // namespace
}  // namespace quillon::testing

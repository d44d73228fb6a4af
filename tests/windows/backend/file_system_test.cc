// Win32FileSystem against the real file system: the facade's semantics, byte
// for byte text, and appends from many writers at once.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "shared/host_error.h"
#include "shared/win32/win32_file_system.h"
#include "support/error_number_of.h"
#include "support/windows_test_support.h"

namespace quillon::testing {
namespace {

// Every line of an appended log: "<writer> line <n> " and 200 times one
// letter; count distinct lines in all.
void ExpectWholeLines(const std::string& content, int count) {
  std::set<std::string> seen;
  for (const std::string& line : Lines(content)) {
    const auto space = line.rfind(' ');
    ASSERT_NE(space, std::string::npos) << line;
    const std::string tail = line.substr(space + 1);
    ASSERT_EQ(tail.size(), 200u) << line;
    ASSERT_EQ(tail.find_first_not_of(tail[0]), std::string::npos) << line;
    seen.insert(line.substr(0, space));
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
}

class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::string Read(const std::string& path) { return ReadBytes(path).value_or("<missing>"); }

  ScratchFolder scratch;
  Win32FileSystem files;
};

TEST_F(Win32FileSystemTest, ExistenceTellsFilesAndFoldersApart) {
  WriteBytes(scratch / "a.txt", "x");
  MakeFolders(scratch / "Folder");
  EXPECT_TRUE(files.FileExists(scratch / "a.txt"));
  EXPECT_FALSE(files.FolderExists(scratch / "a.txt"));
  EXPECT_TRUE(files.FolderExists(scratch / "Folder"));
  EXPECT_TRUE(files.FolderExists(scratch / "folder\\"));
  EXPECT_FALSE(files.FileExists(scratch / "Folder"));
  EXPECT_FALSE(files.FileExists(scratch / "missing.txt"));
  EXPECT_FALSE(files.FolderExists(scratch / "missing"));
  EXPECT_FALSE(files.FileExists(""));
}

TEST_F(Win32FileSystemTest, CopyFileIntoAFolderKeepsTheNameAndOverwrites) {
  WriteBytes(scratch / "src\\Zentrel.exe", "new");
  WriteBytes(scratch / "dst\\Zentrel.exe", "old");
  files.CopyFile(scratch / "src\\Zentrel.exe", scratch / "dst\\", true);
  EXPECT_EQ(Read(scratch / "dst\\Zentrel.exe"), "new");

  WriteBytes(scratch / "src\\Zentrel.exe", "newer");
  EXPECT_EQ(ErrorNumberOf(
                [&] { files.CopyFile(scratch / "src\\Zentrel.exe", scratch / "dst\\", false); }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(Read(scratch / "dst\\Zentrel.exe"), "new");

  files.CopyFile(scratch / "src\\Zentrel.exe", scratch / "dst\\Renamed.exe", true);
  EXPECT_EQ(Read(scratch / "dst\\Renamed.exe"), "newer");
}

TEST_F(Win32FileSystemTest, CopyFileTakesSourcesRelativeToTheWorkingFolder) {
  WriteBytes(scratch / "media\\Zentrel.ini", "settings");
  MakeFolders(scratch / "dst");
  char earlier[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(sizeof earlier, earlier);
  ASSERT_TRUE(SetCurrentDirectoryA(scratch.path().c_str()));
  files.CopyFile("media\\Zentrel.ini", scratch / "dst\\", true);
  SetCurrentDirectoryA(earlier);
  EXPECT_EQ(Read(scratch / "dst\\Zentrel.ini"), "settings");
}

TEST_F(Win32FileSystemTest, CopyFileFailuresAreNumberedAsTheScriptingRuntimeDoes) {
  MakeFolders(scratch / "dst");
  EXPECT_EQ(
      ErrorNumberOf([&] { files.CopyFile(scratch / "missing.txt", scratch / "dst\\", true); }),
      error_number::kFileNotFound);
  WriteBytes(scratch / "a.txt", "a");
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(scratch / "a.txt", scratch / "nowhere\\", true); }),
            error_number::kPathNotFound);
}

TEST_F(Win32FileSystemTest, CopyFolderCopiesTheWholeTreeUnderItsOwnName) {
  WriteBytes(scratch / "media\\Zentrel\\Zentrel.exe", "exe");
  WriteBytes(scratch / "media\\Zentrel\\Logs\\keep.txt", "");
  WriteBytes(scratch / "media\\Zentrel\\Uninstall\\Remove\\remove.vbs", "vbs");
  WriteBytes(scratch / "Program Files\\Harlwick\\Zentrel\\Zentrel.exe", "old exe");
  WriteBytes(scratch / "Program Files\\Harlwick\\Zentrel\\extra.txt", "stays");

  files.CopyFolder(scratch / "media\\Zentrel", scratch / "Program Files\\Harlwick\\", true);
  const std::string product = scratch / "Program Files\\Harlwick\\Zentrel";
  EXPECT_EQ(Read(product + "\\Zentrel.exe"), "exe");
  EXPECT_EQ(Read(product + "\\Logs\\keep.txt"), "");
  EXPECT_EQ(Read(product + "\\Uninstall\\Remove\\remove.vbs"), "vbs");
  EXPECT_EQ(Read(product + "\\extra.txt"), "stays");

  EXPECT_EQ(ErrorNumberOf([&] {
              files.CopyFolder(scratch / "media\\Zentrel", scratch / "Program Files\\Harlwick\\",
                               false);
            }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(scratch / "missing", scratch / "x\\", true); }),
            error_number::kPathNotFound);
}

TEST_F(Win32FileSystemTest, CopyFolderIntoItselfIsRefusedInsteadOfRunningAway) {
  WriteBytes(scratch / "tree\\a.txt", "a");
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(scratch / "tree", scratch / "tree\\", true); }),
            error_number::kPermissionDenied);
  EXPECT_FALSE(Exists(scratch / "tree\\tree"));
}

TEST_F(Win32FileSystemTest, DeleteFileTakesReadOnlyFilesOnlyWithForce) {
  WriteBytes(scratch / "ro.txt", "r");
  SetFileAttributesA((scratch / "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile(scratch / "ro.txt", false); }),
            error_number::kPermissionDenied);
  EXPECT_TRUE(Exists(scratch / "ro.txt"));
  files.DeleteFile(scratch / "ro.txt", true);
  EXPECT_FALSE(Exists(scratch / "ro.txt"));

  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile(scratch / "ro.txt", true); }),
            error_number::kFileNotFound);
  MakeFolders(scratch / "folder");
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile(scratch / "folder", true); }),
            error_number::kFileNotFound);
  EXPECT_TRUE(Exists(scratch / "folder"));
}

TEST_F(Win32FileSystemTest, DeleteFolderTakesEverythingItHolds) {
  WriteBytes(scratch / "Quillon\\Uninstall.lnk", "l");
  WriteBytes(scratch / "Quillon\\Sub\\Deeper\\ro.txt", "r");
  SetFileAttributesA((scratch / "Quillon\\Sub\\Deeper\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  files.DeleteFolder(scratch / "Quillon", true);
  EXPECT_FALSE(Exists(scratch / "Quillon"));
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFolder(scratch / "Quillon", true); }),
            error_number::kPathNotFound);
}

TEST_F(Win32FileSystemTest, MoveFileRenamesAndNeverReplaces) {
  WriteBytes(scratch / "Zentrel.dll", "library");
  files.MoveFile(scratch / "Zentrel.dll", scratch / "Zentrel.dll.old");
  EXPECT_FALSE(Exists(scratch / "Zentrel.dll"));
  EXPECT_EQ(Read(scratch / "Zentrel.dll.old"), "library");

  WriteBytes(scratch / "Zentrel.dll", "second");
  EXPECT_EQ(
      ErrorNumberOf([&] { files.MoveFile(scratch / "Zentrel.dll", scratch / "Zentrel.dll.old"); }),
      error_number::kFileAlreadyExists);
  EXPECT_EQ(Read(scratch / "Zentrel.dll"), "second");
  EXPECT_EQ(Read(scratch / "Zentrel.dll.old"), "library");
  EXPECT_EQ(ErrorNumberOf([&] { files.MoveFile(scratch / "none.dll", scratch / "x.dll"); }),
            error_number::kFileNotFound);
}

TEST_F(Win32FileSystemTest, TextIsWrittenAndReadByteForByte) {
  const std::string path = scratch / "Zentrel.ini";
  auto out = files.OpenTextFile(path, IoMode::kForWriting, true);
  out->Write("adminemail: r\xE9mi@example.com;\r\n");
  out->Write("smtpserver: mail;\r\n");
  out->Close();
  EXPECT_EQ(Read(path), "adminemail: r\xE9mi@example.com;\r\nsmtpserver: mail;\r\n");

  auto in = files.OpenTextFile(path, IoMode::kForReading, false);
  EXPECT_EQ(in->ReadLine(), "adminemail: r\xE9mi@example.com;");
  EXPECT_FALSE(in->AtEndOfStream());
  EXPECT_EQ(in->ReadLine(), "smtpserver: mail;");
  EXPECT_TRUE(in->AtEndOfStream());
  EXPECT_EQ(ErrorNumberOf([&] { in->ReadLine(); }), error_number::kInputPastEnd);
  EXPECT_EQ(ErrorNumberOf([&] { in->Write("x"); }), error_number::kBadFileMode);
}

TEST_F(Win32FileSystemTest, ReadLineDropsCrLfOrABareLfAndKeepsALastUnendedLine) {
  const std::string path = scratch / "lines.txt";
  WriteBytes(path, "one\r\ntwo\nthree\rstill three\n\nlast");
  auto in = files.OpenTextFile(path, IoMode::kForReading, false);
  std::vector<std::string> lines;
  while (!in->AtEndOfStream()) lines.push_back(in->ReadLine());
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three\rstill three", "", "last"}));
}

TEST_F(Win32FileSystemTest, LongLinesAcrossTheReadBufferComeBackWhole) {
  const std::string path = scratch / "long.txt";
  const std::string first(100000, 'a');
  const std::string second(70000, 'b');
  WriteBytes(path, first + "\r\n" + second + "\r\nend\r\n");
  auto in = files.OpenTextFile(path, IoMode::kForReading, false);
  EXPECT_EQ(in->ReadLine(), first);
  EXPECT_EQ(in->ReadLine(), second);
  EXPECT_EQ(in->ReadLine(), "end");
  EXPECT_TRUE(in->AtEndOfStream());
}

TEST_F(Win32FileSystemTest, OpenModesCreateEmptyAndAppendAsTheFacadeSays) {
  const std::string path = scratch / "Access.log";
  EXPECT_EQ(ErrorNumberOf([&] { files.OpenTextFile(path, IoMode::kForAppending, false); }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.OpenTextFile(path, IoMode::kForReading, false); }),
            error_number::kFileNotFound);
  EXPECT_FALSE(Exists(path));

  files.OpenTextFile(path, IoMode::kForWriting, true)->Close();
  EXPECT_EQ(Read(path), "");
  files.OpenTextFile(path, IoMode::kForAppending, false)->Write("first\r\n");
  files.OpenTextFile(path, IoMode::kForAppending, false)->Write("second\r\n");
  EXPECT_EQ(Read(path), "first\r\nsecond\r\n");

  auto reader = files.OpenTextFile(path, IoMode::kForReading, false);
  EXPECT_EQ(ErrorNumberOf([&] { reader->Write("x"); }), error_number::kBadFileMode);
  auto appender = files.OpenTextFile(path, IoMode::kForAppending, false);
  EXPECT_EQ(ErrorNumberOf([&] { appender->ReadLine(); }), error_number::kBadFileMode);
  appender->Close();

  files.OpenTextFile(path, IoMode::kForWriting, false)->Write("fresh");
  EXPECT_EQ(Read(path), "fresh");
  EXPECT_EQ(ErrorNumberOf([&] {
              files.OpenTextFile(scratch / "no\\such\\folder.txt", IoMode::kForWriting, true);
            }),
            error_number::kPathNotFound);
}

TEST_F(Win32FileSystemTest, ConcurrentAppendsLoseAndTearNoLine) {
  const std::string path = scratch / "Access.log";
  files.OpenTextFile(path, IoMode::kForWriting, true)->Close();
  constexpr int kWriters = 4;
  constexpr int kLinesEach = 150;
  std::vector<std::thread> writers;
  for (int writer = 0; writer < kWriters; ++writer) {
    writers.emplace_back([&, writer] {
      Win32FileSystem own;
      for (int i = 0; i < kLinesEach; ++i) {
        // One open, one write of the whole line, one close: as the logs do.
        auto log = own.OpenTextFile(path, IoMode::kForAppending, false);
        log->Write(std::string(1, static_cast<char>('a' + writer)) + " line " + std::to_string(i) +
                   " " + std::string(200, static_cast<char>('a' + writer)) + "\r\n");
        log->Close();
      }
    });
  }
  for (auto& writer : writers) writer.join();

  ExpectWholeLines(Read(path), kWriters * kLinesEach);
}

TEST_F(Win32FileSystemTest, ConcurrentAppendsFromManyProcessesLoseAndTearNoLine) {
  const std::string path = scratch / "Error.log";
  files.OpenTextFile(path, IoMode::kForWriting, true)->Close();
  const std::string target = Quoted(BuildFolder() + "\\launch_target.exe");
  std::vector<std::unique_ptr<StartedProcess>> writers;
  for (const char* tag : {"a", "b", "c", "d"}) {
    writers.push_back(
        std::make_unique<StartedProcess>(target + " append " + Quoted(path) + " " + tag + " 150"));
  }
  for (const auto& writer : writers) {
    ASSERT_TRUE(writer->WaitForEnd());
    EXPECT_EQ(writer->ExitCode(), 0u);
  }
  ExpectWholeLines(Read(path), 600);
}

TEST_F(Win32FileSystemTest, GetFolderListsFilesAndSubFoldersWithUsablePaths) {
  WriteBytes(scratch / "Zentrel\\Zentrel.exe", "");
  WriteBytes(scratch / "Zentrel\\Zentrel.ini", "");
  MakeFolders(scratch / "Zentrel\\Logs");
  MakeFolders(scratch / "Zentrel\\Uninstall");

  const Folder folder = files.GetFolder(scratch / "Zentrel\\");
  EXPECT_EQ(folder.path, scratch / "Zentrel");
  std::set<std::string> file_names;
  for (const auto& entry : folder.files) {
    file_names.insert(entry.name);
    EXPECT_EQ(entry.path, scratch / "Zentrel\\" + entry.name);
  }
  std::set<std::string> folder_names;
  for (const auto& entry : folder.sub_folders) folder_names.insert(entry.name);
  EXPECT_EQ(file_names, (std::set<std::string>{"Zentrel.exe", "Zentrel.ini"}));
  EXPECT_EQ(folder_names, (std::set<std::string>{"Logs", "Uninstall"}));

  for (const auto& entry : folder.files) files.DeleteFile(entry.path, true);
  for (const auto& entry : folder.sub_folders) files.DeleteFolder(entry.path, true);
  EXPECT_TRUE(files.GetFolder(scratch / "Zentrel").files.empty());
  EXPECT_EQ(ErrorNumberOf([&] { files.GetFolder(scratch / "missing"); }),
            error_number::kPathNotFound);
}

}  // namespace
}  // namespace quillon::testing

// The file-system contract: the same bodies for the fake, the portable
// machine's backend and the real file system. A backend offers files(),
// AddFolder(path), AddFile(path, content, read_only), Content(path) and
// EnterFolder(path) for paths below C:\, which it keeps apart from
// everything else, and PlantLinkLeavingTheMachine(path) with Outside(), the
// files beside the machine that a link there leads to.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shared/host_file_system.h"
#include "support/error_number_of.h"

namespace quillon::testing {

inline std::vector<std::string> ContractNames(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

inline std::vector<std::string> ContractPaths(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> paths;
  for (const auto& entry : entries) paths.push_back(entry.path);
  return paths;
}

template <typename Backend>
class FileSystemContract : public ::testing::Test {
 protected:
  FileSystemContract() {
    backend.AddFolder("C:\\");
    backend.AddFolder("C:\\Program Files");
    backend.AddFile("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe", "checker");
    backend.AddFile("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini", "new settings");
    backend.AddFile("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log", "");
  }

  HostFileSystem& files() { return backend.files(); }
  Backend backend;
};

TYPED_TEST_SUITE_P(FileSystemContract);

TYPED_TEST_P(FileSystemContract, ExistenceTellsFilesFromFoldersWithoutRegardToCase) {
  auto& files = this->files();
  EXPECT_TRUE(files.FileExists("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"));
  EXPECT_TRUE(files.FileExists("c:\\MEDIA\\program files\\harlwick\\zentrel\\ZENTREL.EXE"));
  EXPECT_TRUE(files.FileExists("C:\\Media\\\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"));
  EXPECT_FALSE(files.FileExists("C:\\Media\\Program Files\\Harlwick\\Zentrel"));
  EXPECT_FALSE(files.FileExists("C:\\Media\\Missing.exe"));
  EXPECT_TRUE(files.FolderExists("C:\\Media\\Program Files\\Harlwick\\Zentrel"));
  EXPECT_TRUE(files.FolderExists("C:\\media\\PROGRAM FILES"));
  EXPECT_FALSE(files.FolderExists("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"));
  EXPECT_FALSE(files.FolderExists("C:\\Gone"));
  EXPECT_FALSE(files.FileExists("\\\\server\\share\\Zentrel.exe"));
  EXPECT_FALSE(files.FolderExists("\\\\server\\share"));
}

TYPED_TEST_P(FileSystemContract, CopyFileIntoAFolderKeepsTheStoredNameAndOverwrites) {
  auto& files = this->files();
  this->backend.AddFile("C:\\WINDOWS\\system32\\Zentrel.exe", "old");
  files.CopyFile("c:\\media\\program files\\harlwick\\zentrel\\zentrel.exe",
                 "C:\\WINDOWS\\system32\\", true);
  EXPECT_EQ(this->backend.Content("C:\\WINDOWS\\system32\\Zentrel.exe"), "checker");
  files.CopyFile("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini",
                 "C:\\WINDOWS\\system32\\Renamed.ini", false);
  EXPECT_EQ(this->backend.Content("C:\\WINDOWS\\system32\\Renamed.ini"), "new settings");
  // The source stays.
  EXPECT_TRUE(files.FileExists("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"));
}

TYPED_TEST_P(FileSystemContract, CopyFileFailures) {
  auto& files = this->files();
  this->backend.AddFile("C:\\Out\\Zentrel.exe", "existing");
  this->backend.AddFile("C:\\Out\\Locked.exe", "locked", true);
  const std::string source = "C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe";
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile("C:\\Media\\None.exe", "C:\\Out\\", true); }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile("C:\\Media", "C:\\Out\\", true); }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, "C:\\Nowhere\\", true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, "C:\\Nowhere\\x.exe", true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, "C:\\Out\\", false); }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, "C:\\Out\\locked.EXE", true); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, "C:\\Out", true); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(this->backend.Content("C:\\Out\\Zentrel.exe"), "existing");
  EXPECT_EQ(this->backend.Content("C:\\Out\\Locked.exe"), "locked");
}

TYPED_TEST_P(FileSystemContract, CopyFolderIntoAFolderMergesAndOverwrites) {
  auto& files = this->files();
  this->backend.AddFile("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini", "old settings");
  this->backend.AddFile("C:\\Program Files\\Harlwick\\Other\\keep.txt", "kept");
  files.CopyFolder("C:\\Media\\Program Files\\Harlwick", "C:\\program files\\", true);

  EXPECT_EQ(this->backend.Content("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"), "checker");
  EXPECT_EQ(this->backend.Content("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini"),
            "new settings");
  EXPECT_EQ(this->backend.Content("C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log"), "");
  EXPECT_EQ(this->backend.Content("C:\\Program Files\\Harlwick\\Other\\keep.txt"), "kept");

  // Without "\" the destination is the new name.
  files.CopyFolder("C:\\Media\\Program Files\\Harlwick\\Zentrel", "C:\\Copy", false);
  EXPECT_EQ(this->backend.Content("C:\\Copy\\Zentrel.exe"), "checker");
  EXPECT_TRUE(files.FolderExists("C:\\Copy\\Logs"));
}

TYPED_TEST_P(FileSystemContract, CopyFolderFailures) {
  auto& files = this->files();
  this->backend.AddFile("C:\\Plain.txt", "file");
  this->backend.AddFile("C:\\Target\\Zentrel\\Zentrel.ini", "there");
  const std::string source = "C:\\Media\\Program Files\\Harlwick\\Zentrel";
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder("C:\\Media\\Gone", "C:\\Target\\", true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(source, "C:\\Nowhere\\", true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(source, "C:\\Nowhere\\Deeper", true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(source, "C:\\Plain.txt", true); }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(source, "C:\\Target\\", false); }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(this->backend.Content("C:\\Target\\Zentrel\\Zentrel.ini"), "there");
}

TYPED_TEST_P(FileSystemContract, DeleteFileHonoursReadOnlyUnlessForced) {
  auto& files = this->files();
  this->backend.AddFile("C:\\Out\\plain.txt", "x");
  this->backend.AddFile("C:\\Out\\locked.txt", "x", true);
  files.DeleteFile("c:\\out\\PLAIN.TXT", false);
  EXPECT_FALSE(files.FileExists("C:\\Out\\plain.txt"));
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile("C:\\Out\\locked.txt", false); }),
            error_number::kPermissionDenied);
  EXPECT_TRUE(files.FileExists("C:\\Out\\locked.txt"));
  files.DeleteFile("C:\\Out\\locked.txt", true);
  EXPECT_FALSE(files.FileExists("C:\\Out\\locked.txt"));
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile("C:\\Out\\locked.txt", true); }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile("C:\\Out", true); }), error_number::kFileNotFound);
}

TYPED_TEST_P(FileSystemContract, DeleteFolderTakesAllItHolds) {
  auto& files = this->files();
  this->backend.AddFile("C:\\Group\\Quillon\\Sub\\locked.lnk", "x", true);
  this->backend.AddFile("C:\\Group\\Quillon\\a.lnk", "x");
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFolder("C:\\Group\\Quillon", false); }),
            error_number::kPermissionDenied);
  EXPECT_TRUE(files.FileExists("C:\\Group\\Quillon\\a.lnk"));
  EXPECT_TRUE(files.FileExists("C:\\Group\\Quillon\\Sub\\locked.lnk"));
  files.DeleteFolder("c:\\group\\QUILLON", true);
  EXPECT_FALSE(files.FolderExists("C:\\Group\\Quillon"));
  EXPECT_TRUE(files.FolderExists("C:\\Group"));
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFolder("C:\\Group\\Quillon", true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.DeleteFolder("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe", true);
            }),
            error_number::kPathNotFound);
}

TYPED_TEST_P(FileSystemContract, MoveFileNeverReplaces) {
  auto& files = this->files();
  this->backend.AddFile("C:\\WINDOWS\\system32\\Zentrel.dll", "library");
  this->backend.AddFile("C:\\WINDOWS\\system32\\Taken.old", "earlier");
  files.MoveFile("C:\\WINDOWS\\system32\\zentrel.DLL", "C:\\WINDOWS\\system32\\Zentrel.dll.old");
  EXPECT_FALSE(files.FileExists("C:\\WINDOWS\\system32\\Zentrel.dll"));
  EXPECT_EQ(this->backend.Content("C:\\WINDOWS\\system32\\Zentrel.dll.old"), "library");

  EXPECT_EQ(ErrorNumberOf([&] {
              files.MoveFile("C:\\WINDOWS\\system32\\Zentrel.dll.old",
                             "C:\\WINDOWS\\system32\\TAKEN.OLD");
            }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(this->backend.Content("C:\\WINDOWS\\system32\\Zentrel.dll.old"), "library");
  EXPECT_EQ(this->backend.Content("C:\\WINDOWS\\system32\\Taken.old"), "earlier");
  EXPECT_EQ(ErrorNumberOf([&] {
              files.MoveFile("C:\\WINDOWS\\system32\\Zentrel.dll", "C:\\WINDOWS\\x.dll");
            }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf(
                [&] { files.MoveFile("C:\\WINDOWS\\system32\\Taken.old", "C:\\Nowhere\\x.dll"); }),
            error_number::kPathNotFound);
}

TYPED_TEST_P(FileSystemContract, TextFilesWriteAppendAndReadLines) {
  auto& files = this->files();
  this->backend.AddFolder("C:\\Logs");
  auto out = files.OpenTextFile("C:\\Logs\\Access.log", IoMode::kForWriting, true);
  out->Write("first\r\n");
  out->Write("second\n");
  out->Close();
  auto more = files.OpenTextFile("c:\\logs\\ACCESS.LOG", IoMode::kForAppending, false);
  more->Write("third, no line end");
  more->Close();
  EXPECT_EQ(this->backend.Content("C:\\Logs\\Access.log"), "first\r\nsecond\nthird, no line end");

  auto in = files.OpenTextFile("C:\\Logs\\Access.log", IoMode::kForReading, false);
  std::vector<std::string> lines;
  while (!in->AtEndOfStream()) lines.push_back(in->ReadLine());
  EXPECT_THAT(lines, ::testing::ElementsAre("first", "second", "third, no line end"));
  EXPECT_EQ(ErrorNumberOf([&] { in->ReadLine(); }), error_number::kInputPastEnd);
  EXPECT_NE(ErrorNumberOf([&] { in->Write("x"); }), 0);
  in->Close();

  // Mode 2 empties an existing file.
  auto again = files.OpenTextFile("C:\\Logs\\Access.log", IoMode::kForWriting, false);
  EXPECT_NE(ErrorNumberOf([&] { again->ReadLine(); }), 0);
  again->Close();
  EXPECT_EQ(this->backend.Content("C:\\Logs\\Access.log"), "");
  auto empty = files.OpenTextFile("C:\\Logs\\Access.log", IoMode::kForReading, false);
  EXPECT_TRUE(empty->AtEndOfStream());
}

TYPED_TEST_P(FileSystemContract, OpenTextFileFailures) {
  auto& files = this->files();
  this->backend.AddFile("C:\\Logs\\locked.log", "x", true);
  EXPECT_EQ(
      ErrorNumberOf([&] { files.OpenTextFile("C:\\Logs\\none.log", IoMode::kForReading, false); }),
      error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf(
                [&] { files.OpenTextFile("C:\\Logs\\none.log", IoMode::kForAppending, false); }),
            error_number::kFileNotFound);
  EXPECT_EQ(
      ErrorNumberOf([&] { files.OpenTextFile("C:\\Nowhere\\x.log", IoMode::kForWriting, true); }),
      error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.OpenTextFile("C:\\Logs", IoMode::kForReading, false); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(
      ErrorNumberOf([&] { files.OpenTextFile("C:\\Logs\\locked.log", IoMode::kForWriting, true); }),
      error_number::kPermissionDenied);
  EXPECT_EQ(ErrorNumberOf(
                [&] { files.OpenTextFile("C:\\Logs\\locked.log", IoMode::kForAppending, true); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(this->backend.Content("C:\\Logs\\locked.log"), "x");
  EXPECT_FALSE(files.FileExists("C:\\Logs\\none.log"));
  // Reading a read-only file is fine.
  EXPECT_EQ(files.OpenTextFile("C:\\Logs\\locked.log", IoMode::kForReading, false)->ReadLine(),
            "x");
}

TYPED_TEST_P(FileSystemContract, GetFolderIsASnapshotWithStoredNamesAndFullPaths) {
  auto& files = this->files();
  this->backend.AddFile("C:\\Product\\b.txt", "");
  this->backend.AddFile("C:\\Product\\A.txt", "");
  this->backend.AddFolder("C:\\Product\\Uninstall");
  this->backend.AddFolder("C:\\Product\\logs");
  const Folder folder = files.GetFolder("c:\\PRODUCT");
  EXPECT_EQ(folder.path, "C:\\Product");
  EXPECT_THAT(ContractNames(folder.files), ::testing::ElementsAre("A.txt", "b.txt"));
  EXPECT_THAT(ContractPaths(folder.files),
              ::testing::ElementsAre("C:\\Product\\A.txt", "C:\\Product\\b.txt"));
  EXPECT_THAT(ContractNames(folder.sub_folders), ::testing::ElementsAre("logs", "Uninstall"));

  // Entries work as paths, and the snapshot does not change under a loop.
  for (const auto& entry : folder.files) files.DeleteFile(entry.path, true);
  for (const auto& entry : folder.sub_folders) files.DeleteFolder(entry.path, true);
  EXPECT_THAT(files.GetFolder("C:\\Product").files, ::testing::IsEmpty());
  EXPECT_THAT(files.GetFolder("C:\\Product").sub_folders, ::testing::IsEmpty());
  EXPECT_EQ(ErrorNumberOf([&] { files.GetFolder("C:\\Gone"); }), error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.GetFolder("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe");
            }),
            error_number::kPathNotFound);
}

TYPED_TEST_P(FileSystemContract, RelativePathsStartAtTheCurrentFolder) {
  auto& files = this->files();
  this->backend.AddFolder("C:\\Out");
  this->backend.EnterFolder("C:\\Media");
  EXPECT_TRUE(files.FolderExists("Program Files\\Harlwick"));
  files.CopyFile("Program Files\\Harlwick\\Zentrel\\Zentrel.ini", "C:\\Out\\", true);
  EXPECT_EQ(this->backend.Content("C:\\Out\\Zentrel.ini"), "new settings");
  files.CopyFolder("program files\\harlwick", "C:\\Out\\", true);
  EXPECT_EQ(this->backend.Content("C:\\Out\\Harlwick\\Zentrel\\Zentrel.exe"), "checker");
  EXPECT_TRUE(files.FolderExists("\\Out\\Harlwick"));
}

// The machine's boundary: a path element holding a character that Windows
// forbids in file names names no file, whichever operation meets it.
TYPED_TEST_P(FileSystemContract, ElementsWithCharactersWindowsForbidsNameNoFile) {
  auto& files = this->files();
  const std::string folder = "C:\\Media\\Program Files\\Harlwick\\Zentrel";
  const std::string file = folder + "\\Zentrel.ini";
  const std::vector<std::string> names = {
      "C:\\Media\\x_|_y\\Zentrel.ini",
      "C:\\Media\\a<b",
      "C:\\Media\\a>b",
      "C:\\Media\\a:b",
      "C:\\Media\\a\"b",
      "C:\\Media\\a?b",
      "C:\\Media\\a*b",
      "C:\\Media\\new\nline",
      "C:\\Media\\tab\tbed",
      std::string("C:\\Media\\\x01"
                  "one"),
      "C:\\Media\\\x1F",
      "x|y",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(files.FileExists(name));
    EXPECT_FALSE(files.FolderExists(name));
    const std::vector<std::function<void()>> operations = {
        [&] { files.OpenTextFile(name, IoMode::kForWriting, true); },
        [&] { files.OpenTextFile(name, IoMode::kForAppending, true); },
        [&] { files.OpenTextFile(name, IoMode::kForReading, false); },
        [&] { files.CopyFile(file, name, true); },
        [&] { files.CopyFile(name, "C:\\Media\\", true); },
        [&] { files.CopyFolder(folder, name, true); },
        [&] { files.MoveFile(file, name); },
        [&] { files.DeleteFile(name, true); },
        [&] { files.DeleteFolder(name, true); },
        [&] { files.GetFolder(name); },
    };
    for (std::size_t i = 0; i < operations.size(); ++i) {
      EXPECT_EQ(ErrorNumberOf(operations[i]), error_number::kBadFileName) << "operation " << i;
    }
  }
  // Nothing was made and nothing moved.
  EXPECT_THAT(ContractNames(files.GetFolder("C:\\Media").sub_folders),
              ::testing::ElementsAre("Program Files"));
  EXPECT_THAT(ContractNames(files.GetFolder("C:\\Media").files), ::testing::IsEmpty());
  EXPECT_EQ(this->backend.Content(file), "new settings");
}

// A path through a link that leads out of the machine is a path that does
// not exist: every operation fails as on a missing path, and nothing outside
// is read, written or deleted. A backend without links plants nothing and
// has nothing outside.
TYPED_TEST_P(FileSystemContract, PathsThroughALinkLeavingTheMachineDoNotExist) {
  auto& files = this->files();
  this->backend.PlantLinkLeavingTheMachine("C:\\Program Files\\Harlwick");
  const std::map<std::string, std::string> outside = this->backend.Outside();
  const std::string product = "C:\\Program Files\\Harlwick\\Zentrel";
  const std::string media = "C:\\Media\\Program Files\\Harlwick\\Zentrel";

  EXPECT_FALSE(files.FolderExists("C:\\Program Files\\Harlwick"));
  EXPECT_FALSE(files.FolderExists(product + "\\Logs"));
  EXPECT_FALSE(files.FileExists(product + "\\Zentrel.ini"));
  EXPECT_THAT(ContractNames(files.GetFolder("C:\\Program Files").sub_folders),
              ::testing::IsEmpty());
  struct Case {
    const char* what;
    std::function<void()> operation;
    long error;
  };
  const Case cases[] = {
      {"list", [&] { files.GetFolder(product); }, error_number::kPathNotFound},
      {"delete folder", [&] { files.DeleteFolder(product + "\\Uninstall\\Scripts", true); },
       error_number::kPathNotFound},
      {"delete file", [&] { files.DeleteFile(product + "\\Zentrel.ini", true); },
       error_number::kFileNotFound},
      {"read", [&] { files.OpenTextFile(product + "\\Zentrel.ini", IoMode::kForReading, false); },
       error_number::kFileNotFound},
      {"append",
       [&] { files.OpenTextFile(product + "\\Logs\\Access.log", IoMode::kForAppending, true); },
       error_number::kPathNotFound},
      {"write", [&] { files.OpenTextFile(product + "\\Zentrel.ini", IoMode::kForWriting, true); },
       error_number::kPathNotFound},
      {"copy out", [&] { files.CopyFile(product + "\\Zentrel.ini", "C:\\Program Files\\", true); },
       error_number::kFileNotFound},
      {"copy in", [&] { files.CopyFile(media + "\\Zentrel.ini", product + "\\", true); },
       error_number::kPathNotFound},
      {"copy folder in", [&] { files.CopyFolder(media, "C:\\Program Files\\Harlwick\\", true); },
       error_number::kPathNotFound},
      {"move out", [&] { files.MoveFile(product + "\\Zentrel.ini", "C:\\Program Files\\x.ini"); },
       error_number::kFileNotFound},
      {"move in", [&] { files.MoveFile(media + "\\Zentrel.ini", product + "\\Zentrel.ini"); },
       error_number::kPathNotFound},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorNumberOf(c.operation), c.error) << c.what;
  }
  EXPECT_EQ(this->backend.Outside(), outside);
  EXPECT_EQ(this->backend.Content(media + "\\Zentrel.ini"), "new settings");
}

REGISTER_TYPED_TEST_SUITE_P(FileSystemContract, ElementsWithCharactersWindowsForbidsNameNoFile,
                            ExistenceTellsFilesFromFoldersWithoutRegardToCase,
                            CopyFileIntoAFolderKeepsTheStoredNameAndOverwrites, CopyFileFailures,
                            CopyFolderIntoAFolderMergesAndOverwrites, CopyFolderFailures,
                            DeleteFileHonoursReadOnlyUnlessForced, DeleteFolderTakesAllItHolds,
                            MoveFileNeverReplaces, TextFilesWriteAppendAndReadLines,
                            OpenTextFileFailures, GetFolderIsASnapshotWithStoredNamesAndFullPaths,
                            RelativePathsStartAtTheCurrentFolder,
                            PathsThroughALinkLeavingTheMachineDoNotExist);

}  // namespace quillon::testing

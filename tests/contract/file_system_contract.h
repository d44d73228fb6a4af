// The file-system contract: the same bodies for the fake, the portable
// machine's backend and the real file system. A backend offers files(),
// Root() (a folder of its own that stands for C:, "C:" itself where the
// backend is a whole machine), AddFolder(path), AddFile(path, content,
// read_only), Content(path) and EnterFolder(path) for paths below its root,
// which it keeps apart from everything else, and
// PlantLinkLeavingTheMachine(path) with Outside(), the files beside the
// machine that a link there leads to, and kFoldsCodePageLetters: whether
// the host folds the case of the code page's accented letters in names.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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
    backend.AddFolder(this->R("\\"));
    backend.AddFolder(this->R("\\Program Files"));
    backend.AddFile(this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"), "checker");
    backend.AddFile(this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini"),
                    "new settings");
    backend.AddFile(this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log"), "");
  }

  HostFileSystem& files() { return backend.files(); }
  // A path below the backend's root: R("\\Media") is C:\Media on a machine.
  std::string R(const char* rest) const { return backend.Root() + rest; }
  // The same path without its drive, as a path from the drive's root.
  std::string DriveRelative(const char* rest) const { return R(rest).substr(2); }
  Backend backend;
};

TYPED_TEST_SUITE_P(FileSystemContract);

TYPED_TEST_P(FileSystemContract, ExistenceTellsFilesFromFoldersWithoutRegardToCase) {
  auto& files = this->files();
  EXPECT_TRUE(files.FileExists(this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe")));
  EXPECT_TRUE(files.FileExists(this->R("\\MEDIA\\program files\\harlwick\\zentrel\\ZENTREL.EXE")));
  EXPECT_TRUE(
      files.FileExists(this->R("\\Media\\\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe")));
  EXPECT_FALSE(files.FileExists(this->R("\\Media\\Program Files\\Harlwick\\Zentrel")));
  EXPECT_FALSE(files.FileExists(this->R("\\Media\\Missing.exe")));
  EXPECT_TRUE(files.FolderExists(this->R("\\Media\\Program Files\\Harlwick\\Zentrel")));
  EXPECT_TRUE(files.FolderExists(this->R("\\media\\PROGRAM FILES")));
  EXPECT_FALSE(
      files.FolderExists(this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe")));
  EXPECT_FALSE(files.FolderExists(this->R("\\Gone")));
  EXPECT_FALSE(files.FileExists("\\\\server\\share\\Zentrel.exe"));
  EXPECT_FALSE(files.FolderExists("\\\\server\\share"));
}

TYPED_TEST_P(FileSystemContract, CopyFileIntoAFolderKeepsTheStoredNameAndOverwrites) {
  auto& files = this->files();
  this->backend.AddFile(this->R("\\WINDOWS\\system32\\Zentrel.exe"), "old");
  files.CopyFile(this->R("\\media\\program files\\harlwick\\zentrel\\zentrel.exe"),
                 this->R("\\WINDOWS\\system32\\"), true);
  EXPECT_EQ(this->backend.Content(this->R("\\WINDOWS\\system32\\Zentrel.exe")), "checker");
  files.CopyFile(this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini"),
                 this->R("\\WINDOWS\\system32\\Renamed.ini"), false);
  EXPECT_EQ(this->backend.Content(this->R("\\WINDOWS\\system32\\Renamed.ini")), "new settings");
  // The source stays.
  EXPECT_TRUE(files.FileExists(this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe")));
}

TYPED_TEST_P(FileSystemContract, CopyFileFailures) {
  auto& files = this->files();
  this->backend.AddFile(this->R("\\Out\\Zentrel.exe"), "existing");
  this->backend.AddFile(this->R("\\Out\\Locked.exe"), "locked", true);
  const std::string source = this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe");
  EXPECT_EQ(ErrorNumberOf(
                [&] { files.CopyFile(this->R("\\Media\\None.exe"), this->R("\\Out\\"), true); }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(this->R("\\Media"), this->R("\\Out\\"), true); }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, this->R("\\Nowhere\\"), true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, this->R("\\Nowhere\\x.exe"), true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, this->R("\\Out\\"), false); }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, this->R("\\Out\\locked.EXE"), true); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFile(source, this->R("\\Out"), true); }),
            error_number::kPermissionDenied);
  EXPECT_EQ(this->backend.Content(this->R("\\Out\\Zentrel.exe")), "existing");
  EXPECT_EQ(this->backend.Content(this->R("\\Out\\Locked.exe")), "locked");
}

TYPED_TEST_P(FileSystemContract, CopyFolderIntoAFolderMergesAndOverwrites) {
  auto& files = this->files();
  this->backend.AddFile(this->R("\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini"), "old settings");
  this->backend.AddFile(this->R("\\Program Files\\Harlwick\\Other\\keep.txt"), "kept");
  files.CopyFolder(this->R("\\Media\\Program Files\\Harlwick"), this->R("\\program files\\"), true);

  EXPECT_EQ(this->backend.Content(this->R("\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe")),
            "checker");
  EXPECT_EQ(this->backend.Content(this->R("\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini")),
            "new settings");
  EXPECT_EQ(this->backend.Content(this->R("\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log")),
            "");
  EXPECT_EQ(this->backend.Content(this->R("\\Program Files\\Harlwick\\Other\\keep.txt")), "kept");

  // Without "\" the destination is the new name.
  files.CopyFolder(this->R("\\Media\\Program Files\\Harlwick\\Zentrel"), this->R("\\Copy"), false);
  EXPECT_EQ(this->backend.Content(this->R("\\Copy\\Zentrel.exe")), "checker");
  EXPECT_TRUE(files.FolderExists(this->R("\\Copy\\Logs")));
}

TYPED_TEST_P(FileSystemContract, CopyFolderFailures) {
  auto& files = this->files();
  this->backend.AddFile(this->R("\\Plain.txt"), "file");
  this->backend.AddFile(this->R("\\Target\\Zentrel\\Zentrel.ini"), "there");
  const std::string source = this->R("\\Media\\Program Files\\Harlwick\\Zentrel");
  EXPECT_EQ(ErrorNumberOf(
                [&] { files.CopyFolder(this->R("\\Media\\Gone"), this->R("\\Target\\"), true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(source, this->R("\\Nowhere\\"), true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(source, this->R("\\Nowhere\\Deeper"), true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(source, this->R("\\Plain.txt"), true); }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(ErrorNumberOf([&] { files.CopyFolder(source, this->R("\\Target\\"), false); }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(this->backend.Content(this->R("\\Target\\Zentrel\\Zentrel.ini")), "there");
}

TYPED_TEST_P(FileSystemContract, DeleteFileHonoursReadOnlyUnlessForced) {
  auto& files = this->files();
  this->backend.AddFile(this->R("\\Out\\plain.txt"), "x");
  this->backend.AddFile(this->R("\\Out\\locked.txt"), "x", true);
  files.DeleteFile(this->R("\\out\\PLAIN.TXT"), false);
  EXPECT_FALSE(files.FileExists(this->R("\\Out\\plain.txt")));
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile(this->R("\\Out\\locked.txt"), false); }),
            error_number::kPermissionDenied);
  EXPECT_TRUE(files.FileExists(this->R("\\Out\\locked.txt")));
  files.DeleteFile(this->R("\\Out\\locked.txt"), true);
  EXPECT_FALSE(files.FileExists(this->R("\\Out\\locked.txt")));
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile(this->R("\\Out\\locked.txt"), true); }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFile(this->R("\\Out"), true); }),
            error_number::kFileNotFound);
}

TYPED_TEST_P(FileSystemContract, DeleteFolderTakesAllItHolds) {
  auto& files = this->files();
  this->backend.AddFile(this->R("\\Group\\Quillon\\Sub\\locked.lnk"), "x", true);
  this->backend.AddFile(this->R("\\Group\\Quillon\\a.lnk"), "x");
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFolder(this->R("\\Group\\Quillon"), false); }),
            error_number::kPermissionDenied);
  EXPECT_TRUE(files.FileExists(this->R("\\Group\\Quillon\\a.lnk")));
  EXPECT_TRUE(files.FileExists(this->R("\\Group\\Quillon\\Sub\\locked.lnk")));
  files.DeleteFolder(this->R("\\group\\QUILLON"), true);
  EXPECT_FALSE(files.FolderExists(this->R("\\Group\\Quillon")));
  EXPECT_TRUE(files.FolderExists(this->R("\\Group")));
  EXPECT_EQ(ErrorNumberOf([&] { files.DeleteFolder(this->R("\\Group\\Quillon"), true); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.DeleteFolder(this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"),
                                 true);
            }),
            error_number::kPathNotFound);
}

TYPED_TEST_P(FileSystemContract, MoveFileNeverReplaces) {
  auto& files = this->files();
  this->backend.AddFile(this->R("\\WINDOWS\\system32\\Zentrel.dll"), "library");
  this->backend.AddFile(this->R("\\WINDOWS\\system32\\Taken.old"), "earlier");
  files.MoveFile(this->R("\\WINDOWS\\system32\\zentrel.DLL"),
                 this->R("\\WINDOWS\\system32\\Zentrel.dll.old"));
  EXPECT_FALSE(files.FileExists(this->R("\\WINDOWS\\system32\\Zentrel.dll")));
  EXPECT_EQ(this->backend.Content(this->R("\\WINDOWS\\system32\\Zentrel.dll.old")), "library");

  EXPECT_EQ(ErrorNumberOf([&] {
              files.MoveFile(this->R("\\WINDOWS\\system32\\Zentrel.dll.old"),
                             this->R("\\WINDOWS\\system32\\TAKEN.OLD"));
            }),
            error_number::kFileAlreadyExists);
  EXPECT_EQ(this->backend.Content(this->R("\\WINDOWS\\system32\\Zentrel.dll.old")), "library");
  EXPECT_EQ(this->backend.Content(this->R("\\WINDOWS\\system32\\Taken.old")), "earlier");
  EXPECT_EQ(ErrorNumberOf([&] {
              files.MoveFile(this->R("\\WINDOWS\\system32\\Zentrel.dll"),
                             this->R("\\WINDOWS\\x.dll"));
            }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.MoveFile(this->R("\\WINDOWS\\system32\\Taken.old"),
                             this->R("\\Nowhere\\x.dll"));
            }),
            error_number::kPathNotFound);
}

TYPED_TEST_P(FileSystemContract, TextFilesWriteAppendAndReadLines) {
  auto& files = this->files();
  this->backend.AddFolder(this->R("\\Logs"));
  auto out = files.OpenTextFile(this->R("\\Logs\\Access.log"), IoMode::kForWriting, true);
  out->Write("first\r\n");
  out->Write("second\n");
  out->Close();
  auto more = files.OpenTextFile(this->R("\\logs\\ACCESS.LOG"), IoMode::kForAppending, false);
  more->Write("third, no line end");
  more->Close();
  EXPECT_EQ(this->backend.Content(this->R("\\Logs\\Access.log")),
            "first\r\nsecond\nthird, no line end");

  auto in = files.OpenTextFile(this->R("\\Logs\\Access.log"), IoMode::kForReading, false);
  std::vector<std::string> lines;
  while (!in->AtEndOfStream()) lines.push_back(in->ReadLine());
  EXPECT_THAT(lines, ::testing::ElementsAre("first", "second", "third, no line end"));
  EXPECT_EQ(ErrorNumberOf([&] { in->ReadLine(); }), error_number::kInputPastEnd);
  EXPECT_NE(ErrorNumberOf([&] { in->Write("x"); }), 0);
  in->Close();

  // Mode 2 empties an existing file.
  auto again = files.OpenTextFile(this->R("\\Logs\\Access.log"), IoMode::kForWriting, false);
  EXPECT_NE(ErrorNumberOf([&] { again->ReadLine(); }), 0);
  again->Close();
  EXPECT_EQ(this->backend.Content(this->R("\\Logs\\Access.log")), "");
  auto empty = files.OpenTextFile(this->R("\\Logs\\Access.log"), IoMode::kForReading, false);
  EXPECT_TRUE(empty->AtEndOfStream());
}

TYPED_TEST_P(FileSystemContract, OpenTextFileFailures) {
  auto& files = this->files();
  this->backend.AddFile(this->R("\\Logs\\locked.log"), "x", true);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.OpenTextFile(this->R("\\Logs\\none.log"), IoMode::kForReading, false);
            }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.OpenTextFile(this->R("\\Logs\\none.log"), IoMode::kForAppending, false);
            }),
            error_number::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.OpenTextFile(this->R("\\Nowhere\\x.log"), IoMode::kForWriting, true);
            }),
            error_number::kPathNotFound);
  EXPECT_EQ(
      ErrorNumberOf([&] { files.OpenTextFile(this->R("\\Logs"), IoMode::kForReading, false); }),
      error_number::kPermissionDenied);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.OpenTextFile(this->R("\\Logs\\locked.log"), IoMode::kForWriting, true);
            }),
            error_number::kPermissionDenied);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.OpenTextFile(this->R("\\Logs\\locked.log"), IoMode::kForAppending, true);
            }),
            error_number::kPermissionDenied);
  EXPECT_EQ(this->backend.Content(this->R("\\Logs\\locked.log")), "x");
  EXPECT_FALSE(files.FileExists(this->R("\\Logs\\none.log")));
  // Reading a read-only file is fine.
  EXPECT_EQ(
      files.OpenTextFile(this->R("\\Logs\\locked.log"), IoMode::kForReading, false)->ReadLine(),
      "x");
}

TYPED_TEST_P(FileSystemContract, GetFolderIsASnapshotWithStoredNamesAndFullPaths) {
  auto& files = this->files();
  this->backend.AddFile(this->R("\\Product\\b.txt"), "");
  this->backend.AddFile(this->R("\\Product\\A.txt"), "");
  this->backend.AddFolder(this->R("\\Product\\Uninstall"));
  this->backend.AddFolder(this->R("\\Product\\logs"));
  const Folder folder = files.GetFolder(this->R("\\PRODUCT"));
  EXPECT_EQ(folder.path, this->R("\\Product"));
  EXPECT_THAT(ContractNames(folder.files), ::testing::ElementsAre("A.txt", "b.txt"));
  EXPECT_THAT(ContractPaths(folder.files),
              ::testing::ElementsAre(this->R("\\Product\\A.txt"), this->R("\\Product\\b.txt")));
  EXPECT_THAT(ContractNames(folder.sub_folders), ::testing::ElementsAre("logs", "Uninstall"));

  // Entries work as paths, and the snapshot does not change under a loop.
  for (const auto& entry : folder.files) files.DeleteFile(entry.path, true);
  for (const auto& entry : folder.sub_folders) files.DeleteFolder(entry.path, true);
  EXPECT_THAT(files.GetFolder(this->R("\\Product")).files, ::testing::IsEmpty());
  EXPECT_THAT(files.GetFolder(this->R("\\Product")).sub_folders, ::testing::IsEmpty());
  EXPECT_EQ(ErrorNumberOf([&] { files.GetFolder(this->R("\\Gone")); }),
            error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.GetFolder(this->R("\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"));
            }),
            error_number::kPathNotFound);
}

TYPED_TEST_P(FileSystemContract, RelativePathsStartAtTheCurrentFolder) {
  auto& files = this->files();
  this->backend.AddFolder(this->R("\\Out"));
  this->backend.EnterFolder(this->R("\\Media"));
  EXPECT_TRUE(files.FolderExists("Program Files\\Harlwick"));
  files.CopyFile("Program Files\\Harlwick\\Zentrel\\Zentrel.ini", this->R("\\Out\\"), true);
  EXPECT_EQ(this->backend.Content(this->R("\\Out\\Zentrel.ini")), "new settings");
  files.CopyFolder("program files\\harlwick", this->R("\\Out\\"), true);
  EXPECT_EQ(this->backend.Content(this->R("\\Out\\Harlwick\\Zentrel\\Zentrel.exe")), "checker");
  EXPECT_TRUE(files.FolderExists(this->DriveRelative("\\Out\\Harlwick")));
}

// Letter case in names: ASCII letters are folded everywhere; the code
// page's accented letters are folded by Windows and matched only in the case
// given by the portable machine and the fake (which fold ASCII letters
// alone, as the machine's database columns compare). Either way a name keeps
// the spelling it was stored with.
TYPED_TEST_P(FileSystemContract, AccentedLettersMatchAsTheHostFoldsThem) {
  auto& files = this->files();
  const bool folds = TypeParam::kFoldsCodePageLetters;
  struct Case {
    std::string stored;
    std::string asked;
    bool found_where_folded;
    bool found_where_ascii_only;
  };
  const Case cases[] = {
      {"Caf\xe9 cr\xe8me.txt", "CAF\xc9 CR\xc8ME.TXT", true, false},  // é è
      {"Caf\xe9 cr\xe8me.txt", "CAF\xe9 CR\xe8ME.TXT", true, true},   // ASCII letters alone
      {"\xc4rger \xd6l.txt", "\xe4rger \xf6l.txt", true, false},      // Ä Ö
      {"\x9a\x9c\x9e\xff.txt", "\x8a\x8c\x8e\x9f.txt", true, false},  // š œ ž ÿ
      {"\xfeorn.txt", "\xdeORN.TXT", true, false},                    // þ
      {"x\xd7y.txt", "X\xf7Y.TXT", false, false},                     // × and ÷ are no pair
  };
  const std::string folder = this->R("\\Accents");
  for (const Case& c : cases) this->backend.AddFile(folder + "\\" + c.stored, c.stored);
  for (const Case& c : cases) {
    const bool found = folds ? c.found_where_folded : c.found_where_ascii_only;
    const std::string asked = this->R("\\ACCENTS") + "\\" + c.asked;
    EXPECT_EQ(files.FileExists(asked), found) << c.asked;
    if (!found) {
      EXPECT_EQ(ErrorNumberOf([&] { files.OpenTextFile(asked, IoMode::kForReading, false); }),
                error_number::kFileNotFound)
          << c.asked;
      continue;
    }
    EXPECT_EQ(files.OpenTextFile(asked, IoMode::kForReading, false)->ReadLine(), c.stored);
    files.CopyFile(asked, this->R("\\Program Files\\"), true);
    EXPECT_EQ(this->backend.Content(this->R("\\Program Files\\") + c.stored), c.stored);
  }
  std::vector<std::string> stored;
  for (const Case& c : cases) {
    if (std::find(stored.begin(), stored.end(), c.stored) == stored.end())
      stored.push_back(c.stored);
  }
  EXPECT_THAT(ContractNames(files.GetFolder(this->R("\\ACCENTS")).files),
              ::testing::UnorderedElementsAreArray(stored));
}

// The machine's boundary: a path element holding a character that Windows
// forbids in file names names no file, whichever operation meets it.
TYPED_TEST_P(FileSystemContract, ElementsWithCharactersWindowsForbidsNameNoFile) {
  auto& files = this->files();
  const std::string folder = this->R("\\Media\\Program Files\\Harlwick\\Zentrel");
  const std::string file = folder + "\\Zentrel.ini";
  const std::vector<std::string> names = {
      this->R("\\Media\\x_|_y\\Zentrel.ini"),
      this->R("\\Media\\a<b"),
      this->R("\\Media\\a>b"),
      this->R("\\Media\\a:b"),
      this->R("\\Media\\a\"b"),
      this->R("\\Media\\a?b"),
      this->R("\\Media\\a*b"),
      this->R("\\Media\\new\nline"),
      this->R("\\Media\\tab\tbed"),
      this->R("\\Media\\\x01"
              "one"),
      this->R("\\Media\\\x1F"),
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
        [&] { files.CopyFile(name, this->R("\\Media\\"), true); },
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
  EXPECT_THAT(ContractNames(files.GetFolder(this->R("\\Media")).sub_folders),
              ::testing::ElementsAre("Program Files"));
  EXPECT_THAT(ContractNames(files.GetFolder(this->R("\\Media")).files), ::testing::IsEmpty());
  EXPECT_EQ(this->backend.Content(file), "new settings");
}

// A path through a link that leads out of the machine is a path that does
// not exist: every operation fails as on a missing path, and nothing outside
// is read, written or deleted. A backend without links plants nothing and
// has nothing outside.
TYPED_TEST_P(FileSystemContract, PathsThroughALinkLeavingTheMachineDoNotExist) {
  auto& files = this->files();
  this->backend.PlantLinkLeavingTheMachine(this->R("\\Program Files\\Harlwick"));
  const std::map<std::string, std::string> outside = this->backend.Outside();
  const std::string product = this->R("\\Program Files\\Harlwick\\Zentrel");
  const std::string media = this->R("\\Media\\Program Files\\Harlwick\\Zentrel");

  EXPECT_FALSE(files.FolderExists(this->R("\\Program Files\\Harlwick")));
  EXPECT_FALSE(files.FolderExists(product + "\\Logs"));
  EXPECT_FALSE(files.FileExists(product + "\\Zentrel.ini"));
  EXPECT_THAT(ContractNames(files.GetFolder(this->R("\\Program Files")).sub_folders),
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
      {"copy out",
       [&] { files.CopyFile(product + "\\Zentrel.ini", this->R("\\Program Files\\"), true); },
       error_number::kFileNotFound},
      {"copy in", [&] { files.CopyFile(media + "\\Zentrel.ini", product + "\\", true); },
       error_number::kPathNotFound},
      {"copy folder in",
       [&] { files.CopyFolder(media, this->R("\\Program Files\\Harlwick\\"), true); },
       error_number::kPathNotFound},
      {"move out",
       [&] { files.MoveFile(product + "\\Zentrel.ini", this->R("\\Program Files\\x.ini")); },
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
                            AccentedLettersMatchAsTheHostFoldsThem,
                            PathsThroughALinkLeavingTheMachineDoNotExist);

}  // namespace quillon::testing

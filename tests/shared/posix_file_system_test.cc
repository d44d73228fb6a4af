// The file-system contract, run against the in-memory fake and the portable
// machine's backend alike, then what only the real backend can show:
// permission bits, bytes on disk, links, concurrent appends, system errors.
#include "shared/posix/posix_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#include "fakes/fake_host.h"
#include "shared/host_error.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

template <typename T>
long ErrorNumberOf(T&& operation) {
  try {
    operation();
  } catch (const HostError& error) {
    return error.number();
  }
  return 0;
}

std::vector<std::string> Names(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

std::vector<std::string> Paths(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> paths;
  for (const auto& entry : entries) paths.push_back(entry.path);
  return paths;
}

// Every entry below a POSIX folder with the bytes of its files, links not
// followed; empty when the folder is missing.
std::map<std::string, std::string> PosixTree(const std::string& folder) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string relative = fs::relative(it->path(), folder).string();
    tree[relative] = it->is_regular_file() ? ReadPosixFile(it->path().string()) : "/";
  }
  return tree;
}

// The in-memory fake, set up through its own test interface.
class FakeFilesBackend {
 public:
  HostFileSystem& files() { return files_; }
  void AddFolder(const std::string& path) { files_.AddFolder(path); }
  void AddFile(const std::string& path, const std::string& content, bool read_only = false) {
    files_.AddFile(path, content, read_only);
  }
  std::optional<std::string> Content(const std::string& path) const { return files_.Content(path); }
  void EnterFolder(const std::string& path) { files_.SetCurrentFolder(path); }
  // The fake holds no links: a path that leaves the machine is one it does
  // not have, and nothing lies outside.
  void PlantLinkLeavingTheMachine(const std::string&) {}
  std::map<std::string, std::string> Outside() const { return {}; }

 private:
  Journal journal_;
  FaultSwitches faults_;
  FakeFileSystem files_{journal_, faults_};
};

// The portable machine's backend, set up directly on the disk. A read-only
// file has no write bits.
class PosixFilesBackend {
 public:
  HostFileSystem& files() { return files_; }
  void AddFolder(const std::string& path) { MakePosixFolders(machine_.Map(path)->posix); }
  void AddFile(const std::string& path, const std::string& content, bool read_only = false) {
    WritePosixFile(machine_.Map(path)->posix, content, read_only ? 0444 : 0644);
  }
  std::optional<std::string> Content(const std::string& path) const {
    std::optional<MappedPath> mapped = machine_.Map(path);
    struct stat info {};
    if (!mapped || stat(mapped->posix.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return std::nullopt;
    }
    return ReadPosixFile(mapped->posix);
  }
  void EnterFolder(const std::string& path) { current_.emplace(machine_.Map(path)->posix); }
  // Makes the path a link to a folder beside the machine that holds a
  // product tree of its own.
  void PlantLinkLeavingTheMachine(const std::string& path) {
    const std::string outside = scratch_.Scratch("outside");
    WritePosixFile(outside + "/Zentrel/Zentrel.ini", "outside settings");
    WritePosixFile(outside + "/Zentrel/Logs/Access.log", "outside line\r\n");
    WritePosixFile(outside + "/Zentrel/Uninstall/Scripts/script.vbs", "outside script");
    ASSERT_EQ(symlink(outside.c_str(), machine_.Map(path)->posix.c_str()), 0);
  }
  std::map<std::string, std::string> Outside() const {
    return PosixTree(scratch_.Scratch("outside"));
  }

 private:
  TestMachine scratch_{MachineTree::kDrives};
  PortableMachine machine_{scratch_.root(), "Test"};
  PosixFileSystem files_{machine_};
  std::optional<ScopedCurrentDirectory> current_;
};

template <typename Backend>
class FileSystemContractTest : public ::testing::Test {
 protected:
  FileSystemContractTest() {
    backend.AddFolder("C:\\");
    backend.AddFolder("C:\\Program Files");
    backend.AddFile("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe", "checker");
    backend.AddFile("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.ini", "new settings");
    backend.AddFile("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Logs\\Access.log", "");
  }

  HostFileSystem& files() { return backend.files(); }
  Backend backend;
};

using Backends = ::testing::Types<FakeFilesBackend, PosixFilesBackend>;
class BackendNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, FakeFilesBackend> ? "Fake" : "Posix";
  }
};
TYPED_TEST_SUITE(FileSystemContractTest, Backends, BackendNames);

TYPED_TEST(FileSystemContractTest, ExistenceTellsFilesFromFoldersWithoutRegardToCase) {
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

TYPED_TEST(FileSystemContractTest, CopyFileIntoAFolderKeepsTheStoredNameAndOverwrites) {
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

TYPED_TEST(FileSystemContractTest, CopyFileFailures) {
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

TYPED_TEST(FileSystemContractTest, CopyFolderIntoAFolderMergesAndOverwrites) {
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

TYPED_TEST(FileSystemContractTest, CopyFolderFailures) {
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

TYPED_TEST(FileSystemContractTest, DeleteFileHonoursReadOnlyUnlessForced) {
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

TYPED_TEST(FileSystemContractTest, DeleteFolderTakesAllItHolds) {
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

TYPED_TEST(FileSystemContractTest, MoveFileNeverReplaces) {
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

TYPED_TEST(FileSystemContractTest, TextFilesWriteAppendAndReadLines) {
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
  EXPECT_THAT(lines, ElementsAre("first", "second", "third, no line end"));
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

TYPED_TEST(FileSystemContractTest, OpenTextFileFailures) {
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

// The machine's boundary: a path element holding a character that Windows
// forbids in file names names no file, whichever operation meets it.
TYPED_TEST(FileSystemContractTest, ElementsWithCharactersWindowsForbidsNameNoFile) {
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
  EXPECT_THAT(Names(files.GetFolder("C:\\Media").sub_folders), ElementsAre("Program Files"));
  EXPECT_THAT(Names(files.GetFolder("C:\\Media").files), IsEmpty());
  EXPECT_EQ(this->backend.Content(file), "new settings");
}

TYPED_TEST(FileSystemContractTest, GetFolderIsASnapshotWithStoredNamesAndFullPaths) {
  auto& files = this->files();
  this->backend.AddFile("C:\\Product\\b.txt", "");
  this->backend.AddFile("C:\\Product\\A.txt", "");
  this->backend.AddFolder("C:\\Product\\Uninstall");
  this->backend.AddFolder("C:\\Product\\logs");
  const Folder folder = files.GetFolder("c:\\PRODUCT");
  EXPECT_EQ(folder.path, "C:\\Product");
  EXPECT_THAT(Names(folder.files), ElementsAre("A.txt", "b.txt"));
  EXPECT_THAT(Paths(folder.files), ElementsAre("C:\\Product\\A.txt", "C:\\Product\\b.txt"));
  EXPECT_THAT(Names(folder.sub_folders), ElementsAre("logs", "Uninstall"));

  // Entries work as paths, and the snapshot does not change under a loop.
  for (const auto& entry : folder.files) files.DeleteFile(entry.path, true);
  for (const auto& entry : folder.sub_folders) files.DeleteFolder(entry.path, true);
  EXPECT_THAT(files.GetFolder("C:\\Product").files, IsEmpty());
  EXPECT_THAT(files.GetFolder("C:\\Product").sub_folders, IsEmpty());
  EXPECT_EQ(ErrorNumberOf([&] { files.GetFolder("C:\\Gone"); }), error_number::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] {
              files.GetFolder("C:\\Media\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe");
            }),
            error_number::kPathNotFound);
}

TYPED_TEST(FileSystemContractTest, RelativePathsStartAtTheCurrentFolder) {
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

// A path through a link that leads out of the machine is a path that does
// not exist: every operation fails as on a missing path, and nothing outside
// is read, written or deleted.
TYPED_TEST(FileSystemContractTest, PathsThroughALinkLeavingTheMachineDoNotExist) {
  auto& files = this->files();
  this->backend.PlantLinkLeavingTheMachine("C:\\Program Files\\Harlwick");
  const std::map<std::string, std::string> outside = this->backend.Outside();
  const std::string product = "C:\\Program Files\\Harlwick\\Zentrel";
  const std::string media = "C:\\Media\\Program Files\\Harlwick\\Zentrel";

  EXPECT_FALSE(files.FolderExists("C:\\Program Files\\Harlwick"));
  EXPECT_FALSE(files.FolderExists(product + "\\Logs"));
  EXPECT_FALSE(files.FileExists(product + "\\Zentrel.ini"));
  EXPECT_THAT(Names(files.GetFolder("C:\\Program Files").sub_folders), IsEmpty());
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

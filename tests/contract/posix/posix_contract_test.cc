// The portable machine's backends under the host contract, each on a
// scratch machine of its own.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "contract/database_contract.h"
#include "contract/file_system_contract.h"
#include "contract/platform_contract.h"
#include "contract/registry_contract.h"
#include "contract/run_contract.h"
#include "shared/backend/registry_path.h"
#include "shared/posix/posix_file_system.h"
#include "shared/posix/posix_platform.h"
#include "shared/posix/posix_shell.h"
#include "shared/posix/registry_file.h"
#include "shared/posix/sqlite_database.h"
#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

// The portable machine's backend, set up directly on the disk. A read-only
// file has no write bits.
class PosixFilesBackend {
 public:
  // Folds the case of ASCII letters alone, as the portable machine does.
  static constexpr bool kFoldsCodePageLetters = false;
  HostFileSystem& files() { return files_; }
  std::string Root() const { return "C:"; }
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
  // Every entry below the outside folder with the bytes of its files, links
  // not followed.
  std::map<std::string, std::string> Outside() const {
    namespace fs = std::filesystem;
    const std::string folder = scratch_.Scratch("outside");
    std::map<std::string, std::string> tree;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
      const std::string relative = fs::relative(it->path(), folder).string();
      tree[relative] = it->is_regular_file() ? ReadPosixFile(it->path().string()) : "/";
    }
    return tree;
  }

 private:
  TestMachine scratch_{MachineTree::kDrives};
  PortableMachine machine_{scratch_.root(), "Test"};
  PosixFileSystem files_{machine_};
  std::optional<ScopedCurrentDirectory> current_;
};

// The registry file of a scratch machine.
class PosixRegistryBackend {
 public:
  HostShell& shell() { return shell_; }
  bool KeyExists(const std::string& key) const {
    std::optional<RegistryPath> path = ParseRegistryPath(key + "\\");
    return path &&
           RegistryFile(machine_.RegistryFilePath()).Load().FindKey(path->FullKey()) != nullptr;
  }

 private:
  TestMachine scratch_{MachineTree::kDrives};
  PortableMachine machine_{scratch_.root(), "Test"};
  PosixShell shell_{machine_};
};

// The process environment, as the portable machine's programs read it.
class PosixEnvironmentBackend {
 public:
  PosixEnvironmentBackend() = default;
  PosixEnvironmentBackend(const PosixEnvironmentBackend&) = delete;
  PosixEnvironmentBackend& operator=(const PosixEnvironmentBackend&) = delete;
  ~PosixEnvironmentBackend() {
    for (const std::string& name : set_) unsetenv(name.c_str());
  }
  EnvironmentReader& reader() { return reader_; }
  HostShell& shell() { return shell_; }
  void Set(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
    set_.insert(name);
  }

 private:
  std::set<std::string> set_;
  TestMachine scratch_{MachineTree::kDrives};
  PortableMachine machine_{scratch_.root(), "Test"};
  PosixShell shell_{machine_};
  PosixEnvironmentReader reader_;
};

// The directory search over a scratch machine's drive C:.
class PosixSearchBackend {
 public:
  // Folds the case of ASCII letters alone, as the portable machine does.
  static constexpr bool kFoldsCodePageLetters = false;
  PosixSearchBackend() { AddFolder(Root()); }
  DirectorySearch& search() { return search_; }
  std::string Root() const { return "C:\\Scratch"; }
  void AddFolder(const std::string& path) { MakePosixFolders(machine_.Map(path)->posix); }
  void AddFile(const std::string& path) { WritePosixFile(machine_.Map(path)->posix, ""); }
  std::string ShortAlias(const std::string& path) {
    const auto [parent, name] = SplitLastElement(path);
    const std::vector<std::string> names = *ListFolder(machine_.Map(parent)->posix);
    const std::vector<std::string> aliases = ShortAliases(names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return aliases[i];
    }
    return "";
  }
  void EnterFolder(const std::string& path) { current_.emplace(machine_.Map(path)->posix); }

 private:
  TestMachine scratch_{MachineTree::kDrives};
  PortableMachine machine_{scratch_.root(), "Test"};
  PosixDirectorySearch search_{machine_};
  std::optional<ScopedCurrentDirectory> current_;
};

// A catalog of the machine's database server, made from the install schema.
class SqliteDatabaseBackend {
 public:
  SqliteDatabaseBackend() { CreateZentrelDatabase(folder_.path()); }
  std::unique_ptr<Connection> NewConnection() { return database_.NewConnection(); }
  std::unique_ptr<Connection> Opened() {
    std::unique_ptr<Connection> connection = NewConnection();
    connection->Open(kZentrelConnectionString);
    return connection;
  }
  void OpenMissing() {
    database_.NewConnection()->Open("Provider=SQLOLEDB;Initial Catalog=Absent;");
  }

 private:
  DatabaseTestFolder folder_;
  SqliteDatabase database_{folder_.databases()};
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(PosixFiles, FileSystemContract, PosixFilesBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(PosixRegistry, RegistryContract, PosixRegistryBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, EnvironmentContract, PosixEnvironmentBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, DirectorySearchContract, PosixSearchBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Sqlite, DatabaseContract, SqliteDatabaseBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, RunContract, PosixEnvironmentBackend);

}  // namespace quillon::testing

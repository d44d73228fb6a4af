// The Win32 backends under the host contract, against the real registry,
// environment, file system and ODBC.
#include <map>
#include <optional>
#include <set>

#include "contract/database_contract.h"
#include "contract/file_system_contract.h"
#include "contract/platform_contract.h"
#include "contract/registry_contract.h"
#include "contract/run_contract.h"
#include "shared/win32/odbc_database.h"
#include "shared/win32/win32_file_system.h"
#include "shared/win32/win32_platform.h"
#include "shared/win32/win32_shell.h"
#include "support/windows_test_support.h"

namespace quillon::testing {
namespace {

// The real registry; the contract's two scratch keys are removed before and
// after each test.
class Win32RegistryBackend {
 public:
  Win32RegistryBackend() { Clean(); }
  Win32RegistryBackend(const Win32RegistryBackend&) = delete;
  Win32RegistryBackend& operator=(const Win32RegistryBackend&) = delete;
  ~Win32RegistryBackend() { Clean(); }

  HostShell& shell() { return shell_; }
  bool KeyExists(const std::string& key) const { return RegistryKeyExists(key); }

 private:
  static void Clean() {
    DeleteRegistryTree(kContractMachineKey);
    DeleteRegistryTree(kContractUserKey);
  }

  Win32Shell shell_;
};

// The real file system, in a scratch folder that stands for C:; the current
// folder is put back. A read-only file carries the read-only attribute.
class Win32FilesBackend {
 public:
  // Windows folds the case of the code page's accented letters too.
  static constexpr bool kFoldsCodePageLetters = true;
  Win32FilesBackend() {
    char current[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(sizeof current, current);
    old_current_ = current;
  }
  Win32FilesBackend(const Win32FilesBackend&) = delete;
  Win32FilesBackend& operator=(const Win32FilesBackend&) = delete;
  ~Win32FilesBackend() { SetCurrentDirectoryA(old_current_.c_str()); }

  HostFileSystem& files() { return files_; }
  std::string Root() const { return scratch_.path(); }
  void AddFolder(const std::string& path) { MakeFolders(path); }
  void AddFile(const std::string& path, const std::string& content, bool read_only = false) {
    WriteBytes(path, content);
    if (read_only) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  }
  std::optional<std::string> Content(const std::string& path) const {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return std::nullopt;
    }
    return ReadBytes(path);
  }
  void EnterFolder(const std::string& path) { SetCurrentDirectoryA(path.c_str()); }
  // Windows keeps no machine apart from the rest of the disk: nothing is
  // planted, and nothing lies outside.
  void PlantLinkLeavingTheMachine(const std::string&) {}
  std::map<std::string, std::string> Outside() const { return {}; }

 private:
  std::string old_current_;
  ScratchFolder scratch_;
  Win32FileSystem files_;
};

// The process's environment block.
class Win32EnvironmentBackend {
 public:
  Win32EnvironmentBackend() = default;
  Win32EnvironmentBackend(const Win32EnvironmentBackend&) = delete;
  Win32EnvironmentBackend& operator=(const Win32EnvironmentBackend&) = delete;
  ~Win32EnvironmentBackend() {
    for (const std::string& name : set_) SetEnvironmentVariableA(name.c_str(), nullptr);
  }
  EnvironmentReader& reader() { return reader_; }
  HostShell& shell() { return shell_; }
  void Set(const std::string& name, const std::string& value) {
    SetEnvironmentVariableA(name.c_str(), value.c_str());
    set_.insert(name);
  }

 private:
  std::set<std::string> set_;
  Win32EnvironmentReader reader_;
  Win32Shell shell_;
};

// The real file system, in a scratch folder; the current folder is put back.
class Win32SearchBackend {
 public:
  // Windows folds the case of the code page's accented letters too.
  static constexpr bool kFoldsCodePageLetters = true;
  Win32SearchBackend() {
    char current[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(sizeof current, current);
    old_current_ = current;
  }
  Win32SearchBackend(const Win32SearchBackend&) = delete;
  Win32SearchBackend& operator=(const Win32SearchBackend&) = delete;
  ~Win32SearchBackend() { SetCurrentDirectoryA(old_current_.c_str()); }

  DirectorySearch& search() { return search_; }
  std::string Root() const { return scratch_.path(); }
  void AddFolder(const std::string& path) { MakeFolders(path); }
  void AddFile(const std::string& path) { WriteBytes(path, ""); }
  std::string ShortAlias(const std::string& path) {
    char short_path[MAX_PATH + 1] = {};
    if (GetShortPathNameA(path.c_str(), short_path, sizeof short_path) == 0) return "";
    const std::string text = short_path;
    return text.substr(text.rfind('\\') + 1);
  }
  void EnterFolder(const std::string& path) { SetCurrentDirectoryA(path.c_str()); }

 private:
  std::string old_current_;
  ScratchFolder scratch_;
  Win32DirectorySearch search_;
};

// ODBC with SQLite's driver, reached through the machine-wide connection
// string the programs honour; the value is put back afterwards.
class OdbcDatabaseBackend {
 public:
  OdbcDatabaseBackend() {
    Win32Shell().RegWrite(kConnectionStringValue, SqliteConnectionString(name_), "REG_SZ");
    std::unique_ptr<Connection> connection = Opened();
    for (const std::string& statement : ZentrelTableStatements()) connection->Execute(statement);
  }
  std::unique_ptr<Connection> NewConnection() { return database_.NewConnection(); }
  std::unique_ptr<Connection> Opened() {
    std::unique_ptr<Connection> connection = NewConnection();
    connection->Open(kZentrelConnectionString);
    return connection;
  }
  void OpenMissing() {
    Win32Shell().RegWrite(kConnectionStringValue,
                          SqliteConnectionString(UniqueName("absent"), false), "REG_SZ");
    Opened();
  }

 private:
  SavedRegistryValue saved_{kConnectionStringValue};
  std::string name_ = UniqueName("contract");
  OdbcDatabase database_;
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Win32Files, FileSystemContract, Win32FilesBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32Registry, RegistryContract, Win32RegistryBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, EnvironmentContract, Win32EnvironmentBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, DirectorySearchContract, Win32SearchBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Odbc, DatabaseContract, OdbcDatabaseBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, RunContract, Win32EnvironmentBackend);

}  // namespace quillon::testing

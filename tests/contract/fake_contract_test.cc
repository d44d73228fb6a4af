// The recording fakes under the host contract, so that unit tests that
// stand on them stand on what the real hosts do.
#include <map>

#include "contract/file_system_contract.h"
#include "contract/platform_contract.h"
#include "contract/registry_contract.h"
#include "contract/run_contract.h"
#include "fakes/fake_host.h"

namespace quillon::testing {
namespace {

// The in-memory fake, set up through its own test interface.
class FakeFilesBackend {
 public:
  // Folds the case of ASCII letters alone, as the portable machine does.
  static constexpr bool kFoldsCodePageLetters = false;
  HostFileSystem& files() { return files_; }
  std::string Root() const { return "C:"; }
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

// The fake shell; its registry starts empty for every test.
class FakeRegistryBackend {
 public:
  HostShell& shell() { return shell_; }
  bool KeyExists(const std::string& key) const { return shell_.KeyExists(key); }

 private:
  Journal journal_;
  FaultSwitches faults_;
  FakeEnvironment environment_;
  FakeShell shell_{journal_, faults_, environment_};
};

// The fake environment as the reader and the shell see it.
class FakeEnvironmentBackend {
 public:
  EnvironmentReader& reader() { return environment_; }
  HostShell& shell() { return shell_; }
  void Set(const std::string& name, const std::string& value) { environment_.Set(name, value); }

 private:
  Journal journal_;
  FaultSwitches faults_;
  FakeEnvironment environment_;
  FakeShell shell_{journal_, faults_, environment_};
};

// The fake's directory search over its file system; short aliases are the
// ones a test gives it.
class FakeSearchBackend {
 public:
  // Folds the case of ASCII letters alone, as the portable machine does.
  static constexpr bool kFoldsCodePageLetters = false;
  FakeSearchBackend() { files_.AddFolder(Root()); }
  DirectorySearch& search() { return search_; }
  std::string Root() const { return "C:\\Scratch"; }
  void AddFolder(const std::string& path) { files_.AddFolder(path); }
  void AddFile(const std::string& path) { files_.AddFile(path); }
  std::string ShortAlias(const std::string& path) {
    files_.AddShortName(path, "PROGRA~1");
    return "PROGRA~1";
  }
  void EnterFolder(const std::string& path) { files_.SetCurrentFolder(path); }

 private:
  Journal journal_;
  FaultSwitches faults_;
  FakeFileSystem files_{journal_, faults_};
  FakeDirectorySearch search_{files_};
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(FakeFiles, FileSystemContract, FakeFilesBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(FakeRegistry, RegistryContract, FakeRegistryBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, EnvironmentContract, FakeEnvironmentBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, DirectorySearchContract, FakeSearchBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, RunContract, FakeEnvironmentBackend);

}  // namespace quillon::testing

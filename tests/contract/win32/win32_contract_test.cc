// The Win32 backends under the host contract, against the real registry.
#include "contract/registry_contract.h"
#include "shared/win32/win32_host.h"
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

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Win32Registry, RegistryContract, Win32RegistryBackend);

}  // namespace quillon::testing

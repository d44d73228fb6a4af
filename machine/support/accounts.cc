#include "support/accounts.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "shared/helpers/text.h"
#include "shared/host_error.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw HostError(error_number::kPermissionDenied, what + ": " + std::strerror(errno));
}

void Initialize() {
  if (sodium_init() < 0) throw HostError(error_number::kPermissionDenied, "libsodium cannot start");
}

std::string Hash(const std::string& password) {
  Initialize();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    throw HostError(error_number::kUnspecified, "Cannot hash the password (out of memory)");
  }
  return hash;
}

void WriteAtomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) Fail("Cannot write " + temporary);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      Fail("Cannot write " + temporary);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) Fail("Cannot write " + temporary);
  if (::rename(temporary.c_str(), path.c_str()) != 0) Fail("Cannot replace " + path);
}

}  // namespace

void SetAccount(const std::string& machine_root, const std::string& name, const std::string& group,
                const std::string& password) {
  if (password.empty()) throw UsageError("an account's password cannot be empty");
  const MachineAccount changed{name, group, Hash(password)};

  const std::string lock_path = machine_root + "/" + kAccountsFileName + ".lock";
  const int lock = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock < 0) Fail("Cannot lock " + lock_path);
  ::flock(lock, LOCK_EX);
  std::string text;
  bool replaced = false;
  for (const MachineAccount& account : ReadMachineAccounts(machine_root)) {
    const bool same = EqualsIgnoringAsciiCase(account.name, name);
    text += AccountLine(same ? changed : account) + "\n";
    replaced = replaced || same;
  }
  if (!replaced) text += AccountLine(changed) + "\n";
  try {
    WriteAtomically(machine_root + "/" + kAccountsFileName, text);
  } catch (...) {
    ::close(lock);
    throw;
  }
  ::close(lock);
}

bool CheckPassword(const std::string& machine_root, const std::string& name,
                   const std::string& password) {
  const std::optional<MachineAccount> account = FindMachineAccount(machine_root, name);
  if (!account || account->password_hash.empty()) return false;
  Initialize();
  return crypto_pwhash_str_verify(account->password_hash.c_str(), password.data(),
                                  password.size()) == 0;
}

}  // namespace quillon::machine

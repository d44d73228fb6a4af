// Writing the machine's accounts file (shared/posix/machine_accounts.h) and
// checking a password against it. Passwords are kept only as salted
// Argon2id hashes made by libsodium's crypto_pwhash_str (its interactive
// limits); the password itself is never written anywhere.
#pragma once

#include <string>

#include "shared/posix/machine_accounts.h"

namespace quillon::machine {

// Adds the account or replaces its group and password. group is
// kAdministratorsGroup or kUsersGroup. The file is replaced atomically under
// an exclusive lock. Throws HostError when it cannot be written or hashing
// fails, UsageError for an empty password.
void SetAccount(const std::string& machine_root, const std::string& name, const std::string& group,
                const std::string& password);

// True when the account exists, has a password and password matches it.
bool CheckPassword(const std::string& machine_root, const std::string& name,
                   const std::string& password);

}  // namespace quillon::machine

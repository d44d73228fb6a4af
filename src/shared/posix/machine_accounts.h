// The portable machine's user accounts, as the web server logs them on and
// as a program asks whether its user is an administrator. They live in the
// file "accounts" at the machine root, one account a line:
//
//   NAME <TAB> GROUP <TAB> PASSWORD-HASH
//
// GROUP is "Administrators" or "Users"; PASSWORD-HASH is the text form of a
// salted Argon2id hash (libsodium's crypto_pwhash_str, "$argon2id$...") or
// empty for an account without a password, which cannot log on over the
// network. Names match without regard to ASCII letter case. quillon-machine
// writes the file (machine/support/accounts.h); nothing else does.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon {

inline constexpr char kAccountsFileName[] = "accounts";
inline constexpr char kAdministratorsGroup[] = "Administrators";
inline constexpr char kUsersGroup[] = "Users";
// The built-in account that every machine has, always an administrator.
inline constexpr char kBuiltInAdministrator[] = "Administrator";

struct MachineAccount {
  std::string name;
  std::string group;
  std::string password_hash;
};

// Every well-formed line of the machine's accounts file; none when it is
// missing. A line that is not three fields is skipped. The file must be a
// regular file; anything else reads as no accounts.
std::vector<MachineAccount> ReadMachineAccounts(const std::string& machine_root);

std::optional<MachineAccount> FindMachineAccount(const std::string& machine_root,
                                                 const std::string& name);

// True for the built-in Administrator and every account of the group
// Administrators.
bool IsMachineAdministrator(const std::string& machine_root, const std::string& name);

// The line an account is stored as (no line end).
std::string AccountLine(const MachineAccount& account);

}  // namespace quillon

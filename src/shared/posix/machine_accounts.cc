#include "shared/posix/machine_accounts.h"

#include <fcntl.h>
#include <unistd.h>

#include "shared/helpers/text.h"
#include "shared/posix/descriptor.h"

namespace quillon {

std::vector<MachineAccount> ReadMachineAccounts(const std::string& machine_root) {
  std::vector<MachineAccount> accounts;
  const std::string path = machine_root + "/" + kAccountsFileName;
  const int fd = OpenRegularFile(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return accounts;
  std::string text;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  for (std::string& line : SplitAll(text, "\n")) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = SplitAll(line, "\t");
    if (fields.size() != 3 || fields[0].empty()) continue;
    accounts.push_back({fields[0], fields[1], fields[2]});
  }
  return accounts;
}

std::optional<MachineAccount> FindMachineAccount(const std::string& machine_root,
                                                 const std::string& name) {
  for (MachineAccount& account : ReadMachineAccounts(machine_root)) {
    if (EqualsIgnoringAsciiCase(account.name, name)) return account;
  }
  return std::nullopt;
}

bool IsMachineAdministrator(const std::string& machine_root, const std::string& name) {
  if (EqualsIgnoringAsciiCase(name, kBuiltInAdministrator)) return true;
  const std::optional<MachineAccount> account = FindMachineAccount(machine_root, name);
  return account && EqualsIgnoringAsciiCase(account->group, kAdministratorsGroup);
}

std::string AccountLine(const MachineAccount& account) {
  return account.name + "\t" + account.group + "\t" + account.password_hash;
}

}  // namespace quillon

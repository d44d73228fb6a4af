// The Windows shell: the real registry, environment, processes started by
// command line and the user's folders and profiles. This header does not
// include the Windows headers.
#pragma once

#include <string>
#include <vector>

#include "shared/host_shell.h"

namespace quillon {

class Win32Shell : public HostShell {
 public:
  std::string Environment(const std::string& name) override;
  std::string RegRead(const std::string& path) override;
  void RegWrite(const std::string& path, const std::string& data, const std::string& type) override;
  void RegDelete(const std::string& path) override;
  // CreateProcessA with the window style as the start-up show state.
  void Run(const std::string& command, int style, bool wait) override;
  // The current user's folders ("StartMenu", "Programs", "Desktop", ...); ""
  // for a name the shell does not know.
  std::string SpecialFolders(const std::string& name) override;
  // The registry's profile list: each profile's SID turned into its account
  // name (without the domain, as GetUserName gives it) and its folder with
  // the environment expanded. Profiles whose SID names no account (the
  // account was deleted) are left out.
  std::vector<UserProfile> UserProfiles() override;
  // GetUserNameA: the account of the process's token, whatever the
  // environment says.
  std::string UserName() override;
  // CheckTokenMembership with the Administrators group's well-known SID:
  // the thread's impersonation token, else the process's (the user IIS
  // starts a CGI program as).
  bool IsAdministrator() override;
};

}  // namespace quillon

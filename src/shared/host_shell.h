// HostShell: environment values, the registry, program start and special
// folders. Every program reaches these only through this facade.
#pragma once

#include <string>
#include <vector>

namespace quillon {

// Window styles passed to Run.
inline constexpr int kWindowHidden = 0;
inline constexpr int kWindowNormal = 1;

// One user profile of the machine.
struct UserProfile {
  std::string account;  // the account name, as a launching user's name is given
  std::string folder;   // the profile's folder, full Windows path
};

class HostShell {
 public:
  virtual ~HostShell() = default;

  // The value of a variable of the process environment, or "" when unset.
  virtual std::string Environment(const std::string& name) = 0;

  // Registry paths are "HKLM\" + key path + "\" + value name; the roots
  // are those of shared/registry_path.h.
  // Returns the data as text; a DWORD reads as its decimal digits.
  // Throws HostError when the key or the value does not exist.
  virtual std::string RegRead(const std::string& path) = 0;
  // type is "REG_SZ", "REG_EXPAND_SZ" or "REG_DWORD" in any case (data then a
  // number as ParseDwordData reads it). Creates missing
  // keys and replaces the value whole. Throws HostError when it cannot write.
  virtual void RegWrite(const std::string& path, const std::string& data,
                        const std::string& type) = 0;
  // Deletes the value and keeps its key. Throws HostError for a missing value.
  virtual void RegDelete(const std::string& path) = 0;

  // Starts a Windows command line with a window style; with wait, returns when
  // the process has ended. Throws HostError when the program cannot be started.
  virtual void Run(const std::string& command, int style, bool wait) = 0;

  // "StartMenu": the current user's Start Menu folder, no trailing backslash.
  virtual std::string SpecialFolders(const std::string& name) = 0;

  // The user profiles the machine holds, system profiles included. Throws
  // HostError when they cannot be listed.
  virtual std::vector<UserProfile> UserProfiles() = 0;

  // The account this program runs under, without the domain: the name the
  // hook library reports for this user's launches. Unlike the USERNAME
  // variable, the user cannot change it. Throws HostError when the platform
  // cannot tell it.
  virtual std::string UserName() = 0;

  // True when the account this program runs under is a member of the local
  // Administrators group. Throws HostError when the platform cannot tell.
  virtual bool IsAdministrator() = 0;
};

}  // namespace quillon

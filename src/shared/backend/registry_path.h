// What the shell's registry operations take, read the same way on every
// backend: the value path with its root, the type text and a DWORD's data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "shared/host_error.h"

namespace quillon {

// The roots the shell accepts: HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER
// (HKCU), HKEY_CLASSES_ROOT (HKCR), HKEY_USERS and HKEY_CURRENT_CONFIG, in
// any letter case. The last two have no abbreviation: HKU and HKCC are no
// roots to the scripting host and fail like any unknown root.
enum class RegistryRoot { kLocalMachine, kCurrentUser, kClassesRoot, kUsers, kCurrentConfig };

// "HKLM\" + key path + "\" + value name, split.
struct RegistryPath {
  RegistryRoot root = RegistryRoot::kLocalMachine;
  std::string key;    // below the root, may be empty
  std::string value;  // after the last backslash; "" is the key's default value

  // The root spelled out, e.g. "HKEY_LOCAL_MACHINE".
  const char* RootName() const;
  // The key with its root spelled out: "HKEY_LOCAL_MACHINE\SOFTWARE\...".
  std::string FullKey() const;
};

// nullopt for a path without a backslash or with an unknown root.
std::optional<RegistryPath> ParseRegistryPath(std::string_view path);

// As above; an unknown root fails as the shell fails it (0x80070002,
// "Invalid root in registry key "<path>".").
RegistryPath RegistryPathOrThrow(std::string_view path);

// The data types RegWrite takes, by their text in any letter case.
enum class RegistryType { kString, kExpandString, kDword };

// "REG_SZ", "REG_EXPAND_SZ" or "REG_DWORD" in any case; anything else fails
// with invalid procedure call (5).
RegistryType RegistryTypeOrThrow(std::string_view type);

// A DWORD's data as the scripting host converts a text to a whole number
// (a Long): blanks and tabs around it are ignored; decimal digits with an
// optional sign, or "&H" and up to eight hexadecimal digits (the bit
// pattern, so "&HFFFFFFFF" is -1). A negative number is stored as its
// 32-bit two's complement. Outside -2147483648..2147483647 fails with
// overflow (6), anything that is no such number with type mismatch (13).
std::uint32_t ParseDwordData(std::string_view data);

// The shell's descriptions of a failing read, write and delete of a path.
std::string RegistryReadFailure(std::string_view path);
std::string RegistryWriteFailure(std::string_view path);
std::string RegistryDeleteFailure(std::string_view path);

}  // namespace quillon

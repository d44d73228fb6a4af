// The AppInit_DLLs value: while the hook library is listed there, the platform
// loads it into every new process and each launch passes the checker. The
// installer, the hooking switch and the uninstaller all write it, always
// replacing the whole value with one of the two forms below.
#pragma once

#include <string>

#include "shared/helpers/text.h"

namespace quillon {

inline constexpr char kAppInitDllsPath[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";
inline constexpr char kAppInitDllsType[] = "REG_SZ";

// Hooking on: the hook library by its bare file name (it lies in the system
// folder). Hooking off: the empty text.
inline constexpr char kHookingEnabledForm[] = "Zentrel.dll";
inline constexpr char kHookingDisabledForm[] = "";

// Hooking counts as on when the upper-cased value names the hook library
// anywhere; everything else, the empty value included, is off.
inline bool HookingIsOn(const std::string& app_init_dlls) {
  return UpperCase(app_init_dlls).find(UpperCase(kHookingEnabledForm)) != std::string::npos;
}

}  // namespace quillon

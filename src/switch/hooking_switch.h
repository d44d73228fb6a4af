// ZentrelConfig: reports, turns on or turns off process hooking, as told by
// its one command-line switch, and answers with a message box.
#pragma once

#include <string>

#include "shared/host.h"

namespace quillon {

inline constexpr char kQuerySwitch[] = "-QUERY";
inline constexpr char kEnableSwitch[] = "-ENABLE";
inline constexpr char kDisableSwitch[] = "-DISABLE";

// The entry procedure. The whole argument text, upper-cased, must equal one
// switch exactly; anything else does nothing. Registry failures are not
// trapped: they leave as HostError for the standard error report.
void RunHookingSwitch(Host& host, const std::string& argument_text);

}  // namespace quillon

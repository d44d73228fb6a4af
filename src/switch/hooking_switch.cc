#include "switch/hooking_switch.h"

#include "shared/helpers/hooking_value.h"
#include "shared/helpers/text.h"

namespace quillon {

namespace {

constexpr char kQueryTitle[] = "Query Zentrel Configuration";
constexpr char kChangeTitle[] = "Change Zentrel Configuration";

// The switch's answer to -QUERY for the current hooking value.
std::string HookingStateMessage(bool hooking_on) {
  return hooking_on ? "Zentrel process hooking is currently turned ON."
                    : "Zentrel process hooking is currently turned OFF.";
}

}  // namespace

void RunHookingSwitch(Host& host, const std::string& argument_text) {
  // The whole text is the switch: no trimming, no splitting, so two switches
  // or a switch with a further word match nothing.
  const std::string command = UpperCase(argument_text);
  HostShell& shell = host.shell;

  // Three separate tests; the text can equal at most one switch. Each message
  // follows its registry operation, so it shows only when that went through.
  if (command == kQuerySwitch) {
    const bool hooking_on = HookingIsOn(shell.RegRead(kAppInitDllsPath));
    host.dialogs.MsgBox(HookingStateMessage(hooking_on), kMbIconInformation, kQueryTitle);
  }
  if (command == kEnableSwitch) {
    shell.RegWrite(kAppInitDllsPath, kHookingEnabledForm, kAppInitDllsType);
    host.dialogs.MsgBox("Zentrel process hooking has been enabled.", kMbIconInformation,
                        kChangeTitle);
  }
  if (command == kDisableSwitch) {
    shell.RegWrite(kAppInitDllsPath, kHookingDisabledForm, kAppInitDllsType);
    host.dialogs.MsgBox("Zentrel process hooking has been disabled.", kMbIconInformation,
                        kChangeTitle);
  }
}

}  // namespace quillon

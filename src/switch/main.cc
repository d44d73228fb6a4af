// ZentrelConfig.exe: the hooking switch (-QUERY, -ENABLE, -DISABLE).
#include "shared/program_main.h"
#include "switch/hooking_switch.h"

int main(int argc, char** argv) {
  return quillon::RunProgram("ZentrelConfig", argc, argv, quillon::RunHookingSwitch);
}

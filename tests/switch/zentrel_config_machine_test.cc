// ZentrelConfig.exe on a portable machine with the product installed: the
// switches change the real AppInit_DLLs value, answer with boxes, and decide
// whether a launch is checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shared/posix/portable_machine.h"
#include "shared/posix/posix_shell.h"
#include "uninstall/installed_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

std::string InfoBox(const std::string& title, const std::string& text) {
  return "{\"program\":\"ZentrelConfig\",\"kind\":\"MsgBox\",\"title\":\"" + title +
         "\",\"style\":64,\"text\":\"" + text + "\",\"answer\":\"OK\"}";
}
const std::string kOn =
    InfoBox("Query Zentrel Configuration", "Zentrel process hooking is currently turned ON.");
const std::string kOff =
    InfoBox("Query Zentrel Configuration", "Zentrel process hooking is currently turned OFF.");
const std::string kEnabled =
    InfoBox("Change Zentrel Configuration", "Zentrel process hooking has been enabled.");
const std::string kDisabled =
    InfoBox("Change Zentrel Configuration", "Zentrel process hooking has been disabled.");

class ZentrelConfigOnMachineTest : public InstalledMachineTest {
 protected:
  void SetUp() override {
    InstalledMachineTest::SetUp();
    if (HasFatalFailure()) return;
    InstallProduct();
  }

  int Switch(const std::string& arguments) {
    const ToolRun run = Run(std::string("\"") + kZentrelConfigExe + "\" " + arguments);
    return run.status;
  }
};

TEST_F(ZentrelConfigOnMachineTest, TogglesTheRegistryValueAndReportsIt) {
  EXPECT_EQ(Switch("-QUERY"), 0);
  EXPECT_EQ(Switch("-disable"), 0);
  EXPECT_EQ(Registry(kAppInitDllsValue), "");
  EXPECT_EQ(Switch("-Query"), 0);
  SetRegistry(kAppInitDllsValue, "Other.dll");
  EXPECT_EQ(Switch("-QUERY"), 0);
  EXPECT_EQ(Switch("-ENABLE"), 0);
  EXPECT_EQ(Registry(kAppInitDllsValue), "Zentrel.dll");
  EXPECT_EQ(Switch("-query"), 0);

  EXPECT_THAT(Boxes(), ElementsAre(kOn, kDisabled, kOff, kOff, kEnabled, kOn));
  EXPECT_THAT(RegistryText(), HasSubstr("\"AppInit_DLLs\"=\"Zentrel.dll\""));
}

TEST_F(ZentrelConfigOnMachineTest, TwoSwitchesTogetherDoNothing) {
  EXPECT_EQ(Switch("-QUERY -ENABLE"), 0);
  EXPECT_EQ(Switch("-DISABLE now"), 0);
  EXPECT_EQ(Switch(""), 0);

  EXPECT_THAT(Boxes(), IsEmpty());
  EXPECT_EQ(Registry(kAppInitDllsValue), "Zentrel.dll");
}

TEST_F(ZentrelConfigOnMachineTest, QueryWithoutTheValueShowsTheErrorReport) {
  {
    const PortableMachine machine(root(), "zentrel_config_machine_test");
    PosixShell(machine).RegDelete(kAppInitDllsValue);
  }

  EXPECT_EQ(Switch("-QUERY"), 1);

  const std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_THAT(boxes[0], StartsWith("{\"program\":\"ZentrelConfig\",\"kind\":\"MsgBox\","
                                   "\"title\":\"ZentrelConfig\",\"style\":16,"
                                   "\"text\":\"Error -2147024894: "));
}

TEST_F(ZentrelConfigOnMachineTest, LaunchesAreCheckedExactlyWhileHookingIsOn) {
  EXPECT_EQ(Launch(kControlledUser, "notepad.exe"), "terminated");

  ASSERT_EQ(Switch("-DISABLE"), 0);
  EXPECT_EQ(Launch(kControlledUser, "notepad.exe"), "running");

  ASSERT_EQ(Switch("-ENABLE"), 0);
  EXPECT_EQ(Launch(kControlledUser, "notepad.exe"), "terminated");

  // The two denials each showed the checker's box, answered with its default.
  std::vector<std::string> denials;
  for (const std::string& box : Boxes()) {
    if (box.rfind("{\"program\":\"Zentrel\",", 0) == 0) denials.push_back(box);
  }
  EXPECT_EQ(denials.size(), 2u);
  EXPECT_EQ(Lines(Posix(std::string(kProductFolder) + "\\Logs\\Access.log")).size(), 2u);
}

}  // namespace
}  // namespace quillon::testing

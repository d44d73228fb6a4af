// ZentrelConfig.exe on a portable machine with the product installed: the
// switches change the real AppInit_DLLs value, answer with boxes, and decide
// whether a launch is checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/installed_product.h"

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

class ZentrelConfigOnMachineTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeInstalledMachine(machine); }

  int Switch(const std::string& arguments) {
    const ToolResult run = machine.Run(std::string("\"") + kZentrelConfigExe + "\" " + arguments);
    return run.status;
  }

  TestMachine machine;
};

TEST_F(ZentrelConfigOnMachineTest, TogglesTheRegistryValueAndReportsIt) {
  EXPECT_EQ(Switch("-QUERY"), 0);
  EXPECT_EQ(Switch("-disable"), 0);
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "");
  EXPECT_EQ(Switch("-Query"), 0);
  machine.SetRegistryValue(kAppInitDllsValue, "Other.dll");
  EXPECT_EQ(Switch("-QUERY"), 0);
  EXPECT_EQ(Switch("-ENABLE"), 0);
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "Zentrel.dll");
  EXPECT_EQ(Switch("-query"), 0);

  EXPECT_THAT(machine.DialogLines(), ElementsAre(kOn, kDisabled, kOff, kOff, kEnabled, kOn));
  EXPECT_THAT(machine.RegistryText(), HasSubstr("\"AppInit_DLLs\"=\"Zentrel.dll\""));
}

TEST_F(ZentrelConfigOnMachineTest, TwoSwitchesTogetherDoNothing) {
  EXPECT_EQ(Switch("-QUERY -ENABLE"), 0);
  EXPECT_EQ(Switch("-DISABLE now"), 0);
  EXPECT_EQ(Switch(""), 0);

  EXPECT_THAT(machine.DialogLines(), IsEmpty());
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "Zentrel.dll");
}

TEST_F(ZentrelConfigOnMachineTest, QueryWithoutTheValueShowsTheErrorReport) {
  machine.DeleteRegistryValue(kAppInitDllsValue);

  EXPECT_EQ(Switch("-QUERY"), 1);

  const std::vector<std::string> boxes = machine.DialogLines();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_THAT(boxes[0], StartsWith("{\"program\":\"ZentrelConfig\",\"kind\":\"MsgBox\","
                                   "\"title\":\"ZentrelConfig\",\"style\":16,"
                                   "\"text\":\"Error -2147024894: "));
}

TEST_F(ZentrelConfigOnMachineTest, LaunchesAreCheckedExactlyWhileHookingIsOn) {
  EXPECT_EQ(Launch(machine, kControlledUser, "notepad.exe"), "terminated");

  ASSERT_EQ(Switch("-DISABLE"), 0);
  EXPECT_EQ(Launch(machine, kControlledUser, "notepad.exe"), "running");

  ASSERT_EQ(Switch("-ENABLE"), 0);
  EXPECT_EQ(Launch(machine, kControlledUser, "notepad.exe"), "terminated");

  // The two denials each showed the checker's box, answered with its default.
  std::vector<std::string> denials;
  for (const std::string& box : machine.DialogLines()) {
    if (box.rfind("{\"program\":\"Zentrel\",", 0) == 0) denials.push_back(box);
  }
  EXPECT_EQ(denials.size(), 2u);
  EXPECT_EQ(TextLines(machine.Posix(std::string(kProductFolder) + "\\Logs\\Access.log")).size(),
            2u);
}

}  // namespace
}  // namespace quillon::testing

// ZentrelConfig.exe as a Windows process against the real AppInit_DLLs value.
#include <gtest/gtest.h>

#include "programs/program_fixture.h"
#include "shared/win32/win32_shell.h"
#include "support/window_driver.h"

namespace quillon::testing {
namespace {

constexpr char kAppInitDlls[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";

class SwitchProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.Install("ZentrelConfig.exe", machine.product() + "\\Config\\ZentrelConfig.exe");
  }

  std::optional<DWORD> RunSwitch(const std::string& argument_text) {
    return machine.Run(Quoted(machine.product() + "\\Config\\ZentrelConfig.exe") + " " +
                       argument_text);
  }

  // The value's type and text as the registry holds them.
  std::optional<std::pair<DWORD, std::string>> AppInitDlls() {
    auto raw = RawRegistryValue(kAppInitDlls);
    if (!raw) return std::nullopt;
    std::string text(raw->second.begin(), raw->second.end());
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return std::make_pair(raw->first, text);
  }

  void SetAppInitDlls(const std::string& text) {
    Win32Shell().RegWrite(kAppInitDlls, text, "REG_SZ");
  }

  SavedRegistryValue saved{kAppInitDlls};
  ProgramMachine machine;
};

TEST_F(SwitchProgramTest, EnableAndDisableReplaceTheWholeRegistryValue) {
  SetAppInitDlls("other.dll");
  EXPECT_EQ(RunSwitch("-enable"), std::optional<DWORD>(0));
  EXPECT_EQ(AppInitDlls(),
            std::make_optional(std::make_pair(DWORD{REG_SZ}, std::string("Zentrel.dll"))));

  SetAppInitDlls("other.dll zentrel.dll");
  EXPECT_EQ(RunSwitch("-DISABLE"), std::optional<DWORD>(0));
  EXPECT_EQ(AppInitDlls(), std::make_optional(std::make_pair(DWORD{REG_SZ}, std::string())));

  EXPECT_EQ(machine.DialogLog(),
            (std::vector<std::string>{
                R"({"program":"ZentrelConfig","kind":"MsgBox","title":"Change Zentrel )"
                R"(Configuration","style":64,"text":"Zentrel process hooking has been )"
                R"(enabled.","answer":"OK"})",
                R"({"program":"ZentrelConfig","kind":"MsgBox","title":"Change Zentrel )"
                R"(Configuration","style":64,"text":"Zentrel process hooking has been )"
                R"(disabled.","answer":"OK"})"}));
}

TEST_F(SwitchProgramTest, TwoSwitchesTogetherChangeAndShowNothing) {
  SetAppInitDlls("other.dll");
  EXPECT_EQ(RunSwitch("-QUERY -ENABLE"), std::optional<DWORD>(0));
  EXPECT_EQ(AppInitDlls()->second, "other.dll");
  EXPECT_TRUE(machine.DialogLog().empty());
}

TEST_F(SwitchProgramTest, QueryShowsTheStateInARealBox) {
  machine.UseRealWindows();
  SetAppInitDlls("other.dll zentrel.dll");
  auto person = AnswerBox("Query Zentrel Configuration", "OK");
  EXPECT_EQ(RunSwitch("-Query"), std::optional<DWORD>(0));
  BoxSeen seen = person.get();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text, "Zentrel process hooking is currently turned ON.");
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"OK"}));

  SetAppInitDlls("");
  auto again = AnswerBox("Query Zentrel Configuration", "OK");
  EXPECT_EQ(RunSwitch("-QUERY"), std::optional<DWORD>(0));
  seen = again.get();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text, "Zentrel process hooking is currently turned OFF.");
}

TEST_F(SwitchProgramTest, QueryOfAMissingValueEndsWithTheStandardErrorReport) {
  SetAppInitDlls("x");
  Win32Shell().RegDelete(kAppInitDlls);
  EXPECT_EQ(RunSwitch("-QUERY"), std::optional<DWORD>(1));
  const auto log = machine.DialogLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("{\"program\":\"ZentrelConfig\",\"kind\":\"MsgBox\",\"title\":"
                         "\"ZentrelConfig\",\"style\":16,\"text\":\"Error -2147024894: ",
                         0),
            0u)
      << log[0];
}

}  // namespace
}  // namespace quillon::testing

// ZentrelConfig.exe on a portable machine with the product installed: the
// switches change the real AppInit_DLLs value, answer with boxes, and decide
// whether a launch is checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
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

// A registry file that cannot be written (read-only, a folder in its place)
// is left exactly as it was, each switch ending with its error report. A
// damaged one (NUL bytes, Latin-1 letters, a key line cut short) is read
// whole, its lines kept verbatim: the switch changes its value and no other
// line of the file is lost.
TEST_F(ZentrelConfigOnMachineTest, ARegistryItCannotWriteIsLeftAsItWasAndDamageIsKept) {
  const std::string registry = machine.InRoot("registry.reg");
  const std::string installed = machine.RegistryText();
  const std::string damage =
      "garbage" + std::string(2, '\0') + " Caf\xE9\r\n[HKEY_LOCAL_MACHINE\\CUT\r\n";
  struct Fault {
    const char* what;
    std::function<void()> apply;
    bool unprivileged;
    const char* report;  // nullptr: the switch succeeds
  };
  const Fault faults[] = {
      {"damaged", [&] { WritePosixFile(registry, installed + damage); }, false, nullptr},
      {"read-only", [&] { chmod(registry.c_str(), 0444); }, true, "Error -2147024891: "},
      {"a folder in its place",
       [&] {
         std::filesystem::remove(registry);
         MakePosixFolders(registry + "/inside");
       },
       false, "Error -2147024891: "},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.what);
    if (fault.unprivileged && !UnprivilegedUserCanRun(BinPath("quillon-machine"))) continue;
    std::filesystem::remove_all(registry);
    WritePosixFile(registry, installed);
    fault.apply();
    const bool is_folder = std::filesystem::is_directory(registry);
    const std::string before = is_folder ? "" : ReadPosixFile(registry);
    const mode_t mode = PosixMode(registry);

    for (const char* change : {"-ENABLE", "-DISABLE"}) {
      SCOPED_TRACE(change);
      WritePosixFile(machine.Scratch("dialogs.log"), "", 0666);
      const std::string command = std::string("\"") + kZentrelConfigExe + "\" " + change;
      const int status = fault.unprivileged
                             ? machine.RunToolUnprivileged({"run", machine.root(), "--", command},
                                                           machine.Scratch("errors.txt"))
                             : machine.Run(command).status;
      const std::vector<std::string> boxes = machine.DialogLines();
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(PosixMode(registry), mode);
      if (fault.report == nullptr) {
        EXPECT_EQ(status, 0);
        const std::string after = ReadPosixFile(registry);
        std::size_t from = 0;
        while (from < before.size()) {
          std::size_t end = before.find('\n', from);
          if (end == std::string::npos) end = before.size();
          const std::string line = before.substr(from, end - from);
          if (line.find("AppInit_DLLs") == std::string::npos) {
            EXPECT_THAT(after, HasSubstr(line));
          }
          from = end + 1;
        }
        continue;
      }
      EXPECT_EQ(status, 1);
      EXPECT_THAT(boxes[0], HasSubstr(std::string("\"style\":16,\"text\":\"") + fault.report));
      EXPECT_EQ(std::filesystem::is_directory(registry), is_folder);
      if (!is_folder) {
        EXPECT_EQ(ReadPosixFile(registry), before);
      }
    }
  }
}

}  // namespace
}  // namespace quillon::testing

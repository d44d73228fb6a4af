// Uninstall.exe on a portable machine that looks installed: what it leaves
// behind, a second run, a run by another user, and launches before and after.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "installed_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const char kCompletionBox[] =
    "{\"program\":\"Uninstall\",\"kind\":\"MsgBox\",\"title\":\"Uninstall Quillon\",\"style\":64,"
    "\"text\":\"Quillon uninstall completed successfully.\",\"answer\":\"OK\"}";
const char kWebSiteStart[] =
    "{\"program\":\"Uninstall\",\"command\":\"cmd.exe /c wscript.exe \\\"C:\\\\Program "
    "Files\\\\Harlwick\\\\Zentrel\\\\Uninstall\\\\Remove Zentrel Web Site\\\\Remove Zentrel Web "
    "Site.vbs\\\"\",\"style\":0,\"wait\":true}";
const char kDatabaseStart[] =
    "{\"program\":\"Uninstall\",\"command\":\"cmd.exe /c wscript.exe \\\"C:\\\\Program "
    "Files\\\\Harlwick\\\\Zentrel\\\\Uninstall\\\\Remove Zentrel Database\\\\Remove Zentrel "
    "Database.vbs\\\"\",\"style\":0,\"wait\":true}";

class UninstallOnMachineTest : public InstalledMachineTest {
 protected:
  void SetUp() override {
    InstalledMachineTest::SetUp();
    if (HasFatalFailure()) return;
    InstallProduct();
  }

  ToolRun Uninstall() { return Run(std::string("\"") + kUninstallExe + "\""); }

  bool DatabaseFilesLeft() const {
    namespace fs = std::filesystem;
    for (const char* suffix : {"", "-wal", "-shm"}) {
      if (fs::exists(database() + suffix)) return true;
    }
    return false;
  }

  // The lines of the registration key's section in registry.reg: the key's
  // own line and the value lines below it.
  std::vector<std::string> RegistrationSection() const {
    std::vector<std::string> section;
    bool inside = false;
    std::istringstream text(RegistryText());
    std::string line;
    while (std::getline(text, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line.front() == '[') {
        inside = line ==
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                 "Zentrel]";
      }
      if (inside && !line.empty()) section.push_back(line);
    }
    return section;
  }
};

TEST_F(UninstallOnMachineTest, LeavesExactlyWhatIsMeantToStay) {
  ASSERT_TRUE(DatabaseFilesLeft());
  const std::string library = ReadPosix(std::string(QUILLON_LIB_DIR) + "/Zentrel.so");

  const ToolRun run = Uninstall();

  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // The product folder keeps its Uninstall folder and what lies directly in it.
  EXPECT_THAT(
      TreeBelow("C:\\Program Files\\Harlwick"),
      ElementsAre("Zentrel\\", "Zentrel\\Uninstall\\", "Zentrel\\Uninstall\\Uninstall.exe"));
  EXPECT_FALSE(Exists(kStartMenuGroup));
  EXPECT_TRUE(Exists("C:\\Documents and Settings\\Administrator\\Start Menu\\Programs"));
  // Hooking off, the registration key empty, the library retired.
  EXPECT_EQ(Registry(kAppInitDllsValue), "");
  EXPECT_THAT(RegistrationSection(),
              ElementsAre("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                          "Uninstall\\Zentrel]"));
  EXPECT_FALSE(Exists(kHookLibrary));
  EXPECT_EQ(ReadFile(kRetiredHookLibrary), library);
  // The removal scripts took the database and the web site.
  EXPECT_FALSE(DatabaseFilesLeft());
  EXPECT_FALSE(Exists(kWebSite));
  EXPECT_TRUE(Exists("C:\\Inetpub\\wwwroot"));
  // One box, two hidden and waited-for script starts.
  EXPECT_THAT(Boxes(), ElementsAre(kCompletionBox));
  EXPECT_THAT(Starts(), ElementsAre(kWebSiteStart, kDatabaseStart));
  EXPECT_THAT(run.out, HasSubstr("Remove Zentrel Web Site: removed C:\\Inetpub\\wwwroot\\Zentrel"));
  EXPECT_THAT(run.out, HasSubstr("Remove Zentrel Database: dropped the database Zentrel"));
}

TEST_F(UninstallOnMachineTest, ASecondRunStartsTheMissingScriptsAndCompletesAgain) {
  ASSERT_EQ(Uninstall().status, 0);
  const std::vector<std::string> tree = TreeBelow("C:\\");
  const std::string retired = ReadFile(kRetiredHookLibrary);
  SetRegistry(kAppInitDllsValue, "Zentrel.dll");

  const ToolRun again = Uninstall();

  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(Registry(kAppInitDllsValue), "");
  EXPECT_EQ(TreeBelow("C:\\"), tree);
  EXPECT_EQ(ReadFile(kRetiredHookLibrary), retired);
  EXPECT_THAT(Boxes(), ElementsAre(kCompletionBox, kCompletionBox));
  EXPECT_THAT(Starts(), ElementsAre(kWebSiteStart, kDatabaseStart, kWebSiteStart, kDatabaseStart));
}

TEST_F(UninstallOnMachineTest, RunByAnotherUserItLeavesTheInstallingUsersGroup) {
  const ToolRun run = Tool(
      {"run", root(), "--user", kControlledUser, "--", std::string("\"") + kUninstallExe + "\""});

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Exists(std::string(kStartMenuGroup) + "\\Uninstall Quillon.lnk"));
  EXPECT_FALSE(Exists(kHookLibrary));
  EXPECT_THAT(Boxes(), ElementsAre(kCompletionBox));
}

TEST_F(UninstallOnMachineTest, LaunchesAreNoLongerCheckedAfterwards) {
  ASSERT_EQ(Launch(kControlledUser, "notepad.exe"), "terminated");

  ASSERT_EQ(Uninstall().status, 0);

  EXPECT_EQ(Launch(kControlledUser, "notepad.exe"), "running");
  // With the library retired, even a value naming it again checks nothing.
  SetRegistry(kAppInitDllsValue, "Zentrel.dll");
  EXPECT_EQ(Launch(kControlledUser, "notepad.exe"), "running");
}

}  // namespace
}  // namespace quillon::testing

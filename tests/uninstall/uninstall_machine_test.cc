// Uninstall.exe on a portable machine that looks installed: what it leaves
// behind, a second run, a run by another user, and launches before and after.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/installed_product.h"

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

class UninstallOnMachineTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeInstalledMachine(machine); }

  ToolResult Uninstall() { return machine.Run(std::string("\"") + kUninstallExe + "\""); }

  bool DatabaseFilesLeft() const {
    namespace fs = std::filesystem;
    for (const char* suffix : {"", "-wal", "-shm"}) {
      if (fs::exists(machine.database() + suffix)) return true;
    }
    return false;
  }

  // The lines of the registration key's section in registry.reg: the key's
  // own line and the value lines below it.
  std::vector<std::string> RegistrationSection() const {
    std::vector<std::string> section;
    bool inside = false;
    std::istringstream text(machine.RegistryText());
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

  TestMachine machine;
};

TEST_F(UninstallOnMachineTest, LeavesExactlyWhatIsMeantToStay) {
  ASSERT_TRUE(DatabaseFilesLeft());
  const std::string library = ReadPosixFile(HookLibraryPath());

  const ToolResult run = Uninstall();

  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // The product folder keeps its Uninstall folder and what lies directly in it.
  EXPECT_THAT(
      machine.TreeBelow("C:\\Program Files\\Harlwick"),
      ElementsAre("Zentrel\\", "Zentrel\\Uninstall\\", "Zentrel\\Uninstall\\Uninstall.exe"));
  EXPECT_FALSE(machine.Exists(kStartMenuGroup));
  EXPECT_TRUE(machine.Exists("C:\\Documents and Settings\\Administrator\\Start Menu\\Programs"));
  // Hooking off, the registration key empty, the library retired.
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "");
  EXPECT_THAT(RegistrationSection(),
              ElementsAre("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                          "Uninstall\\Zentrel]"));
  EXPECT_FALSE(machine.Exists(kHookLibrary));
  EXPECT_EQ(machine.ReadFile(kRetiredHookLibrary), library);
  // The removal scripts took the database and the web site.
  EXPECT_FALSE(DatabaseFilesLeft());
  EXPECT_FALSE(machine.Exists(kWebSite));
  EXPECT_TRUE(machine.Exists("C:\\Inetpub\\wwwroot"));
  // One box, two hidden and waited-for script starts.
  EXPECT_THAT(machine.DialogLines(), ElementsAre(kCompletionBox));
  EXPECT_THAT(machine.RunLines(), ElementsAre(kWebSiteStart, kDatabaseStart));
  EXPECT_THAT(run.out, HasSubstr("Remove Zentrel Web Site: removed C:\\Inetpub\\wwwroot\\Zentrel"));
  EXPECT_THAT(run.out, HasSubstr("Remove Zentrel Database: dropped the database Zentrel"));
}

TEST_F(UninstallOnMachineTest, ASecondRunStartsTheMissingScriptsAndCompletesAgain) {
  ASSERT_EQ(Uninstall().status, 0);
  const std::vector<std::string> tree = machine.TreeBelow("C:\\");
  const std::string retired = machine.ReadFile(kRetiredHookLibrary);
  machine.SetRegistryValue(kAppInitDllsValue, "Zentrel.dll");

  const ToolResult again = Uninstall();

  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "");
  EXPECT_EQ(machine.TreeBelow("C:\\"), tree);
  EXPECT_EQ(machine.ReadFile(kRetiredHookLibrary), retired);
  EXPECT_THAT(machine.DialogLines(), ElementsAre(kCompletionBox, kCompletionBox));
  EXPECT_THAT(machine.RunLines(),
              ElementsAre(kWebSiteStart, kDatabaseStart, kWebSiteStart, kDatabaseStart));
}

TEST_F(UninstallOnMachineTest, RunByAnotherUserItLeavesTheInstallingUsersGroup) {
  const ToolResult run = machine.Tool({"run", machine.root(), "--user", kControlledUser, "--",
                                       std::string("\"") + kUninstallExe + "\""});

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(machine.Exists(std::string(kStartMenuGroup) + "\\Uninstall Quillon.lnk"));
  EXPECT_FALSE(machine.Exists(kHookLibrary));
  EXPECT_THAT(machine.DialogLines(), ElementsAre(kCompletionBox));
}

TEST_F(UninstallOnMachineTest, LaunchesAreNoLongerCheckedAfterwards) {
  ASSERT_EQ(Launch(machine, kControlledUser, "notepad.exe"), "terminated");

  ASSERT_EQ(Uninstall().status, 0);

  EXPECT_EQ(Launch(machine, kControlledUser, "notepad.exe"), "running");
  // With the library retired, even a value naming it again checks nothing.
  machine.SetRegistryValue(kAppInitDllsValue, "Zentrel.dll");
  EXPECT_EQ(Launch(machine, kControlledUser, "notepad.exe"), "running");
}

// Every entry below a POSIX folder with the size of its files ("/" for a
// folder), links not followed.
std::map<std::string, std::string> PosixTree(const std::string& folder) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = fs::relative(entry.path(), folder).string();
    tree[relative] = entry.is_regular_file() ? std::to_string(entry.file_size()) : "/";
  }
  return tree;
}

// A folder on the way to what the uninstaller deletes is a link to a folder
// outside the machine: nothing out there is touched. A profile that leads out
// of the machine keeps quillon-machine from running anything as its user.
TEST(UninstallBoundaryTest, NothingOutsideTheMachineIsDeletedThroughALink) {
  struct Case {
    std::string linked;
    int status;
  };
  const Case cases[] = {
      {std::string(kProductFolder) + "\\Uninstall", 0},
      {"C:\\Program Files\\Harlwick", 0},
      {"C:\\Documents and Settings\\Administrator\\Start Menu\\Programs", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.linked);
    TestMachine machine;
    MakeInstalledMachine(machine);
    // The uninstaller runs from a copy that the link does not hide.
    machine.CopyIn(BinPath("Uninstall.exe"), "C:\\Uninstall.exe");
    const std::string inside = machine.Posix(c.linked);
    const std::string outside = machine.Scratch("outside");
    std::filesystem::rename(inside, outside);
    WritePosixFile(outside + "/Precious/data.txt", "keep me");
    ASSERT_EQ(symlink(outside.c_str(), inside.c_str()), 0);
    const std::map<std::string, std::string> before = PosixTree(outside);

    const ToolResult run = machine.Run("\"C:\\Uninstall.exe\"");

    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(PosixTree(outside), before);
    struct stat link {};
    EXPECT_TRUE(lstat(inside.c_str(), &link) != 0 || S_ISLNK(link.st_mode));
  }
}

}  // namespace
}  // namespace quillon::testing

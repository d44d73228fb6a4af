// Uninstall.exe as a Windows process on an installed-looking machine: the
// real registry, the real Start Menu, the removal scripts run by cmd.exe and
// wscript.exe, and the product tree.
#include <gtest/gtest.h>

#include "programs/program_fixture.h"
#include "shared/win32/win32_shell.h"

namespace quillon::testing {
namespace {

constexpr char kAppInitDlls[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";
constexpr char kRegistration[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentrel";

class UninstallProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Win32Shell shell;
    ASSERT_FALSE(RegistryKeyExists(kRegistration)) << "an installation is registered";
    start_menu_group = shell.SpecialFolders("StartMenu") + "\\Programs\\Quillon";
    ASSERT_FALSE(Exists(start_menu_group)) << "an installation has a Start Menu group";

    const std::string product = machine.product();
    machine.Install("Zentrel.exe", product + "\\Zentrel.exe");
    machine.Install("argument_recorder.exe", product + "\\Corvane.exe");
    machine.Install("ZentrelConfig.exe", product + "\\Config\\ZentrelConfig.exe");
    machine.Install("Uninstall.exe", product + "\\Uninstall\\Uninstall.exe");
    WriteBytes(product + "\\Zentrel.ini", "adminemail: a;\r\nsmtpserver: s;\r\n");
    SetFileAttributesA((product + "\\Zentrel.ini").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteBytes(product + "\\Logs\\Access.log", "01/02/06 03:04:05: X_|_Y_|_Z\r\n");
    WriteBytes(product + "\\UninstallOld\\notes.txt", "goes");
    WriteBytes(product + "\\Uninstall\\readme.txt", "stays");
    // Each removal script leaves a mark, so the test sees that it ran.
    WriteScript(product + "\\Uninstall\\Remove Zentrel Web Site\\Remove Zentrel Web Site.vbs",
                machine.scratch("web site removed.txt"));
    WriteScript(product + "\\Uninstall\\Remove Zentrel Database\\Remove Zentrel Database.vbs",
                machine.scratch("database removed.txt"));

    WriteBytes(machine.windir() + "\\system32\\Zentrel.dll", "library");
    WriteBytes(machine.windir() + "\\system32\\Zentrel.dll.old", "earlier library");
    WriteBytes(start_menu_group + "\\Quillon Web Site.url", "[InternetShortcut]\r\n");

    shell.RegWrite(kAppInitDlls, "Zentrel.dll", "REG_SZ");
    shell.RegWrite(std::string(kRegistration) + "\\DisplayIcon", product + "\\Zentrel.exe",
                   "REG_SZ");
    shell.RegWrite(std::string(kRegistration) + "\\DisplayName", "Quillon", "REG_SZ");
    shell.RegWrite(std::string(kRegistration) + "\\NoModify", "1", "REG_DWORD");
    shell.RegWrite(std::string(kRegistration) + "\\NoRepair", "1", "REG_DWORD");
    shell.RegWrite(std::string(kRegistration) + "\\UninstallString",
                   product + "\\Uninstall\\Uninstall.exe", "REG_SZ");
  }

  void TearDown() override {
    DeleteRegistryTree(kRegistration);
    DeleteTree(start_menu_group);
  }

  static void WriteScript(const std::string& path, const std::string& mark) {
    WriteBytes(path,
               "Set files = CreateObject(\"Scripting.FileSystemObject\")\r\n"
               "files.CreateTextFile(\"" +
                   mark + "\", True).Close\r\n");
  }

  std::optional<DWORD> RunUninstall() {
    return machine.Run(Quoted(machine.product() + "\\Uninstall\\Uninstall.exe"));
  }

  SavedRegistryValue saved{kAppInitDlls};
  ProgramMachine machine;
  std::string start_menu_group;
};

TEST_F(UninstallProgramTest, RemovesTheProductAndKeepsWhatItMust) {
  EXPECT_EQ(RunUninstall(), std::optional<DWORD>(0));
  const std::string product = machine.product();

  auto app_init = RawRegistryValue(kAppInitDlls);
  ASSERT_TRUE(app_init.has_value());
  EXPECT_EQ(app_init->first, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(app_init->second.begin(), app_init->second.end()).c_str(), std::string());

  EXPECT_TRUE(Exists(machine.scratch("web site removed.txt")));
  EXPECT_TRUE(Exists(machine.scratch("database removed.txt")));
  EXPECT_FALSE(Exists(start_menu_group));

  for (const char* value :
       {"DisplayIcon", "DisplayName", "NoModify", "NoRepair", "UninstallString"}) {
    EXPECT_FALSE(RawRegistryValue(std::string(kRegistration) + "\\" + value).has_value()) << value;
  }
  EXPECT_TRUE(RegistryKeyExists(kRegistration));

  for (const char* gone :
       {"\\Zentrel.exe", "\\Corvane.exe", "\\Zentrel.ini", "\\Logs", "\\Config", "\\UninstallOld",
        "\\Uninstall\\Remove Zentrel Web Site", "\\Uninstall\\Remove Zentrel Database"}) {
    EXPECT_FALSE(Exists(product + gone)) << gone;
  }
  EXPECT_EQ(ReadBytes(product + "\\Uninstall\\readme.txt"), std::optional<std::string>("stays"));
  EXPECT_TRUE(Exists(product + "\\Uninstall\\Uninstall.exe"));

  EXPECT_FALSE(Exists(machine.windir() + "\\system32\\Zentrel.dll"));
  EXPECT_EQ(ReadBytes(machine.windir() + "\\system32\\Zentrel.dll.old"),
            std::optional<std::string>("library"));

  EXPECT_EQ(machine.DialogLog(),
            (std::vector<std::string>{
                R"({"program":"Uninstall","kind":"MsgBox","title":"Uninstall Quillon","style":64,)"
                R"("text":"Quillon uninstall completed successfully.","answer":"OK"})"}));
}

TEST_F(UninstallProgramTest, ASecondRunFindsLittleLeftAndStillCompletes) {
  ASSERT_EQ(RunUninstall(), std::optional<DWORD>(0));
  DeleteFileA(machine.scratch("web site removed.txt").c_str());
  EXPECT_EQ(RunUninstall(), std::optional<DWORD>(0));
  // The scripts are gone, so their commands end without a mark.
  EXPECT_FALSE(Exists(machine.scratch("web site removed.txt")));
  EXPECT_EQ(ReadBytes(machine.windir() + "\\system32\\Zentrel.dll.old"),
            std::optional<std::string>("library"));
  EXPECT_EQ(machine.DialogLog().size(), 2u);
}

}  // namespace
}  // namespace quillon::testing

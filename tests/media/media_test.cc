// The setup media as the build assembles them, tried on machines made by
// quillon-machine: the layout, the install scripts (and the removal scripts
// after them), the Start Menu shortcuts, and the mailer and Dusmere on the media.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kMedia = std::string(QUILLON_MEDIA_DIR);
constexpr char kProduct[] = "D:\\Quillon\\Program Files\\Harlwick\\Zentrel";
constexpr char kSite[] = "C:\\Inetpub\\wwwroot\\Zentrel";

std::string Script(const std::string& folder, const std::string& name) {
  return std::string("cmd.exe /c wscript.exe \"") + kProduct + "\\" + folder + "\\" + name + "\\" +
         name + ".vbs\"";
}
const std::string kInstallDatabase = Script("Install", "Install Zentrel Database");
const std::string kInstallWebSite = Script("Install", "Install Zentrel Web Site");
const std::string kRemoveDatabase = Script("Uninstall", "Remove Zentrel Database");
const std::string kRemoveWebSite = Script("Uninstall", "Remove Zentrel Web Site");

// A machine made by the tool with the media mounted as D:\Quillon.
void MakeMachineWithMedia(TestMachine& machine, const std::vector<std::string>& options = {}) {
  machine.CreateWithTool(options);
  const std::string drive = machine.Scratch("drive_d");
  MakePosixFolders(drive);
  const ToolResult copied =
      machine.Tool({"mount", machine.root(), "D:", drive});  // an empty drive D first
  ASSERT_EQ(copied.status, 0) << copied.err;
  std::filesystem::copy(kMedia, machine.Posix("D:\\Quillon"),
                        std::filesystem::copy_options::recursive);
}

TEST(MediaTest, HoldTheSetupFolderTheProductTreeAndTheStartMenuGroup) {
  TestMachine machine(MachineTree::kDrives);
  std::filesystem::copy(kMedia, machine.Posix("D:\\Quillon"),
                        std::filesystem::copy_options::recursive);
  std::vector<std::string> expected = {
      "AppInit_DLLs\\",
      "AppInit_DLLs\\Zentrel.dll",
      "Applications.list",
      "Cacls\\",
      "Cacls\\Yes.txt",
      "Cacls\\cacls.exe",
      "EULA.rtf",
      "Faldrin.exe",
      "Gemthorn.exe",
      "IIS\\",
      "IIS\\IIS.txt",
      "MDAC\\",
      "MDAC\\MDAC_TYP.exe",
      "MSDE\\",
      "MSDE\\osql.exe",
      "MSDE\\setup.exe",
      "MSDE\\sqlservr.exe",
      "Program Files\\",
      "Program Files\\Harlwick\\",
      "Program Files\\Harlwick\\Zentrel\\",
      "Program Files\\Harlwick\\Zentrel\\Config\\",
      "Program Files\\Harlwick\\Zentrel\\Config\\ZentrelAdmin.exe",
      "Program Files\\Harlwick\\Zentrel\\Config\\ZentrelConfig.exe",
      "Program Files\\Harlwick\\Zentrel\\Corvane.exe",
      "Program Files\\Harlwick\\Zentrel\\Dusmere.exe",
      "Program Files\\Harlwick\\Zentrel\\Install\\",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Database\\",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Database\\Install Zentrel "
      "Database.vbs",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Database\\zentrel_tables.sql",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Web Site\\",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Web Site\\Install Zentrel Web "
      "Site.vbs",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Web Site\\Zentrel\\",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Web Site\\Zentrel\\Default.htm",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Web Site\\Zentrel\\Zentrel.css",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Web "
      "Site\\Zentrel\\ZentrelWeb.exe",
      "Program Files\\Harlwick\\Zentrel\\Install\\Install Zentrel Web Site\\Zentrel\\cgi.ini",
      "Program Files\\Harlwick\\Zentrel\\Logs\\",
      "Program Files\\Harlwick\\Zentrel\\Uninstall\\",
      "Program Files\\Harlwick\\Zentrel\\Uninstall\\Remove Zentrel Database\\",
      "Program Files\\Harlwick\\Zentrel\\Uninstall\\Remove Zentrel Database\\Remove Zentrel "
      "Database.vbs",
      "Program Files\\Harlwick\\Zentrel\\Uninstall\\Remove Zentrel Web Site\\",
      "Program Files\\Harlwick\\Zentrel\\Uninstall\\Remove Zentrel Web Site\\Remove Zentrel Web "
      "Site.vbs",
      "Program Files\\Harlwick\\Zentrel\\Uninstall\\Uninstall.exe",
      "Program Files\\Harlwick\\Zentrel\\Zentrel.exe",
      "RegINI\\",
      "RegINI\\RegINI.txt",
      "RegINI\\regini.exe",
      "Start Menu\\",
      "Start Menu\\Quillon\\",
      "Start Menu\\Quillon\\My Quillon Access.lnk",
      "Start Menu\\Quillon\\Quillon Administration.url",
      "Start Menu\\Quillon\\Turn Quillon Off.lnk",
      "Start Menu\\Quillon\\Turn Quillon On.lnk",
      "Start Menu\\Quillon\\Uninstall Quillon.lnk",
  };
  expected.push_back("Setup.exe");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(machine.TreeBelow("D:\\Quillon"), expected);
  for (const char* program : {"Faldrin.exe", "Gemthorn.exe", "MSDE\\setup.exe",
                              "Program Files\\Harlwick\\Zentrel\\Zentrel.exe"}) {
    EXPECT_NE(PosixMode(machine.Posix(std::string("D:\\Quillon\\") + program)) & 0100, 0u)
        << program << " is not executable";
  }
}

TEST(MediaTest, InstallScriptsMakeTheDatabaseAndTheSiteAndTheRemovalScriptsTakeThemAway) {
  TestMachine machine;
  MakeMachineWithMedia(machine);
  const std::string database = machine.InRoot("databases/Zentrel.sqlite3");

  ToolResult result = machine.Run(kInstallDatabase);
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_THAT(
      QueryRows(database,
                "SELECT name FROM sqlite_master WHERE type = 'table' AND name "
                "NOT LIKE 'sqlite%' ORDER BY name"),
      ElementsAre(TestRow{"ACCESS_REQUESTS"}, TestRow{"ADMIN_AUDIT"}, TestRow{"ALLOWED_APPS"},
                  TestRow{"APPS"}, TestRow{"APP_EXES"}, TestRow{"USERS"}));
  for (const char* table :
       {"APPS", "APP_EXES", "USERS", "ALLOWED_APPS", "ACCESS_REQUESTS", "ADMIN_AUDIT"}) {
    EXPECT_EQ(CountRows(database, table), 0) << table;
  }
  // APPS numbers from 1, through the client as the installer seeds it.
  machine.WriteFile("C:\\WINDOWS\\Temp\\apps.sql",
                    "USE Zentrel\r\nGO\r\nINSERT INTO APPS (app_name) VALUES ('Editor')\r\n"
                    "INSERT INTO APPS (app_name) VALUES ('Paint')\r\nGO\r\n");
  ASSERT_EQ(machine.Run("osql.exe -E -i \"C:\\WINDOWS\\Temp\\apps.sql\"").status, 0);
  EXPECT_THAT(QueryRows(database, "SELECT app_id, app_name FROM APPS ORDER BY app_id"),
              ElementsAre(TestRow{"1", "Editor"}, TestRow{"2", "Paint"}));

  // A second run finds the database and leaves it as it is.
  EXPECT_EQ(machine.Run(kInstallDatabase).status, 1);
  EXPECT_EQ(CountRows(database, "APPS"), 2);

  result = machine.Run(kInstallWebSite);
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_THAT(machine.ReadFile(std::string(kSite) + "\\Default.htm"),
              HasSubstr("url=ZentrelWeb.exe"));
  EXPECT_EQ(machine.ReadFile(std::string(kSite) + "\\cgi.ini"), "program=ZentrelWeb.exe\n");

  EXPECT_EQ(machine.Run(kRemoveWebSite).status, 0);
  EXPECT_EQ(machine.Run(kRemoveDatabase).status, 0);
  EXPECT_FALSE(machine.Exists(kSite));
  EXPECT_FALSE(PosixExists(database));
  EXPECT_TRUE(machine.Exists("C:\\Inetpub\\wwwroot"));
}

TEST(MediaTest, InstallScriptsFailWithoutTheDatabaseEngineOrTheWebServer) {
  TestMachine machine;
  MakeMachineWithMedia(machine, {"--no-msde", "--no-iis"});

  const ToolResult database = machine.Run(kInstallDatabase);
  const ToolResult site = machine.Run(kInstallWebSite);

  EXPECT_EQ(database.status, 1);
  EXPECT_THAT(database.err, HasSubstr("osql.exe is not installed"));
  EXPECT_EQ(site.status, 1);
  EXPECT_FALSE(machine.Exists(kSite));
}

TEST(MediaTest, StartMenuShortcutsOpenWhatTheySay) {
  TestMachine machine;
  MakeMachineWithMedia(machine);
  // The product tree in place, as Setup copies it.
  std::filesystem::copy(kMedia + "/Program Files/Harlwick",
                        machine.Posix("C:\\Program Files") + "/Harlwick",
                        std::filesystem::copy_options::recursive);
  auto open = [&](const std::string& name) {
    return machine.Tool({"open", machine.root(), "D:\\Quillon\\Start Menu\\Quillon\\" + name});
  };

  ToolResult result = open("Turn Quillon On.lnk");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "Zentrel.dll");
  result = open("Turn Quillon Off.lnk");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(machine.RegistryValue(kAppInitDllsValue), "");
  result = open("Quillon Administration.url");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(machine.StandInLog("iexplore").back(), HasSubstr("http://localhost/Zentrel/"));
  // Dusmere opens; with no database here it ends in its error report.
  result = open("My Quillon Access.lnk");
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(machine.Dialogs().back().program, "Dusmere");
  result = open("Uninstall Quillon.lnk");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(machine.Dialogs().back().text, HasSubstr("uninstall completed"));
  EXPECT_FALSE(machine.Exists("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe"));
}

TEST(MediaTest, TheMailerIsTheRealOneAndDusmereIsTheRealTool) {
  TestMachine machine;
  MakeMachineWithMedia(machine);
  // The product tree in place, as Setup copies it: the mailer logs into it.
  std::filesystem::copy(kMedia + "/Program Files/Harlwick",
                        machine.Posix("C:\\Program Files") + "/Harlwick",
                        std::filesystem::copy_options::recursive);
  // The media's mailer is the real one: started without its seven values it
  // sends nothing, shows nothing and says why in the checker's Error.log.
  EXPECT_EQ(machine
                .Run("\"C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe\" "
                     "\"mail.example.com\" \"admin@example.com\" \"QUILLON-XP\"")
                .status,
            1);
  EXPECT_THAT(
      TextLines(machine.Posix("C:\\Program Files\\Harlwick\\Zentrel\\Logs\\Error.log")),
      ElementsAre(HasSubstr(": ERROR! Corvane: invalid command line arguments (3 instead of "
                            "7): \"mail.example.com\" \"admin@example.com\" \"QUILLON-XP\"")));
  EXPECT_TRUE(machine.Dialogs().empty());
  // Dusmere is the user's access tool: here, without a database, it ends in
  // its error report.
  ASSERT_EQ(machine.Run("\"D:\\Quillon\\Program Files\\Harlwick\\Zentrel\\Dusmere.exe\"").status,
            1);
  const std::vector<DialogRecord> boxes = machine.Dialogs();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].program, "Dusmere");
  EXPECT_EQ(boxes[0].style, 16);
  EXPECT_THAT(boxes[0].text, ::testing::StartsWith("Error "));
}

}  // namespace
}  // namespace quillon::testing

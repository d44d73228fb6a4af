// Each stand-in's contract: what it records of what it was given, and the
// effect the installer and uninstaller rely on, seen in the machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "shared/database.h"
#include "shared/posix/sqlite_database.h"
#include "support/database_support.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override { machine.CreateWithTool(); }

  TestMachine machine;
};

// ------------------------------------------------------------------ cmd.exe

TEST_F(StandInTest, CmdRunsTheCommandAndEndsWithItsStatus) {
  machine.WriteFile("C:\\T\\exit.vbs", "#!/bin/sh\nexit 5\n");
  const ToolResult result = machine.Run("cmd.exe /c wscript.exe \"C:\\T\\exit.vbs\"");
  EXPECT_EQ(result.status, 5);
  const std::vector<std::string> log = machine.StandInLog("cmd");
  ASSERT_EQ(log.size(), 3u);
  EXPECT_THAT(log[0], HasSubstr("\"arguments\":\"/c wscript.exe C:\\\\T\\\\exit.vbs\""));
  EXPECT_THAT(log[1], HasSubstr("\"command\":\"wscript.exe C:\\\\T\\\\exit.vbs\""));
  EXPECT_THAT(log[2], HasSubstr("\"exit_status\":5"));
}

TEST_F(StandInTest, CmdFeedsTheRedirectedFileToStandardInput) {
  machine.WriteFile("C:\\T\\echo input.vbs",
                    "#!/bin/sh\nwhile read -r line; do echo \"got $line\"; done\n");
  machine.WriteFile("D:\\Yes.txt", "Y\nsecond\n");
  const ToolResult result =
      machine.Run("cmd /c wscript.exe \"C:\\T\\echo input.vbs\" < \"D:\\Yes.txt\"");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "got Y\ngot second\n");
}

TEST_F(StandInTest, CmdReportsWhatItCannotFindAndRefusesOtherOperators) {
  const ToolResult missing_program = machine.Run("cmd /c nothere.exe x");
  EXPECT_EQ(missing_program.status, 1);
  EXPECT_THAT(missing_program.err, HasSubstr("'nothere.exe' is not recognized"));

  const ToolResult missing_input = machine.Run("cmd /c net.exe start < D:\\none.txt");
  EXPECT_EQ(missing_input.status, 1);
  EXPECT_THAT(missing_input.err, HasSubstr("cannot find the file"));

  EXPECT_EQ(machine.Run("cmd /c net.exe start > out.txt").status, 2);
  EXPECT_EQ(machine.Run("cmd /k net.exe start").status, 2);
  EXPECT_THAT(machine.StandInLog("net"), IsEmpty());
}

TEST_F(StandInTest, CmdRmdirRemovesTheFolderWithAllItHolds) {
  machine.WriteFile("C:\\Inetpub\\wwwroot\\Zentrel\\Default.asp", "<% %>");
  machine.WriteFile("C:\\Inetpub\\wwwroot\\Zentrel\\Users\\Edit.asp", "<% %>");
  machine.WriteFile("C:\\Inetpub\\wwwroot\\Zentrel\\Users\\ReadOnly.txt", "kept?");
  std::filesystem::permissions(machine.Posix("C:\\Inetpub\\wwwroot\\Zentrel\\Users\\ReadOnly.txt"),
                               std::filesystem::perms::owner_read);
  machine.WriteFile("C:\\Inetpub\\wwwroot\\Other\\index.htm", "other site");
  machine.WriteFile("C:\\Inetpub\\wwwroot\\Zentrel.txt", "a file beside the folder");

  const ToolResult result = machine.Run("cmd.exe /c rmdir /s /q \"c:\\INETPUB\\wwwroot\\zentrel\"");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");

  EXPECT_FALSE(machine.Exists("C:\\Inetpub\\wwwroot\\Zentrel"));
  EXPECT_EQ(machine.ReadFile("C:\\Inetpub\\wwwroot\\Other\\index.htm"), "other site");
  EXPECT_EQ(machine.ReadFile("C:\\Inetpub\\wwwroot\\Zentrel.txt"), "a file beside the folder");
  const std::vector<std::string> log = machine.StandInLog("cmd");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_THAT(log[1], HasSubstr("\"command\":\"rmdir /s /q c:\\\\INETPUB\\\\wwwroot\\\\zentrel\","
                                "\"exit_status\":0"));

  // "rd" and the switches in any case and order; a name with blanks.
  machine.WriteFile("D:\\Old Site\\Sub\\page.htm", "old");
  EXPECT_EQ(machine.Run("cmd /C RD /Q /S \"D:\\Old Site\"").status, 0);
  EXPECT_FALSE(machine.Exists("D:\\Old Site"));
  EXPECT_TRUE(machine.Exists("D:\\"));
}

TEST_F(StandInTest, CmdRmdirReportsAMissingFolderAndAFileAsWindowsDoes) {
  const ToolResult missing = machine.Run("cmd /c rmdir /s /q C:\\Inetpub\\wwwroot\\Zentrel");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "The system cannot find the file specified.\n");
  EXPECT_THAT(machine.StandInLog("cmd"),
              Contains(HasSubstr("\"command\":\"rmdir /s /q C:\\\\Inetpub\\\\wwwroot\\\\Zentrel\","
                                 "\"found\":false")));

  machine.WriteFile("C:\\T\\Zentrel", "a file, not a folder");
  const ToolResult file = machine.Run("cmd /c rd /s /q C:\\T\\Zentrel");
  EXPECT_EQ(file.status, 1);
  EXPECT_EQ(file.err, "The directory name is invalid.\n");
  EXPECT_EQ(machine.ReadFile("C:\\T\\Zentrel"), "a file, not a folder");

  // A drive's root is never removed.
  EXPECT_EQ(machine.Run("cmd /c rd /s /q C:\\").status, 1);
  EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\system32"));
}

TEST_F(StandInTest, CmdRefusesOtherFormsOfRmdir) {
  machine.WriteFile("C:\\Site\\Default.asp", "<% %>");
  for (const std::string form :
       {"rmdir C:\\Site", "rmdir /s C:\\Site", "rd /q C:\\Site", "rmdir /s /q",
        "rmdir /s /q C:\\Site C:\\Other", "rmdir /s /q /f C:\\Site", "rmdir /s /q C:\\Site > nul",
        "rd /s /q C:\\Site 2>nul", "rmdir /s /q C:\\Site & echo done"}) {
    const ToolResult refused = machine.Run("cmd /c " + form);
    EXPECT_EQ(refused.status, 2) << form;
    EXPECT_THAT(refused.err, HasSubstr("only \"rmdir /s /q FOLDER\" is supported")) << form;
    EXPECT_EQ(machine.ReadFile("C:\\Site\\Default.asp"), "<% %>") << form;
  }
  EXPECT_THAT(machine.StandInLog("cmd"), Contains(HasSubstr("\"usage_error\":")));
}

// -------------------------------------------------------------- wscript.exe

TEST_F(StandInTest, WscriptRunsTheScriptWithTheMachinesProgramsOnThePath) {
  machine.WriteFile("C:\\Program Files\\X\\Do It.vbs",
                    "#!/bin/sh\n"
                    "[ \"$1\" = \"first arg\" ] || exit 9\n"
                    "net.exe start W3SVC >/dev/null 2>&1\n"
                    "net.exe stop W3SVC || exit 8\n"
                    "exit 0\n");
  const ToolResult result =
      machine.Run("wscript.exe //B \"C:\\Program Files\\X\\Do It.vbs\" \"first arg\"");
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_THAT(machine.RunningServices(), ElementsAre("MSSQLServer"));
  const std::vector<std::string> log = machine.StandInLog("wscript");
  ASSERT_EQ(log.size(), 3u);
  EXPECT_THAT(log[1], HasSubstr("\"script\":\"C:\\\\Program Files\\\\X\\\\Do It.vbs\""));
  EXPECT_THAT(log[2], HasSubstr("\"exit_status\":0"));
}

TEST_F(StandInTest, WscriptReportsAMissingScriptAndRefusesUnknownHostOptions) {
  const ToolResult missing = machine.Run("wscript.exe \"C:\\Nothing\\there.vbs\"");
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("Can not find script file \"C:\\Nothing\\there.vbs\""));
  EXPECT_EQ(machine.Run("wscript.exe //E:vbscript x.vbs").status, 2);
  EXPECT_EQ(machine.Run("wscript.exe").status, 2);
}

// ------------------------------------------------------------------ net.exe

TEST_F(StandInTest, NetStartsAndStopsInstalledServicesAndRemembersIt) {
  ASSERT_EQ(machine.Run("net.exe stop W3SVC").status, 0);
  EXPECT_THAT(machine.RunningServices(), ElementsAre("MSSQLServer"));
  const ToolResult stopped_again = machine.Run("net.exe stop w3svc");
  EXPECT_EQ(stopped_again.status, 2);
  EXPECT_THAT(stopped_again.err, HasSubstr("is not started"));

  const ToolResult started = machine.Run("net.exe start W3SVC");
  EXPECT_EQ(started.status, 0);
  EXPECT_THAT(started.out,
              HasSubstr("The World Wide Web Publishing service was started successfully."));
  EXPECT_THAT(machine.RunningServices(), UnorderedElementsAre("MSSQLServer", "W3SVC"));
  // Service names do not depend on case.
  const ToolResult again = machine.Run("net.exe start w3svc");
  EXPECT_EQ(again.status, 2);
  EXPECT_THAT(again.err, HasSubstr("already been started"));

  const ToolResult listed = machine.Run("net.exe start");
  EXPECT_THAT(listed.out, HasSubstr("   World Wide Web Publishing\n"));
  EXPECT_THAT(listed.out, HasSubstr("   MSSQLSERVER\n"));
  EXPECT_THAT(machine.StandInLog("net"),
              Contains(HasSubstr("\"service\":\"W3SVC\",\"started\":true")));
}

TEST_F(StandInTest, NetRefusesUnknownAndDisabledServices) {
  const ToolResult unknown = machine.Run("net.exe start Spooler");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_THAT(unknown.err, HasSubstr("The service name is invalid."));

  ASSERT_EQ(machine.Run("net.exe stop W3SVC").status, 0);
  machine.SetRegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start", "4",
                           "REG_DWORD");
  const ToolResult disabled = machine.Run("net.exe start W3SVC");
  EXPECT_EQ(disabled.status, 2);
  EXPECT_THAT(disabled.err, HasSubstr("System error 1058"));
  EXPECT_THAT(machine.RunningServices(), ElementsAre("MSSQLServer"));

  EXPECT_EQ(machine.Run("net.exe use X: \\\\server\\share").status, 2);
}

// ------------------------------------------ installers of the setup media

class BareMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.CreateWithTool({"--no-mdac", "--no-iis", "--no-msde"});
    ASSERT_EQ(machine.Tool({"media", machine.Scratch("media")}).status, 0);
    std::filesystem::create_directories(machine.Scratch("media/IIS"));
    std::ofstream(machine.Scratch("media/IIS/IIS.txt")) << "[Components]\r\niis_common = ON\r\n"
                                                           "iis_www = ON\r\n";
    ASSERT_EQ(machine.Tool({"mount", machine.root(), "D:", machine.Scratch("media")}).status, 0);
  }

  TestMachine machine;
};

TEST_F(BareMachineTest, SysocmgrInstallsAndStartsTheWebServerTheAnswerFileSelects) {
  const ToolResult result = machine.Run(
      "sysocmgr.exe /i:\"C:\\WINDOWS\\inf\\sysoc.inf\" /u:\"D:\\IIS\\IIS.txt\"", "D:\\");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(machine.RegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start"), "2");
  EXPECT_TRUE(std::filesystem::is_directory(machine.Posix("C:\\Inetpub\\wwwroot")));
  EXPECT_THAT(machine.RunningServices(), ElementsAre("W3SVC"));
  EXPECT_THAT(machine.StandInLog("sysocmgr"),
              ElementsAre(HasSubstr("\"arguments\":\"/i:C:\\\\WINDOWS\\\\inf\\\\sysoc.inf "
                                    "/u:D:\\\\IIS\\\\IIS.txt\""),
                          HasSubstr("\"iis_www\":true")));
}

TEST_F(BareMachineTest, SysocmgrLeavesTheWebServerOutWhenNotSelectedOrNoAnswerFile) {
  machine.WriteFile("D:\\IIS\\Off.txt", "[Components]\r\niis_www = OFF\r\n");
  EXPECT_EQ(machine.Run("sysocmgr.exe /i:C:\\WINDOWS\\inf\\sysoc.inf /u:D:\\IIS\\Off.txt").status,
            0);
  EXPECT_EQ(machine.Run("sysocmgr.exe /i:C:\\WINDOWS\\inf\\sysoc.inf /u:D:\\IIS\\None.txt").status,
            1);
  EXPECT_EQ(machine.Run("sysocmgr.exe /i:C:\\WINDOWS\\inf\\none.inf /u:D:\\IIS\\IIS.txt").status,
            1);
  EXPECT_EQ(machine.Run("sysocmgr.exe /i:C:\\WINDOWS\\inf\\sysoc.inf").status, 2);
  EXPECT_EQ(
      machine.Run("sysocmgr.exe /i:C:\\WINDOWS\\inf\\sysoc.inf /u:D:\\IIS\\IIS.txt /x").status, 2);
  EXPECT_FALSE(machine.RegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Start"));
  EXPECT_THAT(machine.RunningServices(), IsEmpty());
}

TEST_F(BareMachineTest, MdacInstallerSetsA28DataAccessVersion) {
  EXPECT_EQ(machine.Run("MDAC\\MDAC_TYP.exe", "D:\\").status, 0);
  const std::optional<std::string> version =
      machine.RegistryValue("HKLM\\SOFTWARE\\Microsoft\\DataAccess\\Version");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->substr(0, 3), "2.8");
  EXPECT_EQ(machine.Run("MDAC\\MDAC_TYP.exe /q", "D:\\").status, 2);
}

TEST_F(BareMachineTest, MsdeSetupInstallsTheEngineAndClientAndNeverWritesThePassword) {
  const std::string password = "Vk7@Qz3$Hw9#";
  const ToolResult result =
      machine.Run("MSDE\\setup.exe SAPWD=" + password + " DISABLENETWORKPROTOCOLS=1", "D:\\");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(machine.RegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start"),
            "2");
  EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\system32\\osql.exe"));
  EXPECT_TRUE(machine.Exists("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Binn\\sqlservr.exe"));
  EXPECT_TRUE(std::filesystem::exists(machine.root() + "/databases/master.sqlite3"));
  // Installed, not started: the engine needs a restart or "net start".
  EXPECT_THAT(machine.RunningServices(), IsEmpty());
  EXPECT_THAT(machine.StandInLog("setup"),
              Contains(HasSubstr("\"arguments\":\"SAPWD=******** DISABLENETWORKPROTOCOLS=1\"")));

  for (const auto& entry : std::filesystem::recursive_directory_iterator(machine.root())) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(ReadPosixFile(entry.path().string()).find(password), std::string::npos)
        << entry.path();
  }
  EXPECT_THAT(result.out + result.err, Not(HasSubstr(password)));

  // A second run finds the engine in place.
  EXPECT_EQ(machine.Run("MSDE\\setup.exe SAPWD=x", "D:\\").status, 1);
}

TEST_F(BareMachineTest, MsdeSetupRefusesMissingPasswordAndUnknownParameters) {
  EXPECT_EQ(machine.Run("MSDE\\setup.exe DISABLENETWORKPROTOCOLS=1", "D:\\").status, 2);
  EXPECT_EQ(machine.Run("MSDE\\setup.exe SAPWD=x DISABLENETWORKPROTOCOLS=2", "D:\\").status, 2);
  EXPECT_EQ(machine.Run("MSDE\\setup.exe SAPWD=x INSTANCENAME=Other", "D:\\").status, 2);
  EXPECT_FALSE(
      machine.RegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Services\\MSSQLServer\\Start"));
  EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\system32\\osql.exe"));
}

TEST_F(BareMachineTest, OsqlNeedsARunningServer) {
  ASSERT_EQ(machine.Run("MSDE\\setup.exe SAPWD=x DISABLENETWORKPROTOCOLS=1", "D:\\").status, 0);
  const ToolResult before = machine.Run("osql.exe -E -Q \"CREATE DATABASE Zentrel\"");
  EXPECT_EQ(before.status, 1);
  EXPECT_THAT(before.out, HasSubstr("SQL Server does not exist or access denied."));
  ASSERT_EQ(machine.Run("net.exe start MSSQLSERVER").status, 0);
  EXPECT_EQ(machine.Run("osql.exe -E -Q \"CREATE DATABASE Zentrel\"").status, 0);
  EXPECT_TRUE(std::filesystem::exists(machine.root() + "/databases/Zentrel.sqlite3"));
}

// ----------------------------------------------------------------- osql.exe

// The database holds text as UTF-8 whether a program or osql.exe (reading a
// script in the system code page) wrote it; programs and osql's output see
// the system code page.
TEST_F(StandInTest, DatabaseTextIsUtf8FromProgramsAndOsqlAlike) {
  struct Text {
    std::string cp1252;
    std::string utf8;
  };
  const std::vector<Text> texts = {
      {"notepad", "notepad"},
      {"Ren\xE9 M\xFCller", "Ren\xC3\xA9 M\xC3\xBCller"},
      {"\x80 \x9C\xFF", "\xE2\x82\xAC \xC5\x93\xC3\xBF"},
  };
  machine.CreateDatabase();
  const std::string database = machine.root() + "/databases/Zentrel.sqlite3";
  SqliteDatabase sqlite(machine.root() + "/databases");
  auto connection = sqlite.NewConnection();
  connection->Open(kZentrelConnectionString);

  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string by_program = "P" + std::to_string(i) + " " + texts[i].cp1252;
    const std::string by_osql = "O" + std::to_string(i) + " " + texts[i].cp1252;
    connection->Execute("INSERT INTO USERS (user_name) VALUES ('" + by_program + "')");
    machine.WriteFile("C:\\T\\users.sql",
                      "USE Zentrel\r\nGO\r\nINSERT INTO USERS (user_name) VALUES ('" + by_osql +
                          "')\r\nSELECT user_name FROM USERS WHERE user_name = '" + by_program +
                          "'\r\nGO\r\n");
    const ToolResult osql = machine.Run("osql.exe -E -i C:\\T\\users.sql");
    ASSERT_EQ(osql.status, 0) << osql.out;
    EXPECT_THAT(osql.out, HasSubstr(" " + by_program + "\n"));
    EXPECT_THAT(osql.out, HasSubstr("(1 row affected)"));

    // Stored as UTF-8 by either.
    for (const std::string writer : {"P", "O"}) {
      const std::string tag = writer + std::to_string(i);
      EXPECT_EQ(
          QueryValue(database,
                     "SELECT user_name FROM USERS WHERE substr(user_name, 1, 2) = '" + tag + "'"),
          tag + " " + texts[i].utf8);
    }
    // A program finds what osql wrote, and reads it in the code page.
    const auto row =
        connection->Execute("SELECT user_name FROM USERS WHERE user_name = '" + by_osql + "'");
    ASSERT_FALSE(row->Eof());
    EXPECT_EQ(row->Field("user_name"), by_osql);
  }
}

TEST_F(StandInTest, OsqlCreatesFillsAndDropsADatabaseBatchByBatch) {
  machine.WriteFile("C:\\WINDOWS\\Temp\\create.sql", "CREATE DATABASE Zentrel\r\nGO\r\n");
  ASSERT_EQ(machine.Run("osql.exe -E -i \"C:\\WINDOWS\\Temp\\create.sql\"").status, 0);
  std::ifstream schema(SourcePath("companions/database/zentrel_tables.sql"));
  machine.WriteFile(
      "C:\\WINDOWS\\Temp\\tables.sql",
      "USE Zentrel\r\nGO\r\n" + std::string(std::istreambuf_iterator<char>(schema), {}));
  ASSERT_EQ(machine.Run("osql.exe -E -i C:\\WINDOWS\\Temp\\tables.sql").status, 0);

  // The installer's input: statements without ";" one per line, a failing
  // batch in the middle that does not stop the next one.
  machine.WriteFile(
      "C:\\WINDOWS\\Temp\\OSQL.input",
      "USE Zentrel\r\nGO\r\n\r\n"
      "INSERT INTO APPS (app_name) VALUES ('Editor')\r\n"
      "INSERT INTO APP_EXES (exe_path, app_id) VALUES ('C:\\PROGRAM FILES\\EDITOR\\EDIT.EXE', "
      "'1')\r\n"
      "GO\r\n"
      "INSERT INTO NO_SUCH_TABLE VALUES (1)\r\n"
      "GO\r\n"
      "INSERT INTO USERS (user_name, user_status) VALUES ('O''Neil', 'DISABLED')\r\n"
      "GO\r\n");
  const ToolResult filled = machine.Run("osql.exe -E -i \"C:\\WINDOWS\\Temp\\OSQL.input\"");
  EXPECT_EQ(filled.status, 0);
  EXPECT_THAT(filled.out, HasSubstr("Msg 208, Level 16, State 1, Server QUILLON-XP, Line 1\n"
                                    "no such table: NO_SUCH_TABLE"));
  const std::string database = machine.root() + "/databases/Zentrel.sqlite3";
  EXPECT_EQ(QueryValue(database, "SELECT app_id FROM APPS WHERE app_name = 'Editor'"), "1");
  EXPECT_EQ(QueryValue(database, "SELECT app_id FROM APP_EXES"), "1");
  EXPECT_EQ(QueryValue(database, "SELECT user_name FROM USERS"), "O'Neil");
  EXPECT_THAT(machine.StandInLog("osql"),
              Contains(HasSubstr("\"batches\":4,\"failed_batches\":1")));

  const ToolResult again = machine.Run("osql.exe -E -Q \"CREATE DATABASE zentrel\"");
  EXPECT_THAT(again.out, HasSubstr("Msg 1801, Level 16"));
  ASSERT_EQ(machine.Run("osql -E -Q \"DROP DATABASE Zentrel\"").status, 0);
  EXPECT_FALSE(std::filesystem::exists(database));
  EXPECT_FALSE(std::filesystem::exists(database + "-wal"));
  EXPECT_THAT(machine.Run("osql -E -Q \"DROP DATABASE Zentrel\"").out,
              HasSubstr("Msg 3701, Level 11"));
}

TEST_F(StandInTest, OsqlSelectsCatalogsAndStopsAtTheFirstErrorOnlyWithB) {
  ASSERT_EQ(machine.Run("osql -E -Q \"CREATE DATABASE One\"").status, 0);
  machine.WriteFile("C:\\T\\in.sql",
                    "USE Missing\nGO\nUSE One\nCREATE TABLE T (v)\nINSERT INTO T VALUES (1)\nGO\n"
                    "SELECT v FROM T\nGO\n");
  const ToolResult result = machine.Run("osql -E -i C:\\T\\in.sql");
  EXPECT_EQ(result.status, 0);
  EXPECT_THAT(result.out, HasSubstr("Msg 911"));
  EXPECT_THAT(result.out, HasSubstr(" v\n -\n 1\n(1 row affected)"));

  const ToolResult stopped = machine.Run("osql -E -b -i C:\\T\\in.sql");
  EXPECT_EQ(stopped.status, 1);
  EXPECT_EQ(QueryValue(machine.root() + "/databases/One.sqlite3", "SELECT COUNT(*) FROM T"), "1");

  EXPECT_EQ(machine.Run("osql -E -d One -Q \"SELECT COUNT(*) AS n FROM T\"").status, 0);
  EXPECT_EQ(machine.Run("osql -U sa -P x -Q \"SELECT 1\"").status, 2);
  EXPECT_EQ(machine.Run("osql -Q \"SELECT 1\"").status, 2);
  EXPECT_EQ(machine.Run("osql -E").status, 2);
  EXPECT_EQ(machine.Run("osql -E -S otherhost -Q \"SELECT 1\"").status, 1);
  EXPECT_EQ(machine.Run("osql -E -i C:\\T\\missing.sql").status, 1);
}

// ------------------------------------------------------ regini and cacls

TEST_F(StandInTest, ReginiRecordsEachKeysAccessList) {
  machine.WriteFile("D:\\RegINI\\RegINI.txt",
                    "\\Registry\\Machine\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows "
                    "[1 5 7 17]\r\n");
  EXPECT_EQ(machine.Run("cmd /c regini.exe \"D:\\RegINI\\RegINI.txt\"").status, 0);
  EXPECT_THAT(
      machine.StandInLog("regini"),
      ElementsAre(HasSubstr("\"arguments\""),
                  HasSubstr("\"key\":\"\\\\Registry\\\\Machine\\\\SOFTWARE\\\\Microsoft\\\\"
                            "Windows NT\\\\CurrentVersion\\\\Windows\",\"acl\":\"1 5 7 17\"")));

  EXPECT_EQ(machine.Run("regini.exe D:\\RegINI\\Missing.txt").status, 2);
  EXPECT_EQ(machine.Run("regini.exe -m \\\\other D:\\RegINI\\RegINI.txt").status, 2);
}

TEST_F(StandInTest, CaclsAppliesAReplacementOnlyWhenStandardInputConfirms) {
  machine.WriteFile("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe", "x");
  machine.WriteFile("D:\\Cacls\\Yes.txt", "Y\r\n");
  machine.WriteFile("D:\\Cacls\\No.txt", "N\r\n");
  const std::string grant =
      "cmd /c cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\" /T /C /G Administrators:F "
      "SYSTEM:F < ";
  EXPECT_EQ(machine.Run(grant + "\"D:\\Cacls\\Yes.txt\"").status, 0);
  EXPECT_EQ(machine.Run(grant + "\"D:\\Cacls\\No.txt\"").status, 0);
  EXPECT_EQ(machine.Run("cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\" /G Users:R").status, 0);
  const std::vector<std::string> log = machine.StandInLog("cacls");
  ASSERT_EQ(log.size(), 6u);
  EXPECT_THAT(log[1], HasSubstr("\"grants\":[\"Administrators:F\",\"SYSTEM:F\"]"));
  EXPECT_THAT(log[1], HasSubstr("\"confirmed\":true,\"applied\":true"));
  EXPECT_THAT(log[3], HasSubstr("\"confirmed\":false,\"applied\":false"));
  EXPECT_THAT(log[5], HasSubstr("\"confirmed\":false,\"applied\":false"));  // empty input
}

TEST_F(StandInTest, CaclsEditsWithoutAQuestionAndReportsMissingPaths) {
  machine.WriteFile("C:\\Program Files\\Harlwick\\Zentrel\\Logs\\keep", "");
  EXPECT_EQ(machine
                .Run("cmd /c cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\\Logs\" /T /E /C /G "
                     "\"Power Users\":C Users:C Guests:C")
                .status,
            0);
  EXPECT_THAT(machine.StandInLog("cacls").back(),
              HasSubstr("\"grants\":[\"Power Users:C\",\"Users:C\",\"Guests:C\"],"));
  EXPECT_THAT(machine.StandInLog("cacls").back(), HasSubstr("\"applied\":true"));
  EXPECT_EQ(machine.Run("cacls.exe C:\\Nowhere /E /G Users:R").status, 2);
  EXPECT_THAT(machine.StandInLog("cacls").back(), HasSubstr("\"found\":false"));
}

// ------------------------------------------ WordPad, the browser, programs

TEST_F(StandInTest, WordpadAndBrowserRecordWhatTheyWereAskedToOpen) {
  machine.WriteFile("D:\\EULA.rtf", "{\\rtf1}");
  EXPECT_EQ(
      machine.Run("\"C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe\" \"D:\\EULA.rtf\"")
          .status,
      0);
  EXPECT_THAT(machine.StandInLog("wordpad").back(),
              HasSubstr("\"document\":\"D:\\\\EULA.rtf\",\"exists\":true"));
  EXPECT_EQ(machine
                .Run("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" "
                     "http://QUILLON-XP/Zentrel/")
                .status,
            0);
  EXPECT_THAT(machine.StandInLog("iexplore").back(),
              HasSubstr("\"address\":\"http://QUILLON-XP/Zentrel/\""));
  EXPECT_EQ(
      machine.Run("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -k http://x/").status, 2);
}

TEST_F(StandInTest, OrdinaryProgramsRunUntilTheirTimeIsUp) {
  machine.environment["QUILLON_IDLE_SECONDS"] = "0";
  EXPECT_EQ(machine.Run("notepad.exe C:\\notes.txt").status, 0);
  EXPECT_THAT(machine.StandInLog("notepad"),
              ElementsAre(HasSubstr("\"arguments\":\"C:\\\\notes.txt\"")));
}

TEST_F(StandInTest, StandInsRefuseToRunOutsideAMachine) {
  const std::string net = machine.Posix("C:\\WINDOWS\\system32\\net.exe");
  const int status =
      std::system(("env -u QUILLON_MACHINE '" + net + "' start 2>/dev/null").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace quillon::testing

// How the stand-ins read what they are given: the command interpreter's
// command and redirection, the database client's batches and server
// statements, the permission tools' arguments and scripts, the optional
// component manager's answer file and the AppInit_DLLs list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "shared/helpers/text.h"
#include "shared/posix/catalog_files.h"
#include "support/answer_file.h"
#include "support/app_init.h"
#include "support/command_text.h"
#include "support/osql_script.h"
#include "support/permission_tools.h"
#include "support/shortcut.h"
#include "support/usage_error.h"

namespace quillon::machine {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(InterpreterCommandTest, JoinedTokensSplitBackIntoTheSameTokens) {
  const std::vector<std::vector<std::string>> cases = {
      {"cacls.exe", "C:\\Program Files\\Harlwick\\Zentrel", "/T", "/G", "Power Users:C"},
      {"wscript.exe", "D:\\Program Files\\x\\Install Zentrel Database.vbs"},
      {"tool.exe", "", "ends in backslash\\", "say \"hi\"", "C:\\plain\\"},
  };
  for (const auto& tokens : cases) {
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(tokens)), tokens);
  }
  EXPECT_EQ(JoinCommandLine({"net.exe", "start", "W3SVC"}), "net.exe start W3SVC");
}

// Found by fuzzing: a quoted program name had its trailing backslashes
// doubled, though a program name takes backslashes as they stand.
TEST(InterpreterCommandTest, AProgramNameWithBlanksAndBackslashesSplitsBackUnchanged) {
  const std::vector<std::vector<std::string>> cases = {
      {"]a\\ c\\cmd.e\\", "", "x"},
      {"C:\\Program Files\\Tools\\", "a\\"},
      {"", "\"\\"},
  };
  for (const auto& tokens : cases) {
    EXPECT_EQ(SplitCommandLine(JoinCommandLine(tokens)), tokens) << JoinCommandLine(tokens);
  }
}

TEST(InterpreterCommandTest, TakesInputRedirectionApartFromTheCommand) {
  const InterpreterCommand separate =
      ParseInterpreterCommand({"cacls.exe", "C:\\Program Files\\Harlwick\\Zentrel", "/T", "/C",
                               "/G", "Administrators:F", "SYSTEM:F", "<", "D:\\Cacls\\Yes.txt"});
  EXPECT_EQ(
      separate.command_line,
      "cacls.exe \"C:\\Program Files\\Harlwick\\Zentrel\" /T /C /G Administrators:F SYSTEM:F");
  EXPECT_EQ(separate.input_file, "D:\\Cacls\\Yes.txt");

  const InterpreterCommand attached = ParseInterpreterCommand({"<D:\\in.txt", "sort.exe"});
  EXPECT_EQ(attached.command_line, "sort.exe");
  EXPECT_EQ(attached.input_file, "D:\\in.txt");

  EXPECT_FALSE(ParseInterpreterCommand({"regini.exe", "D:\\RegINI\\RegINI.txt"}).input_file);
}

TEST(InterpreterCommandTest, RefusesWhatItDoesNotCarryOut) {
  for (const std::vector<std::string>& tokens :
       std::vector<std::vector<std::string>>{{"a.exe", ">", "out.txt"},
                                             {"a.exe", ">>out.txt"},
                                             {"a.exe", "|", "b.exe"},
                                             {"a.exe", "&&", "b.exe"},
                                             {"a.exe", "&", "b.exe"},
                                             {"a.exe", "2>nul"},
                                             {"a.exe", "<"},
                                             {"a.exe", "<", "x", "<", "y"},
                                             {"<", "x"},
                                             {}}) {
    EXPECT_THROW(ParseInterpreterCommand(tokens), UsageError) << JoinCommandLine(tokens);
  }
}

// Found by fuzzing: a shortcut's target that ends in a backslash was started
// with the backslash doubled.
TEST(ShortcutTest, TheCommandLineStartsExactlyTheTargetAndTheBrowser) {
  const auto variable = [](const std::string& name) { return name == "HOME" ? "C:\\Home" : ""; };
  for (const std::string target : {"C:\\Program Files\\Tools\\", "%HOME%\\a b.exe", "x.exe"}) {
    const std::optional<ShortcutCommand> command =
        ShortcutFor("Tools.lnk", "[Shortcut]\r\nTarget=" + target + "\r\nArguments=a \"b c\"\r\n",
                    "C:\\Browser\\", variable);
    ASSERT_TRUE(command) << target;
    const std::string expanded = target == "%HOME%\\a b.exe" ? "C:\\Home\\a b.exe" : target;
    EXPECT_THAT(SplitCommandLine(command->command_line), ElementsAre(expanded, "a", "b c"));
  }
  const std::optional<ShortcutCommand> site = ShortcutFor(
      "Site.url", "[InternetShortcut]\nURL=http://localhost/\n", "C:\\Browser\\", variable);
  ASSERT_TRUE(site);
  EXPECT_THAT(SplitCommandLine(site->command_line),
              ElementsAre("C:\\Browser\\", "http://localhost/"));
}

TEST(OsqlScriptTest, SplitsBatchesAtLinesHoldingOnlyGo) {
  const std::vector<OsqlBatch> batches = SplitBatches(
      "USE Zentrel\r\nGO\r\n\r\nINSERT INTO A VALUES ('GO')\r\n  go \t\r\nGOTO x\r\nGO\r\n"
      "\r\n   \r\nGO\r\nSELECT 1");
  ASSERT_EQ(batches.size(), 4u);
  EXPECT_EQ(batches[0].text, "USE Zentrel\n");
  EXPECT_EQ(batches[0].first_line, 1);
  EXPECT_EQ(batches[1].text, "\nINSERT INTO A VALUES ('GO')\n");
  EXPECT_EQ(batches[1].first_line, 3);
  EXPECT_EQ(batches[2].text, "GOTO x\n");
  EXPECT_EQ(batches[2].first_line, 6);
  EXPECT_EQ(batches[3].text, "SELECT 1\n");
  EXPECT_EQ(batches[3].first_line, 11);
  EXPECT_THAT(SplitBatches("GO\n\nGO\n"), IsEmpty());
}

TEST(OsqlScriptTest, ServerStatementsAreStepsOfTheirOwnBetweenSql) {
  const OsqlBatch batch{
      "CREATE DATABASE [Zentrel];\n\nuse Zentrel\nCREATE TABLE T (a)\nINSERT INTO T VALUES (1)\n"
      "  Drop   Database \"Old\"  \nSELECT 'USE x'\n",
      5};
  const std::vector<OsqlStep> steps = SplitSteps(batch);
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(steps[0].kind, OsqlStep::Kind::kCreateDatabase);
  EXPECT_EQ(steps[0].text, "Zentrel");
  EXPECT_EQ(steps[0].line, 5);
  EXPECT_EQ(steps[1].kind, OsqlStep::Kind::kUse);
  EXPECT_EQ(steps[1].text, "Zentrel");
  EXPECT_EQ(steps[1].line, 7);
  EXPECT_EQ(steps[2].kind, OsqlStep::Kind::kSql);
  EXPECT_EQ(steps[2].text, "CREATE TABLE T (a)\nINSERT INTO T VALUES (1)\n");
  EXPECT_EQ(steps[2].line, 8);
  EXPECT_EQ(steps[3].kind, OsqlStep::Kind::kDropDatabase);
  EXPECT_EQ(steps[3].text, "Old");
  EXPECT_EQ(steps[4].kind, OsqlStep::Kind::kSql);
  EXPECT_EQ(steps[4].text, "SELECT 'USE x'\n");
  EXPECT_EQ(steps[4].line, 11);
}

TEST(OsqlScriptTest, CatalogNamesCannotLeadOutOfTheDatabasesFolder) {
  EXPECT_TRUE(IsPlainCatalogName("Zentrel"));
  EXPECT_TRUE(IsPlainCatalogName("my db"));
  for (const char* name : {"", ".", "..", "../x", "a/b", "a\\b"}) {
    EXPECT_FALSE(IsPlainCatalogName(name)) << name;
  }
  EXPECT_FALSE(IsPlainCatalogName(std::string("a\0b", 3)));
}

// A catalog is made once, found again in any letter case, and never through
// a link, which could lead out of the machine.
TEST(OsqlScriptTest, CatalogFilesAreMadeOnceAndNeverThroughALink) {
  namespace fs = std::filesystem;
  const fs::path scratch = fs::temp_directory_path() / ("catalogs-" + std::to_string(getpid()));
  fs::remove_all(scratch);
  fs::create_directories(scratch / "databases");
  const std::string databases = (scratch / "databases").string();

  EXPECT_EQ(CreateCatalogFile(databases, "master"), std::nullopt);
  EXPECT_EQ(CreateCatalogFile(databases, "MASTER"), std::nullopt);
  EXPECT_EQ(CreateCatalogFile(databases, "Zentrel"), std::nullopt);
  std::vector<std::string> made;
  for (const auto& entry : fs::directory_iterator(databases)) {
    made.push_back(entry.path().filename().string());
  }
  std::sort(made.begin(), made.end());
  EXPECT_THAT(made, ElementsAre("Zentrel.sqlite3", "master.sqlite3"));
  EXPECT_EQ(ExistingCatalogFile(databases, "zentrel"), databases + "/Zentrel.sqlite3");

  fs::create_symlink(scratch / "outside.sqlite3", scratch / "databases" / "Linked.sqlite3");
  EXPECT_NE(CreateCatalogFile(databases, "Linked"), std::nullopt);
  EXPECT_FALSE(fs::exists(scratch / "outside.sqlite3"));
  EXPECT_NE(CreateCatalogFile(databases, "../outside"), std::nullopt);
  EXPECT_FALSE(fs::exists(scratch / "outside.sqlite3"));
  fs::remove_all(scratch);
}

TEST(CaclsArgumentsTest, ReadsTheInstallersGrants) {
  const CaclsRequest replace = ParseCaclsArguments(
      {"C:\\Program Files\\Harlwick\\Zentrel", "/T", "/C", "/G", "Administrators:F", "SYSTEM:F"});
  EXPECT_EQ(replace.path, "C:\\Program Files\\Harlwick\\Zentrel");
  EXPECT_TRUE(replace.tree);
  EXPECT_TRUE(replace.continue_on_error);
  EXPECT_FALSE(replace.edit);
  EXPECT_TRUE(replace.NeedsConfirmation());
  EXPECT_THAT(replace.grants, ElementsAre("Administrators:F", "SYSTEM:F"));

  const CaclsRequest edit =
      ParseCaclsArguments({"C:\\x\\Logs", "/t", "/e", "/c", "/g", "Power Users:c", "Users:C",
                           "Guests:C", "/R", "Everyone"});
  EXPECT_TRUE(edit.edit);
  EXPECT_FALSE(edit.NeedsConfirmation());
  EXPECT_THAT(edit.grants, ElementsAre("Power Users:C", "Users:C", "Guests:C"));
  EXPECT_THAT(edit.revokes, ElementsAre("Everyone"));
}

TEST(CaclsArgumentsTest, RefusesWhatItDoesNotUnderstand) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{},
                                             {"/T", "x"},
                                             {"C:\\x"},        // showing a list is not supported
                                             {"C:\\x", "/G"},  // no user
                                             {"C:\\x", "/G", "Users"},    // no right
                                             {"C:\\x", "/G", "Users:N"},  // N is for /P only
                                             {"C:\\x", "/G", "Users:CF"},
                                             {"C:\\x", "/X", "/G", "Users:R"},  // unknown switch
                                             {"C:\\x", "Users:R"},         // user outside a list
                                             {"C:\\x", "/R", "Users"}}) {  // /R needs /E
    EXPECT_THROW(ParseCaclsArguments(arguments), UsageError) << JoinCommandLine(arguments);
  }
  EXPECT_NO_THROW(ParseCaclsArguments({"C:\\x", "/P", "Users:N"}));
}

TEST(CaclsArgumentsTest, OnlyAnAnswerBeginningWithYConfirms) {
  EXPECT_TRUE(IsConfirmation("Y"));
  EXPECT_TRUE(IsConfirmation("  yes\r"));
  EXPECT_FALSE(IsConfirmation("N"));
  EXPECT_FALSE(IsConfirmation(""));
  EXPECT_FALSE(IsConfirmation("ok"));
}

TEST(ReginiScriptTest, RecordsEachKeysAccessListWithNestedKeys) {
  const std::vector<ReginiGrant> grants = ParseReginiScript(
      "; permissions for the checker\r\n"
      "\\Registry\\Machine\\SOFTWARE\\Harlwick [1 5 7 17]\r\n"
      "    Zentrel [1  5 8]\r\n"
      "        Deeper\r\n"
      "            Leaf [2]\r\n"
      "    Other [17]\r\n"
      "\r\n"
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Top\r\n");
  ASSERT_EQ(grants.size(), 4u);
  EXPECT_EQ(grants[0].key, "\\Registry\\Machine\\SOFTWARE\\Harlwick");
  EXPECT_EQ(grants[0].acl, "1 5 7 17");
  EXPECT_EQ(grants[1].key, "\\Registry\\Machine\\SOFTWARE\\Harlwick\\Zentrel");
  EXPECT_EQ(grants[1].acl, "1 5 8");
  EXPECT_EQ(grants[2].key, "\\Registry\\Machine\\SOFTWARE\\Harlwick\\Zentrel\\Deeper\\Leaf");
  EXPECT_EQ(grants[3].key, "\\Registry\\Machine\\SOFTWARE\\Harlwick\\Other");
}

TEST(ReginiScriptTest, RefusesValueLinesAndMalformedLists) {
  for (const char* script :
       {"\\Registry\\Machine\\SOFTWARE\\X\n    Value = REG_SZ text\n",
        "\\Registry\\Machine\\SOFTWARE\\X [1 5\n", "\\Registry\\Machine\\SOFTWARE\\X [a]\n",
        "\\Registry\\Machine\\SOFTWARE\\X []\n", "\\Registry\\Machine\\SOFTWARE\\X [1] trailing\n",
        "Relative [1]\n"}) {
    EXPECT_THROW(ParseReginiScript(script), UsageError) << script;
  }
}

TEST(AnswerFileTest, SelectsTheWebServerOnlyWhenIisWwwIsOn) {
  EXPECT_TRUE(SelectsWebServer("[Components]\r\niis_common = ON\r\niis_www = ON\r\n"));
  EXPECT_TRUE(SelectsWebServer("; unattended\n[ components ]\nIIS_WWW=on\n"));
  EXPECT_FALSE(SelectsWebServer("[Components]\niis_www = OFF\n"));
  EXPECT_FALSE(SelectsWebServer("[Components]\niis_common = ON\n"));
  EXPECT_FALSE(SelectsWebServer("[Other]\niis_www = ON\n[Components]\n"));
  EXPECT_FALSE(SelectsWebServer("[Components]\n;iis_www = ON\n"));
  EXPECT_FALSE(SelectsWebServer("[Components]\niis_www = ON\niis_www = OFF\n"));
}

TEST(AnswerFileTest, ReadsValuesBySectionAndKeyWithoutRegardToCase) {
  const std::string text = "[A]\nkey = one\n[B]\nKEY= two \n";
  EXPECT_EQ(IniValue(text, "a", "KEY"), "one");
  EXPECT_EQ(IniValue(text, "B", "key"), "two");
  EXPECT_FALSE(IniValue(text, "C", "key"));
}

TEST(AppInitTest, ListsEntriesSeparatedByBlanksOrCommas) {
  EXPECT_THAT(SplitLibraryList(""), IsEmpty());
  EXPECT_THAT(SplitLibraryList("  "), IsEmpty());
  EXPECT_THAT(SplitLibraryList("Zentrel.dll"), ElementsAre("Zentrel.dll"));
  EXPECT_THAT(SplitLibraryList("a.dll, b.dll,,c.dll d.dll"),
              ElementsAre("a.dll", "b.dll", "c.dll", "d.dll"));
  EXPECT_EQ(LibraryPath("C:\\WINDOWS", "Zentrel.dll"), "C:\\WINDOWS\\system32\\Zentrel.dll");
  EXPECT_EQ(LibraryPath("C:\\WINDOWS", "C:\\Tools\\hook.dll"), "C:\\Tools\\hook.dll");
}

}  // namespace
}  // namespace quillon::machine

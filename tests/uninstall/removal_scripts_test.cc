// The media's removal scripts run on a machine root built by hand: what each
// takes away, what it leaves, and how it behaves without its prerequisites.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "shared/posix/portable_machine.h"
#include "support/test_machine.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::ReadPosixFile;
using testing::WritePosixFile;

const fs::path kScripts = fs::path(QUILLON_SOURCE_DIR) / "companions" / "scripts";
const fs::path kWebSiteScript = kScripts / "Remove Zentrel Web Site.vbs";
const fs::path kDatabaseScript = kScripts / "Remove Zentrel Database.vbs";

class RemovalScriptTest : public ::testing::Test {
 protected:
  // Runs a script the way the script host does: /bin/sh on the file, no
  // arguments, the machine's environment (MachineEnvironment). Returns its
  // exit status.
  int RunScript(const fs::path& script, const std::string& environment) {
    const std::string command = "env -i PATH=/usr/bin:/bin " + environment + " /bin/sh '" +
                                script.string() + "' >'" + (root_ / "out.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    output_ = ReadPosixFile(root_ / "out.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The environment the script host gives a script: the machine, windir,
  // and the machine's windir\system32 and windir first on PATH. The
  // machine's system32 gets the built command interpreter, as a machine has.
  std::string MachineEnvironment(const std::string& windir = "C:\\WINDOWS") const {
    const PortableMachine machine(root_.string(), "removal_scripts_test");
    const std::string system32 = machine.Map(windir + "\\system32")->posix;
    testing::MakePosixFolders(system32);
    fs::copy_file(testing::BinPath("stand-ins/cmd.exe"), fs::path(system32) / "cmd.exe",
                  fs::copy_options::overwrite_existing);
    const std::string windows = machine.Map(windir)->posix;
    return "QUILLON_MACHINE='" + root_.string() + "' windir='" + windir + "' PATH='" + system32 +
           ":" + windows + ":/usr/bin:/bin'";
  }

  testing::TemporaryFolder folder_;
  fs::path root_ = folder_.path();
  std::string output_;
};

TEST_F(RemovalScriptTest, WebSiteScriptRemovesOnlyTheSiteFolderWhateverTheCaseOfItsPath) {
  const fs::path web_root = root_ / "drive_c" / "INETPUB" / "wwwRoot";
  WritePosixFile(web_root / "zentrel" / "Default.asp", "<% %>");
  WritePosixFile(web_root / "zentrel" / "Users" / "Edit.asp", "<% %>");
  WritePosixFile(web_root / "Other" / "index.htm", "other site");
  WritePosixFile(web_root / "Zentrel.txt", "a file beside the site");

  EXPECT_EQ(RunScript(kWebSiteScript, MachineEnvironment()), 0) << output_;

  EXPECT_FALSE(fs::exists(web_root / "zentrel"));
  EXPECT_EQ(ReadPosixFile(web_root / "Other" / "index.htm"), "other site");
  EXPECT_EQ(ReadPosixFile(web_root / "Zentrel.txt"), "a file beside the site");
  EXPECT_THAT(output_, ::testing::HasSubstr("removed C:\\Inetpub\\wwwroot\\Zentrel"));
}

TEST_F(RemovalScriptTest, WebSiteScriptSucceedsWhenTheSiteIsAlreadyGone) {
  fs::create_directories(root_ / "drive_c" / "Inetpub" / "wwwroot");

  EXPECT_EQ(RunScript(kWebSiteScript, MachineEnvironment()), 0) << output_;
  EXPECT_EQ(RunScript(kWebSiteScript, MachineEnvironment()), 0) << output_;

  EXPECT_TRUE(fs::is_directory(root_ / "drive_c" / "Inetpub" / "wwwroot"));
  EXPECT_THAT(output_, ::testing::HasSubstr("no web site"));
}

TEST_F(RemovalScriptTest, WebSiteScriptLooksOnTheSystemDrive) {
  WritePosixFile(root_ / "drive_c" / "Inetpub" / "wwwroot" / "Zentrel" / "Default.asp", "c");
  WritePosixFile(root_ / "drive_d" / "Inetpub" / "wwwroot" / "Zentrel" / "Default.asp", "d");

  EXPECT_EQ(RunScript(kWebSiteScript, MachineEnvironment("D:\\WINNT")), 0) << output_;

  EXPECT_FALSE(fs::exists(root_ / "drive_d" / "Inetpub" / "wwwroot" / "Zentrel"));
  EXPECT_TRUE(fs::exists(root_ / "drive_c" / "Inetpub" / "wwwroot" / "Zentrel" / "Default.asp"));
}

TEST_F(RemovalScriptTest, ScriptsRefuseToRunOutsideAMachine) {
  WritePosixFile(root_ / "drive_c" / "Inetpub" / "wwwroot" / "Zentrel" / "Default.asp", "site");

  EXPECT_EQ(RunScript(kWebSiteScript, "windir='C:\\WINDOWS'"), 2);
  EXPECT_THAT(output_, ::testing::HasSubstr("QUILLON_MACHINE"));
  EXPECT_EQ(RunScript(kDatabaseScript, "windir='C:\\WINDOWS'"), 2);
  EXPECT_THAT(output_, ::testing::HasSubstr("QUILLON_MACHINE"));

  EXPECT_TRUE(fs::exists(root_ / "drive_c" / "Inetpub" / "wwwroot" / "Zentrel" / "Default.asp"));
}

// A recording client in the machine's system folder: it writes its arguments,
// one per line, and ends with the status given.
void InstallRecordingClient(const fs::path& system32, int status) {
  const fs::path client = system32 / "osql.exe";
  WritePosixFile(client,
                 "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$(dirname "
                 "\"$0\")/osql-args.txt\"\nexit " +
                     std::to_string(status) + "\n",
                 0744);
}

TEST_F(RemovalScriptTest, DatabaseScriptDropsTheDatabaseThroughTheMachinesClient) {
  const fs::path system32 = root_ / "drive_c" / "windows" / "System32";
  InstallRecordingClient(system32, 0);

  EXPECT_EQ(RunScript(kDatabaseScript, MachineEnvironment()), 0) << output_;

  EXPECT_EQ(ReadPosixFile(system32 / "osql-args.txt"), "-E\n-Q\nDROP DATABASE Zentrel\n");
}

TEST_F(RemovalScriptTest, DatabaseScriptEndsWithTheClientsStatus) {
  InstallRecordingClient(root_ / "drive_c" / "WINDOWS" / "system32", 1);

  EXPECT_EQ(RunScript(kDatabaseScript, MachineEnvironment()), 1);
  EXPECT_THAT(output_, ::testing::HasSubstr("status 1"));
}

TEST_F(RemovalScriptTest, DatabaseScriptWithoutTheEngineSaysSoAndFails) {
  fs::create_directories(root_ / "drive_c" / "WINDOWS" / "system32");

  EXPECT_EQ(RunScript(kDatabaseScript, MachineEnvironment()), 1);
  EXPECT_THAT(output_, ::testing::HasSubstr("C:\\WINDOWS\\system32\\osql.exe is not installed"));
}

}  // namespace
}  // namespace quillon

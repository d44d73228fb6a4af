// Uninstall against the recording fakes: the exact order of its changes on an
// installed machine, what stays behind, how a failure before the Start Menu
// group ends it, and how failures afterwards cost only their own operation.
#include "uninstall/uninstaller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_host.h"
#include "shared/helpers/text.h"
#include "shared/program_main.h"

namespace quillon {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeMachine;

constexpr char kAppInitDlls[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";
constexpr char kRegistration[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zentrel";
constexpr char kProduct[] = "C:\\Program Files\\Harlwick\\Zentrel";
constexpr char kUninstallFolder[] = "C:\\Program Files\\Harlwick\\Zentrel\\Uninstall";
constexpr char kWebSiteScript[] =
    "C:\\Program Files\\Harlwick\\Zentrel\\Uninstall\\Remove Zentrel Web Site\\Remove Zentrel "
    "Web Site.vbs";
constexpr char kDatabaseScript[] =
    "C:\\Program Files\\Harlwick\\Zentrel\\Uninstall\\Remove Zentrel Database\\Remove Zentrel "
    "Database.vbs";
constexpr char kStartMenuGroup[] =
    "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\Quillon";
constexpr char kLibrary[] = "C:\\WINDOWS\\system32\\Zentrel.dll";
constexpr char kRetired[] = "C:\\WINDOWS\\system32\\Zentrel.dll.old";

const std::vector<std::string> kRegistrationValues = {"DisplayIcon", "DisplayName", "NoModify",
                                                      "NoRepair", "UninstallString"};

std::string P(const std::string& relative) {
  return std::string(kProduct) + "\\" + relative;
}
std::string ScriptCommand(const std::string& script) {
  return "cmd.exe /c wscript.exe \"" + script + "\"";
}
std::string ScriptRun(const std::string& script) {
  return "Run " + ScriptCommand(script) + " style=0 wait=true";
}
const char kCompletion[] =
    "MsgBox 64 \"Uninstall Quillon\" \"Quillon uninstall completed successfully.\" -> 1";

class UninstallTest : public ::testing::Test {
 protected:
  // A machine as Setup leaves it: hooking on, the registration, the product
  // tree with its Uninstall folder, the Start Menu group, the hook library.
  void SetUp() override {
    machine_.shell.SetValue(kAppInitDlls, "Zentrel.dll");
    machine_.shell.SetValue(std::string(kRegistration) + "\\DisplayIcon",
                            P("Uninstall\\Uninstall.exe"));
    machine_.shell.SetValue(std::string(kRegistration) + "\\DisplayName", "Quillon");
    machine_.shell.SetValue(std::string(kRegistration) + "\\NoModify", "1", "REG_DWORD");
    machine_.shell.SetValue(std::string(kRegistration) + "\\NoRepair", "1", "REG_DWORD");
    machine_.shell.SetValue(std::string(kRegistration) + "\\UninstallString",
                            P("Uninstall\\Uninstall.exe"));

    machine_.files.AddFile(P("Zentrel.exe"), "checker");
    machine_.files.AddFile(P("Zentrel.ini"), "admin@example.com\r\nmail\r\n", true);
    machine_.files.AddFile(P("Corvane.exe"), "mailer");
    machine_.files.AddFile(P("Dusmere.exe"), "tool");
    machine_.files.AddFile(P("Logs\\Access.log"), "line\r\n", true);
    machine_.files.AddFile(P("Config\\ZentrelConfig.exe"), "switch");
    machine_.files.AddFile(P("Uninstall\\Uninstall.exe"), "uninstaller");
    machine_.files.AddFile(P("Uninstall\\Readme.txt"), "read me");
    machine_.files.AddFile(kWebSiteScript, "remove site");
    machine_.files.AddFile(kDatabaseScript, "remove database");

    machine_.files.AddFile(std::string(kStartMenuGroup) + "\\Uninstall Quillon.lnk");
    machine_.files.AddFile(std::string(kStartMenuGroup) + "\\Zentrel Administration.url");

    machine_.files.AddFile(kLibrary, "hook library");
  }

  int RunUninstaller() {
    Host host = machine_.host();
    return RunProgramBody(host, "Uninstall", "", RunUninstall);
  }

  // The journal of a complete run on the machine of SetUp.
  static std::vector<std::string> FullRun() {
    std::vector<std::string> journal = {
        std::string("RegWrite ") + kAppInitDlls + " = \"\" REG_SZ",
        ScriptRun(kWebSiteScript),
        ScriptRun(kDatabaseScript),
        std::string("DeleteFolder ") + kStartMenuGroup,
    };
    for (const auto& value : kRegistrationValues) {
      journal.push_back(std::string("RegDelete ") + kRegistration + "\\" + value);
    }
    const std::vector<std::string> rest = {
        "DeleteFile " + P("Corvane.exe"),
        "DeleteFile " + P("Dusmere.exe"),
        "DeleteFile " + P("Zentrel.exe"),
        "DeleteFile " + P("Zentrel.ini"),
        "DeleteFolder " + P("Config"),
        "DeleteFolder " + P("Logs"),
        "DeleteFolder " + P("Uninstall\\Remove Zentrel Database"),
        "DeleteFolder " + P("Uninstall\\Remove Zentrel Web Site"),
        std::string("MoveFile ") + kLibrary + " -> " + kRetired,
        kCompletion,
    };
    journal.insert(journal.end(), rest.begin(), rest.end());
    return journal;
  }

  std::string ErrorBox(const std::string& text) const {
    return "MsgBox 16 \"Uninstall\" \"" + text + "\" -> 1";
  }
  bool RegistrationValuePresent(const std::string& value) const {
    return machine_.shell.Value(std::string(kRegistration) + "\\" + value).has_value();
  }

  FakeMachine machine_;
};

// -------------------------------------------------------------- complete run

TEST_F(UninstallTest, RemovesTheProductInItsOrderAndReportsCompletion) {
  EXPECT_EQ(RunUninstaller(), 0);

  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(FullRun()));
}

TEST_F(UninstallTest, LeavesExactlyTheUninstallFolderTheMakersFolderAndTheRetiredLibrary) {
  ASSERT_EQ(RunUninstaller(), 0);

  EXPECT_THAT(machine_.files.Tree(),
              ElementsAre("C:\\", "C:\\Documents and Settings\\",
                          "C:\\Documents and Settings\\Administrator\\",
                          "C:\\Documents and Settings\\Administrator\\Start Menu\\",
                          "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\",
                          "C:\\Program Files\\", "C:\\Program Files\\Harlwick\\",
                          "C:\\Program Files\\Harlwick\\Zentrel\\",
                          "C:\\Program Files\\Harlwick\\Zentrel\\Uninstall\\",
                          "C:\\Program Files\\Harlwick\\Zentrel\\Uninstall\\Readme.txt",
                          "C:\\Program Files\\Harlwick\\Zentrel\\Uninstall\\Uninstall.exe",
                          "C:\\WINDOWS\\", "C:\\WINDOWS\\Temp\\", "C:\\WINDOWS\\system32\\",
                          "C:\\WINDOWS\\system32\\Zentrel.dll.old", "D:\\"));
  EXPECT_EQ(machine_.files.Content(kRetired), "hook library");
  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "");
  EXPECT_EQ(machine_.shell.ValueType(kAppInitDlls), "REG_SZ");
  EXPECT_TRUE(machine_.shell.KeyExists(kRegistration));
  for (const auto& value : kRegistrationValues) {
    EXPECT_FALSE(RegistrationValuePresent(value)) << value;
  }
}

TEST_F(UninstallTest, TurnsOffAValueListingOtherLibrariesToo) {
  machine_.shell.SetValue(kAppInitDlls, "Other.dll zentrel.dll");

  ASSERT_EQ(RunUninstaller(), 0);

  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "");
}

TEST_F(UninstallTest, RunsBothScriptsWithHookingOffBeforeAnythingIsDeleted) {
  // What each script command finds when it runs.
  std::vector<std::string> seen;
  machine_.shell.OnRun([&](const std::string& command, int, bool) {
    seen.push_back(command + " hooking=" + machine_.shell.Value(kAppInitDlls).value_or("?") +
                   " site=" + (machine_.files.FileExists(kWebSiteScript) ? "yes" : "no") +
                   " database=" + (machine_.files.FileExists(kDatabaseScript) ? "yes" : "no") +
                   " group=" + (machine_.files.FolderExists(kStartMenuGroup) ? "yes" : "no") +
                   " checker=" + (machine_.files.FileExists(P("Zentrel.exe")) ? "yes" : "no"));
  });

  ASSERT_EQ(RunUninstaller(), 0);

  const std::string found = " hooking= site=yes database=yes group=yes checker=yes";
  EXPECT_THAT(seen, ElementsAre(ScriptCommand(kWebSiteScript) + found,
                                ScriptCommand(kDatabaseScript) + found));
}

// ------------------------------------------------------------------ edge cases

class UninstallFolderNameTest : public UninstallTest,
                                public ::testing::WithParamInterface<std::string> {};

TEST_P(UninstallFolderNameTest, TheUninstallFolderInAnyCaseStaysAndLosesOnlyItsSubfolders) {
  // The product's Uninstall folder stored under another spelling.
  const std::string folder = std::string(kProduct) + "\\" + GetParam();
  machine_.files.DeleteFolder(kUninstallFolder, true);
  machine_.files.AddFile(folder + "\\Uninstall.exe", "uninstaller");
  machine_.files.AddFile(folder + "\\Remove Zentrel Web Site\\Remove Zentrel Web Site.vbs");
  machine_.files.AddFile(folder + "\\Remove Zentrel Database\\Remove Zentrel Database.vbs");
  machine_.files.AddFile(folder + "\\Extra\\Deep\\file.txt");
  machine_.journal.Clear();

  ASSERT_EQ(RunUninstaller(), 0);

  EXPECT_TRUE(machine_.files.FolderExists(folder));
  EXPECT_EQ(machine_.files.StoredName(folder), GetParam());
  EXPECT_EQ(machine_.files.Content(folder + "\\Uninstall.exe"), "uninstaller");
  EXPECT_EQ(machine_.files.GetFolder(folder).sub_folders.size(), 0u);
  EXPECT_THAT(machine_.journal.Starting("DeleteFolder " + folder),
              ElementsAre("DeleteFolder " + folder + "\\Extra",
                          "DeleteFolder " + folder + "\\Remove Zentrel Database",
                          "DeleteFolder " + folder + "\\Remove Zentrel Web Site"));
}

INSTANTIATE_TEST_SUITE_P(Spellings, UninstallFolderNameTest,
                         ::testing::Values("Uninstall", "UNINSTALL", "uninstall", "UnInstall"));

TEST_F(UninstallTest, DeletesSubfoldersWhoseNamesOnlyResembleUninstall) {
  for (const char* name : {"Uninstallx", "Uninstall2", "Old Uninstall", "Uninstal"}) {
    machine_.files.AddFile(P(std::string(name) + "\\file.txt"));
  }

  ASSERT_EQ(RunUninstaller(), 0);

  EXPECT_THAT(machine_.files.GetFolder(kProduct).sub_folders,
              ::testing::ElementsAre(::testing::Field(&FolderEntry::name, "Uninstall")));
}

TEST_F(UninstallTest, AnEarlierRetiredLibraryIsReplacedByTheLibrary) {
  machine_.files.AddFile(kRetired, "earlier library");

  ASSERT_EQ(RunUninstaller(), 0);

  EXPECT_THAT(machine_.journal.Starting("DeleteFile C:\\WINDOWS"),
              ElementsAre(std::string("DeleteFile ") + kRetired));
  EXPECT_THAT(machine_.journal.Starting("MoveFile"),
              ElementsAre(std::string("MoveFile ") + kLibrary + " -> " + kRetired));
  EXPECT_FALSE(machine_.files.FileExists(kLibrary));
  EXPECT_EQ(machine_.files.Content(kRetired), "hook library");
}

TEST_F(UninstallTest, WithOnlyARetiredLibraryTheSystemFolderStaysAsItIs) {
  machine_.files.DeleteFile(kLibrary, true);
  machine_.files.AddFile(kRetired, "earlier library");
  machine_.journal.Clear();

  ASSERT_EQ(RunUninstaller(), 0);

  EXPECT_THAT(machine_.journal.Starting("DeleteFile C:\\WINDOWS"), ::testing::IsEmpty());
  EXPECT_THAT(machine_.journal.Starting("MoveFile"), ::testing::IsEmpty());
  EXPECT_EQ(machine_.files.Content(kRetired), "earlier library");
  EXPECT_EQ(machine_.journal.entries().back(), kCompletion);
}

TEST_F(UninstallTest, WithoutTheProductFolderTheRestIsStillDone) {
  machine_.files.DeleteFolder("C:\\Program Files\\Harlwick", true);
  machine_.journal.Clear();

  ASSERT_EQ(RunUninstaller(), 0);

  std::vector<std::string> expected = FullRun();
  std::erase_if(expected, [](const std::string& entry) {
    return entry.find(kProduct) != std::string::npos && entry.rfind("Run ", 0) != 0;
  });
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
  EXPECT_TRUE(machine_.files.FileExists(kRetired));
}

TEST_F(UninstallTest, WithoutTheUninstallFolderTheProductFilesStillGo) {
  machine_.files.DeleteFolder(kUninstallFolder, true);
  machine_.journal.Clear();

  ASSERT_EQ(RunUninstaller(), 0);

  std::vector<std::string> expected = FullRun();
  std::erase_if(expected, [](const std::string& entry) {
    return entry.find(std::string(kUninstallFolder) + "\\Remove") != std::string::npos &&
           entry.rfind("Run ", 0) != 0;
  });
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
  EXPECT_THAT(machine_.files.GetFolder(kProduct).files, ::testing::IsEmpty());
  EXPECT_THAT(machine_.files.GetFolder(kProduct).sub_folders, ::testing::IsEmpty());
}

TEST_F(UninstallTest, ASecondRunDoesOnlyWhatIsLeftAndStillCompletes) {
  ASSERT_EQ(RunUninstaller(), 0);
  machine_.shell.SetValue(kAppInitDlls, "Zentrel.dll");  // hooking turned on again meanwhile
  machine_.journal.Clear();

  EXPECT_EQ(RunUninstaller(), 0);

  std::vector<std::string> expected = {
      std::string("RegWrite ") + kAppInitDlls + " = \"\" REG_SZ",
      ScriptRun(kWebSiteScript),
      ScriptRun(kDatabaseScript),
  };
  for (const auto& value : kRegistrationValues) {
    expected.push_back(std::string("RegDelete ") + kRegistration + "\\" + value + " [failed]");
  }
  expected.push_back(kCompletion);
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "");
  EXPECT_EQ(machine_.files.Content(kRetired), "hook library");
  EXPECT_EQ(machine_.files.Content(P("Uninstall\\Uninstall.exe")), "uninstaller");
}

TEST_F(UninstallTest, AnotherUsersRunLeavesTheInstallingUsersGroup) {
  machine_.shell.SetStartMenu("C:\\Documents and Settings\\Clerk\\Start Menu");

  ASSERT_EQ(RunUninstaller(), 0);

  EXPECT_TRUE(machine_.files.FolderExists(kStartMenuGroup));
  EXPECT_THAT(machine_.journal.Starting("DeleteFolder C:\\Documents"), ::testing::IsEmpty());
  EXPECT_EQ(machine_.journal.entries().back(), kCompletion);
}

TEST_F(UninstallTest, ForcesReadOnlyFilesAndFoldersHoldingThem) {
  ASSERT_EQ(RunUninstaller(), 0);

  EXPECT_FALSE(machine_.files.FileExists(P("Zentrel.ini")));
  EXPECT_FALSE(machine_.files.FolderExists(P("Logs")));
}

// -------------------------------------------- failures while nothing is trapped

struct StopCase {
  std::string operation;
  std::string target;
  std::size_t entries_before;  // journal entries of FullRun() before the failing one
};

void PrintTo(const StopCase& c, std::ostream* out) {
  *out << c.operation << " " << c.target;
}

class UninstallStopTest : public UninstallTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(UninstallStopTest, EndsAtTheFailingStepWithTheErrorReport) {
  machine_.faults.Fail(GetParam().operation, GetParam().target, error_number::kPermissionDenied,
                       "Permission denied");
  const std::vector<std::string> tree_before = machine_.files.Tree();

  EXPECT_EQ(RunUninstaller(), 1);

  const std::vector<std::string> full = FullRun();
  std::vector<std::string> expected(full.begin(),
                                    full.begin() + static_cast<long>(GetParam().entries_before));
  expected.push_back(full[GetParam().entries_before] + " [failed]");
  expected.push_back(ErrorBox("Error 70: Permission denied"));
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
  // Nothing of the later steps happened.
  EXPECT_EQ(machine_.files.Tree(), tree_before);
  for (const auto& value : kRegistrationValues) {
    EXPECT_TRUE(RegistrationValuePresent(value)) << value;
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, UninstallStopTest,
                         ::testing::Values(StopCase{"RegWrite", "AppInit_DLLs", 0},
                                           StopCase{"Run", "Remove Zentrel Web Site", 1},
                                           StopCase{"Run", "Remove Zentrel Database", 2},
                                           StopCase{"DeleteFolder", "Start Menu\\Programs\\Quillon",
                                                    3}));

TEST_F(UninstallTest, WithoutRightsUnderHklmItChangesNothing) {
  machine_.faults.Fail("RegWrite", "", error_number::kAccessDenied,
                       "Unable to save the registry value.");

  EXPECT_EQ(RunUninstaller(), 1);

  EXPECT_THAT(machine_.journal.entries(),
              ElementsAre(std::string("RegWrite ") + kAppInitDlls + " = \"\" REG_SZ [failed]",
                          ErrorBox("Error -2147024891: Unable to save the registry value.")));
  EXPECT_EQ(machine_.shell.Value(kAppInitDlls), "Zentrel.dll");
}

// ----------------------------------------------- failures that are skipped

struct SkipCase {
  std::string operation;
  std::string target;
  std::string survivor;  // the file or folder the failure leaves in place ("" for none)
};

void PrintTo(const SkipCase& c, std::ostream* out) {
  *out << c.operation << " " << c.target;
}

class UninstallSkipTest : public UninstallTest, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(UninstallSkipTest, CostsOnlyThatOperationAndTheCompletionStillComes) {
  machine_.faults.Fail(GetParam().operation, GetParam().target);

  EXPECT_EQ(RunUninstaller(), 0);

  // The same journal as a complete run, the one operation marked failed.
  std::vector<std::string> expected = FullRun();
  std::size_t failed = 0;
  for (auto& entry : expected) {
    if (entry.rfind(GetParam().operation + " ", 0) == 0 &&
        UpperCase(entry).find(UpperCase(GetParam().target)) != std::string::npos) {
      entry += " [failed]";
      ++failed;
    }
  }
  ASSERT_EQ(failed, 1u);
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
  if (!GetParam().survivor.empty()) {
    EXPECT_TRUE(machine_.files.FileExists(GetParam().survivor) ||
                machine_.files.FolderExists(GetParam().survivor));
  }
  // A registration value that could not be deleted stays; the others go.
  if (GetParam().operation == "RegDelete") {
    for (const auto& value : kRegistrationValues) {
      EXPECT_EQ(RegistrationValuePresent(value), "\\" + value == GetParam().target) << value;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, UninstallSkipTest,
    ::testing::Values(SkipCase{"RegDelete", "\\DisplayIcon", ""},
                      SkipCase{"RegDelete", "\\NoRepair", ""},
                      SkipCase{"RegDelete", "\\UninstallString", ""},
                      SkipCase{"DeleteFile", "Corvane.exe", P("Corvane.exe")},
                      SkipCase{"DeleteFile", "Zentrel.ini", P("Zentrel.ini")},
                      SkipCase{"DeleteFolder", "\\Config", P("Config")},
                      SkipCase{"DeleteFolder", "\\Logs", P("Logs\\Access.log")},
                      SkipCase{"DeleteFolder", "\\Remove Zentrel Database", kDatabaseScript},
                      SkipCase{"DeleteFolder", "\\Remove Zentrel Web Site", kWebSiteScript},
                      SkipCase{"MoveFile", "Zentrel.dll", kLibrary}));

TEST_F(UninstallTest, ARetiredFileThatCannotBeDeletedLeavesTheLibraryInPlace) {
  machine_.files.AddFile(kRetired, "earlier library");
  machine_.faults.Fail("DeleteFile", "Zentrel.dll.old");

  EXPECT_EQ(RunUninstaller(), 0);

  EXPECT_THAT(machine_.journal.entries(),
              ::testing::IsSupersetOf(
                  {std::string("DeleteFile ") + kRetired + " [failed]",
                   std::string("MoveFile ") + kLibrary + " -> " + kRetired + " [failed]"}));
  EXPECT_EQ(machine_.files.Content(kLibrary), "hook library");
  EXPECT_EQ(machine_.files.Content(kRetired), "earlier library");
  EXPECT_EQ(machine_.journal.entries().back(), kCompletion);
}

TEST_F(UninstallTest, EveryLaterOperationFailingStillEndsWithTheCompletion) {
  for (const char* operation : {"RegDelete", "DeleteFile", "DeleteFolder", "MoveFile"}) {
    machine_.faults.Fail(operation, "Zentrel");
  }

  EXPECT_EQ(RunUninstaller(), 0);

  std::vector<std::string> expected = FullRun();
  for (std::size_t i = 4; i + 1 < expected.size(); ++i) expected[i] += " [failed]";
  EXPECT_THAT(machine_.journal.entries(), ElementsAreArray(expected));
}

}  // namespace
}  // namespace quillon

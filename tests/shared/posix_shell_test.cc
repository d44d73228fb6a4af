// The portable machine's shell: environment values, the Start Menu, and
// program start (look-up order, arguments without a shell, waiting, the run
// log written before the look-up).
#include "shared/posix/posix_shell.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "shared/host_error.h"
#include "support/error_number_of.h"
#include "support/test_machine.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;

// A stand-in program: it writes where it lies, its arguments, its current
// directory and an inherited variable to $PROBE_OUT.
std::string ProbeScript(const std::string& where) {
  return "#!/bin/sh\n"
         "{\n"
         "  printf 'where=%s\\n' '" +
         where +
         "'\n"
         "  for a in \"$@\"; do printf 'arg=[%s]\\n' \"$a\"; done\n"
         "  printf 'cwd=%s\\n' \"$(pwd -P)\"\n"
         "  printf 'mark=%s\\n' \"$PROBE_MARK\"\n"
         "} > \"$PROBE_OUT\"\n";
}

class PosixShellTest : public ::testing::Test {
 protected:
  PosixShellTest() {
    MakePosixFolders(scratch.InRoot("drive_c/WINDOWS/system32"));
    MakePosixFolders(scratch.InRoot("drive_c/Setup"));
  }

  std::vector<std::string> ProbeOutput() const { return FileLines(probe_out); }

  TestMachine scratch{MachineTree::kDrives};
  PortableMachine machine{scratch.root(), "Setup.exe"};
  PosixShell shell{machine};
  std::string probe_out = scratch.InRoot("probe.out");
  ScopedEnvironment windir{"windir", "C:\\WINDOWS"};
  ScopedEnvironment out{"PROBE_OUT", probe_out};
  ScopedEnvironment mark{"PROBE_MARK", "inherited"};
  ScopedEnvironment run_log{PosixShell::kRunLogVariable, std::nullopt};
};

TEST_F(PosixShellTest, EnvironmentAndStartMenu) {
  ScopedEnvironment profile("USERPROFILE", "C:\\Documents and Settings\\Administrator");
  ScopedEnvironment unset("QUILLON_SURELY_UNSET", std::nullopt);
  EXPECT_EQ(shell.Environment("windir"), "C:\\WINDOWS");
  EXPECT_EQ(shell.Environment("QUILLON_SURELY_UNSET"), "");
  EXPECT_EQ(shell.SpecialFolders("StartMenu"),
            "C:\\Documents and Settings\\Administrator\\Start Menu");
  EXPECT_EQ(shell.SpecialFolders("startmenu"),
            "C:\\Documents and Settings\\Administrator\\Start Menu");
  EXPECT_EQ(shell.SpecialFolders("Desktop"), "");
}

TEST_F(PosixShellTest, BareNamesAreSearchedInCurrentDirectoryThenSystem32ThenWindir) {
  WritePosixFile(scratch.InRoot("drive_c/Setup/probe.exe"), ProbeScript("current"), 0755);
  WritePosixFile(scratch.InRoot("drive_c/WINDOWS/system32/probe.exe"), ProbeScript("system32"),
                 0755);
  WritePosixFile(scratch.InRoot("drive_c/WINDOWS/probe.exe"), ProbeScript("windir"), 0755);
  ScopedCurrentDirectory inside(scratch.InRoot("drive_c/Setup"));

  shell.Run("probe a", kWindowHidden, true);
  EXPECT_EQ(ProbeOutput().at(0), "where=current");
  unlink(scratch.InRoot("drive_c/Setup/probe.exe").c_str());
  shell.Run("PROBE a", kWindowHidden, true);
  EXPECT_EQ(ProbeOutput().at(0), "where=system32");
  unlink(scratch.InRoot("drive_c/WINDOWS/system32/probe.exe").c_str());
  shell.Run("Probe.EXE a", kWindowHidden, true);
  EXPECT_EQ(ProbeOutput().at(0), "where=windir");
  unlink(scratch.InRoot("drive_c/WINDOWS/probe.exe").c_str());
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run("probe a", kWindowHidden, true); }),
            error_number::kSystemFileNotFound);
}

TEST_F(PosixShellTest, ArgumentsReachTheProgramUnchangedWithoutAShell) {
  WritePosixFile(scratch.InRoot("drive_c/Program Files/Tools/probe.exe"), ProbeScript("tools"),
                 0755);
  ScopedCurrentDirectory inside(scratch.InRoot("drive_c/Setup"));

  shell.Run(
      "\"C:\\program files\\TOOLS\\probe.exe\" \"two words\" <in >out | $HOME `x` \"q\\\"uote\"",
      kWindowNormal, true);
  EXPECT_THAT(ProbeOutput(),
              ElementsAre("where=tools", "arg=[two words]", "arg=[<in]", "arg=[>out]", "arg=[|]",
                          "arg=[$HOME]", "arg=[`x`]", "arg=[q\"uote]",
                          "cwd=" + scratch.InRoot("drive_c/Setup"), "mark=inherited"));
}

TEST_F(PosixShellTest, RelativePathsAndOtherExtensionsAreTakenAsGiven) {
  WritePosixFile(scratch.InRoot("drive_c/Setup/MDAC/MDAC_TYP.exe"), ProbeScript("mdac"), 0755);
  WritePosixFile(scratch.InRoot("drive_c/Setup/tool.cmd"), ProbeScript("cmd-file"), 0755);
  WritePosixFile(scratch.InRoot("drive_c/Setup/tool"), ProbeScript("no-extension"), 0755);
  ScopedCurrentDirectory inside(scratch.InRoot("drive_c/Setup"));

  shell.Run("mdac\\mdac_typ.exe /q", kWindowNormal, true);
  EXPECT_THAT(ProbeOutput().at(1), "arg=[/q]");
  EXPECT_EQ(ProbeOutput().at(0), "where=mdac");
  shell.Run("MDAC\\MDAC_TYP", kWindowNormal, true);  // ".exe" added
  EXPECT_EQ(ProbeOutput().at(0), "where=mdac");
  shell.Run("tool.cmd", kWindowNormal, true);
  EXPECT_EQ(ProbeOutput().at(0), "where=cmd-file");
  // A name without an extension means name.exe, never the bare file.
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run("tool", kWindowNormal, true); }),
            error_number::kSystemFileNotFound);
}

TEST_F(PosixShellTest, EveryRunIsLoggedBeforeTheLookUpSoFailuresAreLoggedToo) {
  const std::string log = scratch.InRoot("run.log");
  ScopedEnvironment log_variable(PosixShell::kRunLogVariable, log);
  WritePosixFile(scratch.InRoot("drive_c/WINDOWS/system32/probe.exe"), ProbeScript("system32"),
                 0755);

  shell.Run("probe \"C:\\Caf\xE9\\x.vbs\"\ttab", kWindowHidden, true);
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run("missing.exe /x", kWindowNormal, false); }),
            error_number::kSystemFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run("", kWindowNormal, false); }),
            error_number::kSystemFileNotFound);
  EXPECT_THAT(
      FileLines(log),
      ElementsAre(
          "{\"program\":\"Setup\",\"command\":\"probe \\\"C:\\\\Caf\xC3\xA9\\\\x.vbs\\\"\\ttab\","
          "\"style\":0,\"wait\":true}",
          "{\"program\":\"Setup\",\"command\":\"missing.exe /x\",\"style\":1,\"wait\":false}",
          "{\"program\":\"Setup\",\"command\":\"\",\"style\":1,\"wait\":false}"));
  EXPECT_THAT(ProbeOutput(), ElementsAre("where=system32", "arg=[C:\\Caf\xE9\\x.vbs]", "arg=[tab]",
                                         ::testing::StartsWith("cwd="), "mark=inherited"));
}

TEST_F(PosixShellTest, WithoutTheWaitFlagRunReturnsWhileTheProgramStillRuns) {
  // The program ends only after the test has created the go file, which it
  // does after Run has returned; it gives up after a generous while.
  const std::string go = scratch.InRoot("go");
  WritePosixFile(scratch.InRoot("drive_c/WINDOWS/system32/waiter.exe"),
                 "#!/bin/sh\n"
                 "i=0\n"
                 "while [ ! -e \"$1\" ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done\n"
                 "if [ -e \"$1\" ]; then echo released > \"$PROBE_OUT\"; "
                 "else echo gave-up > \"$PROBE_OUT\"; fi\n",
                 0755);
  shell.Run("waiter " + go, kWindowHidden, false);
  WritePosixFile(go, "");
  // Wait for the program to end: it is our child.
  int status = 0;
  while (wait(&status) < 0 && errno == EINTR) {
  }
  EXPECT_THAT(ProbeOutput(), ElementsAre("released"));
}

TEST_F(PosixShellTest, AFileThatCannotBeExecutedIsRefused) {
  WritePosixFile(scratch.InRoot("drive_c/WINDOWS/system32/plain.exe"), "not a program", 0644);
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run("plain.exe", kWindowHidden, true); }),
            error_number::kAccessDenied);
  // A folder is not a program either.
  MakePosixFolders(scratch.InRoot("drive_c/WINDOWS/system32/folder.exe"));
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run("folder.exe", kWindowHidden, true); }),
            error_number::kSystemFileNotFound);
  // Nor is anything off the machine.
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run("\\\\server\\share\\x.exe", kWindowHidden, true); }),
            error_number::kSystemFileNotFound);
}

// The machine's boundary: a program whose path holds a character Windows
// forbids in file names cannot exist, even where the POSIX side holds one.
TEST_F(PosixShellTest, AProgramPathWithACharacterWindowsForbidsIsAnInvalidName) {
  for (const std::string folder : {"x_|_y", "a<b", "a>b", "a?b", "a*b", "a\nb", "a\x1F"}) {
    SCOPED_TRACE(folder);
    WritePosixFile(scratch.InRoot("drive_c/Tools/" + folder + "/probe.exe"), ProbeScript(folder),
                   0755);
    try {
      shell.Run("\"C:\\Tools\\" + folder + "\\probe.exe\" arg", kWindowHidden, true);
      ADD_FAILURE() << "started";
    } catch (const HostError& error) {
      EXPECT_EQ(error.number(), error_number::kInvalidName);
      EXPECT_EQ(error.description(),
                "The filename, directory name, or volume label syntax is incorrect.");
    }
    EXPECT_FALSE(PosixExists(probe_out));
  }
  ScopedCurrentDirectory inside(scratch.InRoot("drive_c/Tools"));
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run("x_|_y\\probe.exe", kWindowHidden, true); }),
            error_number::kInvalidName);
  EXPECT_EQ(ErrorNumberOf([&] { shell.Run("C:\\Tools:x\\probe.exe", kWindowHidden, true); }),
            error_number::kInvalidName);
  EXPECT_FALSE(PosixExists(probe_out));
}

}  // namespace
}  // namespace quillon::testing

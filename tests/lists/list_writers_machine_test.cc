// The built list writers on a machine made by quillon-machine: the users
// list of a fresh machine, and the executables list of a tree that holds a
// linked folder and one its user cannot read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/test_machine.h"

namespace quillon::testing {
namespace {

constexpr char kUsersList[] = "C:\\WINDOWS\\Temp\\ZentrelUsers.list";
constexpr char kExecutablesList[] = "C:\\WINDOWS\\Temp\\ZentrelEXEs.list";

TEST(ListWritersOnAMachine, FaldrinWritesTheAccountsOfTheProfilesWithoutTheSystemOnes) {
  TestMachine machine;
  machine.CreateWithTool({"--user", "Alice", "--user", "o'Brien"});
  machine.CopyIn(BinPath("Faldrin.exe"), "D:\\Quillon\\Faldrin.exe");
  machine.WriteFile(kUsersList, "Earlier\r\n");

  const ToolResult result = machine.Run("Faldrin.exe", "D:\\Quillon");

  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(machine.ReadFile(kUsersList), "Administrator\r\nAlice\r\no'Brien\r\n");
}

TEST(ListWritersOnAMachine, GemthornAppendsStoredPathsSkipsLinksAndReportsLockedFolders) {
  TestMachine machine;
  machine.CreateWithTool();
  machine.CopyIn(BinPath("Gemthorn.exe"), "D:\\Quillon\\Gemthorn.exe");
  for (const char* file :
       {"C:\\Apps\\Chess\\Chess.EXE", "C:\\Apps\\Chess\\rules.txt",
        "C:\\Apps\\Chess\\Engines\\engine.exe", "C:\\Apps\\Locked\\hidden.exe",
        "C:\\Apps\\Zither\\zither.exe", "C:\\Apps\\app.exe", "C:\\Elsewhere\\outside.exe"}) {
    machine.WriteFile(file, "", true);
  }
  std::filesystem::create_directory_symlink(machine.Posix("C:\\Elsewhere"),
                                            machine.Posix("C:\\Apps") + "/Linked");
  chmod(machine.Posix("C:\\Apps\\Locked").c_str(), 0);
  chmod(machine.Posix("C:\\WINDOWS\\Temp").c_str(), 0777);
  const std::string errors = machine.Scratch("gemthorn.err");

  // Permission bits bind only a user who is not root.
  if (!UnprivilegedUserCanRun(BinPath("quillon-machine"))) {
    GTEST_SKIP() << "the build tree is closed to unprivileged users";
  }
  const int status = machine.RunToolUnprivileged(
      {"run", machine.root(), "--cwd", "D:\\Quillon", "--", "Gemthorn.exe \"c:\\APPS\""}, errors);
  const std::string reported = ReadPosixFile(errors);
  chmod(machine.Posix("C:\\Apps\\Locked").c_str(), 0755);

  EXPECT_EQ(status, 0) << reported;
  EXPECT_NE(reported.find("C:\\Apps\\Locked"), std::string::npos) << reported;
  const std::string first_run =
      "C:\\Apps\\app.exe\r\n"
      "C:\\Apps\\Chess\\Chess.EXE\r\n"
      "C:\\Apps\\Chess\\Engines\\engine.exe\r\n"
      "C:\\Apps\\Zither\\zither.exe\r\n";
  EXPECT_EQ(machine.ReadFile(kExecutablesList), first_run);

  // A second run appends; a folder that does not exist fails without a box.
  EXPECT_EQ(machine.Run("Gemthorn.exe \"C:\\Elsewhere\"", "D:\\Quillon").status, 0);
  EXPECT_EQ(machine.Run("Gemthorn.exe \"C:\\Nowhere\"", "D:\\Quillon").status, 1);
  EXPECT_EQ(machine.ReadFile(kExecutablesList), first_run + "C:\\Elsewhere\\outside.exe\r\n");
  EXPECT_TRUE(machine.DialogLines().empty());
}

}  // namespace
}  // namespace quillon::testing

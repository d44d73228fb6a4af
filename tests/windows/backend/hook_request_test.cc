// What the hook library hands the checker, and which launches it leaves
// unreported.
#include <gtest/gtest.h>

#include "companions/hook/checker_request.h"

namespace quillon::hook {
namespace {

TEST(CheckerRequest, TheArgumentIsFourFieldsWithTheUpperCasedPath) {
  EXPECT_EQ(CheckerArgument("C:\\Program Files\\Games\\sol.exe", 4242, "O'Neil"),
            "C:\\PROGRAM FILES\\GAMES\\SOL.EXE_|_LAUNCH_|_4242_|_O'Neil");
  EXPECT_EQ(CheckerArgument("c:\\caf\xE9.exe", 4294967295u, ""),
            "C:\\CAF\xC9.EXE_|_LAUNCH_|_4294967295_|_");
  EXPECT_EQ(CheckerPath("C:\\Program Files"), "C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe");
}

TEST(CheckerRequest, OnlyTheCheckerAndItsMailerAreExempt) {
  const std::string program_files = "C:\\Program Files";
  EXPECT_TRUE(IsExemptLaunch("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe", program_files));
  EXPECT_TRUE(IsExemptLaunch("c:\\program files\\harlwick\\zentrel\\ZENTREL.EXE", program_files));
  EXPECT_TRUE(IsExemptLaunch("C:\\PROGRAM FILES\\HARLWICK\\ZENTREL\\CORVANE.EXE", program_files));
  EXPECT_FALSE(IsExemptLaunch("C:\\Program Files\\Harlwick\\Zentrel\\Config\\ZentrelConfig.exe",
                              program_files));
  EXPECT_FALSE(IsExemptLaunch("D:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe", program_files));
  EXPECT_FALSE(
      IsExemptLaunch("C:\\Program Files\\Harlwick\\Zentrel\\Zentrel.exe.bak", program_files));
  EXPECT_FALSE(IsExemptLaunch("C:\\WINDOWS\\notepad.exe", program_files));
}

}  // namespace
}  // namespace quillon::hook

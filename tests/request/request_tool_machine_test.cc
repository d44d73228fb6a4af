// Dusmere.exe on a portable machine with the product installed, opened from
// its Start Menu shortcut by a controlled user: the status box, the typed
// program, the request row, the mailer's start and the confirmation; opened
// again, the request shows as pending.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "support/database_support.h"
#include "support/installed_product.h"

namespace quillon::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(RequestToolOnMachineTest, AControlledUserRequestsAProgramFromTheStartMenu) {
  TestMachine machine;
  MakeInstalledMachine(machine);
  const std::string product = kProductFolder;
  machine.CopyIn(BinPath("Dusmere.exe"), product + "\\Dusmere.exe");
  machine.CopyIn(BinPath("Corvane.exe"), product + "\\Corvane.exe");
  machine.WriteFile(product + "\\Zentrel.ini",
                    "adminemail: admin@example.com;\r\nsmtpserver: 127.0.0.1;\r\n");
  const std::string shortcut = std::string(kStartMenuGroup) + "\\My Quillon Access.lnk";
  machine.CopyIn(SourcePath("companions/media/Start Menu/Quillon/My Quillon Access.lnk"), shortcut);
  auto open = [&] {
    return machine.Tool({"open", machine.root(), "--user", kControlledUser, shortcut});
  };

  machine.Answer("Yes");
  machine.Answer("C:\\WINDOWS\\system32\\calc.exe");
  const ToolResult first = open();
  machine.Answer("No");
  const ToolResult second = open();

  ASSERT_EQ(first.status, 0) << first.out << first.err;
  ASSERT_EQ(second.status, 0) << second.out << second.err;
  EXPECT_EQ(CountRows(machine.database(), "ACCESS_REQUESTS"), 1);
  const auto boxes = machine.Dialogs();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_THAT(boxes[0].text, StartsWith("User \"Clerk\" is controlled by Quillon"));
  EXPECT_THAT(boxes[0].text, HasSubstr("Access requests not yet granted:\r\n    (none)"));
  EXPECT_EQ(boxes[1].kind, "InputBox");
  EXPECT_EQ(boxes[2].text, "An access request has been sent via e-mail to your administrator.");
  EXPECT_THAT(boxes[3].text,
              HasSubstr("Access requests not yet granted:\r\n    C:\\WINDOWS\\SYSTEM32\\CALC.EXE"));
  const auto runs = machine.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].program, "Dusmere");
  EXPECT_THAT(runs[0].command,
              StartsWith("\"C:\\Program Files\\Harlwick\\Zentrel\\Corvane.exe\" \"127.0.0.1\" "
                         "\"admin@example.com\" \""));
  EXPECT_THAT(runs[0].command,
              EndsWith("\" \"C:\\WINDOWS\\SYSTEM32\\CALC.EXE\" \"Unassigned\" \"Clerk\" \"1\""));
  EXPECT_FALSE(runs[0].wait);
}

}  // namespace
}  // namespace quillon::testing

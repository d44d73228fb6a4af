#include "support/installed_product.h"

#include <gtest/gtest.h>

#include "support/database_support.h"

namespace quillon::testing {

void MakeInstalledMachine(TestMachine& machine) {
  // The machine's programs that the product's programs and scripts start.
  for (const char* built : {"Uninstall.exe", "ZentrelConfig.exe", "stand-ins/cmd.exe",
                            "stand-ins/wscript.exe", "stand-ins/osql.exe"}) {
    BinPath(built);
  }
  machine.CreateWithTool({"--user", kControlledUser});

  const std::string product = kProductFolder;
  machine.PutCheckerInPlace();
  machine.WriteFile(product + "\\Zentrel.ini", "admin@example.com\r\nmail.example.com\r\n");
  machine.WriteFile(product + "\\Corvane.exe", "mailer", true);
  machine.WriteFile(product + "\\Dusmere.exe", "tool", true);
  machine.CopyIn(BinPath("ZentrelConfig.exe"), kZentrelConfigExe);
  machine.CopyIn(BinPath("Uninstall.exe"), kUninstallExe);
  for (const char* script : {"Remove Zentrel Web Site", "Remove Zentrel Database"}) {
    machine.CopyIn(SourcePath(std::string("companions/scripts/") + script + ".vbs"),
                   product + "\\Uninstall\\" + script + "\\" + script + ".vbs");
  }
  machine.WriteFile(std::string(kStartMenuGroup) + "\\Uninstall Quillon.lnk", "link");
  machine.WriteFile(std::string(kStartMenuGroup) + "\\Zentrel Administration.url", "link");

  const std::string uninstaller = std::string("\"") + kUninstallExe + "\"";
  const std::string key = kRegistrationKey;
  machine.SetRegistryValue(key + "\\DisplayIcon", uninstaller);
  machine.SetRegistryValue(key + "\\DisplayName", "Quillon");
  machine.SetRegistryValue(key + "\\NoModify", "1", "REG_DWORD");
  machine.SetRegistryValue(key + "\\NoRepair", "1", "REG_DWORD");
  machine.SetRegistryValue(key + "\\UninstallString", uninstaller);

  machine.PutHookLibraryInPlace();
  machine.SetRegistryValue(kAppInitDllsValue, "Zentrel.dll");

  machine.CreateDatabase();
  RunSql(machine.database(), std::string("INSERT INTO USERS (user_name, user_status) VALUES ('") +
                                 kControlledUser + "', 'ENABLED')");

  machine.WriteFile(std::string(kWebSite) + "\\Default.asp", "<% Response.Write(\"Quillon\") %>");
  machine.WriteFile(std::string(kWebSite) + "\\Users\\Edit.asp", "<% %>");
}

std::string Launch(TestMachine& machine, const std::string& user, const std::string& command_line) {
  const ToolResult result = machine.Start(user, command_line);
  EXPECT_EQ(result.status, 0) << result.err;
  return LastLine(result);
}

}  // namespace quillon::testing

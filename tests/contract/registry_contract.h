// The registry half of the shell's contract: the same bodies for the fake,
// the portable machine's registry file and the real registry. A backend
// offers shell() and KeyExists(key) and leaves the two scratch keys below
// empty before and after each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "shared/host_shell.h"
#include "support/error_number_of.h"

namespace quillon::testing {

inline constexpr char kContractMachineKey[] = "HKLM\\SOFTWARE\\Quillon Contract";
inline constexpr char kContractUserKey[] = "HKCU\\Software\\Quillon Contract";

template <typename Backend>
class RegistryContract : public ::testing::Test {
 protected:
  HostShell& shell() { return backend.shell(); }
  static std::string Machine(const std::string& rest) { return kContractMachineKey + rest; }
  static std::string User(const std::string& rest) { return kContractUserKey + rest; }
  Backend backend;
};

TYPED_TEST_SUITE_P(RegistryContract);

TYPED_TEST_P(RegistryContract, ValuesReadBackUnderEitherSpellingOfTheRoot) {
  auto& shell = this->shell();
  shell.RegWrite(this->Machine("\\Windows\\AppInit_DLLs"), "Zentrel.dll", "REG_SZ");
  shell.RegWrite("HKEY_CURRENT_USER\\Software\\Quillon Contract\\Start", "2", "REG_DWORD");
  EXPECT_EQ(shell.RegRead("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon Contract\\Windows\\AppInit_DLLs"),
            "Zentrel.dll");
  EXPECT_EQ(shell.RegRead("hklm\\software\\QUILLON CONTRACT\\windows\\appinit_dlls"),
            "Zentrel.dll");
  EXPECT_EQ(shell.RegRead(this->User("\\Start")), "2");

  // A write replaces the value whole, whatever its type was.
  shell.RegWrite(this->Machine("\\Windows\\APPINIT_DLLS"), "", "REG_SZ");
  EXPECT_EQ(shell.RegRead(this->Machine("\\Windows\\AppInit_DLLs")), "");
  shell.RegWrite(this->User("\\Start"), "text now", "REG_SZ");
  EXPECT_EQ(shell.RegRead(this->User("\\Start")), "text now");
}

TYPED_TEST_P(RegistryContract, DeletingAValueKeepsItsKey) {
  auto& shell = this->shell();
  const std::string key = this->Machine("\\Uninstall\\Zentrel");
  shell.RegWrite(key + "\\DisplayName", "Quillon", "REG_SZ");
  shell.RegWrite(key + "\\NoModify", "1", "REG_DWORD");
  shell.RegDelete(key + "\\displayname");
  shell.RegDelete(key + "\\NoModify");
  EXPECT_TRUE(this->backend.KeyExists(key));
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegRead(key + "\\DisplayName"); }),
            error_number::kSystemFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegDelete(key + "\\DisplayName"); }),
            error_number::kSystemFileNotFound);
  shell.RegWrite(key + "\\DisplayName", "Again", "REG_SZ");
  EXPECT_EQ(shell.RegRead(key + "\\DisplayName"), "Again");
}

TYPED_TEST_P(RegistryContract, FailuresCarryTheShellsNumbersAndTexts) {
  auto& shell = this->shell();
  shell.RegWrite(this->Machine("\\K\\V"), "x", "REG_SZ");
  try {
    shell.RegRead(this->Machine("\\K\\Missing"));
    ADD_FAILURE() << "no error";
  } catch (const HostError& error) {
    EXPECT_EQ(error.number(), error_number::kSystemFileNotFound);
    EXPECT_EQ(error.description(),
              "Unable to open registry key \"HKLM\\SOFTWARE\\Quillon "
              "Contract\\K\\Missing\" for reading.");
  }
  try {
    shell.RegDelete(this->Machine("\\Gone\\V"));
    ADD_FAILURE() << "no error";
  } catch (const HostError& error) {
    EXPECT_EQ(error.number(), error_number::kSystemFileNotFound);
    EXPECT_EQ(error.description(),
              "Unable to remove registry key \"HKLM\\SOFTWARE\\Quillon Contract\\Gone\\V\".");
  }
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegRead("HKLM"); }), error_number::kSystemFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegWrite(this->Machine("\\K\\D"), "x2", "REG_DWORD"); }),
            error_number::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([&] { shell.RegRead(this->Machine("\\K\\D")); }),
            error_number::kSystemFileNotFound);
  EXPECT_EQ(shell.RegRead(this->Machine("\\K\\V")), "x");
}

// The five roots and the three abbreviations the scripting host knows. A
// known root with a missing value fails as a missing value; HKU, HKCC and
// unknown roots fail as an invalid root.
TYPED_TEST_P(RegistryContract, RootsAreTheScriptingHostsFive) {
  auto& shell = this->shell();
  for (const char* root : {"HKEY_LOCAL_MACHINE", "HKLM", "hkey_current_user", "HKCU",
                           "HKEY_CLASSES_ROOT", "hkcr", "HKEY_USERS", "HKEY_CURRENT_CONFIG"}) {
    const std::string path = std::string(root) + "\\Quillon Contract Nowhere\\Value";
    try {
      shell.RegRead(path);
      ADD_FAILURE() << path;
    } catch (const HostError& error) {
      EXPECT_EQ(error.description(), "Unable to open registry key \"" + path + "\" for reading.");
    }
  }
  for (const char* root : {"HKU", "HKCC", "HKXX", "HKEY_LOCAL_MACHINE_2", ""}) {
    const std::string path = std::string(root) + "\\SOFTWARE\\Quillon Contract\\Value";
    for (int operation = 0; operation < 3; ++operation) {
      try {
        if (operation == 0) shell.RegRead(path);
        if (operation == 1) shell.RegWrite(path, "1", "REG_SZ");
        if (operation == 2) shell.RegDelete(path);
        ADD_FAILURE() << path;
      } catch (const HostError& error) {
        EXPECT_EQ(error.number(), error_number::kSystemFileNotFound) << path;
        EXPECT_EQ(error.description(), "Invalid root in registry key \"" + path + "\".");
      }
    }
  }
}

// A DWORD's data is converted as the scripting host converts a text to a
// whole number; it reads back as the stored 32 bits in decimal digits.
TYPED_TEST_P(RegistryContract, DwordDataIsConvertedAsTheScriptingHostDoes) {
  auto& shell = this->shell();
  const std::string path = this->Machine("\\Dword");
  struct Case {
    const char* data;
    const char* read_back;  // nullptr: the write fails with `error`
    long error;
  };
  const Case cases[] = {
      {"1", "1", 0},
      {" 2 ", "2", 0},
      {"\t3", "3", 0},
      {"+4", "4", 0},
      {"0005", "5", 0},
      {"-1", "4294967295", 0},
      {"-2147483648", "2147483648", 0},
      {"2147483647", "2147483647", 0},
      {"&HFF", "255", 0},
      {"&hffffffff", "4294967295", 0},
      {"2147483648", nullptr, error_number::kOverflow},
      {"4294967296", nullptr, error_number::kOverflow},
      {"-2147483649", nullptr, error_number::kOverflow},
      {"&H100000000", nullptr, error_number::kOverflow},
      {"", nullptr, error_number::kTypeMismatch},
      {"two", nullptr, error_number::kTypeMismatch},
      {"1.5", nullptr, error_number::kTypeMismatch},
      {"1 2", nullptr, error_number::kTypeMismatch},
      {"- 1", nullptr, error_number::kTypeMismatch},
      {"&H", nullptr, error_number::kTypeMismatch},
      {"0x10", nullptr, error_number::kTypeMismatch},
      // Found by fuzzing: digits that overflow before a stray character.
      {"&H1FFFFFFFFV", nullptr, error_number::kTypeMismatch},
      {"99999999999x", nullptr, error_number::kTypeMismatch},
  };
  for (const Case& c : cases) {
    shell.RegWrite(path, "7", "REG_DWORD");
    EXPECT_EQ(ErrorNumberOf([&] { shell.RegWrite(path, c.data, "REG_DWORD"); }), c.error)
        << "\"" << c.data << "\"";
    // A failed write leaves the value as it was.
    EXPECT_EQ(shell.RegRead(path), c.read_back != nullptr ? c.read_back : "7")
        << "\"" << c.data << "\"";
  }
}

TYPED_TEST_P(RegistryContract, TypeTextsMatchInAnyCase) {
  auto& shell = this->shell();
  const std::string path = this->User("\\Typed");
  shell.RegWrite(path, "3", "reg_dword");
  EXPECT_EQ(shell.RegRead(path), "3");
  shell.RegWrite(path, "text", "Reg_Sz");
  EXPECT_EQ(shell.RegRead(path), "text");
  shell.RegWrite(path, "%windir%\\system32", "REG_EXPAND_SZ");
  EXPECT_EQ(shell.RegRead(path), "%windir%\\system32");
  for (const char* type : {"REG_BINARY", "REG_MULTI_SZ", "REG_QWORD", "", "SZ"}) {
    EXPECT_EQ(ErrorNumberOf([&] { shell.RegWrite(path, "1", type); }),
              error_number::kInvalidProcedureCall)
        << type;
  }
  EXPECT_EQ(shell.RegRead(path), "%windir%\\system32");
}

REGISTER_TYPED_TEST_SUITE_P(RegistryContract, ValuesReadBackUnderEitherSpellingOfTheRoot,
                            DeletingAValueKeepsItsKey, FailuresCarryTheShellsNumbersAndTexts,
                            RootsAreTheScriptingHostsFive,
                            DwordDataIsConvertedAsTheScriptingHostDoes, TypeTextsMatchInAnyCase);

}  // namespace quillon::testing

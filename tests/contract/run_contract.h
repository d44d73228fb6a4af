// The shell's Run under the host contract: a backend offers shell() (any
// environment backend of platform_contract.h does). The bodies start nothing:
// they pin the failures that come before a program could start.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "shared/host_shell.h"
#include "support/error_number_of.h"

namespace quillon::testing {

template <typename Backend>
class RunContract : public ::testing::Test {
 protected:
  Backend backend;
};

TYPED_TEST_SUITE_P(RunContract);

// A program path holding a character Windows forbids in names is an invalid
// name, quoted or not, absolute or relative, whatever the window style.
TYPED_TEST_P(RunContract, AProgramPathWithAForbiddenCharacterIsAnInvalidName) {
  const char* commands[] = {
      "C:\\Tools\\a|b.exe",
      "\"C:\\Program Files\\what?.exe\" /q",
      "C:\\Tools\\a<b\\run.exe argument",
      "\"C:\\Tools\\x:y.exe\"",
      "Tools\\c*.exe",
  };
  for (const char* command : commands) {
    EXPECT_EQ(ErrorNumberOf([&] { this->backend.shell().Run(command, 1, true); }),
              error_number::kInvalidName)
        << command;
    EXPECT_EQ(ErrorNumberOf([&] { this->backend.shell().Run(command, 0, false); }),
              error_number::kInvalidName)
        << command;
  }
}

REGISTER_TYPED_TEST_SUITE_P(RunContract, AProgramPathWithAForbiddenCharacterIsAnInvalidName);

}  // namespace quillon::testing

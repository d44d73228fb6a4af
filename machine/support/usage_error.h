// The error a stand-in raises for arguments or input it does not understand:
// it fails loudly instead of guessing.
#pragma once

#include <stdexcept>
#include <string>

namespace quillon::machine {

class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace quillon::machine

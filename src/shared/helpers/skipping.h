// Stretches of a procedure that skip errors: each operation that may fail is
// wrapped where it stands, so a reader sees which failures are passed over.
#pragma once

#include <type_traits>

#include "shared/host_error.h"

namespace quillon {

// Runs one host operation and skips it when it fails with a HostError; the
// next operation then runs. A skipped operation that yields a value yields
// its type's empty value instead (false for a test, an empty folder listing),
// so whatever depended on it is passed over too. Errors that are not host
// errors (out of memory, say) are never skipped.
template <typename Operation>
auto Skipping(Operation operation) -> std::invoke_result_t<Operation> {
  using Result = std::invoke_result_t<Operation>;
  try {
    return operation();
  } catch (const HostError&) {
    return Result();
  }
}

// Runs one host operation in a skipping stretch and tells whether it
// succeeded: the one way a skipping stretch may look at a failure.
template <typename Operation>
bool Succeeded(Operation operation) {
  try {
    operation();
    return true;
  } catch (const HostError&) {
    return false;
  }
}

}  // namespace quillon

// The error number an operation fails with: the one helper every test that
// checks a host's error numbers uses.
#pragma once

#include <functional>

#include "shared/host_error.h"

namespace quillon::testing {

// The number of the HostError the operation throws, or 0 when it succeeds.
inline long ErrorNumberOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const HostError& error) {
    return error.number();
  }
  return 0;
}

}  // namespace quillon::testing

// How long a database statement waits for locks that other connections hold
// before it fails, on every platform.
#pragma once

namespace quillon {

// Checkers run their statements side by side and normally wait a few
// milliseconds; the bound keeps a database that somebody keeps locked from
// holding every launch (and the checker deciding it) for longer. A checker
// that gives up shows its error report and the launch runs on undecided.
inline constexpr int kLockWaitMilliseconds = 5000;

}  // namespace quillon

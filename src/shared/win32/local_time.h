// The clock's reading of a Windows system time.
#pragma once

#include "shared/platform.h"
#include "shared/win32/windows_api.h"

namespace quillon {

// The date and time fields of a SYSTEMTIME; the day of the week and the
// milliseconds are dropped.
LocalTime LocalTimeOf(const SYSTEMTIME& time);

}  // namespace quillon

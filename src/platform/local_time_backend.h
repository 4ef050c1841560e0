// What each platform's back end of the wall clock provides (local_time_posix.cpp,
// local_time_win32.cpp); the shared part is local_time.cpp.
#pragma once

#include <time.h>

#include <cstdint>

namespace pagorin::platform::detail {

// The system's seconds since 1970-01-01 UTC.
std::int64_t SystemWallClockSeconds() noexcept;
// Fills `local` with `unixSeconds` as local time; false when the system cannot convert it.
bool ToLocalCalendar(std::int64_t unixSeconds, struct tm& local) noexcept;

}  // namespace pagorin::platform::detail

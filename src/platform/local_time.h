// The wall clock, for what people read and for ages that outlive the process (the tick count
// restarts with the system). Seconds since 1970-01-01 UTC.
#pragma once

#include <cstdint>
#include <string>

namespace pagorin::platform {

using WallClockFunction = std::int64_t (*)() noexcept;

// Seconds since 1970-01-01 UTC, from the system or from the installed source. Any thread.
std::int64_t WallClockSeconds() noexcept;
// Replaces the wall clock for the whole process (tests); nullptr restores the system's.
void SetWallClockSource(WallClockFunction source) noexcept;

// `unixSeconds` as local time, "YYYY-MM-DD hh:mm:ss", the form spreadsheets take for a date and
// time. Throws only std::bad_alloc.
std::string FormatLocalTime(std::int64_t unixSeconds);

}  // namespace pagorin::platform

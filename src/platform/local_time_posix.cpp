#include "platform/local_time_backend.h"

namespace pagorin::platform::detail {

std::int64_t SystemWallClockSeconds() noexcept {
  return static_cast<std::int64_t>(::time(nullptr));
}

bool ToLocalCalendar(std::int64_t unixSeconds, struct tm& local) noexcept {
  const time_t seconds = static_cast<time_t>(unixSeconds);
  return ::localtime_r(&seconds, &local) != nullptr;
}

}  // namespace pagorin::platform::detail

#include "platform/local_time_backend.h"

namespace pagorin::platform::detail {

std::int64_t SystemWallClockSeconds() noexcept {
  return static_cast<std::int64_t>(::_time64(nullptr));
}

bool ToLocalCalendar(std::int64_t unixSeconds, struct tm& local) noexcept {
  const __time64_t seconds = static_cast<__time64_t>(unixSeconds);
  return ::_localtime64_s(&local, &seconds) == 0;
}

}  // namespace pagorin::platform::detail

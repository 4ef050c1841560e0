#include "platform/local_time.h"

#include <atomic>
#include <cstdio>

#include "platform/local_time_backend.h"

namespace pagorin::platform {
namespace {

std::atomic<WallClockFunction> wallClockSource{nullptr};

}  // namespace

std::int64_t WallClockSeconds() noexcept {
  if (WallClockFunction source = wallClockSource.load()) return source();
  return detail::SystemWallClockSeconds();
}

void SetWallClockSource(WallClockFunction source) noexcept {
  wallClockSource.store(source);
}

std::string FormatLocalTime(std::int64_t unixSeconds) {
  struct tm local {};
  if (!detail::ToLocalCalendar(unixSeconds, local)) return std::string();
  char text[96] = {};
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace pagorin::platform

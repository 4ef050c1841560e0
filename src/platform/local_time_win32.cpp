#include <time.h>

#include <atomic>
#include <cstdio>

#include "platform/local_time.h"

namespace pagorin::platform {
namespace {

std::atomic<WallClockFunction> wallClockSource{nullptr};

}  // namespace

std::int64_t WallClockSeconds() noexcept {
  if (WallClockFunction source = wallClockSource.load()) return source();
  return static_cast<std::int64_t>(::_time64(nullptr));
}

void SetWallClockSource(WallClockFunction source) noexcept {
  wallClockSource.store(source);
}

std::string FormatLocalTime(std::int64_t unixSeconds) {
  const __time64_t seconds = static_cast<__time64_t>(unixSeconds);
  struct tm local {};
  if (::_localtime64_s(&local, &seconds) != 0) return std::string();
  char text[96] = {};
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace pagorin::platform

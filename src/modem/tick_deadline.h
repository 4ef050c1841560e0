// Deadlines on the module's wrapping millisecond tick clock, and the doubling back-off.
#pragma once

#include <cstdint>

namespace pagorin::detail {

// True when `at` has come at `now`; right across the clock's wrap for waits under 24 days.
constexpr bool Reached(std::uint32_t now, std::uint32_t at) noexcept {
  return static_cast<std::int32_t>(now - at) >= 0;
}

// Milliseconds from `now` until `at`; 0 once it has come.
constexpr std::uint32_t Until(std::uint32_t now, std::uint32_t at) noexcept {
  return Reached(now, at) ? 0 : at - now;
}

// The wait after `current`: `first` when there was none (0), then doubled up to `last`.
constexpr std::uint32_t Doubled(std::uint32_t current, std::uint32_t first,
                                std::uint32_t last) noexcept {
  if (current == 0) return first;
  return current >= last / 2 ? last : current * 2;
}

}  // namespace pagorin::detail

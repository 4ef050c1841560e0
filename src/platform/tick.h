// The millisecond tick count that every time-out of the module reads. Unsigned 32-bit, wrapping
// after about 49.7 days; differences are taken in unsigned arithmetic.
#pragma once

#include <atomic>
#include <cstdint>

namespace pagorin::platform {

using TickFunction = std::uint32_t (*)() noexcept;

// Milliseconds from a monotonic clock, or from the installed tick source. Any thread.
std::uint32_t TickCount() noexcept;

// Replaces the tick source for the whole process; nullptr restores the default. The default is
// the function `PagorinHostTickCount` when the host process exports one (a host simulator that
// runs time faster than real time), else the system's monotonic clock.
void SetTickSource(TickFunction source) noexcept;

// A clock that tests drive by hand. While an instance lives it is the process's tick source; only
// one may live at a time.
class ManualTicks {
 public:
  explicit ManualTicks(std::uint32_t start = 0) noexcept;
  ~ManualTicks();
  ManualTicks(const ManualTicks&) = delete;
  ManualTicks& operator=(const ManualTicks&) = delete;

  void Set(std::uint32_t now) noexcept { now_.store(now); }
  void Advance(std::uint32_t milliseconds) noexcept { now_.fetch_add(milliseconds); }
  std::uint32_t Now() const noexcept { return now_.load(); }

 private:
  static std::uint32_t Read() noexcept { return now_.load(); }
  static std::atomic<std::uint32_t> now_;
};

}  // namespace pagorin::platform

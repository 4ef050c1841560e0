#include "platform/tick.h"

#include <gtest/gtest.h>
#include <time.h>

namespace pagorin::platform {
namespace {

std::uint32_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

TEST(Tick, ManualTicksDriveTheTickCountAndGiveItBackWhenGone) {
  {
    ManualTicks clock(0xFFFFFFF0u);
    EXPECT_EQ(TickCount(), 0xFFFFFFF0u);
    clock.Advance(0x20);
    EXPECT_EQ(TickCount(), 0x10u);
    EXPECT_EQ(TickCount() - 0xFFFFFFF0u, 0x20u);  // the difference survives the wrap
  }
  // Back on the system's monotonic clock: a manual clock left in place would still read 0x10.
  const std::uint32_t before = MonotonicMilliseconds();
  const std::uint32_t ticks = TickCount();
  const std::uint32_t after = MonotonicMilliseconds();
  EXPECT_LE(ticks - before, after - before);
}

}  // namespace
}  // namespace pagorin::platform

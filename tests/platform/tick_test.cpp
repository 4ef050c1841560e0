#include "platform/tick.h"

#include <gtest/gtest.h>

namespace pagorin::platform {
namespace {

TEST(Tick, ManualTicksDriveTheTickCountAndWrap) {
  {
    ManualTicks clock(0xFFFFFFF0u);
    EXPECT_EQ(TickCount(), 0xFFFFFFF0u);
    clock.Advance(0x20);
    EXPECT_EQ(TickCount(), 0x10u);
    EXPECT_EQ(TickCount() - 0xFFFFFFF0u, 0x20u);  // the difference survives the wrap
  }
  // Back on the monotonic clock, which never goes backwards.
  std::uint32_t a = TickCount();
  std::uint32_t b = TickCount();
  EXPECT_LT(b - a, 1000u);
}

}  // namespace
}  // namespace pagorin::platform

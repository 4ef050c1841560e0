// The fault schedule on the modem's clock: windows and unplugged spans by their edges, and the
// random moments of unsolicited result codes, the same for the same seed.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "fault_schedule.h"

namespace pagorin::sim {
namespace {

TEST(GsmSimSchedule, WindowsAndUnpluggingHoldFromTheirStartUntilTheirEnd) {
  Settings settings;
  settings.errorWindows = {"331@5+20", "42@10+30", "500@0.0005+0.001"};
  settings.unplugs = {"30+10", "60+0"};
  std::mt19937 random(2);
  FaultSchedule schedule(settings, random);
  EXPECT_FALSE(schedule.Empty());
  struct Row {
    std::int64_t ms;
    int outage;  // the first window that holds the moment; fractions round to milliseconds
    bool unplugged;
  } rows[] = {
      {0, 0, false},       {1, 500, false},      {2, 0, false},       {4'999, 0, false},
      {5'000, 331, false}, {24'999, 331, false}, {25'000, 42, false}, {29'999, 42, false},
      {30'000, 42, true},  {39'999, 42, true},   {40'000, 0, false},  {60'000, 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ms);
    EXPECT_EQ(schedule.OutageAt(row.ms), row.outage);
    EXPECT_EQ(schedule.UnpluggedAt(row.ms), row.unplugged);
    EXPECT_FALSE(schedule.UrcDue(row.ms));
  }
}

// The moments at which UrcDue says yes, looked at every millisecond up to `untilMs`.
std::vector<std::int64_t> UrcMoments(std::uint32_t seed, double everySeconds,
                                     std::int64_t untilMs) {
  Settings settings;
  settings.urcEverySeconds = everySeconds;
  // As the program seeds its own random choices.
  std::mt19937 random(seed + 1);
  FaultSchedule schedule(settings, random);
  std::vector<std::int64_t> moments;
  for (std::int64_t ms = 0; ms <= untilMs; ++ms) {
    if (schedule.UrcDue(ms)) moments.push_back(ms);
  }
  return moments;
}

TEST(GsmSimSchedule, UrcMomentsFollowTheSeed) {
  std::mt19937 random(2);
  EXPECT_TRUE(FaultSchedule(Settings{}, random).Empty());
  // A run with --seed 1 --urc-every 2 while no reply goes out in pieces (they draw from the same
  // numbers), as the GNU library draws them.
  const std::vector<std::int64_t> first = UrcMoments(1, 2, 20'000);
  EXPECT_EQ(first, (std::vector<std::int64_t>{410, 5774, 11678, 13005, 13779, 14115, 16516, 16773,
                                              18102}));
  EXPECT_EQ(UrcMoments(1, 2, 20'000), first);
  EXPECT_NE(UrcMoments(2, 2, 20'000), first);
  // Two seconds apart on average, not two milliseconds or two thousand seconds.
  const std::vector<std::int64_t> many = UrcMoments(5, 2, 400'000);
  EXPECT_GT(many.size(), 140u);
  EXPECT_LT(many.size(), 270u);
}

}  // namespace
}  // namespace pagorin::sim

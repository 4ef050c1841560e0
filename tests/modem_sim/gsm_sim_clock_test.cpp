// The modem's clock read from a file that a host simulator writes in place.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "modem_clock.h"
#include "support/temp_dir.h"

namespace pagorin::sim {
namespace {

std::string Millis(std::uint64_t ms) {
  std::string bytes(sizeof ms, '\0');
  std::memcpy(bytes.data(), &ms, sizeof ms);
  return bytes;
}

TEST(GsmSimClock, SharesOnlyAWholeClockFile) {
  struct Row {
    const char* name;
    std::string contents;  // empty: no file
    bool shared;
    std::int64_t nowMs;  // when shared
  } rows[] = {
      {"missing", "", false, 0},
      {"short", std::string(7, '\0'), false, 0},
      {"exact", Millis(25'000), true, 25'000},
      {"longer", Millis(1234) + "tail", true, 1234},
      {"beyond int64", Millis(UINT64_MAX), true, INT64_MAX},
  };
  pagorin::testing::TempDir folder;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = folder.File(row.name);
    if (!row.contents.empty()) pagorin::testing::WriteFileBytes(path, row.contents);
    ModemClock clock;
    EXPECT_EQ(clock.Share(path), row.shared);
    EXPECT_EQ(clock.Shared(), row.shared);
    // Unshared, the real clock of a fresh modem is at most a little past 0.
    EXPECT_EQ(clock.NowMs() / 60'000, row.nowMs / 60'000);
    if (row.shared) {
      EXPECT_EQ(clock.NowMs(), row.nowMs);
    }
  }
}

TEST(GsmSimClock, FollowsTheFileAsItIsWritten) {
  pagorin::testing::TempDir folder;
  const std::string path = folder.File("clock");
  pagorin::testing::WriteFileBytes(path, Millis(0));
  ModemClock clock;
  ASSERT_TRUE(clock.Share(path));
  // The host overwrites the bytes in place; a replaced file would not be seen.
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  for (std::uint64_t ms : {5'000u, 4'000u, 90'000u}) {
    file.seekp(0).write(Millis(ms).data(), static_cast<std::streamsize>(sizeof ms)).flush();
    EXPECT_EQ(clock.NowMs(), static_cast<std::int64_t>(ms));
  }
}

}  // namespace
}  // namespace pagorin::sim

#include "send_history_tail.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace pagorin::sim {
namespace {

using pagorin::testing::ReadFileBytes;
using pagorin::testing::TempDir;
using pagorin::testing::WriteFileBytes;

const std::string kHeading =
    "\xEF\xBB\xBF入队时间,结束时间,手机号码,说明,来源,内容,尝试次数,参考号,状态,原因,状态码\r\n";

std::string Record(const std::string& number, const std::string& text, const std::string& state,
                   const std::string& reason = "") {
  return "2026-12-08 10:00:00,2026-12-08 10:00:03,=\"" + number + "\",值班室,script," + text +
         ",1,7," + state + "," + reason + "\r\n";
}

void Append(const std::string& path, const std::string& bytes) {
  WriteFileBytes(path, ReadFileBytes(path) + bytes);
}

// The simulator follows the plug-in's history as it grows: what earlier runs wrote is counted
// but not shown, records come whole (quoted texts with commas and line breaks, a record written
// in two pieces), a rotation loses nothing, and the counts are the history's.
TEST(SendHistoryTail, FollowsTheFileAcrossPiecesAndRotation) {
  TempDir dir;
  const std::string current = dir.File(std::string(SendHistoryTail::kFileName));
  WriteFileBytes(current, kHeading + Record("13800138000", "早先", "已发送"));
  SendHistoryTail tail;
  EXPECT_EQ(tail.Start(dir.path()), 1);
  EXPECT_TRUE(tail.NewLines().empty());

  const std::string quoted =
      Record("13912345678", "\"a, \"\"b\"\"\r\nc\"", "发送失败", "+CMS ERROR: 331 无网络服务");
  Append(current, quoted.substr(0, 40));
  EXPECT_TRUE(tail.NewLines().empty());  // not a whole record yet
  Append(current, quoted.substr(40) + Record("13698765432", "'=1+1", "已拒绝", "发送队列已满"));
  auto lines = tail.NewLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].number, "13912345678");
  EXPECT_EQ(lines[0].text, "a, \"b\"\r\nc");
  EXPECT_EQ(lines[0].state, "failed");
  EXPECT_EQ(lines[0].reason, "+CMS ERROR: 331 无网络服务");
  EXPECT_EQ(lines[1].text, "=1+1");  // the apostrophe that defused a formula is gone
  EXPECT_EQ(lines[1].state, "refused");

  // Rotation: the rest of the followed file is read from its new name, then the new file.
  Append(current, Record("13800138000", "轮换前", "已发送"));
  std::filesystem::rename(current, dir.File(std::string(SendHistoryTail::kFirstRotatedName)));
  WriteFileBytes(current, kHeading + Record("13800138000", "轮换后", "已发送"));
  lines = tail.NewLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "轮换前");
  EXPECT_EQ(lines[1].text, "轮换后");
  EXPECT_EQ(lines[1].attempts, 1);
  EXPECT_EQ(lines[1].reference, "7");
  EXPECT_EQ(tail.Counts().sent, 2);
  EXPECT_EQ(tail.Counts().failed, 1);
  EXPECT_EQ(tail.Counts().refused, 1);
}

}  // namespace
}  // namespace pagorin::sim

#include "platform/text_format.h"

#include <gtest/gtest.h>

namespace pagorin::platform {
namespace {

TEST(TextFormat, ConversionsLikeTheCLibrary) {
  EXPECT_EQ(FormatText("%s报警:%s", {"Tank1", "高报,"}), "Tank1报警:高报,");
  EXPECT_EQ(FormatText("AT+CMGS=%03d\r", {std::int64_t{19}}), "AT+CMGS=019\r");
  EXPECT_EQ(FormatText("%02X", {std::int64_t{140}}), "8C");
  EXPECT_EQ(FormatText("%d/%d", {std::int64_t{-5}, std::int64_t{0}}), "-5/0");
  EXPECT_EQ(FormatText("数值%f", {12.5}), "数值12.500000");
  EXPECT_EQ(FormatText("%f", {-0.0000001}), "-0.000000");
  EXPECT_EQ(FormatText("100%%", {}), "100%");
  EXPECT_EQ(FormatText("%5s|%-3d|", {"ab", std::int64_t{7}}), "   ab|7  |");
}

TEST(TextFormat, TextsFromOutsideAreNeverFormatDirectives) {
  // A user's text that contains conversions is an argument, so it is copied as it stands.
  EXPECT_EQ(FormatText("%s", {"%s%n%d"}), "%s%n%d");
  // Missing or mistyped arguments leave the conversion in the output.
  EXPECT_EQ(FormatText("a%sb%dc", {}), "a%sb%dc");
  EXPECT_EQ(FormatText("%d", {"text"}), "%d");
  EXPECT_EQ(FormatText("%n%p%", {"x"}), "%n%p%");
}

TEST(TextFormat, LongArgumentsHaveNoLimit) {
  std::string huge(100000, 'z');
  EXPECT_EQ(FormatText(",用户%s", {huge}).size(), huge.size() + 7);
  EXPECT_EQ(FormatText("%f", {1e300}).size(), 308u);
}

}  // namespace
}  // namespace pagorin::platform

#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace pagorin::platform {
namespace {

TEST(CodePage, LeadByteRangeIs81ToFE) {
  EXPECT_FALSE(IsLeadByte(static_cast<unsigned char>(0x80)));
  EXPECT_TRUE(IsLeadByte(static_cast<unsigned char>(0x81)));
  EXPECT_TRUE(IsLeadByte(static_cast<unsigned char>(0xFE)));
  EXPECT_FALSE(IsLeadByte(static_cast<unsigned char>(0xFF)));
  EXPECT_FALSE(IsLeadByte('A'));
  EXPECT_EQ(CharLength("\xB1\xA8", 0), 2u);
  EXPECT_EQ(CharLength("a\xB1", 1), 1u);  // a lead byte at the very end stands alone
}

TEST(CodePage, ConvertsChineseBothWays) {
  // 报警 is B1 A8 BE AF in code page 936, U+62A5 U+8B66.
  EXPECT_EQ(Cp936ToUtf16("\xB1\xA8\xBE\xAF"
                         "A"),
            std::u16string(u"\u62A5\u8B66A"));
  EXPECT_EQ(Cp936ToUtf8("\xB1\xA8\xBE\xAF"), "报警");
  EXPECT_EQ(Utf8ToCp936("报警,用户%s"), "\xB1\xA8\xBE\xAF,\xD3\xC3\xBB\xA7%s");
}

TEST(CodePage, InvalidInputIsReplacedAndConversionGoesOn) {
  EXPECT_EQ(Cp936ToUtf16(std::string_view("a\xFF"
                                          "b",
                                          3)),
            std::u16string(u"a\uFFFDb"));
  EXPECT_EQ(Cp936ToUtf16("a\xB1"), std::u16string(u"a\uFFFD"));  // lead byte without trail
  EXPECT_EQ(Cp936ToUtf8(std::string_view("x\xFFy", 3)), "x\xEF\xBF\xBDy");
  EXPECT_EQ(Utf8ToCp936("a\xF0\x9F\x98\x80z"), "a?z");  // an emoji has no code page 936 form
  EXPECT_EQ(Utf8ToCp936("a\x80z"), "az");               // a stray continuation byte
}

TEST(CodePage, EmbeddedZeroBytesAreConverted) {
  std::u16string units = Cp936ToUtf16(std::string_view("a\0b", 3));
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[1], u'\0');
}

}  // namespace
}  // namespace pagorin::platform

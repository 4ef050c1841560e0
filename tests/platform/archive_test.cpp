#include "platform/archive.h"

#include <gtest/gtest.h>

namespace pagorin {
namespace {

std::string Stored(std::string_view text) {
  MemoryArchive out;
  EXPECT_TRUE(archive::WriteString(out, text));
  return out.Bytes();
}

TEST(Archive, Int32IsLittleEndianTwosComplement) {
  MemoryArchive out;
  ASSERT_TRUE(archive::WriteInt32(out, 1));
  ASSERT_TRUE(archive::WriteInt32(out, -2));
  EXPECT_EQ(out.Bytes(), std::string("\x01\x00\x00\x00\xFE\xFF\xFF\xFF", 8));

  MemoryArchive in(out.Bytes());
  std::int32_t a = 0, b = 0, c = 77;
  EXPECT_TRUE(archive::ReadInt32(in, a));
  EXPECT_TRUE(archive::ReadInt32(in, b));
  EXPECT_FALSE(archive::ReadInt32(in, c));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, -2);
  EXPECT_EQ(c, 77);
}

TEST(Archive, StringLengthPrefixesAtEachBoundary) {
  struct Row {
    std::size_t length;
    std::string prefix;
  };
  const Row rows[] = {
      {0, std::string("\x00", 1)},
      {254, "\xFE"},
      {255, std::string("\xFF\xFF\x00", 3)},
      {0xFFFD, "\xFF\xFD\xFF"},
      {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
      {0x10000, std::string("\xFF\xFF\xFF\x00\x00\x01\x00", 7)},
  };
  for (const Row& row : rows) {
    std::string text(row.length, 'x');
    std::string bytes = Stored(text);
    ASSERT_EQ(bytes.substr(0, row.prefix.size()), row.prefix) << row.length;
    EXPECT_EQ(bytes.size(), row.prefix.size() + row.length);

    MemoryArchive in(bytes);
    std::string back;
    EXPECT_TRUE(archive::ReadString(in, back)) << row.length;
    EXPECT_EQ(back, text);
  }
}

TEST(Archive, DamagedStringsFailWithoutTouchingTheResult) {
  const std::string damaged[] = {
      "",  // no length at all
      "\x05"
      "abc",                                                    // two bytes short
      "\xFF\x01",                                               // 16-bit length cut off
      std::string("\xFF\xFE\xFF", 3),                           // wide-string marker
      std::string("\xFF\xFF\xFF\x10", 4),                       // 32-bit length cut off
      std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 7) + "tiny",  // claims 4 GiB
  };
  for (const std::string& bytes : damaged) {
    MemoryArchive in(bytes);
    std::string text = "kept";
    EXPECT_FALSE(archive::ReadString(in, text)) << testing::PrintToString(bytes);
    EXPECT_EQ(text, "kept");
  }
}

TEST(Archive, LoadingArchiveRefusesWritesAndStoringOneGivesNoBytes) {
  MemoryArchive in(std::string("abc"));
  EXPECT_FALSE(in.IsStoring());
  EXPECT_FALSE(archive::WriteInt32(in, 5));
  MemoryArchive out;
  char buffer[4];
  EXPECT_EQ(out.Read(buffer, 4), 0u);
}

}  // namespace
}  // namespace pagorin

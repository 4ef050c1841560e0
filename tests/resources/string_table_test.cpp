#include "resources/string_table.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace pagorin {
namespace {

TEST(StringTable, EveryEntryIsCodePage936OfItsSource) {
  struct Entry {
    int id;
    const char* utf8;
  };
  // The entries whose exact bytes the messages and dialogs depend on.
  const Entry entries[] = {
      {1, "低低报,"},
      {3, "高高报,"},
      {4, "高报,"},
      {9, "确认"},
      {11, "数值%f"},
      {12, ",限值%f"},
      {13, "%s报警:%s"},
      {25, ",用户%s"},
      {18, "已经存在此手机号了!\n手机号:%s\n说明:(%s)"},
      {29, "脚本编译错误，请检查！"},
  };
  for (const Entry& e : entries) {
    EXPECT_EQ(LoadString(e.id), platform::Utf8ToCp936(e.utf8)) << e.id;
  }
}

TEST(StringTable, EveryCharacterSurvivesTheConversion) {
  for (int id = 1; id <= 31; ++id) {
    const std::string& text = LoadString(id);
    if (id == 28) {
      EXPECT_TRUE(text.empty());
      continue;
    }
    ASSERT_FALSE(text.empty()) << id;
    std::string back = platform::Cp936ToUtf8(text);
    EXPECT_EQ(back.find('?'), std::string::npos) << id;
    EXPECT_EQ(back.find("\xEF\xBF\xBD"), std::string::npos) << id;
  }
}

TEST(StringTable, HelpTextsHaveTheirLinesAndQuotes) {
  auto lines = [](const std::string& text) {
    std::size_t count = 1;
    for (std::size_t pos = text.find("\r\n"); pos != std::string::npos;
         pos = text.find("\r\n", pos + 2)) {
      ++count;
    }
    return count;
  };
  EXPECT_EQ(lines(LoadString(27)), 6u);
  EXPECT_EQ(lines(LoadString(30)), 8u);
  EXPECT_EQ(lines(LoadString(31)), 6u);
  EXPECT_NE(LoadString(30).find("\",\""), std::string::npos);
  EXPECT_NE(LoadString(30).find(platform::Utf8ToCp936("13800138000，1381234567")),
            std::string::npos);
  EXPECT_NE(LoadString(27).find("\xB7\xB5\xBB\xD8\xD6\xB5\t:"), std::string::npos);  // 返回值\t:
}

TEST(StringTable, UnknownIdsGiveAnEmptyText) {
  for (int id : {-1, 0, 28, 32, 1000})
    EXPECT_TRUE(LoadString(id).empty()) << id;
  EXPECT_EQ(&LoadString(5), &LoadString(5));
}

}  // namespace
}  // namespace pagorin

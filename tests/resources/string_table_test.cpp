#include "resources/string_table.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/code_page.h"

namespace pagorin {
namespace {

// The message words are checked through the composed messages; the dialog texts here.
TEST(StringTable, DialogTextsAreCodePage936OfTheirSource) {
  const std::pair<int, const char*> entries[] = {
      {14, "手机号码库"},
      {15, "说明"},
      {16, "变量名"},
      {17, "手机个数"},
      {18, "已经存在此手机号了!\n手机号:%s\n说明:(%s)"},
      {19, "已经存在此变量了!\n变量名:%s"},
      {20, "增加手机号码"},
      {21, "修改手机号码"},
      {22, "手机号输入错误!"},
      {23, "手机号码"},
      {24, "说明:"},
      {26, "请选择DB变量!"},
      {29, "脚本编译错误，请检查！"},
  };
  for (const auto& [id, utf8] : entries) {
    EXPECT_EQ(LoadString(id), platform::Utf8ToCp936(utf8)) << id;
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
  EXPECT_EQ(lines(LoadString(string_id::kPropDlgHelp)), 6u);
  EXPECT_EQ(lines(LoadString(string_id::kSendMsgHelp)), 8u);
  EXPECT_EQ(lines(LoadString(string_id::kShouldSendHelp)), 6u);
  EXPECT_NE(LoadString(string_id::kSendMsgHelp).find("\",\""), std::string::npos);
  EXPECT_NE(
      LoadString(string_id::kSendMsgHelp).find(platform::Utf8ToCp936("13800138000，1381234567")),
      std::string::npos);
  EXPECT_NE(LoadString(string_id::kPropDlgHelp).find("\xB7\xB5\xBB\xD8\xD6\xB5\t:"),
            std::string::npos);  // 返回值\t:
}

TEST(StringTable, UnknownIdsGiveAnEmptyText) {
  for (int id : {-1, 0, 28, 32, 1000})
    EXPECT_TRUE(LoadString(id).empty()) << id;
  EXPECT_EQ(&LoadString(5), &LoadString(5));
}

}  // namespace
}  // namespace pagorin

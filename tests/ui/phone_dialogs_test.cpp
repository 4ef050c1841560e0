#include "ui/phone_dialogs.h"

#include <gtest/gtest.h>

#include "config/configuration.h"
#include "ui/dialog_test_util.h"
#include "ui/fake_dialog_view.h"

namespace pagorin {
namespace {

using testing::AddPhone;
using testing::AddRule;
using testing::Cp;
using testing::FakeDialogView;

constexpr int kNumber = phone_edit_ids::kNumberEdit;
constexpr int kDesc = phone_edit_ids::kDescEdit;
constexpr int kCombo = phone_pick_ids::kPhoneCombo;

TEST(PhoneEditDialog, FreshEntryOpensAsAddWithEmptyFields) {
  Configuration config;
  PhoneEntry entry;
  PhoneEditDialog dialog(config, entry);
  FakeDialogView view;
  view.Open(dialog);
  EXPECT_EQ(view.title(), Cp("增加手机号码"));
  EXPECT_FALSE(dialog.modifying());
  EXPECT_EQ(view.text(kNumber), "");
  EXPECT_EQ(view.text(kDesc), "");
}

TEST(PhoneEditDialog, ExistingEntryOpensAsModifyWithItsTexts) {
  Configuration config;
  PhoneEntry& entry = AddPhone(config, "13800138000", "泵房");
  PhoneEditDialog dialog(config, entry);
  FakeDialogView view;
  view.Open(dialog);
  EXPECT_EQ(view.title(), Cp("修改手机号码"));
  EXPECT_TRUE(dialog.modifying());
  EXPECT_EQ(view.text(kNumber), "13800138000");
  EXPECT_EQ(view.text(kDesc), Cp("泵房"));
}

struct NumberCase {
  const char* name;
  std::string number;
  bool accepted;
};

class PhoneNumberCheck : public ::testing::TestWithParam<NumberCase> {};

TEST_P(PhoneNumberCheck, AcceptsEightToFifteenDigitsOnly) {
  const NumberCase& c = GetParam();
  Configuration config;
  PhoneEntry entry;
  PhoneEditDialog dialog(config, entry);
  FakeDialogView view;
  view.Open(dialog);
  view.SetText(kNumber, c.number);
  view.SetText(kDesc, Cp("说明文字"));
  view.Click(kIdOk);
  if (c.accepted) {
    EXPECT_TRUE(view.messages().empty());
    EXPECT_EQ(view.endResult(), kIdOk);
    EXPECT_EQ(entry.TelNum, c.number);
    EXPECT_EQ(entry.Desc, Cp("说明文字"));
  } else {
    ASSERT_EQ(view.messages().size(), 1u);
    EXPECT_EQ(view.messages()[0], Cp("手机号输入错误!"));
    EXPECT_FALSE(view.ended());
    EXPECT_EQ(entry.TelNum, "");
    // The input stays in place for the user to correct.
    EXPECT_EQ(view.text(kNumber), c.number);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, PhoneNumberCheck,
    ::testing::Values(NumberCase{"TenDigits", "1380013800", true},
                      NumberCase{"EightDigits", "12345678", true},
                      NumberCase{"FifteenDigits", "123456789012345", true},
                      NumberCase{"SevenDigits", "1234567", false},
                      NumberCase{"SixteenDigits", "1234567890123456", false},
                      NumberCase{"Empty", "", false},
                      NumberCase{"InnerBlank", "138 00138000", false},
                      NumberCase{"LeadingPlus", "+8613800138000", false},
                      NumberCase{"LeadingBlankNotTrimmed", " 13800138000", false},
                      NumberCase{"TrailingBlankNotTrimmed", "13800138000 ", false},
                      NumberCase{"WideDigits", Cp("１３８００１３８０００"), false},
                      NumberCase{"Letter", "1380013800O", false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(PhoneEditDialog, AddingAKnownNumberShowsItWithTheTypedDescription) {
  Configuration config;
  AddPhone(config, "13800138000", "泵房");
  PhoneEntry entry;
  PhoneEditDialog dialog(config, entry);
  FakeDialogView view;
  view.Open(dialog);
  view.SetText(kNumber, "13800138000");
  view.SetText(kDesc, Cp("值班室"));
  view.Click(kIdOk);
  ASSERT_EQ(view.messages().size(), 1u);
  EXPECT_EQ(view.messages()[0], Cp("已经存在此手机号了!\n手机号:13800138000\n说明:(值班室)"));
  EXPECT_FALSE(view.ended());
  EXPECT_EQ(entry.TelNum, "");
  // Correcting the number lets the same dialog confirm.
  view.SetText(kNumber, "13800138001");
  view.Click(kIdOk);
  EXPECT_EQ(view.endResult(), kIdOk);
  EXPECT_EQ(entry.TelNum, "13800138001");
  EXPECT_EQ(entry.Desc, Cp("值班室"));
}

TEST(PhoneEditDialog, ModifiedEntryIsNotItsOwnDuplicateButOthersAre) {
  Configuration config;
  AddPhone(config, "13800138000", "甲");
  PhoneEntry& second = AddPhone(config, "13900139000", "乙");
  {
    PhoneEditDialog dialog(config, second);
    FakeDialogView view;
    view.Open(dialog);
    view.Click(kIdOk);
    EXPECT_TRUE(view.messages().empty());
    EXPECT_EQ(view.endResult(), kIdOk);
  }
  {
    PhoneEditDialog dialog(config, second);
    FakeDialogView view;
    view.Open(dialog);
    view.SetText(kNumber, "13800138000");
    view.Click(kIdOk);
    ASSERT_EQ(view.messages().size(), 1u);
    EXPECT_EQ(view.messages()[0], Cp("已经存在此手机号了!\n手机号:13800138000\n说明:(乙)"));
    EXPECT_EQ(second.TelNum, "13900139000");
  }
  // The modified entry keeps its place in the phone book.
  EXPECT_EQ(config.PhoneAt(1), &second);
}

TEST(PhoneEditDialog, CancelLeavesTheEntryUnchanged) {
  Configuration config;
  PhoneEntry& entry = AddPhone(config, "13800138000", "甲");
  PhoneEditDialog dialog(config, entry);
  FakeDialogView view;
  view.Open(dialog);
  view.SetText(kNumber, "13700137000");
  view.SetText(kDesc, Cp("丙"));
  view.Click(kIdCancel);
  EXPECT_EQ(view.endResult(), kIdCancel);
  EXPECT_EQ(entry.TelNum, "13800138000");
  EXPECT_EQ(entry.Desc, Cp("甲"));
}

class PhonePickDialogTest : public ::testing::Test {
 protected:
  PhonePickDialogTest() {
    AddPhone(config, "13800138000", "pump");
    AddPhone(config, "13900139000", "泵房");
    AddPhone(config, "13700137000", "");
  }
  Configuration config;
  AlarmRule rule;
};

TEST_F(PhonePickDialogTest, ListsEveryEntryWithItsDescription) {
  PhonePickDialog dialog(config, 1, rule);
  FakeDialogView view;
  view.Open(dialog);
  const auto& items = view.combo(kCombo).items;
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].first, Cp("13800138000说明:pump"));
  EXPECT_EQ(items[1].first, Cp("13900139000说明:泵房"));
  EXPECT_EQ(items[2].first, Cp("13700137000说明:"));
  for (std::size_t i = 0; i < items.size(); ++i)
    EXPECT_EQ(items[i].second, ItemData(i));
  EXPECT_EQ(view.combo(kCombo).selection, 1);
}

TEST_F(PhonePickDialogTest, IndexOutsideTheListOpensWithoutSelection) {
  for (int initial : {3, -1, 17}) {
    PhonePickDialog dialog(config, initial, rule);
    FakeDialogView view;
    view.Open(dialog);
    EXPECT_EQ(view.combo(kCombo).selection, -1) << initial;
  }
}

TEST_F(PhonePickDialogTest, ChoosingAnEntryTheRuleHoldsIsRejected) {
  rule.TelPlace = {1};
  PhonePickDialog dialog(config, 0, rule);
  FakeDialogView view;
  view.Open(dialog);
  view.Choose(kCombo, 1);
  view.Click(kIdOk);
  ASSERT_EQ(view.messages().size(), 1u);
  EXPECT_EQ(view.messages()[0], Cp("已经存在此手机号了!\n手机号:13900139000\n说明:(泵房)"));
  EXPECT_FALSE(view.ended());
  view.Choose(kCombo, 2);
  view.Click(kIdOk);
  EXPECT_EQ(view.endResult(), kIdOk);
  EXPECT_EQ(dialog.selectedIndex(), 2);
  EXPECT_EQ(rule.TelPlace, std::vector<int>{1});
}

TEST_F(PhonePickDialogTest, UnchangedChoiceInAReplaceIsRejected) {
  rule.TelPlace = {0, 2};
  PhonePickDialog dialog(config, 2, rule);
  FakeDialogView view;
  view.Open(dialog);
  view.Click(kIdOk);
  ASSERT_EQ(view.messages().size(), 1u);
  EXPECT_EQ(view.messages()[0], Cp("已经存在此手机号了!\n手机号:13700137000\n说明:()"));
  view.Click(kIdCancel);
  EXPECT_EQ(view.endResult(), kIdCancel);
}

TEST_F(PhonePickDialogTest, OkWithoutAChoiceKeepsTheDialogOpen) {
  PhonePickDialog dialog(config, 5, rule);
  FakeDialogView view;
  view.Open(dialog);
  view.Click(kIdOk);
  EXPECT_FALSE(view.ended());
  EXPECT_TRUE(view.messages().empty());
}

}  // namespace
}  // namespace pagorin

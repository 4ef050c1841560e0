#include "ui/rule_dialog.h"

#include <gtest/gtest.h>

#include "config/configuration.h"
#include "ui/dialog_test_util.h"
#include "ui/fake_dialog_view.h"
#include "ui/fake_host.h"
#include "ui/phone_dialogs.h"

namespace pagorin {
namespace {

using testing::AddPhone;
using testing::AddRule;
using testing::Cp;
using testing::DialogTestHost;
using testing::FakeDialogView;
namespace ids = rule_ids;

constexpr int kFilterChecks[] = {
    ids::kLoLoCheck, ids::kLoCheck,     ids::kHiHiCheck, ids::kHiCheck,    ids::kLowCheck,
    ids::kHighCheck, ids::kUrgentCheck, ids::kAckCheck,  ids::kNoAckCheck, ids::kResumeCheck};
constexpr int kDefaultTextChecks[] = {ids::kValueCheck, ids::kLimitCheck, ids::kUserCheck};

class RuleDialogTest : public ::testing::Test {
 protected:
  RuleDialogTest() {
    AddPhone(config, "13800138000", "甲");
    AddPhone(config, "13900139000", "乙");
    AddPhone(config, "13700137000", "丙");
  }

  // Opens the dialog on `rule` (a rule of the configuration or a fresh one).
  void Open(AlarmRule& rule) {
    dialog = std::make_unique<RuleDialog>(config, host, rule);
    view.Open(*dialog);
  }

  // A child step that chooses phone-book entry `index` in the pick dialog and confirms.
  static testing::ChildStep Pick(int index) {
    return [index](DialogController&, FakeDialogView& pick) {
      pick.Choose(phone_pick_ids::kPhoneCombo, index);
      pick.Click(kIdOk);
    };
  }

  Configuration config;
  DialogTestHost host;
  FakeDialogView view;
  std::unique_ptr<RuleDialog> dialog;
};

TEST_F(RuleDialogTest, FreshRuleOpeningState) {
  AlarmRule rule;
  Open(rule);
  EXPECT_FALSE(dialog->modifying());
  for (int id : kFilterChecks)
    EXPECT_EQ(view.check(id), 1) << id;
  for (int id : kDefaultTextChecks) {
    EXPECT_EQ(view.check(id), 0) << id;
    EXPECT_TRUE(view.enabled(id)) << id;
  }
  EXPECT_EQ(view.check(ids::kDefaultFormatRadio), 1);
  EXPECT_EQ(view.check(ids::kCustomFormatRadio), 0);
  EXPECT_EQ(view.check(ids::kOrLogicRadio), 1);
  EXPECT_EQ(view.check(ids::kAndLogicRadio), 0);
  EXPECT_FALSE(view.enabled(ids::kCustomTextEdit));
  EXPECT_FALSE(view.enabled(ids::kInsertVariable));
  EXPECT_EQ(view.text(ids::kVariableEdit), "");

  const testing::FakeList& list = view.list(ids::kPhoneList);
  EXPECT_EQ(list.rowHeight, 16);
  EXPECT_EQ(list.extendedStyles, 0x61u);
  ASSERT_EQ(list.columns.size(), 2u);
  EXPECT_EQ(list.columns[0].heading, Cp("手机号码"));
  EXPECT_EQ(list.columns[0].width, 90);
  EXPECT_EQ(list.columns[1].heading, Cp("说明"));
  EXPECT_EQ(list.columns[1].width, 79);
  EXPECT_TRUE(list.columns[0].centred && list.columns[1].centred);
  EXPECT_TRUE(list.rows.empty());
}

TEST_F(RuleDialogTest, OpensWithTheRulesFieldsAndSkipsIndexesWithoutEntry) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {2, 9, 0}, "一号罐");
  rule.Ll = 0;
  rule.Urg = 0;
  rule.User = 1;
  rule.Logic = 1;
  rule.Script = Cp("液位过高");
  Open(rule);
  EXPECT_TRUE(dialog->modifying());
  EXPECT_EQ(view.text(ids::kVariableEdit), "Tank1.PV");
  EXPECT_EQ(view.text(ids::kDescEdit), Cp("一号罐"));
  EXPECT_EQ(view.text(ids::kCustomTextEdit), Cp("液位过高"));
  EXPECT_EQ(view.check(ids::kLoLoCheck), 0);
  EXPECT_EQ(view.check(ids::kUrgentCheck), 0);
  EXPECT_EQ(view.check(ids::kUserCheck), 1);
  EXPECT_EQ(view.check(ids::kAndLogicRadio), 1);
  EXPECT_EQ(view.check(ids::kOrLogicRadio), 0);
  EXPECT_EQ(view.Column(ids::kPhoneList, 0),
            (std::vector<std::string>{"13700137000", "13800138000"}));
  EXPECT_EQ(view.Column(ids::kPhoneList, 1), (std::vector<std::string>{Cp("丙"), Cp("甲")}));
  EXPECT_EQ(view.list(ids::kPhoneList).rows[0].data, 2);
  EXPECT_EQ(view.list(ids::kPhoneList).rows[1].data, 0);
}

struct EnablingCase {
  const char* name;
  int format;
  int runMode;
  bool customText;   // kCustomTextEdit
  bool insert;       // kInsertVariable
  bool defaultText;  // kValueCheck, kLimitCheck, kUserCheck
};

class RuleDialogEnabling : public RuleDialogTest,
                           public ::testing::WithParamInterface<EnablingCase> {};

TEST_P(RuleDialogEnabling, OpeningEnablesTheControlsOfTheFormat) {
  const EnablingCase& c = GetParam();
  AlarmRule& rule = AddRule(config, "Tank1.PV", {});
  rule.Format = c.format;
  host.runMode = c.runMode;
  Open(rule);
  EXPECT_EQ(view.enabled(ids::kCustomTextEdit), c.customText);
  EXPECT_EQ(view.enabled(ids::kInsertVariable), c.insert);
  for (int id : kDefaultTextChecks)
    EXPECT_EQ(view.enabled(id), c.defaultText) << id;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RuleDialogEnabling,
    ::testing::Values(EnablingCase{"DefaultEdit", 0, 0, false, false, true},
                      EnablingCase{"DefaultRun", 0, 1, false, false, true},
                      EnablingCase{"CustomEdit", 1, 0, true, true, false},
                      // In run mode the custom text is locked and the default-text boxes keep
                      // the state they had, here the enabled state of a new dialog.
                      EnablingCase{"CustomRun", 1, 1, false, false, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(RuleDialogTest, SwitchingFormatsOnlyChangesTheEnabling) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {});
  Open(rule);
  view.ClickRadio(ids::kCustomFormatRadio, {ids::kDefaultFormatRadio, ids::kCustomFormatRadio});
  EXPECT_TRUE(view.enabled(ids::kCustomTextEdit));
  EXPECT_TRUE(view.enabled(ids::kInsertVariable));
  for (int id : kDefaultTextChecks)
    EXPECT_FALSE(view.enabled(id));
  EXPECT_EQ(rule.Format, 0);
  view.ClickRadio(ids::kDefaultFormatRadio, {ids::kDefaultFormatRadio, ids::kCustomFormatRadio});
  EXPECT_FALSE(view.enabled(ids::kCustomTextEdit));
  EXPECT_FALSE(view.enabled(ids::kInsertVariable));
  for (int id : kDefaultTextChecks)
    EXPECT_TRUE(view.enabled(id));
  EXPECT_EQ(rule.Format, 0);
  // With the default format the custom text is not handed to the compiler.
  view.SetText(ids::kCustomTextEdit, "bad script");
  view.Click(kIdOk);
  EXPECT_EQ(view.endResult(), kIdOk);
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(RuleDialogTest, SwitchingToCustomInRunModeKeepsTheCustomTextLocked) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {});
  host.runMode = 1;
  Open(rule);
  view.ClickRadio(ids::kCustomFormatRadio, {ids::kDefaultFormatRadio, ids::kCustomFormatRadio});
  EXPECT_FALSE(view.enabled(ids::kCustomTextEdit));
  EXPECT_FALSE(view.enabled(ids::kInsertVariable));
  for (int id : kDefaultTextChecks)
    EXPECT_TRUE(view.enabled(id));
}

TEST_F(RuleDialogTest, EmptyVariableIsReportedFirst) {
  AlarmRule rule;
  Open(rule);
  view.SetText(ids::kDescEdit, Cp("描述"));
  view.SetText(ids::kCustomTextEdit, "bad script");
  view.ClickRadio(ids::kCustomFormatRadio, {ids::kDefaultFormatRadio, ids::kCustomFormatRadio});
  view.Click(kIdOk);
  EXPECT_EQ(view.messages(), std::vector<std::string>{Cp("请选择DB变量!")});
  EXPECT_FALSE(view.ended());
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(rule.Desc, "");
}

TEST_F(RuleDialogTest, CustomTextIsCompiledOutsideRunModeOnly) {
  AddRule(config, "Tank1.PV", {});
  AlarmRule rule;
  Open(rule);
  // The script is checked before the duplicate variable.
  view.SetText(ids::kVariableEdit, "Tank1.PV");
  view.SetText(ids::kCustomTextEdit, "bad script");
  view.ClickRadio(ids::kCustomFormatRadio, {ids::kDefaultFormatRadio, ids::kCustomFormatRadio});
  view.Click(kIdOk);
  EXPECT_EQ(view.messages(), std::vector<std::string>{Cp("脚本编译错误，请检查！")});
  EXPECT_EQ(host.calls, std::vector<std::string>{"CheckScript bad script"});

  host.runMode = 1;
  host.calls.clear();
  view.SetText(ids::kVariableEdit, "Tank2.PV");
  view.Click(kIdOk);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(view.endResult(), kIdOk);
  EXPECT_EQ(rule.Script, "bad script");
  EXPECT_EQ(rule.Format, 1);
}

TEST_F(RuleDialogTest, FreshRuleWithAnExistingVariableIsRejected) {
  AddRule(config, "Tank1.PV", {});
  AlarmRule rule;
  Open(rule);
  view.SetText(ids::kVariableEdit, "Tank1.PV");
  view.Click(kIdOk);
  EXPECT_EQ(view.messages(), std::vector<std::string>{Cp("已经存在此变量了!\n变量名:Tank1.PV")});
  EXPECT_FALSE(view.ended());
  EXPECT_EQ(rule.VarName, "");
}

TEST_F(RuleDialogTest, ModifiedRuleKeepsItsOwnVariableButNotAnothers) {
  AddRule(config, "Tank1.PV", {});
  AlarmRule& rule = AddRule(config, "Tank2.PV", {});
  Open(rule);
  view.Click(kIdOk);
  EXPECT_EQ(view.endResult(), kIdOk);

  FakeDialogView second;
  RuleDialog again(config, host, rule);
  second.Open(again);
  second.SetText(ids::kVariableEdit, "Tank1.PV");
  second.Click(kIdOk);
  EXPECT_EQ(second.messages(), std::vector<std::string>{Cp("已经存在此变量了!\n变量名:Tank1.PV")});
  EXPECT_EQ(rule.VarName, "Tank2.PV");
}

TEST_F(RuleDialogTest, OkWritesBackEveryEditedFieldButNotTheDerivedOnes) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {0});
  rule.BScript = 1;
  rule.ScriptType = 5;
  host.compilingScripts.insert("$Text");
  Open(rule);
  view.SetText(ids::kVariableEdit, "Tank3.PV");
  view.SetText(ids::kDescEdit, Cp("三号罐"));
  for (int id : kFilterChecks)
    view.ClickCheck(id, 0);
  for (int id : kDefaultTextChecks)
    view.ClickCheck(id, 1);
  view.ClickRadio(ids::kAndLogicRadio, {ids::kOrLogicRadio, ids::kAndLogicRadio});
  view.ClickRadio(ids::kCustomFormatRadio, {ids::kDefaultFormatRadio, ids::kCustomFormatRadio});
  view.SetText(ids::kCustomTextEdit, "$Text");
  view.Click(kIdOk);
  ASSERT_EQ(view.endResult(), kIdOk);
  EXPECT_EQ(rule.VarName, "Tank3.PV");
  EXPECT_EQ(rule.Desc, Cp("三号罐"));
  for (int AlarmRule::*field :
       {&AlarmRule::Ll, &AlarmRule::Lo, &AlarmRule::Hh, &AlarmRule::Hi, &AlarmRule::Low,
        &AlarmRule::Hig, &AlarmRule::Urg, &AlarmRule::Ack, &AlarmRule::NoAck, &AlarmRule::Resume}) {
    EXPECT_EQ(rule.*field, 0);
  }
  EXPECT_EQ(rule.Value, 1);
  EXPECT_EQ(rule.ValueLimit, 1);
  EXPECT_EQ(rule.User, 1);
  EXPECT_EQ(rule.Logic, 1);
  EXPECT_EQ(rule.Format, 1);
  EXPECT_EQ(rule.Script, "$Text");
  EXPECT_EQ(rule.BScript, 1);
  EXPECT_EQ(rule.ScriptType, 5);
  EXPECT_EQ(rule.TelPlace, std::vector<int>{0});
}

TEST_F(RuleDialogTest, CancelKeepsOnlyThePhoneListChanges) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {0});
  Open(rule);
  view.QueueChild(Pick(2));
  view.Click(ids::kAddPhone);
  view.SetText(ids::kDescEdit, Cp("改了"));
  view.ClickCheck(ids::kLoLoCheck, 0);
  view.Click(kIdCancel);
  EXPECT_EQ(view.endResult(), kIdCancel);
  EXPECT_EQ(rule.TelPlace, (std::vector<int>{0, 2}));
  EXPECT_EQ(rule.Desc, "");
  EXPECT_EQ(rule.Ll, 1);
}

TEST_F(RuleDialogTest, AddOpensThePickAtTheFirstEntryAndAppendsARow) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {1});
  Open(rule);
  int initialSelection = -2;
  view.QueueChild([&](DialogController&, FakeDialogView& pick) {
    initialSelection = pick.combo(phone_pick_ids::kPhoneCombo).selection;
    pick.Choose(phone_pick_ids::kPhoneCombo, 2);
    pick.Click(kIdOk);
  });
  view.DoubleClick(ids::kPhoneList);  // no row selected: add
  EXPECT_EQ(initialSelection, 0);
  EXPECT_EQ(view.childTemplates(), std::vector<int>{kPhonePickDialogId});
  EXPECT_EQ(rule.TelPlace, (std::vector<int>{1, 2}));
  EXPECT_EQ(view.Column(ids::kPhoneList, 0),
            (std::vector<std::string>{"13900139000", "13700137000"}));
  EXPECT_EQ(view.list(ids::kPhoneList).rows[1].data, 2);
}

TEST_F(RuleDialogTest, ReplaceSwapsTheIndexAndTheRow) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {0, 1});
  Open(rule);
  int initialSelection = -2;
  view.QueueChild([&](DialogController&, FakeDialogView& pick) {
    initialSelection = pick.combo(phone_pick_ids::kPhoneCombo).selection;
    pick.Choose(phone_pick_ids::kPhoneCombo, 2);
    pick.Click(kIdOk);
  });
  view.SelectRow(ids::kPhoneList, 0);
  view.DoubleClick(ids::kPhoneList);  // a row is selected: replace
  EXPECT_EQ(initialSelection, 0);
  EXPECT_EQ(rule.TelPlace, (std::vector<int>{2, 1}));
  EXPECT_EQ(view.list(ids::kPhoneList).rows[0].cells,
            (std::vector<std::string>{"13700137000", Cp("丙")}));
  EXPECT_EQ(view.list(ids::kPhoneList).rows[0].data, 2);
}

TEST_F(RuleDialogTest, CancelledPickChangesNothing) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {0});
  Open(rule);
  view.SelectRow(ids::kPhoneList, 0);
  view.Click(ids::kReplacePhone);  // no step queued: the pick is cancelled
  view.Click(ids::kAddPhone);
  EXPECT_EQ(view.childDialogsRun(), 2);
  EXPECT_EQ(rule.TelPlace, std::vector<int>{0});
  EXPECT_EQ(view.list(ids::kPhoneList).rows.size(), 1u);
}

TEST_F(RuleDialogTest, RemoveDropsTheFirstEqualIndexAndSelectsTheNextRow) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {0, 2, 1});
  Open(rule);
  view.SelectRow(ids::kPhoneList, 1);
  view.PressDelete(ids::kPhoneList);
  EXPECT_EQ(rule.TelPlace, (std::vector<int>{0, 1}));
  EXPECT_EQ(view.Column(ids::kPhoneList, 0),
            (std::vector<std::string>{"13800138000", "13900139000"}));
  EXPECT_EQ(view.list(ids::kPhoneList).selection, 1);
  view.Click(ids::kRemovePhone);
  EXPECT_EQ(rule.TelPlace, std::vector<int>{0});
  EXPECT_EQ(view.list(ids::kPhoneList).selection, -1);
  view.Click(ids::kRemovePhone);  // nothing selected
  EXPECT_EQ(rule.TelPlace, std::vector<int>{0});
}

TEST_F(RuleDialogTest, EmptyPhoneBookOpensNoPick) {
  config.ClearPhoneBook();
  AlarmRule& rule = AddRule(config, "Tank1.PV", {0});
  Open(rule);
  view.Click(ids::kAddPhone);
  view.SelectRow(ids::kPhoneList, 0);
  view.Click(ids::kReplacePhone);
  view.DoubleClick(ids::kPhoneList);
  EXPECT_EQ(view.childDialogsRun(), 0);
  EXPECT_EQ(rule.TelPlace, std::vector<int>{0});
}

TEST_F(RuleDialogTest, BrowseReplacesTheVariableText) {
  AlarmRule rule;
  Open(rule);
  view.SetText(ids::kVariableEdit, "Tank1");
  host.selectAnswers = {"Tank1.PV"};
  view.Click(ids::kBrowseVariable);
  EXPECT_EQ(host.calls, std::vector<std::string>{"SelectVariable 0 0 Tank1"});
  EXPECT_EQ(view.text(ids::kVariableEdit), "Tank1.PV");
}

TEST_F(RuleDialogTest, InsertingTheSameVariableTwiceAppendsItTwice) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {});
  rule.Format = 1;
  Open(rule);
  view.SetText(ids::kCustomTextEdit, Cp("液位:"));
  host.selectAnswers = {"Tank1.PV"};
  view.Click(ids::kInsertVariable);
  view.Click(ids::kInsertVariable);  // the browser hands back the last choice again
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{"SelectVariable 0 0 ", "SelectVariable 0 0 Tank1.PV"}));
  EXPECT_EQ(view.text(ids::kCustomTextEdit), Cp("液位:") + "Tank1.PVTank1.PV");
}

}  // namespace
}  // namespace pagorin

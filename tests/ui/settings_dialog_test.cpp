#include "ui/settings_dialog.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/configuration.h"
#include "markup/markup_document.h"
#include "support/temp_dir.h"
#include "ui/dialog_test_util.h"
#include "ui/fake_dialog_view.h"
#include "ui/fake_host.h"

namespace pagorin {
namespace {

using testing::AddPhone;
using testing::AddRule;
using testing::Cp;
using testing::DialogTestHost;
using testing::FakeDialogView;
namespace ids = settings_ids;

class SettingsDialogTest : public ::testing::Test {
 protected:
  SettingsDialogTest() { config.configPath = folder.File("Kestrova_Configure.ini"); }

  void Open() {
    dialog = std::make_unique<SettingsDialog>(config, host);
    view.Open(*dialog);
  }

  void AddThreePhones() {
    AddPhone(config, "13800138000", "甲");
    AddPhone(config, "13900139000", "乙");
    AddPhone(config, "13700137000", "丙");
  }

  testing::TempDir folder;
  Configuration config;
  DialogTestHost host;
  FakeDialogView view;
  std::unique_ptr<SettingsDialog> dialog;
};

TEST_F(SettingsDialogTest, OpensWithTheListsColumnsAndRows) {
  AddThreePhones();
  AddRule(config, "Tank1.PV", {0, 2}, "一号罐");
  AddRule(config, "Tank2.PV", {});
  Open();
  const testing::FakeList& phones = view.list(ids::kPhoneList);
  EXPECT_EQ(phones.rowHeight, 16);
  EXPECT_EQ(phones.extendedStyles, 0x61u);
  ASSERT_EQ(phones.columns.size(), 2u);
  EXPECT_EQ(phones.columns[0].heading, Cp("手机号码库"));
  EXPECT_EQ(phones.columns[0].width, 90);
  EXPECT_EQ(phones.columns[1].heading, Cp("说明"));
  EXPECT_EQ(phones.columns[1].width, 79);
  EXPECT_EQ(view.Column(ids::kPhoneList, 0),
            (std::vector<std::string>{"13800138000", "13900139000", "13700137000"}));
  EXPECT_EQ(view.Column(ids::kPhoneList, 1),
            (std::vector<std::string>{Cp("甲"), Cp("乙"), Cp("丙")}));

  const testing::FakeList& rules = view.list(ids::kRuleList);
  EXPECT_EQ(rules.rowHeight, 16);
  EXPECT_EQ(rules.extendedStyles, 0x61u);
  ASSERT_EQ(rules.columns.size(), 3u);
  EXPECT_EQ(rules.columns[0].heading, Cp("变量名"));
  EXPECT_EQ(rules.columns[1].heading, Cp("手机个数"));
  EXPECT_EQ(rules.columns[2].heading, Cp("说明"));
  EXPECT_EQ(rules.columns[0].width, 90);
  EXPECT_EQ(rules.columns[1].width, 70);
  EXPECT_EQ(rules.columns[2].width, 70);
  EXPECT_EQ(rules.rows[0].cells, (std::vector<std::string>{"Tank1.PV", "2", Cp("一号罐")}));
  EXPECT_EQ(rules.rows[1].cells, (std::vector<std::string>{"Tank2.PV", "0", ""}));
}

TEST_F(SettingsDialogTest, FillsTheSerialListsInIndexOrder) {
  config.Com = 3;
  config.Baund = 5;
  config.DataBit = 0;
  config.sendEnabled = 0;
  Open();
  const auto texts = [&](int id) {
    std::vector<std::string> out;
    for (const auto& [text, data] : view.combo(id).items) {
      EXPECT_EQ(data, ItemData(out.size()));
      out.push_back(text);
    }
    return out;
  };
  EXPECT_EQ(texts(ids::kPortCombo),
            (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"}));
  EXPECT_EQ(texts(ids::kBaudCombo),
            (std::vector<std::string>{"2400", "4800", "9600", "14400", "19200", "115200"}));
  EXPECT_EQ(texts(ids::kDataBitsCombo), (std::vector<std::string>{"7", "8"}));
  EXPECT_EQ(view.combo(ids::kPortCombo).selection, 3);
  EXPECT_EQ(view.combo(ids::kBaudCombo).selection, 5);
  EXPECT_EQ(view.combo(ids::kDataBitsCombo).selection, 0);
  EXPECT_EQ(view.check(ids::kSendCheck), 0);
}

struct StoredIndexCase {
  const char* name;
  int Configuration::*field;
  int comboId;
  int stored;
};

class SettingsStoredIndex : public SettingsDialogTest,
                            public ::testing::WithParamInterface<StoredIndexCase> {};

// An index outside its list opens without a selection, and confirming without a choice stores
// "no selection" (-1).
TEST_P(SettingsStoredIndex, OutsideTheListOpensEmptyAndConfirmsAsMinusOne) {
  const StoredIndexCase& c = GetParam();
  config.*c.field = c.stored;
  Open();
  EXPECT_EQ(view.combo(c.comboId).selection, -1);
  view.Click(kIdOk);
  EXPECT_EQ(view.endResult(), kIdOk);
  EXPECT_EQ(config.*c.field, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, SettingsStoredIndex,
    ::testing::Values(StoredIndexCase{"Baund7", &Configuration::Baund, ids::kBaudCombo, 7},
                      StoredIndexCase{"BaundMinus1", &Configuration::Baund, ids::kBaudCombo, -1},
                      StoredIndexCase{"Com6", &Configuration::Com, ids::kPortCombo, 6},
                      StoredIndexCase{"DataBit2", &Configuration::DataBit, ids::kDataBitsCombo, 2}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SettingsDialogTest, ConfirmCopiesTheSerialSettingsAndTheSendSwitch) {
  Open();
  view.Choose(ids::kPortCombo, 4);
  view.Choose(ids::kBaudCombo, 0);
  view.Choose(ids::kDataBitsCombo, 0);
  view.ClickCheck(ids::kSendCheck, 0);
  EXPECT_EQ(config.Com, 0);  // nothing changes before OK
  view.Click(kIdOk);
  EXPECT_EQ(view.endResult(), kIdOk);
  EXPECT_EQ(config.Com, 4);
  EXPECT_EQ(config.Baund, 0);
  EXPECT_EQ(config.DataBit, 0);
  EXPECT_EQ(config.sendEnabled, 0);
}

TEST_F(SettingsDialogTest, LongTextSettingsAreShownCheckedAndStoredOnOk) {
  struct Row {
    const char* maxParts;
    const char* coalesce;
    int concat;
    const char* message;  // the message box, UTF-8; empty when OK is taken
    // The hearing-back edits: wait in minutes, own number, loop hours, the report check.
    const char* wait = "60";
    const char* own = "";
    const char* loop = "0";
    int reports = 1;
  };
  const Row rows[] = {
      {"8", "0", 0, ""},
      {" 20 ", "1000", 1, ""},
      {"5", "3", 1, "", "1", " 13800138000 ", "720", 0},
      {"5", "3", 1, "", "10080", "861380013800", "1"},
      {"5", "3", 1, "等待回执的分钟数应为1到10080之间的整数!", "0"},
      {"5", "3", 1, "等待回执的分钟数应为1到10080之间的整数!", "10081"},
      {"5", "3", 1, "自检间隔应为0到720之间的整数(小时)!", "60", "", "721"},
      {"5", "3", 1, "本机号码应为空或11到12位数字!", "60", "1380013800"},
      {"5", "3", 1, "本机号码应为空或11到12位数字!", "60", "1380013800a"},
      {"0", "3", 1, "最多条数应为1到20之间的整数!"},
      {"21", "3", 1, "最多条数应为1到20之间的整数!"},
      {"", "3", 1, "最多条数应为1到20之间的整数!"},
      {"5", "-1", 1, "积压合并的条数应为0到1000之间的整数!"},
      {"5", "3x", 1, "积压合并的条数应为0到1000之间的整数!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.maxParts) + " / " + row.coalesce);
    Configuration edited;
    edited.configPath = folder.File("Kestrova_Configure.ini");
    FakeDialogView form;
    SettingsDialog settings(edited, host);
    form.Open(settings);
    EXPECT_EQ(form.check(ids::kConcatCheck), 1);
    EXPECT_EQ(form.text(ids::kMaxPartsEdit), "5");
    EXPECT_EQ(form.text(ids::kCoalesceEdit), "3");
    form.SetText(ids::kMaxPartsEdit, row.maxParts);
    form.SetText(ids::kCoalesceEdit, row.coalesce);
    form.ClickCheck(ids::kConcatCheck, row.concat);
    EXPECT_EQ(form.check(ids::kReportsCheck), 1);
    EXPECT_EQ(form.text(ids::kReportWaitEdit), "60");
    EXPECT_EQ(form.text(ids::kLoopHoursEdit), "0");
    form.SetText(ids::kReportWaitEdit, row.wait);
    form.SetText(ids::kOwnNumberEdit, row.own);
    form.SetText(ids::kLoopHoursEdit, row.loop);
    form.SetText(ids::kInboxScriptEdit, "In=1");
    form.ClickCheck(ids::kReportsCheck, row.reports);
    form.Click(kIdOk);
    if (*row.message != 0) {
      EXPECT_EQ(form.messages(), std::vector<std::string>{Cp(row.message)});
      EXPECT_NE(form.endResult(), kIdOk);
      EXPECT_EQ(edited.MaxParts, 5);
      EXPECT_EQ(edited.Coalesce, 3);
      EXPECT_EQ(edited.Concat, 1);
      EXPECT_EQ(edited.ReportWaitMin, 60);
      EXPECT_EQ(edited.InboxScript, "");
    } else {
      EXPECT_TRUE(form.messages().empty());
      EXPECT_EQ(form.endResult(), kIdOk);
      EXPECT_EQ(edited.MaxParts, std::stoi(row.maxParts));
      EXPECT_EQ(edited.Coalesce, std::stoi(row.coalesce));
      EXPECT_EQ(edited.Concat, row.concat);
      EXPECT_EQ(edited.ReportWaitMin, std::stoi(row.wait));
      EXPECT_EQ(edited.LoopHours, std::stoi(row.loop));
      EXPECT_EQ(edited.Reports, row.reports);
      EXPECT_EQ(edited.InboxScript, "In=1");
      const std::string own = row.own;
      EXPECT_EQ(edited.OwnNumber, own.empty() ? own
                                              : own.substr(own.find_first_not_of(' '),
                                                           own.find_last_not_of(' ') + 1 -
                                                               own.find_first_not_of(' ')));
    }
  }
}

TEST_F(SettingsDialogTest, CancelKeepsSerialSettingsButNotListEdits) {
  AddThreePhones();
  Open();
  view.Choose(ids::kBaudCombo, 5);
  view.ClickCheck(ids::kSendCheck, 0);
  view.QueueChild([](DialogController&, FakeDialogView& edit) {
    edit.SetText(phone_edit_ids::kNumberEdit, "15000150000");
    edit.Click(kIdOk);
  });
  view.Click(ids::kAddPhone);
  view.QueueChild([](DialogController&, FakeDialogView& rule) {
    rule.SetText(rule_ids::kVariableEdit, "Tank1.PV");
    rule.Click(kIdOk);
  });
  view.Click(ids::kAddRule);
  view.Click(kIdCancel);
  EXPECT_EQ(view.endResult(), kIdCancel);
  EXPECT_EQ(config.Baund, 2);
  EXPECT_EQ(config.sendEnabled, 1);
  ASSERT_EQ(config.phoneBook.size(), 4u);
  EXPECT_EQ(config.phoneBook[3]->TelNum, "15000150000");
  ASSERT_EQ(config.alarmRules.size(), 1u);
  EXPECT_EQ(config.alarmRules[0]->VarName, "Tank1.PV");
  EXPECT_FALSE(std::filesystem::exists(config.configPath));
}

TEST_F(SettingsDialogTest, ConfirmWritesTheFileEvenWhenNothingChanged) {
  Open();
  view.Click(kIdOk);
  EXPECT_EQ(view.endResult(), kIdOk);
  EXPECT_TRUE(std::filesystem::exists(config.configPath));
}

TEST_F(SettingsDialogTest, TellsADamagedFileOnOpeningAndAFailedSaveOnConfirming) {
  testing::WriteFileBytes(config.configPath, "<?xml version=\"1.0\"?>\r\n<XML TelCount=\"0\">");
  MarkupDocument document;
  LoadConfiguration(config, document);
  Open();
  ASSERT_EQ(view.messages().size(), 1u);
  EXPECT_EQ(view.messages()[0].rfind(Cp("配置文件已损坏"), 0), 0u);
  EXPECT_NE(view.messages()[0].find(config.configPath), std::string::npos);

  // The folder is gone by the time the user confirms: the dialog says so and still ends.
  config.configPath = folder.File("gone/Kestrova_Configure.ini");
  view.Click(kIdOk);
  ASSERT_EQ(view.messages().size(), 2u);
  EXPECT_EQ(view.messages()[1].rfind(Cp("配置文件保存失败"), 0), 0u);
  EXPECT_EQ(view.endResult(), kIdOk);
}

TEST_F(SettingsDialogTest, ConfirmWritesTheEditedLists) {
  Open();
  view.QueueChild([](DialogController&, FakeDialogView& edit) {
    edit.SetText(phone_edit_ids::kNumberEdit, "13800138000");
    edit.SetText(phone_edit_ids::kDescEdit, Cp("值班室"));
    edit.Click(kIdOk);
  });
  view.Click(ids::kAddPhone);
  view.QueueChild([](DialogController&, FakeDialogView& rule) {
    rule.SetText(rule_ids::kVariableEdit, "Tank1.PV");
    rule.QueueChild([](DialogController&, FakeDialogView& pick) { pick.Click(kIdOk); });
    rule.Click(rule_ids::kAddPhone);
    rule.Click(kIdOk);
  });
  view.Click(ids::kAddRule);
  EXPECT_EQ(view.list(ids::kRuleList).rows[0].cells,
            (std::vector<std::string>{"Tank1.PV", "1", ""}));
  view.Click(kIdOk);
  const std::string file = testing::ReadFileBytes(config.configPath);
  EXPECT_NE(file.find("13800138000"), std::string::npos) << file;
  EXPECT_NE(file.find(Cp("值班室")), std::string::npos) << file;
  EXPECT_NE(file.find("Tank1.PV"), std::string::npos) << file;
}

struct ClassifyCase {
  const char* name;
  std::string varName;
  std::string script;
  bool isVariable;
  bool compiles;
  std::vector<std::string> calls;
  int bScript;
  int scriptType;
};

class SettingsClassify : public SettingsDialogTest,
                         public ::testing::WithParamInterface<ClassifyCase> {};

// Confirming asks the host about every rule's custom text, whatever its format.
TEST_P(SettingsClassify, WorksOutWhatTheCustomTextIs) {
  const ClassifyCase& c = GetParam();
  AlarmRule& rule = AddRule(config, c.varName, {});
  rule.Script = c.script;
  rule.BScript = 7;
  rule.ScriptType = 9;
  if (c.isVariable) host.variables[c.script] = 5;
  if (c.compiles) host.compilingScripts.insert(c.script);
  Open();
  view.Click(kIdOk);
  EXPECT_EQ(host.calls, c.calls);
  EXPECT_EQ(rule.BScript, c.bScript);
  EXPECT_EQ(rule.ScriptType, c.scriptType);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SettingsClassify,
    ::testing::Values(ClassifyCase{"Variable",
                                   "Tank1.PV",
                                   "Msg.Text",
                                   true,
                                   true,
                                   {"WatchVariable Tank1.PV", "IsVariable Msg.Text",
                                    "WatchVariable Msg.Text", "GetVariableType Msg.Text"},
                                   1,
                                   5},
                      ClassifyCase{"Script",
                                   "Tank1.PV",
                                   "x=1;",
                                   false,
                                   true,
                                   {"WatchVariable Tank1.PV", "IsVariable x=1;", "CheckScript x=1;",
                                    "AttachScript Tank1 x=1;"},
                                   0,
                                   9},
                      ClassifyCase{"ScriptTagCutAtLastDot",
                                   "Area.Tank1.PV",
                                   "x=1;",
                                   false,
                                   true,
                                   {"WatchVariable Area.Tank1.PV", "IsVariable x=1;",
                                    "CheckScript x=1;", "AttachScript Area.Tank1 x=1;"},
                                   0,
                                   9},
                      ClassifyCase{"ScriptNameWithoutDot",
                                   "Tank1",
                                   "x=1;",
                                   false,
                                   true,
                                   {"WatchVariable Tank1", "IsVariable x=1;", "CheckScript x=1;",
                                    "AttachScript Tank1 x=1;"},
                                   0,
                                   9},
                      ClassifyCase{"ScriptNameWithLeadingDot",
                                   ".PV",
                                   "x=1;",
                                   false,
                                   true,
                                   {"WatchVariable .PV", "IsVariable x=1;", "CheckScript x=1;",
                                    "AttachScript .PV x=1;"},
                                   0,
                                   9},
                      ClassifyCase{"Neither",
                                   "Tank1.PV",
                                   "???",
                                   false,
                                   false,
                                   {"WatchVariable Tank1.PV", "IsVariable ???", "CheckScript ???"},
                                   7,
                                   9},
                      ClassifyCase{"EmptyText",
                                   "Tank1.PV",
                                   "",
                                   false,
                                   false,
                                   {"WatchVariable Tank1.PV", "IsVariable ", "CheckScript "},
                                   7,
                                   9}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SettingsDialogTest, DeletingAMiddleEntryRenumbersTheRules) {
  AddThreePhones();
  AlarmRule& rule = AddRule(config, "Tank1.PV", {0, 1, 2});
  Open();
  view.SelectRow(ids::kPhoneList, 1);
  view.Click(ids::kDeletePhone);
  EXPECT_TRUE(view.messages().empty());
  EXPECT_EQ(rule.TelPlace, (std::vector<int>{0, 1}));
  EXPECT_EQ(view.Column(ids::kPhoneList, 0),
            (std::vector<std::string>{"13800138000", "13700137000"}));
  EXPECT_EQ(view.list(ids::kPhoneList).selection, 1);
  EXPECT_EQ(view.Column(ids::kRuleList, 1), std::vector<std::string>{"2"});
}

TEST_F(SettingsDialogTest, DeletingTheOnlyEntryLeavesZeroPhonesInEveryRule) {
  AddPhone(config, "13800138000", "甲");
  AddRule(config, "Tank1.PV", {0});
  AddRule(config, "Tank2.PV", {0}, "二号");
  Open();
  view.SelectRow(ids::kPhoneList, 0);
  view.PressDelete(ids::kPhoneList);
  EXPECT_TRUE(config.phoneBook.empty());
  EXPECT_TRUE(view.list(ids::kPhoneList).rows.empty());
  EXPECT_EQ(view.list(ids::kPhoneList).selection, -1);
  EXPECT_EQ(view.Column(ids::kRuleList, 1), (std::vector<std::string>{"0", "0"}));
  EXPECT_EQ(view.Column(ids::kRuleList, 2), (std::vector<std::string>{"", Cp("二号")}));
}

TEST_F(SettingsDialogTest, DeleteWithoutSelectionDoesNothing) {
  AddThreePhones();
  AddRule(config, "Tank1.PV", {0});
  Open();
  view.Click(ids::kDeletePhone);
  view.Click(ids::kDeleteRule);
  view.Click(ids::kModifyPhone);
  view.Click(ids::kModifyRule);
  EXPECT_EQ(config.phoneBook.size(), 3u);
  EXPECT_EQ(config.alarmRules.size(), 1u);
  EXPECT_EQ(view.childDialogsRun(), 0);
}

TEST_F(SettingsDialogTest, DoubleClickOnThePhoneListAddsOrModifies) {
  AddThreePhones();
  Open();
  std::vector<std::string> titles;
  const auto recordTitle = [&](DialogController&, FakeDialogView& edit) {
    titles.push_back(edit.title());
  };
  view.QueueChild(recordTitle);
  view.DoubleClick(ids::kPhoneList);
  view.SelectRow(ids::kPhoneList, 2);
  view.QueueChild([&](DialogController&, FakeDialogView& edit) {
    titles.push_back(edit.title());
    EXPECT_EQ(edit.text(phone_edit_ids::kNumberEdit), "13700137000");
    edit.SetText(phone_edit_ids::kDescEdit, Cp("丁"));
    edit.Click(kIdOk);
  });
  view.DoubleClick(ids::kPhoneList);
  EXPECT_EQ(titles, (std::vector<std::string>{Cp("增加手机号码"), Cp("修改手机号码")}));
  EXPECT_EQ(config.phoneBook.size(), 3u);  // the cancelled add left nothing behind
  EXPECT_EQ(config.phoneBook[2]->Desc, Cp("丁"));
  EXPECT_EQ(view.list(ids::kPhoneList).rows[2].cells,
            (std::vector<std::string>{"13700137000", Cp("丁")}));
}

TEST_F(SettingsDialogTest, DoubleClickOnTheRuleListAddsOrModifies) {
  AddRule(config, "Tank1.PV", {});
  Open();
  view.QueueChild([](DialogController&, FakeDialogView& rule) {
    EXPECT_EQ(rule.text(rule_ids::kVariableEdit), "");
    rule.SetText(rule_ids::kVariableEdit, "Tank2.PV");
    rule.Click(kIdOk);
  });
  view.DoubleClick(ids::kRuleList);
  view.SelectRow(ids::kRuleList, 0);
  view.QueueChild([](DialogController&, FakeDialogView& rule) {
    EXPECT_EQ(rule.text(rule_ids::kVariableEdit), "Tank1.PV");
    rule.SetText(rule_ids::kDescEdit, Cp("改名"));
    rule.Click(kIdOk);
  });
  view.DoubleClick(ids::kRuleList);
  EXPECT_EQ(view.childTemplates(), (std::vector<int>{kRuleDialogId, kRuleDialogId}));
  EXPECT_EQ(view.Column(ids::kRuleList, 0), (std::vector<std::string>{"Tank1.PV", "Tank2.PV"}));
  EXPECT_EQ(view.Column(ids::kRuleList, 2), (std::vector<std::string>{Cp("改名"), ""}));
}

TEST_F(SettingsDialogTest, DeleteKeyRemovesTheRuleWithoutAsking) {
  AddRule(config, "Tank1.PV", {});
  AddRule(config, "Tank2.PV", {});
  Open();
  view.SelectRow(ids::kRuleList, 0);
  view.PressDelete(ids::kRuleList);
  EXPECT_TRUE(view.messages().empty());
  EXPECT_EQ(view.childDialogsRun(), 0);
  ASSERT_EQ(config.alarmRules.size(), 1u);
  EXPECT_EQ(config.alarmRules[0]->VarName, "Tank2.PV");
  EXPECT_EQ(view.Column(ids::kRuleList, 0), std::vector<std::string>{"Tank2.PV"});
  EXPECT_EQ(view.list(ids::kRuleList).selection, 0);
}

TEST_F(SettingsDialogTest, CancelledAddsLeaveTheListsAlone) {
  Open();
  view.Click(ids::kAddPhone);
  view.Click(ids::kAddRule);
  EXPECT_EQ(view.childTemplates(), (std::vector<int>{kPhoneEditDialogId, kRuleDialogId}));
  EXPECT_TRUE(config.phoneBook.empty());
  EXPECT_TRUE(config.alarmRules.empty());
  EXPECT_TRUE(view.list(ids::kPhoneList).rows.empty());
  EXPECT_TRUE(view.list(ids::kRuleList).rows.empty());
}

}  // namespace
}  // namespace pagorin

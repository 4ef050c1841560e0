#include "ui/send_record_dialog.h"

#include <gtest/gtest.h>

#include "ui/dialog_test_util.h"
#include "ui/fake_dialog_view.h"
#include "ui/fake_host.h"
#include "ui/fake_send_records.h"
#include "ui/settings_dialog.h"

namespace pagorin {
namespace {

using testing::AddPhone;
using testing::ConfigurationWithRecords;
using testing::Cp;
using testing::FakeDialogView;
namespace ids = send_record_ids;

class SendRecordDialogTest : public ::testing::Test {
 protected:
  SendRecordDialogTest() {
    AddPhone(records, "13800138000", "值班室");
    AddPhone(records, "13912345678", "");
    records.status = Cp("串口已打开");
    records.rows.push_back(
        {"2026-12-08 20:00:00", "13800138000", Cp("值班室"), Cp("Tank1报警"), Cp("已发送"), "17"});
    records.rows.push_back({"2026-12-08 19:59:00", "13912345678", "", "x", Cp("发送失败"),
                            Cp("+CMS ERROR: 331 无网络服务")});
  }

  void Open() {
    dialog = std::make_unique<SendRecordDialog>(records, records);
    view.Open(*dialog);
  }

  ConfigurationWithRecords records;
  FakeDialogView view;
  std::unique_ptr<SendRecordDialog> dialog;
};

TEST_F(SendRecordDialogTest, ShowsTheMessagesTheStatusAndThePhoneBook) {
  Open();
  const testing::FakeList& list = view.list(ids::kMessageList);
  ASSERT_EQ(list.columns.size(), 6u);
  EXPECT_EQ(list.columns[3].heading, Cp("内容"));
  EXPECT_EQ(list.columns[5].heading, Cp("参考号/原因"));
  EXPECT_EQ(view.Column(ids::kMessageList, 4),
            (std::vector<std::string>{Cp("已发送"), Cp("发送失败")}));
  EXPECT_EQ(view.Column(ids::kMessageList, 5),
            (std::vector<std::string>{"17", Cp("+CMS ERROR: 331 无网络服务")}));
  EXPECT_EQ(view.text(ids::kModemStatus), Cp("串口已打开"));
  const testing::FakeCombo& phones = view.combo(ids::kTestPhoneCombo);
  ASSERT_EQ(phones.items.size(), 2u);
  EXPECT_EQ(phones.items[0].first, "13800138000 " + Cp("值班室"));
  EXPECT_EQ(phones.items[1].first, "13912345678");
  EXPECT_EQ(phones.selection, 0);
  EXPECT_EQ(view.timerMs(), SendRecordDialog::kRefreshMs);
  view.Click(kIdCancel);
  EXPECT_EQ(view.endResult(), kIdCancel);
}

// The test message: queued, then its outcome appears on a later refresh; a refusal shows at
// once; without a chosen phone the dialog asks for one.
TEST_F(SendRecordDialogTest, TestMessageShowsItsOutcomeWhenKnown) {
  Open();
  view.Choose(ids::kTestPhoneCombo, 1);
  view.Click(ids::kSendTest);
  EXPECT_EQ(records.testPhones, std::vector<int>{1});
  EXPECT_EQ(view.text(ids::kTestOutcome), Cp("测试短信已排队,等待发送..."));
  view.FireTimer();
  EXPECT_EQ(view.text(ids::kTestOutcome), Cp("测试短信已排队,等待发送..."));
  records.testOutcome = Cp("测试短信已发送,参考号 17");
  records.rows.insert(records.rows.begin(), records.rows[0]);
  view.FireTimer();
  EXPECT_EQ(view.text(ids::kTestOutcome), Cp("测试短信已发送,参考号 17"));
  EXPECT_EQ(view.list(ids::kMessageList).rows.size(), 3u);

  records.refusal = Cp("测试短信未能发送:串口未打开");
  view.Click(ids::kSendTest);
  EXPECT_EQ(view.text(ids::kTestOutcome), Cp("测试短信未能发送:串口未打开"));

  records.ClearPhoneBook();
  FakeDialogView empty;
  SendRecordDialog again(records, records);
  empty.Open(again);
  empty.Click(ids::kSendTest);
  EXPECT_EQ(empty.messages(), std::vector<std::string>{Cp("请先选择一个手机号码!")});
  EXPECT_EQ(records.testPhones.size(), 2u);
}

// The settings dialog: the resend setting and the failure script are exchanged like the send
// switch, the modem's status shows under the serial settings, and the send record opens only
// for a configuration that has one.
TEST(SettingsDialogSendRecord, ResendCheckFailureScriptStatusAndTheRecordButton) {
  testing::DialogTestHost host;
  ConfigurationWithRecords records;
  records.Resend = 0;
  records.ModemScript = "Fault=1;";
  records.status = Cp("串口未打开 No such file or directory");
  {
    FakeDialogView view;
    SettingsDialog dialog(records, host);
    view.Open(dialog);
    EXPECT_EQ(view.check(settings_ids::kResendCheck), 0);
    EXPECT_EQ(view.text(settings_ids::kModemStatusText), records.status);
    EXPECT_EQ(view.text(settings_ids::kModemScriptEdit), "Fault=1;");
    view.SetText(settings_ids::kModemScriptEdit, "Other=1;");
    EXPECT_TRUE(view.enabled(settings_ids::kSendRecords));
    view.QueueChild([](DialogController& child, FakeDialogView& childView) {
      EXPECT_EQ(child.TemplateId(), kSendRecordDialogId);
      childView.Click(kIdCancel);
    });
    view.Click(settings_ids::kSendRecords);
    EXPECT_EQ(view.childTemplates(), std::vector<int>{kSendRecordDialogId});
    view.ClickCheck(settings_ids::kResendCheck, 1);
    view.Click(kIdCancel);
    EXPECT_EQ(records.Resend, 0);
    EXPECT_EQ(records.ModemScript, "Fault=1;");
  }
  {
    FakeDialogView view;
    SettingsDialog dialog(records, host);
    view.Open(dialog);
    view.ClickCheck(settings_ids::kResendCheck, 1);
    view.SetText(settings_ids::kModemScriptEdit, "");
    view.Click(kIdOk);
    EXPECT_EQ(records.Resend, 1);
    EXPECT_EQ(records.ModemScript, "");
  }
  Configuration bare;
  FakeDialogView view;
  SettingsDialog dialog(bare, host);
  view.Open(dialog);
  EXPECT_EQ(view.check(settings_ids::kResendCheck), 1);
  EXPECT_EQ(view.text(settings_ids::kModemStatusText), "");
  EXPECT_FALSE(view.enabled(settings_ids::kSendRecords));
  view.Click(settings_ids::kSendRecords);
  EXPECT_EQ(view.childDialogsRun(), 0);
}

}  // namespace
}  // namespace pagorin

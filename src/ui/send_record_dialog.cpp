#include "ui/send_record_dialog.h"

#include "config/configuration.h"
#include "resources/string_table.h"
#include "ui/list_setup.h"

namespace pagorin {
namespace {

using namespace string_id;
namespace ids = send_record_ids;

}  // namespace

void SendRecordDialog::OnInitDialog() {
  DialogView& v = view();
  PrepareReportList(v, ids::kMessageList,
                    {{kRecordTimeHeading, 120},
                     {kPhoneHeading, 90},
                     {kDescHeading, 60},
                     {kRecordTextHeading, 135},
                     // Wide enough for a report's verdict: "未送达 对方关机超时".
                     {kRecordStateHeading, 130},
                     {kRecordDetailHeading, 95}});
  ItemData index = 0;
  for (const auto& entry : config_.phoneBook) {
    std::string label = entry->TelNum;
    if (!entry->Desc.empty()) label += " " + entry->Desc;
    v.AddComboItem(ids::kTestPhoneCombo, label, index++);
  }
  v.SetComboSelection(ids::kTestPhoneCombo, config_.phoneBook.empty() ? -1 : 0);
  Refresh();
  v.SetTimer(kRefreshMs);
}

void SendRecordDialog::OnEvent(int controlId, DialogEvent event) {
  if (event == DialogEvent::kTimer) {
    Refresh();
    return;
  }
  if (event != DialogEvent::kClicked) return;
  switch (controlId) {
    case ids::kSendTest:
      SendTest();
      break;
    case ids::kRefresh:
      Refresh();
      break;
    case kIdOk:
    case kIdCancel:
      view().EndDialog(kIdCancel);
      break;
    default:
      break;
  }
}

void SendRecordDialog::Refresh() {
  DialogView& v = view();
  v.SetText(ids::kModemStatus, source_.ModemStatusLine());
  const int selected = v.GetListSelection(ids::kMessageList);
  v.DeleteAllListRows(ids::kMessageList);
  for (const SendRecordRow& row : source_.RecentMessages(kListedMessages)) {
    const int at = v.AppendListRow(ids::kMessageList, row.time, 0);
    v.SetListCell(ids::kMessageList, at, 1, row.number);
    v.SetListCell(ids::kMessageList, at, 2, row.name);
    v.SetListCell(ids::kMessageList, at, 3, row.text);
    v.SetListCell(ids::kMessageList, at, 4, row.state);
    v.SetListCell(ids::kMessageList, at, 5, row.detail);
  }
  if (selected >= 0) v.SelectListRow(ids::kMessageList, selected);
  if (testHandle_ != 0) {
    std::string outcome = source_.TestOutcome(testHandle_);
    if (!outcome.empty()) {
      v.SetText(ids::kTestOutcome, outcome);
      testHandle_ = 0;
    }
  }
}

void SendRecordDialog::SendTest() {
  DialogView& v = view();
  const int position = v.GetComboSelection(ids::kTestPhoneCombo);
  if (position < 0) {
    v.ShowMessage(LoadString(kChooseTestPhone));
    return;
  }
  std::string outcome;
  testHandle_ = source_.SendTestMessage(
      static_cast<int>(v.GetComboItemData(ids::kTestPhoneCombo, position)), outcome);
  v.SetText(ids::kTestOutcome, testHandle_ != 0 ? LoadString(kTestQueued) : outcome);
  Refresh();
}

}  // namespace pagorin

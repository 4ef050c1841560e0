#include "ui/settings_dialog.h"

#include <memory>
#include <optional>
#include <string>

#include "config/configuration.h"
#include "config/line_settings.h"
#include "host/host_application.h"
#include "platform/text_format.h"
#include "resources/string_table.h"
#include "ui/config_messages.h"
#include "ui/list_setup.h"
#include "ui/phone_dialogs.h"
#include "ui/rule_dialog.h"
#include "ui/send_record_dialog.h"

namespace pagorin {
namespace {

using namespace string_id;

constexpr const char* kPortNames[] = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"};
constexpr const char* kDataBits[] = {"7", "8"};

template <typename T>
ItemData ToItemData(T* record) noexcept {
  return reinterpret_cast<ItemData>(record);
}

template <typename T>
T* FromItemData(ItemData data) noexcept {
  return reinterpret_cast<T*>(data);
}

// The tag name that a script is attached to: the variable name up to its last ".", or the whole
// name when it has no "." or only one at its start.
std::string TagNameOf(const std::string& varName) {
  const std::size_t dot = varName.rfind('.');
  if (dot == std::string::npos || dot == 0) return varName;
  return varName.substr(0, dot);
}

// A count typed into an edit: decimal digits, blanks around them allowed, within [low, high].
std::optional<int> ParseCount(const std::string& text, int low, int high) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::nullopt;
  const std::size_t last = text.find_last_not_of(' ');
  int value = 0;
  for (std::size_t i = first; i <= last; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > high) return std::nullopt;
  }
  if (value < low) return std::nullopt;
  return value;
}

}  // namespace

void SettingsDialog::OnInitDialog() {
  DialogView& v = view();
  PrepareReportList(v, settings_ids::kPhoneList, {{kPhoneLibraryHeading, 90}, {kDescHeading, 79}});
  for (const auto& entry : config_.phoneBook)
    AppendPhoneRow(*entry);

  PrepareReportList(v, settings_ids::kRuleList,
                    {{kVariableHeading, 90}, {kPhoneCountHeading, 70}, {kDescHeading, 70}});
  FillRuleList();

  portIndex_ = config_.Com;
  baudIndex_ = config_.Baund;
  dataBitsIndex_ = config_.DataBit;
  sendFlag_ = config_.sendEnabled;
  resendFlag_ = config_.Resend;
  // The send record needs the plug-in that owns this configuration; a bare configuration (a
  // settings editor without a running module) has none to show.
  v.EnableControl(settings_ids::kSendRecords, RecordSource() != nullptr);

  // The lists are filled in index order, so a position is the stored index.
  ItemData data = 0;
  for (const char* name : kPortNames)
    v.AddComboItem(settings_ids::kPortCombo, name, data++);
  v.SetComboSelection(settings_ids::kPortCombo, config_.Com);
  data = 0;
  for (int rate : kBaudRates) {
    v.AddComboItem(settings_ids::kBaudCombo, platform::FormatText("%d", {std::int64_t{rate}}),
                   data++);
  }
  v.SetComboSelection(settings_ids::kBaudCombo, config_.Baund);
  data = 0;
  for (const char* bits : kDataBits)
    v.AddComboItem(settings_ids::kDataBitsCombo, bits, data++);
  v.SetComboSelection(settings_ids::kDataBitsCombo, config_.DataBit);

  v.SetCheck(settings_ids::kConcatCheck, config_.Concat != 0 ? 1 : 0);
  v.SetText(settings_ids::kMaxPartsEdit, std::to_string(config_.MaxParts));
  v.SetText(settings_ids::kCoalesceEdit, std::to_string(config_.Coalesce));
  v.SetText(settings_ids::kModemScriptEdit, config_.ModemScript);
  v.SetCheck(settings_ids::kReportsCheck, config_.Reports != 0 ? 1 : 0);
  v.SetText(settings_ids::kReportWaitEdit, std::to_string(config_.ReportWaitMin));
  v.SetText(settings_ids::kInboxScriptEdit, config_.InboxScript);
  v.SetText(settings_ids::kOwnNumberEdit, config_.OwnNumber);
  v.SetText(settings_ids::kLoopHoursEdit, std::to_string(config_.LoopHours));
  // The modem's state as the running plug-in sees it; a bare configuration has no modem.
  if (SendRecordSource* source = RecordSource(); source != nullptr) {
    v.SetText(settings_ids::kModemStatusText, source->ModemStatusLine());
  }

  ExchangeToControls();
  // A damaged or older configuration file, or phone indexes left out, found by the last load.
  if (const std::string problem = LoadProblemMessage(config_); !problem.empty()) {
    v.ShowMessage(problem);
  }
}

void SettingsDialog::OnEvent(int controlId, DialogEvent event) {
  DialogView& v = view();
  switch (event) {
    case DialogEvent::kDoubleClicked:
      if (controlId == settings_ids::kPhoneList) {
        if (v.GetListSelection(controlId) >= 0) {
          ModifyPhone();
        } else {
          AddPhone();
        }
      } else if (controlId == settings_ids::kRuleList) {
        if (v.GetListSelection(controlId) >= 0) {
          ModifyRule();
        } else {
          AddRule();
        }
      }
      return;
    case DialogEvent::kDeleteKey:
      if (controlId == settings_ids::kPhoneList) DeletePhone();
      if (controlId == settings_ids::kRuleList) DeleteRule();
      return;
    case DialogEvent::kSelectionChanged: {
      int* index = controlId == settings_ids::kPortCombo       ? &portIndex_
                   : controlId == settings_ids::kBaudCombo     ? &baudIndex_
                   : controlId == settings_ids::kDataBitsCombo ? &dataBitsIndex_
                                                               : nullptr;
      if (index != nullptr) {
        *index = static_cast<int>(v.GetComboItemData(controlId, v.GetComboSelection(controlId)));
      }
      return;
    }
    case DialogEvent::kTimer:
      return;
    case DialogEvent::kClicked:
      break;
  }
  switch (controlId) {
    case kIdOk:
      OnOk();
      break;
    case kIdCancel:
      v.EndDialog(kIdCancel);
      break;
    case settings_ids::kAddPhone:
      AddPhone();
      break;
    case settings_ids::kModifyPhone:
      ModifyPhone();
      break;
    case settings_ids::kDeletePhone:
      DeletePhone();
      break;
    case settings_ids::kAddRule:
      AddRule();
      break;
    case settings_ids::kModifyRule:
      ModifyRule();
      break;
    case settings_ids::kDeleteRule:
      DeleteRule();
      break;
    case settings_ids::kSendCheck:
    case settings_ids::kResendCheck:
      ExchangeFromControls();
      break;
    case settings_ids::kSendRecords:
      ShowSendRecords();
      break;
    default:
      break;
  }
}

void SettingsDialog::OnOk() {
  ExchangeFromControls();
  // The counts are checked before anything changes: a wrong one keeps the dialog open.
  DialogView& v = view();
  const std::optional<int> maxParts = ParseCount(
      v.GetText(settings_ids::kMaxPartsEdit), Configuration::kMinParts, Configuration::kMaxParts);
  if (!maxParts) {
    v.ShowMessage(LoadString(kWrongMaxParts));
    return;
  }
  const std::optional<int> coalesce =
      ParseCount(v.GetText(settings_ids::kCoalesceEdit), 0, Configuration::kMaxCoalesce);
  if (!coalesce) {
    v.ShowMessage(LoadString(kWrongCoalesce));
    return;
  }
  const std::optional<int> reportWait =
      ParseCount(v.GetText(settings_ids::kReportWaitEdit), Configuration::kMinReportWaitMin,
                 Configuration::kMaxReportWaitMin);
  if (!reportWait) {
    v.ShowMessage(LoadString(kWrongReportWait));
    return;
  }
  const std::optional<int> loopHours =
      ParseCount(v.GetText(settings_ids::kLoopHoursEdit), 0, Configuration::kMaxLoopHours);
  if (!loopHours) {
    v.ShowMessage(LoadString(kWrongLoopHours));
    return;
  }
  std::string ownNumber = v.GetText(settings_ids::kOwnNumberEdit);
  if (const std::size_t first = ownNumber.find_first_not_of(' '); first == std::string::npos) {
    ownNumber.clear();
  } else {
    ownNumber = ownNumber.substr(first, ownNumber.find_last_not_of(' ') + 1 - first);
  }
  if (!ownNumber.empty() && (ownNumber.size() < 11 || ownNumber.size() > 12 ||
                             ownNumber.find_first_not_of("0123456789") != std::string::npos)) {
    v.ShowMessage(LoadString(kWrongOwnNumber));
    return;
  }
  config_.Reports = v.GetCheck(settings_ids::kReportsCheck) != 0 ? 1 : 0;
  config_.ReportWaitMin = *reportWait;
  config_.InboxScript = v.GetText(settings_ids::kInboxScriptEdit);
  config_.OwnNumber = std::move(ownNumber);
  config_.LoopHours = *loopHours;
  config_.Concat = v.GetCheck(settings_ids::kConcatCheck) != 0 ? 1 : 0;
  config_.MaxParts = *maxParts;
  config_.Coalesce = *coalesce;
  config_.Com = portIndex_;
  config_.Baund = baudIndex_;
  config_.DataBit = dataBitsIndex_;
  config_.sendEnabled = sendFlag_;
  config_.Resend = resendFlag_;
  config_.ModemScript = v.GetText(settings_ids::kModemScriptEdit);
  for (const auto& rule : config_.alarmRules)
    ClassifyCustomText(*rule);
  SaveConfiguration(config_);
  if (const std::string problem = SaveProblemMessage(config_); !problem.empty()) {
    view().ShowMessage(problem);
  }
  view().EndDialog(kIdOk);
}

// Tells a custom text that names a host variable from one that is a host script, whatever the
// rule's format, so that run mode can use the text without asking the host again.
void SettingsDialog::ClassifyCustomText(AlarmRule& rule) {
  host_.WatchVariable(rule.VarName.c_str());
  if (host_.IsVariable(rule.Script.c_str()) != 0) {
    rule.BScript = 1;
    host_.WatchVariable(rule.Script.c_str());
    int type = rule.ScriptType;
    host_.GetVariableType(rule.Script.c_str(), type);
    rule.ScriptType = type;
  } else if (host_.CheckScript(rule.Script.c_str()) != 0) {
    rule.BScript = 0;
    host_.AttachScript(TagNameOf(rule.VarName).c_str(), rule.Script.c_str());
  }
}

void SettingsDialog::AddPhone() {
  auto entry = std::make_unique<PhoneEntry>();
  PhoneEditDialog dialog(config_, *entry);
  if (view().RunChildDialog(dialog) != kIdOk) return;
  config_.phoneBook.push_back(std::move(entry));
  AppendPhoneRow(*config_.phoneBook.back());
}

void SettingsDialog::ModifyPhone() {
  const int row = view().GetListSelection(settings_ids::kPhoneList);
  if (row < 0) return;
  auto* entry = FromItemData<PhoneEntry>(view().GetListRowData(settings_ids::kPhoneList, row));
  if (entry == nullptr) return;
  PhoneEditDialog dialog(config_, *entry);
  if (view().RunChildDialog(dialog) != kIdOk) return;
  SetPhoneRow(row, *entry);
}

void SettingsDialog::DeletePhone() {
  DialogView& v = view();
  const int row = v.GetListSelection(settings_ids::kPhoneList);
  if (row < 0) return;
  // RemovePhoneEntry looks the entry up by address first, so a row whose entry is gone already
  // changes nothing in the configuration.
  config_.RemovePhoneEntry(
      FromItemData<PhoneEntry>(v.GetListRowData(settings_ids::kPhoneList, row)));
  v.DeleteListRow(settings_ids::kPhoneList, row);
  v.SelectListRow(settings_ids::kPhoneList, row);
  // The rules' phone counts may have changed.
  v.DeleteAllListRows(settings_ids::kRuleList);
  FillRuleList();
}

void SettingsDialog::AddRule() {
  auto rule = std::make_unique<AlarmRule>();
  RuleDialog dialog(config_, host_, *rule);
  if (view().RunChildDialog(dialog) != kIdOk) return;
  config_.alarmRules.push_back(std::move(rule));
  AppendRuleRow(*config_.alarmRules.back());
}

void SettingsDialog::ModifyRule() {
  const int row = view().GetListSelection(settings_ids::kRuleList);
  if (row < 0) return;
  auto* rule = FromItemData<AlarmRule>(view().GetListRowData(settings_ids::kRuleList, row));
  if (rule == nullptr) return;
  RuleDialog dialog(config_, host_, *rule);
  if (view().RunChildDialog(dialog) != kIdOk) return;
  SetRuleRow(row, *rule);
}

void SettingsDialog::DeleteRule() {
  DialogView& v = view();
  const int row = v.GetListSelection(settings_ids::kRuleList);
  if (row < 0) return;
  config_.RemoveAlarmRule(FromItemData<AlarmRule>(v.GetListRowData(settings_ids::kRuleList, row)));
  v.DeleteListRow(settings_ids::kRuleList, row);
  v.SelectListRow(settings_ids::kRuleList, row);
}

void SettingsDialog::AppendPhoneRow(const PhoneEntry& entry) {
  const int row = view().AppendListRow(settings_ids::kPhoneList, entry.TelNum, ToItemData(&entry));
  SetPhoneRow(row, entry);
}

void SettingsDialog::SetPhoneRow(int row, const PhoneEntry& entry) {
  view().SetListCell(settings_ids::kPhoneList, row, 0, entry.TelNum);
  view().SetListCell(settings_ids::kPhoneList, row, 1, entry.Desc);
}

void SettingsDialog::AppendRuleRow(const AlarmRule& rule) {
  const int row = view().AppendListRow(settings_ids::kRuleList, rule.VarName, ToItemData(&rule));
  SetRuleRow(row, rule);
}

void SettingsDialog::SetRuleRow(int row, const AlarmRule& rule) {
  DialogView& v = view();
  v.SetListCell(settings_ids::kRuleList, row, 0, rule.VarName);
  v.SetListCell(settings_ids::kRuleList, row, 1,
                platform::FormatText("%d", {static_cast<std::int64_t>(rule.TelPlace.size())}));
  v.SetListCell(settings_ids::kRuleList, row, 2, rule.Desc);
}

void SettingsDialog::FillRuleList() {
  for (const auto& rule : config_.alarmRules)
    AppendRuleRow(*rule);
}

void SettingsDialog::ExchangeToControls() {
  DialogView& v = view();
  v.SetComboSelection(settings_ids::kPortCombo, portIndex_);
  v.SetComboSelection(settings_ids::kBaudCombo, baudIndex_);
  v.SetComboSelection(settings_ids::kDataBitsCombo, dataBitsIndex_);
  v.SetCheck(settings_ids::kSendCheck, sendFlag_);
  v.SetCheck(settings_ids::kResendCheck, resendFlag_);
}

void SettingsDialog::ExchangeFromControls() {
  DialogView& v = view();
  portIndex_ = v.GetComboSelection(settings_ids::kPortCombo);
  baudIndex_ = v.GetComboSelection(settings_ids::kBaudCombo);
  dataBitsIndex_ = v.GetComboSelection(settings_ids::kDataBitsCombo);
  sendFlag_ = v.GetCheck(settings_ids::kSendCheck);
  resendFlag_ = v.GetCheck(settings_ids::kResendCheck);
}

SendRecordSource* SettingsDialog::RecordSource() const noexcept {
  return dynamic_cast<SendRecordSource*>(&config_);
}

void SettingsDialog::ShowSendRecords() {
  SendRecordSource* source = RecordSource();
  if (source == nullptr) return;
  SendRecordDialog dialog(config_, *source);
  view().RunChildDialog(dialog);
}

}  // namespace pagorin

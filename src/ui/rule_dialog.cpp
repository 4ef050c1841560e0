#include "ui/rule_dialog.h"

#include <algorithm>

#include "config/configuration.h"
#include "host/host_application.h"
#include "platform/text_format.h"
#include "resources/string_table.h"
#include "ui/list_setup.h"
#include "ui/phone_dialogs.h"

namespace pagorin {
namespace {

using namespace string_id;

constexpr int kFormatRadios[] = {rule_ids::kDefaultFormatRadio, rule_ids::kCustomFormatRadio};
constexpr int kLogicRadios[] = {rule_ids::kOrLogicRadio, rule_ids::kAndLogicRadio};

// Radio groups exchange the position of their checked button; -1 when none is checked.
void SetRadioIndex(DialogView& view, const int (&group)[2], int index) {
  for (int i = 0; i < 2; ++i)
    view.SetCheck(group[i], i == index ? 1 : 0);
}

int GetRadioIndex(DialogView& view, const int (&group)[2]) {
  for (int i = 0; i < 2; ++i) {
    if (view.GetCheck(group[i]) != 0) return i;
  }
  return -1;
}

}  // namespace

const RuleDialog::FlagBinding RuleDialog::kFlagBindings[13] = {
    {rule_ids::kLoLoCheck, &RuleDialog::ll_, &AlarmRule::Ll},
    {rule_ids::kLoCheck, &RuleDialog::lo_, &AlarmRule::Lo},
    {rule_ids::kHiHiCheck, &RuleDialog::hh_, &AlarmRule::Hh},
    {rule_ids::kHiCheck, &RuleDialog::hi_, &AlarmRule::Hi},
    {rule_ids::kLowCheck, &RuleDialog::low_, &AlarmRule::Low},
    {rule_ids::kHighCheck, &RuleDialog::hig_, &AlarmRule::Hig},
    {rule_ids::kUrgentCheck, &RuleDialog::urg_, &AlarmRule::Urg},
    {rule_ids::kAckCheck, &RuleDialog::ack_, &AlarmRule::Ack},
    {rule_ids::kNoAckCheck, &RuleDialog::noAck_, &AlarmRule::NoAck},
    {rule_ids::kResumeCheck, &RuleDialog::resume_, &AlarmRule::Resume},
    {rule_ids::kValueCheck, &RuleDialog::value_, &AlarmRule::Value},
    {rule_ids::kLimitCheck, &RuleDialog::valueLimit_, &AlarmRule::ValueLimit},
    {rule_ids::kUserCheck, &RuleDialog::user_, &AlarmRule::User},
};

void RuleDialog::OnInitDialog() {
  variableText_ = rule_.VarName;
  descText_ = rule_.Desc;
  customText_ = rule_.Script;
  for (const FlagBinding& binding : kFlagBindings)
    this->*binding.member = rule_.*binding.field;
  formatIndex_ = rule_.Format;
  logicIndex_ = rule_.Logic;

  PrepareReportList(view(), rule_ids::kPhoneList, {{kPhoneHeading, 90}, {kDescHeading, 79}});
  for (int phoneIndex : rule_.TelPlace)
    AppendPhoneRow(phoneIndex);

  ApplyFormatEnabling(rule_.Format == 0);
  if (variableText_.empty()) modify_ = 0;
  if (host_.IsRunMode() != 0) view().EnableControl(rule_ids::kInsertVariable, false);
  ExchangeToControls();
}

void RuleDialog::OnEvent(int controlId, DialogEvent event) {
  if (controlId == rule_ids::kPhoneList) {
    if (event == DialogEvent::kDoubleClicked) {
      if (view().GetListSelection(rule_ids::kPhoneList) >= 0) {
        ReplacePhone();
      } else {
        AddPhone();
      }
    } else if (event == DialogEvent::kDeleteKey) {
      RemovePhone();
    }
    return;
  }
  if (event != DialogEvent::kClicked) return;
  switch (controlId) {
    case kIdOk:
      OnOk();
      return;
    case kIdCancel:
      view().EndDialog(kIdCancel);
      return;
    case rule_ids::kBrowseVariable:
      BrowseVariable();
      return;
    case rule_ids::kInsertVariable:
      InsertVariable();
      return;
    case rule_ids::kAddPhone:
      AddPhone();
      return;
    case rule_ids::kReplacePhone:
      ReplacePhone();
      return;
    case rule_ids::kRemovePhone:
      RemovePhone();
      return;
    case rule_ids::kDefaultFormatRadio:
      ApplyFormatEnabling(true);
      return;
    case rule_ids::kCustomFormatRadio:
      ApplyFormatEnabling(false);
      return;
    default:
      break;
  }
  for (const FlagBinding& binding : kFlagBindings) {
    if (binding.controlId == controlId) {
      ExchangeFromControls();
      return;
    }
  }
}

void RuleDialog::OnOk() {
  ExchangeFromControls();
  if (variableText_.empty()) {
    view().ShowMessage(LoadString(kChooseVariable));
    return;
  }
  // While the project runs the host's compiler is not asked; the text is taken as it is.
  if (formatIndex_ == 1 && host_.IsRunMode() == 0 && host_.CheckScript(customText_.c_str()) == 0) {
    view().ShowMessage(LoadString(kScriptError));
    return;
  }
  for (const auto& other : config_.alarmRules) {
    if (modify_ != 0 && other.get() == &rule_) continue;
    if (other->VarName == variableText_) {
      view().ShowMessage(platform::FormatText(LoadString(kVariableExists), {variableText_}));
      return;
    }
  }
  rule_.VarName = variableText_;
  rule_.Desc = descText_;
  for (const FlagBinding& binding : kFlagBindings)
    rule_.*binding.field = this->*binding.member;
  rule_.Format = formatIndex_;
  rule_.Logic = logicIndex_;
  rule_.Script = customText_;
  view().EndDialog(kIdOk);
}

void RuleDialog::BrowseVariable() {
  ExchangeFromControls();
  variableText_ = host_.SelectVariable(0, 0, variableText_.c_str());
  ExchangeToControls();
}

void RuleDialog::InsertVariable() {
  ExchangeFromControls();
  lastInsertedVariable_ = host_.SelectVariable(0, 0, lastInsertedVariable_.c_str());
  customText_ += lastInsertedVariable_;
  ExchangeToControls();
}

void RuleDialog::AddPhone() {
  if (config_.phoneBook.empty()) return;
  PhonePickDialog pick(config_, 0, rule_);
  if (view().RunChildDialog(pick) != kIdOk) return;
  rule_.TelPlace.push_back(pick.selectedIndex());
  AppendPhoneRow(pick.selectedIndex());
}

void RuleDialog::ReplacePhone() {
  if (config_.phoneBook.empty()) return;
  const int row = view().GetListSelection(rule_ids::kPhoneList);
  if (row < 0) return;
  const auto oldIndex = static_cast<int>(view().GetListRowData(rule_ids::kPhoneList, row));
  PhonePickDialog pick(config_, oldIndex, rule_);
  if (view().RunChildDialog(pick) != kIdOk) return;
  const int newIndex = pick.selectedIndex();
  auto place = std::find(rule_.TelPlace.begin(), rule_.TelPlace.end(), oldIndex);
  if (place != rule_.TelPlace.end()) *place = newIndex;
  if (const PhoneEntry* entry = config_.PhoneAt(newIndex)) {
    view().SetListCell(rule_ids::kPhoneList, row, 0, entry->TelNum);
    view().SetListCell(rule_ids::kPhoneList, row, 1, entry->Desc);
    view().SetListRowData(rule_ids::kPhoneList, row, newIndex);
  }
}

void RuleDialog::RemovePhone() {
  const int row = view().GetListSelection(rule_ids::kPhoneList);
  if (row < 0) return;
  const auto phoneIndex = static_cast<int>(view().GetListRowData(rule_ids::kPhoneList, row));
  auto place = std::find(rule_.TelPlace.begin(), rule_.TelPlace.end(), phoneIndex);
  if (place != rule_.TelPlace.end()) rule_.TelPlace.erase(place);
  view().DeleteListRow(rule_ids::kPhoneList, row);
  view().SelectListRow(rule_ids::kPhoneList, row);
}

void RuleDialog::ApplyFormatEnabling(bool defaultFormat) {
  DialogView& v = view();
  if (defaultFormat) {
    v.EnableControl(rule_ids::kInsertVariable, false);
    v.EnableControl(rule_ids::kCustomTextEdit, false);
    v.EnableControl(rule_ids::kValueCheck, true);
    v.EnableControl(rule_ids::kLimitCheck, true);
    v.EnableControl(rule_ids::kUserCheck, true);
  } else if (host_.IsRunMode() != 0) {
    // While the project runs a custom text cannot be edited; the default-text options keep
    // whatever state they had.
    v.EnableControl(rule_ids::kInsertVariable, false);
    v.EnableControl(rule_ids::kCustomTextEdit, false);
  } else {
    v.EnableControl(rule_ids::kInsertVariable, true);
    v.EnableControl(rule_ids::kCustomTextEdit, true);
    v.EnableControl(rule_ids::kValueCheck, false);
    v.EnableControl(rule_ids::kLimitCheck, false);
    v.EnableControl(rule_ids::kUserCheck, false);
  }
}

void RuleDialog::AppendPhoneRow(int phoneIndex) {
  const PhoneEntry* entry = config_.PhoneAt(phoneIndex);
  if (entry == nullptr) return;  // an index that points nowhere is not shown
  const int row = view().AppendListRow(rule_ids::kPhoneList, entry->TelNum, phoneIndex);
  view().SetListCell(rule_ids::kPhoneList, row, 1, entry->Desc);
}

void RuleDialog::ExchangeToControls() {
  DialogView& v = view();
  v.SetText(rule_ids::kVariableEdit, variableText_);
  v.SetText(rule_ids::kCustomTextEdit, customText_);
  for (const FlagBinding& binding : kFlagBindings)
    v.SetCheck(binding.controlId, this->*binding.member);
  v.SetText(rule_ids::kDescEdit, descText_);
  SetRadioIndex(v, kFormatRadios, formatIndex_);
  SetRadioIndex(v, kLogicRadios, logicIndex_);
}

void RuleDialog::ExchangeFromControls() {
  DialogView& v = view();
  variableText_ = v.GetText(rule_ids::kVariableEdit);
  customText_ = v.GetText(rule_ids::kCustomTextEdit);
  for (const FlagBinding& binding : kFlagBindings)
    this->*binding.member = v.GetCheck(binding.controlId);
  descText_ = v.GetText(rule_ids::kDescEdit);
  formatIndex_ = GetRadioIndex(v, kFormatRadios);
  logicIndex_ = GetRadioIndex(v, kLogicRadios);
}

}  // namespace pagorin

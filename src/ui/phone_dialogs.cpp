#include "ui/phone_dialogs.h"

#include <algorithm>

#include "config/configuration.h"
#include "platform/text_format.h"
#include "resources/string_table.h"

namespace pagorin {
namespace {

using namespace string_id;

constexpr std::size_t kMinNumberLength = 8;
constexpr std::size_t kMaxNumberLength = 15;

std::string PhoneExistsMessage(const std::string& number, const std::string& desc) {
  return platform::FormatText(LoadString(kPhoneExists), {number, desc});
}

}  // namespace

bool IsValidPhoneNumber(const std::string& number) noexcept {
  if (number.size() < kMinNumberLength || number.size() > kMaxNumberLength) return false;
  return std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void PhoneEditDialog::OnInitDialog() {
  numberText_ = entry_.TelNum;
  descText_ = entry_.Desc;
  if (!entry_.TelNum.empty()) {
    view().SetWindowTitle(LoadString(kModifyPhoneTitle));
  } else {
    view().SetWindowTitle(LoadString(kAddPhoneTitle));
    modify_ = 0;
  }
  ExchangeToControls();
}

void PhoneEditDialog::OnEvent(int controlId, DialogEvent event) {
  if (event != DialogEvent::kClicked) return;
  if (controlId == kIdOk) {
    OnOk();
  } else if (controlId == kIdCancel) {
    view().EndDialog(kIdCancel);
  }
}

void PhoneEditDialog::OnOk() {
  ExchangeFromControls();
  if (!IsValidPhoneNumber(numberText_)) {
    view().ShowMessage(LoadString(kWrongPhoneNumber));
    return;
  }
  for (const auto& other : config_.phoneBook) {
    if (modify_ != 0 && other.get() == &entry_) continue;
    if (other->TelNum == numberText_) {
      view().ShowMessage(PhoneExistsMessage(numberText_, descText_));
      return;
    }
  }
  entry_.TelNum = numberText_;
  entry_.Desc = descText_;
  view().EndDialog(kIdOk);
}

void PhoneEditDialog::ExchangeToControls() {
  view().SetText(phone_edit_ids::kNumberEdit, numberText_);
  view().SetText(phone_edit_ids::kDescEdit, descText_);
}

void PhoneEditDialog::ExchangeFromControls() {
  numberText_ = view().GetText(phone_edit_ids::kNumberEdit);
  descText_ = view().GetText(phone_edit_ids::kDescEdit);
}

void PhonePickDialog::OnInitDialog() {
  const std::string& separator = LoadString(kDescriptionPrefix);
  int index = 0;
  for (const auto& entry : config_.phoneBook) {
    view().AddComboItem(phone_pick_ids::kPhoneCombo, entry->TelNum + separator + entry->Desc,
                        index);
    ++index;
  }
  // An index outside the list leaves it without a selection.
  view().SetComboSelection(phone_pick_ids::kPhoneCombo, selectedIndex_);
}

void PhonePickDialog::OnEvent(int controlId, DialogEvent event) {
  if (event != DialogEvent::kClicked) return;
  if (controlId == kIdOk) {
    OnOk();
  } else if (controlId == kIdCancel) {
    view().EndDialog(kIdCancel);
  }
}

void PhonePickDialog::OnOk() {
  selectedIndex_ = view().GetComboSelection(phone_pick_ids::kPhoneCombo);
  const PhoneEntry* entry = config_.PhoneAt(selectedIndex_);
  // Without a chosen entry there is nothing to hand back; the dialog stays open until the user
  // chooses one or cancels, so the rule never receives an index that points nowhere.
  if (entry == nullptr) return;
  const std::vector<int>& places = rule_.TelPlace;
  if (std::find(places.begin(), places.end(), selectedIndex_) != places.end()) {
    view().ShowMessage(PhoneExistsMessage(entry->TelNum, entry->Desc));
    return;
  }
  view().EndDialog(kIdOk);
}

}  // namespace pagorin

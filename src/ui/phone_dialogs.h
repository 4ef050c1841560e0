// The two phone-book dialogs: PhoneEditDialog adds or modifies one entry, PhonePickDialog picks
// one entry for an alarm rule.
#pragma once

#include <string>

#include "resources/dialog_ids.h"
#include "ui/dialog_view.h"

namespace pagorin {

struct AlarmRule;
struct Configuration;
struct PhoneEntry;

// Edits `entry` (a fresh entry with an empty TelNum is being added, any other is modified).
// `config`'s phone book is searched for duplicate numbers. On OK the entry holds the new number
// and description; on Cancel it is unchanged.
class PhoneEditDialog final : public DialogController {
 public:
  PhoneEditDialog(const Configuration& config, PhoneEntry& entry) noexcept
      : config_(config), entry_(entry) {}

  int TemplateId() const noexcept override { return kPhoneEditDialogId; }
  bool modifying() const noexcept { return modify_ != 0; }

 private:
  void OnInitDialog() override;
  void OnEvent(int controlId, DialogEvent event) override;
  void OnOk();
  void ExchangeToControls();
  void ExchangeFromControls();

  const Configuration& config_;
  PhoneEntry& entry_;
  std::string numberText_;
  std::string descText_;
  int modify_ = 1;
};

// Lets the user choose a phone-book entry for `rule`; `selectedIndex` is the entry selected when
// the dialog opens. After OK, selectedIndex() is the chosen phone-book index; the rule itself is
// never changed here.
class PhonePickDialog final : public DialogController {
 public:
  PhonePickDialog(const Configuration& config, int selectedIndex, const AlarmRule& rule) noexcept
      : config_(config), rule_(rule), selectedIndex_(selectedIndex) {}

  int TemplateId() const noexcept override { return kPhonePickDialogId; }
  int selectedIndex() const noexcept { return selectedIndex_; }

 private:
  void OnInitDialog() override;
  void OnEvent(int controlId, DialogEvent event) override;
  void OnOk();

  const Configuration& config_;
  const AlarmRule& rule_;
  int selectedIndex_;
};

// True when `number` is 8 to 15 ASCII digits and nothing else.
bool IsValidPhoneNumber(const std::string& number) noexcept;

}  // namespace pagorin

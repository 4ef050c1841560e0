// The variable alarm rule dialog: edits one AlarmRule (variable, description, phone-book entries,
// filter, logic and text format).
#pragma once

#include <string>

#include "resources/dialog_ids.h"
#include "ui/dialog_view.h"

namespace pagorin {

struct AlarmRule;
struct Configuration;
class HostApplication;

// Edits `rule` (a rule with an empty VarName is fresh). The phone list works on the rule's
// TelPlace at once, also when the dialog is then cancelled; every other field changes only on
// OK. `config` supplies the phone book and the rules searched for a duplicate variable; `host`
// the variable browser, the script check and the run mode.
class RuleDialog final : public DialogController {
 public:
  RuleDialog(const Configuration& config, HostApplication& host, AlarmRule& rule) noexcept
      : config_(config), host_(host), rule_(rule) {}

  int TemplateId() const noexcept override { return kRuleDialogId; }
  bool modifying() const noexcept { return modify_ != 0; }

 private:
  // One check box and the member it exchanges with.
  struct FlagBinding {
    int controlId;
    int RuleDialog::*member;
    int AlarmRule::*field;
  };
  static const FlagBinding kFlagBindings[13];

  void OnInitDialog() override;
  void OnEvent(int controlId, DialogEvent event) override;
  void OnOk();
  void BrowseVariable();
  void InsertVariable();
  void AddPhone();
  void ReplacePhone();
  void RemovePhone();
  void ApplyFormatEnabling(bool defaultFormat);
  void AppendPhoneRow(int phoneIndex);
  void ExchangeToControls();
  void ExchangeFromControls();

  const Configuration& config_;
  HostApplication& host_;
  AlarmRule& rule_;
  std::string variableText_;
  std::string customText_;
  std::string descText_;
  int ll_ = 0;
  int lo_ = 0;
  int hh_ = 0;
  int hi_ = 0;
  int low_ = 0;
  int hig_ = 0;
  int urg_ = 0;
  int ack_ = 0;
  int noAck_ = 0;
  int resume_ = 0;
  int value_ = 0;
  int valueLimit_ = 0;
  int user_ = 0;
  int formatIndex_ = 0;
  int logicIndex_ = 0;
  int modify_ = 1;
  std::string lastInsertedVariable_;
};

}  // namespace pagorin

// The main settings dialog: the phone book, the alarm rules, the serial settings and the send
// switch of one configuration.
#pragma once

#include "resources/dialog_ids.h"
#include "ui/dialog_view.h"

namespace pagorin {

struct AlarmRule;
struct Configuration;
class HostApplication;
struct PhoneEntry;
class SendRecordSource;

// Edits `config` in place. Adding, modifying and deleting phone entries and rules changes the
// lists at once, whether the dialog is confirmed or not; the serial settings and the send switch
// change on OK, which also classifies every rule's custom text with `host` and saves the
// configuration file. The send-record button opens the send record of the plug-in whose
// configuration this is (the object that is both the Configuration and a SendRecordSource).
class SettingsDialog final : public DialogController {
 public:
  SettingsDialog(Configuration& config, HostApplication& host) noexcept
      : config_(config), host_(host) {}

  int TemplateId() const noexcept override { return kSettingsDialogId; }

 private:
  void OnInitDialog() override;
  void OnEvent(int controlId, DialogEvent event) override;
  void OnOk();
  void AddPhone();
  void ModifyPhone();
  void DeletePhone();
  void AddRule();
  void ModifyRule();
  void DeleteRule();
  void AppendPhoneRow(const PhoneEntry& entry);
  void SetPhoneRow(int row, const PhoneEntry& entry);
  void AppendRuleRow(const AlarmRule& rule);
  void SetRuleRow(int row, const AlarmRule& rule);
  void FillRuleList();
  void ClassifyCustomText(AlarmRule& rule);
  void ExchangeToControls();
  void ExchangeFromControls();
  SendRecordSource* RecordSource() const noexcept;
  void ShowSendRecords();

  Configuration& config_;
  HostApplication& host_;
  int portIndex_ = -1;
  int baudIndex_ = -1;
  int dataBitsIndex_ = -1;
  int sendFlag_ = 0;
  int resendFlag_ = 1;
};

}  // namespace pagorin

// The send record: the latest messages with their fates, the modem's status, and a test message
// to a phone-book entry whose outcome the dialog shows once it is known. Opened from the main
// settings dialog.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/send_record_source.h"
#include "resources/dialog_ids.h"
#include "ui/dialog_view.h"

namespace pagorin {

struct Configuration;

class SendRecordDialog final : public DialogController {
 public:
  // Messages the list shows at most, and how often it is brought up to date while open.
  static constexpr std::size_t kListedMessages = 300;
  static constexpr int kRefreshMs = 1000;

  SendRecordDialog(const Configuration& config, SendRecordSource& source) noexcept
      : config_(config), source_(source) {}

  int TemplateId() const noexcept override { return kSendRecordDialogId; }

 private:
  void OnInitDialog() override;
  void OnEvent(int controlId, DialogEvent event) override;
  void Refresh();
  void SendTest();

  const Configuration& config_;
  SendRecordSource& source_;
  std::uint64_t testHandle_ = 0;
};

}  // namespace pagorin

// The AT dialogue with the GSM modem over a ModemLink, and the queue it sends from. One object,
// one thread at a time, no locks: SmsModem runs it on its sender thread, tests run it directly
// against a modem played from a transcript. Its parts: at_lines.h cuts what arrives into lines,
// at_replies.h and sms_deliver.h read them, at_commands.h holds the commands and their chains,
// send_queue.h decides which message goes when; this class is the loop around them (the phase,
// one command in flight, ESC and settling, reopening the port, reading the storage).
//
// What the modem sends is split into lines. A final result (OK, ERROR, +CMS ERROR: <n>,
// +CME ERROR: <n>) ends the command in progress wherever it stands; the intermediate results the
// command expects (+CMGS, +CPIN, +CREG, +CSQ) are kept; the > prompt is recognised with or
// without lines after it; every other line is an unsolicited result code, logged and used for
// the status. What arrived is always examined before a time-out is decided.
//
// The initialisation makes the modem's results verbose and not suppressed first (ATQ0V1), so that
// a modem that kept numeric results (ATV0) or quiet mode (ATQ1) from an earlier session is
// reached; a numeric 0 or 4 is taken for OK or ERROR while probing. It then selects the SIM's
// storage and asks for notices of what arrives (+CMTI, +CDSI, or a report shown at once with +CDS);
// a modem that refuses these still sends.
//
// Receiving: a notice only names a storage slot, read when the dialogue is idle (never between a
// message's parts; a waiting message goes first, and at most one read goes between two sends).
// What was read is decoded, handed to the recorder, and deleted from the modem once the recorder
// took it. The whole storage is listed after the initialisation, every kSweepIntervalMs, and
// whenever a notice could not be followed (a bad index, too many notices, the storage full).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "modem/at_commands.h"
#include "modem/at_lines.h"
#include "modem/modem_link.h"
#include "modem/modem_status.h"
#include "modem/send_queue.h"
#include "modem/sms_deliver.h"
#include "modem/sms_modem.h"
#include "modem/sms_report.h"

namespace pagorin {

class SmsSender {
 public:
  // Reply time-outs: for a command and the prompt, and for the network's verdict on a PDU.
  static constexpr std::uint32_t kReplyTimeoutMs = kAtReplyTimeoutMs;
  static constexpr std::uint32_t kSendReplyTimeoutMs = kAtVerdictTimeoutMs;
  // The first AT after an open is repeated this often, this far apart, before the modem is
  // taken for absent and the port closed.
  static constexpr int kProbeAttempts = 5;
  static constexpr std::uint32_t kProbeTimeoutMs = kAtProbeTimeoutMs;
  // After an ESC the modem may still answer what it was given; that is let pass before the next
  // command, so that it is never taken for the next command's reply.
  static constexpr std::uint32_t kSettleMs = 500;
  // After +CMGS: <mr> the final OK is waited for this long. A modem that never sends it then
  // costs this per part, not the whole verdict time-out; the OK that comes later is let pass as
  // after an ESC, and while the next prompt is awaited.
  static constexpr std::uint32_t kFinalOkGraceMs = 2000;
  // A close waits this long for the verdict on a PDU already written, so that its fate is known
  // and it is not sent again by the next run.
  static constexpr std::uint32_t kCloseGraceMs = 5000;
  // Time-outs in a row that close the port.
  static constexpr int kTimeoutsBeforeClose = 3;
  // Reopening the port: the first wait, doubled after every failure up to the last.
  static constexpr std::uint32_t kReopenFirstMs = 1000;
  static constexpr std::uint32_t kReopenLastMs = 60000;
  // Retrying after a temporary failure: the first wait, doubled up to the last.
  static constexpr std::uint32_t kRetryFirstMs = SendQueue::kRetryFirstMs;
  static constexpr std::uint32_t kRetryLastMs = SendQueue::kRetryLastMs;
  // Health checks when idle.
  static constexpr std::uint32_t kHealthIntervalMs = 60000;
  // Attempts after which a message that keeps failing for a passing reason no longer holds up
  // the queue behind it.
  static constexpr int kAttemptsInPlace = SendQueue::kAttemptsInPlace;
  // Rejections of the message itself after which it ends as Permanent.
  static constexpr int kRejectionsBeforePermanent = SendQueue::kRejectionsBeforePermanent;
  // Lines kept in the log of the dialogue.
  static constexpr std::size_t kLogLines = 64;
  // The whole storage is listed this often when idle, in case a notice was lost.
  static constexpr std::uint32_t kSweepIntervalMs = 10 * 60 * 1000;
  // Storage slots remembered from notices and not read yet; a notice beyond them plans a sweep.
  static constexpr std::size_t kMaxNoticedSlots = 64;
  // Messages taken from one listing; those beyond wait for the next sweep, planned at once.
  static constexpr std::size_t kMaxListed = 64;

  // What the sender is doing.
  enum class Phase : int {
    Stopped = 0,  // Start not called yet
    Closed = 1,   // the port is closed; it is reopened when its back-off has passed
    Init = 2,     // the initialisation commands after an open
    Idle = 3,     // ready; nothing in progress
    Health = 4,   // the health commands
    Sending = 5,  // a message's part in progress (AT+CMGS or its PDU)
    Reading = 6,  // reading, listing or deleting what the modem stored
  };

  // `link` is not owned and must outlive the sender.
  explicit SmsSender(ModemLink& link) noexcept;
  SmsSender(const SmsSender&) = delete;
  SmsSender& operator=(const SmsSender&) = delete;

  // From the next Step on, keeps the link open and sends. Nothing when already started.
  void Start() noexcept;
  // From now on nothing new is started (no message, part, health or init command) and the port
  // is not reopened; a PDU already written keeps waiting for its verdict, at most kCloseGraceMs
  // from this call. Nothing when the close has begun already.
  void BeginClose() noexcept;
  // True when Shutdown loses no fate that may still come: no PDU awaits its verdict, or the
  // close's grace has passed since BeginClose.
  bool ReadyToClose() const noexcept;
  // Closes the link. ESC is written only while the prompt is awaited or shown, before the PDU
  // went; a part whose +CMGS came is reported sent. The queue is kept and nothing else is
  // reported for it; the reports made so far stay for TakeReports.
  void Shutdown() noexcept;

  // Queues `message` (id set, at least one part) behind those of its priority. Throws only
  // std::bad_alloc, and then nothing was queued.
  void Add(QueuedSms message);
  // The send switch: while off no message is started; one in the dialogue is finished.
  void SetSendEnabled(bool enabled) noexcept { sendEnabled_ = enabled; }
  // Told of every fate as it is made, before the dialogue goes on; nullptr: none. Not owned.
  void SetRecorder(SmsFateRecorder* recorder) noexcept { recorder_ = recorder; }
  // True (the default): the modem is asked to notify status reports (AT+CNMI ds 2, else 1);
  // false: ds 0. Takes effect at the next initialisation.
  void SetStatusReports(bool enabled) noexcept { statusReports_ = enabled; }
  // Maximum age of a message that fails temporarily (milliseconds).
  void SetMaxAge(std::uint32_t milliseconds) noexcept { queue_.SetMaxAge(milliseconds); }

  // Advances the dialogue as far as what has arrived allows; never waits for the modem.
  void Step() noexcept;
  // Milliseconds (on the module's tick clock) until Step has something to do if no byte
  // arrives meanwhile; at most 1000.
  std::uint32_t MsUntilDue() const noexcept;

  // The reports made since the last call, in order.
  std::vector<SmsReport> TakeReports() noexcept;

  const ModemStatus& status() const noexcept { return status_; }
  Phase phase() const noexcept { return phase_; }
  // Messages queued, the one in the dialogue included.
  std::size_t queueLength() const noexcept { return queue_.size(); }
  // The last lines of the dialogue, oldest first: "> " and what was written, "< " and a line
  // received, "! " and an event of the sender.
  const std::deque<std::string>& log() const noexcept { return log_; }

 private:
  // What the next line is, after a header that announces a PDU line.
  enum class PduLine : int { None, Read, Listed, Shown };

  // A message read from the storage, or shown at once (index 0).
  struct Stored {
    int index = 0;
    std::string pdu;
  };

  // Hands what the queue reports to Report.
  class QueueReports final : public SmsReportSink {
   public:
    explicit QueueReports(SmsSender& sender) noexcept : sender_(sender) {}
    void Report(SmsReport report) noexcept override { sender_.Report(std::move(report)); }

   private:
    SmsSender& sender_;
  };

  void StepOnce(std::uint32_t now, bool& progressed) noexcept;
  void TryOpen(std::uint32_t now) noexcept;
  // Closes the link after a failure, keeps `why` as the port's error and plans the reopen.
  void LoseLine(std::uint32_t now, const std::string& why) noexcept;
  bool Write(std::string_view bytes, std::uint32_t now) noexcept;
  // Writes `command` (its text from the table, or `bytes`) and awaits its reply.
  bool Issue(AtCommand command, std::uint32_t now) noexcept;
  bool Issue(AtCommand command, std::string_view bytes, std::uint32_t now) noexcept;
  void Escape(std::uint32_t now) noexcept;

  // Takes what arrived and handles every complete line (and a prompt).
  void ReadLines(std::uint32_t now, bool& progressed) noexcept;
  void HandleLine(std::string_view line, std::uint32_t now, bool& progressed) noexcept;
  void HandleFinal(std::string_view result, std::uint32_t now) noexcept;
  void HandlePrompt(std::uint32_t now) noexcept;
  void HandleUnsolicited(std::string_view line, std::uint32_t now) noexcept;
  void HandleTimeout(std::uint32_t now) noexcept;

  // Starts what is due next when nothing is in progress; false when nothing is.
  bool StartNext(std::uint32_t now) noexcept;
  bool StartInit(std::uint32_t now) noexcept;
  void ContinueInit(const AtCommandRow& row, std::string_view result, std::uint32_t now) noexcept;
  void ContinueHealth(const AtCommandRow& row, std::string_view result, std::uint32_t now) noexcept;
  // Reading: a notice, the PDU line a header announced, the end of a read or listing.
  void NoteStored(const StoredMessageNotice& notice) noexcept;
  void TakePduLine(std::string_view line) noexcept;
  void FinishRead(AtCommand command, std::string_view result, std::uint32_t now) noexcept;
  // Decodes, records and reports one message; true when the recorder took it.
  bool HandOverReceived(std::string_view pdu) noexcept;
  // Starts the next read, delete or listing when one is due; false when none is.
  bool StartRead(std::uint32_t now) noexcept;
  bool ReadDue(std::uint32_t now) const noexcept;
  // True when a message may be started now.
  bool MessageDue(std::uint32_t now) const noexcept;
  bool StartPart(std::uint32_t now) noexcept;
  // The current part got +CMGS (or a bare OK): it is sent, whatever follows. Reported as
  // PartSent unless it is the message's last (then the message is Sent).
  void PartAccepted() noexcept;
  // A +CMGS after the dialogue gave up on a PDU: that part was sent after all.
  void AcceptLate(int reference, std::uint32_t now) noexcept;
  // The attempt of the message in the dialogue failed with `result` (empty: a time-out):
  // reported, and retried later or ended. The caller takes the modem out of PDU entry.
  void AttemptFailed(std::string_view result, std::uint32_t now) noexcept;

  void NoteFailure(const std::string& description) noexcept;
  void PublishStatus() noexcept;
  void Log(char direction, std::string_view text) noexcept;
  void Report(SmsReport report) noexcept;

  ModemLink& link_;
  SmsFateRecorder* recorder_ = nullptr;
  Phase phase_ = Phase::Stopped;
  bool sendEnabled_ = true;
  QueueReports queueReports_{*this};
  SendQueue queue_{queueReports_};
  bool partAccepted_ = false;

  AtCommand command_ = AtCommand::None;
  std::string commandText_;  // without its carriage return, to recognise an echo
  std::uint32_t commandTick_ = 0;
  std::uint32_t commandLimitMs_ = 0;
  int probesLeft_ = 0;
  std::optional<AtCommand> healthNext_;  // the health command due next
  // The part whose PDU got no verdict in time; a late +CMGS is believed for it.
  std::optional<SendQueue::PartRef> abandoned_;
  int timeoutsInRow_ = 0;
  // After an ESC (or a part taken as sent without its OK): nothing new before then.
  std::optional<std::uint32_t> settleUntil_;
  // A part was taken as sent without its final OK; that OK may still come.
  bool lateFinalOwed_ = false;
  bool statusReports_ = true;
  // BeginClose was called: a PDU's verdict is awaited until then.
  std::optional<std::uint32_t> closeUntil_;

  std::uint32_t reopenAt_ = 0;
  std::uint32_t reopenDelayMs_ = kReopenFirstMs;
  // The last health check since the modem was ready; none yet: one is due.
  std::optional<std::uint32_t> lastHealthTick_;

  // Receiving.
  std::deque<int> noticed_;    // slots named by notices, not read yet, in the notices' order
  bool storageFull_ = false;   // a storage-full notice since the last listing
  std::deque<int> deletes_;    // slots read and recorded, to delete
  bool sweepPlanned_ = false;  // list the whole storage when next idle
  std::uint32_t lastSweepTick_ = 0;
  bool readMayGoFirst_ = false;  // a message ended since the last read: one read may go first
  int readIndex_ = 0;
  PduLine pduLine_ = PduLine::None;
  int listedIndex_ = 0;  // the slot of the +CMGL header whose PDU line is next
  std::optional<std::string> readPdu_;
  std::vector<Stored> listed_;

  AtLineSplitter lines_;
  std::string arrival_;  // what the link handed over in this step, before it is split
  ModemStatus status_;
  ModemStatus publishedStatus_;
  bool statusPublished_ = false;
  std::vector<SmsReport> reports_;
  std::deque<std::string> log_;
};

}  // namespace pagorin

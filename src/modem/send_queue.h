// The messages waiting for the modem and the rules for when each may go: by priority (urgent
// first, first in first out within one), the message in the dialogue, the back-off after a
// failure (the whole queue waits while the modem cannot send, or after a passing failure of the
// head; a message that keeps failing or was refused steps aside), the end after repeated
// rejections or at the maximum age. No input or output and no clock of its own: every call is
// given the tick (milliseconds, wrapping) it happens at. Its reports go to the sink at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string_view>
#include <vector>

#include "modem/modem_status.h"
#include "modem/pdu.h"
#include "modem/sms_modem.h"
#include "modem/sms_report.h"

namespace pagorin {

// Takes the fates the queue makes (Sent, PartSent, Failed), in order, as they are made.
class SmsReportSink {
 public:
  virtual void Report(SmsReport report) noexcept = 0;

 protected:
  ~SmsReportSink() = default;
};

class SendQueue {
 public:
  // Retrying after a temporary failure: the first wait, doubled up to the last.
  static constexpr std::uint32_t kRetryFirstMs = 5000;
  static constexpr std::uint32_t kRetryLastMs = 10 * 60 * 1000;
  // Attempts after which a message that keeps failing for a passing reason no longer holds up
  // the queue behind it.
  static constexpr int kAttemptsInPlace = 3;
  // Rejections of the message itself after which it ends as Permanent.
  static constexpr int kRejectionsBeforePermanent = 2;

  // One part of one message: the message's id and the part's index.
  struct PartRef {
    std::uint64_t id = 0;
    std::size_t part = 0;
  };

  // What a late acceptance found.
  enum class LateAcceptance : int {
    None,     // no message waits at that part any more
    Current,  // it is the message in the dialogue again; nothing was changed
    Taken,    // the part counts as sent (reported PartSent, or Sent for the last part)
  };

  // `sink` is not owned and must outlive the queue.
  explicit SendQueue(SmsReportSink& sink) noexcept : sink_(sink) {}
  SendQueue(const SendQueue&) = delete;
  SendQueue& operator=(const SendQueue&) = delete;

  // Maximum age of a message that fails temporarily (milliseconds).
  void SetMaxAge(std::uint32_t milliseconds) noexcept { maxAgeMs_ = milliseconds; }
  // Queues `message` (id set, at least one part) behind those of its priority, its age counted
  // from `now`. Throws only std::bad_alloc, and then nothing was queued.
  void Add(QueuedSms message, std::uint32_t now);
  // Messages queued, the one in the dialogue included.
  std::size_t size() const noexcept { return size_; }

  // True when BeginAttempt would find a message to send at `now`.
  bool Due(std::uint32_t now) const noexcept;
  // Makes the first message that may go now the current one and counts an attempt; false when
  // none may go.
  bool BeginAttempt(std::uint32_t now) noexcept;
  bool HasCurrent() const noexcept { return current_.has_value(); }
  // The part of the current message to send next. Only while HasCurrent.
  const SmsPart& CurrentPart() const noexcept;
  PartRef CurrentPartRef() const noexcept;
  // The network's reference for the current part. Only while HasCurrent.
  void SetCurrentReference(int reference) noexcept;
  // The current part is sent: the next part becomes current (reported PartSent), or after the
  // last the message ends as Sent and the queue waits no more. True when the message ended.
  // Only while HasCurrent.
  bool PartAccepted() noexcept;
  // The current attempt failed with the final result `result` (empty: no reply in time):
  // reported, and the message retried later or ended. Nothing when there is no current message.
  void AttemptFailed(std::string_view result, std::uint32_t now) noexcept;
  // The dialogue lets the current message go without a fate; it stays queued as it is.
  void ReleaseCurrent() noexcept { current_.reset(); }
  // The part `ref` was accepted after the dialogue had given up on it.
  LateAcceptance AcceptLate(PartRef ref, int reference) noexcept;
  // The modem can send again: a queue held for it may go at once.
  void ResumeNow(std::uint32_t now) noexcept;
  // Ends (Failed, Expired) every message but the current one older than the maximum age;
  // looks at most once a second.
  void ExpireOld(std::uint32_t now) noexcept;
  // The least of `due` and the milliseconds until a held message may go.
  std::uint32_t MsUntilDue(std::uint32_t now, std::uint32_t due) const noexcept;

 private:
  struct Entry {
    QueuedSms message;
    std::uint32_t queuedTick = 0;
    std::size_t nextPart = 0;
    std::vector<int> references;
    int attempts = 0;
    int rejections = 0;
    std::optional<std::uint32_t> notBefore;  // stepped aside until then
    std::uint32_t backOffMs = 0;
    SmsFailure lastFailure;
  };
  using Queue = std::list<Entry>;
  struct Position {
    std::size_t priority = 0;
    Queue::iterator entry;
  };

  void ReportPartSent(const Entry& entry) noexcept;
  void FinishCurrent(bool sent, SmsFailureKind kind) noexcept;
  void FinishEntry(std::size_t priority, Queue::iterator position, bool sent,
                   SmsFailureKind kind) noexcept;
  std::uint32_t AgeOf(const Entry& entry, std::uint32_t now) const noexcept;

  SmsReportSink& sink_;
  std::uint32_t maxAgeMs_ = SmsModem::kDefaultMaxAgeMs;
  std::array<Queue, kPriorityUrgent + 1> queues_;
  std::size_t size_ = 0;
  std::optional<Position> current_;
  // The modem said it cannot send, or the head failed in passing: no message before then.
  std::optional<std::uint32_t> resumeAt_;
  std::uint32_t pauseMs_ = 0;
  std::uint32_t lastExpiryCheck_ = 0;
};

}  // namespace pagorin

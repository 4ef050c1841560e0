#include "modem/send_queue.h"

#include <algorithm>
#include <utility>

#include "modem/tick_deadline.h"

namespace pagorin {
namespace {

using detail::Doubled;
using detail::Reached;
using detail::Until;

constexpr std::uint32_t kExpiryCheckMs = 1000;

}  // namespace

void SendQueue::Add(QueuedSms message, std::uint32_t now) {
  Entry entry;
  entry.references.assign(message.parts.size(), -1);
  entry.queuedTick = now;
  const int priority = std::clamp(message.priority, kPriorityScript, kPriorityUrgent);
  entry.message = std::move(message);
  queues_[static_cast<std::size_t>(priority)].push_back(std::move(entry));
  ++size_;
}

bool SendQueue::Due(std::uint32_t now) const noexcept {
  if (size_ == 0) return false;
  if (resumeAt_ && !Reached(now, *resumeAt_)) return false;
  for (const Queue& queue : queues_) {
    for (const Entry& entry : queue) {
      if (!entry.notBefore || Reached(now, *entry.notBefore)) return true;
    }
  }
  return false;
}

bool SendQueue::BeginAttempt(std::uint32_t now) noexcept {
  if (size_ == 0) return false;
  if (resumeAt_) {
    if (!Reached(now, *resumeAt_)) return false;
    resumeAt_.reset();
  }
  for (std::size_t priority = queues_.size(); priority-- > 0;) {
    Queue& queue = queues_[priority];
    for (auto entry = queue.begin(); entry != queue.end(); ++entry) {
      if (entry->notBefore && !Reached(now, *entry->notBefore)) continue;
      entry->notBefore.reset();
      ++entry->attempts;
      current_ = Position{priority, entry};
      return true;
    }
  }
  return false;
}

const SmsPart& SendQueue::CurrentPart() const noexcept {
  const Entry& entry = *current_->entry;
  return entry.message.parts[entry.nextPart];
}

SendQueue::PartRef SendQueue::CurrentPartRef() const noexcept {
  return {current_->entry->message.id, current_->entry->nextPart};
}

void SendQueue::SetCurrentReference(int reference) noexcept {
  Entry& entry = *current_->entry;
  entry.references[entry.nextPart] = reference;
}

bool SendQueue::PartAccepted() noexcept {
  Entry& entry = *current_->entry;
  ++entry.nextPart;
  if (entry.nextPart >= entry.message.parts.size()) {
    resumeAt_.reset();
    pauseMs_ = 0;
    FinishCurrent(true, SmsFailureKind::Temporary);
    return true;
  }
  // The next part follows within the same attempt.
  ReportPartSent(entry);
  return false;
}

void SendQueue::AttemptFailed(std::string_view result, std::uint32_t now) noexcept {
  if (!current_) return;
  Entry& entry = *current_->entry;
  const ErrorClass errorClass =
      result.empty() ? ErrorClass::Transient : ClassifyErrorResult(result);
  try {
    entry.lastFailure.result.assign(result);
    entry.lastFailure.code = ErrorResultCode(result);
    entry.lastFailure.meaning = result.empty() ? TimeoutMeaning() : ErrorResultMeaning(result);
  } catch (...) {
  }
  entry.lastFailure.attempts = entry.attempts;
  if (errorClass == ErrorClass::Rejected && ++entry.rejections >= kRejectionsBeforePermanent) {
    FinishCurrent(false, SmsFailureKind::Permanent);
    return;
  }
  if (AgeOf(entry, now) >= maxAgeMs_) {
    FinishCurrent(false, SmsFailureKind::Expired);
    return;
  }
  entry.lastFailure.kind = SmsFailureKind::Temporary;
  SmsReport report;
  report.kind = SmsReport::Kind::Failed;
  report.id = entry.message.id;
  try {
    report.failure = entry.lastFailure;
  } catch (...) {
  }
  sink_.Report(std::move(report));
  if (errorClass == ErrorClass::ModemNotReady) {
    // Nothing can go until the modem can send again: every message keeps its place.
    pauseMs_ = Doubled(pauseMs_, kRetryFirstMs, kRetryLastMs);
    resumeAt_ = now + pauseMs_;
  } else {
    entry.backOffMs = Doubled(entry.backOffMs, kRetryFirstMs, kRetryLastMs);
    if (errorClass == ErrorClass::Transient && entry.attempts < kAttemptsInPlace) {
      // A passing failure: the queue waits with it, so that the order is kept.
      resumeAt_ = now + entry.backOffMs;
    } else {
      // It keeps failing, or the message itself was refused: it steps aside so that it cannot
      // hold up the messages behind it.
      entry.notBefore = now + entry.backOffMs;
    }
  }
  current_.reset();
}

SendQueue::LateAcceptance SendQueue::AcceptLate(PartRef ref, int reference) noexcept {
  for (std::size_t priority = 0; priority < queues_.size(); ++priority) {
    Queue& queue = queues_[priority];
    for (auto entry = queue.begin(); entry != queue.end(); ++entry) {
      if (entry->message.id != ref.id || entry->nextPart != ref.part) continue;
      if (current_ && current_->entry == entry) return LateAcceptance::Current;
      entry->references[entry->nextPart] = reference;
      ++entry->nextPart;
      if (entry->nextPart >= entry->message.parts.size()) {
        FinishEntry(priority, entry, true, SmsFailureKind::Temporary);
      } else {
        ReportPartSent(*entry);
      }
      return LateAcceptance::Taken;
    }
  }
  return LateAcceptance::None;
}

void SendQueue::ResumeNow(std::uint32_t now) noexcept {
  if (resumeAt_) resumeAt_ = now;
}

void SendQueue::ExpireOld(std::uint32_t now) noexcept {
  if (size_ == 0 || now - lastExpiryCheck_ < kExpiryCheckMs) return;
  lastExpiryCheck_ = now;
  for (std::size_t priority = 0; priority < queues_.size(); ++priority) {
    Queue& queue = queues_[priority];
    for (auto entry = queue.begin(); entry != queue.end();) {
      if ((current_ && current_->entry == entry) || AgeOf(*entry, now) < maxAgeMs_) {
        ++entry;
        continue;
      }
      SmsReport report;
      report.kind = SmsReport::Kind::Failed;
      report.id = entry->message.id;
      entry->lastFailure.kind = SmsFailureKind::Expired;
      entry->lastFailure.attempts = entry->attempts;
      report.failure = std::move(entry->lastFailure);
      sink_.Report(std::move(report));
      entry = queue.erase(entry);
      --size_;
    }
  }
}

std::uint32_t SendQueue::MsUntilDue(std::uint32_t now, std::uint32_t due) const noexcept {
  if (resumeAt_) due = std::min(due, Until(now, *resumeAt_));
  for (const Queue& queue : queues_) {
    for (const Entry& entry : queue) {
      if (entry.notBefore) due = std::min(due, Until(now, *entry.notBefore));
    }
  }
  return due;
}

void SendQueue::ReportPartSent(const Entry& entry) noexcept {
  try {
    SmsReport report;
    report.kind = SmsReport::Kind::PartSent;
    report.id = entry.message.id;
    report.references.assign(
        entry.references.begin(),
        entry.references.begin() + static_cast<std::ptrdiff_t>(entry.nextPart));
    sink_.Report(std::move(report));
  } catch (...) {
    // Out of memory: the progress report is lost; the message's own fate is still reported.
  }
}

void SendQueue::FinishCurrent(bool sent, SmsFailureKind kind) noexcept {
  if (!current_) return;
  const Position position = *std::exchange(current_, std::nullopt);
  FinishEntry(position.priority, position.entry, sent, kind);
}

void SendQueue::FinishEntry(std::size_t priority, Queue::iterator position, bool sent,
                            SmsFailureKind kind) noexcept {
  Entry& entry = *position;
  SmsReport report;
  report.id = entry.message.id;
  if (sent) {
    report.kind = SmsReport::Kind::Sent;
    report.references = std::move(entry.references);
    report.attempts = entry.attempts;
  } else {
    report.kind = SmsReport::Kind::Failed;
    entry.lastFailure.kind = kind;
    entry.lastFailure.attempts = entry.attempts;
    report.failure = std::move(entry.lastFailure);
  }
  sink_.Report(std::move(report));
  queues_[priority].erase(position);
  --size_;
}

std::uint32_t SendQueue::AgeOf(const Entry& entry, std::uint32_t now) const noexcept {
  const std::uint64_t age = std::uint64_t{entry.message.ageMs} + (now - entry.queuedTick);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(age, UINT32_MAX));
}

}  // namespace pagorin

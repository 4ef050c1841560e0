#include "core/outbox.h"

#include <algorithm>

#include "core/alarm_intake.h"
#include "modem/pdu.h"
#include "platform/code_page.h"
#include "platform/host_report.h"
#include "platform/local_time.h"
#include "platform/text_format.h"
#include "resources/string_table.h"

namespace pagorin {
namespace {

using namespace string_id;

// "…" in code page 936.
constexpr std::string_view kEllipsis = "\xA1\xAD";

std::int64_t Now() noexcept {
  return platform::WallClockSeconds();
}

// The short messages of a text: one SMS-SUBMIT per piece of 70 characters.
std::vector<SmsPart> EncodeParts(const std::string& number, const std::string& text) {
  std::vector<SmsPart> parts;
  std::optional<std::string> address = EncodePhoneDigits(number);
  if (!address) return parts;
  for (const std::string& piece : SplitForSms(text)) {
    std::optional<std::string> userData = EncodeUserData(piece);
    if (!userData) continue;
    parts.push_back(SmsPart{FormatCmgsCommand(*userData), FormatSubmitPdu(*address, *userData)});
  }
  return parts;
}

int PartCount(std::string_view text) {
  std::size_t characters = 0;
  for (std::size_t pos = 0; pos < text.size(); pos += platform::CharLength(text, pos))
    ++characters;
  return static_cast<int>((characters + kSmsPieceCharacters - 1) / kSmsPieceCharacters);
}

}  // namespace

std::string CutToParts(std::string_view text, int maxParts, bool& cut) {
  const std::size_t limit = kSmsPieceCharacters * static_cast<std::size_t>(std::max(maxParts, 1));
  std::size_t characters = 0;
  std::size_t pos = 0;
  std::size_t keep = 0;  // bytes of the first limit-1 characters
  while (pos < text.size()) {
    if (characters == limit - 1) keep = pos;
    if (characters == limit) {
      cut = true;
      return std::string(text.substr(0, keep)).append(kEllipsis);
    }
    pos += platform::CharLength(text, pos);
    ++characters;
  }
  cut = false;
  return std::string(text);
}

Outbox::Outbox(SmsModem& modem, OutboxLimits limits) noexcept : modem_(modem), limits_(limits) {}

Outbox::~Outbox() {
  journal_.Close();
  history_.Close();
}

void Outbox::Start(const std::string& folder, bool resend, std::uint32_t maxAgeMs) noexcept {
  if (started_) return;
  started_ = true;
  std::size_t resent = 0, failed = 0, earlier = 0;
  try {
    history_.Open(folder);
    // The send record shows what earlier runs sent as well.
    for (HistoryEntry& entry : history_.ReadRecent(kRecentRecords)) {
      OutboxRecord record;
      record.entry = std::move(entry);
      KeepEnded(std::move(record));
      ++earlier;
    }
    std::string path = folder;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') {
#ifdef _WIN32
      path += '\\';
#else
      path += '/';
#endif
    }
    path.append(OutboxJournal::kFileName);
    OutboxJournal::LoadReport report;
    journal_.Open(path, report);
    const std::int64_t now = Now();
    for (OutboxMessage& message : report.waiting) {
      const std::int64_t ageSeconds = std::max<std::int64_t>(now - message.queuedAt, 0);
      Remember(message);
      if (!resend || ageSeconds * 1000 >= static_cast<std::int64_t>(maxAgeMs)) {
        journal_.RecordFailed(message.id, now, resend ? kExpiredReason : kNotResentReason, 0);
        End(message.id, HistoryState::kFailed, 0, {},
            LoadString(resend ? kExpiredReason : kNotResentReason));
        ++failed;
        continue;
      }
      pending_[std::clamp(message.priority, kPriorityScript, kPriorityUrgent)].push_back(
          std::move(message));
      ++resent;
    }
    Feed();
  } catch (...) {
    // Out of memory: what was not queued again stays in the journal for the next start.
  }
  try {
    platform::ReportToHost(HostReportKind::kOutboxStarted,
                           "resent=" + std::to_string(resent) + " failed=" +
                               std::to_string(failed) + " earlier=" + std::to_string(earlier));
  } catch (...) {
  }
}

std::vector<std::uint64_t> Outbox::Queue(std::span<const OutboxRequest> requests) noexcept {
  std::vector<std::uint64_t> ids;
  try {
    ids.assign(requests.size(), 0);
    std::vector<OutboxMessage> accepted;
    std::size_t refusals = 0;
    // One SendMsg call hands the same text to every number: cut it once.
    std::string_view lastText;
    bool first = true;
    std::string cutText;
    bool cut = false;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const OutboxRequest& request = requests[i];
      if (first || request.text.data() != lastText.data() ||
          request.text.size() != lastText.size()) {
        cutText = CutToParts(request.text, limits_.maxParts, cut);
        lastText = request.text;
        first = false;
      }
      const bool script = request.priority == kPriorityScript;
      if (!modem_.started()) {
        Refuse(request, kPortClosedReason, cutText, cut, refusals);
        continue;
      }
      if (request.number.empty()) continue;  // the piece after a list's last comma
      if (!EncodePhoneDigits(request.number)) {
        Refuse(request, kWrongNumberReason, cutText, cut, refusals);
        continue;
      }
      if (cutText.empty()) {
        Refuse(request, kEmptyTextReason, cutText, cut, refusals);
        continue;
      }
      OutboxMessage message;
      message.queuedAt = Now();
      message.priority = request.priority;
      message.number = request.number;
      message.name = request.name;
      message.origin = request.origin;
      message.text = cutText;
      message.parts = PartCount(cutText);
      message.cut = cut;
      if (!Accept(message, script)) {
        Refuse(request, kQueueFullReason, cutText, cut, refusals);
        continue;
      }
      message.id = journal_.NextId();
      ids[i] = message.id;
      Remember(message);
      accepted.push_back(std::move(message));
    }
    if (refusals > kRefusalLinesPerCall) {
      HistoryEntry summary;
      summary.queuedAt = summary.endedAt = Now();
      summary.number =
          platform::FormatText(LoadString(kMoreRefusedNumbers),
                               {static_cast<std::int64_t>(refusals - kRefusalLinesPerCall)});
      summary.origin = requests.empty() ? std::string() : requests.back().origin;
      summary.text = cutText;
      summary.state = HistoryState::kRefused;
      summary.reason = LoadString(lastRefusalReason_);
      history_.Append(summary);
    }
    // Recorded before they count as queued. A journal that cannot be written does not stop an
    // alarm: the messages are sent all the same, they only would not survive a restart.
    journal_.RecordQueued(accepted);
    for (OutboxMessage& message : accepted) {
      pending_[std::clamp(message.priority, kPriorityScript, kPriorityUrgent)].push_back(
          std::move(message));
    }
    Feed();
  } catch (...) {
    // Out of memory: what was not queued is not reported queued.
  }
  return ids;
}

bool Outbox::Accept(const OutboxMessage& message, bool script) {
  const std::size_t bytes = message.text.size();
  const bool fits =
      waitingCount_ + 1 <= limits_.maxMessages && waitingBytes_ + bytes <= limits_.maxBytes;
  if (!fits) {
    if (script) return false;
    if (!MakeRoomForAlarm(bytes) && waitingCount_ + 1 > limits_.maxAlarmMessages) return false;
  }
  return true;
}

// Script messages that wait in the outbox give way to an alarm, the oldest first.
bool Outbox::MakeRoomForAlarm(std::size_t bytes) {
  auto& scripts = pending_[kPriorityScript];
  while (!scripts.empty() &&
         (waitingCount_ + 1 > limits_.maxMessages || waitingBytes_ + bytes > limits_.maxBytes)) {
    OutboxMessage oldest = std::move(scripts.front());
    scripts.pop_front();
    journal_.RecordFailed(oldest.id, Now(), kQueueFullReason, 0);
    End(oldest.id, HistoryState::kRefused, 0, {}, LoadString(kGaveWayReason));
  }
  return waitingCount_ + 1 <= limits_.maxMessages && waitingBytes_ + bytes <= limits_.maxBytes;
}

void Outbox::Refuse(const OutboxRequest& request, int reasonId, const std::string& cutText,
                    bool cut, std::size_t& refusalsThisCall) {
  lastRefusalReason_ = reasonId;
  if (++refusalsThisCall > kRefusalLinesPerCall) return;
  HistoryEntry entry;
  entry.queuedAt = entry.endedAt = Now();
  entry.number = request.number.substr(0, 32);
  entry.name = request.name;
  entry.origin = request.origin;
  entry.text = cutText;
  entry.state = HistoryState::kRefused;
  entry.reason = LoadString(reasonId);
  if (cut) entry.reason += "," + LoadString(kTextCutNote);
  history_.Append(entry);
  OutboxRecord record;
  record.entry = std::move(entry);
  record.cut = cut;
  KeepEnded(std::move(record));
}

void Outbox::Feed() noexcept {
  if (!modem_.started()) return;
  while (modem_.queueLength() < limits_.modemWindow) {
    std::deque<OutboxMessage>* queue = nullptr;
    for (int priority = kPriorityUrgent; priority >= kPriorityScript; --priority) {
      std::deque<OutboxMessage>& candidate = pending_[priority];
      if (candidate.empty()) continue;
      // Ids rise in queueing order: the smallest front id is the oldest message.
      if (queue == nullptr || (!limits_.byPriority && candidate.front().id < queue->front().id)) {
        queue = &candidate;
      }
    }
    if (queue == nullptr) return;
    OutboxMessage message = std::move(queue->front());
    queue->pop_front();
    if (!Submit(message)) {
      journal_.RecordFailed(message.id, Now(), kWrongNumberReason, 0);
      End(message.id, HistoryState::kFailed, 0, {}, LoadString(kWrongNumberReason));
    }
  }
}

bool Outbox::Submit(const OutboxMessage& message) noexcept {
  try {
    QueuedSms sms;
    sms.id = message.id;
    sms.priority = limits_.byPriority ? message.priority : kPriorityScript;
    sms.number = message.number;
    sms.text = message.text;
    sms.parts = EncodeParts(message.number, message.text);
    const std::int64_t ageSeconds = std::max<std::int64_t>(Now() - message.queuedAt, 0);
    sms.ageMs = static_cast<std::uint32_t>(std::min<std::int64_t>(ageSeconds * 1000, 0x7FFFFFFF));
    return modem_.Submit(std::move(sms)) != 0;
  } catch (...) {
    return false;
  }
}

void Outbox::OnSent(std::uint64_t id, const std::vector<int>& references, int attempts) noexcept {
  try {
    std::string reference;
    for (int value : references) {
      if (value < 0) continue;  // the modem gave none for this part
      if (!reference.empty()) reference.push_back(' ');
      reference += std::to_string(value);
    }
    journal_.RecordSent(id, Now(), reference, attempts);
    End(id, HistoryState::kSent, attempts, reference, {});
  } catch (...) {
  }
  Feed();
  if (listener_ != nullptr) listener_->OnSent(id, references, attempts);
}

void Outbox::OnFailed(std::uint64_t id, const SmsFailure& failure) noexcept {
  if (failure.kind == SmsFailureKind::Temporary) {
    auto it = live_.find(id);
    if (it != live_.end()) {
      it->second.entry.attempts = failure.attempts;
      try {
        it->second.entry.reason = failure.meaning;
      } catch (...) {
      }
    }
    if (listener_ != nullptr) listener_->OnFailed(id, failure);
    return;
  }
  try {
    std::string reason = failure.meaning.empty() ? LoadString(kModemFailedReason) : failure.meaning;
    if (!failure.result.empty()) reason = failure.result + " " + reason;
    journal_.RecordFailed(id, Now(), failure.code, failure.attempts);
    End(id, HistoryState::kFailed, failure.attempts, {}, reason);
  } catch (...) {
  }
  Feed();
  if (listener_ != nullptr) listener_->OnFailed(id, failure);
}

void Outbox::OnStatusChanged(const ModemStatus& status) noexcept {
  try {
    status_ = status;
  } catch (...) {
  }
  if (listener_ != nullptr) listener_->OnStatusChanged(status);
}

void Outbox::End(std::uint64_t id, HistoryState state, int attempts, std::string reference,
                 std::string reason) noexcept {
  try {
    auto it = live_.find(id);
    if (it == live_.end()) return;
    OutboxRecord record = std::move(it->second);
    live_.erase(it);
    waitingCount_ -= std::min<std::size_t>(waitingCount_, 1);
    waitingBytes_ -= std::min(waitingBytes_, record.entry.text.size());
    record.waiting = false;
    HistoryEntry& entry = record.entry;
    entry.endedAt = Now();
    entry.attempts = attempts;
    entry.reference = std::move(reference);
    entry.state = state;
    entry.reason = std::move(reason);
    if (record.cut) {
      if (!entry.reason.empty()) entry.reason += ",";
      entry.reason += LoadString(kTextCutNote);
    }
    history_.Append(entry);
    KeepEnded(std::move(record));
  } catch (...) {
  }
}

void Outbox::Remember(const OutboxMessage& message) {
  OutboxRecord record;
  record.id = message.id;
  record.waiting = true;
  record.cut = message.cut;
  record.entry.queuedAt = message.queuedAt;
  record.entry.number = message.number;
  record.entry.name = message.name;
  record.entry.origin = message.origin;
  record.entry.text = message.text;
  live_[message.id] = std::move(record);
  ++waitingCount_;
  waitingBytes_ += message.text.size();
}

void Outbox::KeepEnded(OutboxRecord record) {
  ended_.push_back(std::move(record));
  if (ended_.size() > kRecentRecords) ended_.pop_front();
}

const OutboxRecord* Outbox::Find(std::uint64_t id) const noexcept {
  if (auto it = live_.find(id); it != live_.end()) return &it->second;
  for (auto it = ended_.rbegin(); it != ended_.rend(); ++it) {
    if (it->id == id && id != 0) return &*it;
  }
  return nullptr;
}

std::vector<OutboxRecord> Outbox::Recent(std::size_t limit) const {
  std::vector<OutboxRecord> records;
  for (auto it = live_.rbegin(); it != live_.rend() && records.size() < limit; ++it)
    records.push_back(it->second);
  for (auto it = ended_.rbegin(); it != ended_.rend() && records.size() < limit; ++it)
    records.push_back(*it);
  return records;
}

}  // namespace pagorin

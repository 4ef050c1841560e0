#include "core/outbox.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>
#include <set>

#include "core/alarm_intake.h"
#include "core/inbox.h"
#include "modem/pdu.h"
#include "platform/code_page.h"
#include "platform/host_report.h"
#include "platform/local_time.h"
#include "platform/text_format.h"
#include "resources/string_table.h"

namespace pagorin {
namespace {

using namespace string_id;

// A number of the right form, for encoding a text before its number is looked at.
constexpr std::string_view kAnyNumber = "10000000000";

std::int64_t Now() noexcept {
  return platform::WallClockSeconds();
}

// The age of a message queued at `queuedAt`, as the modem counts it.
std::uint32_t AgeMs(std::int64_t queuedAt) noexcept {
  const std::int64_t ageSeconds = std::max<std::int64_t>(Now() - queuedAt, 0);
  return static_cast<std::uint32_t>(std::min<std::int64_t>(ageSeconds * 1000, 0x7FFFFFFF));
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

// UTF-16 back to code page 936 (a character it cannot hold becomes '?').
std::string Utf16ToCp936(std::u16string_view text) {
  std::string utf8;
  utf8.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(utf8, c);
  }
  return platform::Utf8ToCp936(utf8);
}

std::string TextForSms(std::string_view text, const SmsTextOptions& options, bool& cut,
                       int& parts) {
  cut = false;
  parts = 0;
  const std::u16string units = platform::Cp936ToUtf16(text);
  const std::optional<EncodedSms> encoded = EncodeSms(kAnyNumber, units, options);
  // Refused for an empty text, and otherwise only when memory ran out.
  if (!encoded && !units.empty() && units.front() != u'\0') throw std::bad_alloc();
  if (!encoded) return std::string(text);
  parts = static_cast<int>(encoded->parts.size());
  if (!encoded->cut) return std::string(text);
  cut = true;
  std::u16string kept = units.substr(0, encoded->keptUnits);
  kept += encoded->alphabet == SmsAlphabet::kGsm7Bit ? u"..." : u"\u2026";
  return Utf16ToCp936(kept);
}

std::string JoinedText(std::span<const std::string_view> texts, int priority) {
  if (texts.size() == 1) return std::string(texts.front());
  const int head = priority == kPriorityScript ? kCoalescedScriptHead : kCoalescedHead;
  std::string joined =
      platform::FormatText(LoadString(head), {static_cast<std::int64_t>(texts.size())});
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::string_view piece = texts[i];
    // The default alarm text ends with a comma; the separator takes its place.
    if (piece.ends_with(',')) piece.remove_suffix(1);
    if (i > 0) joined.push_back(';');
    joined += piece;
  }
  return joined;
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
      if (entry.state == HistoryState::kDelivered || entry.state == HistoryState::kUndelivered) {
        // A report's verdict is shown on the row of the message it is about.
        for (OutboxRecord& sent : ended_) {
          if (sent.entry.number == entry.number && sent.entry.reference == entry.reference &&
              sent.entry.queuedAt == entry.queuedAt) {
            sent.delivery = entry.state;
            sent.deliveredAt = entry.endedAt;
            sent.deliveryReason = entry.reason;
          }
        }
        continue;
      }
      OutboxRecord record;
      record.entry = std::move(entry);
      KeepEnded(std::move(record));
      ++earlier;
    }
    // What earlier runs sent within the window still awaits its reports: the history holds the
    // number and the references, which is all a report is matched by.
    const std::int64_t since = Now() - kReportWindowSeconds;
    std::uint64_t restored = 0;
    for (std::size_t i = 0; i < ended_.size(); ++i) {
      const HistoryEntry& entry = ended_[i].entry;
      if (entry.state != HistoryState::kSent || ended_[i].delivery != HistoryState::kSent ||
          entry.reference.empty() || entry.endedAt < since) {
        continue;
      }
      std::vector<HistoryEntry> entries{entry};
      // The messages of one joined SMS stand together with the same references and end.
      while (i + 1 < ended_.size() && ended_[i + 1].entry.reference == entry.reference &&
             ended_[i + 1].entry.number == entry.number &&
             ended_[i + 1].entry.endedAt == entry.endedAt) {
        entries.push_back(ended_[++i].entry);
      }
      std::vector<int> references;
      std::size_t at = 0;
      while (at < entry.reference.size()) {
        const std::size_t end = std::min(entry.reference.find(' ', at), entry.reference.size());
        references.push_back(std::atoi(entry.reference.substr(at, end - at).c_str()));
        at = end + 1;
      }
      // Ids above every id of this run's messages would collide; these sit below them.
      Await(++restored, {}, references, entry.endedAt, std::move(entries));
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
    journalHeldByOther_ = report.heldByOther;
    journalOpenProblem_ = report.error;
    damagedRecords_ = report.damagedRecords + (report.damagedTail ? 1 : 0);
    damagedBytes_ = report.damagedBytes;
    const std::int64_t now = Now();
    // The messages of an SMS that an earlier run got partly accepted resume with it; they are
    // held back from the queue meanwhile.
    std::set<std::uint64_t> carriedInFlight;
    for (const SmsInFlight& sms : report.inFlight)
      carriedInFlight.insert(sms.carried.begin(), sms.carried.end());
    std::map<std::uint64_t, OutboxMessage> held;
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
      ++resent;
      if (carriedInFlight.contains(message.id)) {
        const std::uint64_t id = message.id;
        held.emplace(id, std::move(message));
        continue;
      }
      pending_[std::clamp(message.priority, kPriorityScript, kPriorityUrgent)].push_back(
          std::move(message));
    }
    for (const SmsInFlight& sms : report.inFlight) {
      const bool whole = std::all_of(sms.carried.begin(), sms.carried.end(),
                                     [&](std::uint64_t id) { return held.contains(id); });
      if (whole && Resume(sms, held.at(sms.carried.front()))) {
        for (std::uint64_t id : sms.carried)
          held.erase(id);
      }
    }
    // What could not resume (some of its messages ended at this start) goes again on its own,
    // in its place among the others.
    for (auto& [id, message] : held) {
      std::deque<OutboxMessage>& queue =
          pending_[std::clamp(message.priority, kPriorityScript, kPriorityUrgent)];
      auto at = std::find_if(queue.begin(), queue.end(),
                             [&](const OutboxMessage& other) { return other.id > id; });
      queue.insert(at, std::move(message));
    }
    Feed();
  } catch (...) {
    // Out of memory: what was not queued again stays in the journal for the next start.
  }
  try {
    std::string text = "resent=" + std::to_string(resent) + " failed=" + std::to_string(failed) +
                       " earlier=" + std::to_string(earlier);
    if (damagedRecords_ > 0) text += " damaged=" + std::to_string(damagedRecords_);
    platform::ReportToHost(HostReportKind::kOutboxStarted, text);
  } catch (...) {
  }
}

std::string Outbox::DurabilityProblem() const {
  if (journalHeldByOther_) return LoadString(kJournalHeldByOther);
  std::string problem = journal_.LastWriteProblem();
  if (problem.empty() && started_ && !journal_.IsOpen()) problem = journalOpenProblem_;
  if (!problem.empty() || (started_ && !journal_.IsOpen())) {
    return platform::FormatText(LoadString(kJournalNotWritable), {std::string_view(problem)});
  }
  if (!history_.LastProblem().empty()) {
    return platform::FormatText(LoadString(kHistoryNotWritable),
                                {std::string_view(history_.LastProblem())});
  }
  if (damagedRecords_ > 0) {
    return platform::FormatText(
        LoadString(kJournalDamaged),
        {static_cast<std::int64_t>(damagedRecords_), static_cast<std::int64_t>(damagedBytes_)});
  }
  return {};
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
    int parts = 0;
    const SmsTextOptions options{limits_.concatenated, limits_.maxParts, 0};
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const OutboxRequest& request = requests[i];
      if (first || request.text.data() != lastText.data() ||
          request.text.size() != lastText.size()) {
        cutText = TextForSms(request.text, options, cut, parts);
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
      if (parts == 0) {
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
      message.parts = parts;
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
    // Out of memory: an empty answer tells the caller that the requests were not all taken.
    ids.clear();
  }
  return ids;
}

bool Outbox::Accept(const OutboxMessage& message, bool script) {
  const std::size_t bytes = message.text.size();
  const bool fits =
      waitingCount_ + 1 <= limits_.maxMessages && waitingBytes_ + bytes <= limits_.maxBytes;
  if (!fits) {
    if (script) return false;
    if (MakeRoomForAlarm(bytes) || waitingCount_ + 1 <= limits_.maxAlarmMessages) return true;
    return GiveWayTo(message.priority);
  }
  return true;
}

// At the hard ceiling an alarm still gets in when a message of a lower priority waits: the
// youngest of the lowest priority gives way (refused, and recorded so), so that an urgent alarm
// is never refused for a storm of low ones.
bool Outbox::GiveWayTo(int priority) {
  for (int p = kPriorityScript; p < std::clamp(priority, kPriorityScript, kPriorityUrgent); ++p) {
    std::deque<OutboxMessage>& queue = pending_[p];
    if (queue.empty()) continue;
    const std::uint64_t id = queue.back().id;
    queue.pop_back();
    journal_.RecordFailed(id, Now(), kQueueFullReason, 0);
    End(id, HistoryState::kRefused, 0, {}, LoadString(kGaveWayReason));
    return true;
  }
  return false;
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

void Outbox::SetTextOptions(bool concatenated, int maxParts, int coalesce) noexcept {
  limits_.concatenated = concatenated;
  limits_.maxParts = std::max(maxParts, 1);
  limits_.coalesce = std::max(coalesce, 0);
}

bool Outbox::HasRoom(int priority) const noexcept {
  std::size_t held = 0;
  for (int p = limits_.byPriority ? priority : kPriorityScript; p <= kPriorityUrgent; ++p)
    held += inModemCount_[p];
  return held < std::max<std::size_t>(limits_.modemWindow, 1);
}

// More messages than the threshold wait for the head's number (the head included)?
bool Outbox::ShouldJoin(const OutboxMessage& head) const noexcept {
  if (limits_.coalesce <= 0 || head.origin == kTestOrigin) return false;
  const auto threshold = static_cast<std::size_t>(limits_.coalesce);
  std::size_t waiting = 1;
  for (const std::deque<OutboxMessage>& queue : pending_) {
    for (const OutboxMessage& message : queue) {
      if (message.number == head.number && ++waiting > threshold) return true;
    }
  }
  return false;
}

// Takes from `queue` the messages for the number of batch's head, in their order, as long as
// the joined text still goes out whole within the part limit; the first that would not fit
// stays, to lead the next SMS.
void Outbox::TakeJoinable(std::deque<OutboxMessage>& queue, std::vector<OutboxMessage>& batch) {
  const SmsTextOptions options{limits_.concatenated, limits_.maxParts, 0};
  const int priority = batch.front().priority;
  std::vector<std::string_view> texts;
  for (auto it = queue.begin(); it != queue.end();) {
    if (it->number != batch.front().number || it->origin == kTestOrigin) {
      ++it;
      continue;
    }
    // Views of the texts where they stand now: the batch's strings move as it grows.
    texts.clear();
    for (const OutboxMessage& message : batch)
      texts.push_back(message.text);
    texts.push_back(it->text);
    const std::optional<EncodedSms> trial =
        EncodeSmsText(kAnyNumber, JoinedText(texts, priority), options);
    if (!trial || trial->cut) break;
    batch.push_back(std::move(*it));
    it = queue.erase(it);
  }
}

void Outbox::Feed() noexcept {
  // A closed modem takes nothing: what waits stays in the journal for the next run.
  if (!modem_.started() || modem_.closed()) return;
  try {
    for (;;) {
      std::deque<OutboxMessage>* queue = nullptr;
      for (int priority = kPriorityUrgent; priority >= kPriorityScript; --priority) {
        std::deque<OutboxMessage>& candidate = pending_[priority];
        if (candidate.empty()) continue;
        // Ids rise in queueing order: the smallest front id is the oldest message.
        if (queue == nullptr || (!limits_.byPriority && candidate.front().id < queue->front().id)) {
          queue = &candidate;
        }
      }
      if (queue == nullptr || !HasRoom(queue->front().priority)) return;
      std::vector<OutboxMessage> batch;
      batch.push_back(std::move(queue->front()));
      queue->pop_front();
      if (ShouldJoin(batch.front())) TakeJoinable(*queue, batch);
      if (!Submit(batch)) {
        for (const OutboxMessage& message : batch) {
          journal_.RecordFailed(message.id, Now(), kWrongNumberReason, 0);
          End(message.id, HistoryState::kFailed, 0, {}, LoadString(kWrongNumberReason));
        }
      }
    }
  } catch (...) {
    // Out of memory: what was taken from the queue is in the journal and goes after a restart.
  }
}

// Hands `batch` (one message, or several for one number joined) to the modem as one SMS under
// the id of its first message. Its concatenation reference is that id's low byte: a new one for
// every SMS, and after a restart too, since ids keep rising.
bool Outbox::Submit(const std::vector<OutboxMessage>& batch) noexcept {
  try {
    const OutboxMessage& head = batch.front();
    std::vector<std::string_view> texts;
    std::int64_t queuedAt = head.queuedAt;
    for (const OutboxMessage& message : batch) {
      texts.push_back(message.text);
      queuedAt = std::min(queuedAt, message.queuedAt);
    }
    QueuedSms sms;
    sms.id = head.id;
    sms.priority = limits_.byPriority ? head.priority : kPriorityScript;
    sms.number = head.number;
    sms.text = JoinedText(texts, head.priority);
    SmsTextOptions options{limits_.concatenated, limits_.maxParts,
                           static_cast<std::uint8_t>(head.id & 0xFFu)};
    options.statusReport = limits_.statusReports;
    std::optional<EncodedSms> encoded = EncodeSmsText(head.number, sms.text, options);
    if (!encoded) return false;
    sms.parts = std::move(encoded->parts);
    sms.ageMs = AgeMs(queuedAt);
    SmsInFlight flight;
    flight.smsId = head.id;
    flight.number = head.number;
    flight.text = sms.text;
    flight.concatenated = options.concatenated;
    flight.maxParts = options.maxParts;
    flight.concatReference = options.reference;
    for (const OutboxMessage& message : batch) {
      flight.carried.push_back(message.id);
      // A text queued under a larger part limit than now holds is cut again on the way out.
      if (encoded->cut) {
        if (auto it = live_.find(message.id); it != live_.end()) it->second.cut = true;
      }
    }
    return HandToModem(std::move(sms), std::move(flight), head.priority, {});
  } catch (...) {
    return false;
  }
}

// Hands an SMS that an earlier run got partly accepted to the modem again: encoded as it was,
// from the first part the network did not accept.
bool Outbox::Resume(const SmsInFlight& flight, const OutboxMessage& head) noexcept {
  try {
    SmsTextOptions options{flight.concatenated, std::max(flight.maxParts, 1),
                           flight.concatReference};
    options.statusReport = limits_.statusReports;
    std::optional<EncodedSms> encoded = EncodeSmsText(flight.number, flight.text, options);
    if (!encoded || encoded->parts.size() <= flight.references.size()) return false;
    QueuedSms sms;
    sms.id = flight.smsId;
    sms.priority = limits_.byPriority ? head.priority : kPriorityScript;
    sms.number = flight.number;
    sms.text = flight.text;
    sms.parts.assign(std::make_move_iterator(encoded->parts.begin() +
                                             static_cast<std::ptrdiff_t>(flight.references.size())),
                     std::make_move_iterator(encoded->parts.end()));
    sms.ageMs = AgeMs(head.queuedAt);
    return HandToModem(std::move(sms), flight, head.priority, flight.references);
  } catch (...) {
    return false;
  }
}

bool Outbox::HandToModem(QueuedSms sms, SmsInFlight flight, int priority,
                         std::vector<int> earlierReferences) noexcept {
  const std::uint64_t smsId = sms.id;
  try {
    InModem entry;
    entry.priority = std::clamp(priority, kPriorityScript, kPriorityUrgent);
    entry.ids = flight.carried;
    entry.earlierReferences = std::move(earlierReferences);
    const int held = entry.priority;
    inModem_[smsId] = std::move(entry);
    // Known to the journal before the modem can answer for it.
    journal_.HandOver(std::move(flight));
    if (modem_.Submit(std::move(sms)) == 0) {
      inModem_.erase(smsId);
      return false;
    }
    ++inModemCount_[held];
    return true;
  } catch (...) {
    inModem_.erase(smsId);
    return false;
  }
}

// The messages SMS `smsId` carried, no longer counted as in the modem; the id alone for an SMS
// the outbox did not hand over.
std::vector<std::uint64_t> Outbox::TakeInModem(std::uint64_t smsId) noexcept {
  std::vector<std::uint64_t> ids;
  auto it = inModem_.find(smsId);
  if (it == inModem_.end()) {
    try {
      ids.push_back(smsId);
    } catch (...) {
    }
    return ids;
  }
  inModemCount_[it->second.priority] -=
      std::min<std::size_t>(inModemCount_[it->second.priority], 1);
  ids = std::move(it->second.ids);
  inModem_.erase(it);
  return ids;
}

namespace {

// The history's note on message `index` of the `count` an SMS carried; empty for one alone.
std::string JoinedNote(std::size_t index, std::size_t count) {
  if (count < 2) return {};
  return platform::FormatText(LoadString(kJoinedNote), {static_cast<std::int64_t>(index + 1),
                                                        static_cast<std::int64_t>(count)});
}

std::string WithNote(std::string reason, const std::string& note) {
  if (note.empty()) return reason;
  if (!reason.empty()) reason += ",";
  return reason + note;
}

}  // namespace

void Outbox::RecordFate(const SmsReport& report) noexcept {
  const std::int64_t at = Now();
  switch (report.kind) {
    case SmsReport::Kind::Sent:
      journal_.RecordSmsSent(report.id, at, report.references, report.attempts);
      break;
    case SmsReport::Kind::PartSent:
      journal_.RecordPartSent(report.id, report.references);
      break;
    case SmsReport::Kind::Failed:
      if (report.failure.kind != SmsFailureKind::Temporary) {
        journal_.RecordSmsFailed(report.id, at, report.failure.code, report.failure.attempts);
      }
      break;
    case SmsReport::Kind::Status:
    case SmsReport::Kind::Received:
    case SmsReport::Kind::Delivery:
      break;
  }
}

bool Outbox::RecordReceived(const SmsReport& report) noexcept {
  if (report.kind != SmsReport::Kind::Received || inbox_ == nullptr) return true;
  // A PDU that does not decode is kept raw: the modem deletes what it handed over.
  if (!report.received) return inbox_->RecordUndecoded(report.pdu, Now());
  return inbox_->Record(*report.received, report.pdu, Now());
}

bool Outbox::AppendHistory(const HistoryEntry& entry) noexcept {
  return history_.Append(entry);
}

void Outbox::OnReceived(const SmsReport& report) noexcept {
  if (listener_ != nullptr) listener_->OnReceived(report);
}

std::string Outbox::NumberKey(std::string_view number) {
  std::string digits;
  for (char c : number) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits.size() > 11 ? digits.substr(digits.size() - 11) : digits;
}

void Outbox::Await(std::uint64_t smsId, const std::vector<std::uint64_t>& ids,
                   const std::vector<int>& references, std::int64_t sentAt,
                   std::vector<HistoryEntry> entries) {
  if (entries.empty() || references.empty()) return;
  Awaited sms;
  sms.sentAt = sentAt;
  sms.ids = ids;
  sms.references = references;
  sms.state.assign(references.size(), 0);
  const std::string key = NumberKey(entries.front().number);
  sms.entries = std::move(entries);
  Forget(smsId);
  awaited_[smsId] = std::move(sms);
  for (std::size_t part = 0; part < references.size(); ++part) {
    if (references[part] >= 0) byReference_.insert({{references[part], key}, {smsId, part}});
  }
  // Bounded: the oldest (and those past the window) give way.
  while (awaited_.size() > kMaxAwaitingReports ||
         (!awaited_.empty() && awaited_.begin()->second.sentAt < Now() - kReportWindowSeconds)) {
    Forget(awaited_.begin()->first);
  }
}

void Outbox::Forget(std::uint64_t smsId) noexcept {
  auto it = awaited_.find(smsId);
  if (it == awaited_.end()) return;
  try {
    const std::string key = NumberKey(it->second.entries.front().number);
    for (int reference : it->second.references) {
      auto [from, to] = byReference_.equal_range({reference, key});
      while (from != to)
        from = from->second.first == smsId ? byReference_.erase(from) : std::next(from);
    }
  } catch (...) {
  }
  awaited_.erase(it);
}

void Outbox::OnDelivery(const SmsReport& report) noexcept {
  try {
    if (report.delivery && !report.delivery->reportsCommand) {
      const SmsStatusReport& status = *report.delivery;
      const std::int64_t now = Now();
      // The latest part sent under this reference to this number within the window: a
      // reference that came round again names the latest, and older ones have left the window.
      const Awaited* best = nullptr;
      std::uint64_t bestId = 0;
      std::size_t bestPart = 0;
      auto [from, to] =
          byReference_.equal_range({status.messageReference, NumberKey(status.recipient.number)});
      for (auto it = from; it != to; ++it) {
        const Awaited& sms = awaited_.at(it->second.first);
        if (sms.sentAt < now - kReportWindowSeconds || sms.sentAt > now + 60) continue;
        if (best == nullptr || sms.sentAt > best->sentAt ||
            (sms.sentAt == best->sentAt && it->second.first > bestId)) {
          best = &sms;
          bestId = it->second.first;
          bestPart = it->second.second;
        }
      }
      if (best != nullptr) {
        Awaited& sms = awaited_.at(bestId);
        const std::int64_t at = status.dischargeTime ? status.dischargeTime->utcSeconds : now;
        switch (status.deliveryClass) {
          case SmsDeliveryClass::kDelivered:
            sms.state[bestPart] = 1;
            sms.deliveredAt = std::max(sms.deliveredAt, at);
            if (std::all_of(sms.state.begin(), sms.state.end(), [](auto s) { return s == 1; })) {
              Conclude(sms, HistoryState::kDelivered, sms.deliveredAt, {});
              Forget(bestId);
            }
            break;
          case SmsDeliveryClass::kStillTrying:
            break;  // the centre keeps trying: a later report ends it
          case SmsDeliveryClass::kFailedPermanently:
          case SmsDeliveryClass::kGaveUp:
          case SmsDeliveryClass::kUnknown:
            Conclude(sms, HistoryState::kUndelivered, at, UndeliveredReason(status.status));
            Forget(bestId);
            break;
        }
      }
    }
  } catch (...) {
  }
  if (listener_ != nullptr) listener_->OnDelivery(report);
}

void Outbox::Conclude(Awaited& sms, HistoryState state, std::int64_t at,
                      const std::string& reason) {
  for (const HistoryEntry& sent : sms.entries) {
    HistoryEntry entry = sent;
    entry.endedAt = at;
    entry.state = state;
    entry.reason = reason;
    history_.Append(entry);
    for (OutboxRecord& record : ended_) {
      if (record.entry.number == sent.number && record.entry.reference == sent.reference &&
          record.entry.queuedAt == sent.queuedAt && record.entry.endedAt == sent.endedAt &&
          record.entry.state == HistoryState::kSent) {
        record.delivery = state;
        record.deliveredAt = at;
        record.deliveryReason = reason;
      }
    }
  }
}

std::string UndeliveredReason(std::uint8_t status) {
  switch (status) {
    case 0x43:  // not obtainable
      return LoadString(kNumberMissingReason);
    case 0x46:  // validity period expired: the phone stayed off or out of reach
    case 0x62:  // no response from the phone
      return LoadString(kPhoneOffReason);
    case 0x42:  // connection rejected by the phone
    case 0x63:  // service rejected
      return LoadString(kRejectedReason);
    case 0x61:  // the phone is busy
      return LoadString(kBusyReason);
    default:
      break;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string code{kHex[status >> 4], kHex[status & 0xF]};
  return platform::FormatText(LoadString(kUndeliveredStatus), {std::string_view(code)});
}

void Outbox::OnSent(std::uint64_t id, const std::vector<int>& references, int attempts) noexcept {
  std::vector<int> earlier;
  if (auto it = inModem_.find(id); it != inModem_.end()) earlier = it->second.earlierReferences;
  const std::vector<std::uint64_t> ids = TakeInModem(id);
  try {
    // The journal marked them on the sender's thread when the modem answered.
    earlier.insert(earlier.end(), references.begin(), references.end());
    const std::string reference = OutboxJournal::ReferenceText(earlier);
    std::vector<HistoryEntry> entries;
    for (std::size_t i = 0; i < ids.size(); ++i) {
      End(ids[i], HistoryState::kSent, attempts, reference, JoinedNote(i, ids.size()));
      if (const OutboxRecord* record = Find(ids[i]); record != nullptr && record->id != 0)
        entries.push_back(record->entry);
    }
    if (limits_.statusReports && !entries.empty())
      Await(id + kMaxAwaitingReports, ids, earlier, Now(), std::move(entries));
  } catch (...) {
  }
  Feed();
  if (listener_ != nullptr) listener_->OnSent(id, references, attempts);
}

void Outbox::OnFailed(std::uint64_t id, const SmsFailure& failure) noexcept {
  if (failure.kind == SmsFailureKind::Temporary) {
    if (auto sms = inModem_.find(id); sms != inModem_.end()) {
      for (std::uint64_t carried : sms->second.ids) {
        auto it = live_.find(carried);
        if (it == live_.end()) continue;
        it->second.entry.attempts = failure.attempts;
        try {
          it->second.entry.reason = failure.meaning;
        } catch (...) {
        }
      }
    }
    if (listener_ != nullptr) listener_->OnFailed(id, failure);
    return;
  }
  const std::vector<std::uint64_t> ids = TakeInModem(id);
  try {
    std::string reason;
    if (failure.kind == SmsFailureKind::Expired) {
      // It ended because it waited too long, whatever the modem last said about it.
      reason = LoadString(kExpiredReason);
    } else {
      reason = failure.meaning.empty() ? LoadString(kModemFailedReason) : failure.meaning;
      if (!failure.result.empty()) reason = failure.result + " " + reason;
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
      End(ids[i], HistoryState::kFailed, failure.attempts, {},
          WithNote(reason, JoinedNote(i, ids.size())));
    }
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

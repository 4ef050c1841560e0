// The alarm intake: the host polls for a request at most once a second, answers with every
// standing alarm, and each alarm that did not stand in the same condition in the previous answer
// is offered to the rules.
#include "core/alarm_intake.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <deque>
#include <new>

#include "core/alarm_text.h"
#include "core/plugin_object.h"
#include "platform/code_page.h"
#include "platform/tick.h"

namespace pagorin {

std::vector<std::string> SplitForSms(std::string_view text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    for (std::size_t characters = 0; characters < kSmsPieceCharacters && end < text.size();
         ++characters) {
      end += platform::CharLength(text, end);
    }
    pieces.emplace_back(text.substr(start, end - start));
    start = end;
  }
  return pieces;
}

bool IsSameAlarmCondition(const AlarmEvent& a, const AlarmEvent& b) noexcept {
  return a.eventId == b.eventId && a.eventSubId == b.eventSubId && a.kind == b.kind &&
         a.level == b.level && a.ackState == b.ackState &&
         std::strncmp(a.tagName, b.tagName, sizeof a.tagName) == 0;
}

namespace {

// The finalizer of a 64-bit mixing function: every input bit reaches every output bit.
constexpr std::uint64_t Mix(std::uint64_t h) noexcept {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

}  // namespace

std::uint64_t KnownAlarms::ConditionHash(const AlarmEvent& event) noexcept {
  // Everything IsSameAlarmCondition compares goes in, so that alarms which differ only in their
  // tag (a host may give thousands the same identity) still spread over the table. The name
  // counts up to its terminator, as the comparison does, eight bytes at a time.
  std::uint64_t h =
      Mix((static_cast<std::uint64_t>(static_cast<std::uint32_t>(event.eventId)) << 32) |
          (static_cast<std::uint64_t>(event.eventSubId) << 24) |
          (static_cast<std::uint64_t>(event.kind) << 16) |
          (static_cast<std::uint64_t>(event.level) << 8) | event.ackState);
  const void* zero = std::memchr(event.tagName, 0, sizeof event.tagName);
  const std::size_t length =
      zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - event.tagName)
                      : sizeof event.tagName;
  for (std::size_t at = 0; at < length; at += 8) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, event.tagName + at, std::min<std::size_t>(8, length - at));
    h = Mix(h ^ chunk) + at;
  }
  return h * 0x9E3779B97F4A7C15ull;
}

void KnownAlarms::Replace(const AlarmEvent* events, std::size_t count) {
  // The buffers keep their capacity from answer to answer: a host that reports the same few
  // thousand alarms every second costs no allocation after the first answer. Only the two
  // reservations can fail, and they come after the old copies are gone, so a failure leaves
  // nothing remembered rather than a half-built index.
  copies_.clear();
  slots_.clear();
  copies_.reserve(count);
  const std::size_t tableSize = std::bit_ceil(count * 2 + 2);
  slots_.assign(tableSize, 0);
  const int shift = 64 - std::countr_zero(tableSize);
  // Each copy is indexed while its record is at hand, so a large answer is read only once here.
  for (std::size_t i = 0; i < count; ++i) {
    const AlarmEvent& event = events[i];
    if (!IsIntakeState(event)) continue;
    copies_.push_back(event);
    std::size_t slot = static_cast<std::size_t>(ConditionHash(event) >> shift);
    while (slots_[slot] != 0)
      slot = (slot + 1) & (tableSize - 1);
    slots_[slot] = static_cast<std::uint32_t>(copies_.size());
  }
}

void KnownAlarms::Clear() noexcept {
  copies_.clear();
  slots_.clear();
}

bool KnownAlarms::Contains(const AlarmEvent& event) const noexcept {
  std::size_t cursor = copies_.size();
  return Contains(event, cursor);
}

bool KnownAlarms::Contains(const AlarmEvent& event, std::size_t& cursor) const noexcept {
  if (copies_.empty()) return false;
  if (cursor < copies_.size() && IsSameAlarmCondition(copies_[cursor], event)) {
    ++cursor;
    return true;
  }
  std::size_t tableSize = slots_.size();
  int shift = 64 - std::countr_zero(tableSize);
  std::size_t slot = static_cast<std::size_t>(ConditionHash(event) >> shift);
  // Every copy in this condition lies in the run of occupied slots that starts here.
  while (slots_[slot] != 0) {
    std::size_t position = slots_[slot] - 1;
    if (IsSameAlarmCondition(copies_[position], event)) {
      cursor = position + 1;
      return true;
    }
    slot = (slot + 1) & (tableSize - 1);
  }
  return false;
}

bool KnownAlarms::ContainsByScan(const AlarmEvent& event) const noexcept {
  for (const AlarmEvent& copy : copies_) {
    if (IsSameAlarmCondition(copy, event)) return true;
  }
  return false;
}

std::size_t KnownAlarms::LongestRun() const noexcept {
  std::size_t longest = 0;
  std::size_t run = 0;
  // Twice round the table, so that a run that wraps from the end to the start counts whole.
  for (std::size_t i = 0; i < slots_.size() * 2; ++i) {
    run = slots_[i % slots_.size()] != 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return std::min(longest, copies_.size());
}

int PluginObject::GetRequest(std::int16_t* code, std::int16_t* subCode, std::int16_t* flags,
                             std::int32_t /*unused*/, std::int32_t* blockSize,
                             AlarmRequest* block) noexcept {
  std::lock_guard calls(hostCalls);
  if (modemOpen == 0) return 0;
  std::uint32_t now = platform::TickCount();
  if (now - lastRequestTick > kRequestAbandonMs) {
    lastRequestTick = now;
    requestPending = 0;
    host->RequestTimedOut();
  }
  if (requestPending != 0) return 0;
  now = platform::TickCount();
  // Either direction counts: a clock that stepped back a little also holds the next request.
  auto elapsed = static_cast<std::int32_t>(now - lastRequestTick);
  if (elapsed > -static_cast<std::int32_t>(kRequestSpacingMs) &&
      elapsed < static_cast<std::int32_t>(kRequestSpacingMs)) {
    return 0;
  }
  if (code == nullptr || subCode == nullptr || flags == nullptr || blockSize == nullptr ||
      block == nullptr) {
    return 0;
  }
  lastRequestTick = now;
  *code = kAlarmRequestCode;
  *subCode = kAlarmRequestSubCode;
  *flags = kAlarmRequestFlags;
  *blockSize = kAlarmRequestBlockSize;
  block->first = 0;
  for (std::int32_t& limit : block->limits)
    limit = -1;
  block->flag20 = 0;
  block->flag21 = 1;
  requestPending = 1;
  return 1;
}

void PluginObject::OnRequestResult(std::int32_t /*unused1*/, std::int16_t count,
                                   std::int32_t /*unused3*/, std::int32_t /*unused4*/,
                                   std::int32_t /*unused5*/, const AlarmEvent* events) noexcept {
  std::lock_guard calls(hostCalls);
  // An answer counts only while its request is pending: one that comes after the request was
  // abandoned (or that no request asked for) may be stale, and taking it as the list of standing
  // alarms would forget alarms and send them again.
  if (requestPending == 0) return;
  requestPending = 0;
  // A negative count, or a count without records, lists nothing: the known alarms stay as they
  // were. Only a count of 0 is an answer with no alarm standing.
  if (count < 0 || (count > 0 && events == nullptr)) return;
  const auto eventCount = static_cast<std::size_t>(count);
  try {
    if (firstResult == 0) {
      // Every message of the answer is queued in one go: one journal write and one sync,
      // however many alarms are new.
      std::deque<std::string> texts;
      std::vector<OutboxRequest> requests;
      std::size_t cursor = 0;
      for (std::size_t i = 0; i < eventCount; ++i) {
        const AlarmEvent& event = events[i];
        if (IsIntakeState(event) && !knownAlarms.Contains(event, cursor))
          CollectAlarm(event, texts, requests);
      }
      if (!requests.empty()) {
        ApplyTextOptions();
        // An outbox out of memory may not have taken the alarms: the intake then forgets the
        // answer, so that they are dispatched again with the next one.
        if (outbox.Queue(requests).size() != requests.size()) throw std::bad_alloc();
      }
    }
    knownAlarms.Replace(events, eventCount);
  } catch (...) {
    // Out of memory: forget the answer, so that the alarms of the next one count as new rather
    // than being lost.
    knownAlarms.Clear();
  }
  firstResult = 0;
}

void PluginObject::CollectAlarm(const AlarmEvent& event, std::deque<std::string>& texts,
                                std::vector<OutboxRequest>& requests) {
  for (const auto& rule : alarmRules) {
    if (rule->Matches(&event) == 0 || rule->TelPlace.empty()) continue;
    for (int index : rule->TelPlace) {
      const PhoneEntry* phone = PhoneAt(index);
      if (phone == nullptr) continue;
      texts.push_back(ComposeAlarmText(event, *rule, *host));
      requests.push_back(OutboxRequest{phone->TelNum, phone->Desc, rule->VarName, texts.back(),
                                       PriorityForAlarmLevel(event.level)});
    }
  }
}

}  // namespace pagorin

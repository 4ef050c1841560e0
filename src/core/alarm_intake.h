// The pieces of the alarm intake that stand on their own: the memory of the previous answer and
// the cutting of a message text into pieces that fit one short message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/alarm_event.h"

namespace pagorin {

// Characters of one message piece: the encoder sends at most 70 UTF-16 units per message.
inline constexpr std::size_t kSmsPieceCharacters = 70;

// Cuts `text` (code page 936) into pieces of at most 70 characters, where a character is one
// byte or a lead byte with its trail byte; a two-byte character is never split, so no piece is
// longer than 140 bytes. An empty text gives no piece.
std::vector<std::string> SplitForSms(std::string_view text);

// True when the event takes part in the intake at all: acknowledgement states 0 to 3.
constexpr bool IsIntakeState(const AlarmEvent& event) noexcept {
  return event.ackState <= 3;
}

// True when `a` and `b` are the same alarm in the same condition: equal identity (eventId,
// eventSubId), tag name, kind, level and acknowledgement state. Value and limit do not count.
// The tag names are compared up to their terminator and never beyond their 96 bytes.
bool IsSameAlarmCondition(const AlarmEvent& a, const AlarmEvent& b) noexcept;

// The copies of the events of the previous answer, in their order, with an index on everything
// IsSameAlarmCondition compares, so that a look-up costs about the same whatever the number of
// standing alarms and however many of them share an identity.
class KnownAlarms {
 public:
  // Replaces the remembered copies with those events of `events[0..count)` that take part in
  // the intake, in order, and rebuilds the index. Throws only std::bad_alloc, and then remembers
  // nothing.
  void Replace(const AlarmEvent* events, std::size_t count);
  // Forgets every copy.
  void Clear() noexcept;

  // True when a copy in the same condition as `event` is remembered (IsSameAlarmCondition).
  bool Contains(const AlarmEvent& event) const noexcept;
  // The same answer, looking first at the copy at `cursor`: a host lists its standing alarms in
  // much the same order each time, so walking an answer with one cursor mostly finds each event
  // right there. `cursor` moves past the copy found.
  bool Contains(const AlarmEvent& event, std::size_t& cursor) const noexcept;
  // The same answer by walking every copy in order; the reference for tests and benchmarks.
  bool ContainsByScan(const AlarmEvent& event) const noexcept;

  // The longest run of occupied slots in the index: the most copies a look-up may have to
  // compare. For tests and benchmarks.
  std::size_t LongestRun() const noexcept;

  const std::vector<AlarmEvent>& Copies() const noexcept { return copies_; }
  std::size_t size() const noexcept { return copies_.size(); }
  bool empty() const noexcept { return copies_.empty(); }

 private:
  static std::uint64_t ConditionHash(const AlarmEvent& event) noexcept;

  std::vector<AlarmEvent> copies_;
  // Open addressing with linear probing; a slot holds a copy's position plus one, 0 when free.
  // The table has a power-of-two size of at least twice the number of copies.
  std::vector<std::uint32_t> slots_;
};

}  // namespace pagorin

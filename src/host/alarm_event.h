// The host's record of one standing alarm, as it arrives in the answer to an alarm request, and
// the parameter block of that request. Both are host formats: sizes and offsets are fixed, and
// the bytes the plug-in does not read travel unchanged in every copy. Little-endian.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace pagorin {

static_assert(std::endian::native == std::endian::little, "the host records are little-endian");

// Alarm kinds (AlarmEvent::kind).
inline constexpr std::uint8_t kKindLoLo = 0;
inline constexpr std::uint8_t kKindLo = 1;
inline constexpr std::uint8_t kKindHi = 2;
inline constexpr std::uint8_t kKindHiHi = 3;
// Alarms outside the four limit kinds, such as discrete alarms.
inline constexpr std::uint8_t kKindOther = 230;

// Priority levels (AlarmEvent::level).
inline constexpr std::uint8_t kLevelLow = 1;
inline constexpr std::uint8_t kLevelHigh = 2;
inline constexpr std::uint8_t kLevelUrgent = 3;

// Acknowledgement states (AlarmEvent::ackState).
inline constexpr std::uint8_t kUnacknowledged = 0;
inline constexpr std::uint8_t kAcknowledged = 1;
inline constexpr std::uint8_t kResumed = 2;

// The request for the list of standing alarms: its code, sub-code and flags, and the sizes of
// its parameter block and of each record of the answer.
inline constexpr std::int16_t kAlarmRequestCode = 1007;
inline constexpr std::int16_t kAlarmRequestSubCode = 1000;
inline constexpr std::int16_t kAlarmRequestFlags = 0;
inline constexpr std::int32_t kAlarmRequestBlockSize = 24;
inline constexpr std::size_t kAlarmEventSize = 320;

struct AlarmEvent {
  std::int32_t eventId;   // with eventSubId, the identity of the alarm for its life
  char tagName[96];       // code page 936, zero-terminated within the 96 bytes
  std::uint8_t ackState;  // 0 unacknowledged, 1 acknowledged, 2 resumed
  std::uint8_t reserved101;
  std::uint8_t level;  // 1 low, 2 high, 3 urgent
  std::uint8_t eventSubId;
  std::uint8_t kind;  // 0 LoLo, 1 Lo, 2 Hi, 3 HiHi, 230 outside the limit kinds
  std::uint8_t reserved105[3];
  float limit;  // the limit that was crossed
  float value;  // the variable's value
  std::uint8_t reserved116[204];
};

static_assert(sizeof(AlarmEvent) == kAlarmEventSize);
static_assert(offsetof(AlarmEvent, eventId) == 0);
static_assert(offsetof(AlarmEvent, tagName) == 4);
static_assert(offsetof(AlarmEvent, ackState) == 100);
static_assert(offsetof(AlarmEvent, level) == 102);
static_assert(offsetof(AlarmEvent, eventSubId) == 103);
static_assert(offsetof(AlarmEvent, kind) == 104);
static_assert(offsetof(AlarmEvent, limit) == 108);
static_assert(offsetof(AlarmEvent, value) == 112);

// The parameter block of an alarm request: always 0, -1, -1, -1, -1, then the bytes 0 and 1.
// Bytes 22 and 23 are not written.
struct AlarmRequest {
  std::int32_t first;
  std::int32_t limits[4];
  std::uint8_t flag20;
  std::uint8_t flag21;
  std::uint8_t unused22[2];
};

static_assert(sizeof(AlarmRequest) == kAlarmRequestBlockSize);
static_assert(offsetof(AlarmRequest, flag20) == 20);
static_assert(offsetof(AlarmRequest, flag21) == 21);

// The host's argument record of a script call, one per parameter in parameter order. Integer
// parameters are read from intValue, text parameters from textValue (a zero-terminated code page
// 936 text owned by the host for the duration of the call). No other byte is read.
// The record is 24 bytes on both architectures: on a 32-bit host the text pointer is bytes 16
// to 19 and bytes 20 to 23 are not read; on a 64-bit host it is bytes 16 to 23.
struct HostParam {
  std::int32_t intValue;
  std::uint8_t reserved4[12];
  union {
    const char* textValue;
    std::uint8_t textSlot[8];  // the pointer and, on a 32-bit host, 4 bytes after it
  };
};

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "a 32-bit or a 64-bit host");
static_assert(sizeof(HostParam) == 24);
static_assert(offsetof(HostParam, textValue) == 16);

}  // namespace pagorin

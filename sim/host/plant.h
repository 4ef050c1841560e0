// The simulated plant: the host's variables (number or text) with their alarm limits, and the
// list of standing alarms that the host hands to the plug-in. Names and texts are code page 936.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/alarm_event.h"
#include "host/host_application.h"

namespace pagorin::sim {

// The host's type codes of variables.
inline constexpr int kNumberType = kIntegerVariable;
inline constexpr int kTextType = kTextVariable;

// Alarm kinds as the host reports them.
inline constexpr std::uint8_t kLoLo = kKindLoLo;
inline constexpr std::uint8_t kLo = kKindLo;
inline constexpr std::uint8_t kHi = kKindHi;
inline constexpr std::uint8_t kHiHi = kKindHiHi;
inline constexpr std::uint8_t kDiscrete = kKindOther;

struct AlarmLimit {
  bool enabled = false;
  double limit = 0;
  int level = kLevelLow;  // kLevelLow, kLevelHigh or kLevelUrgent
};

struct Variable {
  std::string name;  // "Tank1.PV": the tag, a ".", a field
  int type = kNumberType;
  double number = 0;
  std::string text;
  std::array<AlarmLimit, 4> limits{};  // indexed by kind: LoLo, Lo, Hi, HiHi
  // A discrete alarm (kDiscrete) stands while the value equals the alarm value.
  bool discrete = false;
  double discreteNumber = 1;
  std::string discreteText;
  int discreteLevel = kLevelLow;
  bool watched = false;
};

struct Alarm {
  std::int32_t eventId = 0;
  std::uint8_t eventSubId = 0;
  std::string variable;
  std::uint8_t kind = kLoLo;
  std::uint8_t level = kLevelLow;
  std::uint8_t ackState = kUnacknowledged;
  float limit = 0;
  float value = 0;
  bool conditionHolds = true;
};

// What happened to one alarm through a value change or an acknowledgement.
struct AlarmChange {
  enum class What { kRaised, kAcknowledgedNow, kResumedNow, kCleared };
  What what;
  Alarm alarm;  // the alarm after the change
};

// The tag of a variable name: the text before the first ".", the whole name when it has none.
std::string TagOf(std::string_view variableName);

// A text word for an alarm kind ("Hi", "HiHi", "discrete", ...).
const char* KindName(std::uint8_t kind) noexcept;

class Plant {
 public:
  // False (with the reason) for a duplicate or empty name.
  bool AddVariable(Variable variable, std::string& error);
  Variable* Find(std::string_view name) noexcept;
  const std::vector<Variable>& Variables() const noexcept { return variables_; }

  // Set a value and re-evaluate the variable's alarms; the changes are appended. A number set on
  // a text variable is written as text, and the reverse is parsed; false for an unknown name.
  bool SetNumber(std::string_view name, double value, std::vector<AlarmChange>& changes);
  bool SetText(std::string_view name, std::string_view text, std::vector<AlarmChange>& changes);

  // Acknowledges the standing alarms of a variable (its full name), of a tag, or every alarm
  // ("all"): unacknowledged ones become acknowledged, resumed ones leave the list. Returns how
  // many alarms changed.
  int Acknowledge(std::string_view which, std::vector<AlarmChange>& changes);

  const std::vector<Alarm>& Alarms() const noexcept { return alarms_; }
  // The standing alarms as the host's 320-byte records, in the order they were raised.
  std::vector<AlarmEvent> AlarmRecords() const;

 private:
  void Evaluate(const Variable& variable, std::vector<AlarmChange>& changes);
  void Condition(const Variable& variable, std::uint8_t kind, bool holds, int level, double limit,
                 std::vector<AlarmChange>& changes);

  std::vector<Variable> variables_;
  std::vector<Alarm> alarms_;
  std::int32_t nextEventId_ = 1001;
};

}  // namespace pagorin::sim

#include "plant.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pagorin::sim {

std::string TagOf(std::string_view variableName) {
  return std::string(variableName.substr(0, variableName.find('.')));
}

const char* KindName(std::uint8_t kind) noexcept {
  switch (kind) {
    case kLoLo:
      return "LoLo";
    case kLo:
      return "Lo";
    case kHi:
      return "Hi";
    case kHiHi:
      return "HiHi";
    case kDiscrete:
      return "discrete";
    default:
      return "?";
  }
}

bool Plant::AddVariable(Variable variable, std::string& error) {
  if (variable.name.empty()) {
    error = "a variable needs a name";
    return false;
  }
  if (Find(variable.name) != nullptr) {
    error = "variable '" + variable.name + "' is defined twice";
    return false;
  }
  variables_.push_back(std::move(variable));
  std::vector<AlarmChange> ignored;
  Evaluate(variables_.back(), ignored);
  return true;
}

Variable* Plant::Find(std::string_view name) noexcept {
  for (auto& variable : variables_) {
    if (variable.name == name) return &variable;
  }
  return nullptr;
}

bool Plant::SetNumber(std::string_view name, double value, std::vector<AlarmChange>& changes) {
  Variable* variable = Find(name);
  if (variable == nullptr) return false;
  if (variable->type == kTextType) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    variable->text = text;
  } else {
    variable->number = value;
  }
  Evaluate(*variable, changes);
  return true;
}

bool Plant::SetText(std::string_view name, std::string_view text,
                    std::vector<AlarmChange>& changes) {
  Variable* variable = Find(name);
  if (variable == nullptr) return false;
  if (variable->type == kTextType) {
    variable->text = std::string(text);
  } else {
    variable->number = std::strtod(std::string(text).c_str(), nullptr);
  }
  Evaluate(*variable, changes);
  return true;
}

void Plant::Evaluate(const Variable& variable, std::vector<AlarmChange>& changes) {
  if (variable.type == kNumberType) {
    const double v = variable.number;
    for (std::uint8_t kind = kLoLo; kind <= kHiHi; ++kind) {
      const AlarmLimit& limit = variable.limits[kind];
      if (!limit.enabled) continue;
      bool holds = (kind == kLoLo || kind == kLo) ? v < limit.limit : v > limit.limit;
      Condition(variable, kind, holds, limit.level, limit.limit, changes);
    }
  }
  if (variable.discrete) {
    bool holds = variable.type == kTextType ? variable.text == variable.discreteText
                                            : variable.number == variable.discreteNumber;
    Condition(variable, kDiscrete, holds, variable.discreteLevel, 0, changes);
  }
}

void Plant::Condition(const Variable& variable, std::uint8_t kind, bool holds, int level,
                      double limit, std::vector<AlarmChange>& changes) {
  auto it = std::find_if(alarms_.begin(), alarms_.end(), [&](const Alarm& alarm) {
    return alarm.variable == variable.name && alarm.kind == kind;
  });
  const float value = variable.type == kNumberType ? static_cast<float>(variable.number) : 0.0f;
  if (it == alarms_.end()) {
    if (!holds) return;
    Alarm alarm;
    alarm.eventId = nextEventId_++;
    alarm.eventSubId = static_cast<std::uint8_t>(kind == kDiscrete ? 4 : kind);
    alarm.variable = variable.name;
    alarm.kind = kind;
    alarm.level = static_cast<std::uint8_t>(level);
    alarm.limit = static_cast<float>(limit);
    alarm.value = value;
    alarms_.push_back(alarm);
    changes.push_back({AlarmChange::What::kRaised, alarm});
    return;
  }
  it->value = value;
  if (holds && !it->conditionHolds) {
    // Back beyond the limit before anyone acknowledged the return: the same alarm stands again.
    it->conditionHolds = true;
    it->ackState = kUnacknowledged;
    changes.push_back({AlarmChange::What::kRaised, *it});
  } else if (!holds && it->conditionHolds) {
    it->conditionHolds = false;
    it->ackState = kResumed;
    changes.push_back({AlarmChange::What::kResumedNow, *it});
  }
}

int Plant::Acknowledge(std::string_view which, std::vector<AlarmChange>& changes) {
  int count = 0;
  for (auto it = alarms_.begin(); it != alarms_.end();) {
    bool selected = which == "all" || it->variable == which || TagOf(it->variable) == which;
    if (selected && it->ackState == kUnacknowledged) {
      it->ackState = kAcknowledged;
      changes.push_back({AlarmChange::What::kAcknowledgedNow, *it});
      ++count;
    } else if (selected && it->ackState == kResumed) {
      changes.push_back({AlarmChange::What::kCleared, *it});
      it = alarms_.erase(it);
      ++count;
      continue;
    }
    ++it;
  }
  return count;
}

std::vector<AlarmEvent> Plant::AlarmRecords() const {
  std::vector<AlarmEvent> records;
  records.reserve(alarms_.size());
  for (const Alarm& alarm : alarms_) {
    AlarmEvent record;
    std::memset(&record, 0, sizeof record);
    record.eventId = alarm.eventId;
    std::string tag = TagOf(alarm.variable);
    std::memcpy(record.tagName, tag.data(), std::min(tag.size(), sizeof record.tagName - 1));
    record.ackState = alarm.ackState;
    record.level = alarm.level;
    record.eventSubId = alarm.eventSubId;
    record.kind = alarm.kind;
    record.limit = alarm.limit;
    record.value = alarm.value;
    records.push_back(record);
  }
  return records;
}

}  // namespace pagorin::sim

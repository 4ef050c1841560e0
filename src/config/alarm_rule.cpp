#include "config/alarm_rule.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "host/alarm_event.h"

namespace pagorin {
namespace {

// The tag that alarms of the rule's variable carry: the variable name up to its first '.', or
// nothing when it has none.
std::string_view RuleTagName(const std::string& varName) noexcept {
  std::size_t dot = varName.find('.');
  if (dot == std::string::npos) return {};
  return std::string_view(varName).substr(0, dot);
}

std::string_view EventTagName(const AlarmEvent& event) noexcept {
  const char* name = event.tagName;
  const void* zero = std::memchr(name, 0, sizeof event.tagName);
  std::size_t length = zero != nullptr
                           ? static_cast<std::size_t>(static_cast<const char*>(zero) - name)
                           : sizeof event.tagName;
  return {name, length};
}

}  // namespace

int AlarmRule::Matches(const AlarmEvent* event) const noexcept {
  if (event == nullptr) return 0;
  if (RuleTagName(VarName) != EventTagName(*event)) return 0;

  const std::uint8_t kind = event->kind;
  const std::uint8_t level = event->level;
  const std::uint8_t state = event->ackState;

  // The kind group is an any-of test under both logics.
  const bool kindListed = (Ll != 0 && kind == kKindLoLo) || (Lo != 0 && kind == kKindLo) ||
                          (Hi != 0 && kind == kKindHi) || (Hh != 0 && kind == kKindHiHi) ||
                          kind == kKindOther;

  if (Logic == 0) {
    const bool levelPasses = (Low != 0 && level == kLevelLow) ||
                             (Hig != 0 && level == kLevelHigh) ||
                             (Urg != 0 && level == kLevelUrgent);
    const bool statePasses = (Ack != 0 && state == kAcknowledged) ||
                             (NoAck != 0 && state == kUnacknowledged) ||
                             (Resume != 0 && state == kResumed);
    return kindListed && levelPasses && statePasses ? 1 : 0;
  }

  // And-logic: an empty group lets everything through, the level and state groups demand every
  // flag that is set, and a rule without any flag accepts nothing.
  const bool anyKind = Ll != 0 || Lo != 0 || Hi != 0 || Hh != 0;
  const bool anyLevel = Low != 0 || Hig != 0 || Urg != 0;
  const bool anyState = Ack != 0 || NoAck != 0 || Resume != 0;
  if (!anyKind && !anyLevel && !anyState) return 0;
  const bool kindPasses = !anyKind || kindListed;
  const bool levelPasses = (Low == 0 || level == kLevelLow) && (Hig == 0 || level == kLevelHigh) &&
                           (Urg == 0 || level == kLevelUrgent);
  const bool statePasses = (Ack == 0 || state == kAcknowledged) &&
                           (NoAck == 0 || state == kUnacknowledged) &&
                           (Resume == 0 || state == kResumed);
  return kindPasses && levelPasses && statePasses ? 1 : 0;
}

void AlarmRule::RemovePhoneIndex(int index) noexcept {
  if (index < 0) return;
  std::erase(TelPlace, index);
  for (int& place : TelPlace) {
    if (place > index) --place;
  }
}

}  // namespace pagorin

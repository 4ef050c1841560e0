// The text of one alarm message.
#pragma once

#include <string>

#include "config/alarm_rule.h"
#include "host/alarm_event.h"
#include "host/host_application.h"

namespace pagorin {

// The message for `event` accepted by `rule`: the rule's description (or the event's tag name),
// the word for alarm and a colon, then the content: the words and numbers the rule's flags ask
// for, or the value of the host variable the rule names, or nothing when the rule's custom text
// is a host script (which the host is then asked to run). Host values are read anew on every
// call. Throws only std::bad_alloc.
std::string ComposeAlarmText(const AlarmEvent& event, const AlarmRule& rule, HostApplication& host);

// "%f" of `value` with the trailing zeros and then the trailing points removed from the whole
// formatted `pattern` text ("数值%f" of 12.5 gives 数值12.5).
std::string FormatTrimmedNumber(const std::string& pattern, double value);

}  // namespace pagorin

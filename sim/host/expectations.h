// What the scenario says each phone must get, judged against what the phones showed (the modem
// simulator's log). The plug-in alone decides what it sends; the simulator only compares.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "event_log.h"

namespace pagorin::sim {

// One phone's messages as the scenario wants them; no texts means the phone gets nothing.
struct PhoneExpectation {
  std::string phone;               // as written; matches a number that ends with it
  std::vector<std::string> texts;  // UTF-8, the whole texts the phone shows
  bool anyOrder = false;           // texts as a set (each as often as listed), not a sequence
  int line = 0;                    // in the scenario file
};

// A message as a phone shows it: one on its own, or the parts of a concatenated one joined.
struct ShownMessage {
  std::string number;  // as the modem logged it, "+86..."
  std::string text;    // UTF-8
};

// The texts of `shown` sent to `phone`, in the order the phone got them.
std::vector<std::string> TextsFor(const std::vector<ShownMessage>& shown, std::string_view phone);

// True when `got` is what `want` asks for.
bool Meets(const PhoneExpectation& want, const std::vector<std::string>& got);

// What the checks of a run found; unchecked are those that a run without a modem log cannot judge.
struct ExpectCounts {
  int met = 0, failed = 0, unchecked = 0;
};

// Compares each expectation with `shown` and emits "expect_met" or "expect_failed" (phone,
// wanted, got, order, line, when); `when` names the moment, "end" or "step". Adds to `counts`.
void CheckExpectations(EventLog& log, const std::vector<PhoneExpectation>& expectations,
                       const std::vector<ShownMessage>& shown, std::string_view when,
                       ExpectCounts& counts);

}  // namespace pagorin::sim

#include "expectations.h"

#include <algorithm>

namespace pagorin::sim {

std::vector<std::string> TextsFor(const std::vector<ShownMessage>& shown, std::string_view phone) {
  std::vector<std::string> texts;
  for (const ShownMessage& message : shown) {
    // The modem logs the number as the plug-in addressed it, with or without a country code.
    if (!phone.empty() && message.number.ends_with(phone)) texts.push_back(message.text);
  }
  return texts;
}

bool Meets(const PhoneExpectation& want, const std::vector<std::string>& got) {
  if (!want.anyOrder) return got == want.texts;
  std::vector<std::string> a = want.texts, b = got;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return a == b;
}

void CheckExpectations(EventLog& log, const std::vector<PhoneExpectation>& expectations,
                       const std::vector<ShownMessage>& shown, std::string_view when,
                       ExpectCounts& counts) {
  for (const PhoneExpectation& want : expectations) {
    const std::vector<std::string> got = TextsFor(shown, want.phone);
    const char* order = want.anyOrder ? "any" : "sequence";
    const std::string where = "line " + std::to_string(want.line);
    if (Meets(want, got)) {
      ++counts.met;
      log.Emit(
          "expect_met",
          {{"phone", want.phone}, {"count", got.size()}, {"line", want.line}, {"when", when}},
          "expectation of " + where + " met: " + want.phone + " got " +
              (got.empty() ? std::string("nothing") : std::to_string(got.size()) + " text(s)"));
      continue;
    }
    ++counts.failed;
    auto listed = [](const std::vector<std::string>& texts) {
      if (texts.empty()) return std::string(" nothing");
      std::string list;
      for (const std::string& text : texts)
        list += "\n      \"" + text + "\"";
      return list;
    };
    log.Emit("expect_failed",
             {{"phone", want.phone},
              {"wanted", want.texts},
              {"got", got},
              {"order", order},
              {"line", want.line},
              {"when", when}},
             "error: expectation of " + where + " not met (" + std::string(when) +
                 "): " + want.phone + " should get" + (want.anyOrder ? " (in any order)" : "") +
                 listed(want.texts) + "\n    but got" + listed(got));
  }
}

}  // namespace pagorin::sim

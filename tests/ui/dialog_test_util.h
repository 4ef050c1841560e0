// Small builders shared by the dialog tests.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "config/configuration.h"
#include "platform/code_page.h"

namespace pagorin::testing {

// The code page 936 form of a UTF-8 literal, as the dialogs see and show texts.
inline std::string Cp(std::string_view utf8) {
  return platform::Utf8ToCp936(utf8);
}

inline PhoneEntry& AddPhone(Configuration& config, std::string_view number,
                            std::string_view descUtf8) {
  auto entry = std::make_unique<PhoneEntry>();
  entry->TelNum = std::string(number);
  entry->Desc = Cp(descUtf8);
  config.phoneBook.push_back(std::move(entry));
  return *config.phoneBook.back();
}

inline AlarmRule& AddRule(Configuration& config, std::string_view varName,
                          std::initializer_list<int> places, std::string_view descUtf8 = "") {
  auto rule = std::make_unique<AlarmRule>();
  rule->VarName = std::string(varName);
  rule->TelPlace = places;
  rule->Desc = Cp(descUtf8);
  config.alarmRules.push_back(std::move(rule));
  return *config.alarmRules.back();
}

}  // namespace pagorin::testing

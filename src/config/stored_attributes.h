// The attributes that store a phone-book entry and an alarm rule in the configuration document,
// each with the field it holds, in writing order. Reading, writing, the tests and the fuzzer all
// walk these tables, so a field is described once. A rule's phone indexes (VarCount and
// TelPlace<k>) are a list, not a field, and are handled beside the table.
#pragma once

#include <array>
#include <string>

#include "config/alarm_rule.h"
#include "config/phone_entry.h"

namespace pagorin {

// One stored attribute: its name in the document and the field of `Record` it holds, either a
// text (`text` set) or a decimal integer (`number` set).
template <typename Record>
struct StoredAttribute {
  const char* name;
  std::string Record::*text;
  int Record::*number;
};

inline constexpr std::array<StoredAttribute<PhoneEntry>, 2> kPhoneAttributes{{
    {"TelNum", &PhoneEntry::TelNum, nullptr},
    {"Desc", &PhoneEntry::Desc, nullptr},
}};

inline constexpr std::array<StoredAttribute<AlarmRule>, 20> kRuleAttributes{{
    {"VarName", &AlarmRule::VarName, nullptr}, {"Desc", &AlarmRule::Desc, nullptr},
    {"Ll", nullptr, &AlarmRule::Ll},           {"Lo", nullptr, &AlarmRule::Lo},
    {"Hh", nullptr, &AlarmRule::Hh},           {"Hi", nullptr, &AlarmRule::Hi},
    {"Low", nullptr, &AlarmRule::Low},         {"Hig", nullptr, &AlarmRule::Hig},
    {"Urg", nullptr, &AlarmRule::Urg},         {"Ack", nullptr, &AlarmRule::Ack},
    {"NoAck", nullptr, &AlarmRule::NoAck},     {"Resume", nullptr, &AlarmRule::Resume},
    {"Value", nullptr, &AlarmRule::Value},     {"ValueLimit", nullptr, &AlarmRule::ValueLimit},
    {"User", nullptr, &AlarmRule::User},       {"Format", nullptr, &AlarmRule::Format},
    {"Logic", nullptr, &AlarmRule::Logic},     {"BScript", nullptr, &AlarmRule::BScript},
    {"Script", &AlarmRule::Script, nullptr},   {"ScriptType", nullptr, &AlarmRule::ScriptType},
}};

// The record's stored fields as one line, "name=value" separated by blanks, in table order; for
// comparisons of whole records in tests and fuzzers. Throws only std::bad_alloc.
template <typename Record, std::size_t N>
std::string DescribeStored(const Record& record,
                           const std::array<StoredAttribute<Record>, N>& attributes) {
  std::string line;
  for (const StoredAttribute<Record>& attribute : attributes) {
    if (!line.empty()) line += ' ';
    line += attribute.name;
    line += '=';
    line += attribute.text != nullptr ? record.*attribute.text
                                      : std::to_string(record.*attribute.number);
  }
  return line;
}

}  // namespace pagorin

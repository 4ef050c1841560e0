// The host's reading of the plug-in's configuration file, used only to tell the user what the
// plug-in is expected to do: which COM port it opens, which rules an alarm matches and the text
// each message should carry. The plug-in itself stays the authority; these are predictions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/alarm_event.h"

namespace pagorin::sim {

inline constexpr const char* kConfigFileName = "Kestrova_Configure.ini";
// The same document kept in UTF-8, as the examples keep it.
inline constexpr const char* kUtf8ConfigFileName = "Kestrova_Configure.utf8.ini";

struct ConfigPhone {
  std::string TelNum;
  std::string Desc;
};

struct ConfigRule {
  std::string VarName;
  std::string Desc;
  int Ll = 1, Lo = 1, Hh = 1, Hi = 1, Low = 1, Hig = 1, Urg = 1, Ack = 1, NoAck = 1, Resume = 1;
  int Value = 0, ValueLimit = 0, User = 0, Format = 0, Logic = 0, BScript = 0, ScriptType = 0;
  std::string Script;
  std::vector<int> TelPlace;
};

// The rule's attributes as the host reads them: the name in the document and the field of
// ConfigRule it fills, a text (`text` set) or a number (`number` set). The phone indexes
// (VarCount and TelPlace<k>) are a list and read beside the table. The host reads the file on
// its own, as a second opinion on the plug-in; a test holds this table to the plug-in's own.
struct ConfigRuleAttribute {
  const char* name;
  std::string ConfigRule::*text;
  int ConfigRule::*number;
};

inline constexpr ConfigRuleAttribute kConfigRuleAttributes[] = {
    {"VarName", &ConfigRule::VarName, nullptr}, {"Desc", &ConfigRule::Desc, nullptr},
    {"Ll", nullptr, &ConfigRule::Ll},           {"Lo", nullptr, &ConfigRule::Lo},
    {"Hh", nullptr, &ConfigRule::Hh},           {"Hi", nullptr, &ConfigRule::Hi},
    {"Low", nullptr, &ConfigRule::Low},         {"Hig", nullptr, &ConfigRule::Hig},
    {"Urg", nullptr, &ConfigRule::Urg},         {"Ack", nullptr, &ConfigRule::Ack},
    {"NoAck", nullptr, &ConfigRule::NoAck},     {"Resume", nullptr, &ConfigRule::Resume},
    {"Value", nullptr, &ConfigRule::Value},     {"ValueLimit", nullptr, &ConfigRule::ValueLimit},
    {"User", nullptr, &ConfigRule::User},       {"Format", nullptr, &ConfigRule::Format},
    {"Logic", nullptr, &ConfigRule::Logic},     {"BScript", nullptr, &ConfigRule::BScript},
    {"Script", &ConfigRule::Script, nullptr},   {"ScriptType", nullptr, &ConfigRule::ScriptType},
};

struct PluginConfig {
  int Com = 0;
  int Baund = 2;
  int DataBit = 1;
  std::vector<ConfigPhone> phones;
  std::vector<ConfigRule> rules;
};

// Parses the configuration document (code page 936 bytes). False when it has no XML root.
bool ParsePluginConfig(std::string_view document, PluginConfig& config);

// True when `rule` accepts `event` (the plug-in's rule test).
bool RuleMatches(const ConfigRule& rule, const AlarmEvent& event);

// The host values a message text may read.
class TextSource {
 public:
  virtual std::string TextValue(std::string_view name) = 0;
  virtual double NumberValue(std::string_view name) = 0;

 protected:
  ~TextSource() = default;
};

// The message text the plug-in composes for `event` and `rule` (code page 936); for a rule whose
// text is a host script the text holds only the frame, and `runsScript` is set.
std::string ExpectedAlarmText(const AlarmEvent& event, const ConfigRule& rule, TextSource& source,
                              bool& runsScript);

// True for a destination the modem takes: 11 or 12 decimal digits.
bool IsSendableNumber(std::string_view number);

}  // namespace pagorin::sim

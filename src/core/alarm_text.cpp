#include "core/alarm_text.h"

#include <cstring>
#include <string_view>

#include "core/plugin_object.h"
#include "platform/text_format.h"
#include "resources/string_table.h"

namespace pagorin {
namespace {

using namespace string_id;

int KindWord(int kind) noexcept {
  switch (kind) {
    case kKindLoLo:
      return kLoLoWord;
    case kKindLo:
      return kLoWord;
    case kKindHi:
      return kHiWord;
    case kKindHiHi:
      return kHiHiWord;
    default:
      return 0;
  }
}

int LevelWord(int level) noexcept {
  switch (level) {
    case kLevelLow:
      return kLowLevelWord;
    case kLevelHigh:
      return kHighLevelWord;
    case kLevelUrgent:
      return kUrgentLevelWord;
    default:
      return 0;
  }
}

int StateWord(int ackState) noexcept {
  switch (ackState) {
    case kUnacknowledged:
      return kUnacknowledgedWord;
    case kAcknowledged:
      return kAcknowledgedWord;
    case kResumed:
      return kResumedWord;
    default:
      return 0;
  }
}

std::string_view TagNameOf(const AlarmEvent& event) noexcept {
  return {event.tagName, strnlen(event.tagName, sizeof event.tagName)};
}

// The tag whose script the host runs for a rule with a script as custom text: the variable name
// up to its last ".", or the whole name when that point is missing or leads the name.
std::string ScriptTagOf(const std::string& varName) {
  std::size_t point = varName.rfind('.');
  if (point == std::string::npos || point == 0) return varName;
  return varName.substr(0, point);
}

std::string DefaultContent(const AlarmEvent& event, const AlarmRule& rule, HostApplication& host) {
  std::string content;
  if (rule.Ll != 0 || rule.Lo != 0 || rule.Hh != 0 || rule.Hi != 0) {
    content += LoadString(KindWord(event.kind));
  }
  if (rule.Low != 0 || rule.Hig != 0 || rule.Urg != 0) {
    content += LoadString(LevelWord(event.level));
  }
  if (rule.Ack != 0 || rule.NoAck != 0 || rule.Resume != 0) {
    content += LoadString(StateWord(event.ackState));
  }
  if (rule.Value != 0) {
    content += FormatTrimmedNumber(LoadString(kValuePattern), static_cast<double>(event.value));
  }
  if (rule.ValueLimit != 0) {
    content += FormatTrimmedNumber(LoadString(kLimitPattern), static_cast<double>(event.limit));
  }
  if (rule.User != 0) {
    std::string userName;
    host.GetTextValue("$UserName", userName);
    content += platform::FormatText(LoadString(kUserPattern), {std::string_view(userName)});
  }
  return content;
}

std::string CustomContent(const AlarmRule& rule, HostApplication& host) {
  std::string content;
  if (rule.BScript != 0) {
    if (rule.ScriptType == kTextVariable) {
      host.GetTextValue(rule.Script.c_str(), content);
    } else {
      double value = 0.0;
      host.GetNumberValue(rule.Script.c_str(), value);
      content = platform::FormatText("%f", {value});
    }
  } else {
    std::string tag = ScriptTagOf(rule.VarName);
    if (host.SelectScript(tag.c_str()) != 0) host.RunScript("");
  }
  return content;
}

}  // namespace

std::string FormatTrimmedNumber(const std::string& pattern, double value) {
  std::string text = platform::FormatText(pattern, {value});
  std::size_t end = text.find_last_not_of('0');
  text.erase(end == std::string::npos ? 0 : end + 1);
  end = text.find_last_not_of('.');
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

std::string ComposeAlarmText(const AlarmEvent& event, const AlarmRule& rule,
                             HostApplication& host) {
  std::string label = rule.Desc.empty() ? std::string(TagNameOf(event)) : rule.Desc;
  std::string content =
      rule.Format == 0 ? DefaultContent(event, rule, host) : CustomContent(rule, host);
  return platform::FormatText(LoadString(kMessageFrame),
                              {std::string_view(label), std::string_view(content)});
}

}  // namespace pagorin

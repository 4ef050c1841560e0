#include "plugin_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "host/host_application.h"
#include "platform/code_page.h"

namespace pagorin::sim {
namespace {

std::string Unescape(std::string_view text) {
  static const std::pair<std::string_view, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& [entity, c] : kEntities) {
        if (text.substr(i, entity.size()) == entity) {
          out.push_back(c);
          i += entity.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) {
      std::size_t length = platform::CharLength(text, i);
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
};

// The start tags of the document with their attributes, in document order.
std::vector<Element> StartTags(std::string_view doc) {
  std::vector<Element> elements;
  std::size_t i = 0;
  while ((i = doc.find('<', i)) != std::string_view::npos) {
    ++i;
    if (i >= doc.size() || doc[i] == '/' || doc[i] == '?' || doc[i] == '!') continue;
    Element element;
    while (i < doc.size() && doc[i] != ' ' && doc[i] != '>' && doc[i] != '/' && doc[i] != '\t' &&
           doc[i] != '\r' && doc[i] != '\n') {
      element.name.push_back(doc[i++]);
    }
    for (;;) {
      while (i < doc.size() &&
             (doc[i] == ' ' || doc[i] == '\t' || doc[i] == '\r' || doc[i] == '\n')) {
        ++i;
      }
      if (i >= doc.size() || doc[i] == '>' || doc[i] == '/') break;
      std::size_t eq = doc.find('=', i);
      if (eq == std::string_view::npos || eq + 1 >= doc.size()) return elements;
      std::string key(doc.substr(i, eq - i));
      while (!key.empty() && key.back() == ' ')
        key.pop_back();
      i = eq + 1;
      while (i < doc.size() && doc[i] == ' ')
        ++i;
      if (i >= doc.size()) return elements;
      char quote = doc[i];
      if (quote != '"' && quote != '\'') return elements;
      std::size_t close = doc.find(quote, i + 1);
      if (close == std::string_view::npos) return elements;
      element.attributes[key] = Unescape(doc.substr(i + 1, close - i - 1));
      i = close + 1;
    }
    elements.push_back(std::move(element));
  }
  return elements;
}

int Int(const Element& element, const std::string& key) {
  auto it = element.attributes.find(key);
  return it == element.attributes.end() ? 0 : std::atoi(it->second.c_str());
}

std::string Text(const Element& element, const std::string& key) {
  auto it = element.attributes.find(key);
  return it == element.attributes.end() ? std::string() : it->second;
}

// "%f" of the value, then trailing "0"s and "."s removed, as the default text shows numbers.
std::string TrimmedNumber(double value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%f", value);
  std::string text = buffer;
  while (!text.empty() && text.back() == '0')
    text.pop_back();
  while (!text.empty() && text.back() == '.')
    text.pop_back();
  return text;
}

std::string Cp(const char* utf8) {
  return platform::Utf8ToCp936(utf8);
}

}  // namespace

bool ParsePluginConfig(std::string_view document, PluginConfig& config) {
  std::vector<Element> elements = StartTags(document);
  const Element* root = nullptr;
  for (const auto& element : elements) {
    if (element.name == "XML") {
      root = &element;
      break;
    }
  }
  if (root == nullptr) return false;
  PluginConfig result;
  result.Com = Int(*root, "Com");
  result.Baund = Int(*root, "Baund");
  result.DataBit = Int(*root, "DataBit");
  int telCount = Int(*root, "TelCount");
  int varCount = Int(*root, "VarCount");
  auto find = [&](const std::string& name) -> const Element* {
    for (const auto& element : elements) {
      if (element.name == name) return &element;
    }
    return nullptr;
  };
  for (int i = 0; i < telCount && i < 100000; ++i) {
    const Element* tel = find("Tel" + std::to_string(i));
    if (tel == nullptr) continue;
    result.phones.push_back({Text(*tel, "TelNum"), Text(*tel, "Desc")});
  }
  for (int n = 0; n < varCount && n < 100000; ++n) {
    const Element* var = find("Var" + std::to_string(n));
    if (var == nullptr) continue;
    ConfigRule rule;
    for (const ConfigRuleAttribute& attribute : kConfigRuleAttributes) {
      if (attribute.text != nullptr) {
        rule.*attribute.text = Text(*var, attribute.name);
      } else {
        rule.*attribute.number = Int(*var, attribute.name);
      }
    }
    int places = Int(*var, "VarCount");
    for (int k = 0; k < places && k < 100000; ++k) {
      rule.TelPlace.push_back(Int(*var, "TelPlace" + std::to_string(k)));
    }
    result.rules.push_back(std::move(rule));
  }
  config = std::move(result);
  return true;
}

bool RuleMatches(const ConfigRule& rule, const AlarmEvent& event) {
  std::size_t dot = rule.VarName.find('.');
  std::string tag = dot == std::string::npos ? std::string() : rule.VarName.substr(0, dot);
  std::string eventTag(event.tagName, strnlen(event.tagName, sizeof event.tagName));
  if (tag != eventTag) return false;
  const int kind = event.kind, level = event.level, state = event.ackState;
  const bool kindHit = (rule.Ll && kind == kKindLoLo) || (rule.Lo && kind == kKindLo) ||
                       (rule.Hi && kind == kKindHi) || (rule.Hh && kind == kKindHiHi) ||
                       kind == kKindOther;
  if (rule.Logic == 0) {
    bool levelHit = (rule.Low && level == kLevelLow) || (rule.Hig && level == kLevelHigh) ||
                    (rule.Urg && level == kLevelUrgent);
    bool stateHit = (rule.Ack && state == kAcknowledged) ||
                    (rule.NoAck && state == kUnacknowledged) || (rule.Resume && state == kResumed);
    return kindHit && levelHit && stateHit;
  }
  bool anyFlag = rule.Ll || rule.Lo || rule.Hh || rule.Hi || rule.Low || rule.Hig || rule.Urg ||
                 rule.Ack || rule.NoAck || rule.Resume;
  if (!anyFlag) return false;
  bool kindPass = !(rule.Ll || rule.Lo || rule.Hi || rule.Hh) || kindHit;
  bool levelPass = (!rule.Low || level == kLevelLow) && (!rule.Hig || level == kLevelHigh) &&
                   (!rule.Urg || level == kLevelUrgent);
  bool statePass = (!rule.Ack || state == kAcknowledged) &&
                   (!rule.NoAck || state == kUnacknowledged) && (!rule.Resume || state == kResumed);
  return kindPass && levelPass && statePass;
}

std::string ExpectedAlarmText(const AlarmEvent& event, const ConfigRule& rule, TextSource& source,
                              bool& runsScript) {
  runsScript = false;
  std::string label =
      !rule.Desc.empty() ? rule.Desc
                         : std::string(event.tagName, strnlen(event.tagName, sizeof event.tagName));
  std::string content;
  if (rule.Format == 0) {
    if (rule.Ll || rule.Lo || rule.Hh || rule.Hi) {
      static const char* kKinds[] = {"低低报,", "低报,", "高报,", "高高报,"};
      if (event.kind <= kKindHiHi) content += Cp(kKinds[event.kind]);
    }
    if (rule.Low || rule.Hig || rule.Urg) {
      static const char* kLevels[] = {"低级,", "高级,", "紧急,"};
      if (event.level >= kLevelLow && event.level <= kLevelUrgent) {
        content += Cp(kLevels[event.level - kLevelLow]);
      }
    }
    if (rule.Ack || rule.NoAck || rule.Resume) {
      static const char* kStates[] = {"未确认,", "确认", "恢复"};
      if (event.ackState <= kResumed) content += Cp(kStates[event.ackState]);
    }
    if (rule.Value) content += Cp("数值") + TrimmedNumber(static_cast<double>(event.value));
    if (rule.ValueLimit) content += Cp(",限值") + TrimmedNumber(static_cast<double>(event.limit));
    if (rule.User) content += Cp(",用户") + source.TextValue("$UserName");
  } else if (rule.BScript) {
    if (rule.ScriptType == kTextVariable) {
      content = source.TextValue(rule.Script);
    } else {
      char buffer[512];
      std::snprintf(buffer, sizeof buffer, "%f", source.NumberValue(rule.Script));
      content = buffer;
    }
  } else {
    runsScript = true;
  }
  return label + Cp("报警:") + content;
}

bool IsSendableNumber(std::string_view number) {
  if (number.size() != 11 && number.size() != 12) return false;
  for (char c : number) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace pagorin::sim

#include "forecast.h"

#include <cstring>

#include "platform/file_io.h"

namespace pagorin::sim {
namespace {

bool SameAlarm(const AlarmEvent& a, const AlarmEvent& b) {
  return a.eventId == b.eventId && a.eventSubId == b.eventSubId &&
         std::strncmp(a.tagName, b.tagName, sizeof a.tagName) == 0 && a.kind == b.kind &&
         a.level == b.level && a.ackState == b.ackState;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The texts a message joined from several waiting ones carries: "[5条报警] a;b;c" (or "条消息"
// for script messages) gives a, b and c; any other text gives nothing.
std::vector<std::string> JoinedItems(const std::string& text) {
  std::size_t digits = 1;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
    ++digits;
  if (text.empty() || text[0] != '[' || digits == 1) return {};
  const std::string_view rest = std::string_view(text).substr(digits);
  std::size_t start = 0;
  for (std::string_view head : {"条报警] ", "条消息] "}) {
    if (rest.starts_with(head)) start = digits + head.size();
  }
  if (start == 0) return {};
  std::vector<std::string> items;
  for (std::size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1)
    items.push_back(text.substr(start, end - start));
  items.push_back(text.substr(start));
  return items;
}

// The sent messages as whole texts per number: the parts of one concatenated message joined.
std::vector<SentPiece> WholeMessages(const std::vector<SentPiece>& sent) {
  std::vector<SentPiece> whole;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SentPiece message = sent[i];
    if (message.part == 1 && message.parts > 1) {
      std::size_t next = i + 1;
      while (next < sent.size() && sent[next].number == message.number &&
             sent[next].part == sent[next - 1].part + 1 && sent[next].part <= message.parts) {
        message.text += sent[next].text;
        ++next;
      }
      if (next - i == static_cast<std::size_t>(message.parts)) i = next - 1;
    }
    whole.push_back(std::move(message));
  }
  return whole;
}

}  // namespace

std::vector<bool> MatchSentPieces(const std::vector<Expectation>& expected,
                                  const std::vector<SentPiece>& sent) {
  std::vector<bool> matched(expected.size(), false);
  // Messages joined in a storm: each expected text is one of a joined message's items. The
  // module drops an alarm text's closing comma where the separator takes its place.
  std::vector<std::pair<std::string, std::string>> items;  // number, text
  for (const SentPiece& message : WholeMessages(sent)) {
    for (std::string& item : JoinedItems(message.text))
      items.emplace_back(message.number, std::move(item));
  }
  for (std::size_t e = 0; e < expected.size() && !items.empty(); ++e) {
    const Expectation& want = expected[e];
    if (want.number.empty()) continue;
    std::string_view text = want.text;
    if (text.ends_with(',')) text.remove_suffix(1);
    for (auto item = items.begin(); item != items.end(); ++item) {
      if (EndsWith(item->first, want.number) && item->second == text) {
        matched[e] = true;
        items.erase(item);
        break;
      }
    }
  }
  std::vector<bool> used(sent.size(), false);
  for (std::size_t e = 0; e < expected.size(); ++e) {
    if (matched[e]) continue;
    const Expectation& want = expected[e];
    if (want.number.empty()) continue;
    for (std::size_t first = 0; first < sent.size() && !matched[e]; ++first) {
      std::string joined;
      std::vector<std::size_t> run;
      for (std::size_t i = first; i < sent.size() && joined.size() < want.text.size(); ++i) {
        if (used[i] || !EndsWith(sent[i].number, want.number)) continue;
        if (run.empty() && i != first) break;
        joined += sent[i].text;
        run.push_back(i);
      }
      if (!run.empty() && joined == want.text) {
        matched[e] = true;
        for (std::size_t i : run)
          used[i] = true;
      }
    }
  }
  return matched;
}

void Forecast::Compare(const std::vector<SentPiece>& sent) {
  const std::vector<bool> matched = MatchSentPieces(expected_, sent);
  for (std::size_t e = 0; e < expected_.size(); ++e) {
    const Expectation& want = expected_[e];
    if (matched[e]) {
      ++counts_.asExpected;
      continue;
    }
    ++counts_.notAsExpected;
    log_.Emit("not_as_expected",
              {{"source", want.source}, {"number", Utf8(want.number)}, {"text", want.text}},
              "warning: expected for " + Utf8(want.number) +
                  " but not seen on the line with this text: " + want.text);
  }
}

bool Forecast::ReadConfig(const std::string& projectDir) {
  std::string text;
  std::string why;
  std::string path = projectDir + "/" + kConfigFileName;
  config_ = PluginConfig{};
  haveConfig_ = platform::ReadWholeFile(path, text, why) && ParsePluginConfig(text, config_);
  return haveConfig_;
}

void Forecast::Describe() {
  if (!haveConfig_) return;
  log_.Emit("configuration",
            {{"com", config_.Com + 1},
             {"phones", config_.phones.size()},
             {"rules", config_.rules.size()}},
            "configuration: COM" + std::to_string(config_.Com + 1) + ", " +
                std::to_string(config_.phones.size()) + " phone(s), " +
                std::to_string(config_.rules.size()) + " rule(s)");
  for (std::size_t i = 0; i < config_.phones.size(); ++i) {
    log_.Emit("phone",
              {{"index", i},
               {"number", Utf8(config_.phones[i].TelNum)},
               {"desc", Utf8(config_.phones[i].Desc)}},
              "  phone " + std::to_string(i) + ": " + Utf8(config_.phones[i].TelNum) + " " +
                  Utf8(config_.phones[i].Desc));
  }
  for (std::size_t i = 0; i < config_.rules.size(); ++i) {
    const ConfigRule& rule = config_.rules[i];
    std::string phones;
    for (int p : rule.TelPlace)
      phones += (phones.empty() ? "" : ",") + std::to_string(p);
    log_.Emit("rule", {{"index", i}, {"varName", Utf8(rule.VarName)}, {"desc", Utf8(rule.Desc)}},
              "  rule " + std::to_string(i) + ": " + Utf8(rule.VarName) + " " + Utf8(rule.Desc) +
                  (rule.Logic ? " [and]" : " [or]") +
                  (rule.Format ? (rule.BScript ? " [text from " + Utf8(rule.Script) + "]"
                                               : std::string(" [host script]"))
                               : std::string()) +
                  " -> phones " + phones);
  }
}

void Forecast::Restart() {
  firstAnswer_ = true;
  lastAnswer_.clear();
}

void Forecast::Answered(const std::vector<AlarmEvent>& records, TextSource& source) {
  if (firstAnswer_) {
    firstAnswer_ = false;
    lastAnswer_ = records;
    log_.Emit("baseline", {{"count", records.size()}},
              "first answer: " + std::to_string(records.size()) +
                  " standing alarm(s) taken as the baseline, no message expected for them");
    return;
  }
  for (const AlarmEvent& event : records) {
    if (event.ackState > 3) continue;
    bool known = false;
    for (const AlarmEvent& previous : lastAnswer_) {
      if (previous.eventId == event.eventId && previous.eventSubId == event.eventSubId) {
        known = SameAlarm(previous, event);
        break;
      }
    }
    if (known || !haveConfig_) continue;
    for (std::size_t r = 0; r < config_.rules.size(); ++r) {
      const ConfigRule& rule = config_.rules[r];
      if (!RuleMatches(rule, event) || rule.TelPlace.empty()) continue;
      std::string label = Utf8(rule.Desc.empty() ? rule.VarName : rule.Desc);
      log_.Emit("expected_match",
                {{"rule", r},
                 {"varName", Utf8(rule.VarName)},
                 {"desc", Utf8(rule.Desc)},
                 {"eventId", event.eventId},
                 {"phones", rule.TelPlace.size()}},
                "  rule " + std::to_string(r) + " (" + label + ") should match, " +
                    std::to_string(rule.TelPlace.size()) + " phone(s)");
      for (int index : rule.TelPlace) {
        if (index < 0 || static_cast<std::size_t>(index) >= config_.phones.size()) continue;
        const ConfigPhone& phone = config_.phones[static_cast<std::size_t>(index)];
        bool runsScript = false;
        // The plug-in composed its text during the answer; values have not moved since. A rule
        // whose text is a host script sends the frame, and the script sends what it sends.
        const std::string text = Utf8(ExpectedAlarmText(event, rule, source, runsScript));
        const std::string number = Utf8(phone.TelNum);
        const bool ok = IsSendableNumber(phone.TelNum);
        if (ok) {
          ++counts_.expectedAlarm;
          expected_.push_back({"alarm", phone.TelNum, text});
        } else {
          ++counts_.expectedRefused;
        }
        log_.Emit(ok ? "expected" : "expected_refused",
                  {{"source", "alarm"},
                   {"rule", r},
                   {"number", number},
                   {"phone", Utf8(phone.Desc)},
                   {"text", text},
                   {"textFromHostScript", runsScript}},
                  std::string(ok ? "  expected for " : "  expected to be refused (bad number) ") +
                      number + " (" + Utf8(phone.Desc) + "): " + text);
      }
    }
  }
  lastAnswer_.clear();
  for (const AlarmEvent& event : records) {
    if (event.ackState <= 3) lastAnswer_.push_back(event);
  }
}

void Forecast::FunctionCalled(const std::string& name, const std::vector<std::string>& texts,
                              const std::vector<int>& ints) {
  if (name == "SendMsg" && texts.size() == 2) {
    std::string list = texts[0] + ",";
    const std::string& content = texts[1];
    std::size_t start = 0;
    for (std::size_t comma; (comma = list.find(',', start)) != std::string::npos;
         start = comma + 1) {
      std::string number = list.substr(start, comma - start);
      if (IsSendableNumber(number) && !content.empty()) {
        ++counts_.expectedScript;
        expected_.push_back({"script", number, Utf8(content)});
        log_.Emit("expected", {{"source", "script"}, {"number", number}, {"text", Utf8(content)}},
                  "  expected for " + number + ": " + Utf8(content));
      } else {
        ++counts_.expectedRefused;
        log_.Emit("expected_refused", {{"source", "script"}, {"number", Utf8(number)}},
                  "  expected to be refused: \"" + Utf8(number) +
                      "\" is no number the modem takes" +
                      (content.empty() ? " (or the text is empty)" : ""));
      }
    }
  } else if (name == "ShouldSend" && !ints.empty()) {
    bool on = ints[0] != 0;
    log_.Emit("sending", {{"on", on}},
              on ? "  sending switched ON: queued messages go out"
                 : "  sending switched OFF: messages wait in the queue");
  }
}

}  // namespace pagorin::sim

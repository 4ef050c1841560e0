#include "host_services.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "sim_os.h"

namespace pagorin::sim {
namespace {

using Json = nlohmann::json;

const char* StateName(std::uint8_t state) {
  switch (state) {
    case kUnacknowledged:
      return "unacknowledged";
    case kAcknowledged:
      return "acknowledged";
    case kResumed:
      return "resumed";
    default:
      return "?";
  }
}

const char* LevelName(int level) {
  switch (level) {
    case 1:
      return "low";
    case 2:
      return "high";
    case 3:
      return "urgent";
    default:
      return "?";
  }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Number(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

std::string AlarmText(const Alarm& alarm) {
  std::string text = Utf8(alarm.variable) + " " + KindName(alarm.kind) + ", " +
                     LevelName(alarm.level) + ", " + StateName(alarm.ackState);
  if (alarm.kind != kDiscrete) {
    text += ", value " + Number(static_cast<double>(alarm.value)) + " limit " +
            Number(static_cast<double>(alarm.limit));
  }
  return text;
}

}  // namespace

void HostServices::Attach(SuperWizard* plugin) {
  answerDue_ = false;
  plugin_ = plugin;
  if (plugin_ == nullptr) return;
  functions_.clear();
  pluginName_ = plugin_->GetName();
  plugin_->RegisterFunctions();
}

void HostServices::LeaveUnanswered(int count) {
  leaveUnanswered_ += count;
  log_.Emit(
      "leave_unanswered", {{"count", count}},
      "the host will leave the next " + std::to_string(count) + " alarm request(s) unanswered");
}

void HostServices::RunHostScript(const std::string& script) {
  log_.Emit("script_run", {{"script", Utf8(script)}}, "host runs script: " + Utf8(script));
  std::string error;
  if (!sim::RunScript(script, *this, error)) {
    log_.Emit("error", {{"text", Utf8(error)}}, "error: script failed: " + Utf8(error));
  }
}

void HostServices::AcknowledgeAlarms(const std::string& which) {
  std::vector<AlarmChange> changes;
  int count = plant_.Acknowledge(which, changes);
  log_.Emit("ack", {{"target", Utf8(which)}, {"count", count}},
            "operator acknowledges " + Utf8(which) + " (" + std::to_string(count) + " alarm(s))");
  ReportChanges(changes);
}

// ---------------------------------------------------------------------------------------------
// Host operations.

std::string HostServices::SelectVariable(int, int, const char* current) noexcept {
  try {
    std::string chosen = current != nullptr ? current : "";
    if (!selectAnswer_.empty()) {
      chosen = selectAnswer_;
    } else if (os::StdinIsTerminal() && !plant_.Variables().empty()) {
      std::fprintf(stderr, "Choose a variable (Enter keeps \"%s\"):\n", Utf8(chosen).c_str());
      for (std::size_t i = 0; i < plant_.Variables().size(); ++i) {
        std::fprintf(stderr, "  %zu  %s\n", i + 1, Utf8(plant_.Variables()[i].name).c_str());
      }
      std::string answer;
      std::getline(std::cin, answer);
      std::size_t index = static_cast<std::size_t>(std::atoi(answer.c_str()));
      if (index >= 1 && index <= plant_.Variables().size()) {
        chosen = plant_.Variables()[index - 1].name;
      }
    }
    log_.Emit("select_variable", {{"variable", Utf8(chosen)}},
              "host: variable chosen: " + Utf8(chosen));
    return chosen;
  } catch (...) {
    return {};
  }
}

int HostServices::IsRunMode() noexcept {
  return runMode_;
}

void HostServices::AttachScript(const char* tagName, const char* script) noexcept {
  try {
    std::string tag = tagName ? tagName : "";
    scripts_[tag] = script ? script : "";
    log_.Emit("script_attached", {{"tag", Utf8(tag)}, {"script", Utf8(scripts_[tag])}},
              "host: script attached to " + Utf8(tag) + ": " + Utf8(scripts_[tag]));
  } catch (...) {
  }
}

int HostServices::SelectScript(const char* tagName) noexcept {
  try {
    auto it = scripts_.find(tagName ? tagName : "");
    if (it == scripts_.end()) {
      selectedScript_.clear();
      log_.Emit("script_selected", {{"tag", Utf8(tagName ? tagName : "")}, {"found", false}},
                "host: no script attached to " + Utf8(tagName ? tagName : ""));
      return 0;
    }
    selectedScript_ = it->second;
    return 1;
  } catch (...) {
    return 0;
  }
}

int HostServices::CheckScript(const char* script) noexcept {
  try {
    std::string error;
    bool ok = sim::CheckScript(script ? script : "", *this, error);
    log_.Emit("script_checked",
              {{"script", Utf8(script ? script : "")}, {"ok", ok}, {"error", Utf8(error)}},
              "host: script " + std::string(ok ? "accepted" : "rejected (" + Utf8(error) + ")") +
                  ": " + Utf8(script ? script : ""));
    return ok ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void HostServices::RunScript(const char* script) noexcept {
  try {
    std::string text = (script != nullptr && *script != '\0') ? script : selectedScript_;
    log_.Emit("script_run", {{"script", Utf8(text)}}, "host: runs script: " + Utf8(text));
    std::string error;
    if (!sim::RunScript(text, *this, error)) {
      log_.Emit("error", {{"text", "script failed: " + Utf8(error)}},
                "error: script failed: " + Utf8(error));
    }
  } catch (...) {
  }
}

int HostServices::IsVariable(const char* text) noexcept {
  return text != nullptr && plant_.Find(text) != nullptr ? 1 : 0;
}

void HostServices::GetNumberValue(const char* name, double& value) noexcept {
  try {
    value = NumberValue(name ? name : "");
  } catch (...) {
  }
}

void HostServices::GetTextValue(const char* name, std::string& value) noexcept {
  try {
    value = TextValue(name ? name : "");
  } catch (...) {
  }
}

void HostServices::RequestTimedOut() noexcept {
  try {
    ++counts_.timedOut;
    answerDue_ = false;
    log_.Emit("request_timed_out", {}, "plug-in: alarm request abandoned (no answer in time)");
  } catch (...) {
  }
}

void* HostServices::GetMainWindow() noexcept {
  // The simulator has no window of its own; dialogs then have no parent.
  return nullptr;
}

void HostServices::WatchVariable(const char* name) noexcept {
  try {
    std::string variable = name ? name : "";
    Variable* found = plant_.Find(variable);
    if (found != nullptr) found->watched = true;
    log_.Emit("watch", {{"variable", Utf8(variable)}, {"known", found != nullptr}},
              "plug-in watches " + Utf8(variable) +
                  (found != nullptr ? "" : "  (warning: no such variable in this plant)"));
  } catch (...) {
  }
}

std::string HostServices::GetProjectPath(std::string& path) noexcept {
  try {
    path = projectDir_;
    return path;
  } catch (...) {
    return {};
  }
}

void HostServices::RegisterFunction(int id, const char* name, const char* help) noexcept {
  try {
    RegisteredFunction& function = functions_[id];
    function.id = id;
    function.name = name ? name : "";
    function.help = help ? help : "";
    function.params.clear();
  } catch (...) {
  }
}

void HostServices::AddFunctionParameter(int id, int typeCode, const char* name) noexcept {
  try {
    auto it = functions_.find(id);
    if (it != functions_.end()) it->second.params.emplace_back(typeCode, name ? name : "");
  } catch (...) {
  }
}

void HostServices::NotifyCreated(int value) noexcept {
  try {
    if (verbose_)
      log_.Emit("notify_created", {{"value", value}},
                "plug-in: created (" + std::to_string(value) + ")");
  } catch (...) {
  }
}

void HostServices::AttachWindow(PluginWindow*) noexcept {
  try {
    if (verbose_) log_.Emit("window_attached", {}, "plug-in: hidden window handed to the host");
  } catch (...) {
  }
}

void HostServices::GetVariableType(const char* name, int& type) noexcept {
  const Variable* variable = name != nullptr ? plant_.Find(name) : nullptr;
  type = variable != nullptr ? variable->type : 0;
}

// ---------------------------------------------------------------------------------------------
// Values for scripts and texts.

std::string HostServices::TextValue(std::string_view name) {
  if (name == "$UserName") return userName_;
  Variable* variable = plant_.Find(name);
  if (variable == nullptr) {
    log_.Emit("warning", {{"text", "unknown variable " + Utf8(name)}},
              "warning: the plug-in read an unknown variable " + Utf8(name));
    return {};
  }
  return variable->type == kTextType ? variable->text : Number(variable->number);
}

double HostServices::NumberValue(std::string_view name) {
  Variable* variable = plant_.Find(name);
  if (variable == nullptr) {
    log_.Emit("warning", {{"text", "unknown variable " + Utf8(name)}},
              "warning: the plug-in read an unknown variable " + Utf8(name));
    return 0;
  }
  return variable->type == kTextType ? std::strtod(variable->text.c_str(), nullptr)
                                     : variable->number;
}

bool HostServices::HasVariable(std::string_view name) {
  return name == "$UserName" || plant_.Find(name) != nullptr;
}

ScriptValue HostServices::ReadVariable(std::string_view name) {
  if (name == "$UserName") return ScriptValue::Text(userName_);
  const Variable* variable = plant_.Find(name);
  if (variable == nullptr) return {};
  return variable->type == kTextType ? ScriptValue::Text(variable->text)
                                     : ScriptValue::Number(variable->number);
}

void HostServices::WriteVariable(std::string_view name, const ScriptValue& value) {
  std::vector<AlarmChange> changes;
  if (name == "$UserName") {
    userName_ = value.AsText();
  } else if (value.isText) {
    plant_.SetText(name, value.text, changes);
  } else {
    plant_.SetNumber(name, value.number, changes);
  }
  log_.Emit("set", {{"variable", Utf8(name)}, {"value", Utf8(value.AsText())}},
            Utf8(name) + " = " + Utf8(value.AsText()));
  ReportChanges(changes);
}

int HostServices::FunctionArity(std::string_view object, std::string_view function) {
  if (!EqualsIgnoringCase(object, pluginName_)) return -1;
  const RegisteredFunction* found = FindFunction(function);
  return found != nullptr ? static_cast<int>(found->params.size()) : -1;
}

void HostServices::CallFunction(std::string_view, std::string_view function,
                                const std::vector<ScriptValue>& args) {
  if (const RegisteredFunction* found = FindFunction(function)) Call(*found, args);
}

void HostServices::Print(std::string_view text) {
  log_.Emit("script_print", {{"text", Utf8(text)}}, "script: " + Utf8(text));
}

const RegisteredFunction* HostServices::FindFunction(std::string_view name) const {
  for (const auto& [id, function] : functions_) {
    if (EqualsIgnoringCase(function.name, name)) return &function;
  }
  return nullptr;
}

void HostServices::Call(const RegisteredFunction& function, const std::vector<ScriptValue>& args) {
  std::vector<std::string> texts(function.params.size());
  std::vector<HostParam> params(function.params.size());
  Json shown = Json::array();
  std::string human;
  for (std::size_t i = 0; i < function.params.size(); ++i) {
    std::memset(&params[i], 0, sizeof params[i]);
    ScriptValue arg = i < args.size() ? args[i] : ScriptValue{};
    if (function.params[i].first == kTextType) {
      texts[i] = arg.AsText();
      params[i].textValue = texts[i].c_str();
      shown.push_back(Utf8(texts[i]));
      human += (i ? ", \"" : "\"") + Utf8(texts[i]) + "\"";
    } else {
      params[i].intValue = static_cast<std::int32_t>(arg.AsNumber());
      shown.push_back(params[i].intValue);
      human += (i ? ", " : "") + std::to_string(params[i].intValue);
    }
  }
  std::string name = Utf8(pluginName_) + "." + Utf8(function.name);
  log_.Emit("call", {{"function", Utf8(function.name)}, {"args", shown}},
            "script calls #" + name + "(" + human + ")");

  if (plugin_ != nullptr) plugin_->CallFunction(function.id, 0, params.data(), 0);
}

// ---------------------------------------------------------------------------------------------
// Alarms and the request cycle.

void HostServices::ReportChanges(const std::vector<AlarmChange>& changes) {
  for (const AlarmChange& change : changes) {
    const Alarm& alarm = change.alarm;
    const char* event = "alarm_raised";
    const char* verb = "ALARM raised   ";
    switch (change.what) {
      case AlarmChange::What::kRaised:
        ++counts_.alarmsRaised;
        break;
      case AlarmChange::What::kAcknowledgedNow:
        ++counts_.alarmsAcknowledged;
        event = "alarm_acknowledged";
        verb = "ALARM acknowledged";
        break;
      case AlarmChange::What::kResumedNow:
        ++counts_.alarmsResumed;
        event = "alarm_resumed";
        verb = "ALARM resumed  ";
        break;
      case AlarmChange::What::kCleared:
        ++counts_.alarmsCleared;
        event = "alarm_cleared";
        verb = "ALARM cleared  ";
        break;
    }
    log_.Emit(event,
              {{"variable", Utf8(alarm.variable)},
               {"tag", Utf8(TagOf(alarm.variable))},
               {"eventId", alarm.eventId},
               {"eventSubId", alarm.eventSubId},
               {"kind", alarm.kind},
               {"level", alarm.level},
               {"ackState", alarm.ackState},
               {"value", alarm.value},
               {"limit", alarm.limit}},
              std::string(verb) + " " + AlarmText(alarm));
  }
}

void HostServices::AnswerRequest() {
  answerDue_ = false;
  std::vector<AlarmEvent> records = plant_.AlarmRecords();
  if (records.size() > 32767) records.resize(32767);
  ++counts_.answered;
  if (verbose_ || log_.Json()) {
    log_.Emit(
        "answer", {{"count", records.size()}},
        "host answers the alarm request: " + std::to_string(records.size()) + " standing alarm(s)");
  }
  plugin_->OnRequestResult(0, static_cast<std::int16_t>(records.size()), 0, 0, 0,
                           records.empty() ? nullptr : records.data());
}

void HostServices::Cycle() {
  if (plugin_ == nullptr) return;
  if (answerDue_) AnswerRequest();
  std::int16_t code = 0, subCode = 0, flags = 0;
  std::int32_t blockSize = 0;
  AlarmRequest block;
  std::memset(&block, 0xCC, sizeof block);
  if (plugin_->GetRequest(&code, &subCode, &flags, 0, &blockSize, &block) == 1) {
    ++counts_.requests;
    bool wellFormed = code == kAlarmRequestCode && subCode == kAlarmRequestSubCode &&
                      flags == kAlarmRequestFlags && blockSize == kAlarmRequestBlockSize &&
                      block.first == 0 && block.limits[0] == -1 && block.limits[1] == -1 &&
                      block.limits[2] == -1 && block.limits[3] == -1 && block.flag20 == 0 &&
                      block.flag21 == 1;
    if (!wellFormed) {
      log_.Emit("warning",
                {{"text", "malformed alarm request"}, {"code", code}, {"subCode", subCode}},
                "warning: the plug-in made an alarm request of an unexpected form");
    }
    if (leaveUnanswered_ > 0) {
      --leaveUnanswered_;
      ++counts_.unanswered;
      log_.Emit("request_unanswered", {}, "alarm request left unanswered, as the scenario asks");
    } else {
      answerDue_ = true;
      if (log_.Json()) log_.Emit("request", {}, "alarm request");
    }
  }
  plugin_->OnTick();
}

}  // namespace pagorin::sim

#include "sim_host.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "file_archive.h"
#include "platform/archive.h"
#include "platform/file_io.h"

namespace pagorin::sim {
namespace {

std::atomic<std::uint32_t> g_ticks{0};

// The host cycle, in milliseconds, while the modem owes a reply.
constexpr int kBusyCycleMs = 2;

using Json = nlohmann::json;

std::int64_t RealMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

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

bool SameAlarm(const AlarmEvent& a, const AlarmEvent& b) {
  return a.eventId == b.eventId && a.eventSubId == b.eventSubId &&
         std::strncmp(a.tagName, b.tagName, sizeof a.tagName) == 0 && a.kind == b.kind &&
         a.level == b.level && a.ackState == b.ackState;
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

}  // namespace

std::uint32_t SimTicks() noexcept {
  return g_ticks.load(std::memory_order_acquire);
}

PluginModule::~PluginModule() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool PluginModule::Load(const std::string& path, std::string& error) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error = "cannot load the module " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  create_ = reinterpret_cast<CreateSuperWizardFunction>(dlsym(handle_, kCreateSuperWizardName));
  delete_ = reinterpret_cast<DeleteSuperWizardFunction>(dlsym(handle_, kDeleteSuperWizardName));
  if (create_ == nullptr || delete_ == nullptr) {
    error = path + " does not export " + kCreateSuperWizardName + " and " + kDeleteSuperWizardName;
    return false;
  }
  return true;
}

SimHost::SimHost(EventLog& log) : log_(log) {
  log_.SetClock([this] { return static_cast<double>(simMs_) / 1000.0; });
}

SimHost::~SimHost() {
  DestroyPlugin();
}

// ---------------------------------------------------------------------------------------------
// The plug-in's life.

bool SimHost::LoadModule(const HostOptions& options, std::string& error) {
  if (!module_.Load(options.modulePath, error)) return false;
  log_.Emit("module_loaded", {{"path", options.modulePath}},
            "module loaded: " + options.modulePath);
  return true;
}

bool SimHost::CreatePlugin(std::string& error) {
  functions_.clear();
  plugin_ = module_.Create(this);
  if (plugin_ == nullptr) {
    error = "CreateSuperWizard returned no plug-in object";
    return false;
  }
  pluginName_ = plugin_->GetName();
  plugin_->RegisterFunctions();
  log_.Emit("plugin_created", {{"name", Utf8(pluginName_)}, {"functions", functions_.size()}},
            "plug-in \"" + Utf8(pluginName_) + "\" created, " + std::to_string(functions_.size()) +
                " script functions registered");
  firstAnswer_ = true;
  lastAnswer_.clear();
  answerDue_ = false;
  return true;
}

void SimHost::DestroyPlugin() {
  if (plugin_ == nullptr) return;
  module_.Delete(plugin_);
  plugin_ = nullptr;
}

void SimHost::ReadPluginConfig() {
  std::string text;
  std::string why;
  std::string path = projectDir_ + "/" + kConfigFileName;
  haveConfig_ = platform::ReadWholeFile(path, text, why) && ParsePluginConfig(text, config_);
}

bool SimHost::LoadProject(const std::string& archivePath) {
  FileArchive archive;
  std::string why;
  if (archive.OpenForLoading(archivePath, why)) {
    plugin_->Serialize(archive);
    log_.Emit("project_loaded", {{"archive", archivePath}, {"bytes", archive.Bytes().size()}},
              "project loaded from " + archivePath + " (" + std::to_string(archive.Bytes().size()) +
                  " bytes); the plug-in read " + kConfigFileName);
  } else {
    // No archive yet: a project that was never stored. The plug-in reads its configuration file
    // all the same, because loading always goes to the file.
    MemoryArchive fresh;
    archive::WriteInt32(fresh, 1);
    archive::WriteString(fresh, "");
    MemoryArchive loading(fresh.Bytes());
    plugin_->Serialize(loading);
    log_.Emit("project_loaded", {{"archive", nullptr}},
              "no project archive yet (" + archivePath + "); the plug-in read " + kConfigFileName);
  }
  ReadPluginConfig();
  if (!haveConfig_) {
    log_.Emit("warning", {{"text", "no readable configuration file in the project folder"}},
              std::string("warning: no readable ") + kConfigFileName + " in " + projectDir_);
  }
  return true;
}

bool SimHost::SaveProject(const std::string& archivePath) {
  FileArchive archive;
  archive.OpenForStoring(archivePath);
  plugin_->Serialize(archive);
  std::string why;
  if (!archive.Commit(why)) {
    log_.Emit("error", {{"text", "cannot store the project: " + why}},
              "error: cannot store the project in " + archivePath + ": " + why);
    return false;
  }
  log_.Emit("project_saved", {{"archive", archivePath}, {"bytes", archive.Bytes().size()}},
            "project stored in " + archivePath + " (" + std::to_string(archive.Bytes().size()) +
                " bytes); the plug-in rewrote " + kConfigFileName);
  ReadPluginConfig();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Host operations.

std::string SimHost::SelectVariable(int, int, const char* current) noexcept {
  try {
    std::string chosen = current != nullptr ? current : "";
    if (!selectAnswer_.empty()) {
      chosen = selectAnswer_;
    } else if (isatty(STDIN_FILENO) && !plant_.Variables().empty()) {
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

int SimHost::IsRunMode() noexcept {
  return runMode_;
}

void SimHost::AttachScript(const char* tagName, const char* script) noexcept {
  try {
    std::string tag = tagName ? tagName : "";
    scripts_[tag] = script ? script : "";
    log_.Emit("script_attached", {{"tag", Utf8(tag)}, {"script", Utf8(scripts_[tag])}},
              "host: script attached to " + Utf8(tag) + ": " + Utf8(scripts_[tag]));
  } catch (...) {
  }
}

int SimHost::SelectScript(const char* tagName) noexcept {
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

int SimHost::CheckScript(const char* script) noexcept {
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

void SimHost::RunScript(const char* script) noexcept {
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

int SimHost::IsVariable(const char* text) noexcept {
  return text != nullptr && plant_.Find(text) != nullptr ? 1 : 0;
}

void SimHost::GetNumberValue(const char* name, double& value) noexcept {
  try {
    value = NumberValue(name ? name : "");
  } catch (...) {
  }
}

void SimHost::GetTextValue(const char* name, std::string& value) noexcept {
  try {
    value = TextValue(name ? name : "");
  } catch (...) {
  }
}

void SimHost::RequestTimedOut() noexcept {
  try {
    ++counters_.timedOut;
    answerDue_ = false;
    log_.Emit("request_timed_out", {}, "plug-in: alarm request abandoned (no answer in time)");
  } catch (...) {
  }
}

void* SimHost::GetMainWindow() noexcept {
  // The simulator has no window of its own; dialogs then have no parent.
  return nullptr;
}

void SimHost::WatchVariable(const char* name) noexcept {
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

std::string SimHost::GetProjectPath(std::string& path) noexcept {
  try {
    path = projectDir_;
    return path;
  } catch (...) {
    return {};
  }
}

void SimHost::RegisterFunction(int id, const char* name, const char* help) noexcept {
  try {
    RegisteredFunction& function = functions_[id];
    function.id = id;
    function.name = name ? name : "";
    function.help = help ? help : "";
    function.params.clear();
  } catch (...) {
  }
}

void SimHost::AddFunctionParameter(int id, int typeCode, const char* name) noexcept {
  try {
    auto it = functions_.find(id);
    if (it != functions_.end()) it->second.params.emplace_back(typeCode, name ? name : "");
  } catch (...) {
  }
}

void SimHost::NotifyCreated(int value) noexcept {
  try {
    if (verbose_)
      log_.Emit("notify_created", {{"value", value}},
                "plug-in: created (" + std::to_string(value) + ")");
  } catch (...) {
  }
}

void SimHost::AttachWindow(PluginWindow*) noexcept {
  try {
    if (verbose_) log_.Emit("window_attached", {}, "plug-in: hidden window handed to the host");
  } catch (...) {
  }
}

void SimHost::GetVariableType(const char* name, int& type) noexcept {
  const Variable* variable = name != nullptr ? plant_.Find(name) : nullptr;
  type = variable != nullptr ? variable->type : 0;
}

// ---------------------------------------------------------------------------------------------
// Values for scripts and texts.

std::string SimHost::TextValue(std::string_view name) {
  if (name == "$UserName") return userName_;
  Variable* variable = plant_.Find(name);
  if (variable == nullptr) {
    log_.Emit("warning", {{"text", "unknown variable " + Utf8(name)}},
              "warning: the plug-in read an unknown variable " + Utf8(name));
    return {};
  }
  return variable->type == kTextType ? variable->text : Number(variable->number);
}

double SimHost::NumberValue(std::string_view name) {
  Variable* variable = plant_.Find(name);
  if (variable == nullptr) {
    log_.Emit("warning", {{"text", "unknown variable " + Utf8(name)}},
              "warning: the plug-in read an unknown variable " + Utf8(name));
    return 0;
  }
  return variable->type == kTextType ? std::strtod(variable->text.c_str(), nullptr)
                                     : variable->number;
}

bool SimHost::HasVariable(std::string_view name) {
  return name == "$UserName" || plant_.Find(name) != nullptr;
}

ScriptValue SimHost::ReadVariable(std::string_view name) {
  if (name == "$UserName") return ScriptValue::Text(userName_);
  const Variable* variable = plant_.Find(name);
  if (variable == nullptr) return {};
  return variable->type == kTextType ? ScriptValue::Text(variable->text)
                                     : ScriptValue::Number(variable->number);
}

void SimHost::WriteVariable(std::string_view name, const ScriptValue& value) {
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

int SimHost::FunctionArity(std::string_view object, std::string_view function) {
  if (!EqualsIgnoringCase(object, pluginName_)) return -1;
  const RegisteredFunction* found = FindFunction(function);
  return found != nullptr ? static_cast<int>(found->params.size()) : -1;
}

void SimHost::CallFunction(std::string_view, std::string_view function,
                           const std::vector<ScriptValue>& args) {
  if (const RegisteredFunction* found = FindFunction(function)) Call(*found, args);
}

void SimHost::Print(std::string_view text) {
  log_.Emit("script_print", {{"text", Utf8(text)}}, "script: " + Utf8(text));
}

const RegisteredFunction* SimHost::FindFunction(std::string_view name) const {
  for (const auto& [id, function] : functions_) {
    if (EqualsIgnoringCase(function.name, name)) return &function;
  }
  return nullptr;
}

void SimHost::Call(const RegisteredFunction& function, const std::vector<ScriptValue>& args) {
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

  // What the plug-in is expected to do with it, for the user to compare with what follows.
  if (function.name == "SendMsg" && texts.size() == 2) {
    std::string list = texts[0] + ",";
    const std::string& content = texts[1];
    std::size_t start = 0;
    for (std::size_t comma; (comma = list.find(',', start)) != std::string::npos;
         start = comma + 1) {
      std::string number = list.substr(start, comma - start);
      if (IsSendableNumber(number) && !content.empty()) {
        ++counters_.queuedScript;
        log_.Emit("queued", {{"source", "script"}, {"number", number}, {"text", Utf8(content)}},
                  "  queued for " + number + ": " + Utf8(content));
      } else {
        ++counters_.refused;
        log_.Emit("refused", {{"source", "script"}, {"number", Utf8(number)}},
                  "  refused: \"" + Utf8(number) + "\" is no number the modem takes" +
                      (content.empty() ? " (or the text is empty)" : ""));
      }
    }
  } else if (function.name == "ShouldSend" && !params.empty()) {
    bool on = params[0].intValue != 0;
    log_.Emit("sending", {{"on", on}},
              on ? "  sending switched ON: queued messages go out"
                 : "  sending switched OFF: messages wait in the queue");
  }
  plugin_->CallFunction(function.id, 0, params.data(), 0);
}

// ---------------------------------------------------------------------------------------------
// Alarms.

std::string SimHost::AlarmText(const Alarm& alarm) const {
  std::string text = Utf8(alarm.variable) + " " + KindName(alarm.kind) + ", " +
                     LevelName(alarm.level) + ", " + StateName(alarm.ackState);
  if (alarm.kind != kDiscrete) {
    text += ", value " + Number(static_cast<double>(alarm.value)) + " limit " +
            Number(static_cast<double>(alarm.limit));
  }
  return text;
}

void SimHost::ReportChanges(const std::vector<AlarmChange>& changes) {
  for (const AlarmChange& change : changes) {
    const Alarm& alarm = change.alarm;
    const char* event = "alarm_raised";
    const char* verb = "ALARM raised   ";
    switch (change.what) {
      case AlarmChange::What::kRaised:
        ++counters_.alarmsRaised;
        break;
      case AlarmChange::What::kAcknowledgedNow:
        ++counters_.alarmsAcknowledged;
        event = "alarm_acknowledged";
        verb = "ALARM acknowledged";
        break;
      case AlarmChange::What::kResumedNow:
        ++counters_.alarmsResumed;
        event = "alarm_resumed";
        verb = "ALARM resumed  ";
        break;
      case AlarmChange::What::kCleared:
        ++counters_.alarmsCleared;
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

void SimHost::AnswerRequest() {
  answerDue_ = false;
  std::vector<AlarmEvent> records = plant_.AlarmRecords();
  if (records.size() > 32767) records.resize(32767);
  ++counters_.answered;
  if (verbose_ || log_.Json()) {
    log_.Emit(
        "answer", {{"count", records.size()}},
        "host answers the alarm request: " + std::to_string(records.size()) + " standing alarm(s)");
  }
  plugin_->OnRequestResult(0, static_cast<std::int16_t>(records.size()), 0, 0, 0,
                           records.empty() ? nullptr : records.data());
  PredictDispatch(records);
}

void SimHost::PredictDispatch(const std::vector<AlarmEvent>& records) {
  if (firstAnswer_) {
    firstAnswer_ = false;
    lastAnswer_ = records;
    log_.Emit("baseline", {{"count", records.size()}},
              "first answer: " + std::to_string(records.size()) +
                  " standing alarm(s) taken as the baseline, no message for them");
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
      log_.Emit("rule_matched",
                {{"rule", r},
                 {"varName", Utf8(rule.VarName)},
                 {"desc", Utf8(rule.Desc)},
                 {"eventId", event.eventId},
                 {"phones", rule.TelPlace.size()}},
                "  rule " + std::to_string(r) + " (" + label + ") matches, " +
                    std::to_string(rule.TelPlace.size()) + " phone(s)");
      for (int index : rule.TelPlace) {
        if (index < 0 || static_cast<std::size_t>(index) >= config_.phones.size()) continue;
        const ConfigPhone& phone = config_.phones[static_cast<std::size_t>(index)];
        bool runsScript = false;
        // The plug-in composed its text during the answer; values have not moved since.
        std::string text = ExpectedAlarmText(event, rule, *this, runsScript);
        std::vector<std::string> pieces = SplitIntoPieces(text);
        for (std::size_t p = 0; p < pieces.size(); ++p) {
          bool ok = IsSendableNumber(phone.TelNum);
          if (ok) {
            ++counters_.queuedAlarm;
          } else {
            ++counters_.refused;
          }
          log_.Emit(ok ? "queued" : "refused",
                    {{"source", "alarm"},
                     {"rule", r},
                     {"number", Utf8(phone.TelNum)},
                     {"phone", Utf8(phone.Desc)},
                     {"text", Utf8(pieces[p])},
                     {"piece", p + 1},
                     {"pieces", pieces.size()}},
                    std::string(ok ? "  queued for " : "  refused (bad number) ") +
                        Utf8(phone.TelNum) + " (" + Utf8(phone.Desc) + ")" +
                        (pieces.size() > 1 ? " piece " + std::to_string(p + 1) + "/" +
                                                 std::to_string(pieces.size())
                                           : "") +
                        ": " + Utf8(pieces[p]));
        }
      }
    }
  }
  lastAnswer_.clear();
  for (const AlarmEvent& event : records) {
    if (event.ackState <= 3) lastAnswer_.push_back(event);
  }
}

// ---------------------------------------------------------------------------------------------
// The modem side.

void SimHost::Pump(int waitMs) {
  std::vector<TranscriptLine> lines;
  if (relay_) relay_->Pump(waitMs, lines);
  for (const auto& line : lines)
    Transcript(line);
  // The modem writes its log before its final reply; the phone's line reads better after it.
  if (relay_ && relay_->AwaitingReply(graceMs_)) return;
  for (const auto& line : modemLog_.NewLines())
    Delivered(line);
}

void SimHost::Transcript(const TranscriptLine& line) {
  lastActivityMs_ = simMs_;
  if (line.fromPlugin) {
    ++counters_.commands;
    bool modeCommand = line.text.rfind("AT+CMGF", 0) == 0;
    if (modeCommand) {
      if (dialogueOpen_) {
        ++counters_.timeouts;
        if (++consecutiveTimeouts_ >= 3) {
          ++counters_.dropped;
          consecutiveTimeouts_ = 0;
          log_.Emit("dropped", {}, "  a message was dropped after its third time-out");
        } else {
          log_.Emit("timeout", {{"count", consecutiveTimeouts_}},
                    "  no usable reply (time-out or refusal): attempt " +
                        std::to_string(consecutiveTimeouts_) + " failed, the message starts again");
        }
      }
      dialogueOpen_ = true;
      pduWritten_ = false;
    }
    if (line.text.find("<Ctrl-Z>") != std::string::npos) pduWritten_ = true;
    lastCommandMs_ = simMs_;
    lastCommandText_ = line.text;
    log_.Emit("at", {{"dir", "tx"}, {"text", line.text}}, "  AT >> " + line.text);
  } else {
    if (dialogueOpen_ && pduWritten_ && line.text.find("OK") != std::string::npos) {
      dialogueOpen_ = false;
      pduWritten_ = false;
      consecutiveTimeouts_ = 0;
      ++counters_.sent;
    }
    // A modem with echo on repeats each command before it answers; the repeat says nothing new.
    std::string command = lastCommandText_;
    if (!command.empty() && command.size() >= 8 &&
        command.compare(command.size() - 8, 8, "<Ctrl-Z>") == 0) {
      command.resize(command.size() - 8);
    }
    bool echo = !command.empty() && line.text == command;
    log_.Emit("at", {{"dir", "rx"}, {"text", line.text}, {"echo", echo}},
              echo ? "  AT << (echo)" : "  AT << " + line.text);
  }
}

void SimHost::Delivered(const std::string& jsonLine) {
  lastActivityMs_ = simMs_;
  Json message = Json::parse(jsonLine, nullptr, false);
  if (message.is_discarded() || !message.is_object()) {
    log_.Emit("modem_log", {{"line", jsonLine}}, "  modem: " + jsonLine);
    return;
  }
  ++counters_.delivered;
  std::string number = message.value("number", message.value("destination", std::string()));
  std::string text = message.value("text", std::string());
  std::string part;
  if (message.contains("part") && message.contains("parts")) {
    part = " (part " + message["part"].dump() + "/" + message["parts"].dump() + ")";
  }
  Json fields = message;
  fields["number"] = number;
  log_.Emit("delivered", fields, "PHONE " + number + " receives" + part + ": " + text);
}

// ---------------------------------------------------------------------------------------------
// Time.

void SimHost::AdvanceTime(int stepMs) {
  // Simulated time runs at the chosen rate, but never faster than real time while the modem
  // owes a reply: its replies come in real time, and a time-out of the plug-in must never fire
  // merely because time is simulated.
  double rate = speed_;
  if (realModem_) rate = 1;
  if (relay_ && relay_->Busy(graceMs_)) {
    if (rate == 0 || rate > 1) rate = 1;
    // Short cycles while the dialogue runs, so that the plug-in sees each reply a moment after
    // it came and answers it without waiting for a whole cycle of real time.
    stepMs = std::min(stepMs, kBusyCycleMs);
  }
  std::int64_t now = RealMicros();
  if (rate != anchorRate_) {
    anchorRate_ = rate;
    anchorSimMs_ = simMs_;
    anchorRealUs_ = now;
  }
  std::uint64_t target = simMs_ + static_cast<std::uint64_t>(stepMs);
  if (rate > 0) {
    auto due = anchorRealUs_ + static_cast<std::int64_t>(
                                   static_cast<double>(target - anchorSimMs_) * 1000.0 / rate);
    while (now < due) {
      Pump(static_cast<int>(std::min<std::int64_t>((due - now + 999) / 1000, 50)));
      now = RealMicros();
    }
  } else {
    Pump(0);
  }
  simMs_ = target;
  g_ticks.store(static_cast<std::uint32_t>(simMs_), std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// The run.

bool SimHost::CheckScenario(const Scenario& scenario, std::string& error) {
  auto at = [&](const Step& step, const std::string& what) {
    error = scenario.file + ":" + std::to_string(step.line) + ": " + what;
    return false;
  };
  for (const auto& [tag, script] : scenario.scripts) {
    std::string why;
    if (!sim::CheckScript(script, *this, why)) {
      error = scenario.file + ": the script of " + Utf8(tag) + " does not check: " + Utf8(why);
      return false;
    }
  }
  for (const Step& step : scenario.steps) {
    switch (step.kind) {
      case Step::Kind::kSet:
        for (const auto& [name, value] : step.values) {
          if (plant_.Find(name) == nullptr) return at(step, "no variable named " + Utf8(name));
        }
        break;
      case Step::Kind::kAck:
        if (step.text != "all" && plant_.Find(step.text) == nullptr) {
          bool tag = false;
          for (const auto& v : plant_.Variables())
            tag = tag || TagOf(v.name) == step.text;
          if (!tag) return at(step, "nothing to acknowledge under the name " + Utf8(step.text));
        }
        break;
      case Step::Kind::kScript: {
        std::string why;
        if (!sim::CheckScript(step.text, *this, why)) return at(step, "script: " + Utf8(why));
        break;
      }
      case Step::Kind::kCall: {
        const RegisteredFunction* function = FindFunction(step.text);
        if (function == nullptr) {
          return at(step,
                    "the plug-in has no function " + step.text + " (see 'veltrane-sim functions')");
        }
        if (function->params.size() != step.args.size()) {
          return at(step, step.text + " takes " + std::to_string(function->params.size()) +
                              " argument(s), not " + std::to_string(step.args.size()));
        }
        break;
      }
      default:
        break;
    }
  }
  return true;
}

int SimHost::Run(const Scenario& scenario, const HostOptions& options) {
  int code = Begin(scenario, options);
  if (code != 0) return code;
  while (StepOnce()) {
  }
  return Finish();
}

int SimHost::Begin(const Scenario& scenario, const HostOptions& options) {
  verbose_ = options.verbose;
  scenario_ = &scenario;
  wallStart_ = std::chrono::steady_clock::now();
  projectDir_ = std::filesystem::absolute(scenario.projectDir).lexically_normal().string();
  while (projectDir_.size() > 1 && projectDir_.back() == '/')
    projectDir_.pop_back();
  archiveName_ = scenario.archiveName;
  speed_ = options.speed >= 0 ? options.speed : scenario.speed;
  graceMs_ = scenario.graceMs;
  userName_ = scenario.user;
  selectAnswer_ = scenario.selectVariable;
  for (const auto& [tag, script] : scenario.scripts)
    scripts_[tag] = script;
  std::string error;
  for (const Variable& variable : scenario.variables) {
    if (!plant_.AddVariable(variable, error)) {
      log_.Emit("error", {{"text", error}}, "error: " + error);
      return 2;
    }
  }
  log_.Emit("scenario", {{"file", scenario.file}, {"project", projectDir_}},
            "scenario " + scenario.file + ", project folder " + projectDir_);
  ReadPluginConfig();
  int portNumber = (haveConfig_ ? config_.Com : 0) + 1;
  std::string envName = "PAGORIN_COM" + std::to_string(portNumber);

  // The modem: a real one when asked for, else the simulator behind our relay.
  if (!options.modemDevice.empty()) {
    realModem_ = true;
    setenv(envName.c_str(), options.modemDevice.c_str(), 1);
    log_.Emit("modem", {{"device", options.modemDevice}, {"port", envName}},
              "real modem at " + options.modemDevice + " as COM" + std::to_string(portNumber) +
                  "; time runs at real speed and the AT dialogue is not shown");
  } else {
    std::error_code noTemp;
    std::string templ =
        (std::filesystem::temp_directory_path(noTemp) / "veltrane-sim-XXXXXX").string();
    if (noTemp || mkdtemp(templ.data()) == nullptr) {
      log_.Emit("error", {{"text", "cannot make a work folder"}},
                "error: cannot make a work folder");
      return 1;
    }
    workDir_ = templ;
    std::string logPath =
        options.modemLogPath.empty() ? workDir_ + "/modem-log.jsonl" : options.modemLogPath;
    unlink(logPath.c_str());
    std::vector<std::string> modemArgs = scenario.modemArgs;
    modemArgs.insert(modemArgs.end(), options.modemArgs.begin(), options.modemArgs.end());
    modem_ = std::make_unique<ModemProcess>();
    if (!modem_->Start(options.modemSimPath, modemArgs, workDir_, logPath, error)) {
      log_.Emit("error", {{"text", error}}, "error: " + error);
      return 1;
    }
    relay_ = std::make_unique<SerialRelay>();
    if (!relay_->Open(modem_->PortPath(), error)) {
      log_.Emit("error", {{"text", error}}, "error: " + error);
      return 1;
    }
    modemLog_.Reset(logPath);
    setenv(envName.c_str(), relay_->PluginSidePath().c_str(), 1);
    std::string extra;
    for (const auto& arg : modemArgs)
      extra += " " + arg;
    log_.Emit("modem",
              {{"simulator", options.modemSimPath},
               {"args", modemArgs},
               {"port", envName},
               {"device", relay_->PluginSidePath()},
               {"log", logPath}},
              "modem simulator started" + (extra.empty() ? "" : " (" + extra.substr(1) + ")") +
                  ", on COM" + std::to_string(portNumber) + " = " + relay_->PluginSidePath());
  }

  if (!LoadModule(options, error) || !CreatePlugin(error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return 1;
  }
  if (!CheckScenario(scenario, error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return 2;
  }
  LoadProject(projectDir_ + "/" + archiveName_);
  if (haveConfig_) {
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

  runMode_ = 1;
  g_ticks.store(0);
  plugin_->Start(0);
  log_.Emit("started", {}, "project running");

  return 0;
}

bool SimHost::StepOnce() {
  const Scenario& scenario = *scenario_;
  if (ended_) return false;
  const std::uint64_t limitMs = static_cast<std::uint64_t>(scenario.limit * 1000.0);
  Cycle();
  while (!ended_ && nextStep_ < scenario.steps.size()) {
    const Step& step = scenario.steps[nextStep_];
    std::uint64_t due = step.hasAt ? static_cast<std::uint64_t>(step.at * 1000.0)
                                   : stepBase_ + static_cast<std::uint64_t>(step.after * 1000.0);
    if (simMs_ < due) break;
    if (step.kind == Step::Kind::kWaitFor) {
      if (!waiting_) {
        waiting_ = true;
        waitStart_ = simMs_;
      }
      bool done = step.waitIdle ? (!relay_ || !relay_->Busy(graceMs_)) && !answerDue_ &&
                                      !dialogueOpen_ && simMs_ - lastActivityMs_ >= 2000
                                : counters_.delivered >= step.waitDelivered;
      if (!done && simMs_ - waitStart_ < static_cast<std::uint64_t>(step.timeout * 1000.0)) break;
      waiting_ = false;
      if (!done) {
        exitCode_ = 3;
        log_.Emit("wait_timeout", {{"line", step.line}},
                  "warning: the wait of line " + std::to_string(step.line) + " ran out after " +
                      Number(step.timeout) + " s");
      }
    } else if (!RunStep(step)) {
      break;
    }
    stepBase_ = simMs_;
    ++nextStep_;
  }
  // A scripted run ends after its last step; in a window the user ends it.
  if (nextStep_ >= scenario.steps.size() && !interactive_) ended_ = true;
  if (simMs_ >= limitMs && !ended_ && !interactive_) {
    log_.Emit("limit", {}, "the run reached its limit of " + Number(scenario.limit) + " s");
    ended_ = true;
  }
  if (!ended_) AdvanceTime(scenario.cycleMs);
  return !ended_;
}

int SimHost::Finish() {
  // What is still on the line shows up before the summary.
  Pump(50);
  // The plug-in gives the final reply after a message longer than the other replies.
  const std::uint64_t replyWindowMs = pduWritten_ ? 60000 : 10000;
  if (dialogueOpen_ && simMs_ - lastCommandMs_ >= replyWindowMs && consecutiveTimeouts_ == 2) {
    ++counters_.dropped;
    ++counters_.timeouts;
    dialogueOpen_ = false;
    log_.Emit("dropped", {}, "  a message was dropped after its third time-out");
  }
  DestroyPlugin();
  runMode_ = 0;
  if (modem_) modem_->Stop();
  Pump(0);
  double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart_).count();
  Summary(wall);
  if (!workDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
  }
  return exitCode_;
}

void SimHost::Cycle() {
  if (plugin_ == nullptr) return;
  if (answerDue_) AnswerRequest();
  std::int16_t code = 0, subCode = 0, flags = 0;
  std::int32_t blockSize = 0;
  AlarmRequest block;
  std::memset(&block, 0xCC, sizeof block);
  if (plugin_->GetRequest(&code, &subCode, &flags, 0, &blockSize, &block) == 1) {
    ++counters_.requests;
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
      ++counters_.unanswered;
      log_.Emit("request_unanswered", {}, "alarm request left unanswered, as the scenario asks");
    } else {
      answerDue_ = true;
      if (log_.Json()) log_.Emit("request", {}, "alarm request");
    }
  }
  plugin_->OnTick();
  Pump(0);
}

bool SimHost::RunStep(const Step& step) {
  std::vector<AlarmChange> changes;
  switch (step.kind) {
    case Step::Kind::kSet:
      for (const auto& [name, value] : step.values)
        WriteVariable(name, value);
      break;
    case Step::Kind::kAck: {
      int count = plant_.Acknowledge(step.text, changes);
      log_.Emit(
          "ack", {{"target", Utf8(step.text)}, {"count", count}},
          "operator acknowledges " + Utf8(step.text) + " (" + std::to_string(count) + " alarm(s))");
      ReportChanges(changes);
      break;
    }
    case Step::Kind::kScript: {
      log_.Emit("script_run", {{"script", Utf8(step.text)}},
                "host runs script: " + Utf8(step.text));
      std::string error;
      if (!sim::RunScript(step.text, *this, error)) {
        log_.Emit("error", {{"text", Utf8(error)}}, "error: script failed: " + Utf8(error));
      }
      break;
    }
    case Step::Kind::kCall:
      if (const RegisteredFunction* function = FindFunction(step.text)) Call(*function, step.args);
      break;
    case Step::Kind::kSave:
      SaveProject(projectDir_ + "/" + (step.text.empty() ? archiveName_ : step.text));
      break;
    case Step::Kind::kReload: {
      std::string error;
      DestroyPlugin();
      log_.Emit("plugin_deleted", {},
                "plug-in object deleted (its port closed, its queue dropped)");
      if (!CreatePlugin(error)) {
        log_.Emit("error", {{"text", error}}, "error: " + error);
        exitCode_ = 1;
        ended_ = true;
        return true;
      }
      LoadProject(projectDir_ + "/" + (step.text.empty() ? archiveName_ : step.text));
      plugin_->Start(0);
      log_.Emit("started", {}, "project running again");
      break;
    }
    case Step::Kind::kUnanswered:
      leaveUnanswered_ += step.count;
      log_.Emit("leave_unanswered", {{"count", step.count}},
                "the host will leave the next " + std::to_string(step.count) +
                    " alarm request(s) unanswered");
      break;
    case Step::Kind::kEnd:
      ended_ = true;
      break;
    case Step::Kind::kUser:
      userName_ = step.text;
      log_.Emit("user", {{"name", Utf8(userName_)}}, "user " + Utf8(userName_) + " logged in");
      break;
    case Step::Kind::kSay:
      log_.Emit("say", {{"text", step.text}}, "== " + step.text);
      break;
    case Step::Kind::kWaitFor:
      break;
  }
  return true;
}

void SimHost::Summary(double wallSeconds) {
  const Counters& c = counters_;
  double sim = static_cast<double>(simMs_) / 1000.0;
  int queued = c.queuedAlarm + c.queuedScript;
  int waiting = queued - c.sent - c.dropped;
  if (waiting < 0) waiting = 0;
  Json fields = {{"simSeconds", sim},
                 {"wallSeconds", wallSeconds},
                 {"alarmsRaised", c.alarmsRaised},
                 {"alarmsAcknowledged", c.alarmsAcknowledged},
                 {"alarmsResumed", c.alarmsResumed},
                 {"alarmsCleared", c.alarmsCleared},
                 {"requests", c.requests},
                 {"answered", c.answered},
                 {"unanswered", c.unanswered},
                 {"requestsTimedOut", c.timedOut},
                 {"queued", queued},
                 {"queuedAlarm", c.queuedAlarm},
                 {"queuedScript", c.queuedScript},
                 {"refused", c.refused},
                 {"commands", c.commands},
                 {"sent", c.sent},
                 {"delivered", c.delivered},
                 {"timeouts", c.timeouts},
                 {"dropped", c.dropped},
                 {"notSent", waiting}};
  char line[512];
  std::string text = "summary\n";
  std::snprintf(line, sizeof line,
                "  time        %.1f s simulated in %.1f s of real time (%.1fx)\n", sim, wallSeconds,
                wallSeconds > 0 ? sim / wallSeconds : 0.0);
  text += line;
  std::snprintf(line, sizeof line,
                "  alarms      %d raised, %d acknowledged, %d resumed, %d cleared\n",
                c.alarmsRaised, c.alarmsAcknowledged, c.alarmsResumed, c.alarmsCleared);
  text += line;
  std::snprintf(line, sizeof line,
                "  requests    %d made, %d answered, %d left unanswered, %d abandoned by the "
                "plug-in\n",
                c.requests, c.answered, c.unanswered, c.timedOut);
  text += line;
  if (realModem_) {
    std::snprintf(line, sizeof line,
                  "  messages    %d queued (%d from alarms, %d from scripts), %d refused", queued,
                  c.queuedAlarm, c.queuedScript, c.refused);
  } else {
    std::snprintf(line, sizeof line,
                  "  messages    %d queued (%d from alarms, %d from scripts), %d refused, %d sent, "
                  "%d delivered to phones, %d dropped, %d not sent\n"
                  "  modem       %d commands, %d failed attempts (time-out or refusal)",
                  queued, c.queuedAlarm, c.queuedScript, c.refused, c.sent, c.delivered, c.dropped,
                  waiting, c.commands, c.timeouts);
  }
  text += line;
  log_.Emit("summary", fields, text);
}

// ---------------------------------------------------------------------------------------------
// The two other commands.

int SimHost::ListFunctions(const HostOptions& options) {
  std::string error;
  projectDir_ = std::filesystem::current_path().string();
  if (!LoadModule(options, error) || !CreatePlugin(error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return 1;
  }
  for (const auto& [id, function] : functions_) {
    std::string signature = "#" + Utf8(pluginName_) + "." + Utf8(function.name) + "(";
    Json params = Json::array();
    for (std::size_t i = 0; i < function.params.size(); ++i) {
      const auto& [type, name] = function.params[i];
      signature +=
          (i ? ", " : "") + std::string(type == kTextType ? "string " : "int ") + Utf8(name);
      params.push_back({{"type", type}, {"name", Utf8(name)}});
    }
    signature += ")";
    std::string help = Utf8(function.help);
    std::string indented;
    for (char c : help) {
      if (c == '\r') continue;
      indented.push_back(c);
      if (c == '\n') indented += "      ";
    }
    log_.Emit("function",
              {{"id", id}, {"name", Utf8(function.name)}, {"params", params}, {"help", help}},
              "function " + std::to_string(id) + ": " + signature + "\n      " + indented);
  }
  return 0;
}

int SimHost::Settings(const std::string& projectDir, const std::string& archiveName,
                      const Scenario* plant, const HostOptions& options) {
  std::string error;
  if (plant != nullptr) {
    selectAnswer_ = plant->selectVariable;
    for (const Variable& variable : plant->variables)
      plant_.AddVariable(variable, error);
    for (const auto& [tag, script] : plant->scripts)
      scripts_[tag] = script;
  }
  projectDir_ = std::filesystem::absolute(projectDir).lexically_normal().string();
  while (projectDir_.size() > 1 && projectDir_.back() == '/')
    projectDir_.pop_back();
  if (!LoadModule(options, error) || !CreatePlugin(error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return 1;
  }
  std::string archivePath = projectDir_ + "/" + archiveName;
  LoadProject(archivePath);
  int result = plugin_->ShowSettings();
  log_.Emit("settings", {{"result", result}},
            result == 1 ? "settings confirmed with OK" : "settings closed without OK");
  if (result == 1 && !SaveProject(archivePath)) return 1;
  DestroyPlugin();
  return 0;
}

}  // namespace pagorin::sim

namespace pagorin::sim {

void SimHost::AcknowledgeAlarms(const std::string& which) {
  std::vector<AlarmChange> changes;
  int count = plant_.Acknowledge(which, changes);
  log_.Emit("ack", {{"target", Utf8(which)}, {"count", count}},
            "operator acknowledges " + Utf8(which) + " (" + std::to_string(count) + " alarm(s))");
  ReportChanges(changes);
}

int SimHost::OpenSettings() {
  if (plugin_ == nullptr) return 0;
  int result = plugin_->ShowSettings();
  log_.Emit("settings", {{"result", result}},
            result == 1 ? "settings confirmed with OK" : "settings closed without OK");
  if (result == 1) ReadPluginConfig();
  return result;
}

}  // namespace pagorin::sim

namespace pagorin::sim {

void SimHost::SetVariableFromText(const std::string& name, const std::string& utf8Text) {
  const Variable* variable = plant_.Find(name);
  if (variable == nullptr) return;
  if (variable->type == kTextType) {
    WriteVariable(name, ScriptValue::Text(Cp936(utf8Text)));
  } else {
    WriteVariable(name, ScriptValue::Number(std::strtod(utf8Text.c_str(), nullptr)));
  }
}

}  // namespace pagorin::sim

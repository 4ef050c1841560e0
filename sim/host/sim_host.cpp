#include "sim_host.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "file_archive.h"
#include "host/host_report.h"
#include "platform/archive.h"
#include "platform/code_page.h"
#include "platform/file_io.h"
#include "plugin_config.h"
#include "sim_os.h"
#include "stop_request.h"

namespace pagorin::sim {
namespace {

// The host cycle, in milliseconds, while the modem owes a reply.
constexpr int kBusyCycleMs = 2;

std::string Number(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

// The simulator that hears the plug-in's reports; one runs per process.
SimHost* reportTarget = nullptr;

// The value of `key=<n>` in a report such as "resent=2 failed=0 earlier=5"; 0 when missing.
int ReportCount(std::string_view text, std::string_view key) {
  const std::string wanted = std::string(key) + "=";
  std::size_t at = text.find(wanted);
  if (at == std::string_view::npos) return 0;
  int value = 0;
  for (at += wanted.size(); at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (value > 100000000) break;
    value = value * 10 + (text[at] - '0');
  }
  return value;
}

}  // namespace

void ReceivePluginReport(int kind, const char* text) noexcept {
  if (reportTarget == nullptr || text == nullptr) return;
  try {
    reportTarget->Report(kind, text);
  } catch (...) {
  }
}

PluginModule::~PluginModule() {
  Unload();
}

SimHost::SimHost(EventLog& log) : log_(log), services_(log), watch_(log) {
  log_.SetClock([this] { return clock_.Seconds(); });
  reportTarget = this;
}

SimHost::~SimHost() {
  DestroyPlugin();
  if (reportTarget == this) reportTarget = nullptr;
}

void SimHost::Report(int kind, std::string_view text) {
  const std::string utf8 = Utf8(text);
  switch (static_cast<HostReportKind>(kind)) {
    case HostReportKind::kModemStatus:
      log_.Emit("modem_status", {{"text", utf8}}, "modem status: " + utf8);
      break;
    case HostReportKind::kConfigLoad:
      log_.Emit("config_problem", {{"text", utf8}},
                "warning: the plug-in's configuration: " + utf8);
      break;
    case HostReportKind::kConfigSave:
      log_.Emit("config_save_failed", {{"text", utf8}},
                "error: the plug-in could not save its configuration: " + utf8);
      break;
    case HostReportKind::kOutboxStarted: {
      const int resent = ReportCount(text, "resent");
      const int failed = ReportCount(text, "failed");
      const int earlier = ReportCount(text, "earlier");
      log_.Emit("outbox_started", {{"resent", resent}, {"failed", failed}, {"earlier", earlier}},
                "outbox started: " + std::to_string(resent) +
                    " message(s) an earlier run left unsent queued again, " +
                    std::to_string(failed) + " recorded as failed instead; the send record shows " +
                    std::to_string(earlier) + " message(s) of earlier runs from the history");
      break;
    }
    case HostReportKind::kRecordsProblem:
      log_.Emit("records_problem", {{"text", utf8}},
                utf8.empty() ? std::string("the plug-in's records: the problem cleared")
                             : "warning: the plug-in's records: " + utf8);
      break;
    default:
      log_.Emit("plugin_report", {{"kind", kind}, {"text", utf8}},
                "the plug-in reports (" + std::to_string(kind) + "): " + utf8);
      break;
  }
}

std::string SimHost::AnnounceCrash(const std::string& nextScenario) {
  namespace fs = std::filesystem;
  std::string next;
  if (!nextScenario.empty()) {
    fs::path path = nextScenario;
    if (path.is_relative()) path = fs::path(scenario_->file).parent_path() / path;
    next = path.lexically_normal().string();
  }
  log_.Emit("crash", {{"restart", next.empty() ? nlohmann::json() : nlohmann::json(next)}},
            "crash: the host process ends here, without DeleteSuperWizard and without a summary" +
                (next.empty() ? std::string() : "; a new host process runs " + next));
  return next;
}

void SimHost::LeaveRecordsAtCrash() {
  namespace fs = std::filesystem;
  for (const auto& line : modemLog_.NewLines())
    watch_.Delivered(line, clock_.Ms());
  ShowHistory();
  ShowReceived();
  if (!workDir_.empty()) {
    std::error_code ignored;
    fs::remove_all(workDir_, ignored);
  }
  std::fflush(stdout);
  std::fflush(stderr);
}

void SimHost::ShowHistory() {
  for (const HistoryLine& line : history_.NewLines()) {
    std::string who = line.number + (line.name.empty() ? "" : " " + line.name);
    std::string human = "history: " + line.stateWord + " " + who + " (" + line.origin + "), " +
                        std::to_string(line.attempts) + " attempt(s)";
    if (!line.reference.empty()) human += ", 参考号 " + line.reference;
    if (!line.reason.empty()) human += ", 原因 " + line.reason;
    human += ": " + line.text;
    log_.Emit("history",
              {{"state", line.state},
               {"stateWord", line.stateWord},
               {"queued", line.queued},
               {"ended", line.ended},
               {"number", line.number},
               {"name", line.name},
               {"origin", line.origin},
               {"text", line.text},
               {"attempts", line.attempts},
               {"reference", line.reference},
               {"reason", line.reason}},
              human);
  }
}

void SimHost::ShowReceived() {
  for (const ReceivedLine& line : received_.NewLines()) {
    std::string who = line.number + (line.name.empty() ? "" : " " + line.name);
    std::string human = "received: " + line.stateWord + " from " + who;
    if (!line.centreTime.empty()) human += " (短信中心 " + line.centreTime + ")";
    human += ": " + line.text;
    log_.Emit("received",
              {{"state", line.state},
               {"stateWord", line.stateWord},
               {"received", line.received},
               {"centreTime", line.centreTime},
               {"number", line.number},
               {"name", line.name},
               {"text", line.text}},
              human);
  }
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
  plugin_ = module_.Create(&services_);
  if (plugin_ == nullptr) {
    error = "CreateSuperWizard returned no plug-in object";
    return false;
  }
  services_.Attach(plugin_);
  const std::string name = Utf8(services_.PluginName());
  const std::size_t functions = services_.Functions().size();
  log_.Emit("plugin_created", {{"name", name}, {"functions", functions}},
            "plug-in \"" + name + "\" created, " + std::to_string(functions) +
                " script functions registered");
  return true;
}

void SimHost::DestroyPlugin() {
  if (plugin_ == nullptr) return;
  services_.Attach(nullptr);
  if (!road_) {
    module_.Delete(plugin_);
    plugin_ = nullptr;
    return;
  }
  // A plug-in that goes waits a few seconds for the verdict on a PDU the modem already has. As
  // for a real host, time and the line go on meanwhile: the modem's reply is relayed and its
  // delay runs out on the shared clock.
  std::atomic<bool> gone{false};
  clock_.SetClosing(true);
  std::thread deleter([this, &gone] {
    module_.Delete(plugin_);
    gone = true;
  });
  while (!gone)
    AdvanceTime(kBusyCycleMs);
  deleter.join();
  clock_.SetClosing(false);
  plugin_ = nullptr;
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
  return true;
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
    if (!sim::CheckScript(script, services_, why)) {
      error = scenario.file + ": the script of " + Utf8(tag) + " does not check: " + Utf8(why);
      return false;
    }
  }
  for (const Step& step : scenario.steps) {
    switch (step.kind) {
      case Step::Kind::kSet:
        for (const auto& [name, value] : step.values) {
          if (services_.GetPlant().Find(name) == nullptr)
            return at(step, "no variable named " + Utf8(name));
        }
        break;
      case Step::Kind::kAck:
        if (step.text != "all" && services_.GetPlant().Find(step.text) == nullptr) {
          bool tag = false;
          for (const auto& v : services_.GetPlant().Variables())
            tag = tag || TagOf(v.name) == step.text;
          if (!tag) return at(step, "nothing to acknowledge under the name " + Utf8(step.text));
        }
        break;
      case Step::Kind::kScript: {
        std::string why;
        if (!sim::CheckScript(step.text, services_, why)) return at(step, "script: " + Utf8(why));
        break;
      }
      case Step::Kind::kCall: {
        const RegisteredFunction* function = services_.FindFunction(step.text);
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

namespace {

// An absolute folder without a trailing separator.
std::string ProjectFolder(const std::string& dir) {
  std::string folder = std::filesystem::absolute(dir).lexically_normal().string();
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  return folder;
}

}  // namespace

int SimHost::Begin(const Scenario& scenario, const HostOptions& options) {
  options_ = options;
  services_.SetVerbose(options.verbose);
  scenario_ = &scenario;
  wallStart_ = std::chrono::steady_clock::now();
  services_.SetProjectDir(ProjectFolder(scenario.projectDir));
  archiveName_ = scenario.archiveName;
  clock_.SetSpeed(options.speed >= 0 ? options.speed : scenario.speed);
  graceMs_ = scenario.graceMs;
  services_.SetUser(scenario.user);
  services_.SetSelectAnswer(scenario.selectVariable);
  for (const auto& [tag, script] : scenario.scripts)
    services_.AttachScriptTo(tag, script);
  std::string error;
  for (const Variable& variable : scenario.variables) {
    if (!services_.GetPlant().AddVariable(variable, error)) {
      log_.Emit("error", {{"text", error}}, "error: " + error);
      return 2;
    }
  }
  const std::string& projectDir = services_.ProjectDir();
  log_.Emit("scenario", {{"file", scenario.file}, {"project", projectDir}},
            "scenario " + scenario.file + ", project folder " + projectDir);
  if (!MakeWorkDir() || !PrepareProject()) return 1;
  if (const int earlier = history_.Start(services_.ProjectDir()); earlier > 0) {
    log_.Emit("history_file", {{"earlier", earlier}},
              "the send history " + std::string(SendHistoryTail::kFileName) + " holds " +
                  std::to_string(earlier) + " line(s) of earlier runs");
  }
  if (const int earlier = received_.Start(services_.ProjectDir()); earlier > 0) {
    log_.Emit("received_file", {{"earlier", earlier}},
              "the record of received messages " + std::string(ReceivedTail::kFileName) +
                  " holds " + std::to_string(earlier) + " line(s) of earlier runs");
  }
  comIndex_ = ConfiguredComIndexIn(services_.ProjectDir());
  if (!StartModem(scenario, options)) return 1;

  if (!LoadModule(options, error) || !CreatePlugin(error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return 1;
  }
  if (!CheckScenario(scenario, error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return 2;
  }
  LoadProject(projectDir + "/" + archiveName_);

  services_.SetRunMode(true);
  clock_.Reset();
  plugin_->Start(0);
  log_.Emit("started", {}, "project running");
  return 0;
}

bool SimHost::MakeWorkDir() {
  workDir_ = os::MakeTempFolder("veltrane-sim-");
  if (workDir_.empty()) {
    log_.Emit("error", {{"text", "cannot make a work folder"}}, "error: cannot make a work folder");
    return false;
  }
  return true;
}

bool SimHost::PrepareProject() {
  namespace fs = std::filesystem;
  const fs::path dir = services_.ProjectDir();
  std::error_code error;
  if (fs::exists(dir / kConfigFileName, error)) return true;
  const bool haveUtf8 = fs::exists(dir / kUtf8ConfigFileName, error);
  const fs::path copy = fs::path(workDir_) / "project";
  auto fail = [&](const std::string& why) {
    log_.Emit("error", {{"text", why}}, "error: " + why);
    return false;
  };
  if (!fs::create_directory(copy, error)) return fail("cannot make " + copy.string());
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
    if (!entry.is_regular_file(error)) continue;
    const std::string name = entry.path().filename().string();
    if (name == kUtf8ConfigFileName) {
      std::string text, why;
      if (!platform::ReadWholeFile(entry.path().string(), text, why)) return fail(why);
      if (!platform::ReplaceFile((copy / kConfigFileName).string(), platform::Utf8ToCp936(text),
                                 why))
        return fail(why);
    } else if (!fs::copy_file(entry.path(), copy / name, error)) {
      return fail("cannot copy " + entry.path().string() + ": " + error.message());
    }
  }
  if (error) return fail("cannot read the project folder " + dir.string() + ": " + error.message());
  if (haveUtf8) {
    log_.Emit("project_copy",
              {{"project", dir.string()}, {"copy", copy.string()}, {"converted", true}},
              "the project folder keeps its configuration in UTF-8 (" +
                  std::string(kUtf8ConfigFileName) + "): running from a copy in " + copy.string() +
                  ", so nothing is written to " + dir.string());
  } else {
    log_.Emit("warning",
              {{"text", "no configuration in the project folder"},
               {"project", dir.string()},
               {"copy", copy.string()}},
              std::string("warning: no ") + kConfigFileName + " in " + dir.string() +
                  ": the plug-in starts with an empty configuration and sends no alarm message. "
                  "Running from a copy in " +
                  copy.string() + ", so nothing is written there.");
  }
  services_.SetProjectDir(copy.string());
  return true;
}

bool SimHost::WaitIsOver(const Step& step) const {
  if (step.waitHistory >= 0) {
    const HistoryCounts& seen = history_.Counts();
    return seen.sent + seen.failed + seen.refused >= step.waitHistory;
  }
  if (step.waitReports >= 0) {
    const HistoryCounts& seen = history_.Counts();
    return seen.delivered + seen.undelivered >= step.waitReports;
  }
  if (step.waitReceived >= 0) return received_.Counts().messages >= step.waitReceived;
  if (!step.waitIdle) return watch_.Counts().delivered >= step.waitDelivered;
  return !RoadBusy() && !services_.AnswerDue() && watch_.Quiet(clock_.Ms());
}

bool SimHost::StepOnce() {
  const Scenario& scenario = *scenario_;
  if (ended_) return false;
  if (const int signal = StopSignal(); signal != 0) {
    log_.Emit("stopped", {{"signal", signal}},
              std::string("stopped by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    exitCode_ = 128 + signal;
    ended_ = true;
    return false;
  }
  const std::uint64_t limitMs = static_cast<std::uint64_t>(scenario.limit * 1000.0);
  services_.Cycle();
  Pump(0);
  while (!ended_ && nextStep_ < scenario.steps.size()) {
    const Step& step = scenario.steps[nextStep_];
    const std::uint64_t now = clock_.Ms();
    std::uint64_t due = step.hasAt ? static_cast<std::uint64_t>(step.at * 1000.0)
                                   : stepBase_ + static_cast<std::uint64_t>(step.after * 1000.0);
    if (now < due) break;
    if (step.kind == Step::Kind::kWaitFor) {
      if (!waiting_) {
        waiting_ = true;
        waitStart_ = now;
      }
      bool done = WaitIsOver(step);
      if (!done && now - waitStart_ < static_cast<std::uint64_t>(step.timeout * 1000.0)) break;
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
    stepBase_ = clock_.Ms();
    ++nextStep_;
  }
  // A scripted run ends after its last step; in a window the user ends it.
  if (nextStep_ >= scenario.steps.size() && !interactive_) ended_ = true;
  if (clock_.Ms() >= limitMs && !ended_ && !interactive_) {
    log_.Emit("limit", {}, "the run reached its limit of " + Number(scenario.limit) + " s");
    ended_ = true;
  }
  if (!ended_) AdvanceTime(scenario.cycleMs);
  return !ended_;
}

int SimHost::Finish() {
  // What is still on the line shows up before the summary.
  Pump(50);
  watch_.Close(clock_.Ms());
  DestroyPlugin();
  services_.SetRunMode(false);
  if (road_) road_->Stop();
  Pump(0);
  ShowHistory();
  ShowReceived();
  if (scenario_ != nullptr) Check(scenario_->expectations, "end");
  RunFigures figures;
  figures.host = services_.Counts();
  figures.expect = expectCounts_;
  figures.dialogue = watch_.Counts();
  figures.history = history_.Counts();
  figures.received = received_.Counts();
  figures.simSeconds = clock_.Seconds();
  figures.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart_).count();
  figures.realModem = realModem_;
  EmitSummary(log_, figures);
  if (!workDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
  }
  return exitCode_;
}

bool SimHost::RunStep(const Step& step) {
  switch (step.kind) {
    case Step::Kind::kSet:
      for (const auto& [name, value] : step.values)
        services_.WriteVariable(name, value);
      break;
    case Step::Kind::kAck:
      services_.AcknowledgeAlarms(step.text);
      break;
    case Step::Kind::kScript:
      services_.RunHostScript(step.text);
      break;
    case Step::Kind::kCall:
      if (const RegisteredFunction* function = services_.FindFunction(step.text))
        services_.Call(*function, step.args);
      break;
    case Step::Kind::kSave:
      SaveProject(services_.ProjectDir() + "/" + (step.text.empty() ? archiveName_ : step.text));
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
      LoadProject(services_.ProjectDir() + "/" + (step.text.empty() ? archiveName_ : step.text));
      plugin_->Start(0);
      log_.Emit("started", {}, "project running again");
      break;
    }
    case Step::Kind::kRestart:
      if (!Restart()) {
        exitCode_ = 1;
        ended_ = true;
      }
      break;
    case Step::Kind::kCrash:
      Crash(step.text);
    case Step::Kind::kUnanswered:
      services_.LeaveUnanswered(step.count);
      break;
    case Step::Kind::kEnd:
      ended_ = true;
      break;
    case Step::Kind::kUser:
      services_.SetUser(step.text);
      log_.Emit("user", {{"name", Utf8(step.text)}}, "user " + Utf8(step.text) + " logged in");
      break;
    case Step::Kind::kSay:
      log_.Emit("say", {{"text", step.text}}, "== " + step.text);
      break;
    case Step::Kind::kReply:
      // The modem simulator has the message planned since it started; its log shows it arrive.
      log_.Emit("phone_writes", {{"from", step.replyFrom}, {"text", step.text}},
                "PHONE " + step.replyFrom + " writes: " + step.text);
      break;
    case Step::Kind::kExpect:
      Check({step.expect}, "step");
      break;
    case Step::Kind::kWaitFor:
      break;
  }
  return true;
}

void SimHost::Check(const std::vector<PhoneExpectation>& expectations, std::string_view when) {
  if (expectations.empty()) return;
  if (realModem_) {
    // What a real modem's phones got is not known here.
    expectCounts_.unchecked += static_cast<int>(expectations.size());
    log_.Emit("expect_unchecked", {{"count", expectations.size()}, {"when", when}},
              "warning: " + std::to_string(expectations.size()) +
                  " expectation(s) not checked: no modem log tells what the phones got");
    return;
  }
  const int failedBefore = expectCounts_.failed;
  CheckExpectations(log_, expectations, watch_.Shown(), when, expectCounts_);
  if (expectCounts_.failed > failedBefore && exitCode_ == 0) exitCode_ = 3;
}

bool SimHost::Restart() {
  DestroyPlugin();
  module_.Unload();
  log_.Emit("host_closed", {},
            "the host closed the project and unloaded the module (DeleteSuperWizard called)");
  std::string error;
  if (!LoadModule(options_, error) || !CreatePlugin(error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return false;
  }
  LoadProject(services_.ProjectDir() + "/" + archiveName_);
  plugin_->Start(0);
  log_.Emit("started", {}, "project running again in the restarted host");
  return true;
}

void SimHost::Pump(int waitMs) {
  std::vector<TranscriptLine> lines;
  if (road_) {
    road_->Pump(waitMs, lines);
  } else if (waitMs > 0) {
    // A real modem is the plug-in's own: nothing to relay, so the wait is a sleep.
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
  }
  for (const auto& line : lines)
    watch_.Transcript(line, clock_.Ms());
  ShowHistory();
  ShowReceived();
  // The modem writes its log before its final reply; the phone's line reads better after it.
  if (road_ && road_->AwaitingReply(graceMs_)) return;
  for (const auto& line : modemLog_.NewLines())
    watch_.Delivered(line, clock_.Ms());
}

bool SimHost::RoadBusy() const {
  // A thread of the plug-in that is woken but has not yet run (a loaded machine) would otherwise
  // see simulated seconds go by before it puts a message it already holds on the line.
  return road_ && (road_->Busy(graceMs_) || os::OtherThreadsAtWork());
}

void SimHost::AdvanceTime(int stepMs) {
  clock_.Advance(stepMs, RoadBusy(), kBusyCycleMs, [this](int waitMs) { Pump(waitMs); });
}

// ---------------------------------------------------------------------------------------------
// The two other commands.

int SimHost::ListFunctions(const HostOptions& options) {
  std::string error;
  services_.SetProjectDir(std::filesystem::current_path().string());
  if (!LoadModule(options, error) || !CreatePlugin(error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return 1;
  }
  for (const auto& [id, function] : services_.Functions()) {
    std::string signature = "#" + Utf8(services_.PluginName()) + "." + Utf8(function.name) + "(";
    nlohmann::json params = nlohmann::json::array();
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
    services_.SetSelectAnswer(plant->selectVariable);
    for (const Variable& variable : plant->variables)
      services_.GetPlant().AddVariable(variable, error);
    for (const auto& [tag, script] : plant->scripts)
      services_.AttachScriptTo(tag, script);
  }
  services_.SetProjectDir(ProjectFolder(projectDir));
  if (!LoadModule(options, error) || !CreatePlugin(error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return 1;
  }
  std::string archivePath = services_.ProjectDir() + "/" + archiveName;
  LoadProject(archivePath);
  int result = plugin_->ShowSettings();
  log_.Emit("settings", {{"result", result}},
            result == 1 ? "settings confirmed with OK" : "settings closed without OK");
  if (result == 1 && !SaveProject(archivePath)) return 1;
  DestroyPlugin();
  return 0;
}

int SimHost::OpenSettings() {
  if (plugin_ == nullptr) return 0;
  int result = plugin_->ShowSettings();
  log_.Emit("settings", {{"result", result}},
            result == 1 ? "settings confirmed with OK" : "settings closed without OK");
  return result;
}

void SimHost::SetVariableFromText(const std::string& name, const std::string& utf8Text) {
  const Variable* variable = services_.GetPlant().Find(name);
  if (variable == nullptr) return;
  if (variable->type == kTextType) {
    services_.WriteVariable(name, ScriptValue::Text(Cp936(utf8Text)));
  } else {
    services_.WriteVariable(name, ScriptValue::Number(std::strtod(utf8Text.c_str(), nullptr)));
  }
}

}  // namespace pagorin::sim

// veltrane-sim's host: it loads the plug-in module exactly as the real host does (dlopen and the
// two exports), implements every host operation over a simulated plant, and drives the plug-in
// through a scenario on the host's steady run loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/super_wizard.h"
#include "event_log.h"
#include "modem_link.h"
#include "plant.h"
#include "plugin_config.h"
#include "scenario.h"
#include "script.h"

namespace pagorin::sim {

// The simulated millisecond tick count that the plug-in reads as its clock.
std::uint32_t SimTicks() noexcept;

struct HostOptions {
  std::string modulePath;
  std::string modemSimPath;
  std::vector<std::string> modemArgs;  // extra options for the modem simulator
  std::string modemDevice;             // a real modem; empty for the simulator
  std::string modemLogPath;            // keep the modem simulator's log here
  double speed = -1;                   // overrides the scenario's speed when >= 0
  bool verbose = false;
};

struct RegisteredFunction {
  int id = 0;
  std::string name;  // code page 936
  std::string help;
  std::vector<std::pair<int, std::string>> params;  // type code, name
};

// The plug-in module, loaded through its two exports.
class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  bool Load(const std::string& path, std::string& error);
  SuperWizard* Create(HostApplication* host) const noexcept { return create_(host); }
  void Delete(SuperWizard* plugin) const noexcept { delete_(plugin); }

 private:
  void* handle_ = nullptr;
  CreateSuperWizardFunction create_ = nullptr;
  DeleteSuperWizardFunction delete_ = nullptr;
};

class SimHost final : public HostApplication, public ScriptContext, public TextSource {
 public:
  explicit SimHost(EventLog& log);
  ~SimHost();

  // Runs a scenario from start to end; returns the process exit code.
  int Run(const Scenario& scenario, const HostOptions& options);

  // The same in three parts, for a caller with a loop of its own: Begin (0 when the run could
  // start, else the exit code), StepOnce (one host cycle; false once the run ended), Finish (the
  // summary; the exit code). `scenario` must outlive the run.
  int Begin(const Scenario& scenario, const HostOptions& options);
  bool StepOnce();
  int Finish();
  // A run that does not end after the last step of its scenario, only when ended.
  void SetInteractive(bool interactive) noexcept { interactive_ = interactive; }
  void End() noexcept { ended_ = true; }

  // For a window onto the run.
  const Plant& GetPlant() const noexcept { return plant_; }
  double SimSeconds() const noexcept { return static_cast<double>(simMs_) / 1000.0; }
  // The operator acknowledges the alarms of a variable, a tag, or "all".
  void AcknowledgeAlarms(const std::string& which);
  // Sets a variable from text typed by a user (UTF-8): a number for a number variable.
  void SetVariableFromText(const std::string& name, const std::string& utf8Text);
  // Opens the plug-in's settings while the project runs; 1 when they ended with OK.
  int OpenSettings();
  // Prints the plug-in's script functions with their parameters and help texts.
  int ListFunctions(const HostOptions& options);
  // Opens the plug-in's settings for a project folder and stores the project on OK; the
  // variables and scripts of `plant` (may be null) are what the dialogs can choose from.
  int Settings(const std::string& projectDir, const std::string& archiveName, const Scenario* plant,
               const HostOptions& options);

  // HostApplication
  std::string SelectVariable(int reserved1, int reserved2, const char* current) noexcept override;
  int IsRunMode() noexcept override;
  void AttachScript(const char* tagName, const char* script) noexcept override;
  int SelectScript(const char* tagName) noexcept override;
  int CheckScript(const char* script) noexcept override;
  void RunScript(const char* script) noexcept override;
  int IsVariable(const char* text) noexcept override;
  void GetNumberValue(const char* name, double& value) noexcept override;
  void GetTextValue(const char* name, std::string& value) noexcept override;
  void RequestTimedOut() noexcept override;
  void* GetMainWindow() noexcept override;
  void WatchVariable(const char* name) noexcept override;
  std::string GetProjectPath(std::string& path) noexcept override;
  void RegisterFunction(int id, const char* name, const char* help) noexcept override;
  void AddFunctionParameter(int id, int typeCode, const char* name) noexcept override;
  void NotifyCreated(int value) noexcept override;
  void AttachWindow(PluginWindow* window) noexcept override;
  void GetVariableType(const char* name, int& type) noexcept override;

  // ScriptContext
  bool HasVariable(std::string_view name) override;
  ScriptValue ReadVariable(std::string_view name) override;
  void WriteVariable(std::string_view name, const ScriptValue& value) override;
  int FunctionArity(std::string_view object, std::string_view function) override;
  void CallFunction(std::string_view object, std::string_view function,
                    const std::vector<ScriptValue>& args) override;
  void Print(std::string_view text) override;

  // TextSource
  std::string TextValue(std::string_view name) override;
  double NumberValue(std::string_view name) override;

 private:
  struct Counters {
    int alarmsRaised = 0, alarmsAcknowledged = 0, alarmsResumed = 0, alarmsCleared = 0;
    int requests = 0, answered = 0, unanswered = 0, timedOut = 0;
    int queuedAlarm = 0, queuedScript = 0, refused = 0;
    int commands = 0, sent = 0, delivered = 0, dropped = 0, timeouts = 0;
  };

  bool LoadModule(const HostOptions& options, std::string& error);
  bool CreatePlugin(std::string& error);
  void DestroyPlugin();
  bool LoadProject(const std::string& archivePath);
  bool SaveProject(const std::string& archivePath);
  void ReadPluginConfig();
  bool CheckScenario(const Scenario& scenario, std::string& error);

  void Cycle();
  void AnswerRequest();
  void PredictDispatch(const std::vector<AlarmEvent>& records);
  bool RunStep(const Step& step);  // false while a wait is not over
  void ReportChanges(const std::vector<AlarmChange>& changes);
  void Pump(int waitMs);
  void Transcript(const TranscriptLine& line);
  void Delivered(const std::string& jsonLine);
  void AdvanceTime(int stepMs);
  void Summary(double wallSeconds);
  const RegisteredFunction* FindFunction(std::string_view name) const;
  void Call(const RegisteredFunction& function, const std::vector<ScriptValue>& args);
  std::string AlarmText(const Alarm& alarm) const;

  EventLog& log_;
  Plant plant_;
  PluginModule module_;
  SuperWizard* plugin_ = nullptr;
  std::string pluginName_;
  std::string projectDir_;
  std::string archiveName_ = "project.vpa";
  PluginConfig config_;
  bool haveConfig_ = false;
  std::map<int, RegisteredFunction> functions_;
  std::map<std::string, std::string> scripts_;  // tag -> attached script
  std::string selectedScript_;
  std::string userName_ = "operator";
  std::string selectAnswer_;  // the scripted answer to SelectVariable; empty: ask or keep
  int runMode_ = 0;
  bool verbose_ = false;

  // The alarm request cycle.
  bool answerDue_ = false;
  int leaveUnanswered_ = 0;
  bool firstAnswer_ = true;
  std::vector<AlarmEvent> lastAnswer_;

  // The modem.
  std::unique_ptr<ModemProcess> modem_;
  std::unique_ptr<SerialRelay> relay_;
  LogTail modemLog_;
  bool realModem_ = false;
  int graceMs_ = 1500;
  bool dialogueOpen_ = false;
  bool pduWritten_ = false;
  int consecutiveTimeouts_ = 0;
  std::uint64_t lastCommandMs_ = 0;
  std::string lastCommandText_;
  std::uint64_t lastActivityMs_ = 0;

  // Time.
  std::uint64_t simMs_ = 0;
  double speed_ = 0;
  std::uint64_t anchorSimMs_ = 0;
  double anchorRate_ = -1;
  std::int64_t anchorRealUs_ = 0;

  // The run.
  const Scenario* scenario_ = nullptr;
  std::chrono::steady_clock::time_point wallStart_{};
  std::string workDir_;
  std::size_t nextStep_ = 0;
  std::uint64_t stepBase_ = 0;  // when the previous step finished
  std::uint64_t waitStart_ = 0;
  bool waiting_ = false;
  bool interactive_ = false;
  bool ended_ = false;
  int exitCode_ = 0;
  Counters counters_;
};

}  // namespace pagorin::sim

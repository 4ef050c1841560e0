// The host's services for the plug-in: the operations of the host interface over a simulated
// plant, the values scripts and message texts read, the registered script functions, and the
// alarm request cycle on the host's run loop.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "event_log.h"
#include "host/super_wizard.h"
#include "plant.h"
#include "run_summary.h"
#include "script.h"

namespace pagorin::sim {

struct RegisteredFunction {
  int id = 0;
  std::string name;  // code page 936
  std::string help;
  std::vector<std::pair<int, std::string>> params;  // type code, name
};

class HostServices final : public HostApplication, public ScriptContext {
 public:
  explicit HostServices(EventLog& log) : log_(log) {}

  // Hands the services a new plug-in object (it registers its functions now); null detaches.
  void Attach(SuperWizard* plugin);
  SuperWizard* Plugin() const noexcept { return plugin_; }
  const std::string& PluginName() const noexcept { return pluginName_; }
  const std::map<int, RegisteredFunction>& Functions() const noexcept { return functions_; }
  // A registered function by name, case ignored; null when there is none.
  const RegisteredFunction* FindFunction(std::string_view name) const;
  // Calls the plug-in's `function` with `args`, converted to its parameter types.
  void Call(const RegisteredFunction& function, const std::vector<ScriptValue>& args);

  Plant& GetPlant() noexcept { return plant_; }
  const Plant& GetPlant() const noexcept { return plant_; }
  void SetProjectDir(std::string dir) { projectDir_ = std::move(dir); }
  const std::string& ProjectDir() const noexcept { return projectDir_; }
  void AttachScriptTo(const std::string& tag, const std::string& script) { scripts_[tag] = script; }
  void SetUser(std::string name) { userName_ = std::move(name); }
  const std::string& User() const noexcept { return userName_; }
  // The scripted answer to SelectVariable; empty: ask on a terminal or keep the current one.
  void SetSelectAnswer(std::string answer) { selectAnswer_ = std::move(answer); }
  void SetRunMode(bool running) noexcept { runMode_ = running ? 1 : 0; }
  void SetVerbose(bool verbose) noexcept { verbose_ = verbose; }

  // One host cycle: answers a request that is due, takes a new one, and ticks the plug-in.
  void Cycle();
  // Leaves the next `count` alarm requests unanswered.
  void LeaveUnanswered(int count);
  bool AnswerDue() const noexcept { return answerDue_; }

  // The operator acknowledges the alarms of a variable, a tag, or "all".
  void AcknowledgeAlarms(const std::string& which);
  // Runs a script of the host's own (a scenario step).
  void RunHostScript(const std::string& script);

  const HostCounts& Counts() const noexcept { return counts_; }

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

  // The values the plug-in reads: a variable's text (a number as text), "$UserName"; an
  // unknown variable reads empty (or 0) with a warning.
  std::string TextValue(std::string_view name);
  double NumberValue(std::string_view name);

 private:
  void AnswerRequest();
  void ReportChanges(const std::vector<AlarmChange>& changes);

  EventLog& log_;
  Plant plant_;
  SuperWizard* plugin_ = nullptr;
  std::string pluginName_;
  std::string projectDir_;
  std::map<int, RegisteredFunction> functions_;
  std::map<std::string, std::string> scripts_;  // tag -> attached script
  std::string selectedScript_;
  std::string userName_ = "operator";
  std::string selectAnswer_;
  int runMode_ = 0;
  bool verbose_ = false;
  bool answerDue_ = false;
  int leaveUnanswered_ = 0;
  HostCounts counts_;
};

}  // namespace pagorin::sim

// veltrane-sim's host: it loads the plug-in module exactly as the real host does (dlopen or
// LoadLibraryW and the two exports) and drives the plug-in through a scenario on the host's steady
// run loop. The host operations are the host services' (host_services.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dialogue_watch.h"
#include "event_log.h"
#include "host/super_wizard.h"
#include "host_services.h"
#include "modem_lines.h"
#include "paced_clock.h"
#include "plant.h"
#include "received_tail.h"
#include "scenario.h"
#include "send_history_tail.h"

namespace pagorin::sim {

struct HostOptions {
  std::string modulePath;
  std::string modemSimPath;
  std::vector<std::string> modemArgs;  // extra options for the modem simulator
  std::string modemDevice;             // a real modem; empty for the simulator
  std::string modemLogPath;            // keep the modem simulator's log here
  double speed = -1;                   // overrides the scenario's speed when >= 0
  bool verbose = false;
};

// The plug-in module, loaded through its two exports.
class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  bool Load(const std::string& path, std::string& error);
  // Unloads the module; Load may follow.
  void Unload() noexcept;
  SuperWizard* Create(HostApplication* host) const noexcept { return create_(host); }
  void Delete(SuperWizard* plugin) const noexcept { delete_(plugin); }

 private:
  void* handle_ = nullptr;
  CreateSuperWizardFunction create_ = nullptr;
  DeleteSuperWizardFunction delete_ = nullptr;
};

// The scenario runner: it loads the module, starts the modem road, and drives the plug-in
// through the scenario's steps on the host's run loop. What each part owns lives in the part:
// the host services, the dialogue watch and the paced clock. The scenario's expectations are
// judged against what the phones showed, at an expect step and when the run ends.
class SimHost final {
 public:
  explicit SimHost(EventLog& log);
  ~SimHost();
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

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
  const Plant& GetPlant() const noexcept { return services_.GetPlant(); }
  double SimSeconds() const noexcept { return clock_.Seconds(); }
  // The operator acknowledges the alarms of a variable, a tag, or "all".
  void AcknowledgeAlarms(const std::string& which) { services_.AcknowledgeAlarms(which); }
  // Sets a variable from text typed by a user (UTF-8): a number for a number variable.
  void SetVariableFromText(const std::string& name, const std::string& utf8Text);
  // Opens the plug-in's settings while the project runs; 1 when they ended with OK.
  int OpenSettings();
  // What the plug-in reports to a host that listens (host/host_report.h): shown as events.
  void Report(int kind, std::string_view text);
  // Prints the plug-in's script functions with their parameters and help texts.
  int ListFunctions(const HostOptions& options);
  // Opens the plug-in's settings for a project folder and stores the project on OK; the
  // variables and scripts of `plant` (may be null) are what the dialogs can choose from.
  int Settings(const std::string& projectDir, const std::string& archiveName, const Scenario* plant,
               const HostOptions& options);

 private:
  bool LoadModule(const HostOptions& options, std::string& error);
  bool CreatePlugin(std::string& error);
  void DestroyPlugin();
  bool LoadProject(const std::string& archivePath);
  bool SaveProject(const std::string& archivePath);
  bool CheckScenario(const Scenario& scenario, std::string& error);
  bool MakeWorkDir();
  // A project folder without the module's configuration runs from a copy in the work folder,
  // with a UTF-8 configuration converted; false on failure.
  bool PrepareProject();
  // Starts the modem simulator behind the relay, or names the modem that the plug-in opens
  // itself; false on failure. (sim_host_posix.cpp, sim_host_win32.cpp)
  bool StartModem(const Scenario& scenario, const HostOptions& options);

  bool RunStep(const Step& step);  // false while a wait is not over
  // Compares `expectations` with what the phones showed so far; a failure makes the exit code 3.
  void Check(const std::vector<PhoneExpectation>& expectations, std::string_view when);
  bool WaitIsOver(const Step& step) const;
  void Pump(int waitMs);
  void AdvanceTime(int stepMs);
  // True while the modem owes a reply, the plug-in has one to read, or the plug-in's threads
  // are at work: simulated time then runs no faster than real time.
  bool RoadBusy() const;
  // The lines the plug-in added to its send history since the last look, as events.
  void ShowHistory();
  // The lines the plug-in added to its record of received messages since the last look.
  void ShowReceived();
  // The host closes the project and unloads the module, then starts it again; false when the
  // module could not be loaded again (the run ends).
  bool Restart();
  // The host process ends at once, as in a crash: no DeleteSuperWizard, no summary. With
  // `nextScenario` a new simulator process takes its place and runs that scenario on the same
  // project folder, as an operator starting the host again. Does not return.
  // (sim_host_posix.cpp, sim_host_win32.cpp)
  [[noreturn]] void Crash(const std::string& nextScenario);
  // The parts of a crash that every platform shares. AnnounceCrash logs it and returns the next
  // scenario's path (relative to this one's folder), empty for none; LeaveRecordsAtCrash shows
  // what the phones and the send history got, removes the work folder and flushes the output.
  std::string AnnounceCrash(const std::string& nextScenario);
  void LeaveRecordsAtCrash();

  EventLog& log_;
  HostServices services_;
  DialogueWatch watch_;
  PacedClock clock_;
  PluginModule module_;
  HostOptions options_;
  SuperWizard* plugin_ = nullptr;
  SendHistoryTail history_;
  ReceivedTail received_;
  std::string archiveName_ = "project.vpa";

  // The modem road; none when the plug-in opens the modem's port itself.
  std::unique_ptr<ModemRoad> road_;
  LogTail modemLog_;
  bool realModem_ = false;
  int comIndex_ = 0;  // the port the plug-in opens, from its configuration file
  ExpectCounts expectCounts_;
  int graceMs_ = 1500;

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
};

// Hands a report of the plug-in to the simulator that runs it (the executable's export
// PagorinHostReport calls it); ignored when none runs.
void ReceivePluginReport(int kind, const char* text) noexcept;

}  // namespace pagorin::sim

// veltrane-sim: a stand-in for the HMI host that loads the Pagorin plug-in module and drives it
// through a scenario, with a simulated GSM modem, so that a configuration can be tried on a desk.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "event_log.h"
#include "scenario.h"
#include "sim_host.h"
#include "sim_os.h"
#include "stop_request.h"
#ifdef VELTRANE_SIM_WITH_QT
#include "window_qt.h"
#endif

namespace {

namespace fs = std::filesystem;

// The first candidate that exists, else the last one.
std::string FirstExisting(const std::vector<std::string>& candidates) {
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (!candidate.empty() && fs::exists(candidate, error)) return candidate;
  }
  return candidates.empty() ? std::string() : candidates.back();
}

std::string DefaultModule() {
  const std::string module = pagorin::sim::os::ModuleFileName();
  const char* env = getenv("PAGORIN_MODULE");
  std::string dir = pagorin::sim::os::ExecutableDir();
  return FirstExisting({env != nullptr ? env : "",
#ifdef PAGORIN_SIM_MODULE
                        PAGORIN_SIM_MODULE,
#endif
                        dir + "/" + module, dir + "/../lib/" + module, module});
}

std::string DefaultModemSim() {
  const char* env = getenv("PAGORIN_MODEM_SIM");
  std::string dir = pagorin::sim::os::ExecutableDir();
  return FirstExisting({env != nullptr ? env : "",
#ifdef PAGORIN_SIM_MODEM
                        PAGORIN_SIM_MODEM,
#endif
                        dir + "/../modem/gsm-modem-sim", dir + "/gsm-modem-sim"});
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "veltrane-sim: runs the Pagorin plug-in in a simulated host, with a simulated GSM modem "
      "unless --modem names a real one"};
  app.require_subcommand(1);
  pagorin::sim::HostOptions options;
  options.modulePath = DefaultModule();
  options.modemSimPath = DefaultModemSim();
  bool json = false;
  app.add_option("--module", options.modulePath,
                 std::string("the plug-in module (") + pagorin::sim::os::ModuleFileName() + ")")
      ->capture_default_str();
  app.add_flag("--json", json, "one JSON object per line instead of text for people");

  auto* run = app.add_subcommand("run", "run a scenario (a TOML file in the project folder)");
  std::string scenarioPath;
  run->add_option("scenario", scenarioPath, "the scenario file")->required();
  run->add_option("--modem", options.modemDevice,
                  "a real modem's serial device (e.g. /dev/ttyUSB0); by default the modem "
                  "simulator is used and no serial device of this machine is opened");
  run->add_option("--modem-sim", options.modemSimPath, "the modem simulator program")
      ->capture_default_str();
  run->add_option("--modem-arg", options.modemArgs,
                  "an option for the modem simulator, e.g. --modem-arg=--silent (repeatable)")
      ->allow_extra_args(false);
  run->add_option("--modem-log", options.modemLogPath,
                  "keep the modem simulator's log of accepted messages (JSON lines) in this file");
  run->add_option("--speed", options.speed,
                  "simulated seconds per real second; 0 runs as fast as the modem allows "
                  "(default: the scenario's)");
  run->add_flag("--verbose", options.verbose, "also show every alarm request and answer");

#ifdef VELTRANE_SIM_WITH_QT
  auto* window = app.add_subcommand(
      "window",
      "run a scenario in a window: variables, alarms, messages, the plug-in's properties");
  window->add_option("scenario", scenarioPath, "the scenario file")->required();
  window->add_option("--modem", options.modemDevice, "a real modem's serial device");
  window->add_option("--modem-sim", options.modemSimPath, "the modem simulator program");
  window->add_option("--modem-arg", options.modemArgs, "an option for the modem simulator");
  window->add_option("--speed", options.speed, "simulated seconds per real second (default 1)");
#endif
  auto* functions = app.add_subcommand("functions", "list the plug-in's script functions");
  auto* settings = app.add_subcommand(
      "settings", "open the plug-in's settings for a project folder and store the project on OK");
  std::string projectDir;
  std::string archiveName = "project.vpa";
  std::string plantFile;
  settings->add_option("project", projectDir, "the project folder")->required();
  settings->add_option("--archive", archiveName, "the project archive's file name")
      ->capture_default_str();
  settings->add_option("--plant", plantFile,
                       "a scenario whose variables the dialogs offer (default: scenario.toml in "
                       "the project folder)");

  CLI11_PARSE(app, argc, argv);

  pagorin::sim::InstallStopSignals();
  pagorin::sim::EventLog log(stdout, json);
  pagorin::sim::SimHost host(log);
  if (*functions) return host.ListFunctions(options);
  if (*settings) {
    pagorin::sim::Scenario plant;
    bool havePlant = false;
    std::string error;
    if (plantFile.empty() && fs::exists(fs::path(projectDir) / "scenario.toml")) {
      plantFile = (fs::path(projectDir) / "scenario.toml").string();
    }
    if (!plantFile.empty()) {
      havePlant = pagorin::sim::LoadScenario(plantFile, plant, error);
      if (!havePlant) std::fprintf(stderr, "%s\n", error.c_str());
    }
    return host.Settings(projectDir, archiveName, havePlant ? &plant : nullptr, options);
  }
  pagorin::sim::Scenario scenario;
  std::string error;
  if (!pagorin::sim::LoadScenario(scenarioPath, scenario, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
#ifdef VELTRANE_SIM_WITH_QT
  if (*window) return pagorin::sim::RunWindow(host, log, scenario, options, argc, argv);
#endif
  return host.Run(scenario, options);
}

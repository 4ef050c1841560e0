// The road from a tag value to a decoded message, measured two ways:
//
// - HostCycle: one cycle of the host's run loop (alarm request and answer with the standing
//   alarms, OnTick): the time spent inside the module, against the same cycle's host work alone
//   (building the 320-byte records). The ratio is the module's share of a host cycle.
// - Road: veltrane-sim with the module and the modem simulator, N alarms raised at once at full
//   simulated speed, timed from start to the last message in the modem's log, less the same run
//   without alarms. Reports alarms per second of real time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "child_process.h"
#include "event_log.h"
#include "plant.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"
#include "sim_host.h"
#include "support/quiet_host.h"

namespace {

std::atomic<std::uint32_t> benchTicks{0};

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t PagorinHostTickCount() noexcept {
  return benchTicks.load();
}

namespace {

using namespace pagorin;
using namespace pagorin::sim;

using pagorin::testing::QuietHost;

// A new folder under the system's temporary folder.
std::string TempFolder() {
  std::string path = (std::filesystem::temp_directory_path() / "road-bench-XXXXXX").string();
  if (mkdtemp(path.data()) == nullptr) std::abort();
  return path;
}

Plant PlantWithAlarms(int count) {
  Plant plant;
  std::string error;
  std::vector<AlarmChange> changes;
  for (int i = 0; i < count; ++i) {
    Variable v;
    v.name = "Tag" + std::to_string(i) + ".PV";
    v.limits[kHi] = {true, 10, 2};
    v.number = 11;
    plant.AddVariable(v, error);
  }
  return plant;
}

std::map<std::int64_t, double> baselineNsPerCycle;  // by the number of standing alarms

void HostCycleWithoutModule(benchmark::State& state) {
  Plant plant = PlantWithAlarms(static_cast<int>(state.range(0)));
  auto start = std::chrono::steady_clock::now();
  std::int64_t cycles = 0;
  for (auto _ : state) {
    benchTicks += 50;
    std::vector<AlarmEvent> records = plant.AlarmRecords();
    benchmark::DoNotOptimize(records.data());
    ++cycles;
  }
  baselineNsPerCycle[state.range(0)] =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
      static_cast<double>(cycles);
}

void HostCycleWithModule(benchmark::State& state) {
  // The module needs an open port before it asks for alarms: a pseudo-terminal nobody answers.
  const platform::UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY));
  grantpt(master.get());
  unlockpt(master.get());
  setenv("PAGORIN_COM1", ptsname(master.get()), 1);
  QuietHost host;
  host.projectPath = TempFolder();
  host.numberValue = 1;
  host.textValue = "x";
  PluginModule module;
  std::string error;
  if (!module.Load(ROAD_MODULE, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  SuperWizard* plugin = module.Create(&host);
  plugin->Start(0);
  Plant plant = PlantWithAlarms(static_cast<int>(state.range(0)));
  const auto tickStep = static_cast<std::uint32_t>(state.range(1));
  std::int64_t cycles = 0;
  double moduleNs = 0;
  for (auto _ : state) {
    benchTicks += tickStep;
    std::vector<AlarmEvent> records = plant.AlarmRecords();
    std::int16_t code, sub, flags;
    std::int32_t size;
    AlarmRequest block;
    // Only the calls into the module are timed: its share of the cycle.
    auto start = std::chrono::steady_clock::now();
    if (plugin->GetRequest(&code, &sub, &flags, 0, &size, &block) == 1) {
      plugin->OnRequestResult(0, static_cast<std::int16_t>(records.size()), 0, 0, 0,
                              records.data());
    }
    plugin->OnTick();
    moduleNs +=
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    ++cycles;
  }
  double ns = moduleNs / static_cast<double>(cycles);
  module.Delete(plugin);
  std::filesystem::remove_all(host.projectPath);
  state.counters["module_ns_per_cycle"] = ns;
  double baseline = baselineNsPerCycle[state.range(0)];
  if (baseline > 0) state.counters["ratio_vs_host_alone"] = ns / baseline;
}

// Writes a project with `alarms` tags, each with a rule to one phone, and a scenario that raises
// every alarm at 1 s and ends when all messages reached the modem's log.
std::string RoadProject(int alarms) {
  std::string project = TempFolder();
  std::string config =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<XML Version=\"1\" Com=\"0\" Baund=\"2\" "
      "DataBit=\"1\" TelCount=\"1\" VarCount=\"" +
      std::to_string(alarms) + "\">\r\n<Tel0 TelNum=\"13800138000\" Desc=\"d\"></Tel0>\r\n";
  std::string scenario = "[simulation]\nspeed = \"max\"\n";
  std::string set = "[[step]]\nat = 1\nset = { ";
  for (int i = 0; i < alarms; ++i) {
    std::string tag = "Tag" + std::to_string(i);
    config += "<Var" + std::to_string(i) + " VarName=\"" + tag +
              ".PV\" Desc=\"\" Ll=\"1\" Lo=\"1\" Hh=\"1\" Hi=\"1\" Low=\"1\" Hig=\"1\" Urg=\"1\" "
              "Ack=\"1\" NoAck=\"1\" Resume=\"1\" Value=\"1\" ValueLimit=\"1\" User=\"0\" "
              "Format=\"0\" Logic=\"0\" BScript=\"0\" Script=\"\" ScriptType=\"0\" VarCount=\"1\" "
              "TelPlace0=\"0\"></Var" +
              std::to_string(i) + ">\r\n";
    scenario +=
        "[[variable]]\nname = \"" + tag + ".PV\"\nvalue = 1\nhi = { limit = 10, level = 2 }\n";
    set += std::string(i ? ", " : "") + "\"" + tag + ".PV\" = 11";
  }
  config += "</XML>\r\n";
  if (alarms > 0) {
    scenario += set +
                " }\n[[step]]\nafter = 0\nwait_for = { delivered = " + std::to_string(alarms) +
                " }\ntimeout = 600\n";
  } else {
    scenario += "[[step]]\nat = 1\nend = true\n";
  }
  std::string why;
  platform::ReplaceFile(project + "/Kestrova_Configure.ini", config, why);
  platform::ReplaceFile(project + "/scenario.toml", scenario, why);
  return project;
}

double RunRoad(const std::string& project) {
  std::string scenario = project + "/scenario.toml";
  ChildOptions options;
  options.args = {ROAD_SIM, "--module", ROAD_MODULE, "--json", "run", scenario};
  options.output = ChildOptions::Output::kDiscard;
  options.mergeErrorOutput = false;
  auto start = std::chrono::steady_clock::now();
  ChildProcess sim;
  std::string error;
  if (sim.Start(options, error)) sim.Wait();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Road(benchmark::State& state) {
  const int alarms = static_cast<int>(state.range(0));
  std::string empty = RoadProject(0);
  std::string busy = RoadProject(alarms);
  double perRun = 0;
  for (auto _ : state) {
    double base = RunRoad(empty);
    double full = RunRoad(busy);
    perRun = full - base;
    state.SetIterationTime(perRun);
  }
  state.counters["alarms_per_second"] = alarms / perRun;
  state.counters["ms_per_alarm"] = perRun * 1000.0 / alarms;
  std::filesystem::remove_all(empty);
  std::filesystem::remove_all(busy);
}

// Arguments: standing alarms; simulated milliseconds per cycle (50: a request every 20th cycle,
// 1000: a request and an answer in every cycle).
BENCHMARK(HostCycleWithoutModule)->Args({10, 50})->Args({1000, 50});
BENCHMARK(HostCycleWithModule)
    ->Args({10, 50})
    ->Args({1000, 50})
    ->Args({10, 1000})
    ->Args({1000, 1000});
BENCHMARK(Road)->Arg(20)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

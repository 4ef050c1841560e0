// Cost of taking in one alarm answer as the number of standing alarms grows: the indexed look-up
// of the plug-in against a scan of every remembered copy for every event, run side by side.
// Prints the ratio scan / index for each size and answer kind after the usual table, and the time
// per answer when every alarm shares one identity against the case where all identities differ.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/plugin_object.h"
#include "support/quiet_host.h"

namespace pagorin {
namespace {

using testing::QuietHost;

std::vector<AlarmEvent> StandingAlarms(int count) {
  std::vector<AlarmEvent> events(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    AlarmEvent& event = events[static_cast<std::size_t>(i)];
    std::memset(&event, 0, sizeof event);
    event.eventId = i / 3;
    event.eventSubId = static_cast<std::uint8_t>(i % 3);
    std::snprintf(event.tagName, sizeof event.tagName, "Tag%d", i % 500);
    event.kind = static_cast<std::uint8_t>(i % 4);
    event.level = static_cast<std::uint8_t>(1 + i % 3);
    event.ackState = static_cast<std::uint8_t>(i % 2);
    event.value = static_cast<float>(i);
  }
  return events;
}

// `count` alarms with one eventId and eventSubId, told apart only by their tags: a host that
// numbers its events per tag, not per alarm.
std::vector<AlarmEvent> SharedIdentityAlarms(int count) {
  std::vector<AlarmEvent> events = StandingAlarms(count);
  for (int i = 0; i < count; ++i) {
    AlarmEvent& event = events[static_cast<std::size_t>(i)];
    event.eventId = 1;
    event.eventSubId = 0;
    std::snprintf(event.tagName, sizeof event.tagName, "Tag%d", i);
  }
  return events;
}

// The same alarms with one in a hundred acknowledged since: those count as new.
std::vector<AlarmEvent> WithOnePercentChanged(std::vector<AlarmEvent> events) {
  for (std::size_t i = 0; i < events.size(); i += 100)
    events[i].ackState = 2;
  return events;
}

// The intake with the scan instead of the index, otherwise step for step the same.
void ScanningIntake(PluginObject& plugin, const std::vector<AlarmEvent>& events) {
  plugin.requestPending = 0;
  if (plugin.firstResult == 0) {
    std::deque<std::string> texts;
    std::vector<OutboxRequest> requests;
    for (const AlarmEvent& event : events) {
      if (IsIntakeState(event) && !plugin.knownAlarms.ContainsByScan(event)) {
        plugin.CollectAlarm(event, texts, requests);
      }
    }
    if (!requests.empty()) plugin.outbox.Queue(requests);
  }
  plugin.knownAlarms.Replace(events.data(), events.size());
  plugin.firstResult = 0;
}

enum class Lookup { kIndex, kScan };
enum class Answers { kUnchanged, kOnePercentNew, kSharedIdentity };

void RunIntake(benchmark::State& state, Lookup lookup, Answers answers) {
  QuietHost host;
  host.runMode = 0;
  PluginObject plugin(host);
  // A rule for another tag: each new event is tested against it and rejected, as most are.
  auto rule = std::make_unique<AlarmRule>();
  rule->VarName = "Elsewhere.PV";
  rule->TelPlace = {0};
  plugin.alarmRules.push_back(std::move(rule));
  const int count = static_cast<int>(state.range(0));
  const std::vector<AlarmEvent> first =
      answers == Answers::kSharedIdentity ? SharedIdentityAlarms(count) : StandingAlarms(count);
  const std::vector<AlarmEvent> second =
      answers == Answers::kOnePercentNew ? WithOnePercentChanged(first) : first;
  auto take = [&](const std::vector<AlarmEvent>& answer) {
    if (lookup == Lookup::kIndex) {
      plugin.requestPending = 1;  // answers are taken only for a pending request
      plugin.OnRequestResult(0, static_cast<std::int16_t>(answer.size()), 0, 0, 0, answer.data());
    } else {
      ScanningIntake(plugin, answer);
    }
  };
  take(first);
  bool useSecond = true;
  for (auto _ : state) {
    take(useSecond ? second : first);
    useSecond = !useSecond;
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_IntakeIndex_Unchanged(benchmark::State& s) {
  RunIntake(s, Lookup::kIndex, Answers::kUnchanged);
}
void BM_IntakeScan_Unchanged(benchmark::State& s) {
  RunIntake(s, Lookup::kScan, Answers::kUnchanged);
}
void BM_IntakeIndex_OnePercentNew(benchmark::State& s) {
  RunIntake(s, Lookup::kIndex, Answers::kOnePercentNew);
}
void BM_IntakeScan_OnePercentNew(benchmark::State& s) {
  RunIntake(s, Lookup::kScan, Answers::kOnePercentNew);
}
// Only the index: a scan of 32,767 copies for each of 32,767 events takes seconds per answer.
void BM_IntakeIndex_SharedIdentity(benchmark::State& s) {
  RunIntake(s, Lookup::kIndex, Answers::kSharedIdentity);
}

#define INTAKE_SIZES ->Arg(1000)->Arg(10000)->Arg(32767)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_IntakeIndex_Unchanged) INTAKE_SIZES;
BENCHMARK(BM_IntakeScan_Unchanged) INTAKE_SIZES;
BENCHMARK(BM_IntakeIndex_OnePercentNew) INTAKE_SIZES;
BENCHMARK(BM_IntakeScan_OnePercentNew) INTAKE_SIZES;
BENCHMARK(BM_IntakeIndex_SharedIdentity) INTAKE_SIZES;

// Prints the usual table and keeps each run's processor time per iteration for the ratios (the
// machine may be shared, so wall time says less).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
  }
  std::map<std::string, double> times;
};

}  // namespace
}  // namespace pagorin

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  pagorin::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nscan / index (times faster with the index):\n");
  for (const char* kind : {"Unchanged", "OnePercentNew"}) {
    for (const char* size : {"1000", "10000", "32767"}) {
      std::string index = std::string("BM_IntakeIndex_") + kind + "/" + size;
      std::string scan = std::string("BM_IntakeScan_") + kind + "/" + size;
      auto i = reporter.times.find(index);
      auto s = reporter.times.find(scan);
      if (i == reporter.times.end() || s == reporter.times.end() || i->second <= 0) continue;
      std::printf("  %-14s %6s alarms: index %10.1f us, scan %12.1f us (CPU), ratio %8.1fx\n", kind,
                  size, i->second, s->second, s->second / i->second);
    }
  }
  std::printf("\none identity for all / all identities distinct (index, unchanged answers):\n");
  for (const char* size : {"1000", "10000", "32767"}) {
    auto shared = reporter.times.find(std::string("BM_IntakeIndex_SharedIdentity/") + size);
    auto unique = reporter.times.find(std::string("BM_IntakeIndex_Unchanged/") + size);
    if (shared == reporter.times.end() || unique == reporter.times.end() || unique->second <= 0) {
      continue;
    }
    std::printf("  %6s alarms: shared %10.1f us, distinct %10.1f us (CPU), ratio %5.2fx\n", size,
                shared->second, unique->second, shared->second / unique->second);
  }
  benchmark::Shutdown();
  return 0;
}

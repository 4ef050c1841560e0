// Cost of taking in one alarm answer as the number of standing alarms grows: the indexed look-up
// of the plug-in against a scan of every remembered copy for every event, run side by side.
// Prints the ratio scan / index for each size and answer kind after the usual table, and the time
// per answer when every alarm shares one identity against the case where all identities differ.
// Then a storm answer on a slow disk (every sync takes 10 ms, as on an HDD or an SD card): the
// plug-in's one journal write for the whole answer against one per alarm, with the syncs counted
// and the host's call timed.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/plugin_object.h"
#include "platform/syscall.h"
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

// A disk whose every sync takes 10 ms; counts them.
class SlowDisk : public platform::SystemCalls {
 public:
  int Fsync(int fd) noexcept override {
    ++syncs;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return SystemCalls::Fsync(fd);
  }
  std::atomic<int> syncs{0};
};

enum class Journaling { kPerAnswer, kPerAlarm };

// 1,000 new alarms for 3 phones in one answer, sending switched off so that only the queueing
// is measured. kPerAlarm queues each alarm's messages on their own, as the intake did before it
// collected the whole answer.
void RunStormAnswer(benchmark::State& state, Journaling journaling) {
  char folderTemplate[] = "/tmp/pagorin-storm-XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  // The port is a name that exists nowhere: the sender keeps trying it, nothing is opened.
  setenv("PAGORIN_COM1", (std::string(folderTemplate) + "/no-modem").c_str(), 1);
  QuietHost host;
  host.projectPath = folderTemplate;
  std::vector<AlarmEvent> storm = StandingAlarms(1000);
  double longestMs = 0;
  int syncs = 0;
  for (auto _ : state) {
    {
      PluginObject plugin(host);
      for (int phone = 0; phone < 3; ++phone) {
        auto entry = std::make_unique<PhoneEntry>();
        entry->TelNum = "1380013800" + std::to_string(phone);
        plugin.phoneBook.push_back(std::move(entry));
      }
      auto rule = std::make_unique<AlarmRule>();
      rule->VarName = "Tag1.PV";
      rule->TelPlace = {0, 1, 2};
      plugin.alarmRules.push_back(std::move(rule));
      for (AlarmEvent& event : storm)
        std::snprintf(event.tagName, sizeof event.tagName, "Tag1");
      plugin.Start(0);
      plugin.sendEnabled = 0;
      plugin.OnTick();
      plugin.requestPending = 1;
      plugin.OnRequestResult(0, 0, 0, 0, 0, nullptr);  // the baseline: nothing standing
      SlowDisk disk;
      platform::ScopedSystemCalls slow(disk);
      const auto start = std::chrono::steady_clock::now();
      if (journaling == Journaling::kPerAnswer) {
        plugin.requestPending = 1;
        plugin.OnRequestResult(0, static_cast<std::int16_t>(storm.size()), 0, 0, 0, storm.data());
      } else {
        for (const AlarmEvent& event : storm) {
          std::deque<std::string> texts;
          std::vector<OutboxRequest> requests;
          plugin.CollectAlarm(event, texts, requests);
          if (!requests.empty()) plugin.outbox.Queue(requests);
        }
      }
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      state.SetIterationTime(ms / 1000);
      longestMs = std::max(longestMs, ms);
      syncs = disk.syncs.load();
      if (plugin.outbox.waitingCount() != 3000) {
        state.SkipWithError(
            ("queued " + std::to_string(plugin.outbox.waitingCount()) + " of 3000").c_str());
        break;
      }
    }
    // The next run starts from an empty project, not with this one's messages to send again.
    std::error_code ignored;
    std::filesystem::remove(
        std::string(folderTemplate) + "/" + std::string(OutboxJournal::kFileName), ignored);
  }
  unsetenv("PAGORIN_COM1");
  std::error_code ignored;
  std::filesystem::remove_all(folderTemplate, ignored);
  state.counters["syncs"] = syncs;
  state.counters["longest_call_ms"] = longestMs;
}

void BM_StormAnswer_OneWritePerAnswer(benchmark::State& s) {
  RunStormAnswer(s, Journaling::kPerAnswer);
}
void BM_StormAnswer_OneWritePerAlarm(benchmark::State& s) {
  RunStormAnswer(s, Journaling::kPerAlarm);
}
BENCHMARK(BM_StormAnswer_OneWritePerAnswer)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StormAnswer_OneWritePerAlarm)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Prints the usual table and keeps each run's processor time per iteration for the ratios (the
// machine may be shared, so wall time says less).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      times[run.benchmark_name()] = run.GetAdjustedCPUTime();
      real[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> times;
  std::map<std::string, double> real;  // wall time: the slow disk sleeps
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
  auto perAnswer = reporter.real.find("BM_StormAnswer_OneWritePerAnswer/iterations:3/manual_time");
  auto perAlarm = reporter.real.find("BM_StormAnswer_OneWritePerAlarm/iterations:1/manual_time");
  if (perAnswer != reporter.real.end() && perAlarm != reporter.real.end() &&
      perAnswer->second > 0) {
    std::printf(
        "\nstorm answer on a disk with 10 ms syncs: one write per answer %.1f ms, one per "
        "alarm %.1f ms (wall), ratio %.1fx\n",
        perAnswer->second, perAlarm->second, perAlarm->second / perAnswer->second);
  }
  benchmark::Shutdown();
  return 0;
}

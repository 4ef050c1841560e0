// One SendMsg-sized call into the outbox: a 100 kB text to 1,000 numbers, against the road the
// module took before the outbox (the whole text cut into 70-character pieces for every number),
// measured for 10 numbers and scaled to 1,000. Prints the ratio old / outbox after the table,
// and the memory the queued messages hold.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/alarm_intake.h"
#include "core/outbox.h"
#include "platform/code_page.h"
#include "platform/unique_fd.h"

namespace pagorin {
namespace {

constexpr int kPort = 9;
constexpr int kNumbers = 1000;

const std::string& HugeText() {
  static const std::string text = [] {
    std::string t;
    const std::string word = platform::Utf8ToCp936("泵站停机");
    while (t.size() < 100 * 1024)
      t += word;
    return t;
  }();
  return text;
}

std::vector<std::string> Numbers() {
  std::vector<std::string> numbers;
  for (int i = 0; i < kNumbers; ++i)
    numbers.push_back(std::to_string(13000000000LL + i));
  return numbers;
}

// A pseudo-terminal for the modem's port, so that the outbox sees a started modem; nothing on
// it answers, and nothing is sent while the benchmark runs.
class Terminal {
 public:
  Terminal() {
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master_.valid() || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0) return;
    ::setenv(("PAGORIN_COM" + std::to_string(kPort)).c_str(), ::ptsname(master_.get()), 1);
  }

 private:
  platform::UniqueFd master_;
};

double outboxSeconds = 0;
double oldRoadSeconds = 0;

void BM_OutboxHugeSendMsg(benchmark::State& state) {
  Terminal terminal;
  const std::string folder = (std::filesystem::temp_directory_path() /
                              ("pagorin_outbox_bench_" + std::to_string(getpid())))
                                 .string();
  std::filesystem::create_directories(folder);
  const std::vector<std::string> numbers = Numbers();
  std::size_t waitingBytes = 0;
  std::size_t waiting = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    auto modem = std::make_unique<SmsModem>();
    modem->Open(kPort, 9600, 8);
    auto outbox = std::make_unique<Outbox>(*modem);
    outbox->Start(folder, true, SmsModem::kDefaultMaxAgeMs);
    std::vector<OutboxRequest> requests;
    for (const std::string& number : numbers)
      requests.push_back(OutboxRequest{number, {}, "script", HugeText(), kPriorityScript});
    state.ResumeTiming();
    benchmark::DoNotOptimize(outbox->Queue(requests));
    state.PauseTiming();
    waitingBytes = outbox->waitingBytes();
    waiting = outbox->waitingCount();
    outbox.reset();
    modem.reset();
    state.ResumeTiming();
  }
  std::filesystem::remove_all(folder);
  state.counters["queued"] = static_cast<double>(waiting);
  state.counters["queued_bytes"] = static_cast<double>(waitingBytes);
}

void BM_OldRoadTenNumbers(benchmark::State& state) {
  const std::vector<std::string> numbers = Numbers();
  for (auto _ : state) {
    std::size_t pieces = 0;
    for (int i = 0; i < 10; ++i)
      pieces += SplitForSms(HugeText()).size();
    benchmark::DoNotOptimize(pieces);
  }
}

BENCHMARK(BM_OutboxHugeSendMsg)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_OldRoadTenNumbers)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const double seconds = run.GetAdjustedRealTime() / 1e3;  // reported in milliseconds
      if (run.benchmark_name().starts_with("BM_OutboxHugeSendMsg")) outboxSeconds = seconds;
      if (run.benchmark_name().starts_with("BM_OldRoadTenNumbers")) oldRoadSeconds = seconds;
    }
  }
};

}  // namespace
}  // namespace pagorin

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  pagorin::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (pagorin::outboxSeconds > 0) {
    const double oldRoad = pagorin::oldRoadSeconds * (pagorin::kNumbers / 10.0);
    std::printf("100 kB to 1,000 numbers: outbox %.2f ms, old road (scaled) %.0f ms, ratio %.0f\n",
                pagorin::outboxSeconds * 1e3, oldRoad * 1e3, oldRoad / pagorin::outboxSeconds);
  }
  return 0;
}

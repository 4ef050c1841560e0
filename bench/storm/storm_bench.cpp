// The road of the messages on a simulated clock, with a modem on a pseudo-terminal that answers
// on that clock and a host that ticks once a second.
//
// Storm: 1,000 alarms for 3 phones arrive in one answer (the one urgent alarm last), the modem
// takes 3 s to accept each SMS part. Measured: when the urgent alarm's SMS is accepted, how many
// SMS (and parts) go out, and when the last is accepted; with coalescing (the default threshold)
// against the naive baseline of one SMS per message (coalescing off), in the same process.
//
// Throughput: 30 messages to 30 numbers, a modem that answers at once: the simulated seconds
// until the last is accepted, with the outbox's default window against handing the modem one
// message at a time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/outbox.h"
#include "core/plugin_object.h"
#include "platform/tick.h"
#include "platform/unique_fd.h"
#include "support/quiet_host.h"

namespace pagorin {
namespace {

constexpr int kPort = 7;
constexpr int kAlarms = 1000;
constexpr int kPhones = 3;
constexpr std::uint64_t kHostTickMs = 1000;
constexpr std::uint64_t kStormMsPerPart = 3000;
// The simulated clock stops here even if the queue never empties.
constexpr std::uint64_t kGiveUpMs = 48ull * 3600 * 1000;

// A project folder of its own in the system's temporary folder, removed at the end.
class Folder {
 public:
  explicit Folder(const std::string& name)
      : path_((std::filesystem::temp_directory_path() /
               ("pagorin_" + name + "_" + std::to_string(::getpid())))
                  .string()) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// "Urgent" in UCS2 hexadecimal: the tag of the one urgent alarm, as it stands in its PDU.
constexpr const char* kUrgentHex = "0055007200670065006E0074";

struct Figures {
  double urgentAcceptedS = -1;
  double lastAcceptedS = -1;
  int sms = 0;    // messages as the phones count them
  int parts = 0;  // SMS-SUBMITs the network took
  int queued = 0;
};

// The modem on the far side of a pseudo-terminal, answering on the simulated clock: a prompt and
// OK at once, the acceptance of a PDU after `msPerPart`.
class ClockedModem {
 public:
  explicit ClockedModem(std::uint64_t msPerPart) : msPerPart_(msPerPart) {
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master_.valid() || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0) return;
    ::setenv(("PAGORIN_COM" + std::to_string(kPort)).c_str(), ::ptsname(master_.get()), 1);
  }
  ClockedModem(const ClockedModem&) = delete;
  ClockedModem& operator=(const ClockedModem&) = delete;

  // Answers what the module wrote until it falls quiet for a moment of real time, the
  // acceptances that are due at `nowMs` included. After an answer the sender gets longer to
  // write its next line, so that the line is taken at the same simulated moment.
  void Serve(std::uint64_t nowMs, Figures& figures) {
    bool answered = false;
    for (int quiet = 0; quiet < 2;) {
      if (!Read(answered ? 30 : 2)) {
        ++quiet;
        answered = false;
      } else {
        quiet = 0;
      }
      std::size_t end;
      while ((end = pending_.find('\r')) != std::string::npos) {
        const std::string line = pending_.substr(0, end + 1);
        pending_.erase(0, end + 1);
        answered = true;
        if (line.rfind("AT+CMGS=", 0) == 0) {
          Write("\r\n> ");
        } else if (line.size() > 2 && line[line.size() - 2] == '\x1A') {
          due_.push_back({nowMs + msPerPart_, line.find(kUrgentHex) != std::string::npos,
                          StartsMessage(line)});
          answered = msPerPart_ == 0;
        } else {
          Write("\r\nOK\r\n");
        }
      }
      while (!due_.empty() && due_.front().atMs <= nowMs) {
        const Due& due = due_.front();
        ++figures.parts;
        if (due.first) ++figures.sms;
        figures.lastAcceptedS = static_cast<double>(due.atMs) / 1000.0;
        if (due.urgent && figures.urgentAcceptedS < 0) {
          figures.urgentAcceptedS = figures.lastAcceptedS;
        }
        Write("\r\n+CMGS: " + std::to_string(figures.parts % 256) + "\r\n\r\nOK\r\n");
        due_.pop_front();
        quiet = 0;
        answered = true;
      }
    }
  }
  bool Idle() const { return due_.empty() && pending_.empty(); }

 private:
  struct Due {
    std::uint64_t atMs;
    bool urgent;
    bool first;
  };

  // The first part of a concatenated message, or a message of one part: the header (when the
  // first octet says there is one) stands right after the coding scheme, the validity and the
  // length; its last octet is the part's number.
  static bool StartsMessage(const std::string& line) {
    if (line.compare(2, 2, "51") != 0) return true;
    const std::size_t header = 2 + 2 + 2 + 2 + 2 + 2 + 12 + 2 + 2 + 2 + 2;
    return line.size() > header + 12 && line.compare(header + 10, 2, "01") == 0;
  }

  bool Read(int waitMs) {
    pollfd fd{master_.get(), POLLIN, 0};
    if (::poll(&fd, 1, waitMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(master_.get(), buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  void Write(const std::string& bytes) {
    [[maybe_unused]] const ssize_t n = ::write(master_.get(), bytes.data(), bytes.size());
  }

  std::uint64_t msPerPart_;
  platform::UniqueFd master_;
  std::string pending_;
  std::deque<Due> due_;
};

Figures RunStorm(int coalesce) {
  Figures figures;
  Folder folder("storm_bench");
  platform::ManualTicks ticks(1000);
  ClockedModem modem(kStormMsPerPart);
  testing::QuietHost host;
  host.projectPath = folder.path();
  PluginObject plugin(host);
  plugin.Com = kPort - 1;
  plugin.Coalesce = coalesce;
  std::vector<int> places;
  for (int p = 0; p < kPhones; ++p) {
    auto entry = std::make_unique<PhoneEntry>();
    entry->TelNum = "1380013800" + std::to_string(p);
    plugin.phoneBook.push_back(std::move(entry));
    places.push_back(p);
  }
  std::vector<AlarmEvent> events(kAlarms);
  for (int i = 0; i < kAlarms; ++i) {
    AlarmEvent& event = events[static_cast<std::size_t>(i)];
    std::memset(&event, 0, sizeof event);
    event.eventId = i + 1;
    const bool urgent = i == kAlarms - 1;
    std::snprintf(event.tagName, sizeof event.tagName, urgent ? "Urgent" : "Tag%d", i);
    event.kind = 2;
    event.level = static_cast<std::uint8_t>(urgent ? 3 : 1);
    auto rule = std::make_unique<AlarmRule>();
    rule->VarName = std::string(event.tagName) + ".PV";
    rule->TelPlace = places;
    plugin.alarmRules.push_back(std::move(rule));
  }
  plugin.Start(0);
  std::uint64_t nowMs = 0;
  modem.Serve(nowMs, figures);  // the sender's first words to the modem
  plugin.requestPending = 1;
  plugin.OnRequestResult(0, 0, 0, 0, 0, nullptr);
  plugin.requestPending = 1;
  plugin.OnRequestResult(0, static_cast<std::int16_t>(events.size()), 0, 0, 0, events.data());
  figures.queued = static_cast<int>(plugin.outbox.waitingCount());
  while (nowMs < kGiveUpMs && (plugin.outbox.waitingCount() > 0 || !modem.Idle())) {
    plugin.OnTick();
    modem.Serve(nowMs, figures);
    nowMs += kHostTickMs;
    ticks.Advance(static_cast<std::uint32_t>(kHostTickMs));
    modem.Serve(nowMs, figures);
  }
  return figures;
}

// 30 messages to 30 numbers through a modem and an outbox handing over `window` at a time.
Figures RunThroughput(std::size_t window) {
  Figures figures;
  Folder folder("throughput_bench");
  platform::ManualTicks ticks(1000);
  ClockedModem modem(0);
  SmsModem sms;
  OutboxLimits limits;
  limits.modemWindow = window;
  Outbox outbox(sms, limits);
  sms.SetObserver(&outbox);
  sms.Open(kPort, 9600, 8);
  outbox.Start(folder.path(), true, SmsModem::kDefaultMaxAgeMs);
  std::uint64_t nowMs = 0;
  modem.Serve(nowMs, figures);
  std::vector<std::string> numbers;
  for (int i = 0; i < 30; ++i)
    numbers.push_back(std::to_string(13900000000LL + i));
  std::vector<OutboxRequest> requests;
  for (const std::string& number : numbers)
    requests.push_back({number, {}, Outbox::kScriptOrigin, "Pump 1 tripped", kPriorityScript});
  figures.queued = static_cast<int>(outbox.Queue(requests).size());
  while (nowMs < kGiveUpMs && (outbox.waitingCount() > 0 || !modem.Idle())) {
    sms.Tick();
    outbox.Feed();
    modem.Serve(nowMs, figures);
    nowMs += kHostTickMs;
    ticks.Advance(static_cast<std::uint32_t>(kHostTickMs));
    modem.Serve(nowMs, figures);
  }
  sms.SetObserver(nullptr);
  return figures;
}

std::map<std::string, Figures> results;

void Report(benchmark::State& state, const Figures& f) {
  state.counters["urgent_accepted_s"] = f.urgentAcceptedS;
  state.counters["sms"] = f.sms;
  state.counters["parts"] = f.parts;
  state.counters["messages_queued"] = f.queued;
  state.counters["last_accepted_s"] = f.lastAcceptedS;
}

void BM_Storm(benchmark::State& state) {
  const int coalesce = static_cast<int>(state.range(0));
  const std::string key = coalesce == 0 ? "storm_naive" : "storm";
  for (auto _ : state)
    results[key] = RunStorm(coalesce);
  Report(state, results[key]);
}
BENCHMARK(BM_Storm)->Arg(3)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

void BM_Throughput(benchmark::State& state) {
  const auto window = static_cast<std::size_t>(state.range(0));
  const std::string key = window == 1 ? "throughput_naive" : "throughput";
  for (auto _ : state)
    results[key] = RunThroughput(window);
  Report(state, results[key]);
}
BENCHMARK(BM_Throughput)
    ->Arg(static_cast<std::int64_t>(OutboxLimits{}.modemWindow))
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

double Ratio(double naive, double measured) {
  return measured > 0 ? naive / measured : 0;
}

}  // namespace
}  // namespace pagorin

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  using pagorin::results;
  if (results.count("storm") != 0 && results.count("storm_naive") != 0) {
    const auto& on = results["storm"];
    const auto& off = results["storm_naive"];
    std::printf(
        "\nstorm of %d alarms x %d phones, host tick 1 s, modem 3 s per SMS part "
        "(simulated):\n",
        pagorin::kAlarms, pagorin::kPhones);
    std::printf("  %-24s %12s %12s %8s\n", "", "coalescing", "none", "ratio");
    std::printf("  %-24s %12.0f %12.0f %8.2f\n", "urgent accepted (s)", on.urgentAcceptedS,
                off.urgentAcceptedS, pagorin::Ratio(off.urgentAcceptedS, on.urgentAcceptedS));
    std::printf("  %-24s %12d %12d %8.2f\n", "SMS", on.sms, off.sms,
                pagorin::Ratio(off.sms, on.sms));
    std::printf("  %-24s %12d %12d %8.2f\n", "SMS parts", on.parts, off.parts,
                pagorin::Ratio(off.parts, on.parts));
    std::printf("  %-24s %12.0f %12.0f %8.2f\n", "last accepted (s)", on.lastAcceptedS,
                off.lastAcceptedS, pagorin::Ratio(off.lastAcceptedS, on.lastAcceptedS));
  }
  if (results.count("throughput") != 0 && results.count("throughput_naive") != 0) {
    const auto& window = results["throughput"];
    const auto& one = results["throughput_naive"];
    std::printf("\n30 messages, host tick 1 s, modem answering at once (simulated):\n");
    std::printf(
        "  last accepted after %.0f s (window %zu), %.0f s handing one at a time, "
        "ratio %.2f\n",
        window.lastAcceptedS, pagorin::OutboxLimits{}.modemWindow, one.lastAcceptedS,
        pagorin::Ratio(one.lastAcceptedS, window.lastAcceptedS));
  }
  benchmark::Shutdown();
  return 0;
}

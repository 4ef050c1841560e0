// The crash soak: one project with one phone, a batch of messages queued by script at the start
// (long texts of 2 to 5 parts and short ones that the outbox joins), and veltrane-sim killed at
// random moments while they go out: SIGKILL to its process group, so that its modem simulator
// ends with it, 30 times in a row, each new process on the same project folder taking over what
// the journal holds, then a last run that finishes. Over all runs it counts how often each text
// reached the phone: lost (must be 0), extra copies, the most copies of one text (at most 2: one
// crash sends at most the SMS in flight again) and the SMS that came again per kill (at most 1).
// Series: the host ticking once a second and every 50 ms, and one of orderly closes (SIGTERM)
// at random moments instead of kills, where nothing may come twice. Each against a baseline run
// of the same messages without interruption, in the same process.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "platform/file_io.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInterruptions = 30;
constexpr int kShortTexts = 60;
constexpr const char* kPhone = "13800138000";
constexpr std::uint32_t kSeed = 20250611;
// After the last message the run goes on for a while, so that a late copy still shows.
constexpr int kTailSeconds = 60;

// Text without ';' (the separator of a joined SMS) and without a trailing comma.
const char kChinese[] = "清水池液位偏高请值班人员到现场检查泵站出口压力异常进水闸门开度报警";

std::string ChineseRun(int characters) {
  const std::string all = kChinese;
  const std::size_t count = all.size() / 3;
  std::string text;
  for (int i = 0; i < characters; ++i)
    text += all.substr((static_cast<std::size_t>(i) % count) * 3, 3);
  return text;
}

std::string AsciiRun(int characters) {
  const std::string words = "pump station outlet pressure high check on site ";
  std::string text;
  for (int i = 0; i < characters; ++i)
    text += words[static_cast<std::size_t>(i) % words.size()];
  return text;
}

// The batch: six long texts (2, 3 and 4 parts of 7-bit text, 3, 4 and 5 parts of UCS2), each
// with its tag at the start, and short ones, every third in Chinese.
std::vector<std::string> Texts() {
  std::vector<std::string> texts = {"L1 " + AsciiRun(297),   "L2 " + AsciiRun(447),
                                    "L3 " + AsciiRun(597),   "L4 " + ChineseRun(147),
                                    "L5 " + ChineseRun(247), "L6 " + ChineseRun(317)};
  for (int i = 0; i < kShortTexts; ++i) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "S%03d ", i);
    texts.push_back(tag + (i % 3 == 2 ? ChineseRun(8 + i % 5) : AsciiRun(12 + i % 7)));
  }
  return texts;
}

std::string TomlString(const std::string& text) {
  return "\"" + text + "\"";  // the texts hold no quote and no backslash
}

std::string SimulationTable(int cycleMs) {
  return "[simulation]\nspeed = \"max\"\ncycle_ms = " + std::to_string(cycleMs) +
         "\nlimit = 3600\n";
}

// After the start (a new process takes the journal's messages over before it is idle), waits
// for the modem to fall quiet, then the tail.
std::string WaitSteps(double startAt) {
  char at[32];
  std::snprintf(at, sizeof at, "%.1f", startAt);
  return "\n[[step]]\nat = " + std::string(at) +
         "\nwait_for = \"idle\"\ntimeout = 3000\n\n[[step]]\nafter = " +
         std::to_string(kTailSeconds) + "\nsay = \"done\"\n";
}

// A project folder with its configuration (one phone, Coalesce at its default), the first
// scenario that queues the batch and the one of every later run, which only waits.
bool WriteProject(const std::string& folder, int cycleMs, const std::vector<std::string>& texts) {
  const std::string config =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<XML Version=\"1\" Com=\"0\" Baund=\"2\" "
      "DataBit=\"1\" TelCount=\"1\" VarCount=\"0\">\r\n<Tel0 TelNum=\"" +
      std::string(kPhone) + "\" Desc=\"d\"></Tel0>\r\n</XML>\r\n";
  std::string first = SimulationTable(cycleMs);
  for (const std::string& text : texts) {
    first += "\n[[step]]\nat = 0.5\ncall = \"SendMsg\"\nargs = [" + TomlString(kPhone) + ", " +
             TomlString(text) + "]\n";
  }
  // The bench interrupts the first run only after this line: a text it never queued is not lost.
  first += "\n[[step]]\nafter = 0\nsay = \"queued\"\n" + WaitSteps(5.0);
  const std::string later = SimulationTable(cycleMs) + WaitSteps(5.0);
  std::string why;
  return pagorin::platform::ReplaceFile(folder + "/Kestrova_Configure.ini", config, why) &&
         pagorin::platform::ReplaceFile(folder + "/first.toml", first, why) &&
         pagorin::platform::ReplaceFile(folder + "/later.toml", later, why);
}

std::string TempFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "pagorin-crash-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) return {};
  return templ;
}

std::vector<nlohmann::json> JsonLines(const std::string& path) {
  std::vector<nlohmann::json> lines;
  std::string text;
  std::string why;
  if (!pagorin::platform::ReadWholeFile(path, text, why)) return lines;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    auto line = nlohmann::json::parse(text.substr(from, end - from), nullptr, false);
    if (line.is_object()) lines.push_back(std::move(line));
    from = end + 1;
  }
  return lines;
}

enum class Interrupt { kNone, kKill, kClose };

struct RunFiles {
  std::string events;
  std::string modemLog;
};

struct RunResult {
  bool interrupted = false;  // signalled while it still ran
  int exitCode = -1;
  double wallSeconds = 0;
  bool survivors = false;  // a process of its group still ran two seconds after its end
};

// One veltrane-sim process on the project; interrupted `afterMs` after the start (with `armed`,
// after its first `say` line) unless it ends first.
RunResult RunOnce(const std::string& root, const std::string& scenario, const RunFiles& files,
                  Interrupt how, int afterMs, bool armed) {
  RunResult result;
  pagorin::sim::ChildOptions options;
  options.args = {CRASH_SIM, "--module",    CRASH_MODULE,    "--json",      "run",
                  scenario,  "--modem-sim", CRASH_MODEM_SIM, "--modem-log", files.modemLog};
  options.output = pagorin::sim::ChildOptions::Output::kFile;
  options.outputFile = files.events;
  options.mergeErrorOutput = false;
  options.errorFile = files.events + ".stderr";
  // A killed process leaves its work folder behind: it goes with the bench's own.
  options.environment = {"TMPDIR=" + root + "/tmp"};
  options.ownProcessGroup = true;
  const auto start = Clock::now();
  pagorin::sim::ChildProcess child;
  std::string error;
  if (!child.Start(options, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return result;
  }
  const pid_t group = child.Pid();
  if (how == Interrupt::kNone) {
    result.exitCode = child.Wait();
  } else {
    std::optional<int> ended;
    auto due = start;
    if (armed) {
      std::string text;
      std::string why;
      while (!(ended = child.TryWait()) && Clock::now() < start + std::chrono::seconds(60)) {
        if (pagorin::platform::ReadWholeFile(files.events, text, why) &&
            text.find("\"say\"") != std::string::npos) {
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      due = Clock::now();
    }
    due += std::chrono::milliseconds(afterMs);
    while (!(ended = child.TryWait()) && Clock::now() < due)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (ended) {
      result.exitCode = *ended;
    } else if (how == Interrupt::kKill) {
      result.interrupted = true;
      result.exitCode = child.Kill();
    } else {
      // Only the host: it closes the module, which stops its own modem simulator.
      result.interrupted = true;
      child.Signal(SIGTERM);
      const auto deadline = Clock::now() + std::chrono::seconds(60);
      while (!(ended = child.TryWait()) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      result.exitCode = ended ? *ended : child.Kill();
    }
  }
  result.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  // The modem simulator must not outlive the host: its group is gone within moments.
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (kill(-group, 0) == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  result.survivors = kill(-group, 0) == 0;
  return result;
}

// What the phone shows over all runs: each whole SMS (a single one as the modem took it, a
// concatenated one once every part has come, wherever the runs put them), and the texts it
// carries, a joined SMS counting for each of its texts.
class PhoneCount {
 public:
  explicit PhoneCount(const std::vector<std::string>& texts) {
    for (const std::string& text : texts)
      copies_[text] = 0;
  }

  void Run(int run, const std::vector<nlohmann::json>& log) {
    for (const nlohmann::json& line : log) {
      if (line.value("joined", false)) continue;  // rebuilt here, across the runs
      const std::string text = line.value("text", std::string());
      if (!line.contains("part")) {
        Whole(run, text);
        continue;
      }
      const int part = line.value("part", 0);
      const int parts = line.value("parts", 0);
      Concat& concat = concats_[{line.value("concat_reference", -1), parts}];
      concat.slots.resize(static_cast<std::size_t>(std::max(parts, 0)));
      if (part < 1 || part > parts) {
        ++malformed;
        continue;
      }
      auto& slot = concat.slots[static_cast<std::size_t>(part - 1)];
      if (!slot.empty() && slot.front() != text) ++mixedParts;
      slot.push_back(text);
      std::size_t whole = slot.size();
      for (const auto& s : concat.slots)
        whole = std::min(whole, s.size());
      if (whole > concat.whole) {
        concat.whole = whole;
        std::string joined;
        for (const auto& s : concat.slots)
          joined += s[whole - 1];
        Whole(run, joined);
      }
    }
  }

  std::map<std::string, int> copies_;  // every queued text, with how often it came
  std::map<std::string, std::vector<int>> runsOf;
  std::map<int, int> repeatsInRun;  // SMS that brought a text again, per run
  int repeatedSms = 0;
  int unknown = 0;  // a text that was never queued (or came garbled)
  int malformed = 0;
  int mixedParts = 0;  // one concatenation reference with different parts

  // Parts that came more often than their message came whole.
  int ExtraParts() const {
    int extra = 0;
    for (const auto& entry : concats_) {
      for (const auto& slot : entry.second.slots)
        extra += static_cast<int>(slot.size() - entry.second.whole);
    }
    return extra;
  }

 private:
  struct Concat {
    std::vector<std::vector<std::string>> slots;
    std::size_t whole = 0;
  };

  void Whole(int run, const std::string& text) {
    std::vector<std::string> carried = Split(text);
    bool again = false;
    for (const std::string& piece : carried) {
      auto it = copies_.find(piece);
      if (it == copies_.end()) {
        ++unknown;
        std::fprintf(stderr, "run %d: an SMS with a text never queued: %s\n", run, piece.c_str());
        continue;
      }
      if (it->second > 0) again = true;
      ++it->second;
      runsOf[piece].push_back(run);
    }
    if (again) {
      ++repeatedSms;
      ++repeatsInRun[run];
    }
  }

  // "[N条消息] a;b;c" into its N texts; any other text is one.
  static std::vector<std::string> Split(const std::string& text) {
    const std::string tail = "条消息] ";
    const std::size_t close = text.find(tail);
    if (text.empty() || text[0] != '[' || close == std::string::npos || close < 2) return {text};
    const int count = std::atoi(text.substr(1, close - 1).c_str());
    std::vector<std::string> pieces;
    std::size_t from = close + tail.size();
    while (true) {
      const std::size_t end = text.find(';', from);
      pieces.push_back(text.substr(from, end == std::string::npos ? end : end - from));
      if (end == std::string::npos) break;
      from = end + 1;
    }
    if (static_cast<int>(pieces.size()) != count) return {text};
    return pieces;
  }

  std::map<std::pair<int, int>, Concat> concats_;
};

// The AT lines a run's events show, the last `count` of them.
void PrintDialogue(const std::string& events, std::size_t count, const char* what) {
  std::vector<std::string> lines;
  for (const nlohmann::json& e : JsonLines(events)) {
    const std::string name = e.value("event", std::string());
    if (name == "at" || name == "delivered" || name == "outbox_started" || name == "crash" ||
        name == "plugin_report") {
      lines.push_back(e.dump());
    }
  }
  std::fprintf(stderr, "  %s (%s):\n", what, events.c_str());
  const std::size_t from = lines.size() > count ? lines.size() - count : 0;
  for (std::size_t i = from; i < lines.size(); ++i)
    std::fprintf(stderr, "    %s\n", lines[i].c_str());
}

struct Outcome {
  bool ran = false;  // the last run ended cleanly
  int messages = 0;
  int lost = 0;
  int extra = 0;
  int mostCopies = 0;
  int threeTimes = 0;
  int repeatedSms = 0;
  int killsWithTwoRepeats = 0;  // runs after an interruption that brought more than one SMS again
  int interruptions = 0;
  int endedFirst = 0;  // runs that ended before their interruption was due
  int unknown = 0;
  int extraParts = 0;
  int mixedParts = 0;
  int survivors = 0;
  double wallSeconds = 0;
};

// A series on a fresh project: the first run and `interruptions` more, each interrupted at a
// random moment up to `spanMs` after its start, then one that finishes; or (interruptions 0)
// the baseline, one run to the end.
Outcome Series(int cycleMs, Interrupt how, int interruptions, int spanMs, std::uint32_t seed) {
  Outcome outcome;
  const std::vector<std::string> texts = Texts();
  outcome.messages = static_cast<int>(texts.size());
  const std::string root = TempFolder();
  if (root.empty()) return outcome;
  std::error_code ignored;
  std::filesystem::create_directories(root + "/tmp", ignored);
  const std::string project = root + "/project";
  std::filesystem::create_directories(project, ignored);
  if (!WriteProject(project, cycleMs, texts)) return outcome;

  std::mt19937 random(seed);
  std::uniform_int_distribution<int> moment(0, spanMs);
  PhoneCount phone(texts);
  std::vector<RunFiles> files;
  int lastExit = -1;
  for (int run = 0; run <= interruptions; ++run) {
    files.push_back({root + "/events-" + std::to_string(run) + ".jsonl",
                     root + "/modem-" + std::to_string(run) + ".jsonl"});
    const bool last = run == interruptions;
    const RunResult result =
        RunOnce(root, project + (run == 0 ? "/first.toml" : "/later.toml"), files.back(),
                last ? Interrupt::kNone : how, last ? 0 : moment(random), run == 0);
    outcome.wallSeconds += result.wallSeconds;
    if (result.survivors) ++outcome.survivors;
    if (!last) {
      if (result.interrupted) {
        ++outcome.interruptions;
      } else {
        ++outcome.endedFirst;
      }
    }
    lastExit = result.exitCode;
    phone.Run(run, JsonLines(files.back().modemLog));
  }
  outcome.ran = lastExit == 0;

  bool evidence = false;
  for (const auto& [text, n] : phone.copies_) {
    if (n == 0) ++outcome.lost;
    if (n > 1) outcome.extra += n - 1;
    if (n >= 3) ++outcome.threeTimes;
    outcome.mostCopies = std::max(outcome.mostCopies, n);
    if (n == 0 || n >= 3 || (how == Interrupt::kClose && n > 1)) {
      evidence = true;
      std::string runs;
      for (int r : phone.runsOf[text])
        runs += " " + std::to_string(r);
      std::fprintf(stderr, "%s: %d copies, in runs%s: %.60s\n",
                   how == Interrupt::kClose ? "close" : "kill", n, runs.c_str(), text.c_str());
      for (int r : phone.runsOf[text]) {
        if (r > 0)
          PrintDialogue(files[static_cast<std::size_t>(r - 1)].events, 30, "the run before");
        PrintDialogue(files[static_cast<std::size_t>(r)].events, 30, "the run");
      }
    }
  }
  for (const auto& [run, repeats] : phone.repeatsInRun) {
    if (repeats > 1) {
      ++outcome.killsWithTwoRepeats;
      evidence = true;
      std::fprintf(stderr, "run %d brought %d SMS again after one interruption\n", run, repeats);
      if (run > 0)
        PrintDialogue(files[static_cast<std::size_t>(run - 1)].events, 40, "the run before");
    }
  }
  outcome.repeatedSms = phone.repeatedSms;
  outcome.unknown = phone.unknown;
  outcome.extraParts = phone.ExtraParts();
  outcome.mixedParts = phone.mixedParts;
  if (!outcome.ran) {
    evidence = true;
    std::fprintf(stderr, "the last run ended with %d\n", lastExit);
  }
  if (evidence || outcome.unknown > 0 || outcome.mixedParts > 0) {
    std::fprintf(stderr, "runs kept in %s\n", root.c_str());
  } else {
    std::filesystem::remove_all(root, ignored);
  }
  return outcome;
}

void Report(benchmark::State& state, const Outcome& series, const Outcome& baseline,
            Interrupt how) {
  if (!series.ran || !baseline.ran) state.SkipWithError("the last run did not end cleanly");
  state.counters["messages"] = series.messages;
  state.counters["lost"] = series.lost;
  state.counters["extra_copies"] = series.extra;
  state.counters["most_copies"] = series.mostCopies;
  state.counters["three_times"] = series.threeTimes;
  state.counters["repeated_sms"] = series.repeatedSms;
  state.counters["runs_over_one_repeat"] = series.killsWithTwoRepeats;
  state.counters[how == Interrupt::kKill ? "kills" : "closes"] = series.interruptions;
  state.counters["ended_first"] = series.endedFirst;
  state.counters["extra_parts"] = series.extraParts;
  state.counters["unknown_texts"] = series.unknown;
  state.counters["mixed_parts"] = series.mixedParts;
  state.counters["survivors"] = series.survivors;
  state.counters["wall_seconds"] = series.wallSeconds;
  state.counters["baseline_lost"] = baseline.lost;
  state.counters["baseline_extra"] = baseline.extra;
  state.counters["baseline_wall_seconds"] = baseline.wallSeconds;
  if (baseline.wallSeconds > 0)
    state.counters["ratio_vs_baseline"] = series.wallSeconds / baseline.wallSeconds;
}

// The moments spread over the baseline's sending (its tail and start excluded roughly), so that
// the interruptions fall while messages still go out.
int SpanMs(const Outcome& baseline) {
  const double sending = baseline.wallSeconds;
  return std::max(100, static_cast<int>(sending * 1000.0 * 2.0 / kInterruptions));
}

void CrashSoak(benchmark::State& state) {
  const int cycleMs = static_cast<int>(state.range(0));
  const Interrupt how = state.range(1) == 0 ? Interrupt::kKill : Interrupt::kClose;
  Outcome baseline;
  Outcome series;
  for (auto _ : state) {
    baseline = Series(cycleMs, Interrupt::kNone, 0, 0, kSeed);
    series = Series(cycleMs, how, kInterruptions, SpanMs(baseline),
                    kSeed + static_cast<std::uint32_t>(cycleMs + state.range(1)));
    state.SetIterationTime(series.wallSeconds);
  }
  Report(state, series, baseline, how);
}

BENCHMARK(CrashSoak)
    ->ArgNames({"cycle_ms", "close"})
    ->Args({1000, 0})
    ->Args({50, 0})
    ->Args({50, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

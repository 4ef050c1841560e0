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
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
constexpr int kShortTexts = 120;
constexpr const char* kPhone = "13800138000";
constexpr std::uint32_t kSeed = 20250611;
// Simulated seconds of a run that is not interrupted: the whole batch goes out in a tenth of
// that (a late copy still shows in the rest). A run ends at its time, not when the modem falls
// quiet: the host's requests every tick keep it from ever being idle for long.
constexpr int kBaselineSeconds = 120;
constexpr int kLastRunSeconds = 300;
// An interrupted run would end at this time only: it never ends before its interruption.
constexpr int kInterruptedRunSeconds = 3600;
// The modem holds each +CMGS this long (real time, as the host does not skip time while a reply
// is owed): the span in which a crash leaves a part taken by the modem and not marked sent.
const std::vector<std::string> kModemOptions = {"--reply-delay", "0.1"};

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
  std::vector<std::string> texts;
  for (int round = 0; round < 2; ++round) {
    const std::string tag = "L" + std::to_string(round);
    for (const auto& text : {AsciiRun(297), AsciiRun(447), AsciiRun(597), ChineseRun(147),
                             ChineseRun(247), ChineseRun(317)}) {
      texts.push_back(tag + std::to_string(texts.size() % 6) + " " + text);
    }
  }
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
  std::string table = "[simulation]\nspeed = \"max\"\ncycle_ms = " + std::to_string(cycleMs) +
                      "\nlimit = 7200\n\n[modem]\noptions = [";
  for (std::size_t i = 0; i < kModemOptions.size(); ++i)
    table += (i == 0 ? "\"" : ", \"") + kModemOptions[i] + "\"";
  return table + "]\n";
}

std::string EndStep(int seconds) {
  return "\n[[step]]\nat = " + std::to_string(seconds) + "\nsay = \"done\"\n";
}

// A project folder with its configuration (one phone, Coalesce at its default), the first
// scenario that queues the batch, and those of the later runs and the last one: they queue
// nothing, the journal brings back what is left.
bool WriteProject(const std::string& folder, int cycleMs, bool coalesce, int firstSeconds,
                  const std::vector<std::string>& texts) {
  const std::string config =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<XML Version=\"1\" Com=\"0\" Baund=\"2\" "
      "DataBit=\"1\" TelCount=\"1\" VarCount=\"0\"" +
      std::string(coalesce ? "" : " Coalesce=\"0\"") + ">\r\n<Tel0 TelNum=\"" +
      std::string(kPhone) + "\" Desc=\"d\"></Tel0>\r\n</XML>\r\n";
  std::string first = SimulationTable(cycleMs);
  for (const std::string& text : texts) {
    first += "\n[[step]]\nat = 0.5\ncall = \"SendMsg\"\nargs = [" + TomlString(kPhone) + ", " +
             TomlString(text) + "]\n";
  }
  // The bench interrupts the first run only after this line: a text it never queued is not lost.
  first += "\n[[step]]\nafter = 0\nsay = \"queued\"\n" + EndStep(firstSeconds);
  const std::string later = SimulationTable(cycleMs) + EndStep(kInterruptedRunSeconds);
  const std::string last = SimulationTable(cycleMs) + EndStep(kLastRunSeconds);
  std::string why;
  return pagorin::platform::ReplaceFile(folder + "/Kestrova_Configure.ini", config, why) &&
         pagorin::platform::ReplaceFile(folder + "/first.toml", first, why) &&
         pagorin::platform::ReplaceFile(folder + "/later.toml", later, why) &&
         pagorin::platform::ReplaceFile(folder + "/last.toml", last, why);
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
    if (line.is_object() && !line.contains("event")) lines.push_back(std::move(line));
    from = end + 1;
  }
  return lines;
}

enum class Interrupt { kNone, kKill, kClose };

// The processes of group `group` that still run (not zombies), from /proc.
int LiveMembers(pid_t group) {
  int live = 0;
  std::error_code noList;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", noList)) {
    std::string stat;
    std::string why;
    if (!pagorin::platform::ReadWholeFile(entry.path().string() + "/stat", stat, why)) continue;
    // pid (name) state ppid pgrp ...; the name may hold spaces and parentheses.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    long pgrp = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &parent, &pgrp) != 3) continue;
    if (pgrp == group && state != 'Z' && state != 'X') ++live;
  }
  return live;
}

struct RunFiles {
  std::string events;
  std::string modemLog;
};

struct RunResult {
  bool interrupted = false;  // signalled while it still ran
  int exitCode = -1;
  double wallSeconds = 0;
  double firstAtSeconds = 0;  // from the start to the first AT line
  double lastSmsSeconds = 0;  // from the start to the last SMS the modem took
  bool survivors = false;     // a process of its group still ran two seconds after its end
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
  // Until the first `say` line (or at once) the moment is not yet set; the events show when the
  // plug-in first spoke to the modem.
  std::optional<Clock::time_point> due;
  if (!armed) due = start + std::chrono::milliseconds(afterMs);
  bool spoke = false;
  off_t logSize = 0;
  std::string events;
  std::string why;
  std::optional<int> ended;
  while (!(ended = child.TryWait())) {
    const auto now = Clock::now();
    if (how != Interrupt::kNone && due && now >= *due) break;
    if ((!due || !spoke) && pagorin::platform::ReadWholeFile(files.events, events, why)) {
      if (!due && events.find("\"event\":\"say\"") != std::string::npos) {
        due = now + std::chrono::milliseconds(afterMs);
      }
      if (!spoke && events.find("\"event\":\"at\"") != std::string::npos) {
        spoke = true;
        result.firstAtSeconds = std::chrono::duration<double>(now - start).count();
      }
    }
    struct stat info {};
    if (spoke && stat(files.modemLog.c_str(), &info) == 0 && info.st_size != logSize) {
      logSize = info.st_size;
      result.lastSmsSeconds = std::chrono::duration<double>(now - start).count();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
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
  result.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  // The modem simulator must not outlive the host. A killed member stays a zombie until the
  // system reaps it, which may take a while here: only a live one counts.
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  while ((result.survivors = LiveMembers(group) > 0) && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
        if (Whole(run, text)) ++repeatedPiecesInRun[run];
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
      if (std::find(slot.begin(), slot.end(), text) != slot.end()) ++repeatedPiecesInRun[run];
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
  std::map<int, int> repeatsInRun;  // whole SMS that brought a text again, per run
  // Single SMS and parts that the phone had already, per run.
  std::map<int, int> repeatedPiecesInRun;
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

  // True when the SMS brought a text the phone had.
  bool Whole(int run, const std::string& text) {
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
    return again;
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
  int repeatedPieces = 0;       // single SMS and parts the phone had already
  int killsWithTwoRepeats = 0;  // runs after an interruption that brought more than one again
  int interruptions = 0;
  int endedFirst = 0;  // runs that ended before their interruption was due
  int unknown = 0;
  int extraParts = 0;
  int mixedParts = 0;
  int survivors = 0;
  double wallSeconds = 0;
  double startupSeconds = 0;  // of the first run: from its start to its first AT line
  double sendingSeconds = 0;  // of the first run: from its first AT line to its last SMS
};

// A series on a fresh project: the first run and `interruptions` more, each interrupted at a
// random moment from `fromMs` to `toMs` after its start (the first after it queued the batch),
// then one that finishes; or (interruptions 0) the baseline, one run to the end.
Outcome Series(int cycleMs, bool coalesce, Interrupt how, int interruptions, int fromMs, int toMs,
               std::uint32_t seed) {
  Outcome outcome;
  const std::vector<std::string> texts = Texts();
  outcome.messages = static_cast<int>(texts.size());
  const std::string root = TempFolder();
  if (root.empty()) return outcome;
  std::error_code ignored;
  std::filesystem::create_directories(root + "/tmp", ignored);
  const std::string project = root + "/project";
  std::filesystem::create_directories(project, ignored);
  const int firstSeconds = interruptions == 0 ? kBaselineSeconds : kInterruptedRunSeconds;
  if (!WriteProject(project, cycleMs, coalesce, firstSeconds, texts)) return outcome;

  std::mt19937 random(seed);
  std::uniform_int_distribution<int> moment(fromMs, std::max(fromMs, toMs));
  PhoneCount phone(texts);
  std::vector<RunFiles> files;
  int lastExit = -1;
  for (int run = 0; run <= interruptions; ++run) {
    files.push_back({root + "/events-" + std::to_string(run) + ".jsonl",
                     root + "/modem-" + std::to_string(run) + ".jsonl"});
    const bool last = run == interruptions;
    const RunResult result =
        RunOnce(root,
                project + (run == 0 ? "/first.toml"
                           : last   ? "/last.toml"
                                    : "/later.toml"),
                files.back(), last ? Interrupt::kNone : how, last ? 0 : moment(random), run == 0);
    if (run == 0) {
      outcome.startupSeconds = result.firstAtSeconds;
      outcome.sendingSeconds = std::max(0.0, result.lastSmsSeconds - result.firstAtSeconds);
    }
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
  for (const auto& [run, repeats] : phone.repeatedPiecesInRun) {
    outcome.repeatedPieces += repeats;
    if (repeats > 1) {
      ++outcome.killsWithTwoRepeats;
      evidence = true;
      std::fprintf(stderr, "run %d brought %d SMS or parts again after one interruption\n", run,
                   repeats);
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
  if (evidence || outcome.unknown > 0 || outcome.mixedParts > 0 ||
      std::getenv("CRASH_BENCH_KEEP") != nullptr) {
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
  state.counters["repeated_pieces"] = series.repeatedPieces;
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
  state.counters["baseline_startup_seconds"] = baseline.startupSeconds;
  state.counters["baseline_sending_seconds"] = baseline.sendingSeconds;
  if (baseline.wallSeconds > 0)
    state.counters["ratio_vs_baseline"] = series.wallSeconds / baseline.wallSeconds;
}

// The moments: from half the start-up of the baseline (some fall while the new process reads
// the journal) to its start-up plus twice an even share of its sending, so that the batch is
// still going out when the last interruption comes.
int FromMs(const Outcome& baseline) {
  return static_cast<int>(baseline.startupSeconds * 500.0);
}
int ToMs(const Outcome& baseline) {
  return static_cast<int>(
      (baseline.startupSeconds + 2.0 * baseline.sendingSeconds / kInterruptions) * 1000.0);
}

void CrashSoak(benchmark::State& state) {
  const int cycleMs = static_cast<int>(state.range(0));
  const Interrupt how = state.range(1) == 0 ? Interrupt::kKill : Interrupt::kClose;
  const bool coalesce = state.range(2) != 0;
  Outcome baseline;
  Outcome series;
  for (auto _ : state) {
    baseline = Series(cycleMs, coalesce, Interrupt::kNone, 0, 0, 0, kSeed);
    series = Series(cycleMs, coalesce, how, kInterruptions, FromMs(baseline), ToMs(baseline),
                    kSeed + static_cast<std::uint32_t>(cycleMs + state.range(1)));
    state.SetIterationTime(series.wallSeconds);
  }
  Report(state, series, baseline, how);
}

BENCHMARK(CrashSoak)
    ->ArgNames({"cycle_ms", "close", "coalesce"})
    ->Args({1000, 0, 1})
    ->Args({50, 0, 1})
    ->Args({50, 0, 0})
    ->Args({50, 1, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

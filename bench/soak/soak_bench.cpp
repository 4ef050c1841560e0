// The soak run: veltrane-sim with the module and gsm-modem-sim, 1,000 messages queued a few
// tenths of a second apart while the modem sends unsolicited result codes at random moments,
// answers in pieces, refuses one send in twenty at random, has no network for 20 s and is
// unplugged for 10 s. Counts what the phone got: messages lost and messages duplicated (both
// must be 0), the send attempts (AT+CMGS commands) per message, and the time, against a
// baseline run of the same messages with a well-behaved modem in the same process.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_process.h"
#include "platform/file_io.h"

namespace {

constexpr int kMessages = 1000;
constexpr double kFirstAt = 1.0;
constexpr double kGapSeconds = 0.3;
constexpr const char* kPhone = "13800138000";

const std::vector<std::string> kFieldModem = {"--urc-every",    "2",          "--pieces", "2",
                                              "--error-rate",   "0.05",       "--seed",   "11",
                                              "--error-window", "331@100+20", "--unplug", "200+10"};

std::string TempFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "pagorin-soak-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) return {};
  return templ;
}

std::string TextOf(int i) {
  return "soak " + std::to_string(i);
}

// A project with one phone and no rules, and a scenario that queues every message from a script
// call, waits for them all and then runs two more minutes in which a duplicate would show. The
// messages are kept apart (Coalesce="0"): the run counts each one on the phone, and those that
// pile up during the outage would otherwise be joined.
bool WriteProject(const std::string& folder, const std::vector<std::string>& modemOptions) {
  std::string config =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<XML Version=\"1\" Com=\"0\" Baund=\"2\" "
      "DataBit=\"1\" TelCount=\"1\" VarCount=\"0\" Coalesce=\"0\">\r\n<Tel0 TelNum=\"" +
      std::string(kPhone) + "\" Desc=\"d\"></Tel0>\r\n</XML>\r\n";
  std::string scenario = "[simulation]\nspeed = \"max\"\nlimit = 7200\n\n[modem]\noptions = [";
  for (std::size_t i = 0; i < modemOptions.size(); ++i) {
    scenario += (i == 0 ? "\"" : ", \"") + modemOptions[i] + "\"";
  }
  scenario += "]\n";
  for (int i = 0; i < kMessages; ++i) {
    char at[32];
    std::snprintf(at, sizeof at, "%.1f", kFirstAt + i * kGapSeconds);
    scenario += "\n[[step]]\nat = " + std::string(at) + "\ncall = \"SendMsg\"\nargs = [\"" +
                kPhone + "\", \"" + TextOf(i) + "\"]\n";
  }
  scenario += "\n[[step]]\nafter = 0\nwait_for = { delivered = " + std::to_string(kMessages) +
              " }\ntimeout = 3600\n\n[[step]]\nafter = 120\nsay = \"done\"\n";
  std::string why;
  return pagorin::platform::ReplaceFile(folder + "/Kestrova_Configure.ini", config, why) &&
         pagorin::platform::ReplaceFile(folder + "/scenario.toml", scenario, why);
}

struct Outcome {
  bool ran = false;
  double wallSeconds = 0;
  double simSeconds = 0;
  int lost = 0;
  int duplicated = 0;  // copies beyond the first
  int attempts = 0;    // AT+CMGS commands
  int refusals = 0;    // +CMS ERROR replies
};

Outcome Run(const std::vector<std::string>& modemOptions) {
  Outcome outcome;
  std::string folder = TempFolder();
  if (folder.empty() || !WriteProject(folder, modemOptions)) return outcome;
  std::string out = folder + "/events.jsonl";
  std::string log = folder + "/modem.jsonl";
  std::vector<std::string> args = {
      SOAK_SIM,      "--module",     SOAK_MODULE,   "--json", "run", folder + "/scenario.toml",
      "--modem-sim", SOAK_MODEM_SIM, "--modem-log", log};
  pagorin::sim::ChildOptions options;
  options.args = args;
  options.output = pagorin::sim::ChildOptions::Output::kFile;
  options.outputFile = out;
  options.mergeErrorOutput = false;  // its complaints to the bench's own standard error
  auto start = std::chrono::steady_clock::now();
  pagorin::sim::ChildProcess child;
  std::string error;
  const bool spawned = child.Start(options, error);
  if (!spawned) std::fprintf(stderr, "%s\n", error.c_str());
  const int exitCode = spawned ? child.Wait() : -1;
  outcome.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.ran = exitCode == 0;

  std::map<std::string, int> copies;
  std::string text;
  std::string why;
  pagorin::platform::ReadWholeFile(log, text, why);
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    auto line = nlohmann::json::parse(text.substr(from, end - from), nullptr, false);
    if (line.is_object() && !line.contains("event")) ++copies[line.value("text", std::string())];
    from = end + 1;
  }
  for (int i = 0; i < kMessages; ++i) {
    int n = copies[TextOf(i)];
    if (n == 0) ++outcome.lost;
    if (n > 1) outcome.duplicated += n - 1;
  }
  text.clear();
  pagorin::platform::ReadWholeFile(out, text, why);
  from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    auto event = nlohmann::json::parse(text.substr(from, end - from), nullptr, false);
    from = end + 1;
    if (!event.is_object()) continue;
    std::string name = event.value("event", std::string());
    std::string line = event.value("text", std::string());
    if (name == "at" && event.value("dir", std::string()) == "tx" &&
        line.rfind("AT+CMGS=", 0) == 0) {
      ++outcome.attempts;
    } else if (name == "at" && line.find("+CMS ERROR") != std::string::npos) {
      ++outcome.refusals;
    } else if (name == "summary") {
      outcome.simSeconds = event.value("simSeconds", 0.0);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return outcome;
}

void Soak(benchmark::State& state) {
  Outcome clean;
  Outcome field;
  for (auto _ : state) {
    clean = Run({});
    field = Run(kFieldModem);
    state.SetIterationTime(field.wallSeconds);
  }
  if (!clean.ran || !field.ran) state.SkipWithError("veltrane-sim did not end cleanly");
  state.counters["messages"] = kMessages;
  state.counters["lost"] = field.lost;
  state.counters["duplicated"] = field.duplicated;
  state.counters["attempts"] = field.attempts;
  state.counters["attempts_per_message"] = static_cast<double>(field.attempts) / kMessages;
  state.counters["refusals"] = field.refusals;
  state.counters["sim_seconds"] = field.simSeconds;
  state.counters["wall_seconds"] = field.wallSeconds;
  state.counters["clean_lost"] = clean.lost;
  state.counters["clean_duplicated"] = clean.duplicated;
  state.counters["clean_wall_seconds"] = clean.wallSeconds;
  if (clean.wallSeconds > 0)
    state.counters["ratio_vs_clean"] = field.wallSeconds / clean.wallSeconds;
}

BENCHMARK(Soak)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

// End to end through veltrane-sim, the module and gsm-modem-sim, with the modem behaving as
// modems in the field do: unsolicited result codes after the final OK and after the prompt, the
// send switch or a reload between the length command and the PDU, no network for 20 s, the send
// switch held while the final reply is awaited, the adapter unplugged for 10 s. Each row's
// messages must reach the phone exactly once and in the order they were queued; the message in
// the dialogue when the project is reloaded comes back from the outbox. The modem
// simulator's spans run on the host's simulated clock, so no row waits out a time-out in real
// time.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "plugin_config.h"
#include "run_sim.h"
#include "support/temp_dir.h"

namespace pagorin::sim {
namespace {

using nlohmann::json;
using pagorin::testing::ReadFileBytes;
using pagorin::testing::TempDir;
using pagorin::testing::WriteFileBytes;

constexpr const char* kPhone = "13800138000";

// COM2, one phone-book entry and no rules: the messages come from SendMsg calls. The failure
// script only prints, so that the rows can count when the SMS path failed and recovered.
// Coalesce="0": messages that pile up during an outage stay separate SMS, so that the phone
// lists each one.
constexpr const char* kConfig =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<XML Version=\"1\" Com=\"1\" Baund=\"2\" DataBit=\"1\" TelCount=\"1\" VarCount=\"0\" "
    "ModemScript=\"Print(1)\" Coalesce=\"0\">\r\n"
    "<Tel0 TelNum=\"13800138000\" Desc=\"值班室\"></Tel0>\r\n"
    "</XML>\r\n";

struct Send {
  double at;         // simulated seconds
  const char* text;  // also what the phone shows
};

struct Row {
  const char* name;
  std::vector<std::string> modemOptions;
  std::vector<Send> sends;
  std::string steps;  // further [[step]] tables: the row's trouble
  // Runs of the failure script: each failure of the SMS path and each recovery runs it once.
  int minScriptRuns = 0;
  int maxScriptRuns = 100;
};

// gtest names a failing row by this instead of its bytes.
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

std::string Quoted(const std::string& text) {
  return json(text).dump();
}

// The scenario: the sends and the row's steps, then a wait for every message and two more
// minutes in which a duplicate would show.
std::string Scenario(const Row& row) {
  std::string toml = "[simulation]\nspeed = \"max\"\nlimit = 900\n\n[modem]\noptions = [";
  for (std::size_t i = 0; i < row.modemOptions.size(); ++i) {
    toml += (i == 0 ? "" : ", ") + Quoted(row.modemOptions[i]);
  }
  toml += "]\n";
  // Steps run in file order, each once its time has come; keep them sorted by time.
  struct Timed {
    double at;
    std::string table;
  };
  std::vector<Timed> steps;
  for (const Send& send : row.sends) {
    steps.push_back({send.at, "call = \"SendMsg\"\nargs = [\"" + std::string(kPhone) + "\", " +
                                  Quoted(send.text) + "]\n"});
  }
  std::size_t start = 0;
  while (start < row.steps.size()) {
    std::size_t end = row.steps.find("\n\n", start);
    if (end == std::string::npos) end = row.steps.size();
    std::string table = row.steps.substr(start, end - start) + "\n";
    double at = std::stod(table.substr(table.find("at = ") + 5));
    steps.push_back({at, table.substr(table.find('\n') + 1)});
    start = end + 2;
  }
  std::stable_sort(steps.begin(), steps.end(),
                   [](const Timed& a, const Timed& b) { return a.at < b.at; });
  for (const Timed& step : steps) {
    toml += "\n[[step]]\nat = " + std::to_string(step.at) + "\n" + step.table;
  }
  toml += "\n[[step]]\nafter = 0\nwait_for = { delivered = " + std::to_string(row.sends.size()) +
          " }\ntimeout = 600\n\n[[step]]\nafter = 120\nsay = \"done\"\n";
  return toml;
}

std::vector<Row> Rows() {
  return {
      {"UrcAfterTheFinalOk",
       {"--urc-after-ok", "--urc", "+CMTI: \"SM\",3"},
       {{1, "ok-urc 1"}, {2, "ok-urc 2"}, {3, "ok-urc 3"}},
       "",
       0,
       0},
      {"UrcAfterThePrompt",
       {"--urc-after-prompt", "--urc", "^RSSI: 17"},
       {{1, "prompt-urc 1"}, {2, "prompt-urc 2"}, {3, "prompt-urc 3"}},
       "",
       0,
       0},
      {"SendSwitchOffBetweenCommandAndPdu",
       {"--prompt-delay", "2"},
       {{1, "switch-prompt 1"}, {30, "switch-prompt 2"}},
       "at = 2\nscript = '#Pagorin.ShouldSend(0)'\n\nat = 25\nscript = '#Pagorin.ShouldSend(1)'"},
      {"ReloadBetweenCommandAndPdu",
       {"--prompt-delay", "2"},
       {{1, "reload-prompt 1"}, {10, "reload-prompt 2"}, {11, "reload-prompt 3"}},
       "at = 2\nreload = true"},
      {"NoNetworkFor20Seconds",
       {"--error-window", "331@2+20"},
       {{3, "outage 1"},
        {3.1, "outage 2"},
        {3.2, "outage 3"},
        {3.3, "outage 4"},
        {3.4, "outage 5"},
        {3.5, "outage 6"},
        {3.6, "outage 7"},
        {3.7, "outage 8"},
        {3.8, "outage 9"},
        {3.9, "outage 10"}},
       ""},
      {"SendSwitchOffWhileTheFinalReplyIsAwaited",
       {"--reply-delay", "2"},
       {{1, "switch-reply 1"}, {80, "switch-reply 2"}},
       "at = 2\nscript = '#Pagorin.ShouldSend(0)'\n\nat = 75\nscript = '#Pagorin.ShouldSend(1)'"},
      // Long enough to count as a failing path (30 s), once, and its recovery once.
      {"UnpluggedFor40Seconds",
       {"--unplug", "5+40"},
       {{1, "unplug 1"}, {6, "unplug 2"}, {8, "unplug 3"}, {20, "unplug 4"}},
       "",
       2,
       2},
      // Searching and registered by turns for a minute: no stretch lasts long enough to count.
      {"RegistrationFlapsForAMinute",
       {"--error-window", "331@2+6", "--error-window", "331@12+6", "--error-window", "331@22+6",
        "--error-window", "331@32+6", "--error-window", "331@42+6", "--error-window", "331@52+6"},
       {{1, "flap 1"}, {3, "flap 2"}, {13, "flap 3"}, {23, "flap 4"}, {33, "flap 5"}},
       "",
       0,
       0},
  };
}

class FieldModem : public ::testing::TestWithParam<Row> {};

TEST_P(FieldModem, EveryMessageReachesThePhoneOnceInOrder) {
  const Row& row = GetParam();
  TempDir dir;
  WriteFileBytes(dir.File(kConfigFileName), platform::Utf8ToCp936(kConfig));
  WriteFileBytes(dir.File("scenario.toml"), Scenario(row));
  testing::SimRun run = testing::RunSim(
      {"--json", "run", dir.File("scenario.toml"), "--modem-log", dir.File("modem.jsonl")});
  EXPECT_EQ(run.exitCode, 0) << run.output;

  std::vector<std::string> arrived;
  std::string log = ReadFileBytes(dir.File("modem.jsonl"));
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    json line = json::parse(log.substr(start, end - start), nullptr, false);
    if (line.is_object() && !line.contains("event")) {
      EXPECT_EQ(line["number"], std::string("+86") + kPhone);
      arrived.push_back(line.value("text", std::string()));
    }
    start = end + 1;
  }
  std::vector<std::string> expected;
  for (const Send& send : row.sends)
    expected.push_back(send.text);
  EXPECT_EQ(arrived, expected) << run.output;

  // Every failure of the path was followed by its recovery before the end.
  int scriptRuns = 0;
  for (const json& event : run.Events("script_run"))
    scriptRuns += event.value("script", std::string()) == "Print(1)" ? 1 : 0;
  EXPECT_EQ(scriptRuns % 2, 0) << run.output;
  EXPECT_GE(scriptRuns, row.minScriptRuns) << run.output;
  EXPECT_LE(scriptRuns, row.maxScriptRuns) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Rows, FieldModem, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
}  // namespace pagorin::sim

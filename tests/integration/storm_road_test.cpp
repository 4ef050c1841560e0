// Long texts, alphabets, priorities and an alarm storm on the whole road: veltrane-sim with the
// plug-in module and the modem simulator, checked on what the simulated phones show.
#include <gtest/gtest.h>

#include <map>
#include <set>
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
using testing::RunSim;

constexpr int kLowAlarms = 200;
const char* const kPhones[] = {"13800138000", "13912345678", "13698765432"};

// A rule that sends the default text (tag, kind, level, state) of an unacknowledged alarm of
// `variable` to every phone of `places`.
std::string Rule(int index, const std::string& variable, const std::string& desc,
                 const std::vector<int>& places) {
  std::string rule = "<Var" + std::to_string(index) + " VarName=\"" + variable + "\" Desc=\"" +
                     desc +
                     "\" Ll=\"1\" Lo=\"1\" Hh=\"1\" Hi=\"1\" Low=\"1\" Hig=\"1\" Urg=\"1\" "
                     "Ack=\"0\" NoAck=\"1\" Resume=\"0\" Value=\"0\" ValueLimit=\"0\" User=\"0\" "
                     "Format=\"0\" Logic=\"0\" BScript=\"0\" Script=\"\" ScriptType=\"0\" "
                     "VarCount=\"" +
                     std::to_string(places.size()) + "\"";
  for (std::size_t k = 0; k < places.size(); ++k)
    rule += " TelPlace" + std::to_string(k) + "=\"" + std::to_string(places[k]) + "\"";
  return rule + "></Var" + std::to_string(index) + ">\r\n";
}

// The text of a low alarm as the rule composes it, without its closing comma.
std::string LowText(int i) {
  return "T" + std::to_string(i) + "报警:高报,低级,未确认";
}

// One run covers several rows: a Latin text goes 7-bit; a long Chinese text arrives as one
// message; then, while sending is off, 200 low alarms for 3 phones and an urgent alarm raised
// after them: each phone gets the urgent alarm first, then every low alarm once, in order,
// joined into a few messages within the part limit.
TEST(StormRoad, LongTextsAlphabetsUrgentFirstAndACoalescedStorm) {
  TempDir dir;
  const std::string longDesc = "二级泵房出水总管压力变送器" + std::string("一二三四五六七八九十") +
                               "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十" +
                               "一二三四五六七八九十一二三四五六七八九十";
  std::string config =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<XML Version=\"1\" Com=\"1\" Baund=\"2\" DataBit=\"1\" TelCount=\"3\" VarCount=\"" +
      std::to_string(kLowAlarms + 2) + "\">\r\n";
  for (int p = 0; p < 3; ++p) {
    config += "<Tel" + std::to_string(p) + " TelNum=\"" + kPhones[p] + "\" Desc=\"\"></Tel" +
              std::to_string(p) + ">\r\n";
  }
  config += Rule(0, "Long.PV", longDesc, {0});
  config += Rule(1, "Urgent.PV", "", {0, 1, 2});
  // Ten simulated seconds a second: the end of the run waits for two silent simulated seconds,
  // which a loaded machine does not reach between two messages.
  std::string variables = R"toml(
[simulation]
speed = 10
[[variable]]
name = "Long.PV"
value = 0.0
hi = { limit = 1.0, level = 2 }
[[variable]]
name = "Urgent.PV"
value = 0.0
hi = { limit = 1.0, level = 3 }
)toml";
  std::string storm = "set = { ";
  for (int i = 1; i <= kLowAlarms; ++i) {
    const std::string tag = "T" + std::to_string(i);
    config += Rule(i + 1, tag + ".PV", "", {0, 1, 2});
    variables +=
        "[[variable]]\nname = \"" + tag + ".PV\"\nvalue = 0.0\nhi = { limit = 1.0, level = 1 }\n";
    storm += (i > 1 ? ", \"" : "\"") + tag + ".PV\" = 5";
  }
  storm += " }\n";
  config += "</XML>\r\n";
  WriteFileBytes(dir.File(kConfigFileName), platform::Utf8ToCp936(config));
  WriteFileBytes(dir.File("scenario.toml"), variables + R"toml(
[[step]]
at = 1
call = "SendMsg"
args = ["13800138000", "Pump 1 tripped: {pressure} 1.5 bar"]
[[step]]
at = 2
set = { "Long.PV" = 5 }
[[step]]
after = 0
wait_for = { delivered = 4 }
timeout = 60
[[step]]
at = 5
script = '#Pagorin.ShouldSend(0)'
[[step]]
at = 6
)toml" + storm + R"toml(
[[step]]
at = 8
set = { "Urgent.PV" = 5 }
[[step]]
at = 9.5
expect = { phone = "13912345678", nothing = true }
[[step]]
at = 10
script = '#Pagorin.ShouldSend(1)'
[[step]]
at = 11
wait_for = { delivered = 60 }
timeout = 600
[[step]]
after = 0
wait_for = "idle"
timeout = 600
)toml");
  const testing::SimRun run =
      RunSim({"--json", "run", dir.File("scenario.toml"), "--modem-log", dir.File("modem.jsonl")},
             {}, 170);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  // Nothing left while sending was off.
  EXPECT_EQ(run.Events("expect_met").size(), 1u) << run.output;

  // What each phone shows: a message without parts, or the joined line of a concatenated one.
  std::map<std::string, std::vector<json>> shown;
  const std::string log = ReadFileBytes(dir.File("modem.jsonl"));
  for (std::size_t start = 0; start < log.size();) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    json line = json::parse(log.substr(start, end - start), nullptr, false);
    start = end + 1;
    if (line.is_discarded() || line.contains("event")) continue;
    if (line.contains("part") && !line.value("joined", false)) {
      EXPECT_LE(line["parts"].get<int>(), 5) << line.dump();
      continue;
    }
    shown[line["number"].get<std::string>()].push_back(line);
  }

  // The Latin text in the 7-bit alphabet, the long one as one message of two parts.
  const std::vector<json>& first = shown["+8613800138000"];
  ASSERT_GE(first.size(), 3u) << run.output;
  EXPECT_EQ(first[0]["text"], "Pump 1 tripped: {pressure} 1.5 bar");
  EXPECT_EQ(first[0]["alphabet"], "GSM7");
  EXPECT_EQ(first[1]["text"], longDesc + "报警:高报,高级,未确认,");
  EXPECT_EQ(first[1]["alphabet"], "UCS2");
  EXPECT_EQ(first[1].value("parts", 1), 2);

  std::vector<std::string> lowOrder;
  for (const char* phone : kPhones) {
    SCOPED_TRACE(phone);
    std::vector<json> messages = shown["+86" + std::string(phone)];
    if (std::string(phone) == kPhones[0]) messages.erase(messages.begin(), messages.begin() + 2);
    ASSERT_FALSE(messages.empty());
    // The urgent alarm, raised after the storm, comes first.
    EXPECT_EQ(messages[0]["text"], "Urgent报警:高报,紧急,未确认,");
    // Then every low alarm once: joined ones with their count at the head.
    std::vector<std::string> lows;
    std::size_t joined = 0;
    for (std::size_t m = 1; m < messages.size(); ++m) {
      const std::string text = messages[m]["text"];
      if (!text.starts_with("[")) {
        lows.push_back(text.substr(0, text.size() - 1));  // without the closing comma
        continue;
      }
      ++joined;
      const std::size_t close = text.find("条报警] ");
      ASSERT_NE(close, std::string::npos) << text;
      const int count = std::stoi(text.substr(1, close - 1));
      std::string rest = text.substr(close + std::string("条报警] ").size());
      int pieces = 0;
      for (std::size_t at = 0; at <= rest.size(); ++pieces) {
        std::size_t semicolon = rest.find(';', at);
        if (semicolon == std::string::npos) semicolon = rest.size();
        lows.push_back(rest.substr(at, semicolon - at));
        at = semicolon + 1;
      }
      EXPECT_EQ(pieces, count) << text;
    }
    ASSERT_EQ(lows.size(), static_cast<std::size_t>(kLowAlarms));
    std::set<std::string> expected;
    for (int i = 1; i <= kLowAlarms; ++i)
      expected.insert(LowText(i));
    EXPECT_EQ(std::set<std::string>(lows.begin(), lows.end()), expected);
    // First in first out within the priority: every phone gets them in the same order.
    if (lowOrder.empty()) lowOrder = lows;
    EXPECT_EQ(lows, lowOrder);
    // Coalesced: a few long messages instead of 200 short ones.
    EXPECT_GE(joined, 5u);
    EXPECT_LE(messages.size(), 30u);
  }
}

}  // namespace
}  // namespace pagorin::sim

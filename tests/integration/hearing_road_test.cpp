// Hearing back on the whole road (veltrane-sim, the module, the modem simulator): the verdict of
// each status report in the send history, replies joined into the record of received messages,
// a full storage and lost notices that lose nothing, and the loop test through the modem's own
// number.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "one_phone_project.h"
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
using testing::SimRun;

constexpr const char* kOwnNumber = "13800000000";

// Runs the one-phone project with `rootAttributes` added to its configuration's root, the modem
// simulator's `options` and the scenario's `steps` (simulated time up to 900 s).
SimRun RunHearing(const std::string& rootAttributes, const std::vector<std::string>& options,
                  const std::string& steps, TempDir& dir) {
  std::string config = kOnePhoneConfig;
  config.insert(config.find("<XML ") + 5, rootAttributes + " ");
  WriteFileBytes(dir.File(kConfigFileName), platform::Utf8ToCp936(config));
  std::string list;
  for (const std::string& option : options)
    list += (list.empty() ? "\"" : ", \"") + option + "\"";
  WriteFileBytes(dir.File("scenario.toml"), "[simulation]\nlimit = 900\n[modem]\noptions = [" +
                                                list + "]\n[[variable]]\nname = \"Tank1.PV\"\n" +
                                                "value = 3.0\n" + steps);
  return RunSim({"--json", "run", dir.File("scenario.toml")});
}

// The send history's lines in `state` ("sent", "delivered", "undelivered", ...).
std::vector<json> History(const SimRun& run, const std::string& state) {
  std::vector<json> lines;
  for (const json& line : run.Events("history")) {
    if (line["state"] == state) lines.push_back(line);
  }
  return lines;
}

constexpr const char* kSendOne = R"toml(
[[step]]
at = 1
call = "SendMsg"
args = ["13800138000", "回执测试"]
)toml";

// Each report's status as the send history's verdict after the sent line: delivered, failed
// for good with its reason in Chinese; a centre still trying and a network without reports
// leave no verdict.
TEST(HearingRoad, EachReportStatusGivesItsVerdict) {
  struct Row {
    std::vector<std::string> modem;
    const char* state;  // nullptr: no verdict line
    const char* reason;
  };
  const Row rows[] = {
      {{"--report-status", "0x00"}, "delivered", ""},
      {{"--report-status", "0x43"}, "undelivered", "号码不存在"},
      {{"--report-status", "0x62"}, "undelivered", "对方关机超时"},
      {{"--report-status", "0x42"}, "undelivered", "对方拒收"},
      {{"--report-status", "0x61"}, "undelivered", "对方忙"},
      {{"--report-status", "0x41"}, "undelivered", "未送达(状态 0x41)"},
      {{"--report-status", "0x20"}, nullptr, ""},
      {{"--no-reports"}, nullptr, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.modem.back());
    TempDir dir;
    const std::string end = row.state != nullptr
                                ? "[[step]]\nafter = 0\nwait_for = { reports = 1 }\n"
                                : "[[step]]\nat = 60\nsay = \"no verdict\"\n";
    SimRun run = RunHearing("", row.modem, std::string(kSendOne) + end, dir);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto sent = History(run, "sent");
    ASSERT_EQ(sent.size(), 1u) << run.output;
    const auto summary = run.Events("summary").at(0);
    const auto delivered = History(run, "delivered"), undelivered = History(run, "undelivered");
    EXPECT_EQ(summary["reportsDelivered"], delivered.size());
    EXPECT_EQ(summary["reportsUndelivered"], undelivered.size());
    EXPECT_EQ(summary["statusReports"], row.modem[0] == "--no-reports" ? 0 : 1);
    if (row.state == nullptr) {
      EXPECT_EQ(delivered.size() + undelivered.size(), 0u) << run.output;
      continue;
    }
    const auto verdicts = History(run, row.state);
    ASSERT_EQ(verdicts.size(), 1u) << run.output;
    EXPECT_EQ(verdicts[0]["number"], "13800138000");
    EXPECT_EQ(verdicts[0]["reference"], sent[0]["reference"]);
    EXPECT_EQ(verdicts[0]["reason"], row.reason);
    EXPECT_GT(verdicts[0]["t"].get<double>(), sent[0]["t"].get<double>());
  }
}

struct HearingCase {
  const char* name;
  std::string rootAttributes;
  std::vector<std::string> modem;
  std::string steps;
  std::function<void(const SimRun&, const TempDir&)> check;
};

// Named in test output by its name alone.
void PrintTo(const HearingCase& row, std::ostream* out) {
  *out << row.name;
}

class Hearing : public ::testing::TestWithParam<HearingCase> {};

TEST_P(Hearing, LosesNothingAndRecordsWhatCameBack) {
  TempDir dir;
  SimRun run = RunHearing(GetParam().rootAttributes, GetParam().modem, GetParam().steps, dir);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  GetParam().check(run, dir);
}

// A text of three parts, sent once; the run goes on 30 s after the first verdict, so that a
// second one would show.
const std::string kSendThreeParts = R"toml(
[[step]]
at = 1
call = "SendMsg"
args = ["13800138000", ")toml" + std::string(400, 'x') +
                                    R"toml("]
[[step]]
after = 0
wait_for = { reports = 1 }
timeout = 120
[[step]]
after = 30
say = "later reports would add lines"
)toml";

// Five phones answer at once into a storage of two slots.
std::string FiveReplies() {
  std::string steps;
  for (int i = 1; i <= 5; ++i) {
    steps += "[[step]]\nat = 5\nreply = { from = \"1390000000" + std::to_string(i) +
             "\", text = \"回复" + std::to_string(i) + "\" }\n";
  }
  return steps + "[[step]]\nafter = 0\nwait_for = { received = 5 }\ntimeout = 300\n";
}

void AllFiveReceived(const SimRun& run, const TempDir&) {
  std::multiset<std::string> texts;
  for (const json& line : run.Events("received"))
    texts.insert(line["text"].get<std::string>());
  EXPECT_EQ(texts, (std::multiset<std::string>{"回复1", "回复2", "回复3", "回复4", "回复5"}))
      << run.output;
  int full = 0;
  for (const json& e : run.Events("modem_storage"))
    full += e["storage"] == "storage_full";
  EXPECT_GE(full, 1) << run.output;
}

// The loop test on, with a path script that says when the path counts as failing.
const std::string kLoopConfig = std::string("OwnNumber=\"") + kOwnNumber +
                                "\" LoopHours=\"1\" ModemScript=\"Print(&quot;通道故障&quot;)\"";
constexpr const char* kPastLoopWait = "[[step]]\nat = 800\nsay = \"past the loop test's wait\"\n";

std::vector<json> Prints(const SimRun& run, const std::string& text) {
  std::vector<json> prints;
  for (const json& e : run.Events("script_print")) {
    if (e["text"] == text) prints.push_back(e);
  }
  return prints;
}

// Whether a status line of the modem named the loop test's failure. (The path script is not a
// sign: a health check that times out on a loaded machine runs it too.)
bool LoopFailureShown(const SimRun& run) {
  for (const json& e : run.Events("modem_status")) {
    if (e["text"].get<std::string>().find("自检短信未收回") != std::string::npos) return true;
  }
  return false;
}

const HearingCase kCases[] = {
    // Three parts sent, their reports out of order: one verdict once the last part's came.
    {"MultiPartDeliveredWhenEveryPartIs",
     "",
     {"--reports-out-of-order"},
     kSendThreeParts,
     [](const SimRun& run, const TempDir&) {
       const auto reports = run.Events("status_report");
       ASSERT_EQ(reports.size(), 3u) << run.output;
       const auto delivered = History(run, "delivered");
       ASSERT_EQ(delivered.size(), 1u) << run.output;
       // The first report comes 5 s after its part, the other two 15 s after theirs.
       EXPECT_GE(delivered[0]["t"].get<double>() - reports[0]["t"].get<double>(), 5.0)
           << run.output;
     }},
    // The second part fails for good: the message is not delivered, whatever the others say.
    {"MultiPartUndeliveredWhenOnePartIsNot",
     "",
     {"--report-status", "0x00,0x41,0x00"},
     kSendThreeParts,
     [](const SimRun& run, const TempDir&) {
       EXPECT_TRUE(History(run, "delivered").empty()) << run.output;
       const auto undelivered = History(run, "undelivered");
       ASSERT_EQ(undelivered.size(), 1u) << run.output;
       EXPECT_EQ(undelivered[0]["reason"], "未送达(状态 0x41)");
     }},
    // A reply in three parts from the phone book's number, one from a stranger: two whole
    // messages recorded; only the phone book's runs the inbox script.
    {"RepliesJoinedIntoTheReceivedRecord",
     "InboxScript=\"Print(&quot;%NAME%|%TEXT%&quot;)\"",
     {},
     R"toml(
[[step]]
at = 5
reply = { from = "+8613800138000", text = "水位已处理,请复核", parts = 3 }
[[step]]
at = 6
reply = { from = "13912345678", text = "who is this" }
[[step]]
after = 0
wait_for = { received = 2 }
timeout = 120
)toml",
     [](const SimRun& run, const TempDir& dir) {
       const auto parts = run.Events("phone_reply");
       ASSERT_EQ(parts.size(), 4u) << run.output;
       EXPECT_EQ(
           std::count_if(parts.begin(), parts.end(), [](const json& e) { return e["parts"] == 3; }),
           3);
       const auto received = run.Events("received");
       ASSERT_EQ(received.size(), 2u) << run.output;
       EXPECT_EQ(received[0]["number"], "+8613800138000");
       EXPECT_EQ(received[0]["text"], "水位已处理,请复核");
       EXPECT_EQ(received[0]["name"], "值班室");
       EXPECT_EQ(received[1]["number"], "13912345678");
       EXPECT_EQ(received[1]["name"], "");
       for (const json& line : received)
         EXPECT_EQ(line["state"], "complete");
       EXPECT_EQ(Prints(run, "值班室|水位已处理,请复核").size(), 1u) << run.output;
       EXPECT_EQ(run.Events("script_print").size(), 1u) << run.output;
       EXPECT_EQ(run.Events("summary").at(0)["received"], 2);
       EXPECT_TRUE(ReadFileBytes(dir.File("Pagorin_Received.csv"))
                       .starts_with("\xEF\xBB\xBF接收时间,短信中心时间,手机号码,说明,内容,状态"));
     }},
    {"AFullStorageTheCievWay", "", {"--storage-slots", "2"}, FiveReplies(), AllFiveReceived},
    {"AFullStorageTheSmmemfullWay",
     "",
     {"--storage-slots", "2", "--full-notice", "smmemfull"},
     FiveReplies(),
     AllFiveReceived},
    // No notice at all: the reply and the report are found by the ten-minute listing.
    {"MissedNoticesFoundByTheSweep",
     "",
     {"--drop-notices", "1"},
     std::string(kSendOne) + R"toml(
[[step]]
at = 5
reply = { from = "13800138000", text = "收到" }
[[step]]
after = 0
wait_for = { received = 1 }
timeout = 800
[[step]]
after = 0
wait_for = { reports = 1 }
timeout = 60
)toml",
     [](const SimRun& run, const TempDir&) {
       int dropped = 0;
       for (const json& e : run.Events("modem_storage"))
         dropped += e["storage"] == "notice_dropped";
       EXPECT_EQ(dropped, 2) << run.output;
       const auto received = run.Events("received");
       ASSERT_EQ(received.size(), 1u) << run.output;
       EXPECT_EQ(received[0]["text"], "收到");
       EXPECT_GE(received[0]["t"].get<double>(), 600.0);
       EXPECT_EQ(History(run, "delivered").size(), 1u) << run.output;
     }},
    {"LoopTestComesBack",
     kLoopConfig,
     {"--own-number", kOwnNumber},
     kPastLoopWait,
     [](const SimRun& run, const TempDir&) {
       const auto received = run.Events("received");
       ASSERT_EQ(received.size(), 1u) << run.output;
       EXPECT_EQ(received[0]["state"], "loop");
       EXPECT_TRUE(received[0]["text"].get<std::string>().starts_with("短信通道自检 "));
       EXPECT_EQ(run.Events("summary").at(0)["receivedLoop"], 1);
       EXPECT_TRUE(History(run, "undelivered").empty()) << run.output;
       EXPECT_FALSE(LoopFailureShown(run)) << run.output;
     }},
    {"LoopTestNeverComesBack",
     kLoopConfig,
     {},
     kPastLoopWait,
     [](const SimRun& run, const TempDir&) {
       const auto undelivered = History(run, "undelivered");
       ASSERT_EQ(undelivered.size(), 1u) << run.output;
       EXPECT_EQ(undelivered[0]["number"], kOwnNumber);
       EXPECT_EQ(undelivered[0]["reason"], "自检短信未收回");
       EXPECT_GE(undelivered[0]["t"].get<double>(), 720.0);
       EXPECT_TRUE(LoopFailureShown(run)) << run.output;
       // The path fails from then on: its script runs once it has failed for 30 s.
       const auto prints = Prints(run, "通道故障");
       ASSERT_FALSE(prints.empty()) << run.output;
       EXPECT_GE(prints.back()["t"].get<double>(), undelivered[0]["t"].get<double>() + 29);
       EXPECT_TRUE(run.Events("received").empty());
     }},
};

INSTANTIATE_TEST_SUITE_P(Road, Hearing, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pagorin::sim

// What a user sees of the records on the whole road (veltrane-sim, the module, the modem
// simulator): the fate of each message from the send history, the outbox surviving a crash and a
// restart of the host, the modem's status when it is gone, has no network or no SIM, and a
// configuration that could not be loaded or stored.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>

#include "child_process.h"
#include "core/outbox_journal.h"
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

constexpr const char* kTank = R"toml(
[[variable]]
name = "Tank1.PV"
value = 3.0
hi = { limit = 4.5, level = 2 }
)toml";

// How many times each number was handed a text by the phone network.
std::map<std::string, int> DeliveredPerNumber(const SimRun& run) {
  std::map<std::string, int> counts;
  for (const json& e : run.Events("delivered"))
    ++counts[e["number"].get<std::string>()];
  return counts;
}

// First run: a message sent and one refused, then five queued while sending is held; sending
// goes on and the host crashes while the modem holds its answer to the first of them (the PDU
// written, no +CMGS yet). The new host process delivers what waited, then queues two more while
// sending is held and is closed and started again in order. The crashed process either starts
// its successor itself (true) or is killed, and the test starts the next one (false).
class CrashedHost : public ::testing::TestWithParam<bool> {};

TEST_P(CrashedHost, LosesNothingAndOnlyTheMessageInFlightGoesTwice) {
  const bool startsItsSuccessor = GetParam();
  TempDir dir;
  WriteFileBytes(dir.File(kConfigFileName), platform::Utf8ToCp936(kOnePhoneConfig));
  WriteFileBytes(dir.File("a.toml"), std::string(R"toml(
[modem]
options = ["--reply-delay", "8"]
)toml") + kTank + R"toml(
[[step]]
at = 1
call = "SendMsg"
args = ["13800138000,123", "早先的一条"]
[[step]]
after = 0
wait_for = { history = 2 }
[[step]]
after = 0
script = "#Pagorin.ShouldSend(0)"
[[step]]
after = 0.5
call = "SendMsg"
args = ["13800138001,13800138002,13800138003,13800138004,13800138005", "停电前排队"]
[[step]]
after = 1
call = "ShouldSend"
args = [1]
[[step]]
after = 0
wait_for = { delivered = 2 }
[[step]]
after = 0
)toml" + std::string(startsItsSuccessor ? "crash = \"b.toml\"\n" : "crash = true\n"));
  WriteFileBytes(dir.File("b.toml"), std::string(kTank) + R"toml(
[[step]]
at = 0
wait_for = { history = 5 }
timeout = 60
[[step]]
after = 0
script = "#Pagorin.ShouldSend(0)"
[[step]]
after = 0.5
call = "SendMsg"
args = ["13800138006,13800138007", "关闭前排队"]
[[step]]
after = 0.5
restart = true
[[step]]
after = 0
wait_for = { history = 7 }
timeout = 60
)toml");
  SimRun run = RunSim({"--json", "run", dir.File("a.toml")});
  if (!startsItsSuccessor) {
    ASSERT_EQ(run.exitCode, 128 + SIGKILL) << run.output;
    SimRun next = RunSim({"--json", "run", dir.File("b.toml")});
    run.exitCode = next.exitCode;
    run.output += next.output;
    run.Parse();
  }
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(run.Events("crash").size(), 1u) << run.output;

  // The one message whose PDU the modem had taken before the crash is the one that goes twice.
  std::string inFlight;
  int piecesBeforeCrash = 0;
  for (const json& e : run.events) {
    if (e["event"] == "crash") break;
    if (e["event"] == "piece" && e["text"] == "停电前排队") {
      ++piecesBeforeCrash;
      inFlight = e["number"].get<std::string>();
    }
  }
  ASSERT_EQ(piecesBeforeCrash, 1) << run.output;
  std::map<std::string, int> expected = {
      {"+8613800138000", 1}, {"+8613800138001", 1}, {"+8613800138002", 1}, {"+8613800138003", 1},
      {"+8613800138004", 1}, {"+8613800138005", 1}, {"+8613800138006", 1}, {"+8613800138007", 1}};
  ASSERT_TRUE(expected.count(inFlight)) << inFlight;
  expected[inFlight] = 2;
  EXPECT_EQ(DeliveredPerNumber(run), expected) << run.output;

  // Each start tells what the outbox took over: nothing; the five that waited at the crash
  // (the history of the first run, one sent and one refused, in the send record); the two that
  // waited when the host closed.
  auto starts = run.Events("outbox_started");
  ASSERT_EQ(starts.size(), 3u) << run.output;
  const std::vector<std::vector<int>> taken = {{0, 0, 0}, {5, 0, 2}, {2, 0, 7}};
  for (std::size_t i = 0; i < taken.size(); ++i) {
    EXPECT_EQ((std::vector<int>{starts[i]["resent"], starts[i]["failed"], starts[i]["earlier"]}),
              taken[i])
        << i;
  }

  // Every fate as the history recorded it, shown as it was written: the refusal with its
  // reason in Chinese, each sent message with its reference.
  // A status report that came back before the crash adds its own line.
  std::vector<json> history;
  for (const json& line : run.Events("history")) {
    if (line["state"] != "delivered") history.push_back(line);
  }
  ASSERT_EQ(history.size(), 9u) << run.output;
  int sent = 0;
  for (const json& line : history) {
    if (line["state"] == "refused") {
      EXPECT_EQ(line["number"], "123");
      EXPECT_EQ(line["stateWord"], "已拒绝");
      EXPECT_FALSE(line["reason"].get<std::string>().empty());
    } else {
      EXPECT_EQ(line["state"], "sent") << line.dump();
      EXPECT_FALSE(line["reference"].get<std::string>().empty()) << line.dump();
      ++sent;
    }
  }
  EXPECT_EQ(sent, 8);
  // The summary of the last process counts from the history it saw written.
  auto summary = run.Events("summary");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0]["historySent"], 7);

  // On disk: the history decodes as UTF-8 after its mark, one line per message of all runs;
  // the outbox holds nothing waiting.
  const std::string csv = ReadFileBytes(dir.File("Pagorin_SendHistory.csv"));
  ASSERT_TRUE(csv.starts_with("\xEF\xBB\xBF"));
  EXPECT_NE(csv.find("早先的一条"), std::string::npos);
  EXPECT_NE(platform::Utf8ToCp936(csv.substr(3)), csv.substr(3));  // not code page 936 bytes
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'),
            1 + 9 + static_cast<std::ptrdiff_t>(run.Events("history").size() - history.size()));
  const auto journal = OutboxJournal::Parse(ReadFileBytes(dir.File("Pagorin_Outbox.journal")));
  EXPECT_TRUE(journal.waiting.empty());
}

INSTANTIATE_TEST_SUITE_P(ExecOrKill, CrashedHost, ::testing::Bool());

// The modem's status as the dialog shows it appears whenever it changes: the adapter pulled out
// (the port gone), a network outage (the last failure with its meaning), no SIM card.
TEST(Records, TheModemStatusShowsThePortGoneNoNetworkAndNoSim) {
  TempDir dir;
  WriteFileBytes(dir.File(kConfigFileName), platform::Utf8ToCp936(kOnePhoneConfig));
  WriteFileBytes(dir.File("scenario.toml"), std::string(R"toml(
[modem]
options = ["--unplug", "5+10", "--error-window", "331@30+20"]
)toml") + kTank + R"toml(
[[step]]
at = 35
call = "SendMsg"
args = ["13800138000", "无网络时"]
[[step]]
after = 0
wait_for = { delivered = 1 }
timeout = 60
)toml");
  auto statuses = [](const SimRun& run) {
    std::string all;
    for (const json& e : run.Events("modem_status"))
      all += e["text"].get<std::string>() + "\n";
    return all;
  };
  SimRun outage = RunSim({"--json", "run", dir.File("scenario.toml")});
  ASSERT_EQ(outage.exitCode, 0) << outage.output;
  const std::string seen = statuses(outage);
  EXPECT_NE(seen.find("串口未打开"), std::string::npos) << seen;
  EXPECT_NE(seen.find("+CMS ERROR: 331 无网络服务"), std::string::npos) << seen;
  EXPECT_NE(seen.find("已注册网络"), std::string::npos) << seen;

  SimRun noSim = RunSim({"--json", "run", dir.File("scenario.toml"), "--modem-arg=--no-sim"});
  EXPECT_NE(statuses(noSim).find("无SIM卡"), std::string::npos) << statuses(noSim);
}

// A configuration file cut short is not loaded and is said to be; storing the project into a
// read-only folder is said to fail; the file is left as it was.
TEST(Records, ADamagedConfigurationAndAFailedSaveAreShown) {
  TempDir dir;
  std::string config = platform::Utf8ToCp936(kOnePhoneConfig);
  const std::string damaged = config.substr(0, config.size() - 8);  // without "</XML>\r\n"
  WriteFileBytes(dir.File(kConfigFileName), damaged);
  WriteFileBytes(dir.File("scenario.toml"), std::string(kTank) + R"toml(
[[step]]
at = 1
save = true
)toml");
  // The folder read-only for this run only, in a mount namespace of its own (root only).
  std::string unshare;
  for (const char* candidate : {"/usr/bin/unshare", "/bin/unshare"}) {
    if (unshare.empty() && std::filesystem::exists(candidate)) unshare = candidate;
  }
  if (unshare.empty()) GTEST_SKIP() << "no unshare program to make a read-only folder with";
  ChildOptions options = testing::SimOptions({"--json", "run", dir.File("scenario.toml")});
  options.args.insert(options.args.begin(),
                      {unshare, "--mount", "--", "sh", "-c",
                       "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" \"$0\" || "
                       "exit 77; exec \"$@\"",
                       dir.path()});
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start(options, error)) << error;
  SimRun run;
  child.ReadAllOutput(run.output, std::chrono::seconds(60));
  run.exitCode = child.Wait();
  if (run.exitCode == 77 || (run.exitCode == 1 && run.output.empty())) {
    GTEST_SKIP() << "no private mount namespace here (needs root): " << run.output;
  }
  run.Parse();
  ASSERT_EQ(run.Events("summary").size(), 1u) << run.output;
  auto problems = run.Events("config_problem");
  ASSERT_EQ(problems.size(), 1u) << run.output;
  EXPECT_NE(problems[0]["text"].get<std::string>().find("damaged"), std::string::npos);
  EXPECT_NE(problems[0]["text"].get<std::string>().find("not loaded"), std::string::npos);
  auto failedSaves = run.Events("config_save_failed");
  ASSERT_EQ(failedSaves.size(), 1u) << run.output;
  EXPECT_EQ(ReadFileBytes(dir.File(kConfigFileName)), damaged);
}

}  // namespace
}  // namespace pagorin::sim

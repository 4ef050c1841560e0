// The whole road: veltrane-sim with the plug-in module and the modem simulator, checked on the
// simulator's JSON events and on the modem simulator's log of the messages it decoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>

#include "child_process.h"
#include "config/configuration.h"
#include "file_archive.h"
#include "markup/markup_document.h"
#include "one_phone_project.h"
#include "platform/archive.h"
#include "platform/code_page.h"
#include "plugin_config.h"
#include "run_sim.h"
#include "support/temp_dir.h"

namespace pagorin::sim {
namespace {

// `text` without its ` Revision="<digits>"` attributes.
std::string WithoutRevision(std::string text) {
  const std::string key = " Revision=\"";
  for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
    std::size_t end = at + key.size();
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
      ++end;
    if (end < text.size() && text[end] == '"') {
      text.erase(at, end + 1 - at);
    } else {
      at = end;
    }
  }
  return text;
}

// The configuration document that the module makes of `document` (code page 936) when it loads
// and stores it, without its revision.
std::string StoredByTheModule(const std::string& document) {
  pagorin::testing::TempDir dir;
  pagorin::testing::WriteFileBytes(dir.File("in.ini"), document);
  Configuration config;
  config.configPath = dir.File("in.ini");
  MarkupDocument markup;
  LoadConfiguration(config, markup);
  config.configPath = dir.File("out.ini");
  return WithoutRevision(SaveConfiguration(config));
}

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
lo = { limit = 1.0, level = 1 }
)toml";

struct Road {
  TempDir dir;
  SimRun run;
  std::vector<json> phone;  // the modem simulator's log, one object per accepted message

  void Project(const std::string& configUtf8, const std::string& scenario) {
    WriteFileBytes(dir.File(kConfigFileName), platform::Utf8ToCp936(configUtf8));
    WriteFileBytes(dir.File("scenario.toml"), scenario);
  }
  void Run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--json", "run", dir.File("scenario.toml"), "--modem-log",
                                     dir.File("modem.jsonl")};
    args.insert(args.end(), extra.begin(), extra.end());
    run = RunSim(args);
    std::string log = ReadFileBytes(dir.File("modem.jsonl"));
    std::size_t start = 0;
    while (start < log.size()) {
      std::size_t end = log.find('\n', start);
      if (end == std::string::npos) end = log.size();
      auto line = json::parse(log.substr(start, end - start), nullptr, false);
      // Storage events (reports and incoming messages) have an "event"; messages do not.
      if (!line.is_discarded() && !line.contains("event")) phone.push_back(line);
      start = end + 1;
    }
  }
  // The AT+CMGS commands: one per message part sent or tried.
  std::vector<json> Sends() const {
    std::vector<json> sends;
    for (const auto& command : Commands()) {
      if (command["text"].get<std::string>().starts_with("AT+CMGS=")) sends.push_back(command);
    }
    return sends;
  }
  std::vector<json> Commands() const {
    std::vector<json> commands;
    for (const auto& e : run.Events("at")) {
      if (e["dir"] == "tx") commands.push_back(e);
    }
    return commands;
  }
  const json& Summary() const {
    static const json none;
    auto summary = run.Events("summary");
    return summary.empty() ? none : run.events[IndexOf("summary")];
  }
  std::size_t IndexOf(const std::string& name) const {
    for (std::size_t i = 0; i < run.events.size(); ++i) {
      if (run.events[i]["event"] == name) return i;
    }
    return run.events.size();
  }
};

TEST(Road, TheWaterworksDemoDeliversItsTextsToEachPhoneInOrder) {
  Road road;
  std::string examples = PAGORIN_EXAMPLES_DIR;
  std::string config = ReadFileBytes(examples + "/waterworks/Kestrova_Configure.utf8.ini");
  ASSERT_FALSE(config.empty());
  road.Project(config, ReadFileBytes(examples + "/waterworks/scenario.toml"));
  road.Run();
  ASSERT_EQ(road.run.exitCode, 0) << road.run.output;

  // What each phone got is what the scenario's expectations say, at the end and while sending
  // was off.
  EXPECT_TRUE(road.run.Events("expect_failed").empty()) << road.run.output;
  EXPECT_EQ(road.run.Events("expect_met").size(), 4u) << road.run.output;
  ASSERT_EQ(road.phone.size(), 12u) << road.run.output;
  for (const auto& message : road.phone)
    EXPECT_EQ(message["alphabet"], "UCS2");
  const json& summary = road.Summary();
  EXPECT_EQ(summary["expectationsMet"], 4);
  EXPECT_EQ(summary["expectationsFailed"], 0);
  EXPECT_EQ(summary["delivered"], 12);
  EXPECT_EQ(summary["sent"], 12);
  EXPECT_EQ(summary["dropped"], 0);
  EXPECT_EQ(summary["timeouts"], 0);
  EXPECT_LT(summary["wallSeconds"].get<double>(), 30.0);
  // No message went out while sending was off (simulated seconds 14 to 20); the modem's health
  // is still looked after.
  for (const auto& command : road.Sends()) {
    double t = command["t"].get<double>();
    EXPECT_FALSE(t > 14.0 && t < 20.0) << command.dump();
  }
}

TEST(Road, ASilentModemIsProbedAndReopenedAndNoMessageIsDropped) {
  Road road;
  road.Project(kOnePhoneConfig, std::string(kTank) + R"toml(
[modem]
grace_ms = 300
[[step]]
at = 1
call = "SendMsg"
args = ["13800138000,13912345678", "泵站停机"]
[[step]]
at = 45
end = true
)toml");
  road.Run({"--modem-arg=--silent"});
  ASSERT_EQ(road.run.exitCode, 0) << road.run.output;
  auto commands = road.Commands();
  ASSERT_GE(commands.size(), 5u) << road.run.output;
  // Only the modem's probe: a modem that never answered is never given a message, and the
  // port is closed and opened again while the messages wait.
  for (const auto& command : commands) {
    const std::string text = command["text"].get<std::string>();
    EXPECT_TRUE(text == "ATQ0V1" || text == "<ESC>ATQ0V1" || text == "<ESC>") << text;
  }
  EXPECT_TRUE(road.Sends().empty());
  EXPECT_TRUE(road.run.Events("dropped").empty());
  EXPECT_TRUE(road.phone.empty());
}

class EchoSetting : public ::testing::TestWithParam<const char*> {};

TEST_P(EchoSetting, TheTextArrivesWhateverTheModemEchoes) {
  Road road;
  road.Project(kOnePhoneConfig, std::string(kTank) + R"toml(
[[step]]
at = 2
set = { "Tank1.PV" = 4.75 }
[[step]]
after = 0
wait_for = { delivered = 1 }
timeout = 30
)toml");
  road.Run({"--modem-arg=--echo", std::string("--modem-arg=") + GetParam()});
  ASSERT_EQ(road.run.exitCode, 0) << road.run.output;
  ASSERT_EQ(road.phone.size(), 1u) << road.run.output;
  EXPECT_EQ(road.phone[0]["text"], "清水池报警:高报,高级,未确认,数值4.75");
  EXPECT_EQ(road.Sends().size(), 1u);  // every reply recognised at once
  int echoes = 0;
  for (const auto& e : road.run.Events("at"))
    echoes += e.value("echo", false) ? 1 : 0;
  // The modem echoes until the initialisation switches the echo off.
  if (std::string(GetParam()) == "on") {
    EXPECT_GE(echoes, 1);
  } else {
    EXPECT_EQ(echoes, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(OnAndOff, EchoSetting, ::testing::Values("on", "off"));

TEST(Road, ShouldSendZeroHoldsMessagesUntilShouldSendOne) {
  Road road;
  road.Project(kOnePhoneConfig, std::string(kTank) + R"toml(
[[step]]
at = 1
script = "#Pagorin.ShouldSend(0)"
[[step]]
at = 2
script = '#Pagorin.SendMsg("13800138000", "第一条")'
[[step]]
at = 3
set = { "Tank1.PV" = 0.5 }
[[step]]
at = 19.9
expect = { phone = "13800138000", nothing = true }
[[step]]
at = 20
call = "ShouldSend"
args = [1]
[[step]]
after = 0
wait_for = { delivered = 2 }
timeout = 30
# Both were held; then the alarm leaves before the script's message.
[[expect]]
phone = "13800138000"
texts = ["清水池报警:低报,低级,未确认,数值0.5", "第一条"]
)toml");
  road.Run();
  ASSERT_EQ(road.run.exitCode, 0) << road.run.output;
  EXPECT_EQ(road.run.Events("expect_met").size(), 2u) << road.run.output;
  auto sends = road.Sends();
  ASSERT_FALSE(sends.empty());
  EXPECT_GE(sends.front()["t"].get<double>(), 20.0);
}

TEST(Road, AProjectStoredAndReloadedKeepsEveryRecord) {
  Road road;
  std::string examples = PAGORIN_EXAMPLES_DIR;
  road.Project(ReadFileBytes(examples + "/waterworks/Kestrova_Configure.utf8.ini"),
               std::string(kTank) + R"toml(
[[step]]
at = 2
save = "first.vpa"
[[step]]
after = 1
reload = "first.vpa"
[[step]]
after = 1
save = "second.vpa"
[[step]]
after = 1
end = true
)toml");
  std::string original =
      platform::Utf8ToCp936(ReadFileBytes(examples + "/waterworks/Kestrova_Configure.utf8.ini"));
  road.Run();
  ASSERT_EQ(road.run.exitCode, 0) << road.run.output;
  std::string first = ReadFileBytes(road.dir.File("first.vpa"));
  std::string second = ReadFileBytes(road.dir.File("second.vpa"));
  ASSERT_FALSE(first.empty());
  // Each store counts the configuration's revision up (1 and 2: the archives keep their length);
  // everything else is the same.
  EXPECT_EQ(WithoutRevision(first), WithoutRevision(second));

  // The archive holds the version and the configuration document, which is also the file.
  MemoryArchive archive(second);
  std::int32_t version = 0;
  std::string document;
  ASSERT_TRUE(archive::ReadInt32(archive, version));
  ASSERT_TRUE(archive::ReadString(archive, document));
  EXPECT_EQ(version, 1);
  EXPECT_EQ(document, ReadFileBytes(road.dir.File(kConfigFileName)));

  // Stored twice, the phone book and the rules are those of the original file, as the module
  // reads and writes them.
  EXPECT_NE(document.find(platform::Utf8ToCp936("李站长")), std::string::npos);
  EXPECT_EQ(StoredByTheModule(document), StoredByTheModule(original));
}

TEST(Road, AnUnansweredAlarmRequestIsAbandonedAfterFourSeconds) {
  Road road;
  road.Project(kOnePhoneConfig, std::string(kTank) + R"toml(
[[step]]
at = 2
unanswered = 1
[[step]]
at = 12
end = true
)toml");
  road.Run();
  ASSERT_EQ(road.run.exitCode, 0) << road.run.output;
  auto left = road.run.Events("request_unanswered");
  auto abandoned = road.run.Events("request_timed_out");
  ASSERT_EQ(left.size(), 1u) << road.run.output;
  ASSERT_EQ(abandoned.size(), 1u) << road.run.output;
  double waited = abandoned[0]["t"].get<double>() - left[0]["t"].get<double>();
  EXPECT_GT(waited, 4.0);
  EXPECT_LE(waited, 4.2);
  // The next request follows at least a second after the abandonment. The simulator stamps the
  // abandonment when the module tells it, which may be a clock step after the module read the
  // clock.
  bool next = false;
  for (const auto& request : road.run.Events("request")) {
    double t = request["t"].get<double>();
    if (t > abandoned[0]["t"].get<double>()) {
      EXPECT_GE(t - abandoned[0]["t"].get<double>(), 0.99);
      next = true;
      break;
    }
  }
  EXPECT_TRUE(next);
}

TEST(Road, TheFirstAnswerFullOfAlarmsSendsNothing) {
  Road road;
  road.Project(kOnePhoneConfig, R"toml(
[[variable]]
name = "Tank1.PV"
value = 9.0
hi = { limit = 4.5, level = 2 }
hihi = { limit = 8, level = 3 }
[[variable]]
name = "Tank1.State"
value = "故障"
alarm_when = "故障"
[[step]]
at = 6
expect = { phone = "13800138000", nothing = true }
[[step]]
at = 6
set = { "Tank1.PV" = 0.5 }
[[step]]
after = 0
wait_for = { delivered = 2 }
timeout = 20
[[step]]
after = 0
wait_for = "idle"
timeout = 20
# Only the change after the baseline reaches the phone: the two high alarms resumed. They are
# queued together and leave by priority, so the high one may follow the urgent one.
[[expect]]
phone = "13800138000"
order = "any"
texts = ["清水池报警:高报,高级,恢复数值0.5", "清水池报警:高高报,紧急,恢复数值0.5"]
)toml");
  road.Run();
  EXPECT_EQ(road.run.exitCode, 0) << road.run.output;
  EXPECT_EQ(road.run.Events("expect_met").size(), 2u) << road.run.output;
  for (const auto& command : road.Sends())
    EXPECT_GE(command["t"].get<double>(), 6.0);
}

}  // namespace
}  // namespace pagorin::sim

namespace pagorin::sim {
namespace {

// The files of a folder, by name, with their bytes.
std::map<std::string, std::string> FolderFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file())
      files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
  }
  return files;
}

// The simulator's work folders in `dir`.
int WorkFolders(const std::string& dir) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    count += entry.path().filename().string().rfind("veltrane-sim-", 0) == 0 ? 1 : 0;
  return count;
}

// True when a running process names `text` on its command line.
bool AnyProcessMentions(const std::string& text) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = ReadFileBytes((entry.path() / "cmdline").string());
    if (cmdline.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(Road, AnExampleKeptInUtf8RunsFromACopyAndLeavesItsFolderAsItWas) {
  TempDir project;
  std::string examples = PAGORIN_EXAMPLES_DIR;
  for (const char* name : {"scenario.toml", kUtf8ConfigFileName}) {
    WriteFileBytes(project.File(name), ReadFileBytes(examples + "/waterworks/" + name));
  }
  const auto before = FolderFiles(project.path());
  SimRun run = RunSim({"--json", "run", project.File("scenario.toml")});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.Events("project_copy").size(), 1u) << run.output;
  EXPECT_EQ(run.Events("delivered").size(), 12u);
  EXPECT_EQ(FolderFiles(project.path()), before);
}

TEST(Road, AProjectWithoutConfigurationIsWarnedAboutAndNotWrittenTo) {
  TempDir project;
  WriteFileBytes(project.File("scenario.toml"), std::string(kTank) + R"toml(
[[step]]
at = 1
save = "project.vpa"
)toml");
  SimRun run = RunSim({"--json", "run", project.File("scenario.toml")});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  auto warnings = run.Events("warning");
  ASSERT_FALSE(warnings.empty()) << run.output;
  EXPECT_EQ(warnings[0]["text"], "no configuration in the project folder");
  EXPECT_EQ(FolderFiles(project.path()).size(), 1u);  // the scenario alone
}

TEST(Road, SigintEndsTheModemSimulatorAndRemovesTheWorkFolder) {
  TempDir tmp;
  Road road;
  road.Project(kOnePhoneConfig, "[simulation]\nspeed = 1\nlimit = 700\n" + std::string(kTank) +
                                    R"toml(
[[step]]
at = 600
end = true
)toml");
  ChildProcess sim;
  std::string error;
  ASSERT_TRUE(sim.Start(testing::SimOptions({"--json", "run", road.dir.File("scenario.toml")},
                                            {"TMPDIR=" + tmp.path()}),
                        error))
      << error;
  std::string output;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (output.find("\"started\"") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline && sim.ReadOutput(output, 200)) {
  }
  ASSERT_NE(output.find("\"started\""), std::string::npos) << output;
  ASSERT_EQ(WorkFolders(tmp.path()), 1);        // the work folder is there while it runs
  ASSERT_TRUE(AnyProcessMentions(tmp.path()));  // and the modem simulator runs in it
  sim.Signal(SIGINT);
  EXPECT_TRUE(sim.ReadAllOutput(output, std::chrono::seconds(10)));
  EXPECT_EQ(sim.Wait(), 128 + SIGINT) << output;
  EXPECT_NE(output.find("\"stopped\""), std::string::npos) << output;
  EXPECT_NE(output.find("\"summary\""), std::string::npos) << output;
  EXPECT_EQ(WorkFolders(tmp.path()), 0);
  EXPECT_FALSE(AnyProcessMentions(tmp.path()));
}

// The scenario's expectations judge what each phone shows, however the module cuts the text:
// one run, rows met and rows that must fail, at a step and at the end.
TEST(Road, ExpectationsJudgeWhatEachPhoneShowsForAsciiMixedAndChineseTexts) {
  const std::string ascii(100, 'a');
  const std::string mixed =
      "Pump 1 泵站停机检修, pressure 0.35 MPa, 预计两小时后恢复供水, call 13800138000 for "
      "details 值班室";
  const std::string chinese =
      "一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十一二三四五六"
      "七八九十一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十";
  const std::vector<std::pair<std::string, std::string>> sends = {
      {"13800138000", ascii}, {"13912345678", mixed}, {"13698765432", chinese}};
  std::string steps = "[[step]]\nat = 0.5\nexpect = { phone = \"13800138000\", nothing = true }\n";
  for (const auto& [number, text] : sends) {
    steps += "[[step]]\nafter = 0.5\ncall = \"SendMsg\"\nargs = [\"" + number + "\", \"" + text +
             "\"]\n";
  }
  // Five lines in the modem's log: the 7-bit text in one SMS, the mixed one in two parts and
  // the joined message, the Chinese one in one SMS.
  steps += "[[step]]\nafter = 0\nwait_for = { delivered = 5 }\ntimeout = 60\n";
  // Two that must fail, at a step: the first part of the mixed text alone, and nothing for a
  // phone that got a message.
  steps += "[[step]]\nafter = 0\nexpect = { phone = \"13912345678\", texts = [\"Pump 1\"] }\n";
  steps += "[[step]]\nafter = 0\nexpect = { phone = \"13800138000\", nothing = true }\n";
  for (const auto& [number, text] : sends)
    steps += "[[expect]]\nphone = \"" + number + "\"\ntexts = [\"" + text + "\"]\n";
  steps += "[[expect]]\nphone = \"13500000000\"\nnothing = true\n";
  Road road;
  road.Project(kOnePhoneConfig, std::string(kTank) + steps);
  road.Run();
  EXPECT_EQ(road.run.exitCode, 3) << road.run.output;
  EXPECT_GT(road.run.Events("piece").size(), sends.size());  // the long texts went in pieces
  const auto met = road.run.Events("expect_met");
  ASSERT_EQ(met.size(), 5u) << road.run.output;
  EXPECT_EQ(met[0]["when"], "step");
  for (std::size_t i = 1; i < met.size(); ++i)
    EXPECT_EQ(met[i]["when"], "end") << i;
  const auto failed = road.run.Events("expect_failed");
  ASSERT_EQ(failed.size(), 2u) << road.run.output;
  EXPECT_EQ(failed[0]["phone"], "13912345678");
  EXPECT_EQ(failed[0]["wanted"], json({"Pump 1"}));
  EXPECT_EQ(failed[0]["got"], json({mixed}));  // the two parts count once, joined
  EXPECT_EQ(failed[1]["wanted"], json::array());
  EXPECT_EQ(failed[1]["got"], json({ascii}));
  EXPECT_EQ(road.Summary()["expectationsMet"], 5);
  EXPECT_EQ(road.Summary()["expectationsFailed"], 2);
}

TEST(Road, ALongTextArrivesAsOneMessage) {
  Road road;
  // The rule's text is the value of Msg.Text, 80 characters after the frame 清水池报警:, longer
  // than one SMS.
  std::string config = kOnePhoneConfig;
  config.replace(config.find("Format=\"0\""), 10, "Format=\"1\"");
  config.replace(config.find("BScript=\"0\" Script=\"\" ScriptType=\"0\""), 36,
                 "BScript=\"1\" Script=\"Msg.Text\" ScriptType=\"5\"");
  std::string text;
  for (int i = 0; i < 8; ++i)
    text += "一二三四五六七八九十";
  road.Project(config, std::string(kTank) + "[[variable]]\nname = \"Msg.Text\"\nvalue = \"" + text +
                           "\"\n" + R"toml(
[[step]]
at = 2
set = { "Tank1.PV" = 5 }
[[step]]
after = 0
wait_for = { delivered = 3 }
timeout = 30
[[expect]]
phone = "13800138000"
texts = ["清水池报警:)toml" +
                           text + R"toml("]
)toml");
  road.Run();
  ASSERT_EQ(road.run.exitCode, 0) << road.run.output;
  ASSERT_EQ(road.run.Events("expect_met").size(), 1u) << road.run.output;
  ASSERT_EQ(road.run.Events("piece").size(), 2u) << road.run.output;
  // Two parts in the modem's log, then the message the phone shows: the whole text.
  ASSERT_EQ(road.phone.size(), 3u) << road.run.output;
  EXPECT_EQ(road.phone[0]["part"], 1);
  EXPECT_EQ(road.phone[1]["part"], 2);
  EXPECT_EQ(road.phone[2]["joined"], true);
  EXPECT_EQ(road.phone[2]["text"], "清水池报警:" + text);
}

}  // namespace
}  // namespace pagorin::sim

#ifdef VELTRANE_SIM_WITH_QT
namespace pagorin::sim {
namespace {

TEST(Road, TheWindowRunsTheScenarioOffscreenAndShowsItsState) {
  Road road;
  road.Project(kOnePhoneConfig, std::string(kTank) + R"toml(
[simulation]
speed = 50
[[step]]
at = 2
set = { "Tank1.PV" = 4.75 }
[[step]]
after = 0
wait_for = { delivered = 1 }
timeout = 30
[[step]]
after = 0
end = true
)toml");
  road.run =
      RunSim({"--json", "window", road.dir.File("scenario.toml")},
             {"QT_QPA_PLATFORM=offscreen", "VELTRANE_SIM_PICTURE=" + road.dir.File("w.png")});
  ASSERT_EQ(road.run.exitCode, 0) << road.run.output;
  ASSERT_EQ(road.run.Events("delivered").size(), 1u) << road.run.output;
  EXPECT_EQ(road.run.Events("delivered")[0]["text"], "清水池报警:高报,高级,未确认,数值4.75");
  EXPECT_GT(ReadFileBytes(road.dir.File("w.png")).size(), 1000u);
}

}  // namespace
}  // namespace pagorin::sim
#endif

namespace pagorin::sim {
namespace {

TEST(Road, AModemThatLosesTheFinalOkStillDeliversTheMessageOnce) {
  Road road;
  road.Project(kOnePhoneConfig, std::string(kTank) + R"toml(
[modem]
grace_ms = 300
[[step]]
at = 1
call = "SendMsg"
args = ["13800138000", "泵站停机"]
[[step]]
at = 250
end = true
)toml");
  road.Run({"--modem-arg=--drop-final-ok"});
  ASSERT_EQ(road.run.exitCode, 0) << road.run.output;
  // +CMGS: <mr> came: the message is sent, whatever follows it.
  ASSERT_EQ(road.phone.size(), 1u) << road.run.output;
  EXPECT_EQ(road.phone[0]["text"], "泵站停机");
  EXPECT_EQ(road.Sends().size(), 1u);
  EXPECT_EQ(road.Summary()["delivered"], 1);
  EXPECT_EQ(road.Summary()["dropped"], 0);
}

}  // namespace
}  // namespace pagorin::sim

// The parts of a run on their own, without a module or a modem: the paced clock, the dialogue
// watch, the forecast and the host services.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "dialogue_watch.h"
#include "forecast.h"
#include "host_services.h"
#include "modem/pdu.h"
#include "paced_clock.h"
#include "platform/code_page.h"
#include "sim_os.h"

namespace pagorin::sim {
namespace {

// An event log that keeps what it was told.
struct Recorder {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink{std::tmpfile(), &std::fclose};
  EventLog log{sink.get(), true};
  std::vector<std::pair<std::string, nlohmann::json>> events;

  Recorder() {
    log.SetListener([this](std::string_view event, const nlohmann::json& fields, std::string_view) {
      events.emplace_back(event, fields);
    });
  }
  std::vector<nlohmann::json> Named(const std::string& name) const {
    std::vector<nlohmann::json> found;
    for (const auto& [event, fields] : events) {
      if (event == name) found.push_back(fields);
    }
    return found;
  }
};

TEST(PacedClock, PacesSimulatedTimeAgainstRealTimeAndSlowsToRealTimeWhileTheModemIsBusy) {
  struct Row {
    const char* what;
    double speed;
    bool busy;
    int stepMs;
    std::uint64_t simMs;  // simulated time after one step
    std::int64_t realUs;  // real time the step took
  } rows[] = {
      {"as fast as possible", 0, false, 100, 100, 0},
      {"twice real time", 2, false, 100, 100, 50'000},
      {"real time", 1, false, 100, 100, 100'000},
      {"busy modem: short step at real time", 0, true, 100, 2, 2'000},
      {"busy modem caps a fast rate", 10, true, 100, 2, 2'000},
      {"busy modem keeps a slow rate", 0.5, true, 100, 2, 4'000},
  };
  for (const Row& row : rows) {
    std::int64_t realUs = 1'000'000;
    PacedClock clock([&] { return realUs; });
    clock.SetSpeed(row.speed);
    clock.Reset();
    int pumps = 0;
    clock.Advance(row.stepMs, row.busy, 2, [&](int waitMs) {
      ++pumps;
      EXPECT_LE(waitMs, 50) << row.what;
      realUs += std::max(waitMs, 1) * 1000;  // the pump waits as long as it was allowed to
    });
    EXPECT_EQ(clock.Ms(), row.simMs) << row.what;
    EXPECT_EQ(SimTicks(), row.simMs) << row.what;
    EXPECT_GE(pumps, 1) << row.what;
    EXPECT_GE(realUs - 1'000'000, row.realUs) << row.what;
    EXPECT_LE(realUs - 1'000'000, row.realUs + 1'000) << row.what;
  }
}

TEST(PacedClock, ARealModemRunsAtRealSpeedWhateverTheScenarioAsks) {
  std::int64_t realUs = 0;
  PacedClock clock([&] { return realUs; });
  clock.SetSpeed(0);
  clock.SetRealTime(true);
  clock.Advance(200, false, 2, [&](int waitMs) { realUs += waitMs * 1000; });
  EXPECT_EQ(realUs, 200'000);
}

// The clock runs ahead only while the plug-in's threads wait: one that has work in hand (here,
// one that spins) holds it back, one blocked on a condition does not.
TEST(PacedClock, SeesWhetherAnotherThreadOfTheProcessIsAtWork) {
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  std::thread waiter([&] {
    std::unique_lock lock(mutex);
    wake.wait(lock, [&] { return stop; });
  });
  // The waiter blocks soon after it starts; a machine's other threads are not this process's.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool quiet = false;
  while (!(quiet = !os::OtherThreadsAtWork()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_TRUE(quiet);

  std::atomic<bool> spin{true};
  std::thread spinner([&] {
    while (spin.load(std::memory_order_relaxed)) {
    }
  });
  EXPECT_TRUE(os::OtherThreadsAtWork());
  spin = false;
  spinner.join();
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  wake.notify_one();
  waiter.join();
}

TranscriptLine Tx(const char* text) {
  return {true, text};
}
TranscriptLine Rx(const char* text) {
  return {false, text};
}

TEST(DialogueWatch, TellsSentMessagesFromFailedAttempts) {
  const std::vector<TranscriptLine> message = {Tx("AT+CMGS=019"), Rx("> "), Tx("0011<Ctrl-Z>"),
                                               Rx("+CMGS: 5"), Rx("OK")};
  struct Row {
    const char* what;
    std::vector<TranscriptLine> lines;
    DialogueCounts counts;
    std::size_t dropEvents;
  } rows[] = {
      {"one message", message, {2, 0, 1, 0, 0, 0}, 0},
      {"the initialisation is no message",
       {Tx("<ESC>AT"), Rx("OK"), Tx("AT+CMGF=0"), Rx("OK"), Tx("AT+CMGS=019"), Rx("> "),
        Tx("0011<Ctrl-Z>"), Rx("+CMGS: 5")},
       {4, 0, 1, 0, 0, 0},
       0},
      {"a silent modem, then the message again",
       {Tx("AT+CMGS=019"), Tx("<ESC>"), Tx("AT+CMGS=019"), Rx("> "), Tx("0011<Ctrl-Z>"), Rx("OK")},
       {4, 0, 1, 0, 0, 1},
       0},
      {"failed attempts drop nothing",
       {Tx("AT+CMGS=019"), Tx("<ESC>"), Tx("AT+CMGS=019"), Tx("<ESC>"), Tx("AT+CMGS=019"),
        Tx("<ESC>")},
       {6, 0, 0, 0, 0, 3},
       0},
      {"a refusal is a failed attempt",
       {Tx("AT+CMGS=019"), Rx("> "), Tx("0011<Ctrl-Z>"), Rx("+CMS ERROR: 500"), Tx("<ESC>"),
        Tx("AT+CMGS=019"), Rx("> "), Tx("0011<Ctrl-Z>"), Rx("+CMGS: 6")},
       {5, 0, 1, 0, 0, 1},
       0},
      {"refusals in an outage, each retry led by the ESC that ended the last",
       {Tx("AT+CMGS=019"), Rx("> "), Tx("0011<Ctrl-Z>"), Rx("+CMS ERROR: 331"),
        Tx("<ESC>AT+CMGS=019"), Rx("> "), Tx("0011<Ctrl-Z>"), Rx("+CMS ERROR: 331"),
        Tx("<ESC>AT+CMGS=019"), Rx("> "), Tx("0011<Ctrl-Z>"), Rx("+CMGS: 1"), Rx("OK")},
       {6, 0, 1, 0, 0, 2},
       0},
  };
  for (const Row& row : rows) {
    Recorder recorder;
    DialogueWatch watch(recorder.log);
    std::uint64_t now = 0;
    for (const auto& line : row.lines)
      watch.Transcript(line, now += 100);
    const DialogueCounts& c = watch.Counts();
    EXPECT_EQ(c.commands, row.counts.commands) << row.what;
    EXPECT_EQ(c.sent, row.counts.sent) << row.what;
    EXPECT_EQ(c.dropped, row.counts.dropped) << row.what;
    EXPECT_EQ(c.timeouts, row.counts.timeouts) << row.what;
    EXPECT_EQ(recorder.Named("dropped").size(), row.dropEvents) << row.what;
    EXPECT_FALSE(watch.Quiet(now + 1999)) << row.what;
    EXPECT_TRUE(watch.Quiet(now + 2000)) << row.what;
  }
}

TEST(DialogueWatch, MarksTheEchoOfACommandAndCountsWhatReachedAPhone) {
  Recorder recorder;
  DialogueWatch watch(recorder.log);
  watch.Transcript(Tx("AT+CMGF=0"), 10);
  watch.Transcript(Rx("AT+CMGF=0"), 20);
  watch.Transcript(Rx("OK"), 30);
  watch.Delivered(R"({"destination":"+8613800138000","text":"hi","part":1,"parts":2})", 40);
  watch.Delivered("not json", 50);
  auto at = recorder.Named("at");
  ASSERT_EQ(at.size(), 3u);
  EXPECT_TRUE(at[1]["echo"].get<bool>());
  EXPECT_FALSE(at[2]["echo"].get<bool>());
  auto delivered = recorder.Named("delivered");
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0]["number"], "+8613800138000");
  EXPECT_EQ(recorder.Named("modem_log").size(), 1u);
  EXPECT_EQ(watch.Counts().delivered, 1);
  EXPECT_TRUE(watch.Quiet(50 + 2000));  // no message under way
}

// The two lines the module writes for one piece, as the relay shows them.
std::vector<TranscriptLine> PieceLines(const char* number, const char* utf8) {
  std::string data = *EncodeUserData(platform::Utf8ToCp936(utf8));
  std::string cmgs = FormatCmgsCommand(data);
  std::string pdu = FormatSubmitPdu(*EncodePhoneDigits(number), data);
  cmgs.pop_back();             // the <CR> ends the line
  pdu.resize(pdu.size() - 2);  // Ctrl-Z and <CR>
  return {{true, cmgs}, {false, "> "}, {true, pdu + "<Ctrl-Z>"}};
}

TEST(DialogueWatch, ReadsEachPieceFromThePduAndKeepsThoseTheModemAccepted) {
  Recorder recorder;
  DialogueWatch watch(recorder.log);
  std::uint64_t now = 0;
  auto feed = [&](const std::vector<TranscriptLine>& lines) {
    for (const auto& line : lines)
      watch.Transcript(line, now += 10);
  };
  feed({Tx("AT+CMGF=0"), Rx("OK")});
  feed(PieceLines("13800138000", "清水池 level 4.6"));
  feed({Rx("+CMGS: 1"), Rx("OK")});
  feed({Tx("AT+CMGF=0"), Rx("OK")});
  feed(PieceLines("13912345678", "never accepted"));
  feed({Rx("ERROR")});
  auto pieces = recorder.Named("piece");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0]["number"], "+8613800138000");
  EXPECT_EQ(pieces[0]["text"], "清水池 level 4.6");
  EXPECT_EQ(pieces[1]["text"], "never accepted");
  ASSERT_EQ(watch.Sent().size(), 1u);
  EXPECT_EQ(watch.Sent()[0].text, "清水池 level 4.6");
  EXPECT_EQ(watch.Counts().pieces, 2);
  EXPECT_EQ(watch.Counts().sent, 1);
}

TEST(Forecast, MatchesExpectedTextsWithTheJoinedPiecesSentToTheirNumbers) {
  const SentPiece a1{"+8613800138000", "first half ", 0, 0};
  const SentPiece a2{"+8613800138000", "second half", 0, 0};
  const SentPiece b{"+8613912345678", "other", 0, 0};
  struct Row {
    const char* what;
    std::vector<Expectation> expected;
    std::vector<SentPiece> sent;
    std::vector<bool> matched;
  } rows[] = {
      {"two pieces joined", {{"alarm", "13800138000", "first half second half"}}, {a1, a2}, {true}},
      {"another number between the pieces",
       {{"alarm", "13800138000", "first half second half"}, {"script", "13912345678", "other"}},
       {a1, b, a2},
       {true, true}},
      {"a piece missing", {{"alarm", "13800138000", "first half second half"}}, {a1}, {false}},
      {"the right text to the wrong number",
       {{"alarm", "13912345678", "first half "}},
       {a1},
       {false}},
      {"one piece serves one message",
       {{"script", "13912345678", "other"}, {"script", "13912345678", "other"}},
       {b},
       {true, false}},
      {"alarms joined in a storm, over two parts, the closing comma dropped",
       {{"alarm", "13800138000", "泵1停机,"},
        {"alarm", "13800138000", "泵2停机,"},
        {"alarm", "13800138000", "泵3停机,"},
        {"alarm", "13912345678", "泵1停机,"}},
       {{"+8613800138000", "[3条报警] 泵1停机;泵", 1, 2},
        {"+8613800138000", "2停机;泵3停机", 2, 2}},
       {true, true, true, false}},
      {"a text that only looks joined",
       {{"script", "13800138000", "x"}},
       {{"+8613800138000", "[3条] x", 0, 0}},
       {false}},
  };
  for (const Row& row : rows)
    EXPECT_EQ(MatchSentPieces(row.expected, row.sent), row.matched) << row.what;
}

AlarmEvent Record(std::int32_t id, const char* tag, std::uint8_t kind, std::uint8_t level) {
  AlarmEvent e;
  std::memset(&e, 0, sizeof e);
  e.eventId = id;
  std::strncpy(e.tagName, tag, sizeof e.tagName - 1);
  e.kind = kind;
  e.level = level;
  e.ackState = kUnacknowledged;
  e.value = 5;
  e.limit = 4.5f;
  return e;
}

class NoValues final : public TextSource {
 public:
  std::string TextValue(std::string_view) override { return {}; }
  double NumberValue(std::string_view) override { return 0; }
};

TEST(Forecast, TakesTheFirstAnswerAsBaselineAndExpectsMessagesForNewAlarmsOnly) {
  PluginConfig config;
  config.phones.push_back({"13800138000", "duty"});
  config.phones.push_back({"123", "bad number"});
  ConfigRule rule;
  rule.VarName = "Tank1.PV";
  rule.TelPlace = {0, 1, 5};  // 5: no such entry
  config.rules.push_back(rule);
  struct Row {
    const char* what;
    bool haveConfig;
    int matched, queued, refused;
  } rows[] = {{"with a configuration", true, 1, 1, 1}, {"without one", false, 0, 0, 0}};
  for (const Row& row : rows) {
    Recorder recorder;
    Forecast forecast(recorder.log);
    if (row.haveConfig) forecast.SetConfig(config);
    NoValues values;
    const AlarmEvent hi = Record(1, "Tank1", kKindHi, 2);
    const AlarmEvent hihi = Record(2, "Tank1", kKindHiHi, 3);
    forecast.Answered({hi}, values);        // the baseline
    forecast.Answered({hi, hihi}, values);  // hihi is new
    forecast.Answered({hi, hihi}, values);  // nothing new
    EXPECT_EQ(recorder.Named("baseline").size(), 1u) << row.what;
    EXPECT_EQ(static_cast<int>(recorder.Named("expected_match").size()), row.matched) << row.what;
    EXPECT_EQ(forecast.Counts().expectedAlarm, row.queued) << row.what;
    EXPECT_EQ(forecast.Counts().expectedRefused, row.refused) << row.what;
    forecast.Restart();
    forecast.Answered({hi, hihi, Record(3, "Tank1", kKindLo, 1)}, values);
    EXPECT_EQ(recorder.Named("baseline").size(), 2u) << row.what;
  }
}

TEST(Forecast, ExpectsOneMessagePerSendableNumberOfASendCall) {
  Recorder recorder;
  Forecast forecast(recorder.log);
  forecast.FunctionCalled("SendMsg", {"13800138000,12345,013912345678", "text"}, {0, 0});
  EXPECT_EQ(forecast.Counts().expectedScript, 2);
  EXPECT_EQ(forecast.Counts().expectedRefused, 1);
  forecast.FunctionCalled("SendMsg", {"13800138000", ""}, {0, 0});
  EXPECT_EQ(forecast.Counts().expectedRefused, 2);
  forecast.FunctionCalled("ShouldSend", {""}, {0});
  auto sending = recorder.Named("sending");
  ASSERT_EQ(sending.size(), 1u);
  EXPECT_FALSE(sending[0]["on"].get<bool>());
}

TEST(HostServices, CountsAlarmsAsValuesMoveAndTheOperatorAcknowledges) {
  Recorder recorder;
  Forecast forecast(recorder.log);
  HostServices services(recorder.log, forecast);
  Variable tank;
  tank.name = "Tank1.PV";
  tank.number = 3;
  tank.limits[kHi] = {true, 4.5, 2};
  std::string error;
  ASSERT_TRUE(services.GetPlant().AddVariable(tank, error)) << error;

  services.WriteVariable("Tank1.PV", ScriptValue::Number(5));
  services.AcknowledgeAlarms("Tank1");
  services.WriteVariable("Tank1.PV", ScriptValue::Number(3));
  services.AcknowledgeAlarms("all");
  services.WriteVariable("$UserName", ScriptValue::Text("Li"));

  const HostCounts& c = services.Counts();
  EXPECT_EQ(c.alarmsRaised, 1);
  EXPECT_EQ(c.alarmsAcknowledged, 1);
  EXPECT_EQ(c.alarmsResumed, 1);
  EXPECT_EQ(c.alarmsCleared, 1);
  EXPECT_TRUE(services.GetPlant().Alarms().empty());
  EXPECT_EQ(services.TextValue("$UserName"), "Li");
  EXPECT_EQ(services.NumberValue("Tank1.PV"), 3);
  EXPECT_EQ(services.IsVariable("Tank1.PV"), 1);
  EXPECT_EQ(services.IsVariable("Tank2.PV"), 0);
  int type = -1;
  services.GetVariableType("Tank1.PV", type);
  EXPECT_EQ(type, kNumberType);
}

TEST(HostServices, KnowsTheRegisteredFunctionsByNameWithoutRegardToCase) {
  Recorder recorder;
  Forecast forecast(recorder.log);
  HostServices services(recorder.log, forecast);
  services.RegisterFunction(7, "SendMsg", "help");
  services.AddFunctionParameter(7, kTextType, "numbers");
  services.AddFunctionParameter(7, kTextType, "text");
  services.AddFunctionParameter(8, kTextType, "lost");  // no such function: ignored
  ASSERT_NE(services.FindFunction("sendmsg"), nullptr);
  EXPECT_EQ(services.FindFunction("sendmsg")->params.size(), 2u);
  EXPECT_EQ(services.FindFunction("Other"), nullptr);
  std::string path;
  services.SetProjectDir("project");
  EXPECT_EQ(services.GetProjectPath(path), "project");
  EXPECT_EQ(path, "project");
}

}  // namespace
}  // namespace pagorin::sim

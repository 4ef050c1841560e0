// The parts of a run on their own, without a module or a modem: the paced clock, the dialogue
// watch, the expectations and the host services.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "dialogue_watch.h"
#include "expectations.h"
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

TEST(Expectations, JudgeWhatEachPhoneShowedAgainstTheScenario) {
  Recorder recorder;
  DialogueWatch watch(recorder.log);
  // The modem's log: a message on its own, the two parts of a concatenated one and its joined
  // line, a storage event, and messages to two other phones.
  for (const char* line :
       {R"({"number":"+8613800138000","text":"a"})",
        R"({"number":"+8613800138000","text":"b1","part":1,"parts":2})",
        R"({"number":"+8613800138000","text":"b2","part":2,"parts":2})",
        R"({"number":"+8613800138000","text":"b1b2","joined":true,"parts":2})",
        R"({"event":"stored","kind":"incoming","from":"13800138000","text":"x"})",
        R"({"number":"+8613912345678","text":"c"})", R"({"number":"13698765432","text":"d"})"})
    watch.Delivered(line, 0);
  const std::vector<std::string> ab = {"a", "b1b2"}, ba = {"b1b2", "a"};
  const struct Row {
    PhoneExpectation want;
    bool met;
  } rows[] = {
      {{"13800138000", ab, false, 1}, true},  // the joined message counts once
      {{"13800138000", ba, false, 2}, false},
      {{"13800138000", ba, true, 3}, true},
      {{"13800138000", {"a", "a", "b1b2"}, true, 4}, false},  // a set counts each text
      {{"13800138000", {"a"}, false, 5}, false},
      {{"13912345678", {}, false, 6}, false},  // nothing, but it got one
      {{"13500000000", {}, false, 7}, true},
      {{"8613698765432", {"d"}, false, 8}, false},  // longer than the number logged
      {{"+8613912345678", {"c"}, false, 9}, true},
  };
  std::vector<PhoneExpectation> all;
  for (const Row& row : rows) {
    EXPECT_EQ(Meets(row.want, TextsFor(watch.Shown(), row.want.phone)), row.met) << row.want.line;
    all.push_back(row.want);
  }
  ExpectCounts counts;
  CheckExpectations(recorder.log, all, watch.Shown(), "end", counts);
  EXPECT_EQ(counts.met, 4);
  EXPECT_EQ(counts.failed, 5);
  const auto failed = recorder.Named("expect_failed");
  ASSERT_EQ(failed.size(), 5u);
  EXPECT_EQ(failed[0]["line"], 2);
  EXPECT_EQ(failed[0]["wanted"], nlohmann::json(ba));
  EXPECT_EQ(failed[0]["got"], nlohmann::json(ab));
  EXPECT_EQ(failed[0]["order"], "sequence");
  EXPECT_EQ(failed[3]["phone"], "13912345678");
  EXPECT_EQ(failed[3]["wanted"], nlohmann::json::array());
  EXPECT_EQ(failed[3]["got"], nlohmann::json({"c"}));
  EXPECT_EQ(watch.Counts().delivered, 6);  // every message line, parts and joined ones
}

TEST(HostServices, CountsAlarmsAsValuesMoveAndTheOperatorAcknowledges) {
  Recorder recorder;
  HostServices services(recorder.log);
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
  HostServices services(recorder.log);
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

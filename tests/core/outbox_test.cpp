// The outbox inside the plug-in: bounds, the journal across restarts, and the history's lines.
#include "core/outbox.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/core_fixture.h"
#include "core/script_functions.h"
#include "platform/local_time.h"
#include "support/faulty_system_calls.h"
#include "support/temp_dir.h"

namespace pagorin::testing {
namespace {

std::atomic<std::int64_t> wallClock{1'765'000'000};
std::int64_t TestWallClock() noexcept {
  return wallClock.load();
}

// The history's data lines (after the heading), split into fields.
std::vector<std::vector<std::string>> HistoryRows(const std::string& folder) {
  std::vector<std::vector<std::string>> rows;
  const std::string bytes = ReadFileBytes(folder + "/" + std::string(SendHistory::kFileName));
  std::size_t start = bytes.find('\n');
  if (start == std::string::npos) return rows;
  for (std::size_t end; (end = bytes.find('\n', start + 1)) != std::string::npos; start = end)
    rows.push_back(SplitCsvLine(std::string_view(bytes).substr(start + 1, end - start)));
  return rows;
}

class OutboxTest : public PluginTest {
 protected:
  OutboxTest() {
    platform::SetWallClockSource(&TestWallClock);
    Reopen();
  }
  ~OutboxTest() override { platform::SetWallClockSource(nullptr); }

  // A new plug-in object over the same project folder, as after a restart of the host; the old
  // one goes without a word to anyone, as in a crash after its last sync.
  void Reopen() {
    peer.reset();
    plugin.reset();
    host.projectPath = project.path();
    plugin = std::make_unique<PluginObject>(host);
    for (int i = 0; i < 5; ++i)
      AddPhone("1380013800" + std::to_string(i), Cp("值班") + std::to_string(i));
  }

  int Send(const std::string& numbers, const std::string& content) {
    HostParam params[2]{};
    params[0].textValue = numbers.c_str();
    params[1].textValue = content.c_str();
    return plugin->CallFunction(kSendMsgFunction, 0, params, 0);
  }

  TempDir project;
};

// Five messages wait while sending is off; the next object queues them again in their order and
// each reaches the phone once; after that a restart finds nothing left to send.
TEST_F(OutboxTest, RestartSendsEachWaitingMessageOnce) {
  StartRunning();
  plugin->sendEnabled = 0;
  Send("13800138000,13800138001,13800138002,13800138003,13800138004", "A");
  EXPECT_EQ(Queued(), 5u);
  Reopen();
  StartRunning();
  EXPECT_EQ(Queued(), 5u);
  const auto delivered = Deliver(5);
  ASSERT_EQ(delivered.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i)
    EXPECT_EQ(delivered[i], (DeliveredMessage{"1380013800" + std::to_string(i), "A"}));
  EXPECT_EQ(Queued(), 0u);
  Reopen();
  StartRunning();
  EXPECT_EQ(Queued(), 0u);
  const auto rows = HistoryRows(project.path());
  ASSERT_EQ(rows.size(), 5u);
  for (const auto& row : rows) {
    EXPECT_EQ(row[4], "script");
    EXPECT_EQ(row[8], "已发送");
    EXPECT_EQ(row[3], "值班" + row[2].substr(row[2].size() - 1));
  }
}

// What a restart does with the messages left: resend them, or (the configuration says not to,
// or they are too old) end them as failed in the history.
TEST_F(OutboxTest, RestartResendsUnlessConfiguredOrTooOld) {
  struct Row {
    const char* what;
    int resend;
    std::int64_t laterSeconds;
    std::size_t queued;
    const char* reason;
  };
  const Row rows[] = {
      {"resend", 1, 60, 2, nullptr},
      {"configured not to", 0, 60, 0, "重新启动后按设置不再重发"},
      {"older than the maximum age", 1, 25 * 3600, 0, "等待时间过长,已放弃"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reopen();
    StartRunning();
    plugin->sendEnabled = 0;
    Send("13800138000,13800138001", "B");
    Reopen();
    plugin->Resend = row.resend;
    wallClock += row.laterSeconds;
    StartRunning();
    EXPECT_EQ(Queued(), row.queued);
    if (row.reason != nullptr) {
      const auto history = HistoryRows(project.path());
      ASSERT_GE(history.size(), 2u);
      EXPECT_EQ(history.back()[8], "发送失败");
      EXPECT_EQ(history.back()[9], row.reason);
    }
    // Leave nothing for the next row.
    Deliver(row.queued);
  }
}

// The send-record dialog's view of the plug-in: the test message to a phone-book entry, its
// outcome once known, and the list with the newest first.
TEST_F(OutboxTest, TestMessageAndRecentMessagesForTheDialog) {
  std::string outcome;
  EXPECT_EQ(plugin->SendTestMessage(0, outcome), 0u);
  EXPECT_EQ(outcome, Cp("测试短信未能发送:串口未打开"));
  EXPECT_EQ(plugin->ModemStatusLine(), Cp("项目未运行,短信猫未启动"));
  StartRunning();
  EXPECT_EQ(plugin->SendTestMessage(9, outcome), 0u);
  Send("13800138003", "C");
  const std::uint64_t handle = plugin->SendTestMessage(1, outcome);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(plugin->TestOutcome(handle), "");
  auto rows = plugin->RecentMessages(10);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].state, Cp("已拒绝"));
  EXPECT_EQ(rows[0].number, "13800138001");
  EXPECT_EQ(rows[0].name, Cp("值班1"));
  EXPECT_EQ(rows[0].state, Cp("等待发送"));
  const auto delivered = Deliver(2);
  ASSERT_EQ(delivered.size(), 2u);
  // Messages leave by priority: the test message (as a low alarm) before the script's.
  EXPECT_EQ(delivered[0].text, Cp("短信报警测试:收到本短信说明短信报警工作正常。"));
  EXPECT_EQ(delivered[1].text, "C");
  EXPECT_EQ(plugin->TestOutcome(handle).substr(0, 14), Cp("测试短信已发送"));
  rows = plugin->RecentMessages(10);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].state, Cp("已发送"));
  EXPECT_EQ(rows[0].text, "C");
  EXPECT_EQ(rows[1].number, "13800138001");
}

// An outbox of `limits` over a modem on a pseudo-terminal of its own (COM4), started in a fresh
// folder, on a manual clock.
struct OutboxRig {
  explicit OutboxRig(const OutboxLimits& limits) : outbox(modem, limits) {
    opened = modem.Open(4, 9600, 8) == 1;
    outbox.Start(folder.path(), true, SmsModem::kDefaultMaxAgeMs);
  }
  platform::ManualTicks ticks;
  TempDir folder;
  CoreModemPeer peer{4};
  SmsModem modem;
  Outbox outbox;
  bool opened = false;
};

// The bounds, with small limits: script messages are refused when full, alarms push the oldest
// waiting script messages out, and beyond the hard ceiling alarms are refused unless a message
// of a lower priority waits, which gives way.
TEST(OutboxBounds, ScriptsAreRefusedAndAlarmsMakeRoom) {
  OutboxLimits limits;
  limits.maxMessages = 4;
  limits.maxBytes = 40;
  limits.maxAlarmMessages = 6;
  limits.modemWindow = 1;
  OutboxRig rig(limits);
  ASSERT_TRUE(rig.opened);
  Outbox& outbox = rig.outbox;

  auto queue = [&](int priority, std::string_view text) {
    OutboxRequest request{
        "13800138000", {}, priority == kPriorityScript ? "script" : "Tank1", text, priority};
    return outbox.Queue(std::span(&request, 1))[0];
  };
  struct Step {
    int priority;
    std::string_view text;
    bool queued;
    std::size_t waiting;  // after the step
  };
  const Step steps[] = {
      {kPriorityScript, "s1", true, 1},
      {kPriorityScript, "s2", true, 2},
      {kPriorityScript, "0123456789012345678901234567890123456789", false, 2},  // bytes
      {kPriorityScript, "s3", true, 3},
      {kPriorityScript, "s4", true, 4},
      {kPriorityScript, "s5", false, 4},  // messages
      {kPriorityHigh, "a1", true, 4},     // s2 gives way (s1 is in the modem already)
      {kPriorityUrgent, "a2", true, 4},   // s3 gives way
      {kPriorityLow, "a3", true, 4},      // s4 gives way
      {kPriorityLow, "a4", true, 5},      // no script left to wait: above the limit
      {kPriorityLow, "a5", true, 6},
      {kPriorityLow, "a6", false, 6},    // the hard ceiling
      {kPriorityUrgent, "a7", true, 6},  // the youngest low alarm gives way
      {kPriorityLow, "a8", false, 6},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.text);
    EXPECT_EQ(queue(step.priority, step.text) != 0, step.queued);
    EXPECT_EQ(outbox.waitingCount(), step.waiting);
  }
  std::vector<std::string> refused;
  for (const auto& row : HistoryRows(rig.folder.path())) {
    EXPECT_EQ(row[8], "已拒绝");
    refused.push_back(row[5] + ":" + row[9]);
  }
  EXPECT_EQ(refused, (std::vector<std::string>{
                         "0123456789012345678901234567890123456789:发送队列已满",
                         "s5:发送队列已满",
                         "s2:发送队列已满,为报警短信让位",
                         "s3:发送队列已满,为报警短信让位",
                         "s4:发送队列已满,为报警短信让位",
                         "a6:发送队列已满",
                         "a5:发送队列已满,为报警短信让位",
                         "a8:发送队列已满",
                     }));
}

// One SendMsg of a 100 kB text to 1,000 numbers: the text is cut to the piece limit once, the
// queue stops at its bounds, the history gets a few refusal lines and one summary, and the
// script still gets 1.
TEST_F(OutboxTest, HugeSendMsgStaysWithinTheBounds) {
  StartRunning();
  plugin->sendEnabled = 0;
  std::string numbers;
  for (int i = 0; i < 1000; ++i)
    numbers += std::to_string(13000000000LL + i) + ",";
  std::string text;
  while (text.size() < 100 * 1024)
    text += Cp("泵站停机");
  EXPECT_EQ(Send(numbers, text), 1);
  const OutboxLimits& limits = plugin->outbox.limits();
  EXPECT_LE(plugin->outbox.waitingBytes(), limits.maxBytes);
  EXPECT_LE(plugin->outbox.waitingCount(), limits.maxMessages);
  EXPECT_GT(plugin->outbox.waitingCount(), 100u);
  const auto rows = HistoryRows(project.path());
  ASSERT_EQ(rows.size(), Outbox::kRefusalLinesPerCall + 1);
  const std::size_t rest = 1000 - plugin->outbox.waitingCount() - Outbox::kRefusalLinesPerCall;
  EXPECT_EQ(rows.back()[2], "另有" + std::to_string(rest) + "个号码");
  // Every message holds the cut text: five parts of 67 characters at most, the last ending in
  // the ellipsis.
  const auto recent = plugin->outbox.Recent(1);
  ASSERT_EQ(recent.size(), 1u);
  const std::string& cut = recent[0].entry.text;
  EXPECT_EQ(cut.size(), 5 * 67 * 2u);
  EXPECT_TRUE(cut.ends_with(Cp("…")));
  EXPECT_TRUE(recent[0].cut);
}

std::string Times(std::string_view piece, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i)
    text += piece;
  return text;
}

// What leaves the outbox, and in which SMS: urgent first and first in first out within a
// priority; more messages for one number than the threshold joined per priority, within the
// part limit, the rest in the next SMS; nothing dropped. The messages of a row are queued while
// sending is off, then all are delivered.
TEST_F(OutboxTest, UrgentFirstAndStormsJoinedPerNumber) {
  struct Item {
    const char* number;
    int priority;
    std::string text;
  };
  struct Row {
    const char* what;
    int coalesce;
    int maxParts;
    std::vector<std::vector<Item>> calls;  // one Queue call each
    std::vector<DeliveredMessage> delivered;
  };
  const char* a = "13800138000";
  const char* b = "13800138001";
  const std::string t30 = Cp(Times("泵", 30));
  const Row rows[] = {
      {"by priority, first in first out within one",
       0,
       5,
       {{{a, kPriorityLow, "l1"}, {a, kPriorityScript, "s1"}, {b, kPriorityUrgent, "u1"}},
        {{a, kPriorityHigh, "h1"}, {b, kPriorityLow, "l2"}, {a, kPriorityUrgent, "u2"}}},
       {{b, "u1"}, {a, "u2"}, {a, "h1"}, {a, "l1"}, {b, "l2"}, {a, "s1"}}},
      {"an urgent alarm queued behind twenty low ones",
       0,
       5,
       {std::vector<Item>(20, Item{a, kPriorityLow, "low"}), {{a, kPriorityUrgent, "U"}}},
       [&] {
         std::vector<DeliveredMessage> expected{{a, "U"}};
         expected.resize(21, DeliveredMessage{a, "low"});
         return expected;
       }()},
      {"more than three for one number are joined, per priority",
       3,
       5,
       {{{a, kPriorityLow, "a1,"},
         {b, kPriorityLow, "b1"},
         {a, kPriorityLow, "a2,"},
         {a, kPriorityUrgent, "U"},
         {a, kPriorityLow, "a3"},
         {a, kPriorityLow, "a4"},
         {b, kPriorityScript, "s1"},
         {b, kPriorityScript, "s2"}}},
       {{a, "U"}, {a, Cp("[4条报警] ") + "a1;a2;a3;a4"}, {b, "b1"}, {b, "s1"}, {b, "s2"}}},
      {"the part limit splits a storm into several SMS",
       1,
       1,
       {std::vector<Item>(5, Item{a, kPriorityHigh, t30})},
       {{a, Cp("[2条报警] ") + t30 + ";" + t30},
        {a, Cp("[2条报警] ") + t30 + ";" + t30},
        {a, t30}}},
      {"script messages have their own head",
       2,
       5,
       {std::vector<Item>(3, Item{b, kPriorityScript, "x"})},
       {{b, Cp("[3条消息] ") + "x;x;x"}}},
  };
  StartRunning();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    plugin->Coalesce = row.coalesce;
    plugin->MaxParts = row.maxParts;
    plugin->sendEnabled = 0;
    HostTick();
    plugin->ApplyTextOptions();
    std::size_t messages = 0;
    for (const std::vector<Item>& call : row.calls) {
      std::vector<OutboxRequest> requests;
      for (const Item& queued : call) {
        requests.push_back({queued.number, {}, "Tank1", queued.text, queued.priority});
        if (queued.priority == kPriorityScript) requests.back().origin = Outbox::kScriptOrigin;
      }
      for (std::uint64_t id : plugin->outbox.Queue(requests))
        messages += id != 0 ? 1 : 0;
    }
    ASSERT_EQ(messages, Queued());
    plugin->sendEnabled = 1;
    EXPECT_EQ(Deliver(row.delivered.size()), row.delivered);
    EXPECT_EQ(Queued(), 0u);
  }
  // The history has a line per message; the joined ones say where they went.
  const auto history = HistoryRows(project.path());
  std::vector<std::string> notes;
  for (const auto& line : history) {
    if (!line[9].empty()) notes.push_back(line[5] + "|" + line[9]);
  }
  EXPECT_EQ(notes,
            (std::vector<std::string>{
                "a1,|合并发送:第1条,共4条",
                "a2,|合并发送:第2条,共4条",
                "a3|合并发送:第3条,共4条",
                "a4|合并发送:第4条,共4条",
                "泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵|合并发送:第1条,共2条",
                "泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵|合并发送:第2条,共2条",
                "泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵|合并发送:第1条,共2条",
                "泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵泵|合并发送:第2条,共2条",
                "x|合并发送:第1条,共3条",
                "x|合并发送:第2条,共3条",
                "x|合并发送:第3条,共3条",
            }));
}

// Texts are counted and cut after the conversion to UTF-16, in the units of the alphabet they go
// in: bytes that are no code page 936 character are sent (as U+FFFD, which the phone's code page
// shows as '?'), never dropped, and a cut is always noted in the history.
TEST_F(OutboxTest, TextsAreCutByTheirEncodedLengthAndTheCutIsNoted) {
  struct Row {
    const char* what;
    int concat;
    int maxParts;
    std::string text;
    std::vector<std::string> shown;  // the messages the phone shows, code page 936
    bool cut;
  };
  const std::string invalid = Times("\x81\x30", 70);  // 140 UTF-16 units
  const Row rows[] = {
      {"invalid bytes, one concatenated message", 1, 5, invalid, {Times("?0", 70)}, false},
      {"invalid bytes, separate messages",
       0,
       5,
       invalid,
       {Times("?0", 35), Times("?0", 35)},
       false},
      {"invalid bytes over the part limit", 1, 1, invalid, {Times("?0", 34) + "?" + Cp("…")}, true},
      {"Latin text goes 7-bit: 160 characters in one SMS",
       1,
       1,
       Times("a", 160),
       {Times("a", 160)},
       false},
      {"Latin text cut with three dots", 1, 2, Times("b", 400), {Times("b", 303) + "..."}, true},
      {"Chinese cut with the ellipsis",
       1,
       2,
       Cp(Times("报", 200)),
       {Cp(Times("报", 133) + "…")},
       true},
  };
  StartRunning();
  std::size_t lines = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    plugin->Concat = row.concat;
    plugin->MaxParts = row.maxParts;
    Send("13800138000", row.text);
    std::vector<DeliveredMessage> expected;
    for (const std::string& text : row.shown)
      expected.push_back({"13800138000", text});
    EXPECT_EQ(Deliver(expected.size()), expected);
    const auto history = HistoryRows(project.path());
    ASSERT_EQ(history.size(), ++lines);
    EXPECT_EQ(history.back()[9], row.cut ? "内容过长,已截断" : "");
  }
}

// A journal written by an older run holds texts cut to five pieces of 70 characters: they are
// sent again, now as one concatenated message each (cut once more where 70 no longer fit), and
// a short one as it was.
TEST_F(OutboxTest, MessagesQueuedByAnOlderRunAreSentAgain) {
  const std::string oldCut = Cp(Times("报", 349) + "…");
  OutboxMessage old;
  old.id = 7;
  old.queuedAt = wallClock.load() - 60;
  old.priority = kPriorityScript;
  old.number = "13800138000";
  old.origin = "script";
  old.text = oldCut;
  old.parts = 5;
  old.cut = true;
  std::string journal = OutboxJournal::QueuedRecord(old);
  old.id = 8;
  old.text = "A";
  old.parts = 1;
  old.cut = false;
  journal += OutboxJournal::QueuedRecord(old);
  WriteFileBytes(project.path() + "/" + std::string(OutboxJournal::kFileName), journal);
  StartRunning();
  EXPECT_EQ(Queued(), 2u);
  const auto delivered = Deliver(2);
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0], (DeliveredMessage{"13800138000", Cp(Times("报", 5 * 67 - 1) + "…")}));
  EXPECT_EQ(delivered[0].parts, 5);
  EXPECT_EQ(delivered[1], (DeliveredMessage{"13800138000", "A"}));
  const auto history = HistoryRows(project.path());
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0][9], "内容过长,已截断");
  EXPECT_EQ(history[1][9], "");
}

// The messages the journal holds as neither sent nor failed, read from the disk.
std::vector<std::uint64_t> WaitingOnDisk(const std::string& folder) {
  std::vector<std::uint64_t> ids;
  for (const OutboxMessage& message :
       OutboxJournal::Parse(ReadFileBytes(folder + "/" + std::string(OutboxJournal::kFileName)))
           .waiting)
    ids.push_back(message.id);
  return ids;
}

// A crash right after the modem answered repeats nothing: the sent marks are on the disk before
// the host's next tick has even told the outbox. A storm answer costs one sync, not one per
// alarm.
TEST_F(OutboxTest, FatesAreOnTheDiskWhenTheModemAnswersAndAStormCostsOneSync) {
  plugin->alarmRules.push_back(MakeRule("Tank1.PV", {0, 1, 2}));
  plugin->Coalesce = 0;
  StartRunning();
  Send("13800138000,13800138001", "B");
  // The modem answers; the module's clock moves on, but the host does not tick meanwhile.
  EXPECT_EQ(peer->Deliver([this] { ticks.Advance(50); }, 2).size(), 2u);
  peer->TickUntil([this] { ticks.Advance(50); },
                  [&] { return WaitingOnDisk(project.path()).empty(); }, 10000);
  EXPECT_TRUE(WaitingOnDisk(project.path()).empty());
  EXPECT_EQ(Queued(), 2u);
  // The host hears of them at its ticks (the sender hands the reports over just after marking).
  peer->TickUntil([this] { HostTick(); }, [this] { return Queued() == 0; }, 10000);
  EXPECT_EQ(Queued(), 0u);
  EXPECT_EQ(HistoryRows(project.path()).size(), 2u);

  plugin->sendEnabled = 0;
  HostTick();
  Answer({});
  std::vector<AlarmEvent> storm;
  for (std::int32_t id = 1; id <= 1000; ++id)
    storm.push_back(MakeEvent(id, "Tank1", 2, 1));
  FaultySystemCalls calls;
  Answer(storm);
  EXPECT_EQ(Queued(), 3000u);
  EXPECT_EQ(calls.CallsOf(calls.fsync), 1);

  // A message that reaches its maximum age is recorded as expired, whatever the modem said last.
  SmsFailure expired{SmsFailureKind::Expired, "+CMS ERROR: 331", 331, Cp("无网络服务"), 4};
  plugin->outbox.OnFailed(plugin->outbox.Recent(1).front().id, expired);
  const auto rows = HistoryRows(project.path());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2][8], "发送失败");
  EXPECT_EQ(rows[2][9], "等待时间过长,已放弃");
}

// A concatenated SMS of which the network had accepted the first part before a crash goes on
// from the second part, under the same concatenation reference, and the history has all three
// references.
TEST_F(OutboxTest, ConcatenatedSmsResumesAtThePartTheNetworkDidNotAccept) {
  OutboxMessage message;
  message.id = 7;
  message.queuedAt = wallClock.load() - 60;
  message.priority = kPriorityLow;
  message.number = "13800138000";
  message.origin = "Tank1.PV";
  message.text = Cp(Times("报", 3 * 67 - 5));
  message.parts = 3;
  SmsInFlight sms;
  sms.smsId = 7;
  sms.carried = {7};
  sms.number = message.number;
  sms.text = message.text;
  sms.maxParts = 5;
  sms.concatReference = 7;
  sms.references = {41};
  WriteFileBytes(project.path() + "/" + std::string(OutboxJournal::kFileName),
                 OutboxJournal::QueuedRecord(message) + OutboxJournal::ProgressRecord(sms));
  StartRunning();
  EXPECT_EQ(Queued(), 1u);
  // Parts 2 and 3 alone make no whole message on the phone.
  EXPECT_TRUE(peer->Deliver([this] { HostTick(); }, 1).empty());
  EXPECT_EQ(Queued(), 0u);
  const std::string& transcript = peer->Transcript();
  std::size_t commands = 0;
  for (std::size_t at = 0; (at = transcript.find("AT+CMGS=", at)) != std::string::npos; ++at)
    ++commands;
  EXPECT_EQ(commands, 2u);
  const auto history = HistoryRows(project.path());
  ASSERT_EQ(history.size(), 1u);
  EXPECT_TRUE(history[0][7].starts_with("41 ")) << history[0][7];
  EXPECT_EQ(std::count(history[0][7].begin(), history[0][7].end(), ' '), 2);
}

// A second host on the same project folder leaves the first one's journal alone and says that
// its own messages live in memory only; the first one's waiting messages survive both.
TEST_F(OutboxTest, SecondHostOnTheFolderKeepsItsHandsOffTheJournal) {
  StartRunning();
  plugin->sendEnabled = 0;
  Send("13800138000,13800138001,13800138002,13800138003,13800138004", "A");
  ASSERT_EQ(WaitingOnDisk(project.path()).size(), 5u);
  RecordingHost secondHost;
  secondHost.projectPath = project.path();
  secondHost.runMode = 1;
  auto second = std::make_unique<PluginObject>(secondHost);
  second->Start(0);
  EXPECT_NE(
      platform::Cp936ToUtf8(second->ModemStatusLine()).find("另一个程序正在使用本项目的发件箱文件"),
      std::string::npos);
  EXPECT_EQ(plugin->outbox.DurabilityProblem(), "");
  HostParam params[2]{};
  params[0].textValue = "13900139000";
  params[1].textValue = "B";
  second->CallFunction(kSendMsgFunction, 0, params, 0);
  EXPECT_EQ(second->outbox.waitingCount(), 1u);
  second.reset();
  EXPECT_EQ(WaitingOnDisk(project.path()).size(), 5u);
  Reopen();
  StartRunning();
  EXPECT_EQ(Queued(), 5u);
}

// Fates that arrive while the modem closes hand nothing more to it: what still waits stays in
// the journal for the next run instead of ending as refused.
TEST(OutboxBounds, NothingEndsUnsentWhenTheModemHasClosed) {
  OutboxLimits limits;
  limits.modemWindow = 1;
  OutboxRig rig(limits);
  ASSERT_TRUE(rig.opened);
  Outbox& outbox = rig.outbox;
  SmsModem& modem = rig.modem;
  std::vector<OutboxRequest> requests(3, OutboxRequest{"13800138000", {}, "script", "A"});
  const std::vector<std::uint64_t> ids = outbox.Queue(requests);
  ASSERT_EQ(ids.size(), 3u);
  modem.Close();
  outbox.OnSent(ids[0], {1}, 1);
  EXPECT_EQ(outbox.waitingCount(), 2u);
  EXPECT_EQ(WaitingOnDisk(rig.folder.path()).size(), 3u);
}

}  // namespace
}  // namespace pagorin::testing

namespace pagorin::testing {
namespace {

// Status reports, made up as the sender would hand them over, matched to the parts sent: a
// three-part message delivered out of order, a reference that came round again (told apart by
// when the centre took each message), an unknown reference, and the reasons of those that
// failed for good.
TEST(OutboxReports, ReportsMatchTheLatestPartAndEndInOneHistoryLine) {
  platform::SetWallClockSource(&TestWallClock);
  platform::ManualTicks ticks;
  TempDir folder;
  CoreModemPeer peer(4);
  SmsModem modem;
  ASSERT_EQ(modem.Open(4, 9600, 8), 1);
  Outbox outbox(modem);
  outbox.Start(folder.path(), true, SmsModem::kDefaultMaxAgeMs);
  std::vector<OutboxRequest> requests{{"13800138000", {}, "script", "A"},
                                      {"13800138001", {}, "script", "B"},
                                      {"13800138001", {}, "script", "C"},
                                      {"13800138002", {}, "script", "D"}};
  const std::vector<std::uint64_t> ids = outbox.Queue(requests);
  ASSERT_EQ(ids.size(), 4u);
  const std::int64_t start = wallClock.load();
  outbox.OnSent(ids[0], {10, 11, 12}, 1);
  outbox.OnSent(ids[1], {7}, 1);
  wallClock += 24 * 3600;
  outbox.OnSent(ids[2], {7}, 1);  // the reference came round again to the same phone
  outbox.OnSent(ids[3], {8}, 1);
  struct Row {
    int reference;
    const char* recipient;
    std::uint8_t status;
    std::int64_t later;        // seconds added to the clock first
    std::size_t lines;         // report lines in the history after it
    std::int64_t centre = -1;  // when the centre took it, seconds after the start; -1 not said
  };
  const Row rows[] = {
      {12, "+8613800138000", 0x00, 0, 0},
      {10, "13800138000", 0x00, 0, 0},
      {99, "13800138000", 0x00, 0, 0},       // unknown reference
      {11, "8613800138000", 0x20, 0, 0},     // still trying: no end yet
      {11, "+8613800138000", 0x00, 0, 1},    // the last part: delivered
      {7, "+8613800138001", 0x00, 0, 2, 5},  // B: the centre took it near B's sending
      {7, "+8613800138001", 0x46, 0, 3},     // C, the latest with reference 7, undelivered
      {8, "13800138002", 0x41, 0, 4},
      {8, "13800138002", 0x00, 3 * 24 * 3600, 4},  // D has ended and left the window
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reference);
    wallClock += row.later;
    SmsReport report;
    report.kind = SmsReport::Kind::Delivery;
    SmsStatusReport status;
    status.messageReference = row.reference;
    status.recipient.number = row.recipient;
    status.status = row.status;
    status.deliveryClass = ClassifyDeliveryStatus(row.status);
    status.dischargeTime = SmsTimestamp{start + 60, 480};
    if (row.centre >= 0) status.serviceCentreTime = SmsTimestamp{start + row.centre, 480};
    report.delivery = status;
    outbox.OnDelivery(report);
    std::size_t lines = 0;
    for (const auto& fields : HistoryRows(folder.path()))
      lines += fields.size() > 8 && (fields[8] == "已送达" || fields[8] == "未送达") ? 1 : 0;
    EXPECT_EQ(lines, row.lines);
  }
  std::vector<std::string> verdicts;
  for (const auto& fields : HistoryRows(folder.path())) {
    if (fields.size() > 9 && (fields[8] == "已送达" || fields[8] == "未送达"))
      verdicts.push_back(fields[5] + " " + fields[8] + " " + fields[9]);
  }
  EXPECT_EQ(verdicts, (std::vector<std::string>{"A 已送达 ", "B 已送达 ", "C 未送达 对方关机超时",
                                                "D 未送达 未送达(状态 0x41)"}));
  const OutboxRecord* a = outbox.Find(ids[0]);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->delivery, HistoryState::kDelivered);
  EXPECT_EQ(a->deliveredAt, start + 60);
  EXPECT_EQ(outbox.Find(ids[1])->delivery, HistoryState::kDelivered);
  modem.Close();
  platform::SetWallClockSource(nullptr);
}

}  // namespace
}  // namespace pagorin::testing

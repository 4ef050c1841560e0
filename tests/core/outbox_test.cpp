// The outbox inside the plug-in: bounds, the journal across restarts, and the history's lines.
#include "core/outbox.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/core_fixture.h"
#include "core/script_functions.h"
#include "platform/local_time.h"
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
  // Messages leave in the order they were queued.
  EXPECT_EQ(delivered[0].text, "C");
  EXPECT_EQ(delivered[1].text, Cp("短信报警测试:收到本短信说明短信报警工作正常。"));
  EXPECT_EQ(plugin->TestOutcome(handle).substr(0, 14), Cp("测试短信已发送"));
  rows = plugin->RecentMessages(10);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].state, Cp("已发送"));
  EXPECT_EQ(rows[0].number, "13800138001");
  EXPECT_EQ(rows[1].text, "C");
}

// The bounds, with small limits: script messages are refused when full, alarms push the oldest
// waiting script messages out, and beyond the hard ceiling even alarms are refused.
TEST(OutboxBounds, ScriptsAreRefusedAndAlarmsMakeRoom) {
  platform::ManualTicks ticks;
  TempDir folder;
  CoreModemPeer peer(4);
  SmsModem modem;
  ASSERT_EQ(modem.Open(4, 9600, 8), 1);
  OutboxLimits limits;
  limits.maxMessages = 4;
  limits.maxBytes = 40;
  limits.maxAlarmMessages = 6;
  limits.modemWindow = 1;
  Outbox outbox(modem, limits);
  outbox.Start(folder.path(), true, SmsModem::kDefaultMaxAgeMs);

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
      {kPriorityLow, "a6", false, 6},  // the hard ceiling
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.text);
    EXPECT_EQ(queue(step.priority, step.text) != 0, step.queued);
    EXPECT_EQ(outbox.waitingCount(), step.waiting);
  }
  std::vector<std::string> refused;
  for (const auto& row : HistoryRows(folder.path())) {
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
  // Every message holds the cut text: five pieces at most, the last ending in the ellipsis.
  const auto recent = plugin->outbox.Recent(1);
  ASSERT_EQ(recent.size(), 1u);
  const std::string& cut = recent[0].entry.text;
  EXPECT_EQ(cut.size(), 5 * 70 * 2u);
  EXPECT_TRUE(cut.ends_with(Cp("…")));
  EXPECT_TRUE(recent[0].cut);
}

}  // namespace
}  // namespace pagorin::testing

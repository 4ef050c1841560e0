#include "modem/sms_modem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "modem/pdu.h"
#include "platform/tick.h"
#include "support/pty_pair.h"

namespace pagorin {
namespace {

using namespace std::chrono_literals;
using State = SmsModem::State;
using testing::PtyPair;
using testing::ScriptedPeer;
using testing::WaitUntil;

constexpr int kPort = 5;
const std::string kNumber = "12345678901";
const std::string kMode = "AT+CMGF=0\r";
const std::string kCmgsAB = "AT+CMGS=019\r";
const std::string kPduAB = "0011000D91682143658709F10008010400410042\x1A\r";
const std::string kFinalOk = "\r\n+CMGS: 12\r\n\r\nOK\r\n";

// The modem as the test plays it: each Tick is followed by a look at what was written, each
// reply waits until the port's reader has taken it in.
class SmsModemDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    pty.MapToPort(kPort);
    ASSERT_EQ(modem.Open(kPort, 9600, 8), 1);
  }

  // Ticks once; returns the command that Tick wrote.
  std::string TickWrites() {
    modem.Tick();
    received = 0;
    return pty.ReadUntil('\r');
  }

  // Ticks once; true when nothing was written.
  bool TickWritesNothing() {
    modem.Tick();
    return pty.ReadFor(30ms).empty();
  }

  void Reply(const std::string& bytes) {
    received += static_cast<int>(bytes.size());
    ASSERT_TRUE(pty.Write(bytes));
    ASSERT_TRUE(WaitUntil([&] { return modem.port().ReceivedLength() == received; }));
  }

  // Queues "AB" and plays the modem until the dialogue waits in `target`.
  void Reach(State target) {
    ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
    ASSERT_EQ(TickWrites(), kMode);
    if (target == State::WaitModeReply) return;
    Reply("\r\nOK\r\n");
    ASSERT_EQ(TickWrites(), kCmgsAB);
    if (target == State::WaitPrompt) return;
    Reply("\r\n> ");
    ASSERT_EQ(TickWrites(), kPduAB);
    ASSERT_EQ(modem.state(), State::WaitSendReply);
  }

  platform::ManualTicks ticks{100000};
  PtyPair pty;
  SmsModem modem;
  int received = 0;
};

TEST(SmsModem, RefusesMessagesBeforeOpenAndAcceptsThemAfterAFailedOne) {
  SmsModem modem;
  EXPECT_EQ(modem.Enqueue(kNumber, "AB"), 0);
  EXPECT_EQ(modem.queueLength(), 0u);
  // Once the project runs, a port that did not open is no reason to refuse an alarm message.
  EXPECT_EQ(modem.Open(65, 9600, 8), 0);
  EXPECT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  EXPECT_EQ(modem.queueLength(), 1u);
}

TEST_F(SmsModemDialogue, RefusesBadNumbersAndEmptyText) {
  EXPECT_EQ(modem.Enqueue("1234567890", "AB"), 0);
  EXPECT_EQ(modem.Enqueue("+8612345678901", "AB"), 0);
  EXPECT_EQ(modem.Enqueue("1234567890a", "AB"), 0);
  EXPECT_EQ(modem.Enqueue(kNumber, ""), 0);
  EXPECT_EQ(modem.queueLength(), 0u);
  EXPECT_EQ(modem.Enqueue("123456789012", "A"), 1);
  EXPECT_EQ(modem.queueLength(), 1u);
}

TEST_F(SmsModemDialogue, EmptyQueueWritesNothing) {
  EXPECT_TRUE(TickWritesNothing());
  ticks.Advance(60000);
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.state(), State::StartRequest);
  EXPECT_EQ(modem.timeoutCount(), 0);
}

TEST_F(SmsModemDialogue, SendsThroughAnEchoingModem) {
  ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  EXPECT_EQ(TickWrites(), kMode);
  EXPECT_EQ(modem.state(), State::WaitModeReply);
  Reply("AT+CMGF=0\r\r\nOK\r\n");
  EXPECT_EQ(TickWrites(), kCmgsAB);
  EXPECT_EQ(modem.state(), State::WaitPrompt);
  Reply("AT+CMGS=019\r\r\n> ");
  EXPECT_EQ(TickWrites(), kPduAB);
  EXPECT_EQ(modem.state(), State::WaitSendReply);
  Reply("0011000D91682143658709F10008010400410042\x1A" + kFinalOk);
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.queueLength(), 0u);
  EXPECT_EQ(modem.state(), State::StartRequest);
  EXPECT_TRUE(TickWritesNothing());
}

enum class Outcome { Accepted, NotRecognised, ErrorReply };

struct ModeReply {
  const char* name;
  std::string bytes;
  Outcome outcome;
};

void PrintTo(const ModeReply& row, std::ostream* out) {
  *out << row.name;
}

class SmsModemModeReply : public SmsModemDialogue,
                          public ::testing::WithParamInterface<ModeReply> {};

TEST_P(SmsModemModeReply, IsJudgedByItsLastFiveCharacters) {
  const ModeReply& row = GetParam();
  ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  ASSERT_EQ(TickWrites(), kMode);
  Reply(row.bytes);
  switch (row.outcome) {
    case Outcome::Accepted:
      EXPECT_EQ(TickWrites(), kCmgsAB);
      EXPECT_EQ(modem.state(), State::WaitPrompt);
      break;
    case Outcome::NotRecognised:
      EXPECT_TRUE(TickWritesNothing());
      EXPECT_EQ(modem.state(), State::WaitModeReply);
      ticks.Advance(SmsModem::kReplyTimeoutMs);
      EXPECT_TRUE(TickWritesNothing());
      EXPECT_EQ(modem.state(), State::StartRequest);
      EXPECT_EQ(modem.timeoutCount(), 1);
      break;
    case Outcome::ErrorReply:
      // No time passes: the refusal counts as a time-out at once.
      EXPECT_TRUE(TickWritesNothing());
      EXPECT_EQ(modem.state(), State::StartRequest);
      EXPECT_EQ(modem.timeoutCount(), 1);
      EXPECT_EQ(TickWrites(), kMode);
      break;
  }
  EXPECT_EQ(modem.queueLength(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    SmsModem, SmsModemModeReply,
    ::testing::Values(ModeReply{"PlainOk", "\r\nOK\r\n", Outcome::Accepted},
                      ModeReply{"EchoThenOk", "AT+CMGF=0\r\r\nOK\r\n", Outcome::Accepted},
                      ModeReply{"OkThenThree", "OK123", Outcome::Accepted},
                      ModeReply{"Prompt", "\r\n> ", Outcome::Accepted},
                      ModeReply{"OkThenFour", "OK1234", Outcome::NotRecognised},
                      ModeReply{"OkThenUnsolicited", "\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n",
                                Outcome::NotRecognised},
                      ModeReply{"Ring", "\r\nRING\r\n", Outcome::NotRecognised},
                      ModeReply{"ErrorWithoutCode", "\r\n+CMS ERROR:\r\n", Outcome::NotRecognised},
                      ModeReply{"Error", "\r\nERROR\r\n", Outcome::ErrorReply},
                      ModeReply{"EchoThenError", "AT+CMGF=0\r\r\nERROR\r\n", Outcome::ErrorReply},
                      ModeReply{"CmsError", "\r\n+CMS ERROR: 500\r\n", Outcome::ErrorReply},
                      ModeReply{"CmeError", "\r\n+CME ERROR: 3\r\n", Outcome::ErrorReply}),
    [](const ::testing::TestParamInfo<ModeReply>& row) { return row.param.name; });

TEST_F(SmsModemDialogue, ExaminesReplyPiecesFromTheStart) {
  ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  ASSERT_EQ(TickWrites(), kMode);
  Reply("\r\nO");
  EXPECT_TRUE(TickWritesNothing());
  Reply("K\r\n");
  ASSERT_EQ(TickWrites(), kCmgsAB);
  Reply("\r\n");
  EXPECT_TRUE(TickWritesNothing());
  Reply(">");
  ASSERT_EQ(TickWrites(), kPduAB);
  Reply("\r\n+CMGS: 1");
  EXPECT_TRUE(TickWritesNothing());
  Reply("2\r\n\r\nO");
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.queueLength(), 1u);
  Reply("K\r\n");
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.queueLength(), 0u);
}

struct WaitingState {
  const char* name;
  State state;
  std::uint32_t limit;
};

void PrintTo(const WaitingState& row, std::ostream* out) {
  *out << row.name;
}

class SmsModemReplyClock : public SmsModemDialogue,
                           public ::testing::WithParamInterface<WaitingState> {};

TEST_P(SmsModemReplyClock, TimesOutAtTheLimitOfItsState) {
  const WaitingState& row = GetParam();
  Reach(row.state);
  ticks.Advance(row.limit - 1);
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.state(), row.state);
  EXPECT_EQ(modem.timeoutCount(), 0);
  ticks.Advance(1);
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.state(), State::StartRequest);
  EXPECT_EQ(modem.timeoutCount(), 1);
  EXPECT_EQ(modem.queueLength(), 1u);
  // The same request starts again from the mode command.
  EXPECT_EQ(TickWrites(), kMode);
}

INSTANTIATE_TEST_SUITE_P(
    SmsModem, SmsModemReplyClock,
    ::testing::Values(WaitingState{"ModeReply", State::WaitModeReply, SmsModem::kReplyTimeoutMs},
                      WaitingState{"Prompt", State::WaitPrompt, SmsModem::kReplyTimeoutMs},
                      WaitingState{"SendReply", State::WaitSendReply, 60000}),
    [](const ::testing::TestParamInfo<WaitingState>& row) { return row.param.name; });

TEST_F(SmsModemDialogue, TakesAFinalReplyArrivingAfterFiftyNineSeconds) {
  Reach(State::WaitSendReply);
  ticks.Advance(59999);
  EXPECT_TRUE(TickWritesNothing());
  Reply(kFinalOk);
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.queueLength(), 0u);
}

TEST_F(SmsModemDialogue, RefusedSendsAreDroppedAtTheThirdError) {
  Reach(State::WaitSendReply);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    if (attempt > 1) {
      ASSERT_EQ(TickWrites(), kMode);
      Reply("\r\nOK\r\n");
      ASSERT_EQ(TickWrites(), kCmgsAB);
      Reply("\r\n> ");
      ASSERT_EQ(TickWrites(), kPduAB);
    }
    // No time passes: every refusal counts as a time-out at once.
    Reply("\r\n+CMS ERROR: 38\r\n");
    EXPECT_TRUE(TickWritesNothing());
    EXPECT_EQ(modem.state(), State::StartRequest);
    EXPECT_EQ(modem.timeoutCount(), attempt % 3);
    EXPECT_EQ(modem.queueLength(), attempt < 3 ? 1u : 0u);
  }
  EXPECT_TRUE(TickWritesNothing());
}

TEST_F(SmsModemDialogue, SilentModemDropsEachRequestAtItsThirdTimeout) {
  ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  ASSERT_EQ(modem.Enqueue(kNumber, "CD"), 1);
  for (std::size_t request = 0; request < 2; ++request) {
    for (int timeout = 1; timeout <= 3; ++timeout) {
      ASSERT_EQ(TickWrites(), kMode);
      ticks.Advance(SmsModem::kReplyTimeoutMs - 1);
      EXPECT_TRUE(TickWritesNothing());
      ticks.Advance(1);
      EXPECT_TRUE(TickWritesNothing());
      EXPECT_EQ(modem.timeoutCount(), timeout % 3);
      EXPECT_EQ(modem.queueLength(), timeout < 3 ? 2 - request : 1 - request);
    }
  }
  EXPECT_TRUE(TickWritesNothing());
}

TEST_F(SmsModemDialogue, SendsTwoRequestsInOrder) {
  ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  ASSERT_EQ(modem.Enqueue("13800138000", "C"), 1);
  ASSERT_EQ(TickWrites(), kMode);
  Reply("\r\nOK\r\n");
  ASSERT_EQ(TickWrites(), kCmgsAB);
  Reply("\r\n> ");
  ASSERT_EQ(TickWrites(), kPduAB);
  Reply(kFinalOk);
  // The final OK ends the first message; the second starts on the following Tick.
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.queueLength(), 1u);
  EXPECT_EQ(TickWrites(), kMode);
  Reply("\r\nOK\r\n");
  EXPECT_EQ(TickWrites(), "AT+CMGS=017\r");
  Reply("\r\n> ");
  EXPECT_EQ(TickWrites(), "0011000D91683108108300F0000801020043\x1A\r");
  Reply(kFinalOk);
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.queueLength(), 0u);
}

struct RecordingObserver final : SmsObserver {
  void OnSent(std::uint64_t id, const std::vector<int>& references,
              int attempts) noexcept override {
    sent.push_back({id, references, attempts});
  }
  void OnFailed(std::uint64_t id, const SmsFailure& failure) noexcept override {
    failed.push_back({id, failure.kind});
  }
  void OnStatusChanged(const ModemStatus& status) noexcept override { statuses.push_back(status); }
  struct Sent {
    std::uint64_t id;
    std::vector<int> references;
    int attempts;
    bool operator==(const Sent&) const = default;
  };
  std::vector<Sent> sent;
  std::vector<std::pair<std::uint64_t, SmsFailureKind>> failed;
  std::vector<ModemStatus> statuses;
};

TEST_F(SmsModemDialogue, SendsByPriorityAndTellsTheObserver) {
  RecordingObserver observer;
  modem.SetObserver(&observer);
  QueuedSms script{0, kPriorityScript, kNumber, "AB", {{kCmgsAB, kPduAB}}};
  const std::uint64_t scriptId = modem.Submit(script);
  QueuedSms urgent{0,
                   kPriorityUrgent,
                   "13800138000",
                   "C",
                   {{"AT+CMGS=017\r", "0011000D91683108108300F0000801020043\x1A\r"}}};
  const std::uint64_t urgentId = modem.Submit(urgent);
  EXPECT_NE(scriptId, 0u);
  EXPECT_GT(urgentId, scriptId);
  for (const std::string& cmgs : {std::string("AT+CMGS=017\r"), kCmgsAB}) {
    ASSERT_EQ(TickWrites(), kMode);
    Reply("\r\nOK\r\n");
    ASSERT_EQ(TickWrites(), cmgs);
    Reply("\r\n> ");
    TickWrites();
    Reply(kFinalOk);
    EXPECT_TRUE(TickWritesNothing());
  }
  EXPECT_EQ(observer.sent,
            (std::vector<RecordingObserver::Sent>{{urgentId, {-1}, 1}, {scriptId, {-1}, 1}}));
  modem.SetObserver(nullptr);
}

TEST_F(SmsModemDialogue, TickCounterWrapDoesNoHarm) {
  ticks.Set(0xFFFFFFFFu - 4000u);
  ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  ASSERT_EQ(TickWrites(), kMode);
  ticks.Advance(SmsModem::kReplyTimeoutMs - 1);
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.state(), State::WaitModeReply);
  ticks.Advance(1);
  EXPECT_TRUE(TickWritesNothing());
  EXPECT_EQ(modem.timeoutCount(), 1);
}

TEST_F(SmsModemDialogue, ScriptedModemRetriesARefusedMessage) {
  int pduLines = 0;
  ScriptedPeer peer(pty, [&](const std::string& line) -> std::string {
    if (line == kMode) return "\r\nOK\r\n";
    if (line.starts_with("AT+CMGS=")) return "\r\n> ";
    // The network refuses the first attempt and takes the second.
    return ++pduLines == 1 ? "\r\n+CMS ERROR: 500\r\n" : kFinalOk;
  });
  ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  EXPECT_TRUE(WaitUntil(
      [&] {
        modem.Tick();
        return modem.queueLength() == 0;
      },
      5000ms));
  ASSERT_TRUE(peer.WaitForLines(6));
  EXPECT_EQ(peer.lines(),
            (std::vector<std::string>{kMode, kCmgsAB, kPduAB, kMode, kCmgsAB, kPduAB}));
  EXPECT_EQ(modem.timeoutCount(), 0);
}

}  // namespace
}  // namespace pagorin

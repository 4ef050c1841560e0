// The module's sender (SmsModem on the POSIX serial port) against gsm-modem-sim on a
// pseudo-terminal: every message queued comes out of the simulator's decoder with the number and
// text that went in, in order, exactly once.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gsm_sim_process.h"
#include "modem/sms_modem.h"
#include "modem/sms_sender.h"
#include "platform/code_page.h"

namespace pagorin::testing {
namespace {

constexpr int kPortNumber = 7;

struct Message {
  std::string number;    // as queued
  std::string text;      // UTF-8; queued as code page 936
  std::string expected;  // what the phone shows (UTF-8)
};

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i)
    text += piece;
  return text;
}

std::vector<Message> TwentyMessages() {
  const std::string seventy = Repeat("0123456789", 7);
  const std::string hundred = Repeat("ABCDEFGHIJ", 10);
  const std::string alarm70 = Repeat("报警", 35);
  std::vector<Message> messages = {
      {"13800138000", "Pump station 1 stopped", ""},
      {"13800138000", "泵站停机", ""},
      {"13912345678", "A", ""},
      {"13912345678", seventy, ""},
      {"13912345678", hundred, hundred.substr(0, 70)},
      {"123456789012", "twelve-digit number", ""},
      {"01234567890", "leading zero", ""},
      {"15000000001", "1号泵 压力高 3.5MPa", ""},
      {"15000000001", alarm70, ""},
      {"15000000001", alarm70 + "！", alarm70},
      {"15000000002", "{}[]~\\|^_@$%&*#", ""},
      {"15000000002", "ＡＢＣ，。；：？", ""},
      {"15000000002", "line 1\nline 2", ""},
      {"18612345678", "液位低低报警 LoLo 0.20 m", ""},
      {"18612345678", "温度 HiHi 95.5℃ 未确认", ""},
      {"18612345678", "Quote \" and apostrophe '", ""},
      {"18612345678", "Alarm 17", ""},
      {"999999999999", "Alarm 18", ""},
      {"10000000000", "Alarm 19", ""},
      {"13800138000", "末条消息 20", ""},
  };
  for (auto& message : messages) {
    if (message.expected.empty()) message.expected = message.text;
  }
  return messages;
}

class ModemAgainstSimulator : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv(("PAGORIN_COM" + std::to_string(kPortNumber)).c_str()); }

  // Maps COM7 to the simulator's terminal; never lets the port fall through to a real device.
  void MapPort(GsmSimProcess& sim) {
    std::string path = sim.WaitForPortPath();
    ASSERT_FALSE(path.empty());
    ASSERT_EQ(setenv(("PAGORIN_COM" + std::to_string(kPortNumber)).c_str(), path.c_str(), 1), 0);
  }

  // Ticks until the queue is empty, within a real-time bound.
  static bool DrainQueue(SmsModem& modem) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (modem.queueLength() > 0 && std::chrono::steady_clock::now() < until) {
      modem.Tick();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return modem.queueLength() == 0;
  }

  // Queues the messages, sends them all and checks the simulator's log against them.
  void SendAndCheck(GsmSimProcess& sim, const std::vector<Message>& messages) {
    MapPort(sim);
    SmsModem modem;
    ASSERT_EQ(modem.Open(kPortNumber, 9600, 8), 1);
    for (const auto& message : messages) {
      ASSERT_EQ(modem.Enqueue(message.number, platform::Utf8ToCp936(message.text)), 1)
          << message.text;
    }
    ASSERT_TRUE(DrainQueue(modem)) << modem.queueLength() << " messages left\n" << sim.StderrText();
    EXPECT_EQ(sim.Stop(), 0);

    auto lines = sim.LogLines();
    ASSERT_EQ(lines.size(), messages.size()) << sim.StderrText();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      SCOPED_TRACE("message " + std::to_string(i + 1));
      auto json = nlohmann::json::parse(lines[i]);
      EXPECT_EQ(json["number"], "+86" + messages[i].number);
      EXPECT_EQ(json["text"], messages[i].expected);
      EXPECT_EQ(json["alphabet"], "UCS2");
      EXPECT_EQ(json["validity"], "10 min");
    }
  }
};

TEST_F(ModemAgainstSimulator, TwentyMessagesArriveDecodedInOrderOnce) {
  GsmSimProcess sim({});  // echo on, as a modem comes from the factory
  SendAndCheck(sim, TwentyMessages());
}

TEST_F(ModemAgainstSimulator, RefusedSendIsRepeatedOnce) {
  // The third message is refused once; the module starts it again and it arrives once.
  GsmSimProcess sim({"--fail-message", "3", "--fail-code", "500"});
  auto messages = TwentyMessages();
  messages.resize(5);
  SendAndCheck(sim, messages);
  EXPECT_NE(sim.StderrText().find("injected error 500"), std::string::npos);
}

TEST_F(ModemAgainstSimulator, SlowModemAnsweringByteByByte) {
  GsmSimProcess sim({"--byte-delay-ms", "2"});
  auto messages = TwentyMessages();
  messages.resize(3);
  SendAndCheck(sim, messages);
}

// Heard back: a phone's message stored and notified, and the status report on what was sent.
class HeardBack final : public SmsObserver {
 public:
  void OnSent(std::uint64_t, const std::vector<int>& sentReferences, int) noexcept override {
    sent = sentReferences;
  }
  void OnFailed(std::uint64_t, const SmsFailure&) noexcept override {}
  void OnStatusChanged(const ModemStatus&) noexcept override {}
  void OnReceived(const SmsReport& report) noexcept override {
    if (report.received) texts.push_back(report.received->text);
  }
  void OnDelivery(const SmsReport& report) noexcept override {
    if (report.delivery) references.push_back(report.delivery->messageReference);
  }
  std::vector<int> sent;
  std::vector<std::u16string> texts;
  std::vector<int> references;
};

TEST_F(ModemAgainstSimulator, IncomingMessageAndStatusReportReachTheObserver) {
  GsmSimProcess sim({"--incoming", "2@13800138000:1:ucs2:Reply 1", "--report-delay", "1"});
  MapPort(sim);
  SmsModem modem;
  HeardBack observer;
  modem.SetObserver(&observer);
  ASSERT_EQ(modem.Open(kPortNumber, 9600, 8), 1);
  SmsTextOptions options;
  options.statusReport = true;
  std::optional<EncodedSms> encoded = EncodeSmsText("13800138000", "Alarm", options);
  ASSERT_TRUE(encoded);
  QueuedSms message;
  message.number = "13800138000";
  message.text = "Alarm";
  message.parts = encoded->parts;
  ASSERT_NE(modem.Submit(std::move(message)), 0u);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((observer.texts.empty() || observer.references.empty()) &&
         std::chrono::steady_clock::now() < until) {
    modem.Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  modem.Close();
  modem.Tick();
  EXPECT_EQ(observer.texts, std::vector<std::u16string>{u"Reply 1"}) << sim.StderrText();
  ASSERT_EQ(observer.sent.size(), 1u);
  EXPECT_EQ(observer.references, observer.sent);
  EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace
}  // namespace pagorin::testing

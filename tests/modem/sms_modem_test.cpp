// SmsModem as the plug-in uses it: its sender thread on a real pseudo-terminal, a modem played
// on the master side, the owner calling Tick.
#include "modem/sms_modem.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/tick.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace pagorin {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::ScriptedPeer;
using testing::TempDir;
using testing::WaitUntil;

constexpr int kPort = 5;
const std::string kNumber = "12345678901";

// A willing modem: OK to every command, a prompt to AT+CMGS, a reference to each PDU.
std::string WillingModem(const std::string& received, std::atomic<int>& pdus) {
  std::string line = received;
  while (!line.empty() && line.front() == '\x1B')
    line.erase(0, 1);
  if (line.starts_with("AT+CMGS=")) return "\r\n> ";
  if (line == "AT+CPIN?\r") return "\r\n+CPIN: READY\r\n\r\nOK\r\n";
  if (line.starts_with("AT")) return "\r\nOK\r\n";
  return "\r\n+CMGS: " + std::to_string(++pdus) + "\r\n\r\nOK\r\n";
}

struct RecordingObserver final : SmsObserver {
  void OnSent(std::uint64_t id, const std::vector<int>& references, int) noexcept override {
    sent.push_back(id);
    lastReferences = references;
  }
  void OnFailed(std::uint64_t id, const SmsFailure&) noexcept override { failed.push_back(id); }
  void OnStatusChanged(const ModemStatus& status) noexcept override { last = status; }
  std::vector<std::uint64_t> sent;
  std::vector<std::uint64_t> failed;
  std::vector<int> lastReferences;
  ModemStatus last;
};

TEST(SmsModem, RefusesMessagesBeforeOpenAndAcceptsThemAfterAFailedOne) {
  SmsModem modem;
  EXPECT_EQ(modem.Enqueue(kNumber, "AB"), 0);
  EXPECT_EQ(modem.queueLength(), 0u);
  // Once the project runs, a port that did not open is no reason to refuse an alarm message.
  EXPECT_EQ(modem.Open(65, 9600, 8), 0);
  EXPECT_FALSE(modem.Status().portOpen);
  EXPECT_FALSE(modem.Status().portError.empty());
  EXPECT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  EXPECT_EQ(modem.queueLength(), 1u);
  EXPECT_EQ(modem.Enqueue("1234567890", "AB"), 0);
  EXPECT_EQ(modem.Enqueue("+8612345678901", "AB"), 0);
  EXPECT_EQ(modem.Enqueue(kNumber, ""), 0);
  EXPECT_EQ(modem.Submit(QueuedSms{}), 0u);
  EXPECT_EQ(modem.queueLength(), 1u);
}

TEST(SmsModem, ThirtyMessagesLeaveWithinFifteenTicksOfOneSecond) {
  PtyPair pty;
  pty.MapToPort(kPort);
  std::atomic<int> pdus{0};
  ScriptedPeer peer(pty, [&](const std::string& line) { return WillingModem(line, pdus); });
  RecordingObserver observer;
  SmsModem modem;
  modem.SetObserver(&observer);
  ASSERT_EQ(modem.Open(kPort, 115200, 8), 1);
  for (int i = 0; i < 30; ++i)
    ASSERT_EQ(modem.Enqueue(kNumber, "AB", kPriorityLow), 1);
  int ticks = 0;
  // The host's tick comes once a second; between two ticks the sender works on its own.
  while (ticks < 15 && observer.sent.size() < 30) {
    modem.Tick();
    ++ticks;
    WaitUntil([&] { return modem.queueLength() == 0; }, 1000ms);
  }
  EXPECT_LE(ticks, 15);
  // With the queue empty the sender looks at the modem's health.
  EXPECT_TRUE(WaitUntil([&] { return modem.Status().sim == SimState::Ready; }));
  modem.Tick();
  EXPECT_EQ(observer.sent.size(), 30u);
  EXPECT_EQ(pdus.load(), 30);
  EXPECT_TRUE(observer.last.portOpen);
  EXPECT_EQ(observer.last.sim, SimState::Ready);
  modem.SetObserver(nullptr);
}

// Closing while the network's verdict on a PDU is still on its way: the close waits for it, and
// the owner hears of the message as sent on its last Tick instead of sending it again next time.
TEST(SmsModem, CloseWaitsForTheVerdictOnAPduAlreadyWritten) {
  PtyPair pty;
  pty.MapToPort(kPort);
  std::atomic<int> pdus{0};
  std::atomic<bool> pduArrived{false};
  ScriptedPeer peer(pty, [&](const std::string& line) {
    if (line.starts_with("0011")) {
      pduArrived = true;
      // The network takes a moment; the owner closes meanwhile.
      std::this_thread::sleep_for(300ms);
      return std::string("\r\n+CMGS: 77\r\n\r\nOK\r\n");
    }
    return WillingModem(line, pdus);
  });
  RecordingObserver observer;
  SmsModem modem;
  modem.SetObserver(&observer);
  ASSERT_EQ(modem.Open(kPort, 115200, 8), 1);
  ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  ASSERT_EQ(modem.Enqueue(kNumber, "CD"), 1);
  ASSERT_TRUE(WaitUntil([&] { return pduArrived.load(); }, 5000ms));
  modem.Close();
  EXPECT_TRUE(observer.sent.empty());
  modem.Tick();
  EXPECT_EQ(observer.sent, std::vector<std::uint64_t>{1});
  EXPECT_EQ(observer.lastReferences, std::vector<int>{77});
  EXPECT_TRUE(observer.failed.empty());
  EXPECT_FALSE(modem.Status().portOpen);
  // Closed: the second message was not started, and nothing more is taken.
  EXPECT_EQ(modem.Enqueue(kNumber, "EF"), 0);
  modem.Close();
  modem.SetObserver(nullptr);
}

// The device path behind COMn is a link that a replugged adapter points at a new device, the way
// a USB serial adapter comes back under the same name.
TEST(SmsModem, ThePortComesBackAfterAnUnplugAndTheQueueIsKept) {
  platform::ManualTicks ticks{100000};
  TempDir folder;
  const std::string device = folder.File("ttyModem");
  auto first = std::make_unique<PtyPair>();
  ASSERT_EQ(::symlink(first->slavePath().c_str(), device.c_str()), 0);
  ASSERT_EQ(setenv("PAGORIN_COM9", device.c_str(), 1), 0);
  std::atomic<int> pdus{0};
  auto peer = std::make_unique<ScriptedPeer>(
      *first, [&](const std::string& line) { return WillingModem(line, pdus); });
  RecordingObserver observer;
  SmsModem modem;
  modem.SetObserver(&observer);
  ASSERT_EQ(modem.Open(9, 9600, 8), 1);
  ASSERT_EQ(modem.Enqueue(kNumber, "AB"), 1);
  ASSERT_TRUE(WaitUntil([&] {
    ticks.Advance(100);
    return modem.queueLength() == 0;
  }));

  peer.reset();
  first->CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return !modem.Status().portOpen; }));
  EXPECT_FALSE(modem.Status().portError.empty());
  // Unplugged: messages are still taken and wait.
  ASSERT_EQ(modem.Enqueue(kNumber, "CD"), 1);
  ASSERT_EQ(modem.Enqueue(kNumber, "EF"), 1);

  PtyPair second;
  ASSERT_EQ(::unlink(device.c_str()), 0);
  ASSERT_EQ(::symlink(second.slavePath().c_str(), device.c_str()), 0);
  ScriptedPeer secondPeer(second,
                          [&](const std::string& line) { return WillingModem(line, pdus); });
  EXPECT_TRUE(WaitUntil(
      [&] {
        ticks.Advance(200);
        return modem.queueLength() == 0;
      },
      5000ms));
  modem.Tick();
  EXPECT_EQ(observer.sent.size(), 3u);
  EXPECT_EQ(pdus.load(), 3);
  EXPECT_TRUE(modem.Status().portOpen);
  // The second modem was initialised before it was given a message.
  const std::vector<std::string> lines = secondPeer.lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "\x1B"
            "ATQ0V1\r");
  EXPECT_EQ(lines[1], "ATE0\r");
  EXPECT_EQ(lines[2], "AT+CMEE=1\r");
  EXPECT_EQ(lines[3], "AT+CMGF=0\r");
  modem.SetObserver(nullptr);
  unsetenv("PAGORIN_COM9");
}

}  // namespace
}  // namespace pagorin

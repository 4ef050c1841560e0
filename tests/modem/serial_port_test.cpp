#include "modem/serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "modem/serial_port_posix.h"
#include "modem/serial_port_speed.h"
#include "platform/system_error.h"
#include "support/faulty_system_calls.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace pagorin {
namespace {

using namespace std::chrono_literals;
using testing::FaultySystemCalls;
using testing::PtyPair;
using testing::WaitUntil;

constexpr int kPort = 7;

std::string Pattern(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<char>('A' + i % 23);
  return bytes;
}

std::string Received(SerialPort& port, int maxBytes = SerialPort::kBufferSize) {
  std::string copy(static_cast<std::size_t>(maxBytes), '\0');
  copy.resize(static_cast<std::size_t>(port.PeekReceived(copy.data(), maxBytes)));
  return copy;
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

class SerialPortOnPty : public ::testing::Test {
 protected:
  void SetUp() override { pty.MapToPort(kPort); }

  PtyPair pty;
  SerialPort port;
};

TEST_F(SerialPortOnPty, OpensAndClosesOnce) {
  EXPECT_FALSE(port.IsOpen());
  port.Close();  // never opened: nothing happens
  ASSERT_EQ(port.Open(kPort, 9600, 8, 0, 0), 1);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.portNumber(), kPort);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  // The device is released: it opens again.
  EXPECT_EQ(port.Open(kPort, 9600, 8, 0, 0), 1);
}

TEST_F(SerialPortOnPty, SecondOpenFailsAndThePortKeepsWorking) {
  ASSERT_EQ(port.Open(kPort, 9600, 8, 0, 0), 1);
  EXPECT_EQ(port.Open(kPort, 19200, 7, 0, 0), 0);
  EXPECT_TRUE(port.IsOpen());
  termios settings{};
  ASSERT_EQ(tcgetattr(pty.master(), &settings), 0);
  EXPECT_EQ(cfgetospeed(&settings), B9600);
  ASSERT_TRUE(pty.Write("\r\n> "));
  EXPECT_TRUE(WaitUntil([&] { return port.ReceivedLength() == 4; }));
  EXPECT_EQ(port.TakeNewDataFlag(), 1);
  EXPECT_EQ(Received(port), "\r\n> ");
  EXPECT_EQ(port.Write("AT\r", 3), 1);
  EXPECT_EQ(pty.ReadUntil('\r'), "AT\r");
}

TEST_F(SerialPortOnPty, AnotherPortObjectCannotOpenTheSameDevice) {
  ASSERT_EQ(port.Open(kPort, 9600, 8, 0, 0), 1);
  SerialPort other;
  EXPECT_EQ(other.Open(kPort, 9600, 8, 0, 0), 0);
  EXPECT_FALSE(other.IsOpen());
  port.Close();
  EXPECT_EQ(other.Open(kPort, 9600, 8, 0, 0), 1);
}

TEST(SerialPort, PortNumbersOutsideTheRangeAreRefusedBeforeTheDevice) {
  struct Row {
    int portNumber;
    int opened;
  };
  for (const Row& row : {Row{-1, 0}, Row{65, 0}, Row{64, 1}, Row{0, 1}}) {
    PtyPair pty;
    // Mapped even where refused: the refusal must come before any device is touched.
    pty.MapToPort(row.portNumber);
    SerialPort port;
    EXPECT_EQ(port.Open(row.portNumber, 9600, 8, 0, 0), row.opened) << row.portNumber;
    EXPECT_EQ(port.IsOpen(), row.opened == 1);
    EXPECT_EQ(port.portNumber(), row.opened == 1 ? row.portNumber : 1);
  }
}

TEST(SerialPort, MissingDeviceLeavesThePortClosed) {
  testing::TempDir dir;
  const std::string variable = "PAGORIN_COM" + std::to_string(kPort);
  ASSERT_EQ(setenv(variable.c_str(), dir.File("no-such-device").c_str(), 1), 0);
  SerialPort port;
  EXPECT_EQ(port.Open(kPort, 9600, 8, 0, 0), 0);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Write("AT\r", 3), 0);
  unsetenv(variable.c_str());
}

// A pseudo-terminal keeps speed and stop bits but forces 8 data bits and no parity, so those
// two are checked on the settings themselves below.
TEST_F(SerialPortOnPty, AppliesSpeedStopBitsAndRawMode) {
  struct Row {
    int baud;
    int stopBits;
    speed_t code;
  };
  for (const Row& row : {Row{2400, 0, B2400}, Row{4800, 2, B4800}, Row{9600, 0, B9600},
                         Row{19200, 0, B19200}, Row{115200, 0, B115200}}) {
    ASSERT_EQ(port.Open(kPort, row.baud, 8, 0, row.stopBits), 1) << row.baud;
    termios settings{};
    // Terminal requests on the master act on the slave's settings.
    ASSERT_EQ(tcgetattr(pty.master(), &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), row.code) << row.baud;
    EXPECT_EQ((settings.c_cflag & CSTOPB) != 0, row.stopBits != 0) << row.baud;
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u);
    port.Close();
  }
}

TEST(SerialPort, LineSettingsFromTheArguments) {
  struct Row {
    int byteSize;
    int parity;
    int stopBits;
    bool accepted;
    tcflag_t size;
    tcflag_t parityBits;
  };
  const Row rows[] = {
      {8, 0, 0, true, CS8, 0},
      {7, 0, 0, true, CS7, 0},
      {7, 1, 0, true, CS7, PARENB | PARODD},
      {7, 2, 0, true, CS7, PARENB},
      {8, 3, 0, true, CS8, PARENB | PARODD | CMSPAR},
      {8, 4, 0, true, CS8, PARENB | CMSPAR},
      {5, 0, 1, true, CS5, 0},
      {9, 0, 0, false, 0, 0},
      {4, 0, 0, false, 0, 0},
      {8, 5, 0, false, 0, 0},
      {8, -1, 0, false, 0, 0},
      {8, 0, 3, false, 0, 0},
  };
  for (const Row& row : rows) {
    termios settings{};
    const bool accepted =
        detail::MakeLineSettings(settings, 9600, row.byteSize, row.parity, row.stopBits);
    EXPECT_EQ(accepted, row.accepted) << row.byteSize << ' ' << row.parity << ' ' << row.stopBits;
    if (!accepted) continue;
    EXPECT_EQ(settings.c_cflag & CSIZE, row.size);
    EXPECT_EQ(settings.c_cflag & (PARENB | PARODD | CMSPAR), row.parityBits);
    EXPECT_EQ((settings.c_iflag & INPCK) != 0, row.parity != 0);
    EXPECT_EQ(settings.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
  }
}

TEST_F(SerialPortOnPty, RunsAt14400Baud) {
  ASSERT_EQ(port.Open(kPort, 14400, 8, 0, 0), 1);
  EXPECT_EQ(detail::ReadArbitrarySpeed(pty.master()), 14400u);
}

TEST_F(SerialPortOnPty, RefusedLineSettingsReleaseTheDevice) {
  EXPECT_EQ(port.Open(kPort, 9600, 9, 0, 0), 0);
  EXPECT_EQ(port.Open(kPort, 9600, 8, 5, 0), 0);
  EXPECT_EQ(port.Open(kPort, 9600, 8, 0, 3), 0);
  EXPECT_FALSE(port.IsOpen());
  SerialPort other;
  EXPECT_EQ(other.Open(kPort, 9600, 8, 0, 0), 1);
}

// A full buffer leaves the rest in the system's queue: a long answer (a storage listing) loses
// no byte however slowly it is taken.
TEST_F(SerialPortOnPty, AFullBufferWaitsAndLosesNothingOf5000) {
  ASSERT_EQ(port.Open(kPort, 115200, 8, 0, 0), 1);
  const std::string sent = Pattern(5000);
  ASSERT_TRUE(pty.Write(sent));
  EXPECT_TRUE(WaitUntil([&] { return port.ReceivedLength() == SerialPort::kMaxReceived; }));
  std::string taken;
  char chunk[SerialPort::kBufferSize];
  EXPECT_TRUE(WaitUntil([&] {
    const int count = port.TakeReceived(chunk, 700);
    taken.append(chunk, static_cast<std::size_t>(std::max(count, 0)));
    return taken.size() >= sent.size();
  }));
  EXPECT_EQ(taken, sent);
}

TEST(SerialPort, AppendFillsUpTo2047AndDropsTheRest) {
  SerialPort port;
  const std::string first = Pattern(2040);
  port.AppendReceived(first.data(), 2040);
  ASSERT_EQ(port.TakeNewDataFlag(), 1);
  const std::string chunk(20, '#');
  port.AppendReceived(chunk.data(), 20);
  EXPECT_EQ(port.ReceivedLength(), 2047);
  EXPECT_EQ(Received(port), first + std::string(7, '#'));
  // A full buffer takes nothing more but still reports the arrival.
  port.AppendReceived(chunk.data(), 1);
  EXPECT_EQ(port.TakeNewDataFlag(), 1);
  EXPECT_EQ(port.ReceivedLength(), 2047);
}

TEST(SerialPort, PeekCopiesWithoutConsuming) {
  SerialPort port;
  const std::string held = Pattern(1500);
  port.AppendReceived(held.data(), 1500);
  EXPECT_EQ(Received(port, 1000), held.substr(0, 1000));
  EXPECT_EQ(port.ReceivedLength(), 1500);
  EXPECT_EQ(Received(port), held);
  EXPECT_EQ(Received(port, 0), "");
}

TEST(SerialPort, NewDataFlagIsTakenOnceAndClearedByPeek) {
  SerialPort port;
  EXPECT_EQ(port.TakeNewDataFlag(), 0);
  port.AppendReceived("OK", 2);
  EXPECT_EQ(port.TakeNewDataFlag(), 1);
  EXPECT_EQ(port.TakeNewDataFlag(), 0);
  port.AppendReceived("OK", 2);
  char copy[4];
  EXPECT_EQ(port.PeekReceived(copy, 4), 4);
  EXPECT_EQ(port.TakeNewDataFlag(), 0);
  port.AppendReceived("OK", 2);
  port.ClearReceived();
  EXPECT_EQ(port.ReceivedLength(), 0);
  EXPECT_EQ(port.TakeNewDataFlag(), 1);
  port.AppendReceived("OK", 0);
  EXPECT_EQ(port.TakeNewDataFlag(), 0);
}

TEST_F(SerialPortOnPty, WriteReachesThePeer) {
  ASSERT_EQ(port.Open(kPort, 9600, 8, 0, 0), 1);
  const std::string line = Pattern(314) + "\x1A\r";
  EXPECT_EQ(port.Write(line.data(), line.size()), 1);
  EXPECT_EQ(pty.ReadUntil('\r'), line);
}

TEST_F(SerialPortOnPty, CloseReturnsPromptlyWhileTheReaderWaits) {
  ASSERT_EQ(port.Open(kPort, 9600, 8, 0, 0), 1);
  EXPECT_EQ(pty.ReadFor(20ms), "");
  const auto started = std::chrono::steady_clock::now();
  port.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortOnPty, ReaderIdlesAfterThePeerHangsUp) {
  ASSERT_EQ(port.Open(kPort, 9600, 8, 0, 0), 1);
  ASSERT_TRUE(pty.Write("OK"));
  ASSERT_TRUE(WaitUntil([&] { return port.ReceivedLength() == 2; }));
  pty.CloseMaster();
  // Measures, not waits out a time-out: a reader spinning on the hang-up would burn most of
  // this second.
  const double cpuBefore = ProcessCpuSeconds();
  std::this_thread::sleep_for(1s);
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.1);
  EXPECT_EQ(Received(port), "OK");
  const auto started = std::chrono::steady_clock::now();
  port.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

// Each row makes one system call of the port fail (or come back interrupted, short or not
// ready) at one step, and names the branch of the port that this reaches. A failure must close
// nothing it should not, and say why: LastError is the text of the call's error.
TEST(SerialPort, SystemCallFailuresAtEachStep) {
  enum class Step { kOpen, kWrite, kReceive };
  struct Row {
    const char* branch;
    Step step;
    void (*script)(FaultySystemCalls&);
    int error;  // 0: the step succeeds
  };
  const Row rows[] = {
      {"InterruptedOpenIsRetried", Step::kOpen, [](FaultySystemCalls& f) { f.open.interrupts = 2; },
       0},
      {"RefusedOpenSaysWhy", Step::kOpen, [](FaultySystemCalls& f) { f.open.error = EACCES; },
       EACCES},
      {"InterruptedLineSettingIsRetried", Step::kOpen,
       [](FaultySystemCalls& f) { f.tcsetattr.interrupts = 1; }, 0},
      {"RefusedLineSettingReleasesTheDevice", Step::kOpen,
       [](FaultySystemCalls& f) { f.tcsetattr.error = EIO; }, EIO},
      {"ShortWritesGoOn", Step::kWrite, [](FaultySystemCalls& f) { f.write.cap = 5; }, 0},
      {"BusyDeviceIsWaitedFor", Step::kWrite, [](FaultySystemCalls& f) { f.write.notReady = 3; },
       0},
      {"InterruptedWriteIsRetried", Step::kWrite,
       [](FaultySystemCalls& f) { f.write.interrupts = 2; }, 0},
      {"FailedWriteSaysWhy", Step::kWrite, [](FaultySystemCalls& f) { f.write.error = EIO; }, EIO},
      {"WriteThatMovesNothingFails", Step::kWrite,
       [](FaultySystemCalls& f) { f.write.nothing = true; }, EIO},
      {"FailedDrainSaysWhy", Step::kWrite, [](FaultySystemCalls& f) { f.tcdrain.error = ENXIO; },
       ENXIO},
      {"InterruptedReadIsRetried", Step::kReceive,
       [](FaultySystemCalls& f) { f.read.interrupts = 1; }, 0},
      {"FailedReadMeansTheDeviceIsGone", Step::kReceive,
       [](FaultySystemCalls& f) { f.read.error = EIO; }, EIO},
      {"FailedWaitMeansTheDeviceIsGone", Step::kReceive,
       [](FaultySystemCalls& f) { f.poll.error = ENOMEM; }, ENOMEM},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.branch);
    PtyPair pty;
    pty.MapToPort(kPort);
    std::optional<FaultySystemCalls> faults(std::in_place);
    SerialPort port;
    if (row.step == Step::kOpen) {
      row.script(*faults);
      EXPECT_EQ(port.Open(kPort, 9600, 8, 0, 0), row.error == 0 ? 1 : 0);
      EXPECT_EQ(port.LastError(), row.error == 0 ? "" : platform::ErrorText(row.error));
      port.Close();
      faults.reset();
      SerialPort other;  // whatever happened, the device is free again
      EXPECT_EQ(other.Open(kPort, 9600, 8, 0, 0), 1);
      continue;
    }
    if (row.step == Step::kReceive) row.script(*faults);  // before the reader starts
    ASSERT_EQ(port.Open(kPort, 9600, 8, 0, 0), 1);
    // The reader must be waiting when the port closes, as it is in service.
    ASSERT_TRUE(WaitUntil([&] { return faults->CallsOf(faults->poll) > 0; }));
    if (row.step == Step::kWrite) {
      row.script(*faults);
      const std::string line = Pattern(40) + "\r";
      EXPECT_EQ(port.Write(line.data(), line.size()), row.error == 0 ? 1 : 0);
      if (row.error == 0) {
        EXPECT_EQ(pty.ReadUntil('\r'), line);
      }
    } else {
      ASSERT_TRUE(pty.Write("OK\r"));
      if (row.error == 0) {
        EXPECT_TRUE(WaitUntil([&] { return port.ReceivedLength() == 3; }));
        EXPECT_FALSE(port.HungUp());
      } else {
        EXPECT_TRUE(WaitUntil([&] { return port.HungUp(); }));
      }
    }
    EXPECT_EQ(port.LastError(), row.error == 0 ? "" : platform::ErrorText(row.error));
    port.Close();
  }
}

}  // namespace
}  // namespace pagorin

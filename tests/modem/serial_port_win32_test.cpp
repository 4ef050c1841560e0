// The Windows serial backend under Wine, on COM ports that the test harness (scripts/wine-run)
// maps to pseudo-terminals: COM5 and COM6 are the two ends of a null-modem cable, every other
// port names nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "modem/serial_port.h"

namespace pagorin {
namespace {

constexpr int kLocal = 5;
constexpr int kRemote = 6;
constexpr int kMissing = 7;  // mapped by the harness to a path that does not exist

bool Harnessed() {
  return std::getenv("PAGORIN_WINE_NULL_MODEM") != nullptr;
}

// Waits until `condition` holds, at most `limitMs`; true when it held.
template <typename Condition>
bool WaitFor(Condition condition, DWORD limitMs = 5000) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(2);
  }
  return true;
}

std::string Received(SerialPort& port) {
  char buffer[SerialPort::kBufferSize];
  return std::string(buffer, static_cast<std::size_t>(port.PeekReceived(buffer, sizeof buffer)));
}

bool Receives(SerialPort& port, const std::string& text) {
  return WaitFor([&] { return Received(port) == text; });
}

class SerialPortWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Harnessed()) GTEST_SKIP() << "needs the null-modem cable of scripts/wine-run";
  }
};

// Last access and change times of the machine's serial devices, read from the folder listing
// (the devices themselves are never opened).
std::vector<std::wstring> DeviceTimes() {
  std::vector<std::wstring> times;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(L"Z:\\dev\\ttyS*", &found);
  if (search == INVALID_HANDLE_VALUE) return times;
  do {
    times.push_back(std::wstring(found.cFileName) + L" " +
                    std::to_wstring(found.ftLastAccessTime.dwLowDateTime) + L" " +
                    std::to_wstring(found.ftLastWriteTime.dwLowDateTime));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return times;
}

TEST_F(SerialPortWin32, PortsNotConnectedByTheHarnessFailWithoutReachingARealDevice) {
  const std::vector<std::wstring> before = DeviceTimes();
  SerialPort port;
  EXPECT_EQ(port.Open(-1, 9600, 8, 0, 0), 0);
  EXPECT_EQ(port.Open(65, 9600, 8, 0, 0), 0);
  for (int n = SerialPort::kMinPortNumber; n <= SerialPort::kMaxPortNumber; ++n) {
    if (n == kLocal || n == kRemote) continue;
    EXPECT_EQ(port.Open(n, 9600, 8, 0, 0), 0) << "COM" << n;
    EXPECT_FALSE(port.IsOpen());
  }
  // The system's own message says why (not the C library's text for the same number).
  const std::string why = port.LastError();
  EXPECT_FALSE(why.empty());
  EXPECT_NE(why, "No such file or directory");
  EXPECT_EQ(DeviceTimes(), before);
}

struct LineRow {
  int baudRate;
  int byteSize;
};

TEST_F(SerialPortWin32, BytesCrossTheCableBothWaysAtEachLineSetting) {
  // Seven data bits are not among them: Wine refuses them on a pseudo-terminal.
  const LineRow rows[] = {{9600, 8}, {14400, 8}, {115200, 8}};
  for (const LineRow& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.baudRate << " baud, " << row.byteSize << " bits");
    SerialPort local;
    SerialPort remote;
    ASSERT_EQ(local.Open(kLocal, row.baudRate, row.byteSize, 0, 0), 1);
    ASSERT_EQ(remote.Open(kRemote, row.baudRate, row.byteSize, 0, 0), 1);
    EXPECT_EQ(local.Write("AT+CMGF=0\r", 10), 1);
    EXPECT_TRUE(Receives(remote, "AT+CMGF=0\r"));
    EXPECT_EQ(remote.TakeNewDataFlag(), 0);  // PeekReceived took it
    EXPECT_EQ(remote.Write("\r\nOK\r\n", 6), 1);
    EXPECT_TRUE(Receives(local, "\r\nOK\r\n"));
    // A long line arrives whole, in chunks, in order.
    std::string pdu(300, '0');
    for (std::size_t i = 0; i < pdu.size(); ++i)
      pdu[i] = "0123456789ABCDEF"[i % 16];
    remote.ClearReceived();
    EXPECT_EQ(local.Write(pdu.data(), pdu.size()), 1);
    EXPECT_TRUE(Receives(remote, pdu));
  }
}

TEST_F(SerialPortWin32, OpenIsExclusiveAndASecondOpenChangesNothing) {
  SerialPort port;
  ASSERT_EQ(port.Open(kLocal, 9600, 8, 0, 0), 1);
  EXPECT_EQ(port.Open(kLocal, 9600, 8, 0, 0), 0);
  EXPECT_TRUE(port.IsOpen());
  SerialPort other;
  SerialPort missing;
  EXPECT_EQ(missing.Open(kMissing, 9600, 8, 0, 0), 0);
  EXPECT_EQ(other.Open(kLocal, 9600, 8, 0, 0), 0);  // held by `port`
  // Held is told apart from missing, as Windows itself tells a port in use.
  EXPECT_FALSE(other.LastError().empty());
  EXPECT_NE(other.LastError(), missing.LastError());

  SerialPort remote;
  ASSERT_EQ(remote.Open(kRemote, 9600, 8, 0, 0), 1);
  EXPECT_EQ(remote.Write("x", 1), 1);
  EXPECT_TRUE(Receives(port, "x"));
  port.Close();
  port.Close();
  EXPECT_EQ(port.Write("y", 1), 0);
  EXPECT_EQ(other.Open(kLocal, 9600, 8, 0, 0), 1);  // free again
}

// The listener hears of every arrival after the bytes are in the buffer, so that an owner
// waiting for it finds them there.
TEST_F(SerialPortWin32, TheListenerIsToldAfterBytesArrive) {
  SerialPort local;
  SerialPort remote;
  std::atomic<int> calls{0};
  std::atomic<int> seenLength{0};
  local.SetDataListener([&] {
    seenLength.store(local.ReceivedLength());
    calls.fetch_add(1);
  });
  ASSERT_EQ(local.Open(kLocal, 115200, 8, 0, 0), 1);
  ASSERT_EQ(remote.Open(kRemote, 115200, 8, 0, 0), 1);
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(remote.Write("\r\nOK\r\n", 6), 1);
  ASSERT_TRUE(WaitFor([&] { return seenLength.load() == 6; }));
  EXPECT_GE(calls.load(), 1);
  EXPECT_FALSE(local.HungUp());
  local.Close();
  const int afterClose = calls.load();
  EXPECT_EQ(remote.Write("x", 1), 1);
  Sleep(100);
  EXPECT_EQ(calls.load(), afterClose);  // a closed port tells nobody
}

TEST_F(SerialPortWin32, CloseEndsAReaderThatIsWaitingForInput) {
  SerialPort port;
  ASSERT_EQ(port.Open(kLocal, 9600, 8, 0, 0), 1);
  Sleep(50);  // let the reader's read become pending
  const DWORD start = GetTickCount();
  port.Close();
  EXPECT_LT(GetTickCount() - start, 2000u);
  EXPECT_FALSE(port.IsOpen());
}

// CPU time this process spent, in milliseconds.
double ProcessCpuMs() {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           10000.0;
  };
  return ms(kernel) + ms(user);
}

TEST_F(SerialPortWin32, ACableThatIsPulledOutEndsTheReaderAndThePortOpensWhenItIsBack) {
  const char* control = std::getenv("PAGORIN_WINE_NULL_MODEM_CONTROL");
  if (control == nullptr) GTEST_SKIP() << "no cable control";
  const std::string path = std::string("Z:") + control;
  const std::string ack = path + ".ack";
  auto exists = [](const std::string& file) {
    return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES;
  };

  SerialPort port;
  std::atomic<int> calls{0};
  port.SetDataListener([&] { calls.fetch_add(1); });
  ASSERT_EQ(port.Open(kLocal, 9600, 8, 0, 0), 1);
  EXPECT_FALSE(port.HungUp());
  DeleteFileA(ack.c_str());
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  ASSERT_TRUE(WaitFor([&] { return exists(ack); }));

  // The device is gone: the reader marks the hang-up with the system's reason and tells the
  // listener, writing fails, and the reader neither spins nor crashes.
  ASSERT_TRUE(WaitFor([&] { return port.HungUp(); }));
  EXPECT_GE(calls.load(), 1);
  EXPECT_FALSE(port.LastError().empty());
  EXPECT_TRUE(port.IsOpen());
  EXPECT_TRUE(WaitFor([&] { return port.Write("AT\r", 3) == 0; }));
  const double cpuBefore = ProcessCpuMs();
  Sleep(500);
  EXPECT_LT(ProcessCpuMs() - cpuBefore, 250.0);
  // While it is away the port does not open again, and says why.
  port.Close();
  EXPECT_EQ(port.Open(kLocal, 9600, 8, 0, 0), 0);
  EXPECT_FALSE(port.LastError().empty());

  DeleteFileA(ack.c_str());
  ASSERT_TRUE(DeleteFileA(path.c_str()));
  ASSERT_TRUE(WaitFor([&] { return exists(ack); }));
  ASSERT_EQ(port.Open(kLocal, 9600, 8, 0, 0), 1);
  EXPECT_FALSE(port.HungUp());
  SerialPort remote;
  ASSERT_EQ(remote.Open(kRemote, 9600, 8, 0, 0), 1);
  EXPECT_EQ(port.Write("AT\r", 3), 1);
  EXPECT_TRUE(Receives(remote, "AT\r"));
}

}  // namespace
}  // namespace pagorin

// The whole road on Windows: a host loads pagorin.dll through its two exports, answers its alarm
// requests, and the module sends the alarm through COMn to the GSM modem simulator, a Linux
// program on a pseudo-terminal that the test harness (scripts/wine-run) puts behind COMn. The
// message must reach the simulated phone, also after the modem was pulled out and plugged in.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/super_wizard.h"
#include "loaded_module.h"
#include "platform/archive.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace pagorin::testing {
namespace {

// 清水池液位 in code page 936 (the configuration) and in UTF-8 (the modem's log).
constexpr char kDescCp936[] = "\xC7\xE5\xCB\xAE\xB3\xD8\xD2\xBA\xCE\xBB";
constexpr char kDescUtf8[] = "\xE6\xB8\x85\xE6\xB0\xB4\xE6\xB1\xA0\xE6\xB6\xB2\xE4\xBD\x8D";
constexpr char kNumber[] = "13800138000";
// The simulator's unplug span on its clock (PAGORIN_WINE_MODEM_ARGS of the test): 5 s to 15 s.
constexpr std::uint64_t kUnpluggedMs = 8000;
constexpr std::uint64_t kPluggedAgainMs = 20000;

std::string Configuration(int portIndex) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
         "<XML Version=\"1\" Com=\"" +
         std::to_string(portIndex) +
         "\" Baund=\"2\" DataBit=\"1\" TelCount=\"1\" VarCount=\"1\">\r\n"
         "<Tel0 TelNum=\"" +
         kNumber +
         "\" Desc=\"duty\"></Tel0>\r\n"
         "<Var0 VarName=\"Tank1.PV\" Desc=\"" +
         kDescCp936 +
         "\" Ll=\"1\" Lo=\"1\" Hh=\"1\" Hi=\"1\" Low=\"1\" Hig=\"1\" Urg=\"1\" Ack=\"0\" "
         "NoAck=\"1\" Resume=\"1\" Value=\"1\" ValueLimit=\"1\" User=\"1\" Format=\"0\" "
         "Logic=\"0\" BScript=\"0\" Script=\"\" ScriptType=\"0\" VarCount=\"1\" "
         "TelPlace0=\"0\"></Var0>\r\n"
         "</XML>\r\n";
}

bool WriteWhole(const std::string& path, const void* bytes, DWORD size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool done = WriteFile(file, bytes, size, &written, nullptr) && written == size;
  CloseHandle(file);
  return done;
}

std::string ReadWhole(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(file, chunk, sizeof chunk, &n, nullptr) && n > 0)
    bytes.append(chunk, n);
  CloseHandle(file);
  return bytes;
}

// A Unix path of the harness as this program reaches it.
std::string FromHarness(const char* variable) {
  const char* path = std::getenv(variable);
  return path != nullptr ? std::string("Z:") + path : std::string();
}

AlarmEvent Alarm(std::int32_t id) {
  AlarmEvent event{};
  event.eventId = id;
  // The tag of the alarm is the variable name up to its dot.
  const std::string tag = "Tank1";
  tag.copy(event.tagName, sizeof event.tagName - 1);
  event.kind = kKindHiHi;
  event.level = kLevelUrgent;
  event.ackState = kUnacknowledged;
  event.value = 4.5f;
  event.limit = 4.0f;
  return event;
}

class AlarmRoadWin32 : public LoadedModule {
 protected:
  void SetUp() override {
    const char* port = std::getenv("PAGORIN_WINE_MODEM");
    clockFile = FromHarness("PAGORIN_WINE_MODEM_CLOCK");
    logFile = FromHarness("PAGORIN_WINE_MODEM_LOG");
    if (port == nullptr || clockFile.empty() || logFile.empty()) {
      GTEST_SKIP() << "needs the modem simulator of scripts/wine-run";
    }
    portNumber = std::atoi(port);
    LoadModule();
  }
  void TearDown() override {
    if (plugin != nullptr) destroy(plugin);
    LoadedModule::TearDown();
  }

  // Sets the modem simulator's clock.
  void SetModemClock(std::uint64_t ms) { ASSERT_TRUE(WriteWhole(clockFile, &ms, sizeof ms)); }

  // Runs the host's loop (requests answered with `standing`, a tick every 20 ms) until `done`
  // holds or `limitMs` of real time passed; true when it held.
  template <typename Done>
  bool RunHost(const std::vector<AlarmEvent>& standing, Done done, DWORD limitMs = 30000) {
    const DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > limitMs) return false;
      std::int16_t code = 0, subCode = 0, flags = 0;
      std::int32_t size = 0;
      AlarmRequest block{};
      if (plugin->GetRequest(&code, &subCode, &flags, 0, &size, &block) == 1) {
        plugin->OnRequestResult(0, static_cast<std::int16_t>(standing.size()), 0, 0, 0,
                                standing.data());
        ++answers;
      }
      plugin->OnTick();
      Sleep(20);
    }
    return true;
  }

  // True while the simulator's terminal is behind the port's path. (The path is looked up in its
  // folder's listing: a name like "com3" reaches the COM device wherever it stands.)
  static bool ModemPlugged() {
    const std::string port = FromHarness("PAGORIN_WINE_MODEM_PORT");
    const std::size_t slash = port.find_last_of('/');
    const std::string name = port.substr(slash + 1);
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((port.substr(0, slash) + "/*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool present = false;
    do {
      present = present || name == found.cFileName;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return present;
  }

  // Runs the host's loop for `ms` of real time.
  void RunHostFor(const std::vector<AlarmEvent>& standing, DWORD ms) {
    (void)RunHost(
        standing, [] { return false; }, ms);
  }

  // Lines of the modem's log that name the phone and the alarm's description.
  int Delivered() const {
    const std::string log = ReadWhole(logFile);
    int count = 0;
    std::size_t begin = 0;
    for (std::size_t end; (end = log.find('\n', begin)) != std::string::npos; begin = end + 1) {
      const std::string line = log.substr(begin, end - begin);
      // The module writes the number in its international form.
      if (line.find(std::string("\"number\":\"+86") + kNumber + "\"") != std::string::npos &&
          line.find(kDescUtf8) != std::string::npos) {
        ++count;
      }
    }
    return count;
  }

  int portNumber = 0;
  std::string clockFile;
  std::string logFile;
  SuperWizard* plugin = nullptr;
  int answers = 0;
};

TEST_F(AlarmRoadWin32, AnAlarmReachesThePhoneAndAnotherOneAfterTheModemWasPulledOut) {
  TempDir project;
  const std::string config = Configuration(portNumber - 1);
  ASSERT_TRUE(WriteWhole(project.File("Kestrova_Configure.ini"), config.data(),
                         static_cast<DWORD>(config.size())));
  SetModemClock(0);

  RecordingHost host;
  host.runMode = 1;
  host.projectPath = project.path();
  plugin = create(&host);
  ASSERT_NE(plugin, nullptr);
  MemoryArchive stored;
  archive::WriteInt32(stored, 1);
  archive::WriteString(stored, "<XML/>");
  MemoryArchive loading(stored.Bytes());
  plugin->Serialize(loading);
  EXPECT_EQ(plugin->Start(0), 1);

  // The first answer only sets what stands; an alarm that comes after it is sent.
  ASSERT_TRUE(RunHost({}, [&] { return answers >= 1; }));
  ASSERT_TRUE(RunHost({Alarm(1)}, [&] { return Delivered() >= 1; })) << ReadWhole(logFile);
  EXPECT_EQ(Delivered(), 1);

  // The modem is pulled out: its terminal goes away. A second alarm waits for it.
  SetModemClock(kUnpluggedMs);
  ASSERT_TRUE(RunHost({Alarm(1), Alarm(2)}, [&] { return !ModemPlugged(); }));
  // The module finds the port gone and fails to open it again for a while.
  RunHostFor({Alarm(1), Alarm(2)}, 1500);
  EXPECT_EQ(Delivered(), 1);

  // Plugged in again: the module opens the port again and the waiting alarm goes out.
  SetModemClock(kPluggedAgainMs);
  ASSERT_TRUE(RunHost({Alarm(1), Alarm(2)}, [&] { return Delivered() >= 2; }))
      << ReadWhole(logFile);
  EXPECT_EQ(Delivered(), 2);
}

}  // namespace
}  // namespace pagorin::testing

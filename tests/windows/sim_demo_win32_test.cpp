// The waterworks demo on Windows: veltrane-sim.exe loads pagorin.dll through its two exports and
// runs the demo scenario; the module sends through COM1 to the GSM modem simulator, a Linux
// program on a pseudo-terminal that the test harness (scripts/wine-run) puts behind COM1. The
// modem simulator's log must hold the demo's twelve messages, and the simulator must have read
// them from it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "support/temp_dir.h"

namespace pagorin::testing {
namespace {

// The demo's messages: rule 0 texts two phones for the raised HiHi alarm and two for its return,
// the and-rule one for the pump pressure, rule 2 two for the pump fault, rule 3 one for the
// chlorine, the host script two, and the script of the gate two.
constexpr int kDemoMessages = 12;

// A Unix path of the build as this program reaches it.
std::string FromUnix(const std::string& path) {
  return "Z:" + path;
}

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

int CountLines(const std::string& text, const std::string& containing) {
  int count = 0;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    if (text.substr(begin, end - begin).find(containing) != std::string::npos) ++count;
  }
  return count;
}

// Runs `command` with its output in `outputFile`; the exit code, or -1 when it could not start
// or did not end within `limitMs`.
long RunProgram(const std::wstring& command, const std::string& outputFile, DWORD limitMs) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE output = CreateFileW(Wide(outputFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) return -1;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process{};
  std::wstring line = command;
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(output);
  if (!started) return -1;
  CloseHandle(process.hThread);
  long code = -1;
  if (WaitForSingleObject(process.hProcess, limitMs) == WAIT_OBJECT_0) {
    DWORD exit = 0;
    if (GetExitCodeProcess(process.hProcess, &exit)) code = static_cast<long>(exit);
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hProcess);
  return code;
}

TEST(SimDemoWin32, TheWaterworksDemoSendsItsTwelveMessagesThroughTheModemSimulator) {
  const char* log = std::getenv("PAGORIN_WINE_MODEM_LOG");
  const char* port = std::getenv("PAGORIN_WINE_MODEM");
  if (log == nullptr || port == nullptr)
    GTEST_SKIP() << "needs the modem simulator of scripts/wine-run";
  // The demo's configuration names COM1.
  ASSERT_STREQ(port, "1");
  const std::string modemLog = FromUnix(log);

  // The demo project as scripts/demo lays it out: the scenario, and the configuration in code
  // page 936 made from the UTF-8 one of the repository.
  TempDir project;
  const std::string demo = FromUnix(PAGORIN_DEMO_DIR);
  const std::string scenario = ReadFileBytes(demo + "/scenario.toml");
  const std::string configuration = ReadFileBytes(demo + "/Kestrova_Configure.utf8.ini");
  ASSERT_FALSE(scenario.empty());
  ASSERT_FALSE(configuration.empty());
  WriteFileBytes(project.File("scenario.toml"), scenario);
  WriteFileBytes(project.File("Kestrova_Configure.ini"), platform::Utf8ToCp936(configuration));

  const std::string output = project.File("veltrane-sim.jsonl");
  const std::wstring command = L"\"" + Wide(FromUnix(PAGORIN_SIM_EXE)) + L"\" --json --module \"" +
                               Wide(FromUnix(PAGORIN_MODULE_DLL)) + L"\" run \"" +
                               Wide(project.File("scenario.toml")) + L"\" --modem-log \"" +
                               Wide(modemLog) + L"\"";
  const long code = RunProgram(command, output, 240000);
  const std::string events = ReadFileBytes(output);
  EXPECT_EQ(code, 0) << events;

  // What the modem simulator decoded: one line per message, each for a phone of the demo.
  const std::string accepted = ReadFileBytes(modemLog);
  EXPECT_EQ(CountLines(accepted, "\"number\":"), kDemoMessages) << accepted;
  EXPECT_EQ(CountLines(accepted, "\"number\":\"+86"), kDemoMessages) << accepted;
  // The simulator read them from the log, and the module recorded them as sent.
  EXPECT_EQ(CountLines(events, "\"event\":\"delivered\""), kDemoMessages) << events;
  EXPECT_EQ(CountLines(events, "\"historySent\":" + std::to_string(kDemoMessages)), 1) << events;
  // Each phone got what the scenario's expectations say, while sending was off and at the end.
  EXPECT_EQ(CountLines(events, "\"expectationsMet\":4"), 1) << events;
  EXPECT_EQ(CountLines(events, "\"event\":\"expect_failed\""), 0) << events;
  EXPECT_EQ(CountLines(events, "\"event\":\"error\""), 0) << events;
}

}  // namespace
}  // namespace pagorin::testing

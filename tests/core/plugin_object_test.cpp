#include "core/plugin_object.h"

#include <thread>

#include "core/script_functions.h"
#include "core_fixture.h"

namespace pagorin::testing {
namespace {

using PluginObjectTest = PluginTest;

TEST_F(PluginObjectTest, StartsWithDefaultsAndOnlyAsksForTheProjectDirectory) {
  EXPECT_EQ(plugin->Version, 1);
  EXPECT_EQ(plugin->Com, 0);
  EXPECT_EQ(plugin->Baund, 2);
  EXPECT_EQ(plugin->DataBit, 1);
  EXPECT_EQ(plugin->sendEnabled, 1);
  EXPECT_TRUE(plugin->phoneBook.empty());
  EXPECT_TRUE(plugin->alarmRules.empty());
  EXPECT_TRUE(plugin->knownAlarms.empty());
  EXPECT_EQ(plugin->firstResult, 1);
  EXPECT_EQ(plugin->requestPending, 0);
  EXPECT_EQ(plugin->modemOpen, 0);
  EXPECT_EQ(plugin->configPath, ConfigPathIn(host.projectPath));
  EXPECT_EQ(host.OperationSequence(), "GetProjectPath");
  ASSERT_NE(plugin->hostWindow, nullptr);
  EXPECT_FALSE(plugin->hostWindow->IsCreated());
}

TEST_F(PluginObjectTest, NameIsTheSameBeforeAndAfterStart) {
  EXPECT_EQ(plugin->GetName(), "Pagorin");
  StartRunning();
  EXPECT_EQ(plugin->GetName(), "Pagorin");
}

struct LineCase {
  int Baund;
  int DataBit;
  unsigned speed;
  int dataBits;
};

class PluginLineSettingsTest : public PluginTest, public ::testing::WithParamInterface<LineCase> {};

// A pseudo-terminal always reports eight data bits, so the character size is checked on the
// value handed to the port; the speed is checked on the line itself.
TEST_P(PluginLineSettingsTest, StartOpensThePortWithTheConfiguredLine) {
  plugin->Baund = GetParam().Baund;
  plugin->DataBit = GetParam().DataBit;
  StartRunning();
  EXPECT_EQ(peer->LineSpeed(), GetParam().speed);
  EXPECT_EQ(ByteSizeForDataBit(plugin->DataBit), GetParam().dataBits);
}

INSTANTIATE_TEST_SUITE_P(BaudAndDataBits, PluginLineSettingsTest,
                         ::testing::Values(LineCase{0, 1, 2400, 8}, LineCase{1, 1, 4800, 8},
                                           LineCase{2, 1, 9600, 8}, LineCase{3, 1, 14400, 8},
                                           LineCase{4, 1, 19200, 8}, LineCase{5, 1, 115200, 8},
                                           LineCase{6, 1, 9600, 8}, LineCase{7, 1, 9600, 8},
                                           LineCase{-1, 1, 9600, 8}, LineCase{2, 0, 9600, 7},
                                           LineCase{2, 2, 9600, 8}));

TEST_F(PluginObjectTest, ComIndexSelectsThePortNumber) {
  plugin->Com = 2;  // COM3
  CoreModemPeer com1(1);
  StartRunning();
  EXPECT_EQ(plugin->modem.portNumber(), 3);
  EXPECT_EQ(peer->LineSpeed(), 9600u);
}

TEST_F(PluginObjectTest, StartOutsideRunModeOpensNothingAndMakesNoWindow) {
  peer = std::make_unique<CoreModemPeer>(1);
  plugin->alarmRules.push_back(MakeRule("Tank1.PV", {0}));
  host.runMode = 0;
  EXPECT_EQ(plugin->Start(0), 1);
  EXPECT_EQ(plugin->modemOpen, 0);
  EXPECT_EQ(host.OperationSequence(), "GetProjectPath IsRunMode IsRunMode");
  EXPECT_FALSE(plugin->hostWindow->IsCreated());
  std::int16_t code = 0, sub = 0, flags = 0;
  std::int32_t size = 0;
  AlarmRequest block{};
  ticks.Advance(5000);
  EXPECT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 0);
}

TEST_F(PluginObjectTest, StartAnnouncesRuleVariablesAndHandsOverTheWindow) {
  auto byVariable = MakeRule("Tank1.PV", {0});
  byVariable->BScript = 1;
  byVariable->Script = "Tank1.Text";
  plugin->alarmRules.push_back(std::move(byVariable));
  plugin->alarmRules.push_back(MakeRule("Pump.ST", {0}));
  int mainWindow = 0;
  host.mainWindow = &mainWindow;
  StartRunning();
  std::vector<HostCall> expected{{"IsRunMode", {}},
                                 {"WatchVariable", {"Tank1.PV"}},
                                 {"WatchVariable", {"Tank1.Text"}},
                                 {"WatchVariable", {"Pump.ST"}},
                                 {"IsRunMode", {}},
                                 {"GetMainWindow", {}},
                                 {"AttachWindow", {"window"}}};
  EXPECT_EQ(std::vector<HostCall>(host.calls.begin() + 1, host.calls.end()), expected);
  EXPECT_EQ(host.attachedWindow, plugin->hostWindow.get());
  EXPECT_EQ(plugin->hostWindow->owner, plugin.get());
  EXPECT_EQ(plugin->lastRequestTick, kStartTick);
}

TEST_F(PluginObjectTest, SecondStartNeitherReopensThePortNorMakesAnotherWindow) {
  plugin->alarmRules.push_back(MakeRule("Tank1.PV", {0}));
  StartRunning();
  std::size_t callsAfterFirst = host.calls.size();
  ticks.Advance(500);
  EXPECT_EQ(plugin->Start(0), 1);
  EXPECT_EQ(plugin->modemOpen, 1);
  EXPECT_EQ(plugin->lastRequestTick, kStartTick);
  EXPECT_EQ(host.CountOf("AttachWindow"), 1u);
  EXPECT_EQ(host.CountOf("WatchVariable"), 1u);
  EXPECT_EQ(host.calls.size(), callsAfterFirst + 2);  // the two run-mode questions
}

TEST_F(PluginObjectTest, PortThatDoesNotOpenStillTakesAlarmsAndSaysWhy) {
  setenv("PAGORIN_COM1", "/nonexistent-pagorin-device", 1);
  host.runMode = 1;
  plugin->ModemScript = "SmsFault = 1;";
  EXPECT_EQ(plugin->Start(0), 1);
  EXPECT_EQ(host.CountOf("AttachWindow"), 1u);
  // The sender keeps trying the port; alarms are asked for and queued meanwhile.
  EXPECT_EQ(plugin->modemOpen, 1);
  ticks.Advance(1500);
  std::int16_t code = 0, sub = 0, flags = 0;
  std::int32_t size = 0;
  AlarmRequest block{};
  EXPECT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 1);
  HostParam params[2]{};
  params[0].textValue = "13800138000";
  params[1].textValue = "A";
  plugin->CallFunction(kSendMsgFunction, 0, params, 0);
  EXPECT_EQ(plugin->outbox.waitingCount(), 1u);
  plugin->OnTick();
  EXPECT_TRUE(platform::Cp936ToUtf8(plugin->ModemStatusLine())
                  .starts_with("串口未打开 No such file or directory"));
  // The failing path runs the configured script once it has failed for a while, and only once.
  // The port stays mapped to nothing meanwhile: the sender keeps trying it.
  EXPECT_EQ(host.CountOf("RunScript"), 0u);
  for (int second = 0; second <= 40; ++second) {
    ticks.Advance(1000);
    plugin->OnTick();
  }
  EXPECT_EQ(host.CountOf("RunScript"), 1u);
  plugin.reset();
  unsetenv("PAGORIN_COM1");
}

TEST_F(PluginObjectTest, TickWaitsWhileSendingIsSwitchedOff) {
  StartRunning();
  plugin->sendEnabled = 0;
  HostParam params[2]{};
  params[0].textValue = "13800138000";
  params[1].textValue = "A";
  plugin->CallFunction(kSendMsgFunction, 0, params, 0);
  ASSERT_EQ(Queued(), 1u);
  // The modem is initialised and looked after, but no message is started.
  EXPECT_EQ(peer->TickAndRead([this] { HostTick(); }, 20).find("AT+CMGS"), std::string::npos);
  EXPECT_EQ(Queued(), 1u);
  HostParam on{};
  on.intValue = 1;
  plugin->CallFunction(kShouldSendFunction, 0, &on, 0);
  EXPECT_EQ(Deliver(1), (std::vector<DeliveredMessage>{{"13800138000", "A"}}));
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(PluginObjectTest, SettingsWithoutAToolkitReportNotShown) {
  EXPECT_EQ(plugin->ShowSettings(), 0);
}

// A host that ticks on one thread while its scripts call SendMsg on another is served one call
// at a time: every message is taken, and nothing is torn.
TEST_F(PluginObjectTest, HostCallsFromTwoThreadsAreServedOneAtATime) {
  AddPhone("13800138000");
  StartRunning();
  plugin->sendEnabled = 0;
  constexpr int kCalls = 300;
  std::thread ticker([&] {
    for (int i = 0; i < kCalls; ++i) {
      plugin->OnTick();
      std::int16_t code = 0, sub = 0, flags = 0;
      std::int32_t size = 0;
      AlarmRequest block{};
      if (plugin->GetRequest(&code, &sub, &flags, 0, &size, &block) == 1)
        plugin->OnRequestResult(0, 0, 0, 0, 0, nullptr);
    }
  });
  for (int i = 0; i < kCalls; ++i) {
    const std::string text = "T" + std::to_string(i);
    HostParam params[2]{};
    params[0].textValue = "13800138000";
    params[1].textValue = text.c_str();
    plugin->CallFunction(kSendMsgFunction, 0, params, 0);
  }
  ticker.join();
  EXPECT_EQ(plugin->outbox.waitingCount(), static_cast<std::size_t>(kCalls));
}

}  // namespace
}  // namespace pagorin::testing

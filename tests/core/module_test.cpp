// The module as a host sees it: loaded with dlopen, reached only through its two exports.
#include <dlfcn.h>

#include <atomic>

#include "core_fixture.h"

// The module reads its clock from the host process when the process offers one.
namespace {
std::atomic<std::uint32_t> moduleClock{500000};
}
extern "C" __attribute__((visibility("default"))) std::uint32_t PagorinHostTickCount() noexcept {
  return moduleClock.load();
}

namespace pagorin::testing {
namespace {

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle = dlopen(PAGORIN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    create = reinterpret_cast<CreateSuperWizardFunction>(dlsym(handle, kCreateSuperWizardName));
    destroy = reinterpret_cast<DeleteSuperWizardFunction>(dlsym(handle, kDeleteSuperWizardName));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);
  }
  void TearDown() override {
    if (handle != nullptr) dlclose(handle);
  }

  void* handle = nullptr;
  CreateSuperWizardFunction create = nullptr;
  DeleteSuperWizardFunction destroy = nullptr;
};

TEST_F(ModuleTest, ExportsOnlyTheTwoEntryPoints) {
  EXPECT_EQ(dlsym(handle, "_ZN7pagorin10LoadStringEi"), nullptr);
  EXPECT_EQ(dlsym(handle, "_ZN7pagorin12GetUiFactoryEv"), nullptr);
  EXPECT_EQ(dlsym(handle, "_ZN7pagorin12PluginObjectD0Ev"), nullptr);
}

TEST_F(ModuleTest, CreatesNothingWithoutAHostAndDeletesNothingGracefully) {
  EXPECT_EQ(create(nullptr), nullptr);
  destroy(nullptr);
}

TEST_F(ModuleTest, AlarmFromTheHostReachesTheModem) {
  RecordingHost host;
  SuperWizard* plugin = create(&host);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(host.OperationSequence(), "GetProjectPath NotifyCreated");
  EXPECT_EQ(host.calls.back().arguments, std::vector<std::string>{"4"});
  EXPECT_EQ(plugin->GetName(), "Pagorin");

  // A configuration as the project archive would bring it is out of reach here; the script
  // functions and the alarm road share the same modem, so one message by each road is checked.
  host.runMode = 1;
  CoreModemPeer peer(1);
  EXPECT_EQ(plugin->Start(0), 1);
  EXPECT_EQ(host.CountOf("AttachWindow"), 1u);

  std::int16_t code = 0, sub = 0, flags = 0;
  std::int32_t size = 0;
  AlarmRequest block{};
  EXPECT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 0);
  moduleClock += 1000;
  ASSERT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 1);
  EXPECT_EQ(code, 1007);
  AlarmEvent tank = MakeEvent(1, "Tank1", 2, 3, 0, 12.5f, 10.0f);
  plugin->OnRequestResult(0, 1, 0, 0, 0, &tank);
  moduleClock += 1000;
  ASSERT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 1);
  AlarmEvent acknowledged = tank;
  acknowledged.ackState = 1;
  plugin->OnRequestResult(0, 1, 0, 0, 0, &acknowledged);

  // Nothing is queued: the object has no rules. A SendMsg call takes the same queue.
  EXPECT_EQ(peer.TickAndRead([plugin] { plugin->OnTick(); }), "");
  HostParam params[2]{};
  params[0].textValue = "13800138000";
  const std::string text = Cp("报警");
  params[1].textValue = text.c_str();
  EXPECT_EQ(plugin->CallFunction(1, 0, params, 0), 1);
  std::vector<DeliveredMessage> delivered = peer.Deliver([plugin] { plugin->OnTick(); }, 1);
  EXPECT_EQ(delivered, (std::vector<DeliveredMessage>{{"13800138000", text}}));
  const std::string& transcript = peer.Transcript();
  EXPECT_EQ(transcript.substr(0, 10), "AT+CMGF=0\r");
  EXPECT_EQ(transcript.substr(10, 12), "AT+CMGS=019\r");
  EXPECT_EQ(transcript.substr(22), "0011000D91683108108300F00008010462A58B66\x1A\r");
  destroy(plugin);
}

}  // namespace
}  // namespace pagorin::testing

// The module as a host sees it: loaded with dlopen, reached only through its two exports.
#include <dlfcn.h>

#include <atomic>

#include "core_fixture.h"
#include "platform/archive.h"
#include "support/temp_dir.h"

// The module reads its clock from the host process when the process offers one.
namespace {
std::atomic<std::uint32_t> moduleClock{500000};

// The modem's initialisation after the port opened, and the host's tick, which lets the module's
// clock move on a little each time.
const std::string kModemInit =
    "\x1B"
    "ATQ0V1\rATE0\rAT+CMEE=1\rAT+CMGF=0\rAT+CPMS=\"SM\",\"SM\",\"SM\"\rAT+CNMI=2,1,0,2,0\r";
void TickHost(pagorin::SuperWizard* plugin) {
  moduleClock += 50;
  plugin->OnTick();
}
}  // namespace
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

// The configuration a project archive brings along: one phone and one rule for Tank1.
const char kConfiguration[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<XML Version=\"1\" Com=\"0\" Baund=\"2\" DataBit=\"1\" TelCount=\"1\" VarCount=\"1\">\r\n"
    "<Tel0 TelNum=\"13800138000\" Desc=\"pump\"></Tel0>\r\n"
    "<Var0 VarName=\"Tank1.PV\" Desc=\"\" Ll=\"1\" Lo=\"1\" Hh=\"1\" Hi=\"1\" Low=\"1\" Hig=\"1\" "
    "Urg=\"1\" Ack=\"1\" NoAck=\"1\" Resume=\"1\" Value=\"1\" ValueLimit=\"0\" User=\"0\" "
    "Format=\"0\" Logic=\"0\" BScript=\"0\" Script=\"\" ScriptType=\"0\" VarCount=\"1\" "
    "TelPlace0=\"0\"></Var0>\r\n"
    "</XML>\r\n";

TEST_F(ModuleTest, AlarmFromTheHostReachesTheModem) {
  TempDir project;
  WriteFileBytes(project.File("Kestrova_Configure.ini"), kConfiguration);
  RecordingHost host;
  host.projectPath = project.path();
  SuperWizard* plugin = create(&host);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(host.OperationSequence(), "GetProjectPath NotifyCreated");
  EXPECT_EQ(host.calls.back().arguments, std::vector<std::string>{"4"});
  EXPECT_EQ(plugin->GetName(), "Pagorin");

  // The host loads the project: the archive's copy of the document is not what counts, the file
  // is.
  MemoryArchive stored;
  archive::WriteInt32(stored, 1);
  archive::WriteString(stored, "<XML/>");
  MemoryArchive loading(stored.Bytes());
  plugin->Serialize(loading);

  host.runMode = 1;
  CoreModemPeer peer(1);
  EXPECT_EQ(plugin->Start(0), 1);
  EXPECT_EQ(host.CallsOf("WatchVariable"),
            (std::vector<HostCall>{{"WatchVariable", {"Tank1.PV"}}}));
  EXPECT_EQ(host.CountOf("AttachWindow"), 1u);

  std::int16_t code = 0, sub = 0, flags = 0;
  std::int32_t size = 0;
  AlarmRequest block{};
  EXPECT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 0);
  moduleClock += 1000;
  ASSERT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 1);
  EXPECT_EQ(code, 1007);
  // The first answer sets the baseline; the second brings a new alarm.
  AlarmEvent standing = MakeEvent(7, "Tank1", 0, 1, 1, 1.0f, 2.0f);
  plugin->OnRequestResult(0, 1, 0, 0, 0, &standing);
  EXPECT_EQ(peer.TickAndRead([plugin] { TickHost(plugin); }).find("AT+CMGS"), std::string::npos);
  moduleClock += 1000;
  ASSERT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 1);
  AlarmEvent answer[2] = {standing, MakeEvent(8, "Tank1", 2, 3, 0, 12.5f, 10.0f)};
  plugin->OnRequestResult(0, 2, 0, 0, 0, answer);

  std::vector<DeliveredMessage> delivered = peer.Deliver([plugin] { TickHost(plugin); }, 1);
  const std::string text = Cp("Tank1报警:高报,紧急,未确认,数值12.5");
  ASSERT_EQ(delivered, (std::vector<DeliveredMessage>{{"13800138000", text}}));
  const std::string& transcript = peer.Transcript();
  // The first AT went unanswered (nothing answered the modem's line yet) and was repeated.
  EXPECT_EQ(transcript.substr(0, 8),
            "\x1B"
            "ATQ0V1\r");
  EXPECT_NE(transcript.find("ATE0\rAT+CMEE=1\rAT+CMGF=0\r"), std::string::npos);
  EXPECT_EQ(transcript.find("AT+CMGF=0"), transcript.rfind("AT+CMGF=0"));
  const std::size_t send = transcript.find("AT+CMGS=063\r");
  ASSERT_NE(send, std::string::npos);
  EXPECT_EQ(transcript.substr(send + 12, 32), "0031000D91683108108300F000080130");
  destroy(plugin);
}

TEST_F(ModuleTest, ScriptCallReachesTheModem) {
  RecordingHost host;
  SuperWizard* plugin = create(&host);
  ASSERT_NE(plugin, nullptr);
  host.runMode = 1;
  CoreModemPeer peer(1);
  plugin->Start(0);
  HostParam params[2]{};
  params[0].textValue = "13800138000";
  const std::string text = Cp("报警");
  params[1].textValue = text.c_str();
  EXPECT_EQ(plugin->CallFunction(1, 0, params, 0), 1);
  std::vector<DeliveredMessage> delivered = peer.Deliver([plugin] { TickHost(plugin); }, 1);
  EXPECT_EQ(delivered, (std::vector<DeliveredMessage>{{"13800138000", text}}));
  // The mode command comes once, with the initialisation, not before each message.
  EXPECT_EQ(peer.Transcript().substr(0, kModemInit.size() + 54),
            kModemInit + "AT+CMGS=019\r0031000D91683108108300F00008010462A58B66\x1A\r");
  destroy(plugin);
}

}  // namespace
}  // namespace pagorin::testing

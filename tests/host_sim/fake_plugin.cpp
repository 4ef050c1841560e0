// A stand-in plug-in module for the host simulator's own tests: it exports the two entry points,
// asks for alarms on the module's cadence and writes down, one line each, what the host handed
// it, into the file named by VELTRANE_FAKE_PLUGIN_LOG. It sends "AT" on its port for every
// SendMsg call so that the serial road can be watched.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/super_wizard.h"
#include "platform/archive.h"
#include "platform/tick.h"
#include "platform/unique_fd.h"

namespace {

using namespace pagorin;

class FakePlugin final : public SuperWizard {
 public:
  explicit FakePlugin(HostApplication* host) : host_(host) {
    std::string path;
    host_->GetProjectPath(path);
    Note("project " + path);
  }
  ~FakePlugin() override = default;

  void Serialize(Archive& archive) noexcept override {
    if (archive.IsStoring()) {
      archive::WriteInt32(archive, 7);
      archive::WriteString(archive, config_);
      Note("stored " + config_);
    } else {
      std::int32_t version = 0;
      archive::ReadInt32(archive, version);
      archive::ReadString(archive, config_);
      Note("loaded " + std::to_string(version) + " " + config_);
    }
  }
  int Start(int) noexcept override {
    if (host_->IsRunMode()) {
      const char* device = std::getenv("PAGORIN_COM1");
      if (device != nullptr) port_.Reset(open(device, O_RDWR | O_NOCTTY));
      lastRequest_ = platform::TickCount();
      host_->WatchVariable("Tank1.PV");
    }
    Note("start " + std::to_string(port_.valid()));
    return 1;
  }
  int ShowSettings() noexcept override {
    config_ = "edited";
    return 1;
  }
  std::string GetName() noexcept override { return "Pagorin"; }
  int Reserved10() noexcept override { return 0; }
  int GetRequest(std::int16_t* code, std::int16_t* subCode, std::int16_t* flags, std::int32_t,
                 std::int32_t* blockSize, AlarmRequest* block) noexcept override {
    if (!port_.valid()) return 0;
    std::uint32_t now = platform::TickCount();
    if (now - lastRequest_ > 4000) {
      lastRequest_ = now;
      pending_ = false;
      host_->RequestTimedOut();
      Note("timed out " + std::to_string(now));
    }
    if (pending_ || now - lastRequest_ < 1000) return 0;
    lastRequest_ = now;
    *code = 1007;
    *subCode = 1000;
    *flags = 0;
    *blockSize = 24;
    *block = AlarmRequest{0, {-1, -1, -1, -1}, 0, 1, {0, 0}};
    pending_ = true;
    Note("request " + std::to_string(now));
    return 1;
  }
  void OnRequestResult(std::int32_t, std::int16_t count, std::int32_t, std::int32_t, std::int32_t,
                       const AlarmEvent* events) noexcept override {
    pending_ = false;
    std::string line = "answer " + std::to_string(count);
    for (int i = 0; i < count; ++i) {
      const AlarmEvent& e = events[i];
      char record[200];
      std::snprintf(record, sizeof record, " %d/%d:%.96s:%d:%d:%d:%g:%g", e.eventId, e.eventSubId,
                    e.tagName, e.kind, e.level, e.ackState, static_cast<double>(e.value),
                    static_cast<double>(e.limit));
      line += record;
    }
    Note(line);
  }
  void Reserved13(std::int32_t) noexcept override {}
  int CallFunction(int id, int, const HostParam* params, int) noexcept override {
    if (id == 1) {
      Note(std::string("SendMsg ") + params[0].textValue + " " + params[1].textValue);
      if (port_.valid()) {
        ssize_t ignored = write(port_.get(), "AT\r", 3);
        (void)ignored;
      }
    } else if (id == 2) {
      Note("ShouldSend " + std::to_string(params[0].intValue));
    }
    return 1;
  }
  int Reserved15(std::int32_t, std::int32_t, std::int32_t) noexcept override { return 1; }
  void Reserved16(std::int32_t, std::int32_t) noexcept override {}
  void Reserved17() noexcept override {}
  void Reserved18() noexcept override {}
  void Reserved19(std::int32_t, std::int32_t) noexcept override {}
  void RegisterFunctions() noexcept override {
    host_->RegisterFunction(1, "SendMsg", "sends a text");
    host_->AddFunctionParameter(1, 5, "TelNum");
    host_->AddFunctionParameter(1, 5, "Content");
    host_->RegisterFunction(2, "ShouldSend", "switch");
    host_->AddFunctionParameter(2, 1, "Flag");
  }

 private:
  void Note(const std::string& line) {
    const char* path = std::getenv("VELTRANE_FAKE_PLUGIN_LOG");
    if (path == nullptr) return;
    if (FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }

  HostApplication* host_;
  std::string config_ = "initial";
  platform::UniqueFd port_;
  std::uint32_t lastRequest_ = 0;
  bool pending_ = false;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) SuperWizard* CreateSuperWizard(
    HostApplication* host) {
  SuperWizard* plugin = new FakePlugin(host);
  host->NotifyCreated(4);
  return plugin;
}

extern "C" __attribute__((visibility("default"))) void DeleteSuperWizard(SuperWizard* plugin) {
  delete plugin;
}

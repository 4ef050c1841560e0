// The POSIX side of the simulator's host: the module through dlopen, the modem simulator as a
// child process behind a relay on pseudo-terminals, and the crash as the process's end (and
// exec of a new one).
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "modem_link.h"
#include "sim_host.h"

namespace pagorin::sim {
namespace {

std::string Number(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

// The modem simulator as a child process, and the relay between its terminal and the plug-in's.
struct SimulatedModemRoad final : ModemRoad {
  ModemProcess modem;
  SerialRelay relay;

  void Pump(int waitMs, std::vector<TranscriptLine>& lines) override { relay.Pump(waitMs, lines); }
  bool Busy(int graceMs) const override { return relay.Busy(graceMs); }
  bool AwaitingReply(int graceMs) const override { return relay.AwaitingReply(graceMs); }
  void Stop() override { modem.Stop(); }
};

}  // namespace

void PluginModule::Unload() noexcept {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  create_ = nullptr;
  delete_ = nullptr;
}

bool PluginModule::Load(const std::string& path, std::string& error) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error = "cannot load the module " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  create_ = reinterpret_cast<CreateSuperWizardFunction>(dlsym(handle_, kCreateSuperWizardName));
  delete_ = reinterpret_cast<DeleteSuperWizardFunction>(dlsym(handle_, kDeleteSuperWizardName));
  if (create_ == nullptr || delete_ == nullptr) {
    error = path + " does not export " + kCreateSuperWizardName + " and " + kDeleteSuperWizardName;
    return false;
  }
  return true;
}

bool SimHost::StartModem(const Scenario& scenario, const HostOptions& options) {
  int portNumber = comIndex_ + 1;
  std::string envName = "PAGORIN_COM" + std::to_string(portNumber);
  if (!options.modemDevice.empty()) {
    realModem_ = true;
    clock_.SetRealTime(true);
    setenv(envName.c_str(), options.modemDevice.c_str(), 1);
    log_.Emit("modem", {{"device", options.modemDevice}, {"port", envName}},
              "real modem at " + options.modemDevice + " as COM" + std::to_string(portNumber) +
                  "; time runs at real speed and the AT dialogue is not shown");
    return true;
  }
  std::string logPath =
      options.modemLogPath.empty() ? workDir_ + "/modem-log.jsonl" : options.modemLogPath;
  unlink(logPath.c_str());
  std::vector<std::string> modemArgs = scenario.modemArgs;
  modemArgs.insert(modemArgs.end(), options.modemArgs.begin(), options.modemArgs.end());
  std::string error;
  // The modem simulator's own spans (error windows, unplugging, late replies) run on the
  // simulated clock, which it reads from a shared file.
  std::vector<std::string> startArgs = modemArgs;
  std::string clockPath = workDir_ + "/modem.clock";
  if (!clock_.ShareThrough(clockPath, error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return false;
  }
  startArgs.insert(startArgs.end(), {"--clock-file", clockPath});
  auto road = std::make_unique<SimulatedModemRoad>();
  if (!road->modem.Start(options.modemSimPath, startArgs, workDir_, logPath, error)) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return false;
  }
  SerialRelay& relay = road->relay;
  // The plug-in opens a stable name, which comes back when an unplugged modem does.
  if (!relay.Open(road->modem.PortPath(), error, workDir_ + "/COM" + std::to_string(portNumber))) {
    log_.Emit("error", {{"text", error}}, "error: " + error);
    return false;
  }
  road_ = std::move(road);
  modemLog_.Reset(logPath);
  setenv(envName.c_str(), relay.PluginSidePath().c_str(), 1);
  std::string extra;
  for (const auto& arg : modemArgs)
    extra += " " + arg;
  log_.Emit("modem",
            {{"simulator", options.modemSimPath},
             {"args", modemArgs},
             {"port", envName},
             {"device", relay.PluginSidePath()},
             {"log", logPath}},
            "modem simulator started" + (extra.empty() ? "" : " (" + extra.substr(1) + ")") +
                ", on COM" + std::to_string(portNumber) + " = " + relay.PluginSidePath());
  return true;
}

void SimHost::Crash(const std::string& nextScenario) {
  namespace fs = std::filesystem;
  const std::string next = AnnounceCrash(nextScenario);
  // The modem's simulator ends with the host; what the phones got before is shown.
  if (road_) road_->Stop();
  LeaveRecordsAtCrash();
  if (next.empty()) {
    ::kill(::getpid(), SIGKILL);
    ::_exit(128 + SIGKILL);
  }
  std::error_code noList;
  // The new process starts with nothing of this one: every descriptor but the standard ones
  // (the plug-in's port, journal and history among them) closes on exec.
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd", noList)) {
    const int fd = std::atoi(entry.path().filename().c_str());
    if (fd > 2) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  std::vector<std::string> args = {"veltrane-sim"};
  if (log_.Json()) args.push_back("--json");
  args.insert(args.end(), {"--module", options_.modulePath, "run", next});
  if (!options_.modemDevice.empty()) args.insert(args.end(), {"--modem", options_.modemDevice});
  args.insert(args.end(), {"--modem-sim", options_.modemSimPath});
  for (const std::string& arg : options_.modemArgs)
    args.push_back("--modem-arg=" + arg);
  if (!options_.modemLogPath.empty())
    args.insert(args.end(), {"--modem-log", options_.modemLogPath});
  if (options_.speed >= 0) args.insert(args.end(), {"--speed", Number(options_.speed)});
  if (options_.verbose) args.push_back("--verbose");
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  ::execv("/proc/self/exe", argv.data());
  std::fprintf(stderr, "veltrane-sim: cannot start again after the crash: %s\n",
               std::strerror(errno));
  ::_exit(1);
}

}  // namespace pagorin::sim

// The Windows side of the simulator's host: the module through LoadLibraryW and GetProcAddress,
// and the modem that the plug-in reaches through the COM port of its configuration. The plug-in
// opens that port itself, as it does in a real host; whoever runs the simulator puts a modem
// behind it (a real one, or the modem simulator of a POSIX machine that a test harness maps to
// the port). Time runs at real speed, since the replies come in real time and nobody relays
// them, and the modem simulator's log, when it is given, shows what the phones got.
#include <windows.h>

#include <cstdio>
#include <filesystem>

#include "sim_host.h"
#include "sim_os_win32.h"

namespace pagorin::sim {

void PluginModule::Unload() noexcept {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
  create_ = nullptr;
  delete_ = nullptr;
}

bool PluginModule::Load(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryW(os::Wide(path).c_str());
  if (module == nullptr) {
    error = "cannot load the module " + path + ": error " + std::to_string(GetLastError());
    return false;
  }
  handle_ = module;
  // GetProcAddress hands back every export as a generic function pointer.
  create_ = reinterpret_cast<CreateSuperWizardFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, kCreateSuperWizardName)));
  delete_ = reinterpret_cast<DeleteSuperWizardFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, kDeleteSuperWizardName)));
  if (create_ == nullptr || delete_ == nullptr) {
    error = path + " does not export " + kCreateSuperWizardName + " and " + kDeleteSuperWizardName;
    return false;
  }
  return true;
}

bool SimHost::StartModem(const Scenario& scenario, const HostOptions& options) {
  (void)scenario;
  const int portNumber = comIndex_ + 1;
  const std::string port = "COM" + std::to_string(portNumber);
  if (!options.modemDevice.empty()) {
    const std::string why = "on Windows the plug-in opens " + port +
                            " of its configuration itself; --modem names no other port";
    log_.Emit("error", {{"text", why}}, "error: " + why);
    return false;
  }
  clock_.SetRealTime(true);
  if (options.modemLogPath.empty()) {
    realModem_ = true;
    log_.Emit("modem", {{"port", port}},
              "the plug-in opens " + port +
                  " itself; time runs at real speed and the AT dialogue is not shown");
    return true;
  }
  // A modem simulator behind the port: what it accepted is read from its log.
  modemLog_.Reset(options.modemLogPath);
  log_.Emit("modem", {{"port", port}, {"log", options.modemLogPath}},
            "the plug-in opens " + port +
                " itself; time runs at real speed, the AT dialogue is not shown, and the modem "
                "simulator behind the port logs to " +
                options.modemLogPath);
  return true;
}

void SimHost::Crash(const std::string& nextScenario) {
  const std::string next = AnnounceCrash(nextScenario);
  LeaveRecordsAtCrash();
  // Windows starts no program in this process's place: a host started again would find the
  // plug-in's COM port still held by this one until it ended. Whoever runs the simulator starts
  // the next scenario after this process ended.
  if (!next.empty()) {
    std::fprintf(stderr,
                 "veltrane-sim: on Windows a crash does not start the host again; run %s next\n",
                 next.c_str());
    std::fflush(stderr);
  }
  TerminateProcess(GetCurrentProcess(), 137);
  for (;;)
    Sleep(INFINITE);
}

}  // namespace pagorin::sim

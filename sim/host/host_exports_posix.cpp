// What veltrane-sim exports to the plug-in module it loads (a POSIX executable's dynamic symbols).
#include <cstdint>

#include "paced_clock.h"
#include "sim_host.h"

// The plug-in reads its millisecond clock from the host process when the host exports this
// function; the simulator drives it so that simulated time can run faster than real time.
extern "C" __attribute__((visibility("default"))) std::uint32_t PagorinHostTickCount() noexcept {
  return pagorin::sim::SimTicks();
}

// The plug-in tells a host that exports this function what a user would see in its dialogs: the
// modem's status, configuration problems, the outbox at start (host/host_report.h).
extern "C" __attribute__((visibility("default"))) void PagorinHostReport(
    int kind, const char* text) noexcept {
  pagorin::sim::ReceivePluginReport(kind, text);
}

// The module draws its dialogs with Qt, and fontconfig keeps its font caches until the process
// ends. Under the leak checker (asan preset) those caches are expected; elsewhere this function
// is never called.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

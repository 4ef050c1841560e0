// What veltrane-sim.exe exports to the plug-in module it loads: the module asks for them with
// GetProcAddress on the host's module.
#include <cstdint>

#include "paced_clock.h"
#include "sim_host.h"

// The plug-in reads its millisecond clock from the host process when the host exports this
// function; the simulator drives it so that simulated time can run faster than real time.
extern "C" __declspec(dllexport) std::uint32_t PagorinHostTickCount() noexcept {
  return pagorin::sim::SimTicks();
}

// The plug-in tells a host that exports this function what a user would see in its dialogs: the
// modem's status, configuration problems, the outbox at start (host/host_report.h).
extern "C" __declspec(dllexport) void PagorinHostReport(int kind, const char* text) noexcept {
  pagorin::sim::ReceivePluginReport(kind, text);
}

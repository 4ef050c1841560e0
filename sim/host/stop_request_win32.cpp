#include <windows.h>

#include <atomic>
#include <csignal>

#include "stop_request.h"

namespace pagorin::sim {
namespace {

std::atomic<int> g_stopSignal{0};

// Ctrl+C and Ctrl+Break ask the run to end as SIGINT does elsewhere; closing the console as
// SIGTERM does. The run loop ends the run and the process after it.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  g_stopSignal.store(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM,
                     std::memory_order_relaxed);
  return TRUE;
}

}  // namespace

void InstallStopSignals() noexcept {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int StopSignal() noexcept {
  return g_stopSignal.load(std::memory_order_relaxed);
}

}  // namespace pagorin::sim

#include <signal.h>

#include <atomic>

#include "stop_request.h"

namespace pagorin::sim {
namespace {

std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
  g_stopSignal.store(signal, std::memory_order_relaxed);
}

}  // namespace

void InstallStopSignals() noexcept {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait in poll or sleep ends at once, and the loop looks at the request.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int StopSignal() noexcept {
  return g_stopSignal.load(std::memory_order_relaxed);
}

}  // namespace pagorin::sim

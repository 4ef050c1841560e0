#include "paced_clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "stop_request.h"

namespace pagorin::sim {
namespace {

std::atomic<std::uint32_t> g_ticks{0};

std::int64_t SteadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::uint32_t SimTicks() noexcept {
  return g_ticks.load(std::memory_order_acquire);
}

PacedClock::PacedClock(RealClock realClock)
    : realClock_(realClock ? std::move(realClock) : RealClock(SteadyMicros)) {}

PacedClock::~PacedClock() {
  Unmap(shared_);
}

void PacedClock::Publish() noexcept {
  if (shared_ != nullptr) {
    std::atomic_ref<std::uint64_t>(*shared_).store(simMs_, std::memory_order_release);
  }
}

void PacedClock::Reset() noexcept {
  g_ticks.store(0, std::memory_order_release);
  Publish();
}

void PacedClock::Advance(int stepMs, bool modemBusy, int busyStepMs, const Pump& pump) {
  // The modem's replies come in real time, and a time-out of the plug-in must never fire merely
  // because time is simulated.
  double rate = realTime_ || closing_ ? 1 : speed_;
  if (modemBusy) {
    if (rate == 0 || rate > 1) rate = 1;
    // Short cycles while the dialogue runs, so that the plug-in sees each reply a moment after
    // it came and answers it without waiting for a whole cycle of real time.
    stepMs = std::min(stepMs, busyStepMs);
  }
  std::int64_t now = realClock_();
  if (rate != anchorRate_) {
    anchorRate_ = rate;
    anchorSimMs_ = simMs_;
    anchorRealUs_ = now;
  }
  std::uint64_t target = simMs_ + static_cast<std::uint64_t>(stepMs);
  if (rate > 0) {
    auto due = anchorRealUs_ + static_cast<std::int64_t>(
                                   static_cast<double>(target - anchorSimMs_) * 1000.0 / rate);
    while (now < due && (closing_ || StopSignal() == 0)) {
      pump(static_cast<int>(std::min<std::int64_t>((due - now + 999) / 1000, 50)));
      now = realClock_();
    }
  } else {
    pump(0);
  }
  simMs_ = target;
  g_ticks.store(static_cast<std::uint32_t>(simMs_), std::memory_order_release);
  Publish();
}

}  // namespace pagorin::sim

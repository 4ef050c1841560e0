#include "paced_clock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "platform/file_io.h"
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
  if (shared_ != nullptr) munmap(shared_, sizeof(std::uint64_t));
}

bool PacedClock::ShareThrough(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ftruncate(fd, sizeof(std::uint64_t)) != 0) {
    error = "cannot make the clock file " + path + ": " + platform::ErrorText(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  void* map = mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  int mapError = errno;
  close(fd);
  if (map == MAP_FAILED) {
    error = "cannot map the clock file " + path + ": " + platform::ErrorText(mapError);
    return false;
  }
  if (shared_ != nullptr) munmap(shared_, sizeof(std::uint64_t));
  shared_ = static_cast<std::uint64_t*>(map);
  Publish();
  return true;
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
  double rate = realTime_ ? 1 : speed_;
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
    while (now < due && StopSignal() == 0) {
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

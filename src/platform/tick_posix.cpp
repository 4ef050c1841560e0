#include <dlfcn.h>
#include <time.h>

#include "platform/tick.h"

namespace pagorin::platform {
namespace {

std::uint32_t MonotonicTicks() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
            static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

// A host that simulates time exports this function; a real host does not.
TickFunction DefaultSource() noexcept {
  void* symbol = dlsym(RTLD_DEFAULT, "PagorinHostTickCount");
  if (symbol != nullptr) return reinterpret_cast<TickFunction>(symbol);
  return &MonotonicTicks;
}

std::atomic<TickFunction>& Source() noexcept {
  static std::atomic<TickFunction> source{DefaultSource()};
  return source;
}

}  // namespace

std::uint32_t TickCount() noexcept {
  return Source().load(std::memory_order_acquire)();
}

void SetTickSource(TickFunction source) noexcept {
  Source().store(source != nullptr ? source : DefaultSource(), std::memory_order_release);
}

std::atomic<std::uint32_t> ManualTicks::now_{0};

ManualTicks::ManualTicks(std::uint32_t start) noexcept {
  now_.store(start);
  SetTickSource(&ManualTicks::Read);
}

ManualTicks::~ManualTicks() {
  SetTickSource(nullptr);
}

}  // namespace pagorin::platform

#include <dlfcn.h>
#include <time.h>

#include "platform/tick_source.h"

namespace pagorin::platform::detail {
namespace {

std::uint32_t MonotonicTicks() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
            static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

}  // namespace

// A host that simulates time exports this function; a real host does not.
TickFunction DefaultTickSource() noexcept {
  void* symbol = dlsym(RTLD_DEFAULT, "PagorinHostTickCount");
  if (symbol != nullptr) return reinterpret_cast<TickFunction>(symbol);
  return &MonotonicTicks;
}

}  // namespace pagorin::platform::detail

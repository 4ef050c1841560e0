#include "platform/tick.h"

#include "platform/tick_source.h"

namespace pagorin::platform {
namespace {

std::atomic<TickFunction>& Source() noexcept {
  static std::atomic<TickFunction> source{detail::DefaultTickSource()};
  return source;
}

}  // namespace

std::uint32_t TickCount() noexcept {
  return Source().load(std::memory_order_acquire)();
}

void SetTickSource(TickFunction source) noexcept {
  Source().store(source != nullptr ? source : detail::DefaultTickSource(),
                 std::memory_order_release);
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

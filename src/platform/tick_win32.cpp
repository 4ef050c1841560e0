// The system's millisecond tick count, and the clock of a host that simulates time: a host
// program exporting `PagorinHostTickCount` is asked through GetProcAddress on its own module.
#include <windows.h>

#include "platform/tick_source.h"

namespace pagorin::platform::detail {
namespace {

std::uint32_t SystemTicks() noexcept {
  return static_cast<std::uint32_t>(GetTickCount());
}

}  // namespace

TickFunction DefaultTickSource() noexcept {
  if (HMODULE host = GetModuleHandleW(nullptr); host != nullptr) {
    if (FARPROC symbol = GetProcAddress(host, "PagorinHostTickCount"); symbol != nullptr) {
      // GetProcAddress hands back every export as a generic function pointer.
      return reinterpret_cast<TickFunction>(reinterpret_cast<void (*)()>(symbol));
    }
  }
  return &SystemTicks;
}

}  // namespace pagorin::platform::detail

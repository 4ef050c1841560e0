// What each platform's backend supplies to the tick count: the default source, which is the
// host's own clock when the host process exports `PagorinHostTickCount` (a host simulator that
// runs time faster than real time), else the system's monotonic millisecond counter.
#pragma once

#include "platform/tick.h"

namespace pagorin::platform::detail {

TickFunction DefaultTickSource() noexcept;

}  // namespace pagorin::platform::detail

// The one seam for system calls of the POSIX backends: every call that can be interrupted goes
// through RetryOnEintr, so a signal never turns into a spurious failure.
#pragma once

#include <cerrno>

namespace pagorin::platform {

template <typename Call>
auto RetryOnEintr(Call call) noexcept -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

}  // namespace pagorin::platform

// The host program's report function, asked for through GetProcAddress on its own module.
#include <windows.h>

#include "platform/host_report.h"

namespace pagorin::platform::detail {

HostReportFunction FindHostReport() noexcept {
  if (HMODULE host = GetModuleHandleW(nullptr); host != nullptr) {
    if (FARPROC symbol = GetProcAddress(host, kHostReportName); symbol != nullptr) {
      // GetProcAddress hands back every export as a generic function pointer.
      return reinterpret_cast<HostReportFunction>(reinterpret_cast<void (*)()>(symbol));
    }
  }
  return nullptr;
}

}  // namespace pagorin::platform::detail

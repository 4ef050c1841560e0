#include <dlfcn.h>

#include "platform/host_report.h"

namespace pagorin::platform::detail {

// A host that wants the plug-in's reports exports this function; a real host does not.
HostReportFunction FindHostReport() noexcept {
  void* symbol = dlsym(RTLD_DEFAULT, kHostReportName);
  return symbol != nullptr ? reinterpret_cast<HostReportFunction>(symbol) : nullptr;
}

}  // namespace pagorin::platform::detail

// The module's two exports, the only symbols it makes visible (see exports.map and
// exports.def; the build defines PAGORIN_EXPORT for the platform).
#include <new>
#include <type_traits>

#include "core/plugin_object.h"

extern "C" {

PAGORIN_EXPORT pagorin::SuperWizard* CreateSuperWizard(pagorin::HostApplication* host) noexcept;
PAGORIN_EXPORT void DeleteSuperWizard(pagorin::SuperWizard* plugin) noexcept;

pagorin::SuperWizard* CreateSuperWizard(pagorin::HostApplication* host) noexcept {
  // The object asks its host for the project directory while it is built; without a host there
  // is nothing to build it for.
  if (host == nullptr) return nullptr;
  pagorin::PluginObject* plugin = nullptr;
  try {
    plugin = new pagorin::PluginObject(*host);
  } catch (...) {
    plugin = nullptr;
  }
  host->NotifyCreated(4);
  return plugin;
}

void DeleteSuperWizard(pagorin::SuperWizard* plugin) noexcept {
  delete plugin;
}

}  // extern "C"

// The exports must keep the exact function types the host resolves them as.
static_assert(std::is_same_v<decltype(&CreateSuperWizard),
                             pagorin::SuperWizard* (*)(pagorin::HostApplication*) noexcept>);

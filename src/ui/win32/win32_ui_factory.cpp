// The factory of a Windows build: the settings dialog runs modally with the system's dialog
// manager, owned by the host's main window; the hidden window is a dialog that is never shown.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "config/configuration.h"
#include "host/host_application.h"
#include "ui/plugin_window_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/ui_factory.h"
#include "ui/win32/win32_dialog.h"

namespace pagorin {
namespace {

// The host hands its window over as an opaque pointer; it owns a dialog only when it is a
// window.
HWND OwnerWindow(void* window) noexcept {
  HWND handle = static_cast<HWND>(window);
  return handle != nullptr && IsWindow(handle) ? handle : nullptr;
}

class Win32UiFactory final : public UiFactory {
 public:
  int RunSettingsDialog(Configuration& config, HostApplication& host,
                        void* parentWindow) noexcept override {
    try {
      HWND owner = OwnerWindow(parentWindow);
      if (owner == nullptr) owner = OwnerWindow(host.GetMainWindow());
      SettingsDialog controller(config, host);
      win32::Win32Dialog dialog(controller);
      return dialog.RunModal(owner) == kIdOk ? 1 : 0;
    } catch (...) {
      return 0;
    }
  }

  void* CreateHiddenWindow(void* parentWindow) noexcept override {
    try {
      auto window = std::make_unique<HiddenWindow>();
      if (window->dialog.CreateHidden(OwnerWindow(parentWindow)) == nullptr) return nullptr;
      HWND handle = window->dialog.window();
      hiddenWindows_.push_back(std::move(window));
      return handle;
    } catch (...) {
      return nullptr;
    }
  }

  void DestroyHiddenWindow(void* window) noexcept override {
    if (window == nullptr) return;
    // Only windows made here are destroyed; one whose owner took it along is gone already, and
    // its object goes now.
    std::erase_if(hiddenWindows_, [window](const std::unique_ptr<HiddenWindow>& hidden) {
      return hidden->dialog.window() == nullptr || hidden->dialog.window() == window;
    });
  }

 private:
  struct HiddenWindow {
    PluginWindowDialog controller;
    win32::Win32Dialog dialog{controller};
  };
  std::vector<std::unique_ptr<HiddenWindow>> hiddenWindows_;
};

}  // namespace

UiFactory& GetUiFactory() noexcept {
  static Win32UiFactory factory;
  return factory;
}

}  // namespace pagorin

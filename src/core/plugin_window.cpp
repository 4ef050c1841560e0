#include "core/plugin_window.h"

#include "ui/ui_factory.h"

namespace pagorin {

PluginWindow::~PluginWindow() {
  if (nativeHandle_ != nullptr) GetUiFactory().DestroyHiddenWindow(nativeHandle_);
}

bool PluginWindow::Create(PluginObject* plugin, void* parentWindow) noexcept {
  owner = plugin;
  if (nativeHandle_ == nullptr) nativeHandle_ = GetUiFactory().CreateHiddenWindow(parentWindow);
  return nativeHandle_ != nullptr;
}

}  // namespace pagorin

// The dialogs as the plug-in core reaches them. The core never includes a toolkit header: it asks
// the factory, and a build without a toolkit links a factory that shows nothing.
#pragma once

namespace pagorin {

class HostApplication;
struct Configuration;

class UiFactory {
 public:
  virtual ~UiFactory() = default;

  // Runs the main settings dialog modally over `config` (edited in place; OK also saves it) with
  // `parentWindow` (a native window or nullptr) as parent. 1 when it ended with OK, else 0;
  // 0 when no dialog can be shown.
  virtual int RunSettingsDialog(Configuration& config, HostApplication& host,
                                void* parentWindow) noexcept = 0;

  // Creates the plug-in's hidden window (template kPluginWindowId) as a child of `parentWindow` and
  // returns its native handle, or nullptr when no window can be made.
  virtual void* CreateHiddenWindow(void* parentWindow) noexcept = 0;

  // Closes and destroys a window made by CreateHiddenWindow; nullptr is ignored.
  virtual void DestroyHiddenWindow(void* window) noexcept = 0;
};

// The factory of this build: the toolkit's, or one that shows nothing.
UiFactory& GetUiFactory() noexcept;

}  // namespace pagorin

// The plug-in's hidden window: an empty window made by the dialog backend as a child of the
// host's main window and handed to the host with AttachWindow. Neither Enter nor Escape closes
// it; it lives until the plug-in object is destroyed.
#pragma once

namespace pagorin {

class PluginObject;

class PluginWindow {
 public:
  PluginWindow() noexcept = default;
  // Closes and destroys the window, if one was made.
  ~PluginWindow();
  PluginWindow(const PluginWindow&) = delete;
  PluginWindow& operator=(const PluginWindow&) = delete;

  // Makes the hidden window under `parentWindow` (a native window or nullptr) for `plugin`.
  // False when the backend made no window (a build without a toolkit never makes one); the
  // object then still stands for the window towards the host.
  bool Create(PluginObject* plugin, void* parentWindow) noexcept;

  // True once Create was called, whether or not a native window came of it.
  bool IsCreated() const noexcept { return owner != nullptr; }
  // The backend's handle of the window; nullptr when there is none.
  void* NativeHandle() const noexcept { return nativeHandle_; }

  PluginObject* owner = nullptr;  // the plug-in object; none until Create

 private:
  void* nativeHandle_ = nullptr;
};

}  // namespace pagorin

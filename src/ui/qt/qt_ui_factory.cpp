// The factory of a build with Qt: the settings dialog runs modally, the hidden window is a
// QDialog that is never shown.
#include <QApplication>
#include <QPointer>
#include <memory>
#include <vector>

#include "config/configuration.h"
#include "host/host_application.h"
#include "ui/plugin_window_dialog.h"
#include "ui/qt/qt_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/ui_factory.h"

namespace pagorin {
namespace {

// The host hands over its window as an opaque pointer; it is used as the parent only when it is
// one of this process's live widgets.
QWidget* ParentWidget(void* parentWindow) {
  if (parentWindow == nullptr) return nullptr;
  for (QWidget* widget : QApplication::allWidgets()) {
    if (widget == parentWindow) return widget;
  }
  return nullptr;
}

class QtUiFactory final : public UiFactory {
 public:
  int RunSettingsDialog(Configuration& config, HostApplication& host,
                        void* parentWindow) noexcept override {
    try {
      if (!qt::EnsureApplication()) return 0;
      SettingsDialog controller(config, host);
      qt::QtDialog dialog(controller, ParentWidget(parentWindow));
      return dialog.RunModal() == kIdOk ? 1 : 0;
    } catch (...) {
      return 0;
    }
  }

  void* CreateHiddenWindow(void* parentWindow) noexcept override {
    try {
      if (!qt::EnsureApplication()) return nullptr;
      auto* window =
          new qt::QtDialog(std::make_unique<PluginWindowDialog>(), ParentWidget(parentWindow));
      window->hide();
      hiddenWindows_.emplace_back(window);
      return static_cast<QWidget*>(window);
    } catch (...) {
      return nullptr;
    }
  }

  void DestroyHiddenWindow(void* window) noexcept override {
    if (window == nullptr) return;
    try {
      // Only windows made here are destroyed; one whose parent took it along is already gone.
      for (auto it = hiddenWindows_.begin(); it != hiddenWindows_.end();) {
        if (it->isNull()) {
          it = hiddenWindows_.erase(it);
        } else if (static_cast<QWidget*>(it->data()) == window) {
          delete it->data();
          it = hiddenWindows_.erase(it);
        } else {
          ++it;
        }
      }
    } catch (...) {
    }
  }

 private:
  std::vector<QPointer<qt::QtDialog>> hiddenWindows_;
};

}  // namespace

UiFactory& GetUiFactory() noexcept {
  static QtUiFactory factory;
  return factory;
}

}  // namespace pagorin

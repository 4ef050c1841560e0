// The factory of a build without a toolkit: no dialog is shown, no window is made.
#include "ui/ui_factory.h"

namespace pagorin {
namespace {

class NoUiFactory final : public UiFactory {
 public:
  int RunSettingsDialog(Configuration&, HostApplication&, void*) noexcept override { return 0; }
  void* CreateHiddenWindow(void*) noexcept override { return nullptr; }
  void DestroyHiddenWindow(void*) noexcept override {}
};

}  // namespace

UiFactory& GetUiFactory() noexcept {
  static NoUiFactory factory;
  return factory;
}

}  // namespace pagorin

// The behaviour of the plug-in's hidden window (template kPluginWindowId): an empty window that
// does nothing. Enter and Escape do not close it; only its owner destroys it.
#pragma once

#include "resources/dialog_ids.h"
#include "ui/dialog_view.h"

namespace pagorin {

class PluginWindowDialog final : public DialogController {
 public:
  int TemplateId() const noexcept override { return kPluginWindowId; }

 private:
  void OnInitDialog() override {}
  void OnEvent(int, DialogEvent) override {}
};

}  // namespace pagorin

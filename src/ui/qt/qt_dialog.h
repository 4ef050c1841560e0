// The Qt 6 Widgets rendering of the module's dialogs. QtDialog builds a dialog from its template
// (controls at the template's rectangles, converted from dialog units with the dialog font's
// metrics), implements DialogView over the widgets and forwards the user's actions to the
// controller. Each control widget carries its template id as its object name, so a test can find
// it with FindControlWidget.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <map>
#include <memory>
#include <string>

#include "resources/dialog_templates.h"
#include "ui/dialog_view.h"

class QButtonGroup;
class QTimer;

namespace pagorin::qt {

// Creates the application object when the process has none; without a display (neither DISPLAY
// nor WAYLAND_DISPLAY) it selects the offscreen platform first, and with one it names offscreen
// as the fallback, so a missing display never aborts the host. False when no widget can be made
// here: the existing application object is not a widget application, or this is not its thread.
// Never throws.
bool EnsureApplication() noexcept;

// The font of a template: its face when the system has it, else the first family of a list of
// faces that carry the Chinese glyphs, at the template's point size.
QFont DialogFont(const DialogTemplate& dialog);

// Converts dialog units to pixels with the font's base units, as the native dialog manager does:
// horizontal units are a quarter of the average character width, vertical units an eighth of the
// font's height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const noexcept;
  int Y(int units) const noexcept;
  QRect Rect(const DialogRect& rect) const noexcept;
  int baseWidth() const noexcept { return baseWidth_; }
  int baseHeight() const noexcept { return baseHeight_; }

 private:
  int baseWidth_;
  int baseHeight_;
};

// The widget of control `id` in a dialog built by QtDialog, or nullptr.
QWidget* FindControlWidget(const QWidget* dialog, int id);

// The template id of a dialog built by QtDialog, or 0 for any other widget.
int TemplateIdOf(const QWidget* widget);

class QtDialog final : public QDialog, public DialogView {
 public:
  // Builds the dialog of `controller`'s template over `parent` (nullptr for a top-level window)
  // and initialises the controller. The controller must outlive the dialog. Throws
  // std::bad_alloc; an unknown template gives an empty dialog.
  QtDialog(DialogController& controller, QWidget* parent);
  // The same, owning the controller.
  QtDialog(std::unique_ptr<DialogController> controller, QWidget* parent);
  ~QtDialog() override;

  // Runs the dialog modally; kIdOk or kIdCancel.
  int RunModal();

  // DialogView.
  void SetWindowTitle(const std::string& title) override;
  void ShowMessage(const std::string& text) override;
  void EndDialog(int result) override;
  void SetTimer(int milliseconds) override;
  int RunChildDialog(DialogController& child) override;
  void SetText(int id, const std::string& text) override;
  std::string GetText(int id) override;
  void SetCheck(int id, int checked) override;
  int GetCheck(int id) override;
  void EnableControl(int id, bool enabled) override;
  bool IsControlEnabled(int id) override;
  int AddComboItem(int id, const std::string& text, ItemData data) override;
  int GetComboCount(int id) override;
  ItemData GetComboItemData(int id, int index) override;
  int GetComboSelection(int id) override;
  void SetComboSelection(int id, int index) override;
  void SetListRowHeight(int id, int pixels) override;
  void AddListExtendedStyles(int id, std::uint32_t styles) override;
  void InsertListColumn(int id, int column, const std::string& heading, int width,
                        bool centred) override;
  int AppendListRow(int id, const std::string& text, ItemData data) override;
  void SetListCell(int id, int row, int column, const std::string& text) override;
  std::string GetListCell(int id, int row, int column) override;
  void SetListRowData(int id, int row, ItemData data) override;
  ItemData GetListRowData(int id, int row) override;
  void DeleteListRow(int id, int row) override;
  void DeleteAllListRows(int id) override;
  int GetListRowCount(int id) override;
  int GetListSelection(int id) override;
  void SelectListRow(int id, int row) override;

  // QDialog: Enter, Escape and the close box reach the controller as OK and Cancel.
  void accept() override;
  void reject() override;
  // Applies the template's font and size first if that was left for the first showing.
  void setVisible(bool visible) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();
  void InitializeController() noexcept;
  DialogUnits ApplyTemplateFont();
  QWidget* MakeControl(const ControlTemplate& control, const DialogUnits& units);
  void Dispatch(int id, DialogEvent event) noexcept;
  QWidget* Control(int id) const;

  std::unique_ptr<DialogController> ownedController_;
  DialogController& controller_;
  const DialogTemplate* template_;
  std::map<int, QWidget*> controls_;
  std::map<QWidget*, QButtonGroup*> radioGroups_;
  bool fontApplied_ = false;
  QTimer* timer_ = nullptr;  // owned by the dialog as its child
};

}  // namespace pagorin::qt

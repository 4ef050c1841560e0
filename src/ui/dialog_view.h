// The seam between the dialogs' behaviour and a toolkit. A controller holds a dialog's state and
// every decision; it sees the dialog only through DialogView, which addresses controls by their
// template id the way a native dialog does. A backend builds the controls from the dialog's
// template (resources/dialog_templates.h), implements DialogView over them and forwards the
// user's actions to the controller as events. Texts crossing the seam are code page 936 bytes.
#pragma once

#include <cstdint>
#include <string>

namespace pagorin {

class DialogController;

// Opaque per-item data of a combo item or a list row (an index or a record's address).
using ItemData = std::intptr_t;

// List view extended styles: grid lines, full-row selection, activation by one click.
inline constexpr std::uint32_t kListGridLines = 0x01;
inline constexpr std::uint32_t kListFullRowSelect = 0x20;
inline constexpr std::uint32_t kListOneClickActivate = 0x40;

enum class DialogEvent {
  kClicked,           // button, check box or radio button; also OK and Cancel (Enter, Escape)
  kDoubleClicked,     // list view, anywhere in it
  kDeleteKey,         // list view: the Delete key went down
  kSelectionChanged,  // drop-down list: the user chose an item
  kTimer,             // the dialog's timer ran out (control id kNoControlId)
};

// A dialog as the controller sees it. Operations on an id the dialog does not have, or on a row
// or item that does not exist, do nothing and read as empty, 0 or -1. Called on the UI thread
// only; implementations do not throw except std::bad_alloc.
class DialogView {
 public:
  virtual ~DialogView() = default;

  virtual void SetWindowTitle(const std::string& title) = 0;
  // Shows `text` in a modal message box with an OK button and returns when it is closed.
  virtual void ShowMessage(const std::string& text) = 0;
  // Ends the modal dialog with `result` (kIdOk or kIdCancel) once the present event is handled.
  virtual void EndDialog(int result) = 0;
  // Runs `child` as a modal dialog over this one; its result (kIdOk or kIdCancel).
  virtual int RunChildDialog(DialogController& child) = 0;
  // Sends the controller kTimer every `milliseconds` while the dialog is open; 0 stops it. A
  // backend without timers does nothing, and the dialog then offers its own refresh.
  virtual void SetTimer(int /*milliseconds*/) {}

  virtual void SetText(int id, const std::string& text) = 0;
  virtual std::string GetText(int id) = 0;
  // Check boxes and radio buttons: 1 checked, 0 not.
  virtual void SetCheck(int id, int checked) = 0;
  virtual int GetCheck(int id) = 0;
  virtual void EnableControl(int id, bool enabled) = 0;
  virtual bool IsControlEnabled(int id) = 0;

  // Drop-down lists. Positions are 0-based; -1 is "no selection".
  virtual int AddComboItem(int id, const std::string& text, ItemData data) = 0;
  virtual int GetComboCount(int id) = 0;
  virtual ItemData GetComboItemData(int id, int index) = 0;
  virtual int GetComboSelection(int id) = 0;
  // Selects item `index`; an index outside the list leaves it without a selection.
  virtual void SetComboSelection(int id, int index) = 0;

  // List views in report style. Row heights in pixels; widths of columns in pixels.
  virtual void SetListRowHeight(int id, int pixels) = 0;
  virtual void AddListExtendedStyles(int id, std::uint32_t styles) = 0;
  virtual void InsertListColumn(int id, int column, const std::string& heading, int width,
                                bool centred) = 0;
  // Appends a row with `text` in column 0; returns its position.
  virtual int AppendListRow(int id, const std::string& text, ItemData data) = 0;
  virtual void SetListCell(int id, int row, int column, const std::string& text) = 0;
  virtual std::string GetListCell(int id, int row, int column) = 0;
  virtual void SetListRowData(int id, int row, ItemData data) = 0;
  virtual ItemData GetListRowData(int id, int row) = 0;
  virtual void DeleteListRow(int id, int row) = 0;
  virtual void DeleteAllListRows(int id) = 0;
  virtual int GetListRowCount(int id) = 0;
  // The first selected row, or -1.
  virtual int GetListSelection(int id) = 0;
  // Makes `row` the selected row; a row outside the list changes nothing.
  virtual void SelectListRow(int id, int row) = 0;
};

// The behaviour of one dialog. The backend builds the dialog from the template TemplateId(),
// calls Initialize once the controls exist, then Handle for each user action until the
// controller calls EndDialog. Handlers may throw std::bad_alloc; the backend catches it.
class DialogController {
 public:
  virtual ~DialogController() = default;

  virtual int TemplateId() const noexcept = 0;

  void Initialize(DialogView& view) {
    view_ = &view;
    OnInitDialog();
  }
  void Handle(int controlId, DialogEvent event) {
    if (view_ != nullptr) OnEvent(controlId, event);
  }

 protected:
  DialogController() = default;
  DialogController(const DialogController&) = delete;
  DialogController& operator=(const DialogController&) = delete;

  virtual void OnInitDialog() = 0;
  virtual void OnEvent(int controlId, DialogEvent event) = 0;

  DialogView& view() const { return *view_; }

 private:
  DialogView* view_ = nullptr;
};

}  // namespace pagorin

// The native Windows rendering of the module's dialogs. Win32Dialog turns a dialog template
// (resources/dialog_templates.h) into an in-memory extended dialog template, lets the system's
// dialog manager build and run it (dialog units, the template's control ids, its font), and
// implements DialogView over the controls: list views in report style, check boxes, radio
// buttons, drop-down lists, edits and message boxes. Texts of the model (code page 936) and of
// the templates (UTF-8) reach the controls as UTF-16.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "resources/dialog_templates.h"
#include "ui/dialog_view.h"

namespace pagorin::win32 {

// The bytes of an extended dialog template (DLGTEMPLATEEX and its items) for `dialog`, DWORD
// aligned as the dialog manager wants them; `visible` adds WS_VISIBLE to the dialog's style.
// Throws only std::bad_alloc.
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& dialog, bool visible);

class Win32Dialog final : public DialogView {
 public:
  // The controller must outlive the dialog.
  explicit Win32Dialog(DialogController& controller) noexcept;
  ~Win32Dialog() override;
  Win32Dialog(const Win32Dialog&) = delete;
  Win32Dialog& operator=(const Win32Dialog&) = delete;

  // Runs the dialog modally, owned by `owner` (nullptr for none); kIdOk or kIdCancel, and
  // kIdCancel when the dialog cannot be made.
  int RunModal(HWND owner) noexcept;
  // Creates the dialog modeless and hidden, owned by `owner`; its window or nullptr.
  HWND CreateHidden(HWND owner) noexcept;
  HWND window() const noexcept { return window_; }

  // DialogView.
  void SetWindowTitle(const std::string& title) override;
  void ShowMessage(const std::string& text) override;
  void EndDialog(int result) override;
  int RunChildDialog(DialogController& child) override;
  void SetTimer(int milliseconds) override;
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

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  void Dispatch(int id, DialogEvent event) noexcept;
  // The control `id` of this dialog, or nullptr.
  HWND Control(int id) const noexcept;
  bool IsButton(int id) const noexcept;

  DialogController& controller_;
  const DialogTemplate* template_;
  HWND window_ = nullptr;
  bool modal_ = false;
};

}  // namespace pagorin::win32

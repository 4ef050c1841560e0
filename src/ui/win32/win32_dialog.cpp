#include "ui/win32/win32_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <new>

#include "platform/code_page.h"

namespace pagorin::win32 {
namespace {

constexpr UINT kCodePage936 = 936;
constexpr UINT_PTR kTimerId = 1;
// Atoms of the predefined control classes in a dialog template.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboBoxAtom = 0x0085;

// UTF-8 (a template's text) to UTF-16.
std::wstring FromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), 0x3FFFFFFF));
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), size);
  return wide;
}

// Code page 936 (the model's texts) to UTF-16.
std::wstring FromModel(const std::string& text) {
  const std::u16string units = platform::Cp936ToUtf16(text);
  return std::wstring(units.begin(), units.end());
}

// UTF-16 to code page 936; a character the code page lacks becomes '?'.
std::string ToModel(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(kCodePage936, 0, text, length, nullptr, 0, "?", nullptr);
  std::string bytes(static_cast<std::size_t>(std::max(size, 0)), '\0');
  if (size > 0)
    WideCharToMultiByte(kCodePage936, 0, text, length, bytes.data(), size, "?", nullptr);
  return bytes;
}

void AppendWord(std::vector<WORD>& out, WORD value) {
  out.push_back(value);
}

void AppendDword(std::vector<WORD>& out, DWORD value) {
  out.push_back(LOWORD(value));
  out.push_back(HIWORD(value));
}

void AppendString(std::vector<WORD>& out, const std::wstring& text) {
  for (wchar_t unit : text)
    out.push_back(static_cast<WORD>(unit));
  out.push_back(0);
}

void AlignToDword(std::vector<WORD>& out) {
  if (out.size() % 2 != 0) out.push_back(0);
}

DWORD DialogStyleOf(std::uint32_t style) noexcept {
  DWORD native = 0;
  if ((style & dialog_style::kPopup) != 0) native |= WS_POPUP;
  if ((style & dialog_style::kCaption) != 0) native |= WS_CAPTION;
  if ((style & dialog_style::kSystemMenu) != 0) native |= WS_SYSMENU;
  if ((style & dialog_style::kModalFrame) != 0) native |= DS_MODALFRAME;
  if ((style & dialog_style::kSetFont) != 0) native |= DS_SETFONT;
  return native;
}

DWORD ControlStyleOf(const ControlTemplate& control) noexcept {
  namespace cs = control_style;
  DWORD style = WS_CHILD | WS_VISIBLE;
  if ((control.style & cs::kGroupStart) != 0) style |= WS_GROUP;
  if ((control.style & cs::kTabStop) != 0) style |= WS_TABSTOP;
  if ((control.style & cs::kBorder) != 0) style |= WS_BORDER;
  if ((control.style & cs::kVScroll) != 0) style |= WS_VSCROLL;
  switch (control.kind) {
    case ControlKind::kLabel:
      style |= SS_LEFT;
      break;
    case ControlKind::kGroupBox:
      style |= BS_GROUPBOX;
      break;
    case ControlKind::kPushButton:
      style |= BS_PUSHBUTTON;
      break;
    case ControlKind::kDefaultPushButton:
      style |= BS_DEFPUSHBUTTON;
      break;
    case ControlKind::kCheckBox:
      style |= BS_AUTOCHECKBOX;
      break;
    case ControlKind::kRadioButton:
      style |= BS_AUTORADIOBUTTON;
      break;
    case ControlKind::kEdit:
      style |= ES_LEFT;
      if ((control.style & cs::kAutoHScroll) != 0) style |= ES_AUTOHSCROLL;
      if ((control.style & cs::kMultiLine) != 0) style |= ES_MULTILINE | ES_WANTRETURN;
      break;
    case ControlKind::kDropDownList:
      style |= CBS_DROPDOWNLIST;
      break;
    case ControlKind::kListView:
      if ((control.style & cs::kReport) != 0) style |= LVS_REPORT;
      if ((control.style & cs::kSingleSelection) != 0) style |= LVS_SINGLESEL;
      if ((control.style & cs::kShowSelectionAlways) != 0) style |= LVS_SHOWSELALWAYS;
      break;
  }
  return style;
}

void EnsureCommonControls() noexcept {
  static const bool done = [] {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES;
    return InitCommonControlsEx(&controls) != 0;
  }();
  (void)done;
}

// The text of a window as code page 936.
std::string WindowText(HWND window) {
  if (window == nullptr) return {};
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  return ToModel(text.data(), copied);
}

}  // namespace

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& dialog, bool visible) {
  std::vector<WORD> out;
  out.reserve(512);
  AppendWord(out, 1);       // dlgVer
  AppendWord(out, 0xFFFF);  // signature: the extended form
  AppendDword(out, 0);      // helpID
  AppendDword(out, 0);      // exStyle
  AppendDword(out, DialogStyleOf(dialog.style) | (visible ? WS_VISIBLE : 0u));
  AppendWord(out, static_cast<WORD>(dialog.controls.size()));
  AppendWord(out, 0);  // x
  AppendWord(out, 0);  // y
  AppendWord(out, static_cast<WORD>(dialog.width));
  AppendWord(out, static_cast<WORD>(dialog.height));
  AppendWord(out, 0);  // no menu
  AppendWord(out, 0);  // the dialog class
  AppendString(out, FromUtf8(dialog.caption));
  if ((dialog.style & dialog_style::kSetFont) != 0) {
    AppendWord(out, static_cast<WORD>(dialog.fontPointSize));
    AppendWord(out, FW_NORMAL);
    AppendWord(out, static_cast<WORD>(GB2312_CHARSET << 8));  // italic 0, character set
    AppendString(out, FromUtf8(dialog.fontFace));
  }
  for (const ControlTemplate& control : dialog.controls) {
    AlignToDword(out);
    AppendDword(out, 0);  // helpID
    AppendDword(out, control.kind == ControlKind::kListView ? WS_EX_CLIENTEDGE : 0u);
    AppendDword(out, ControlStyleOf(control));
    AppendWord(out, static_cast<WORD>(control.rect.x));
    AppendWord(out, static_cast<WORD>(control.rect.y));
    AppendWord(out, static_cast<WORD>(control.rect.width));
    AppendWord(out, static_cast<WORD>(control.rect.height));
    AppendDword(out, static_cast<DWORD>(control.id));
    switch (control.kind) {
      case ControlKind::kLabel:
        AppendWord(out, 0xFFFF);
        AppendWord(out, kStaticAtom);
        break;
      case ControlKind::kEdit:
        AppendWord(out, 0xFFFF);
        AppendWord(out, kEditAtom);
        break;
      case ControlKind::kDropDownList:
        AppendWord(out, 0xFFFF);
        AppendWord(out, kComboBoxAtom);
        break;
      case ControlKind::kListView:
        AppendString(out, WC_LISTVIEWW);
        break;
      default:
        AppendWord(out, 0xFFFF);
        AppendWord(out, kButtonAtom);
        break;
    }
    AppendString(out, FromUtf8(control.text));
    AppendWord(out, 0);  // no creation data
  }
  return out;
}

Win32Dialog::Win32Dialog(DialogController& controller) noexcept
    : controller_(controller), template_(FindDialogTemplate(controller.TemplateId())) {}

Win32Dialog::~Win32Dialog() {
  if (window_ != nullptr && !modal_) DestroyWindow(window_);
}

int Win32Dialog::RunModal(HWND owner) noexcept {
  if (template_ == nullptr) return kIdCancel;
  try {
    EnsureCommonControls();
    const std::vector<WORD> bytes = BuildDialogTemplate(*template_, false);
    modal_ = true;
    const INT_PTR result = DialogBoxIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), owner,
        &Win32Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result == kIdOk ? kIdOk : kIdCancel;
  } catch (...) {
    return kIdCancel;
  }
}

HWND Win32Dialog::CreateHidden(HWND owner) noexcept {
  if (template_ == nullptr || window_ != nullptr) return nullptr;
  try {
    EnsureCommonControls();
    const std::vector<WORD> bytes = BuildDialogTemplate(*template_, false);
    modal_ = false;
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), owner,
                                      &Win32Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
  } catch (...) {
    return nullptr;
  }
}

INT_PTR CALLBACK Win32Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Win32Dialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->window_ = window;
  }
  auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  const INT_PTR handled = self->Handle(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    self->window_ = nullptr;
  }
  return handled;
}

INT_PTR Win32Dialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_INITDIALOG:
      try {
        controller_.Initialize(*this);
      } catch (...) {
        // Out of memory: the dialog shows what was set up so far.
      }
      return TRUE;
    case WM_COMMAND: {
      const int id = static_cast<int>(static_cast<short>(LOWORD(wParam)));
      const WORD code = HIWORD(wParam);
      // Enter and Escape arrive as clicks of OK and Cancel, also without such buttons; the
      // hidden window ignores them by its controller.
      if (code == BN_CLICKED && (id == kIdOk || id == kIdCancel || IsButton(id))) {
        Dispatch(id, DialogEvent::kClicked);
        return TRUE;
      }
      if (code == CBN_SELCHANGE) {
        Dispatch(id, DialogEvent::kSelectionChanged);
        return TRUE;
      }
      return FALSE;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header == nullptr) return FALSE;
      const int id = static_cast<int>(header->idFrom);
      if (header->code == NM_DBLCLK) {
        Dispatch(id, DialogEvent::kDoubleClicked);
        return TRUE;
      }
      if (header->code == LVN_KEYDOWN &&
          reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey == VK_DELETE) {
        Dispatch(id, DialogEvent::kDeleteKey);
        return TRUE;
      }
      return FALSE;
    }
    case WM_TIMER:
      if (wParam == kTimerId) {
        Dispatch(kNoControlId, DialogEvent::kTimer);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void Win32Dialog::Dispatch(int id, DialogEvent event) noexcept {
  try {
    controller_.Handle(id, event);
  } catch (...) {
    // Out of memory: the action is dropped, the dialog stays usable.
  }
}

HWND Win32Dialog::Control(int id) const noexcept {
  if (window_ == nullptr || template_ == nullptr || id == kNoControlId ||
      FindControl(*template_, id) == nullptr) {
    return nullptr;
  }
  return GetDlgItem(window_, id);
}

bool Win32Dialog::IsButton(int id) const noexcept {
  if (template_ == nullptr) return false;
  const ControlTemplate* control = FindControl(*template_, id);
  if (control == nullptr) return false;
  switch (control->kind) {
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton:
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton:
      return true;
    default:
      return false;
  }
}

void Win32Dialog::SetWindowTitle(const std::string& title) {
  if (window_ != nullptr) SetWindowTextW(window_, FromModel(title).c_str());
}

void Win32Dialog::ShowMessage(const std::string& text) {
  std::wstring caption;
  if (window_ != nullptr) {
    const int length = GetWindowTextLengthW(window_);
    caption.assign(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    caption.resize(
        static_cast<std::size_t>(std::max(GetWindowTextW(window_, caption.data(), length + 1), 0)));
  }
  MessageBoxW(window_, FromModel(text).c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
}

void Win32Dialog::EndDialog(int result) {
  if (window_ == nullptr) return;
  if (modal_) {
    ::EndDialog(window_, result);
  } else {
    ShowWindow(window_, SW_HIDE);
  }
}

int Win32Dialog::RunChildDialog(DialogController& child) {
  Win32Dialog dialog(child);
  return dialog.RunModal(window_);
}

void Win32Dialog::SetTimer(int milliseconds) {
  if (window_ == nullptr) return;
  if (milliseconds <= 0) {
    KillTimer(window_, kTimerId);
  } else {
    ::SetTimer(window_, kTimerId, static_cast<UINT>(milliseconds), nullptr);
  }
}

void Win32Dialog::SetText(int id, const std::string& text) {
  if (HWND control = Control(id)) SetWindowTextW(control, FromModel(text).c_str());
}

std::string Win32Dialog::GetText(int id) {
  return WindowText(Control(id));
}

void Win32Dialog::SetCheck(int id, int checked) {
  if (HWND control = Control(id)) {
    SendMessageW(control, BM_SETCHECK, checked != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

int Win32Dialog::GetCheck(int id) {
  HWND control = Control(id);
  return control != nullptr && SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void Win32Dialog::EnableControl(int id, bool enabled) {
  if (HWND control = Control(id)) EnableWindow(control, enabled ? TRUE : FALSE);
}

bool Win32Dialog::IsControlEnabled(int id) {
  HWND control = Control(id);
  return control != nullptr && IsWindowEnabled(control) != 0;
}

int Win32Dialog::AddComboItem(int id, const std::string& text, ItemData data) {
  HWND control = Control(id);
  if (control == nullptr) return -1;
  const LRESULT index =
      SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(FromModel(text).c_str()));
  if (index == CB_ERR || index == CB_ERRSPACE) {
    if (index == CB_ERRSPACE) throw std::bad_alloc();
    return -1;
  }
  SendMessageW(control, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
  return static_cast<int>(index);
}

int Win32Dialog::GetComboCount(int id) {
  HWND control = Control(id);
  return control != nullptr ? static_cast<int>(SendMessageW(control, CB_GETCOUNT, 0, 0)) : 0;
}

ItemData Win32Dialog::GetComboItemData(int id, int index) {
  HWND control = Control(id);
  if (control == nullptr || index < 0 || index >= GetComboCount(id)) return 0;
  return static_cast<ItemData>(
      SendMessageW(control, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

int Win32Dialog::GetComboSelection(int id) {
  HWND control = Control(id);
  return control != nullptr ? static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0)) : -1;
}

void Win32Dialog::SetComboSelection(int id, int index) {
  HWND control = Control(id);
  if (control == nullptr) return;
  if (index < 0 || index >= GetComboCount(id)) index = -1;
  SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32Dialog::SetListRowHeight(int id, int pixels) {
  HWND control = Control(id);
  if (control == nullptr || pixels <= 0) return;
  // A list view's rows are as high as its small images: an image list of blank images one pixel
  // wide sets the height. The list view owns it and destroys it with itself.
  HIMAGELIST images = ImageList_Create(1, pixels, ILC_COLOR, 1, 1);
  if (images == nullptr) return;
  HIMAGELIST previous = ListView_SetImageList(control, images, LVSIL_SMALL);
  if (previous != nullptr) ImageList_Destroy(previous);
}

void Win32Dialog::AddListExtendedStyles(int id, std::uint32_t styles) {
  // The model's list styles carry the list view's own values.
  if (HWND control = Control(id)) ListView_SetExtendedListViewStyleEx(control, styles, styles);
}

void Win32Dialog::InsertListColumn(int id, int column, const std::string& heading, int width,
                                   bool centred) {
  HWND control = Control(id);
  if (control == nullptr) return;
  std::wstring text = FromModel(heading);
  LVCOLUMNW item{};
  item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
  item.fmt = centred ? LVCFMT_CENTER : LVCFMT_LEFT;
  item.cx = width;
  item.pszText = text.data();
  item.iSubItem = column;
  SendMessageW(control, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
               reinterpret_cast<LPARAM>(&item));
}

int Win32Dialog::AppendListRow(int id, const std::string& text, ItemData data) {
  HWND control = Control(id);
  if (control == nullptr) return -1;
  std::wstring wide = FromModel(text);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = GetListRowCount(id);
  item.pszText = wide.data();
  item.lParam = static_cast<LPARAM>(data);
  const LRESULT row = SendMessageW(control, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  if (row < 0) throw std::bad_alloc();
  return static_cast<int>(row);
}

void Win32Dialog::SetListCell(int id, int row, int column, const std::string& text) {
  HWND control = Control(id);
  if (control == nullptr || row < 0 || row >= GetListRowCount(id)) return;
  std::wstring wide = FromModel(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  SendMessageW(control, LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&item));
}

std::string Win32Dialog::GetListCell(int id, int row, int column) {
  HWND control = Control(id);
  if (control == nullptr || row < 0 || row >= GetListRowCount(id)) return {};
  // The cell's length is unknown: the buffer grows until the text fits with room to spare.
  std::wstring buffer(256, L'\0');
  for (;;) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    const int length = static_cast<int>(SendMessageW(
        control, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    if (length < static_cast<int>(buffer.size()) - 1 || buffer.size() >= (1u << 20)) {
      return ToModel(buffer.data(), std::max(length, 0));
    }
    buffer.assign(buffer.size() * 4, L'\0');
  }
}

void Win32Dialog::SetListRowData(int id, int row, ItemData data) {
  HWND control = Control(id);
  if (control == nullptr || row < 0 || row >= GetListRowCount(id)) return;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = static_cast<LPARAM>(data);
  SendMessageW(control, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

ItemData Win32Dialog::GetListRowData(int id, int row) {
  HWND control = Control(id);
  if (control == nullptr || row < 0 || row >= GetListRowCount(id)) return 0;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (SendMessageW(control, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) == 0) return 0;
  return static_cast<ItemData>(item.lParam);
}

void Win32Dialog::DeleteListRow(int id, int row) {
  HWND control = Control(id);
  if (control == nullptr || row < 0 || row >= GetListRowCount(id)) return;
  SendMessageW(control, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
}

void Win32Dialog::DeleteAllListRows(int id) {
  if (HWND control = Control(id)) SendMessageW(control, LVM_DELETEALLITEMS, 0, 0);
}

int Win32Dialog::GetListRowCount(int id) {
  HWND control = Control(id);
  return control != nullptr ? static_cast<int>(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

int Win32Dialog::GetListSelection(int id) {
  HWND control = Control(id);
  if (control == nullptr) return -1;
  return static_cast<int>(
      SendMessageW(control, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void Win32Dialog::SelectListRow(int id, int row) {
  HWND control = Control(id);
  if (control == nullptr || row < 0 || row >= GetListRowCount(id)) return;
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(control, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&item));
  SendMessageW(control, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

}  // namespace pagorin::win32

// The module's dialog templates as data: for each dialog its caption, size, style and font, and
// its controls in template order (which is also the tab order) with id, kind, text, rectangle and
// styles. Every UI backend builds its dialogs from these tables.
//
// Texts here are UTF-8, unlike the rest of the module: they only ever go to a toolkit, which takes
// UTF-8 (Qt) or UTF-16 (the native dialog manager) and never code page 936. Texts that the dialog
// code sets or reads at run time go through the string table and the DialogView in code page 936.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "resources/dialog_ids.h"

namespace pagorin {

enum class ControlKind : std::uint8_t {
  kLabel,     // static text, left aligned
  kGroupBox,  // frame with an optional title; never takes input
  kPushButton,
  kDefaultPushButton,  // the button that Enter presses
  kCheckBox,           // automatic check box
  kRadioButton,        // automatic radio button; groups follow from kGroupStart
  kEdit,               // single-line unless kMultiLine
  kDropDownList,       // combo box that only picks from its list, unsorted
  kListView,           // list with rows and columns
};

// Control style bits.
namespace control_style {
// The control starts a group: radio buttons from a group start up to the next group start form
// one exclusive group.
inline constexpr std::uint32_t kGroupStart = 1u << 0;
// The control is reached with the Tab key.
inline constexpr std::uint32_t kTabStop = 1u << 1;
inline constexpr std::uint32_t kBorder = 1u << 2;
// Edit: the text scrolls horizontally instead of stopping at the right edge.
inline constexpr std::uint32_t kAutoHScroll = 1u << 3;
inline constexpr std::uint32_t kMultiLine = 1u << 4;
inline constexpr std::uint32_t kVScroll = 1u << 5;
// List view: report view (columns with a header).
inline constexpr std::uint32_t kReport = 1u << 6;
inline constexpr std::uint32_t kSingleSelection = 1u << 7;
// List view: the selection stays visible while the list has no focus.
inline constexpr std::uint32_t kShowSelectionAlways = 1u << 8;
}  // namespace control_style

// Dialog style bits as the native dialog manager knows them.
namespace dialog_style {
inline constexpr std::uint32_t kPopup = 0x80000000u;
inline constexpr std::uint32_t kCaption = 0x00C00000u;
inline constexpr std::uint32_t kSystemMenu = 0x00080000u;
inline constexpr std::uint32_t kModalFrame = 0x00000080u;
inline constexpr std::uint32_t kSetFont = 0x00000040u;
// Popup, caption, system menu, modal frame, set-font: 0x80C800C0.
inline constexpr std::uint32_t kStandard = kPopup | kCaption | kSystemMenu | kModalFrame | kSetFont;
}  // namespace dialog_style

// A rectangle in dialog units: horizontal units are a quarter of the font's average character
// width, vertical units an eighth of its height. For a drop-down list the height is that of the
// open list.
struct DialogRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct ControlTemplate {
  int id = kNoControlId;
  ControlKind kind = ControlKind::kLabel;
  std::string_view text;  // UTF-8; empty for none
  DialogRect rect;
  std::uint32_t style = 0;  // control_style bits
};

struct DialogTemplate {
  int id = 0;
  std::string_view caption;  // UTF-8; empty for none
  int width = 0;             // dialog units
  int height = 0;
  std::uint32_t style = 0;  // dialog_style bits
  std::string_view fontFace;
  int fontPointSize = 0;
  std::span<const ControlTemplate> controls;  // template order = tab order
};

// The template with `id`, or nullptr when the module has none.
const DialogTemplate* FindDialogTemplate(int id) noexcept;

// The control with `id` in `dialog`, or nullptr; kNoControlId finds nothing.
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) noexcept;

}  // namespace pagorin

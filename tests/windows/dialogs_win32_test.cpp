// The native dialogs under Wine: each control where its template puts it (dialog units through
// the dialog manager), with its id, class and text, and a click-through of the settings dialog
// that adds a phone and saves the configuration. A thread timer plays the user: it looks at the
// dialog on top and posts clicks to it, the way the dialog's own message loop delivers them.
#include <gtest/gtest.h>
#include <windows.h>
// after <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "resources/dialog_templates.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"
#include "ui/settings_dialog.h"
#include "ui/ui_factory.h"
#include "ui/win32/win32_dialog.h"

namespace pagorin::testing {
namespace {

// True when `window` shows `utf8` (compared as UTF-16, in fixed buffers).
bool ShowsText(HWND window, std::string_view utf8) {
  wchar_t expected[512] = {};
  wchar_t actual[512] = {};
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), expected, 511);
  GetWindowTextW(window, actual, 512);
  return lstrcmpW(expected, actual) == 0;
}

bool HasClass(HWND window, const wchar_t* name) {
  wchar_t buffer[64] = {};
  GetClassNameW(window, buffer, 64);
  return lstrcmpiW(buffer, name) == 0;
}

const wchar_t* ClassFor(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel:
      return L"Static";
    case ControlKind::kEdit:
      return L"Edit";
    case ControlKind::kDropDownList:
      return L"ComboBox";
    case ControlKind::kListView:
      return L"SysListView32";
    default:
      return L"Button";
  }
}

BOOL CALLBACK FindEnabledDialog(HWND window, LPARAM result) {
  if (HasClass(window, L"#32770") && IsWindowEnabled(window) && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
  }
  return TRUE;
}

// The enabled dialog of this thread on top of the others (a modal dialog disables its owner).
HWND TopDialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &FindEnabledDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

void Click(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Steps of a user, each run on the dialog on top when the previous one is done; a step returns
// false to be run again on the next tick. After the last step, or when the steps take too long,
// every dialog is cancelled.
class User {
 public:
  using Step = std::function<bool(HWND top)>;
  explicit User(std::vector<Step> steps) : steps_(std::move(steps)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 50, &User::Tick);
  }
  ~User() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  bool Finished() const { return next_ == steps_.size(); }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    User* user = current_;
    if (user == nullptr) return;
    HWND top = TopDialog();
    if (top == nullptr) return;
    if (++user->ticks_ > 200 || user->Finished()) {
      Click(top, kIdCancel);
      return;
    }
    if (user->steps_[user->next_](top)) ++user->next_;
  }

  static inline User* current_ = nullptr;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  int ticks_ = 0;
  UINT_PTR timer_ = 0;
};

// The dialog's template id, told by a control only that template has.
bool Shows(HWND dialog, int controlId) {
  return GetDlgItem(dialog, controlId) != nullptr;
}

// What differs between `dialog` and its template: missing controls, wrong classes, places
// (dialog units converted by the dialog manager) and button texts.
std::vector<std::string> LayoutProblems(HWND dialog, const DialogTemplate& layout) {
  std::vector<std::string> problems;
  for (const ControlTemplate& control : layout.controls) {
    if (control.id == kNoControlId) continue;
    const std::string name = std::to_string(layout.id) + "/" + std::to_string(control.id);
    HWND window = GetDlgItem(dialog, control.id);
    if (window == nullptr) {
      problems.push_back("no control " + name);
      continue;
    }
    if (!HasClass(window, ClassFor(control.kind))) problems.push_back("class of " + name);
    // The dialog manager converts position and size each on its own.
    RECT expected{control.rect.x, control.rect.y, control.rect.width, control.rect.height};
    MapDialogRect(dialog, &expected);
    expected.right += expected.left;
    expected.bottom += expected.top;
    RECT actual{};
    GetWindowRect(window, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    // A drop-down list is as high as its closed box; the template gives the open list.
    const bool heightCounts = control.kind != ControlKind::kDropDownList;
    if (actual.left != expected.left || actual.top != expected.top ||
        actual.right != expected.right || (heightCounts && actual.bottom != expected.bottom)) {
      problems.push_back("place of " + name);
    }
    const bool showsTemplateText = control.kind == ControlKind::kPushButton ||
                                   control.kind == ControlKind::kDefaultPushButton ||
                                   control.kind == ControlKind::kCheckBox ||
                                   control.kind == ControlKind::kRadioButton;
    if (showsTemplateText && !ShowsText(window, control.text))
      problems.push_back("text of " + name);
  }
  return problems;
}

// A dialog without behaviour beyond closing, to look at a template's controls.
class BareDialog final : public DialogController {
 public:
  explicit BareDialog(int templateId) : templateId_(templateId) {}
  int TemplateId() const noexcept override { return templateId_; }

 private:
  void OnInitDialog() override {}
  void OnEvent(int controlId, DialogEvent event) override {
    if (event == DialogEvent::kClicked && (controlId == kIdOk || controlId == kIdCancel))
      view().EndDialog(controlId);
  }
  int templateId_;
};

TEST(DialogsWin32, EveryTemplateIsDrawnWithItsControlsWhereItPutsThem) {
  int dialogs = 0;
  for (int id = kSettingsDialogId; id < kSettingsDialogId + 100; ++id) {
    const DialogTemplate* layout = FindDialogTemplate(id);
    if (layout == nullptr || id == kPluginWindowId) continue;
    SCOPED_TRACE(id);
    ++dialogs;
    BareDialog controller(id);
    win32::Win32Dialog dialog(controller);
    std::vector<std::string> problems;
    User user({[&](HWND top) {
      problems = LayoutProblems(top, *layout);
      if (!ShowsText(top, layout->caption)) problems.push_back("caption");
      Click(top, kIdCancel);
      return true;
    }});
    EXPECT_EQ(dialog.RunModal(nullptr), kIdCancel);
    EXPECT_TRUE(user.Finished());
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
  }
  EXPECT_GE(dialogs, 5);
}

TEST(DialogsWin32, TheSettingsControllerFillsTheNativeControls) {
  Configuration config;
  RecordingHost host;
  SettingsDialog controller(config, host);
  win32::Win32Dialog dialog(controller);
  int comboItems = 0;
  int columns = 0;
  User user({[&](HWND top) {
    comboItems = static_cast<int>(SendDlgItemMessageW(top, 3002, CB_GETCOUNT, 0, 0));
    HWND header = reinterpret_cast<HWND>(SendDlgItemMessageW(top, 3000, LVM_GETHEADER, 0, 0));
    columns =
        header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    Click(top, kIdCancel);
    return true;
  }});
  EXPECT_EQ(dialog.RunModal(nullptr), kIdCancel);
  EXPECT_TRUE(user.Finished());
  // Ports to choose and the phone list's columns, set through the view.
  EXPECT_GT(comboItems, 1);
  EXPECT_GE(columns, 2);
}

// The dialogs by a control that only they have.
bool IsSettings(HWND top) {
  return Shows(top, 3033) && !Shows(top, 3035);
}
bool IsPhoneEdit(HWND top) {
  return Shows(top, 3008) && !Shows(top, 3033);
}
bool IsRule(HWND top) {
  return Shows(top, 3035);
}
bool IsPhonePick(HWND top) {
  return Shows(top, 3007);
}

TEST(DialogsWin32, AddingAPhoneAndARuleAndPressingOkWritesTheConfiguration) {
  TempDir folder;
  Configuration config;
  config.configPath = folder.File("Kestrova_Configure.ini");
  RecordingHost host;
  SettingsDialog controller(config, host);
  win32::Win32Dialog dialog(controller);

  int phoneRows = -1;
  int rulePhoneRows = -1;
  int ruleRows = -1;
  User user({
      [](HWND top) {
        if (!IsSettings(top)) return false;
        Click(top, 3028);  // add a phone
        return true;
      },
      [](HWND top) {
        if (!IsPhoneEdit(top)) return false;
        SetDlgItemTextW(top, 3008, L"13800138000");
        SetDlgItemTextW(top, 3009, L"\u503C\u73ED\u5BA4");  // 值班室
        Click(top, kIdOk);
        return true;
      },
      [&](HWND top) {
        if (!IsSettings(top)) return false;
        phoneRows = static_cast<int>(SendDlgItemMessageW(top, 3000, LVM_GETITEMCOUNT, 0, 0));
        Click(top, 3033);  // add a rule
        return true;
      },
      [](HWND top) {
        if (!IsRule(top)) return false;
        SetDlgItemTextW(top, 3009, L"Tank1.PV");
        SetDlgItemTextW(top, 3011, L"\u6DB2\u4F4D");  // 液位
        Click(top, 3029);                             // a phone for the rule
        return true;
      },
      [](HWND top) {
        if (!IsPhonePick(top)) return false;
        SendDlgItemMessageW(top, 3007, CB_SETCURSEL, 0, 0);
        Click(top, kIdOk);
        return true;
      },
      [&](HWND top) {
        if (!IsRule(top)) return false;
        rulePhoneRows = static_cast<int>(SendDlgItemMessageW(top, 3000, LVM_GETITEMCOUNT, 0, 0));
        Click(top, kIdOk);
        return true;
      },
      [&](HWND top) {
        if (!IsSettings(top)) return false;
        ruleRows = static_cast<int>(SendDlgItemMessageW(top, 3001, LVM_GETITEMCOUNT, 0, 0));
        Click(top, kIdOk);
        return true;
      },
  });
  EXPECT_EQ(dialog.RunModal(nullptr), kIdOk);
  EXPECT_TRUE(user.Finished());
  EXPECT_EQ(phoneRows, 1);
  EXPECT_EQ(rulePhoneRows, 1);
  EXPECT_EQ(ruleRows, 1);
  ASSERT_EQ(config.phoneBook.size(), 1u);
  EXPECT_EQ(config.phoneBook[0]->TelNum, "13800138000");
  EXPECT_EQ(config.phoneBook[0]->Desc, "\xD6\xB5\xB0\xE0\xCA\xD2");  // 值班室 in code page 936
  ASSERT_EQ(config.alarmRules.size(), 1u);
  EXPECT_EQ(config.alarmRules[0]->VarName, "Tank1.PV");
  EXPECT_EQ(config.alarmRules[0]->TelPlace, std::vector<int>{0});

  HANDLE file = CreateFileA(config.configPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << config.configPath;
  char bytes[8192] = {};
  DWORD read = 0;
  ReadFile(file, bytes, sizeof bytes - 1, &read, nullptr);
  CloseHandle(file);
  const std::string written(bytes, read);
  EXPECT_NE(written.find("TelNum=\"13800138000\""), std::string::npos) << written;
  EXPECT_NE(written.find("VarName=\"Tank1.PV\""), std::string::npos) << written;
  EXPECT_NE(written.find("TelPlace0=\"0\""), std::string::npos) << written;
}

// The factory of a Windows build: the settings dialog owned by the host's main window, and the
// plug-in's hidden window a real window that is never shown and goes when it is destroyed.
TEST(DialogsWin32, TheFactoryOwnsTheSettingsByTheHostsWindowAndMakesAHiddenWindow) {
  HWND mainWindow = CreateWindowExW(0, L"Static", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                    nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(mainWindow, nullptr);
  Configuration config;
  RecordingHost host;
  host.mainWindow = mainWindow;
  HWND owner = nullptr;
  User user({[&](HWND top) {
    owner = GetWindow(top, GW_OWNER);
    Click(top, kIdCancel);
    return true;
  }});
  EXPECT_EQ(GetUiFactory().RunSettingsDialog(config, host, nullptr), 0);
  EXPECT_TRUE(user.Finished());
  EXPECT_EQ(owner, mainWindow);

  void* hidden = GetUiFactory().CreateHiddenWindow(mainWindow);
  ASSERT_NE(hidden, nullptr);
  HWND window = static_cast<HWND>(hidden);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(IsWindowVisible(window));
  // Enter does not close it.
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(kIdOk, BN_CLICKED), 0);
  EXPECT_TRUE(IsWindow(window));
  GetUiFactory().DestroyHiddenWindow(hidden);
  EXPECT_FALSE(IsWindow(window));
  DestroyWindow(mainWindow);
}

}  // namespace
}  // namespace pagorin::testing

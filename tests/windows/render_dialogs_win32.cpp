// Draws each native dialog (frame, caption and controls, as the system's dialog manager shows
// it) into a PNG file, over a fresh configuration and over a demo configuration, so that the
// layout and the Chinese texts can be looked at. Needs a display (under Wine: a virtual X server).
//
//   render_dialogs_win32 FOLDER [CONFIGURATION]
//
// CONFIGURATION is a project's Kestrova_Configure.ini in code page 936; without it only the
// fresh pictures are made.
#include <windows.h>
// GDI+ wants what the lean <windows.h> of this build leaves out: the COM object types, and
// min and max.
#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "config/configuration.h"
#include "markup/markup_document.h"
#include "platform/code_page.h"
#include "ui/fake_host.h"
#include "ui/fake_send_records.h"
#include "ui/phone_dialogs.h"
#include "ui/rule_dialog.h"
#include "ui/send_record_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/win32/win32_dialog.h"

namespace {

using pagorin::AlarmRule;
using pagorin::Configuration;
using pagorin::DialogController;
using pagorin::PhoneEntry;
using pagorin::win32::Win32Dialog;

// The PNG encoder of GDI+.
constexpr CLSID kPngEncoder = {
    0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

int failures = 0;
std::wstring folder;

// What Render does once the dialog is up: prepare it, copy it from the screen, close it.
struct Pending {
  std::function<void(Win32Dialog&)> prepare;
  Win32Dialog* dialog = nullptr;
  std::wstring path;
  int ticks = 0;
};
Pending* pending = nullptr;

bool SavePng(HWND window, const std::wstring& path) {
  RECT frame{};
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied =
      BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY) != 0;
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  bool saved = false;
  if (copied) {
    Gdiplus::Bitmap image(bitmap, nullptr);
    saved = image.Save(path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
  }
  DeleteObject(bitmap);
  if (saved) std::printf("%ls  %dx%d\n", path.c_str(), width, height);
  return saved;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  Pending* job = pending;
  if (job == nullptr || job->dialog == nullptr) return;
  HWND window = job->dialog->window();
  if (window == nullptr || !IsWindowVisible(window)) return;
  ++job->ticks;
  if (job->ticks == 1) {
    if (job->prepare) job->prepare(*job->dialog);
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return;
  }
  // A few ticks later everything is painted.
  if (job->ticks < 6) return;
  if (!SavePng(window, job->path)) {
    std::fprintf(stderr, "cannot write %ls\n", job->path.c_str());
    ++failures;
  }
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(pagorin::kIdCancel, BN_CLICKED), 0);
  job->dialog = nullptr;
}

void Render(const wchar_t* name, DialogController& controller,
            std::function<void(Win32Dialog&)> prepare = {}) {
  Win32Dialog dialog(controller);
  Pending job{std::move(prepare), &dialog, folder + L"\\" + name};
  pending = &job;
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, &Tick);
  dialog.RunModal(nullptr);
  KillTimer(nullptr, timer);
  pending = nullptr;
}

std::string Cp(const char* utf8) {
  return pagorin::platform::Utf8ToCp936(utf8);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: render_dialogs_win32 FOLDER [CONFIGURATION]\n");
    return 2;
  }
  // The script passes folders and files with ASCII paths.
  folder.assign(argv[1], argv[1] + std::strlen(argv[1]));
  CreateDirectoryW(folder.c_str(), nullptr);
  Gdiplus::GdiplusStartupInput startup;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &startup, nullptr) != Gdiplus::Ok) return 1;

  pagorin::testing::DialogTestHost host;
  {
    Configuration config;
    pagorin::SettingsDialog settings(config, host);
    Render(L"3000_settings_fresh_win32.png", settings);
    AlarmRule rule;
    pagorin::PhonePickDialog pick(config, 0, rule);
    Render(L"3003_phone_pick_fresh_win32.png", pick);
    PhoneEntry entry;
    pagorin::PhoneEditDialog edit(config, entry);
    Render(L"3004_phone_edit_fresh_win32.png", edit);
    pagorin::RuleDialog ruleDialog(config, host, rule);
    Render(L"3005_rule_fresh_win32.png", ruleDialog);
  }
  if (argc > 2) {
    pagorin::testing::ConfigurationWithRecords config;
    config.configPath = argv[2];
    pagorin::MarkupDocument document;
    pagorin::LoadConfiguration(config, document);
    std::printf("demo configuration: %zu phones, %zu rules\n", config.phoneBook.size(),
                config.alarmRules.size());
    config.configPath.clear();
    if (config.phoneBook.size() >= 2 && !config.alarmRules.empty()) {
      pagorin::SettingsDialog settings(config, host);
      Render(L"3000_settings_demo_win32.png", settings, [](Win32Dialog& dialog) {
        dialog.SelectListRow(pagorin::settings_ids::kPhoneList, 1);
        dialog.SelectListRow(pagorin::settings_ids::kRuleList, 1);
      });
      pagorin::PhoneEditDialog edit(config, *config.phoneBook[1]);
      Render(L"3004_phone_edit_demo_win32.png", edit);
      pagorin::RuleDialog rule(config, host, *config.alarmRules[0]);
      Render(L"3005_rule_demo_win32.png", rule);
      pagorin::SendRecordRow row;
      row.time = "2026-12-08 20:39:12";
      row.number = config.phoneBook[0]->TelNum;
      row.name = config.phoneBook[0]->Desc;
      row.text = Cp("泵站停机");
      row.state = Cp("已发送");
      row.detail = "22";
      config.rows.push_back(row);
      config.status = Cp("串口已打开  信号 -71 dBm");
      pagorin::SendRecordDialog record(config, config);
      Render(L"3006_send_record_demo_win32.png", record);
    }
  }
  Gdiplus::GdiplusShutdown(token);
  return failures == 0 ? 0 : 1;
}

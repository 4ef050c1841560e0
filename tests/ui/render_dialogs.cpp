// Renders each dialog of the module to a PNG file, once over a fresh configuration and once over
// a demo configuration, so that the layout and the Chinese texts can be looked at without a
// display. Each picture carries a strip with the window title above the dialog's client area.
//
//   render_dialogs [folder [configuration-file]]
//
// The folder defaults to $PAGORIN_DIALOG_PNG_DIR, else to the build folder. The demo pictures
// show the given configuration file (a project's Kestrova_Configure.ini), else a built-in demo
// configuration; a file named *.utf8.ini is read as UTF-8. Runs on the offscreen platform when
// there is no display.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTableWidget>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "config/configuration.h"
#include "markup/markup_document.h"
#include "platform/code_page.h"
#include "ui/fake_host.h"
#include "ui/fake_send_records.h"
#include "ui/phone_dialogs.h"
#include "ui/plugin_window_dialog.h"
#include "ui/qt/qt_dialog.h"
#include "ui/rule_dialog.h"
#include "ui/send_record_dialog.h"
#include "ui/settings_dialog.h"

#ifndef PAGORIN_RENDER_DEFAULT_DIR
#define PAGORIN_RENDER_DEFAULT_DIR "."
#endif

namespace {

using pagorin::AlarmRule;
using pagorin::Configuration;
using pagorin::DialogController;
using pagorin::PhoneEntry;

std::string Cp(const char* utf8) {
  return pagorin::platform::Utf8ToCp936(utf8);
}

void AddPhone(Configuration& config, const char* number, const char* desc) {
  auto entry = std::make_unique<PhoneEntry>();
  entry->TelNum = number;
  entry->Desc = Cp(desc);
  config.phoneBook.push_back(std::move(entry));
}

AlarmRule& AddRule(Configuration& config, const char* varName, std::vector<int> places,
                   const char* desc) {
  auto rule = std::make_unique<AlarmRule>();
  rule->VarName = varName;
  rule->TelPlace = std::move(places);
  rule->Desc = Cp(desc);
  config.alarmRules.push_back(std::move(rule));
  return *config.alarmRules.back();
}

// Three phone entries with Chinese descriptions and rules of both text formats.
void FillDemo(Configuration& config) {
  AddPhone(config, "13800138000", "值班室张工");
  AddPhone(config, "13912345678", "泵房李师傅");
  AddPhone(config, "15088886666", "厂长");
  AddRule(config, "Tank1.PV", {0, 1}, "一号储罐液位");
  AlarmRule& pressure = AddRule(config, "Boiler.Pressure", {0, 1, 2}, "锅炉压力");
  pressure.Value = 1;
  pressure.ValueLimit = 1;
  pressure.User = 1;
  pressure.Ll = 0;
  pressure.Lo = 0;
  AlarmRule& pump = AddRule(config, "Pump3.Status", {2}, "三号泵故障");
  pump.Format = 1;
  pump.Logic = 1;
  pump.Script = Cp("三号泵停机,请尽快处理!");
  AddRule(config, "Flow.Total", {}, "");
  config.Com = 1;
  config.Baund = 5;
}

// A row to `number` with `name`; a number of the built-in demo stands for the phone-book entry
// at the same place in the configuration shown, so that the names match its phone book.
void SendRecordRowOf(pagorin::testing::ConfigurationWithRecords& records, const char* number,
                     const char* name, const char* const (&demoNumbers)[3]) {
  pagorin::SendRecordRow row;
  row.number = number;
  row.name = Cp(name);
  for (std::size_t i = 0; i < 3 && i < records.phoneBook.size(); ++i) {
    if (row.number == demoNumbers[i]) {
      row.number = records.phoneBook[i]->TelNum;
      row.name = records.phoneBook[i]->Desc;
    }
  }
  records.rows.push_back(std::move(row));
}

// The messages of a waterworks run, newest first, as the send record lists them: one waiting
// after a passing failure, one just sent whose report is still out, the status reports' verdicts
// (delivered with the time, undelivered with the reason, none within the wait of an hour), a
// failure and a refusal.
void FillSendRecord(pagorin::testing::ConfigurationWithRecords& records) {
  struct Row {
    const char* time;
    const char* number;
    const char* name;
    const char* text;
    const char* state;
    const char* detail;
  };
  const char* const shutdown = "泵站停机检修,预计两小时后恢复供水";
  const char* const pressure = "1号泵出口压力报警:高高报,紧急,未确认,";
  const char* const level = "清水池液位报警:高报,高级,未确认,数值4.6,限值4.5,用户张工";
  const Row rows[] = {
      {"2026-12-08 21:41:07", "15088886666", "厂长", "进水闸门开度过低,请到现场检查", "等待发送",
       "+CMS ERROR: 42 网络拥塞"},
      {"2026-12-08 21:40:55", "13912345678", "泵房李师傅",
       "短信报警测试:收到本短信说明短信报警工作正常。", "已发送", "28"},
      {"2026-12-08 21:39:12", "13567890123", "", shutdown, "未送达 号码不存在", "27"},
      {"2026-12-08 21:39:12", "13912345678", "泵房李师傅", shutdown, "已送达 21:39:19", "26"},
      {"2026-12-08 21:39:12", "13800138000", "值班室张工", shutdown, "已送达 21:39:17", "25"},
      {"2026-12-08 20:52:30", "13912345678", "泵房李师傅",
       "1号泵报警:1号泵故障停机,请立即到现场检查", "已送达 20:52:41", "24"},
      {"2026-12-08 20:38:40", "15088886666", "厂长", pressure, "未送达 对方关机超时", "23"},
      {"2026-12-08 20:38:40", "13800138000", "值班室张工", pressure, "已发送,无回执", "22"},
      {"2026-12-08 20:37:02", "13912345678", "泵房李师傅", level, "发送失败",
       "+CMS ERROR: 331 无网络服务"},
      {"2026-12-08 20:37:02", "13800138000", "值班室张工", level, "已送达 20:37:09", "21"},
      {"2026-12-08 20:36:15", "1381234567", "", "手机没有费了!", "已拒绝", "手机号码无效"},
  };
  const char* demoNumbers[] = {"13800138000", "13912345678", "15088886666"};
  for (const Row& row : rows) {
    SendRecordRowOf(records, row.number, row.name, demoNumbers);
    records.rows.back().time = row.time;
    records.rows.back().text = Cp(row.text);
    records.rows.back().state = Cp(row.state);
    records.rows.back().detail = Cp(row.detail);
  }
  records.status = Cp("串口已打开  信号 -71 dBm  最近故障:+CMS ERROR: 42 网络拥塞");
}

int failures = 0;

// Shows the dialog of `controller`, lets `prepare` act on it, and saves the picture as `name`.
void Render(const QString& folder, const QString& name, DialogController& controller,
            const std::function<void(pagorin::qt::QtDialog&)>& prepare = {}) {
  pagorin::qt::QtDialog dialog(controller, nullptr);
  if (prepare) prepare(dialog);
  dialog.show();
  QApplication::processEvents();
  const QPixmap client = dialog.grab();
  dialog.hide();

  const QFontMetrics metrics(dialog.font());
  const int strip = metrics.height() + 10;
  QImage picture(client.width(), client.height() + strip, QImage::Format_ARGB32);
  picture.fill(QColor(0x2B, 0x57, 0x9A));
  QPainter painter(&picture);
  painter.setFont(dialog.font());
  painter.setPen(Qt::white);
  painter.drawText(QRect(8, 0, client.width() - 16, strip), Qt::AlignVCenter | Qt::AlignLeft,
                   dialog.windowTitle());
  painter.drawPixmap(0, strip, client);
  painter.end();

  const QString path = QDir(folder).filePath(name);
  if (picture.save(path, "PNG")) {
    std::printf("%s  %dx%d\n", path.toLocal8Bit().constData(), client.width(), client.height());
  } else {
    std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
    ++failures;
  }
}

}  // namespace

int main(int argc, char** argv) {
  QString folder = QString::fromLocal8Bit(PAGORIN_RENDER_DEFAULT_DIR);
  if (const char* fromEnvironment = std::getenv("PAGORIN_DIALOG_PNG_DIR")) {
    folder = QString::fromLocal8Bit(fromEnvironment);
  }
  if (argc > 1) folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "cannot create %s\n", folder.toLocal8Bit().constData());
    return 1;
  }
  if (!pagorin::qt::EnsureApplication()) return 1;

  pagorin::testing::DialogTestHost host;
  {
    const pagorin::DialogTemplate& font = *pagorin::FindDialogTemplate(pagorin::kSettingsDialogId);
    const QFont dialogFont = pagorin::qt::DialogFont(font);
    const pagorin::qt::DialogUnits units(dialogFont);
    std::printf("font %s %dpt, base units %d x %d\n",
                QFontInfo(dialogFont).family().toUtf8().constData(), dialogFont.pointSize(),
                units.baseWidth(), units.baseHeight());
  }

  // A fresh configuration.
  {
    Configuration config;
    pagorin::SettingsDialog settings(config, host);
    Render(folder, "3000_settings_fresh.png", settings);
    pagorin::PluginWindowDialog window;
    Render(folder, "3001_plugin_window.png", window);
    AlarmRule rule;
    pagorin::PhonePickDialog pick(config, 0, rule);
    Render(folder, "3003_phone_pick_fresh.png", pick);
    PhoneEntry entry;
    pagorin::PhoneEditDialog edit(config, entry);
    Render(folder, "3004_phone_edit_fresh.png", edit);
    pagorin::RuleDialog ruleDialog(config, host, rule);
    Render(folder, "3005_rule_fresh.png", ruleDialog);
  }

  // The demo configuration, with rows selected as a user would have them, and a send record as
  // a waterworks run leaves it: alarm and script messages sent, delivered and undelivered, one
  // failed, one still waiting.
  {
    pagorin::testing::ConfigurationWithRecords config;
    if (argc > 2) {
      config.configPath = argv[2];
      // An example project keeps its configuration in UTF-8 ("*.utf8.ini"); the module reads
      // code page 936, so such a file is converted into the picture folder first.
      const std::string source = argv[2];
      const std::string utf8Suffix = ".utf8.ini";
      if (source.size() > utf8Suffix.size() &&
          source.compare(source.size() - utf8Suffix.size(), utf8Suffix.size(), utf8Suffix) == 0) {
        std::ifstream in(source, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        config.configPath = QDir(folder).filePath("demo_configuration.ini").toStdString();
        std::ofstream(config.configPath, std::ios::binary | std::ios::trunc)
            << pagorin::platform::Utf8ToCp936(text);
      }
      pagorin::MarkupDocument document;
      pagorin::LoadConfiguration(config, document);
      std::printf("demo configuration from %s: %zu phones, %zu rules\n", argv[2],
                  config.phoneBook.size(), config.alarmRules.size());
      config.configPath.clear();
    }
    // The pictures need three phone entries and three rules at least.
    if (config.phoneBook.size() < 3 || config.alarmRules.size() < 3) {
      config.ClearPhoneBook();
      config.ClearAlarmRules();
      FillDemo(config);
    }
    pagorin::SettingsDialog settings(config, host);
    Render(folder, "3000_settings_demo.png", settings, [](pagorin::qt::QtDialog& dialog) {
      dialog.SelectListRow(pagorin::settings_ids::kPhoneList, 1);
      dialog.SelectListRow(pagorin::settings_ids::kRuleList, 1);
    });
    pagorin::PhonePickDialog phonePick(config, 1, *config.alarmRules[0]);
    Render(folder, "3003_phone_pick_demo.png", phonePick);
    pagorin::PhoneEditDialog edit(config, *config.phoneBook[1]);
    Render(folder, "3004_phone_edit_demo.png", edit);
    // One rule of each text format, the one with the most phone entries.
    const auto pick = [&](int format) -> AlarmRule& {
      AlarmRule* found = nullptr;
      for (const auto& rule : config.alarmRules) {
        if (rule->Format != format) continue;
        if (found == nullptr || rule->TelPlace.size() > found->TelPlace.size()) {
          found = rule.get();
        }
      }
      return found != nullptr ? *found : *config.alarmRules[0];
    };
    pagorin::RuleDialog pressure(config, host, pick(0));
    Render(folder, "3005_rule_demo_default_format.png", pressure,
           [](pagorin::qt::QtDialog& dialog) {
             dialog.SelectListRow(pagorin::rule_ids::kPhoneList, 0);
           });
    pagorin::RuleDialog pump(config, host, pick(1));
    Render(folder, "3005_rule_demo_custom_format.png", pump);

    FillSendRecord(config);
    pagorin::SendRecordDialog record(config, config);
    Render(folder, "3006_send_record_demo.png", record, [](pagorin::qt::QtDialog& dialog) {
      dialog.SetComboSelection(pagorin::send_record_ids::kTestPhoneCombo, 1);
      dialog.SetText(pagorin::send_record_ids::kTestOutcome, Cp("测试短信已发送,参考号 28"));
    });
  }
  return failures == 0 ? 0 : 1;
}

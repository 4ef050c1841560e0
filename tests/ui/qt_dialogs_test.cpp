// The Qt backend driven as a user would, on the offscreen platform: modal dialogs are acted on
// from the event loop they run (a zero-time timer that waits for the expected dialog to be the
// active modal window).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <cstdlib>
#include <functional>

#include "config/configuration.h"
#include "resources/dialog_templates.h"
#include "support/temp_dir.h"
#include "ui/dialog_test_util.h"
#include "ui/fake_host.h"
#include "ui/qt/qt_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/ui_factory.h"

namespace pagorin {
namespace {

using testing::AddPhone;
using testing::AddRule;
using testing::Cp;
using testing::DialogTestHost;

constexpr int kMessageBox = -1;

template <typename T>
T* Find(QWidget* dialog, int id) {
  T* widget = qobject_cast<T*>(qt::FindControlWidget(dialog, id));
  EXPECT_NE(widget, nullptr) << "control " << id;
  return widget;
}

void Click(QWidget* dialog, int id) {
  if (auto* button = Find<QAbstractButton>(dialog, id)) button->click();
}

void Type(QWidget* dialog, int id, const char* utf8) {
  if (auto* edit = Find<QLineEdit>(dialog, id)) edit->setText(QString::fromUtf8(utf8));
}

// Closes every open modal window so that a test that lost its way ends instead of hanging.
void CloseAllModals() {
  while (QWidget* modal = QApplication::activeModalWidget()) {
    auto* dialog = qobject_cast<QDialog*>(modal);
    if (dialog == nullptr) break;
    dialog->QDialog::done(kIdCancel);
    QApplication::processEvents();
  }
}

// Runs `action` once the active modal window is the dialog of `templateId` (kMessageBox for a
// message box).
void WhenModal(int templateId, std::function<void(QWidget*)> action, int attempts = 5000) {
  QTimer::singleShot(0, [templateId, action = std::move(action), attempts]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    const bool wanted = modal != nullptr && modal->isVisible() &&
                        (templateId == kMessageBox ? qobject_cast<QMessageBox*>(modal) != nullptr
                                                   : qt::TemplateIdOf(modal) == templateId);
    if (wanted) {
      action(modal);
    } else if (attempts > 0) {
      WhenModal(templateId, std::move(action), attempts - 1);
    } else {
      ADD_FAILURE() << "dialog " << templateId << " never became the active modal window";
      CloseAllModals();
    }
  });
}

// Accepts the message box that is about to open and records its text.
void ExpectMessage(std::string* text) {
  WhenModal(kMessageBox, [text](QWidget* modal) {
    auto* box = static_cast<QMessageBox*>(modal);
    *text = box->text().toStdString();
    box->button(QMessageBox::Ok)->click();
  });
}

class QtDialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ASSERT_TRUE(qt::EnsureApplication());
  }

  QtDialogs() { config.configPath = folder.File("Kestrova_Configure.ini"); }

  testing::TempDir folder;
  Configuration config;
  DialogTestHost host;
};

TEST_F(QtDialogs, AddAPhoneAndARuleThenConfirm) {
  std::string rejected;
  WhenModal(kSettingsDialogId, [&](QWidget* settings) {
    EXPECT_EQ(settings->windowTitle(), QString::fromUtf8("短消息发送设置"));
    WhenModal(kPhoneEditDialogId, [&](QWidget* edit) {
      EXPECT_EQ(edit->windowTitle(), QString::fromUtf8("增加手机号码"));
      Type(edit, phone_edit_ids::kNumberEdit, "1380013");
      ExpectMessage(&rejected);
      Click(edit, kIdOk);  // returns once the message box is closed
      Type(edit, phone_edit_ids::kNumberEdit, "13800138000");
      Type(edit, phone_edit_ids::kDescEdit, "值班室");
      Click(edit, kIdOk);
    });
    Click(settings, settings_ids::kAddPhone);
    auto* phones = Find<QTableWidget>(settings, settings_ids::kPhoneList);
    ASSERT_EQ(phones->rowCount(), 1);
    EXPECT_EQ(phones->item(0, 1)->text(), QString::fromUtf8("值班室"));

    WhenModal(kRuleDialogId, [&](QWidget* rule) {
      Type(rule, rule_ids::kVariableEdit, "Tank1.PV");
      Type(rule, rule_ids::kDescEdit, "一号罐");
      WhenModal(kPhonePickDialogId, [&](QWidget* pick) {
        auto* combo = Find<QComboBox>(pick, phone_pick_ids::kPhoneCombo);
        EXPECT_EQ(combo->currentText(), QString::fromUtf8("13800138000说明:值班室"));
        Click(pick, kIdOk);
      });
      Click(rule, rule_ids::kAddPhone);
      EXPECT_EQ(Find<QTableWidget>(rule, rule_ids::kPhoneList)->rowCount(), 1);
      Find<QCheckBox>(rule, rule_ids::kValueCheck)->click();
      Click(rule, kIdOk);
    });
    Click(settings, settings_ids::kAddRule);
    auto* rules = Find<QTableWidget>(settings, settings_ids::kRuleList);
    ASSERT_EQ(rules->rowCount(), 1);
    EXPECT_EQ(rules->item(0, 1)->text(), QStringLiteral("1"));

    auto* baud = Find<QComboBox>(settings, settings_ids::kBaudCombo);
    baud->setCurrentIndex(4);
    emit baud->activated(4);
    Click(settings, kIdOk);
  });

  EXPECT_EQ(GetUiFactory().RunSettingsDialog(config, host, nullptr), 1);
  EXPECT_EQ(rejected, "手机号输入错误!");
  ASSERT_EQ(config.phoneBook.size(), 1u);
  EXPECT_EQ(config.phoneBook[0]->TelNum, "13800138000");
  EXPECT_EQ(config.phoneBook[0]->Desc, Cp("值班室"));
  ASSERT_EQ(config.alarmRules.size(), 1u);
  EXPECT_EQ(config.alarmRules[0]->TelPlace, std::vector<int>{0});
  EXPECT_EQ(config.alarmRules[0]->Value, 1);
  EXPECT_EQ(config.Baund, 4);
  const std::string file = testing::ReadFileBytes(config.configPath);
  EXPECT_NE(file.find("13800138000"), std::string::npos) << file;
  EXPECT_NE(file.find(Cp("值班室")), std::string::npos) << file;
  EXPECT_NE(file.find("Tank1.PV"), std::string::npos) << file;
  EXPECT_NE(file.find(Cp("一号罐")), std::string::npos) << file;
}

TEST_F(QtDialogs, EscapeCancelsAndKeepsTheSerialSettings) {
  WhenModal(kSettingsDialogId, [&](QWidget* settings) {
    Find<QComboBox>(settings, settings_ids::kPortCombo)->setCurrentIndex(3);
    Find<QCheckBox>(settings, settings_ids::kSendCheck)->click();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(settings, &escape);
  });
  EXPECT_EQ(GetUiFactory().RunSettingsDialog(config, host, nullptr), 0);
  EXPECT_EQ(config.Com, 0);
  EXPECT_EQ(config.sendEnabled, 1);
  EXPECT_TRUE(testing::ReadFileBytes(config.configPath).empty());
}

TEST_F(QtDialogs, ListKeysAndDoubleClicksReachTheDialog) {
  AddPhone(config, "13800138000", "甲");
  AddRule(config, "Tank1.PV", {0});
  AddRule(config, "Tank2.PV", {0});
  int addDialogs = 0;
  WhenModal(kSettingsDialogId, [&](QWidget* settings) {
    auto* rules = Find<QTableWidget>(settings, settings_ids::kRuleList);
    rules->selectRow(0);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(rules, &del);
    EXPECT_EQ(rules->rowCount(), 1);
    EXPECT_EQ(rules->item(0, 0)->text(), QStringLiteral("Tank2.PV"));

    // A double click beside the rows clears the selection and opens the add dialog.
    auto* phones = Find<QTableWidget>(settings, settings_ids::kPhoneList);
    phones->selectRow(0);
    const QPoint empty(5, phones->viewport()->height() - 5);
    WhenModal(kPhoneEditDialogId, [&](QWidget* edit) {
      ++addDialogs;
      EXPECT_EQ(edit->windowTitle(), QString::fromUtf8("增加手机号码"));
      Click(edit, kIdCancel);
    });
    QMouseEvent press(QEvent::MouseButtonPress, empty, phones->viewport()->mapToGlobal(empty),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(phones->viewport(), &press);
    QMouseEvent twice(QEvent::MouseButtonDblClick, empty, phones->viewport()->mapToGlobal(empty),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(phones->viewport(), &twice);
    Click(settings, kIdCancel);
  });
  EXPECT_EQ(GetUiFactory().RunSettingsDialog(config, host, nullptr), 0);
  EXPECT_EQ(addDialogs, 1);
  ASSERT_EQ(config.alarmRules.size(), 1u);
  EXPECT_EQ(config.alarmRules[0]->VarName, "Tank2.PV");
}

TEST_F(QtDialogs, RuleDialogRadioGroupsAreSeparate) {
  AlarmRule& rule = AddRule(config, "Tank1.PV", {});
  rule.Logic = 1;
  host.compilingScripts.insert("a=1;\r\nb=2;");
  WhenModal(kSettingsDialogId, [&](QWidget* settings) {
    Find<QTableWidget>(settings, settings_ids::kRuleList)->selectRow(0);
    WhenModal(kRuleDialogId, [&](QWidget* dialog) {
      auto* text = Find<QPlainTextEdit>(dialog, rule_ids::kCustomTextEdit);
      EXPECT_FALSE(text->isEnabled());
      Find<QRadioButton>(dialog, rule_ids::kCustomFormatRadio)->click();
      EXPECT_TRUE(text->isEnabled());
      EXPECT_FALSE(Find<QCheckBox>(dialog, rule_ids::kValueCheck)->isEnabled());
      EXPECT_FALSE(Find<QRadioButton>(dialog, rule_ids::kDefaultFormatRadio)->isChecked());
      EXPECT_TRUE(Find<QRadioButton>(dialog, rule_ids::kAndLogicRadio)->isChecked());
      text->setPlainText(QStringLiteral("a=1;\nb=2;"));
      Click(dialog, kIdOk);
    });
    Click(settings, settings_ids::kModifyRule);
    Click(settings, kIdCancel);
  });
  GetUiFactory().RunSettingsDialog(config, host, nullptr);
  EXPECT_EQ(rule.Format, 1);
  EXPECT_EQ(rule.Logic, 1);
  // Lines of a multi-line text are kept with CR LF, as the native edit control gives them.
  EXPECT_EQ(rule.Script, "a=1;\r\nb=2;");
}

TEST_F(QtDialogs, DialogsAreLaidOutInDialogUnitsOfTheirFont) {
  SettingsDialog controller(config, host);
  qt::QtDialog dialog(controller, nullptr);
  const qt::DialogUnits units(dialog.font());
  EXPECT_EQ(dialog.width(), units.X(286));
  EXPECT_EQ(dialog.height(), units.Y(400));
  QWidget* add = qt::FindControlWidget(&dialog, settings_ids::kAddPhone);
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add->geometry(),
            QRect(units.X(8), units.Y(152), units.X(44) - units.X(8), units.Y(166) - units.Y(152)));
  // The font carries the Chinese glyphs: an ideograph is about twice as wide as a digit.
  const QFontMetrics metrics(dialog.font());
  EXPECT_TRUE(metrics.inFont(QChar(0x77ED)));  // 短
  EXPECT_GE(units.baseWidth() * 2, metrics.horizontalAdvance(QChar(0x77ED)));
}

TEST_F(QtDialogs, HiddenWindowIgnoresOkAndCancel) {
  UiFactory& factory = GetUiFactory();
  void* handle = factory.CreateHiddenWindow(nullptr);
  ASSERT_NE(handle, nullptr);
  auto* window = static_cast<QWidget*>(handle);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(qt::TemplateIdOf(window), kPluginWindowId);
  window->show();  // the size in dialog units is applied when the window is first shown
  EXPECT_EQ(window->size(),
            QSize(qt::DialogUnits(window->font()).X(340), qt::DialogUnits(window->font()).Y(254)));
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(window, &escape);
  static_cast<QDialog*>(window)->accept();
  EXPECT_TRUE(window->isVisible());
  QPointer<QWidget> watch(window);
  int unrelated = 0;
  factory.DestroyHiddenWindow(&unrelated);  // not a window of ours: ignored
  EXPECT_FALSE(watch.isNull());
  factory.DestroyHiddenWindow(handle);
  EXPECT_TRUE(watch.isNull());
  factory.DestroyHiddenWindow(handle);  // already gone: ignored
  factory.DestroyHiddenWindow(nullptr);
}

TEST_F(QtDialogs, AnyParentThatIsNotALiveWidgetIsIgnored) {
  QWidget owner;
  int notAWindow = 0;
  for (void* parent : {static_cast<void*>(&owner), static_cast<void*>(&notAWindow)}) {
    QWidget* seenParent = nullptr;
    WhenModal(kSettingsDialogId, [&](QWidget* settings) {
      seenParent = settings->parentWidget();
      Click(settings, kIdCancel);
    });
    EXPECT_EQ(GetUiFactory().RunSettingsDialog(config, host, parent), 0);
    EXPECT_EQ(seenParent, parent == &owner ? &owner : nullptr);
  }
}

// Each case runs in a fresh process (the application object is made once per process): the
// module makes the application object itself and ends on the offscreen platform instead of
// aborting when there is no display or the display cannot be reached.
void StartWithoutUsableDisplay(const char* display) {
  ::unsetenv("QT_QPA_PLATFORM");
  ::unsetenv("WAYLAND_DISPLAY");
  if (display == nullptr) {
    ::unsetenv("DISPLAY");
  } else {
    ::setenv("DISPLAY", display, 1);
  }
  const bool madeHere = QCoreApplication::instance() == nullptr && qt::EnsureApplication();
  void* window = GetUiFactory().CreateHiddenWindow(nullptr);
  const bool offscreen = QGuiApplication::platformName() == QStringLiteral("offscreen");
  GetUiFactory().DestroyHiddenWindow(window);
  std::exit(madeHere && window != nullptr && offscreen ? 0 : 1);
}

TEST(QtApplicationDeathTest, FallsBackToOffscreenWithoutADisplay) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartWithoutUsableDisplay(nullptr), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(StartWithoutUsableDisplay(":97"), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace pagorin

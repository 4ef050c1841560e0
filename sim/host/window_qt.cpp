#include "window_qt.h"

#include <stdlib.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPixmap>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace pagorin::sim {
namespace {

QString Q(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

const char* StateText(std::uint8_t state) {
  return state == kUnacknowledged ? "unacknowledged"
         : state == kAcknowledged ? "acknowledged"
                                  : "resumed";
}

}  // namespace

int RunWindow(SimHost& host, EventLog& log, const Scenario& scenario, HostOptions options, int argc,
              char** argv) {
  if (getenv("DISPLAY") == nullptr && getenv("WAYLAND_DISPLAY") == nullptr &&
      getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication app(argc, argv);
  // People watch a window: time runs at real speed unless they asked for another.
  if (options.speed < 0 && scenario.speed == 0) options.speed = 1;
  host.SetInteractive(true);

  QMainWindow window;
  window.setWindowTitle("veltrane-sim");
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  auto* clock = new QLabel;
  layout->addWidget(clock);
  auto* splitter = new QSplitter(Qt::Vertical);
  layout->addWidget(splitter, 1);

  auto* variables = new QTableWidget(0, 2);
  variables->setHorizontalHeaderLabels({"variable", "value (edit to change)"});
  variables->horizontalHeader()->setStretchLastSection(true);
  splitter->addWidget(variables);

  auto* alarmBox = new QWidget;
  auto* alarmLayout = new QVBoxLayout(alarmBox);
  auto* alarms = new QTableWidget(0, 5);
  alarms->setHorizontalHeaderLabels({"variable", "kind", "level", "state", "value"});
  alarms->setSelectionBehavior(QAbstractItemView::SelectRows);
  alarms->setEditTriggers(QAbstractItemView::NoEditTriggers);
  alarms->horizontalHeader()->setStretchLastSection(true);
  alarmLayout->addWidget(alarms);
  auto* buttons = new QHBoxLayout;
  auto* ackSelected = new QPushButton("Acknowledge selected");
  auto* ackAll = new QPushButton("Acknowledge all");
  auto* properties = new QPushButton("Plug-in properties...");
  buttons->addWidget(ackSelected);
  buttons->addWidget(ackAll);
  buttons->addStretch(1);
  buttons->addWidget(properties);
  alarmLayout->addLayout(buttons);
  splitter->addWidget(alarmBox);

  auto* messages = new QListWidget;
  splitter->addWidget(messages);
  window.setCentralWidget(central);
  window.resize(900, 700);

  log.SetListener(
      [messages](std::string_view event, const nlohmann::json&, std::string_view human) {
        static const std::string_view kShown[] = {"queued",
                                                  "delivered",
                                                  "refused",
                                                  "dropped",
                                                  "timeout",
                                                  "call",
                                                  "alarm_raised",
                                                  "alarm_resumed",
                                                  "alarm_acknowledged",
                                                  "alarm_cleared",
                                                  "say",
                                                  "error",
                                                  "expect_failed",
                                                  "history",
                                                  "modem_status",
                                                  "config_problem",
                                                  "config_save_failed",
                                                  "outbox_started"};
        for (auto shown : kShown) {
          if (event == shown) {
            messages->addItem(Q(std::string(human)));
            messages->scrollToBottom();
            return;
          }
        }
      });

  int code = host.Begin(scenario, options);
  if (code != 0) return code;

  bool editing = false;
  auto refresh = [&] {
    char text[64];
    std::snprintf(text, sizeof text, "simulated time %.1f s", host.SimSeconds());
    clock->setText(text);
    const auto& vars = host.GetPlant().Variables();
    editing = true;
    if (variables->rowCount() != static_cast<int>(vars.size())) {
      variables->setRowCount(static_cast<int>(vars.size()));
    }
    for (int row = 0; row < static_cast<int>(vars.size()); ++row) {
      const Variable& v = vars[static_cast<std::size_t>(row)];
      if (variables->item(row, 0) == nullptr) {
        auto* name = new QTableWidgetItem(Q(Utf8(v.name)));
        name->setFlags(name->flags() & ~Qt::ItemIsEditable);
        variables->setItem(row, 0, name);
      }
      QString value = v.type == kTextType ? Q(Utf8(v.text)) : QString::number(v.number);
      if (variables->item(row, 1) == nullptr) {
        variables->setItem(row, 1, new QTableWidgetItem(value));
      } else if (!variables->item(row, 1)->isSelected() &&
                 variables->item(row, 1)->text() != value) {
        variables->item(row, 1)->setText(value);
      }
    }
    editing = false;
    const auto& standing = host.GetPlant().Alarms();
    alarms->setRowCount(static_cast<int>(standing.size()));
    for (int row = 0; row < static_cast<int>(standing.size()); ++row) {
      const Alarm& a = standing[static_cast<std::size_t>(row)];
      alarms->setItem(row, 0, new QTableWidgetItem(Q(Utf8(a.variable))));
      alarms->setItem(row, 1, new QTableWidgetItem(KindName(a.kind)));
      alarms->setItem(row, 2, new QTableWidgetItem(QString::number(a.level)));
      alarms->setItem(row, 3, new QTableWidgetItem(StateText(a.ackState)));
      alarms->setItem(row, 4, new QTableWidgetItem(QString::number(static_cast<double>(a.value))));
    }
  };
  QObject::connect(variables, &QTableWidget::itemChanged, [&](QTableWidgetItem* item) {
    if (editing || item->column() != 1) return;
    QTableWidgetItem* name = variables->item(item->row(), 0);
    if (name == nullptr) return;
    host.SetVariableFromText(Cp936(name->text().toStdString()), item->text().toStdString());
  });
  QObject::connect(ackSelected, &QPushButton::clicked, [&] {
    const int row = alarms->currentRow();
    if (row < 0 || row >= static_cast<int>(host.GetPlant().Alarms().size())) return;
    host.AcknowledgeAlarms(host.GetPlant().Alarms()[static_cast<std::size_t>(row)].variable);
    refresh();
  });
  QObject::connect(ackAll, &QPushButton::clicked, [&] {
    host.AcknowledgeAlarms("all");
    refresh();
  });
  QObject::connect(properties, &QPushButton::clicked, [&] { host.OpenSettings(); });

  QTimer cycle;
  QObject::connect(&cycle, &QTimer::timeout, [&] {
    if (!host.StepOnce()) app.quit();
  });
  cycle.start(0);
  QTimer view;
  QObject::connect(&view, &QTimer::timeout, refresh);
  view.start(200);
  refresh();
  window.show();
  app.exec();
  refresh();
  // A picture of the window as the run ended, for documentation and checks without a display.
  if (const char* picture = getenv("VELTRANE_SIM_PICTURE")) window.grab().save(picture);
  cycle.stop();
  view.stop();
  host.End();
  log.SetListener(nullptr);
  return host.Finish();
}

}  // namespace pagorin::sim

#include "ui/qt/qt_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <string_view>

#include "platform/code_page.h"

namespace pagorin::qt {
namespace {

// Faces tried in order after the template's own; each carries the Chinese glyphs.
constexpr const char* kFallbackFaces[] = {"SimSun",
                                          "NSimSun",
                                          "WenQuanYi Micro Hei",
                                          "Noto Sans CJK SC",
                                          "Noto Sans SC",
                                          "Source Han Sans SC",
                                          "Droid Sans Fallback",
                                          "AR PL UMing CN"};

constexpr const char* kTemplateIdProperty = "pagorinTemplateId";

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The model holds code page 936; the toolkit UTF-16.
QString FromModel(const std::string& text) {
  return FromUtf8(platform::Cp936ToUtf8(text));
}

std::string ToModel(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return platform::Utf8ToCp936(
      std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

// A multi-line edit of the native toolkit separates lines with CR LF, and stored texts carry that
// form; the widget works with LF alone.
QString ToWidgetLines(QString text) {
  return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
QString FromWidgetLines(QString text) {
  return text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
}

int MulDiv(int value, int numerator, int denominator) noexcept {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

constexpr int kDataRole = Qt::UserRole;

}  // namespace

bool EnsureApplication() noexcept {
  try {
    if (QCoreApplication* existing = QCoreApplication::instance()) {
      return qobject_cast<QApplication*>(existing) != nullptr &&
             QThread::currentThread() == existing->thread();
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
      const bool x11 = std::getenv("DISPLAY") != nullptr;
      const bool wayland = std::getenv("WAYLAND_DISPLAY") != nullptr;
      // Qt tries the platforms of the list in order, so a display that cannot be reached ends
      // on the offscreen platform instead of aborting the process.
      const char* platforms = wayland ? "wayland;xcb;offscreen"
                              : x11   ? "xcb;offscreen"
                                      : "offscreen";
      ::setenv("QT_QPA_PLATFORM", platforms, 0);
    }
    // The application object lives as long as the process; the host may keep using it.
    static int argc = 1;
    static char name[] = "pagorin";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return application != nullptr;
  } catch (...) {
    return false;
  }
}

QFont DialogFont(const DialogTemplate& dialog) {
  QStringList families;
  families << FromUtf8(dialog.fontFace);
  for (const char* face : kFallbackFaces)
    families << QString::fromLatin1(face);
  QFont font;
  // The first family the system has decides the metrics; the rest cover missing glyphs.
  const QStringList installed = QFontDatabase::families();
  QStringList ordered;
  for (const QString& family : families) {
    if (installed.contains(family, Qt::CaseInsensitive)) ordered << family;
  }
  for (const QString& family : families) {
    if (!ordered.contains(family)) ordered << family;
  }
  font.setFamilies(ordered);
  font.setPointSize(dialog.fontPointSize > 0 ? dialog.fontPointSize : 9);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width of the Latin letters, rounded, as the dialog manager measures it. A
  // Chinese face is laid out on a grid where an ideograph takes two average widths; a face whose
  // Latin letters are narrower than that grid would cut the Chinese texts, so the half width of
  // an ideograph is taken when it is the larger.
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int average = (letters / 26 + 1) / 2;
  const int ideograph = metrics.horizontalAdvance(QChar(0x5B57));  // 字
  baseWidth_ = std::max({1, average, (ideograph + 1) / 2});
  baseHeight_ = std::max(1, metrics.height());
}

int DialogUnits::X(int units) const noexcept {
  return MulDiv(units, baseWidth_, 4);
}
int DialogUnits::Y(int units) const noexcept {
  return MulDiv(units, baseHeight_, 8);
}

QRect DialogUnits::Rect(const DialogRect& rect) const noexcept {
  const int left = X(rect.x);
  const int top = Y(rect.y);
  return QRect(left, top, X(rect.x + rect.width) - left, Y(rect.y + rect.height) - top);
}

QWidget* FindControlWidget(const QWidget* dialog, int id) {
  if (dialog == nullptr || id == kNoControlId) return nullptr;
  return dialog->findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

int TemplateIdOf(const QWidget* widget) {
  if (widget == nullptr) return 0;
  return widget->property(kTemplateIdProperty).toInt();
}

QtDialog::QtDialog(DialogController& controller, QWidget* parent)
    : QDialog(parent),
      controller_(controller),
      template_(FindDialogTemplate(controller.TemplateId())) {
  Build();
}

QtDialog::QtDialog(std::unique_ptr<DialogController> controller, QWidget* parent)
    : QDialog(parent),
      ownedController_(std::move(controller)),
      controller_(*ownedController_),
      template_(FindDialogTemplate(controller_.TemplateId())) {
  Build();
}

QtDialog::~QtDialog() = default;

void QtDialog::Build() {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setProperty(kTemplateIdProperty, controller_.TemplateId());
  if (template_ == nullptr) return;
  setWindowTitle(FromUtf8(template_->caption));
  if (template_->controls.empty()) {
    // A window without controls (the hidden window) takes its font and size when it is first
    // shown, so one that stays hidden never loads a font.
    InitializeController();
    return;
  }
  const DialogUnits units = ApplyTemplateFont();

  QButtonGroup* radioGroup = nullptr;
  QWidget* previousStop = nullptr;
  std::vector<QWidget*> groupBoxes;
  for (const ControlTemplate& control : template_->controls) {
    QWidget* widget = MakeControl(control, units);
    if (control.id != kNoControlId) {
      widget->setObjectName(QString::number(control.id));
      controls_.emplace(control.id, widget);
    }
    if (control.kind == ControlKind::kRadioButton) {
      if (radioGroup == nullptr || (control.style & control_style::kGroupStart) != 0) {
        radioGroup = new QButtonGroup(this);
        radioGroup->setExclusive(true);
      }
      auto* radio = static_cast<QRadioButton*>(widget);
      radioGroup->addButton(radio);
      radioGroups_.emplace(widget, radioGroup);
    } else if ((control.style & control_style::kGroupStart) != 0) {
      radioGroup = nullptr;
    }
    if (control.kind == ControlKind::kGroupBox) groupBoxes.push_back(widget);
    if ((control.style & control_style::kTabStop) != 0) {
      widget->setFocusPolicy(Qt::StrongFocus);
      if (previousStop != nullptr) QWidget::setTabOrder(previousStop, widget);
      previousStop = widget;
    }
  }
  // A group box is only a frame: it stays below the controls it surrounds so that it never takes
  // their clicks.
  for (QWidget* box : groupBoxes)
    box->lower();

  InitializeController();
}

void QtDialog::InitializeController() noexcept {
  try {
    controller_.Initialize(*this);
  } catch (...) {
    // A dialog that could not be filled still opens; its controller handles what it can.
  }
}

DialogUnits QtDialog::ApplyTemplateFont() {
  fontApplied_ = true;
  const QFont font = DialogFont(*template_);
  setFont(font);
  const DialogUnits units(font);
  setFixedSize(units.X(template_->width), units.Y(template_->height));
  // A group box is a plain frame whose top line runs through the middle of its title, as in the
  // native dialogs; a control standing on that line hides it the same way the title does.
  const int titleHalf = QFontMetrics(font).height() / 2;
  setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                               "QGroupBox::title { subcontrol-origin: margin;"
                               " subcontrol-position: top left; left: %2px; padding: 0px 1px;"
                               " background-color: palette(window); }")
                    .arg(titleHalf)
                    .arg(units.X(2)));
  return units;
}

void QtDialog::setVisible(bool visible) {
  if (visible && !fontApplied_ && template_ != nullptr) ApplyTemplateFont();
  QDialog::setVisible(visible);
}

QWidget* QtDialog::MakeControl(const ControlTemplate& control, const DialogUnits& units) {
  const QString text = FromUtf8(control.text);
  const QRect rect = units.Rect(control.rect);
  const int id = control.id;
  QWidget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::kLabel: {
      auto* label = new QLabel(text, this);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget = label;
      break;
    }
    case ControlKind::kGroupBox:
      widget = new QGroupBox(text, this);
      break;
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton: {
      auto* button = new QPushButton(text, this);
      button->setAutoDefault(true);
      button->setDefault(control.kind == ControlKind::kDefaultPushButton);
      connect(button, &QPushButton::clicked, this,
              [this, id] { Dispatch(id, DialogEvent::kClicked); });
      widget = button;
      break;
    }
    case ControlKind::kCheckBox: {
      auto* box = new QCheckBox(text, this);
      connect(box, &QCheckBox::clicked, this, [this, id] { Dispatch(id, DialogEvent::kClicked); });
      widget = box;
      break;
    }
    case ControlKind::kRadioButton: {
      auto* radio = new QRadioButton(text, this);
      // The button may stand on a group box's edge; like the native control it paints its own
      // background over the frame line.
      radio->setAutoFillBackground(true);
      connect(radio, &QRadioButton::clicked, this,
              [this, id] { Dispatch(id, DialogEvent::kClicked); });
      widget = radio;
      break;
    }
    case ControlKind::kEdit:
      if ((control.style & control_style::kMultiLine) != 0) {
        auto* edit = new QPlainTextEdit(this);
        edit->setVerticalScrollBarPolicy((control.style & control_style::kVScroll) != 0
                                             ? Qt::ScrollBarAlwaysOn
                                             : Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setTabChangesFocus(true);
        widget = edit;
      } else {
        widget = new QLineEdit(this);
      }
      break;
    case ControlKind::kDropDownList: {
      auto* combo = new QComboBox(this);
      combo->setEditable(false);
      connect(combo, &QComboBox::activated, this,
              [this, id] { Dispatch(id, DialogEvent::kSelectionChanged); });
      widget = combo;
      break;
    }
    case ControlKind::kListView: {
      auto* table = new QTableWidget(this);
      table->setColumnCount(0);
      table->verticalHeader()->setVisible(false);
      table->horizontalHeader()->setHighlightSections(false);
      table->horizontalHeader()->setSectionsClickable(false);
      table->setSelectionMode(QAbstractItemView::SingleSelection);
      table->setSelectionBehavior(QAbstractItemView::SelectItems);
      table->setEditTriggers(QAbstractItemView::NoEditTriggers);
      table->setShowGrid(false);
      table->setWordWrap(false);
      table->setTextElideMode(Qt::ElideRight);
      table->installEventFilter(this);
      table->viewport()->installEventFilter(this);
      widget = table;
      break;
    }
  }
  if (control.kind == ControlKind::kDropDownList) {
    // The template gives the height of the open list; the closed box keeps its natural height.
    const int closed = std::min(rect.height(), widget->sizeHint().height());
    widget->setGeometry(rect.x(), rect.y(), rect.width(), closed);
    static_cast<QComboBox*>(widget)->setMaxVisibleItems(
        std::max(1, (rect.height() - closed) / std::max(1, fontMetrics().height() + 2)));
  } else {
    widget->setGeometry(rect);
  }
  return widget;
}

int QtDialog::RunModal() {
  const int result = exec();
  return result == kIdOk ? kIdOk : kIdCancel;
}

void QtDialog::Dispatch(int id, DialogEvent event) noexcept {
  try {
    controller_.Handle(id, event);
  } catch (...) {
    // The dialog stays as it is; the host must not see the failure.
  }
}

QWidget* QtDialog::Control(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void QtDialog::accept() {
  Dispatch(kIdOk, DialogEvent::kClicked);
}
void QtDialog::reject() {
  Dispatch(kIdCancel, DialogEvent::kClicked);
}

bool QtDialog::eventFilter(QObject* watched, QEvent* event) {
  for (const auto& [id, widget] : controls_) {
    auto* table = qobject_cast<QTableWidget*>(widget);
    if (table == nullptr) continue;
    if (watched == table->viewport()) {
      if (event->type() == QEvent::MouseButtonPress) {
        // A click beside the rows leaves the list without a selection, as in the native list.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!table->indexAt(mouse->position().toPoint()).isValid()) table->clearSelection();
      } else if (event->type() == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!table->indexAt(mouse->position().toPoint()).isValid()) table->clearSelection();
        Dispatch(id, DialogEvent::kDoubleClicked);
        return true;
      }
    } else if (watched == table && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
      Dispatch(id, DialogEvent::kDeleteKey);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void QtDialog::SetWindowTitle(const std::string& title) {
  setWindowTitle(FromModel(title));
}

void QtDialog::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, windowTitle(), FromModel(text), QMessageBox::Ok, this);
  box.setFont(font());
  box.exec();
}

void QtDialog::SetTimer(int milliseconds) {
  if (milliseconds <= 0) {
    if (timer_ != nullptr) timer_->stop();
    return;
  }
  if (timer_ == nullptr) {
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this,
            [this] { Dispatch(kNoControlId, DialogEvent::kTimer); });
  }
  timer_->start(milliseconds);
}

void QtDialog::EndDialog(int result) {
  done(result);
}

int QtDialog::RunChildDialog(DialogController& child) {
  QtDialog dialog(child, this);
  return dialog.RunModal();
}

void QtDialog::SetText(int id, const std::string& text) {
  QWidget* widget = Control(id);
  const QString value = FromModel(text);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(value);
  } else if (auto* multi = qobject_cast<QPlainTextEdit*>(widget)) {
    multi->setPlainText(ToWidgetLines(value));
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(value);
  } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
    box->setTitle(value);
  }
}

std::string QtDialog::GetText(int id) {
  QWidget* widget = Control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return ToModel(edit->text());
  if (auto* multi = qobject_cast<QPlainTextEdit*>(widget)) {
    return ToModel(FromWidgetLines(multi->toPlainText()));
  }
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return ToModel(button->text());
  if (auto* label = qobject_cast<QLabel*>(widget)) return ToModel(label->text());
  if (auto* box = qobject_cast<QGroupBox*>(widget)) return ToModel(box->title());
  return {};
}

void QtDialog::SetCheck(int id, int checked) {
  auto* button = qobject_cast<QAbstractButton*>(Control(id));
  if (button == nullptr || !button->isCheckable()) return;
  const auto group = radioGroups_.find(button);
  if (checked == 0 && group != radioGroups_.end() && button->isChecked()) {
    // An exclusive group refuses to clear its checked button.
    group->second->setExclusive(false);
    button->setChecked(false);
    group->second->setExclusive(true);
    return;
  }
  button->setChecked(checked != 0);
}

int QtDialog::GetCheck(int id) {
  auto* button = qobject_cast<QAbstractButton*>(Control(id));
  return button != nullptr && button->isChecked() ? 1 : 0;
}

void QtDialog::EnableControl(int id, bool enabled) {
  if (QWidget* widget = Control(id)) widget->setEnabled(enabled);
}

bool QtDialog::IsControlEnabled(int id) {
  QWidget* widget = Control(id);
  return widget != nullptr && widget->isEnabled();
}

int QtDialog::AddComboItem(int id, const std::string& text, ItemData itemData) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  if (combo == nullptr) return -1;
  combo->addItem(FromModel(text), QVariant::fromValue<qlonglong>(itemData));
  return combo->count() - 1;
}

int QtDialog::GetComboCount(int id) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  return combo == nullptr ? 0 : combo->count();
}

ItemData QtDialog::GetComboItemData(int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  if (combo == nullptr || index < 0 || index >= combo->count()) return -1;
  return static_cast<ItemData>(combo->itemData(index).toLongLong());
}

int QtDialog::GetComboSelection(int id) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  return combo == nullptr ? -1 : combo->currentIndex();
}

void QtDialog::SetComboSelection(int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  if (combo == nullptr) return;
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void QtDialog::SetListRowHeight(int id, int pixels) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr) return;
  table->verticalHeader()->setMinimumSectionSize(1);
  table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table->verticalHeader()->setDefaultSectionSize(pixels);
}

void QtDialog::AddListExtendedStyles(int id, std::uint32_t styles) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr) return;
  if ((styles & kListGridLines) != 0) table->setShowGrid(true);
  if ((styles & kListFullRowSelect) != 0) {
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
  }
}

void QtDialog::InsertListColumn(int id, int column, const std::string& heading, int width,
                                bool centred) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr || column < 0 || column > table->columnCount()) return;
  table->insertColumn(column);
  auto* header = new QTableWidgetItem(FromModel(heading));
  header->setTextAlignment(centred ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter));
  table->setHorizontalHeaderItem(column, header);
  table->setColumnWidth(column, width);
}

int QtDialog::AppendListRow(int id, const std::string& text, ItemData itemData) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr) return -1;
  const int row = table->rowCount();
  table->insertRow(row);
  SetListCell(id, row, 0, text);
  SetListRowData(id, row, itemData);
  return row;
}

void QtDialog::SetListCell(int id, int row, int column, const std::string& text) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr || row < 0 || row >= table->rowCount() || column < 0 ||
      column >= table->columnCount()) {
    return;
  }
  QTableWidgetItem* item = table->item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem();
    const QTableWidgetItem* header = table->horizontalHeaderItem(column);
    item->setTextAlignment(header != nullptr ? Qt::Alignment::fromInt(header->textAlignment())
                                             : (Qt::AlignLeft | Qt::AlignVCenter));
    table->setItem(row, column, item);
  }
  item->setText(FromModel(text));
}

std::string QtDialog::GetListCell(int id, int row, int column) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr) return {};
  const QTableWidgetItem* item = table->item(row, column);
  return item == nullptr ? std::string() : ToModel(item->text());
}

void QtDialog::SetListRowData(int id, int row, ItemData itemData) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr || row < 0 || row >= table->rowCount() || table->columnCount() == 0) return;
  QTableWidgetItem* item = table->item(row, 0);
  if (item == nullptr) {
    SetListCell(id, row, 0, std::string());
    item = table->item(row, 0);
  }
  item->setData(kDataRole, QVariant::fromValue<qlonglong>(itemData));
}

ItemData QtDialog::GetListRowData(int id, int row) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr) return 0;
  const QTableWidgetItem* item = table->item(row, 0);
  return item == nullptr ? 0 : static_cast<ItemData>(item->data(kDataRole).toLongLong());
}

void QtDialog::DeleteListRow(int id, int row) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr || row < 0 || row >= table->rowCount()) return;
  table->removeRow(row);
}

void QtDialog::DeleteAllListRows(int id) {
  if (auto* table = qobject_cast<QTableWidget*>(Control(id))) table->setRowCount(0);
}

int QtDialog::GetListRowCount(int id) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  return table == nullptr ? 0 : table->rowCount();
}

int QtDialog::GetListSelection(int id) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr) return -1;
  int first = -1;
  for (const QModelIndex& index : table->selectionModel()->selectedIndexes()) {
    if (first < 0 || index.row() < first) first = index.row();
  }
  return first;
}

void QtDialog::SelectListRow(int id, int row) {
  auto* table = qobject_cast<QTableWidget*>(Control(id));
  if (table == nullptr || row < 0 || row >= table->rowCount()) return;
  table->selectRow(row);
}

}  // namespace pagorin::qt

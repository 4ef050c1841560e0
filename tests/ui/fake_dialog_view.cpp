#include "ui/fake_dialog_view.h"

namespace pagorin::testing {

void FakeDialogView::Open(DialogController& controller) {
  controller_ = &controller;
  controller.Initialize(*this);
}

void FakeDialogView::Send(int id, DialogEvent event) {
  if (controller_ != nullptr && !ended()) controller_->Handle(id, event);
}

void FakeDialogView::Click(int id) {
  Send(id, DialogEvent::kClicked);
}
void FakeDialogView::DoubleClick(int id) {
  Send(id, DialogEvent::kDoubleClicked);
}
void FakeDialogView::PressDelete(int id) {
  Send(id, DialogEvent::kDeleteKey);
}

void FakeDialogView::Choose(int id, int index) {
  combos_[id].selection = index;
  Send(id, DialogEvent::kSelectionChanged);
}

void FakeDialogView::ClickCheck(int id, int checked) {
  checks_[id] = checked;
  Send(id, DialogEvent::kClicked);
}

void FakeDialogView::ClickRadio(int id, std::initializer_list<int> group) {
  for (int member : group)
    checks_[member] = member == id ? 1 : 0;
  Send(id, DialogEvent::kClicked);
}

std::vector<std::string> FakeDialogView::Column(int id, int column) {
  std::vector<std::string> cells;
  for (const FakeRow& row : lists_[id].rows) {
    const auto index = static_cast<std::size_t>(column);
    cells.push_back(index < row.cells.size() ? row.cells[index] : std::string());
  }
  return cells;
}

int FakeDialogView::RunChildDialog(DialogController& child) {
  ++childDialogsRun_;
  childTemplates_.push_back(child.TemplateId());
  FakeDialogView childView;
  childView.Open(child);
  if (childSteps_.empty()) return kIdCancel;
  ChildStep step = std::move(childSteps_.front());
  childSteps_.pop_front();
  step(child, childView);
  return childView.ended() ? childView.endResult() : kIdCancel;
}

void FakeDialogView::EnableControl(int id, bool enabled) {
  if (enabled) {
    disabled_.erase(id);
  } else {
    disabled_[id] = true;
  }
}

int FakeDialogView::AddComboItem(int id, const std::string& text, ItemData data) {
  combos_[id].items.emplace_back(text, data);
  return static_cast<int>(combos_[id].items.size()) - 1;
}

int FakeDialogView::GetComboCount(int id) {
  return static_cast<int>(combos_[id].items.size());
}

ItemData FakeDialogView::GetComboItemData(int id, int index) {
  const FakeCombo& combo = combos_[id];
  if (index < 0 || index >= static_cast<int>(combo.items.size())) return -1;
  return combo.items[static_cast<std::size_t>(index)].second;
}

void FakeDialogView::SetComboSelection(int id, int index) {
  FakeCombo& combo = combos_[id];
  combo.selection = index >= 0 && index < static_cast<int>(combo.items.size()) ? index : -1;
}

void FakeDialogView::AddListExtendedStyles(int id, std::uint32_t styles) {
  lists_[id].extendedStyles |= styles;
}

void FakeDialogView::InsertListColumn(int id, int column, const std::string& heading, int width,
                                      bool centred) {
  auto& columns = lists_[id].columns;
  if (column < 0 || column > static_cast<int>(columns.size())) return;
  columns.insert(columns.begin() + column, FakeColumn{heading, width, centred});
}

FakeRow* FakeDialogView::Row(int id, int row) {
  auto& rows = lists_[id].rows;
  if (row < 0 || row >= static_cast<int>(rows.size())) return nullptr;
  return &rows[static_cast<std::size_t>(row)];
}

int FakeDialogView::AppendListRow(int id, const std::string& text, ItemData data) {
  FakeList& list = lists_[id];
  FakeRow row;
  row.cells.resize(std::max<std::size_t>(1, list.columns.size()));
  row.cells[0] = text;
  row.data = data;
  list.rows.push_back(std::move(row));
  return static_cast<int>(list.rows.size()) - 1;
}

void FakeDialogView::SetListCell(int id, int row, int column, const std::string& text) {
  FakeRow* target = Row(id, row);
  if (target == nullptr || column < 0) return;
  const auto index = static_cast<std::size_t>(column);
  if (index >= target->cells.size()) target->cells.resize(index + 1);
  target->cells[index] = text;
}

std::string FakeDialogView::GetListCell(int id, int row, int column) {
  FakeRow* target = Row(id, row);
  if (target == nullptr || column < 0) return {};
  const auto index = static_cast<std::size_t>(column);
  return index < target->cells.size() ? target->cells[index] : std::string();
}

void FakeDialogView::SetListRowData(int id, int row, ItemData data) {
  if (FakeRow* target = Row(id, row)) target->data = data;
}

ItemData FakeDialogView::GetListRowData(int id, int row) {
  FakeRow* target = Row(id, row);
  return target == nullptr ? 0 : target->data;
}

void FakeDialogView::DeleteListRow(int id, int row) {
  FakeList& list = lists_[id];
  if (Row(id, row) == nullptr) return;
  list.rows.erase(list.rows.begin() + row);
  if (list.selection == row) {
    list.selection = -1;
  } else if (list.selection > row) {
    --list.selection;
  }
}

void FakeDialogView::DeleteAllListRows(int id) {
  lists_[id].rows.clear();
  lists_[id].selection = -1;
}

int FakeDialogView::GetListRowCount(int id) {
  return static_cast<int>(lists_[id].rows.size());
}

void FakeDialogView::SelectListRow(int id, int row) {
  if (Row(id, row) != nullptr) lists_[id].selection = row;
}

}  // namespace pagorin::testing

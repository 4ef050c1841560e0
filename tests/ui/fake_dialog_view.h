// A DialogView that keeps every control's state in memory and records what the controller did
// with the window (title, message boxes, the end result). Child dialogs are handed to a script
// the test sets: each step receives the child controller on a fresh fake view, acts on it like a
// user and the child's end result is returned to the parent.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "resources/dialog_ids.h"
#include "ui/dialog_view.h"

namespace pagorin::testing {

class FakeDialogView;

struct FakeCombo {
  std::vector<std::pair<std::string, ItemData>> items;
  int selection = -1;
};

struct FakeColumn {
  std::string heading;
  int width = 0;
  bool centred = false;
};

struct FakeRow {
  std::vector<std::string> cells;
  ItemData data = 0;
};

struct FakeList {
  int rowHeight = 0;
  std::uint32_t extendedStyles = 0;
  std::vector<FakeColumn> columns;
  std::vector<FakeRow> rows;
  int selection = -1;
};

// What a test does with a child dialog; it returns nothing, the child decides its result by
// calling EndDialog (a step that never ends the child makes RunChildDialog return kIdCancel).
using ChildStep = std::function<void(DialogController& child, FakeDialogView& view)>;

class FakeDialogView final : public DialogView {
 public:
  // Opens `controller` on this view.
  void Open(DialogController& controller);
  // The user acts on a control; does nothing after the dialog ended.
  void Click(int id);
  void DoubleClick(int id);
  void PressDelete(int id);
  // Chooses item `index` of a drop-down list as a user would (selection, then notification).
  void Choose(int id, int index);
  // Sets a check box or radio button and clicks it (radio buttons clear the others of `group`).
  void ClickCheck(int id, int checked);
  void ClickRadio(int id, std::initializer_list<int> group);
  // The dialog's timer runs out once.
  void FireTimer() { Send(kNoControlId, DialogEvent::kTimer); }
  // Selects a list row (-1 clears the selection), without a notification.
  void SelectRow(int id, int row) { lists_[id].selection = row; }

  // Child dialogs run the next queued step; with none queued they end with kIdCancel.
  void QueueChild(ChildStep step) { childSteps_.push_back(std::move(step)); }
  std::size_t pendingChildSteps() const { return childSteps_.size(); }
  int childDialogsRun() const { return childDialogsRun_; }
  // Template ids of the child dialogs run, in order.
  const std::vector<int>& childTemplates() const { return childTemplates_; }

  // Recorded state.
  const std::string& title() const { return title_; }
  const std::vector<std::string>& messages() const { return messages_; }
  bool ended() const { return endResult_ != 0; }
  int endResult() const { return endResult_; }
  const FakeCombo& combo(int id) { return combos_[id]; }
  const FakeList& list(int id) { return lists_[id]; }
  std::string text(int id) { return texts_[id]; }
  int check(int id) { return checks_[id]; }
  bool enabled(int id) { return disabled_.count(id) == 0; }
  int timerMs() const { return timerMs_; }
  // Column `column` of every row of a list, in order.
  std::vector<std::string> Column(int id, int column);

  // DialogView.
  void SetWindowTitle(const std::string& title) override { title_ = title; }
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }
  void EndDialog(int result) override { endResult_ = result; }
  int RunChildDialog(DialogController& child) override;
  void SetTimer(int milliseconds) override { timerMs_ = milliseconds; }
  void SetText(int id, const std::string& text) override { texts_[id] = text; }
  std::string GetText(int id) override { return texts_[id]; }
  void SetCheck(int id, int checked) override { checks_[id] = checked != 0 ? 1 : 0; }
  int GetCheck(int id) override { return checks_[id]; }
  void EnableControl(int id, bool enabled) override;
  bool IsControlEnabled(int id) override { return enabled(id); }
  int AddComboItem(int id, const std::string& text, ItemData data) override;
  int GetComboCount(int id) override;
  ItemData GetComboItemData(int id, int index) override;
  int GetComboSelection(int id) override { return combos_[id].selection; }
  void SetComboSelection(int id, int index) override;
  void SetListRowHeight(int id, int pixels) override { lists_[id].rowHeight = pixels; }
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
  int GetListSelection(int id) override { return lists_[id].selection; }
  void SelectListRow(int id, int row) override;

 private:
  void Send(int id, DialogEvent event);
  FakeRow* Row(int id, int row);

  DialogController* controller_ = nullptr;
  std::string title_;
  std::vector<std::string> messages_;
  int endResult_ = 0;
  int timerMs_ = 0;
  std::map<int, std::string> texts_;
  std::map<int, int> checks_;
  std::map<int, bool> disabled_;
  std::map<int, FakeCombo> combos_;
  std::map<int, FakeList> lists_;
  std::deque<ChildStep> childSteps_;
  int childDialogsRun_ = 0;
  std::vector<int> childTemplates_;
};

}  // namespace pagorin::testing

#include "resources/dialog_templates.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace pagorin {
namespace {

constexpr int kDialogIds[] = {kSettingsDialogId,  kPluginWindowId, kPhonePickDialogId,
                              kPhoneEditDialogId, kRuleDialogId,   kSendRecordDialogId};

TEST(DialogTemplates, TheHiddenWindowIsEmpty) {
  const DialogTemplate* window = FindDialogTemplate(kPluginWindowId);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->style, 0x80C800C0u);
  EXPECT_EQ(window->fontFace, "宋体");
  EXPECT_EQ(window->fontPointSize, 9);
  EXPECT_EQ(window->width, 340);
  EXPECT_EQ(window->height, 254);
  EXPECT_TRUE(window->caption.empty());
  EXPECT_TRUE(window->controls.empty());
}

TEST(DialogTemplates, ControlsHaveDistinctIdsAndLieInsideTheirDialog) {
  for (int id : kDialogIds) {
    const DialogTemplate& dialog = *FindDialogTemplate(id);
    std::set<int> seen;
    for (const ControlTemplate& control : dialog.controls) {
      if (control.id != kNoControlId) {
        EXPECT_TRUE(seen.insert(control.id).second) << id << " repeats " << control.id;
        EXPECT_EQ(FindControl(dialog, control.id), &control);
      }
      const DialogRect& r = control.rect;
      EXPECT_GE(r.x, 0);
      EXPECT_GE(r.y, 0);
      EXPECT_LE(r.x + r.width, dialog.width) << id << " control " << control.text;
      // A drop-down list's height is that of its open list, which may reach past the dialog.
      if (control.kind != ControlKind::kDropDownList) {
        EXPECT_LE(r.y + r.height, dialog.height) << id << " control " << control.text;
      }
    }
    EXPECT_EQ(FindControl(dialog, kNoControlId), nullptr);
  }
}

TEST(DialogTemplates, EveryDialogWithButtonsHasOneDefaultOk) {
  for (int id : {kSettingsDialogId, kPhonePickDialogId, kPhoneEditDialogId, kRuleDialogId}) {
    const DialogTemplate& dialog = *FindDialogTemplate(id);
    int defaults = 0;
    for (const ControlTemplate& control : dialog.controls) {
      if (control.kind == ControlKind::kDefaultPushButton) {
        ++defaults;
        EXPECT_EQ(control.id, kIdOk);
      }
    }
    EXPECT_EQ(defaults, 1) << id;
    ASSERT_NE(FindControl(dialog, kIdCancel), nullptr);
  }
}

// Radio buttons form exclusive groups from one group start to the next; the rule dialog's format
// and logic buttons must come out as two pairs.
TEST(DialogTemplates, RuleDialogRadioGroupsArePairs) {
  const DialogTemplate& dialog = *FindDialogTemplate(kRuleDialogId);
  std::vector<std::vector<int>> groups;
  bool open = false;
  for (const ControlTemplate& control : dialog.controls) {
    const bool starts = (control.style & control_style::kGroupStart) != 0;
    if (starts) open = false;
    if (control.kind != ControlKind::kRadioButton) continue;
    if (!open) groups.emplace_back();
    open = true;
    groups.back().push_back(control.id);
  }
  EXPECT_EQ(groups, (std::vector<std::vector<int>>{
                        {rule_ids::kOrLogicRadio, rule_ids::kAndLogicRadio},
                        {rule_ids::kDefaultFormatRadio, rule_ids::kCustomFormatRadio}}));
}

}  // namespace
}  // namespace pagorin

#include "resources/dialog_templates.h"

#include <array>

namespace pagorin {
namespace {

using K = ControlKind;
namespace cs = control_style;

constexpr std::uint32_t kButton = cs::kTabStop;
constexpr std::uint32_t kCheck = cs::kTabStop;
constexpr std::uint32_t kLineEdit = cs::kTabStop | cs::kBorder | cs::kAutoHScroll;
constexpr std::uint32_t kDropDown = cs::kTabStop | cs::kVScroll;
constexpr std::uint32_t kReportList =
    cs::kTabStop | cs::kBorder | cs::kReport | cs::kSingleSelection | cs::kShowSelectionAlways;
constexpr std::string_view kFace = "宋体";

// The main settings dialog.
constexpr std::array kSettingsControls{
    ControlTemplate{settings_ids::kPhoneList, K::kListView, "", {6, 6, 116, 142}, kReportList},
    ControlTemplate{settings_ids::kAddPhone, K::kPushButton, "添加号码", {8, 152, 36, 14}, kButton},
    ControlTemplate{
        settings_ids::kModifyPhone, K::kPushButton, "修改号码", {46, 152, 36, 14}, kButton},
    ControlTemplate{
        settings_ids::kDeletePhone, K::kPushButton, "删除号码", {84, 152, 36, 14}, kButton},
    ControlTemplate{settings_ids::kRuleList, K::kListView, "", {124, 6, 156, 142}, kReportList},
    ControlTemplate{
        settings_ids::kAddRule, K::kPushButton, "添加变量", {134, 152, 40, 14}, kButton},
    ControlTemplate{
        settings_ids::kModifyRule, K::kPushButton, "修改变量", {179, 152, 40, 14}, kButton},
    ControlTemplate{
        settings_ids::kDeleteRule, K::kPushButton, "删除变量", {224, 152, 40, 14}, kButton},
    ControlTemplate{kNoControlId, K::kGroupBox, "通讯设置", {6, 170, 274, 60}, 0},
    ControlTemplate{kNoControlId, K::kLabel, "串口选择:", {10, 184, 36, 8}, 0},
    ControlTemplate{settings_ids::kPortCombo, K::kDropDownList, "", {47, 182, 48, 54}, kDropDown},
    ControlTemplate{kNoControlId, K::kLabel, "波特率:", {106, 184, 28, 8}, 0},
    ControlTemplate{settings_ids::kBaudCombo, K::kDropDownList, "", {136, 182, 48, 54}, kDropDown},
    ControlTemplate{kNoControlId, K::kLabel, "数据位:", {194, 184, 28, 8}, 0},
    ControlTemplate{
        settings_ids::kDataBitsCombo, K::kDropDownList, "", {225, 182, 48, 54}, kDropDown},
    ControlTemplate{kNoControlId, K::kLabel, "状态:", {10, 200, 22, 8}, 0},
    ControlTemplate{settings_ids::kModemStatusText, K::kLabel, "", {34, 200, 242, 8}, 0},
    ControlTemplate{kNoControlId, K::kLabel, "故障脚本:", {10, 215, 36, 8}, 0},
    ControlTemplate{settings_ids::kModemScriptEdit, K::kEdit, "", {47, 213, 120, 13}, kLineEdit},
    ControlTemplate{kNoControlId, K::kLabel, "短信通道故障和恢复时运行", {171, 215, 104, 8}, 0},
    ControlTemplate{kNoControlId, K::kGroupBox, "发送控制", {6, 236, 274, 32}, 0},
    ControlTemplate{settings_ids::kSendCheck, K::kCheckBox, "发送", {19, 249, 57, 12}, kCheck},
    ControlTemplate{kIdOk, K::kDefaultPushButton, "确定", {174, 380, 50, 14}, kButton},
    ControlTemplate{kIdCancel, K::kPushButton, "取消", {228, 380, 50, 14}, kButton},
    ControlTemplate{
        kNoControlId, K::kLabel, "注:发送控制开关,控制报警是否发送", {100, 250, 155, 9}, 0},
    ControlTemplate{kNoControlId, K::kGroupBox, "长短信", {6, 272, 274, 32}, 0},
    ControlTemplate{
        settings_ids::kConcatCheck, K::kCheckBox, "合并为一条长短信", {12, 285, 76, 12}, kCheck},
    ControlTemplate{kNoControlId, K::kLabel, "最多条数:", {92, 287, 36, 8}, 0},
    ControlTemplate{settings_ids::kMaxPartsEdit, K::kEdit, "", {129, 285, 22, 13}, kLineEdit},
    ControlTemplate{kNoControlId, K::kLabel, "积压合并:", {160, 287, 36, 8}, 0},
    ControlTemplate{settings_ids::kCoalesceEdit, K::kEdit, "", {197, 285, 22, 13}, kLineEdit},
    ControlTemplate{kNoControlId, K::kLabel, "条以上(0不合并)", {222, 287, 56, 8}, 0},
    ControlTemplate{settings_ids::kResendCheck,
                    K::kCheckBox,
                    "启动时重发上次未发出的短信",
                    {10, 311, 150, 12},
                    kCheck},
    ControlTemplate{kNoControlId, K::kGroupBox, "短信回执与接收", {6, 326, 274, 48}, 0},
    ControlTemplate{
        settings_ids::kReportsCheck, K::kCheckBox, "请求送达回执", {12, 339, 62, 12}, kCheck},
    ControlTemplate{kNoControlId, K::kLabel, "等待:", {76, 341, 20, 8}, 0},
    ControlTemplate{settings_ids::kReportWaitEdit, K::kEdit, "", {97, 339, 26, 13}, kLineEdit},
    ControlTemplate{kNoControlId, K::kLabel, "分钟", {126, 341, 18, 8}, 0},
    ControlTemplate{kNoControlId, K::kLabel, "收信脚本:", {148, 341, 36, 8}, 0},
    ControlTemplate{settings_ids::kInboxScriptEdit, K::kEdit, "", {185, 339, 90, 13}, kLineEdit},
    ControlTemplate{kNoControlId, K::kLabel, "本机号码:", {12, 357, 36, 8}, 0},
    ControlTemplate{settings_ids::kOwnNumberEdit, K::kEdit, "", {49, 355, 60, 13}, kLineEdit},
    ControlTemplate{kNoControlId, K::kLabel, "自检间隔(小时):", {116, 357, 60, 8}, 0},
    ControlTemplate{settings_ids::kLoopHoursEdit, K::kEdit, "", {177, 355, 26, 13}, kLineEdit},
    ControlTemplate{kNoControlId, K::kLabel, "0不自检", {206, 357, 40, 8}, 0},
    ControlTemplate{
        settings_ids::kSendRecords, K::kPushButton, "发送记录...", {8, 380, 50, 14}, kButton},
};

// The send record: the latest messages with their fates, the modem's status and a test message.
constexpr std::array kSendRecordControls{
    ControlTemplate{kNoControlId, K::kLabel, "短信猫状态:", {7, 8, 46, 8}, 0},
    ControlTemplate{send_record_ids::kModemStatus, K::kLabel, "", {54, 8, 320, 8}, 0},
    ControlTemplate{
        send_record_ids::kMessageList, K::kListView, "", {7, 22, 367, 170}, kReportList},
    ControlTemplate{kNoControlId, K::kGroupBox, "测试", {7, 196, 367, 40}, 0},
    ControlTemplate{kNoControlId, K::kLabel, "手机号码:", {14, 210, 38, 8}, 0},
    ControlTemplate{
        send_record_ids::kTestPhoneCombo, K::kDropDownList, "", {54, 208, 140, 80}, kDropDown},
    ControlTemplate{
        send_record_ids::kSendTest, K::kPushButton, "发送测试短信", {200, 207, 60, 14}, kButton},
    ControlTemplate{send_record_ids::kTestOutcome, K::kLabel, "", {14, 224, 356, 8}, 0},
    ControlTemplate{send_record_ids::kRefresh, K::kPushButton, "刷新", {270, 242, 50, 14}, kButton},
    ControlTemplate{kIdCancel, K::kPushButton, "关闭", {324, 242, 50, 14}, kButton},
};

// The phone pick dialog.
constexpr std::array kPhonePickControls{
    ControlTemplate{kNoControlId, K::kLabel, "手机号选择:", {10, 10, 48, 10}, 0},
    ControlTemplate{phone_pick_ids::kPhoneCombo, K::kDropDownList, "", {58, 7, 143, 53}, kDropDown},
    ControlTemplate{kIdOk, K::kDefaultPushButton, "确定", {95, 33, 50, 14}, kButton},
    ControlTemplate{kIdCancel, K::kPushButton, "取消", {151, 33, 50, 14}, kButton},
};

// The phone edit dialog.
constexpr std::array kPhoneEditControls{
    ControlTemplate{kNoControlId, K::kLabel, "手机号:", {7, 7, 31, 8}, 0},
    ControlTemplate{phone_edit_ids::kNumberEdit, K::kEdit, "", {43, 7, 110, 13}, kLineEdit},
    ControlTemplate{kNoControlId, K::kLabel, "说明:", {7, 28, 26, 8}, 0},
    ControlTemplate{phone_edit_ids::kDescEdit, K::kEdit, "", {43, 27, 110, 13}, kLineEdit},
    ControlTemplate{kIdOk, K::kDefaultPushButton, "确定", {54, 49, 50, 14}, kButton},
    ControlTemplate{kIdCancel, K::kPushButton, "取消", {110, 49, 50, 14}, kButton},
};

// The variable alarm rule dialog. The two format radio buttons stand on the top edges of the
// two untitled group boxes they head; the last group box ends the format group.
constexpr std::array kRuleControls{
    ControlTemplate{kIdOk, K::kDefaultPushButton, "确定", {185, 309, 50, 14}, kButton},
    ControlTemplate{kIdCancel, K::kPushButton, "取消", {243, 309, 50, 14}, kButton},
    ControlTemplate{kNoControlId, K::kLabel, "变量选择:", {7, 9, 37, 8}, 0},
    ControlTemplate{rule_ids::kVariableEdit, K::kEdit, "", {47, 7, 205, 13}, kLineEdit},
    ControlTemplate{rule_ids::kBrowseVariable, K::kPushButton, "?", {256, 7, 14, 14}, kButton},
    ControlTemplate{kNoControlId, K::kLabel, "说明:", {7, 27, 21, 8}, 0},
    ControlTemplate{rule_ids::kDescEdit, K::kEdit, "", {47, 25, 205, 13}, kLineEdit},
    ControlTemplate{rule_ids::kPhoneList, K::kListView, "", {7, 44, 120, 248}, kReportList},
    ControlTemplate{rule_ids::kAddPhone, K::kPushButton, "添加号码", {8, 296, 36, 14}, kButton},
    ControlTemplate{
        rule_ids::kReplacePhone, K::kPushButton, "修改号码", {49, 296, 36, 14}, kButton},
    ControlTemplate{rule_ids::kRemovePhone, K::kPushButton, "删除号码", {90, 296, 36, 14}, kButton},
    ControlTemplate{kNoControlId, K::kGroupBox, "过滤选项", {136, 41, 153, 147}, 0},
    ControlTemplate{rule_ids::kOrLogicRadio,
                    K::kRadioButton,
                    "或逻辑",
                    {151, 63, 38, 10},
                    kCheck | cs::kGroupStart},
    ControlTemplate{rule_ids::kAndLogicRadio, K::kRadioButton, "与逻辑", {222, 63, 38, 10}, kCheck},
    ControlTemplate{kNoControlId, K::kGroupBox, "报警类型", {141, 80, 143, 40}, 0},
    ControlTemplate{rule_ids::kLoLoCheck, K::kCheckBox, "低低报", {151, 91, 40, 10}, kCheck},
    ControlTemplate{rule_ids::kLoCheck, K::kCheckBox, "低报", {222, 91, 32, 10}, kCheck},
    ControlTemplate{rule_ids::kHiHiCheck, K::kCheckBox, "高高报", {151, 105, 40, 10}, kCheck},
    ControlTemplate{rule_ids::kHiCheck, K::kCheckBox, "高报", {222, 105, 32, 10}, kCheck},
    ControlTemplate{kNoControlId, K::kGroupBox, "报警级别", {141, 123, 142, 28}, 0},
    ControlTemplate{rule_ids::kLowCheck, K::kCheckBox, "低级", {151, 136, 32, 10}, kCheck},
    ControlTemplate{rule_ids::kHighCheck, K::kCheckBox, "高级", {197, 136, 32, 10}, kCheck},
    ControlTemplate{rule_ids::kUrgentCheck, K::kCheckBox, "紧急", {241, 136, 32, 10}, kCheck},
    ControlTemplate{kNoControlId, K::kGroupBox, "确认状态", {141, 154, 142, 28}, 0},
    ControlTemplate{rule_ids::kAckCheck, K::kCheckBox, "确认", {152, 167, 32, 10}, kCheck},
    ControlTemplate{rule_ids::kNoAckCheck, K::kCheckBox, "未确认", {197, 167, 40, 10}, kCheck},
    ControlTemplate{rule_ids::kResumeCheck, K::kCheckBox, "恢复", {244, 167, 32, 10}, kCheck},
    ControlTemplate{kNoControlId, K::kGroupBox, "短信显示", {136, 192, 153, 112}, 0},
    ControlTemplate{kNoControlId, K::kGroupBox, "", {141, 202, 143, 28}, 0},
    ControlTemplate{rule_ids::kValueCheck, K::kCheckBox, "数值", {153, 216, 32, 10}, kCheck},
    ControlTemplate{rule_ids::kLimitCheck, K::kCheckBox, "限值", {198, 216, 32, 10}, kCheck},
    ControlTemplate{rule_ids::kUserCheck, K::kCheckBox, "用户", {243, 216, 32, 10}, kCheck},
    ControlTemplate{kNoControlId, K::kGroupBox, "", {141, 232, 143, 68}, 0},
    ControlTemplate{
        rule_ids::kInsertVariable, K::kPushButton, "变量选择", {229, 243, 50, 14}, kButton},
    ControlTemplate{rule_ids::kCustomTextEdit,
                    K::kEdit,
                    "",
                    {146, 261, 133, 34},
                    cs::kTabStop | cs::kBorder | cs::kMultiLine | cs::kVScroll},
    ControlTemplate{rule_ids::kDefaultFormatRadio,
                    K::kRadioButton,
                    "默认格式",
                    {146, 202, 45, 10},
                    kCheck | cs::kGroupStart},
    ControlTemplate{
        rule_ids::kCustomFormatRadio, K::kRadioButton, "自定义格式", {146, 232, 53, 10}, kCheck},
    ControlTemplate{kNoControlId, K::kGroupBox, "逻辑选择", {141, 52, 143, 24}, cs::kGroupStart},
};

constexpr std::array kTemplates{
    DialogTemplate{kSettingsDialogId, "短消息发送设置", 286, 400, dialog_style::kStandard, kFace, 9,
                   kSettingsControls},
    DialogTemplate{kPluginWindowId, "", 340, 254, dialog_style::kStandard, kFace, 9, {}},
    DialogTemplate{kPhonePickDialogId, "请选择需要报警的手机号", 208, 54, dialog_style::kStandard,
                   kFace, 9, kPhonePickControls},
    DialogTemplate{kPhoneEditDialogId, "增加手机号码", 167, 70, dialog_style::kStandard, kFace, 9,
                   kPhoneEditControls},
    DialogTemplate{kRuleDialogId, "变量报警短消息设置", 300, 330, dialog_style::kStandard, kFace, 9,
                   kRuleControls},
    DialogTemplate{kSendRecordDialogId, "发送记录", 381, 262, dialog_style::kStandard, kFace, 9,
                   kSendRecordControls},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) noexcept {
  for (const DialogTemplate& dialog : kTemplates) {
    if (dialog.id == id) return &dialog;
  }
  return nullptr;
}

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) noexcept {
  if (id == kNoControlId) return nullptr;
  for (const ControlTemplate& control : dialog.controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

}  // namespace pagorin

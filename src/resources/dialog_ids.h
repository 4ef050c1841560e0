// Ids of the module's dialog templates and of their controls. The same number names different
// controls in different dialogs, so each dialog has its own set of names.
#pragma once

namespace pagorin {

// Dialog templates.
inline constexpr int kSettingsDialogId = 3000;
inline constexpr int kPluginWindowId = 3001;
inline constexpr int kPhonePickDialogId = 3003;
inline constexpr int kPhoneEditDialogId = 3004;
inline constexpr int kRuleDialogId = 3005;
inline constexpr int kSendRecordDialogId = 3006;

// Results and the two standard buttons; a control without an id has kNoControlId.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kNoControlId = -1;

// The main settings dialog (3000).
namespace settings_ids {
inline constexpr int kPhoneList = 3000;
inline constexpr int kRuleList = 3001;
inline constexpr int kPortCombo = 3002;
inline constexpr int kBaudCombo = 3003;
inline constexpr int kDataBitsCombo = 3004;
inline constexpr int kAddPhone = 3028;
inline constexpr int kDeletePhone = 3029;
inline constexpr int kModifyPhone = 3030;
inline constexpr int kDeleteRule = 3031;
inline constexpr int kModifyRule = 3032;
inline constexpr int kAddRule = 3033;
inline constexpr int kSendCheck = 3038;
inline constexpr int kConcatCheck = 3050;
inline constexpr int kMaxPartsEdit = 3051;
inline constexpr int kCoalesceEdit = 3052;
inline constexpr int kSendRecords = 3039;
inline constexpr int kResendCheck = 3040;
inline constexpr int kModemStatusText = 3041;
inline constexpr int kModemScriptEdit = 3042;
inline constexpr int kReportsCheck = 3053;
inline constexpr int kReportWaitEdit = 3054;
inline constexpr int kInboxScriptEdit = 3055;
inline constexpr int kOwnNumberEdit = 3056;
inline constexpr int kLoopHoursEdit = 3057;
}  // namespace settings_ids

// The send record dialog (3006).
namespace send_record_ids {
inline constexpr int kMessageList = 3050;
inline constexpr int kModemStatus = 3051;
inline constexpr int kTestPhoneCombo = 3052;
inline constexpr int kSendTest = 3053;
inline constexpr int kTestOutcome = 3054;
inline constexpr int kRefresh = 3055;
}  // namespace send_record_ids

// The phone pick dialog (3003).
namespace phone_pick_ids {
inline constexpr int kPhoneCombo = 3007;
}  // namespace phone_pick_ids

// The phone edit dialog (3004).
namespace phone_edit_ids {
inline constexpr int kNumberEdit = 3008;
inline constexpr int kDescEdit = 3009;
}  // namespace phone_edit_ids

// The variable alarm rule dialog (3005).
namespace rule_ids {
inline constexpr int kPhoneList = 3000;
inline constexpr int kVariableEdit = 3009;
inline constexpr int kBrowseVariable = 3010;
inline constexpr int kDescEdit = 3011;
inline constexpr int kLoLoCheck = 3014;
inline constexpr int kLoCheck = 3015;
inline constexpr int kHiHiCheck = 3016;
inline constexpr int kHiCheck = 3017;
inline constexpr int kLowCheck = 3018;
inline constexpr int kHighCheck = 3019;
inline constexpr int kUrgentCheck = 3020;
inline constexpr int kAckCheck = 3021;
inline constexpr int kNoAckCheck = 3022;
inline constexpr int kResumeCheck = 3023;
inline constexpr int kValueCheck = 3024;
inline constexpr int kLimitCheck = 3025;
inline constexpr int kCustomTextEdit = 3026;
inline constexpr int kInsertVariable = 3027;
inline constexpr int kUserCheck = 3028;
inline constexpr int kAddPhone = 3029;
inline constexpr int kReplacePhone = 3030;
inline constexpr int kRemovePhone = 3031;
inline constexpr int kDefaultFormatRadio = 3033;
inline constexpr int kCustomFormatRadio = 3034;
inline constexpr int kOrLogicRadio = 3035;
inline constexpr int kAndLogicRadio = 3036;
}  // namespace rule_ids

}  // namespace pagorin

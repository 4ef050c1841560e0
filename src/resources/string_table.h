// The module's string table: the user-facing texts, addressed by id, as code page 936 bytes.
#pragma once

#include <string>

namespace pagorin {

// The ids of the table, named once for every user of the table.
namespace string_id {
// Alarm message words; a trailing comma belongs to the word.
inline constexpr int kLoLoWord = 1;
inline constexpr int kLoWord = 2;
inline constexpr int kHiHiWord = 3;
inline constexpr int kHiWord = 4;
inline constexpr int kLowLevelWord = 5;
inline constexpr int kHighLevelWord = 6;
inline constexpr int kUrgentLevelWord = 7;
inline constexpr int kUnacknowledgedWord = 8;
inline constexpr int kAcknowledgedWord = 9;
inline constexpr int kResumedWord = 10;
inline constexpr int kValuePattern = 11;  // "%f"
inline constexpr int kLimitPattern = 12;  // "%f"
inline constexpr int kMessageFrame = 13;  // label, content
inline constexpr int kUserPattern = 25;   // user name
// Dialog texts.
inline constexpr int kPhoneLibraryHeading = 14;
inline constexpr int kDescHeading = 15;
inline constexpr int kVariableHeading = 16;
inline constexpr int kPhoneCountHeading = 17;
inline constexpr int kPhoneExists = 18;     // number, description
inline constexpr int kVariableExists = 19;  // variable name
inline constexpr int kAddPhoneTitle = 20;
inline constexpr int kModifyPhoneTitle = 21;
inline constexpr int kWrongPhoneNumber = 22;
inline constexpr int kPhoneHeading = 23;
inline constexpr int kDescriptionPrefix = 24;
inline constexpr int kChooseVariable = 26;
inline constexpr int kScriptError = 29;
// The configuration file's load and save problems, told by the settings dialog.
inline constexpr int kConfigFileDamaged = 40;     // path, the parser's words
inline constexpr int kConfigFileUnreadable = 41;  // path, the system's words
inline constexpr int kConfigFileOlder = 42;       // path
inline constexpr int kConfigFileMissing = 43;     // path
inline constexpr int kProjectCopyLoaded = 44;
inline constexpr int kConfigurationKept = 45;
inline constexpr int kDamagedFileKeptAside = 46;
inline constexpr int kPhoneIndexesSkipped = 47;  // rules, indexes
inline constexpr int kConfigSaveFailed = 48;     // path and the system's words
// Help texts of the script functions.
inline constexpr int kPropDlgHelp = 27;
inline constexpr int kSendMsgHelp = 30;
inline constexpr int kShouldSendHelp = 31;
// The outbox and the send history: the history file's heading, the final states and the reasons.
inline constexpr int kHistoryHeading = 60;
inline constexpr int kSentWord = 61;
inline constexpr int kFailedWord = 62;
inline constexpr int kRefusedWord = 63;
inline constexpr int kWaitingWord = 64;
inline constexpr int kQueueFullReason = 65;
inline constexpr int kWrongNumberReason = 66;
inline constexpr int kEmptyTextReason = 67;
inline constexpr int kPortClosedReason = 68;
inline constexpr int kExpiredReason = 69;
inline constexpr int kTextCutNote = 70;
inline constexpr int kOutboxWriteReason = 71;
inline constexpr int kModemFailedReason = 72;
// Long texts and coalescing.
inline constexpr int kWrongMaxParts = 90;
inline constexpr int kWrongCoalesce = 91;
inline constexpr int kCoalescedHead = 92;        // "[%d条报警] ": the count of alarms joined
inline constexpr int kCoalescedScriptHead = 93;  // "[%d条消息] ": of script messages
inline constexpr int kNotResentReason = 73;
inline constexpr int kGaveWayReason = 74;
inline constexpr int kMoreRefusedNumbers = 75;  // count
// The send record dialog and the modem's status line.
inline constexpr int kRecordTimeHeading = 76;
inline constexpr int kRecordTextHeading = 77;
inline constexpr int kRecordStateHeading = 78;
inline constexpr int kRecordDetailHeading = 79;
inline constexpr int kTestQueued = 80;
inline constexpr int kTestSent = 81;    // references
inline constexpr int kTestFailed = 82;  // reason
inline constexpr int kChooseTestPhone = 83;
inline constexpr int kTestMessageText = 84;
inline constexpr int kModemPortOpen = 85;
inline constexpr int kModemPortClosed = 86;   // the system's reason
inline constexpr int kModemSignal = 87;       // dBm
inline constexpr int kModemLastFailure = 88;  // failure
inline constexpr int kModemNotStarted = 89;
inline constexpr int kSimReadyStatus = 94;
inline constexpr int kSimPinStatus = 95;
inline constexpr int kSimAbsentStatus = 96;
inline constexpr int kRegisteredStatus = 97;
inline constexpr int kRoamingStatus = 98;
inline constexpr int kSearchingStatus = 99;
inline constexpr int kDeniedStatus = 100;
inline constexpr int kJoinedNote = 101;  // position, count: one of the texts of a joined SMS
// What keeps messages or their record from surviving a restart.
inline constexpr int kJournalHeldByOther = 102;
inline constexpr int kJournalNotWritable = 103;  // the system's words
inline constexpr int kJournalDamaged = 104;      // records, bytes
inline constexpr int kHistoryNotWritable = 105;  // the system's words
// Hearing back: the settings dialog's checks, the states of delivery, the received record.
inline constexpr int kWrongReportWait = 106;
inline constexpr int kWrongLoopHours = 107;
inline constexpr int kWrongOwnNumber = 108;
inline constexpr int kDeliveredWord = 109;
inline constexpr int kUndeliveredWord = 110;
inline constexpr int kNoReportWord = 111;
inline constexpr int kReceivedHeading = 112;
inline constexpr int kCompleteWord = 113;
inline constexpr int kIncompleteWord = 114;
inline constexpr int kLoopWord = 115;
inline constexpr int kLoopText = 116;     // the time: the loop test's text
inline constexpr int kLoopFailing = 117;  // the status line while the loop test fails
inline constexpr int kNumberMissingReason = 118;
inline constexpr int kPhoneOffReason = 119;
inline constexpr int kRejectedReason = 120;
inline constexpr int kBusyReason = 121;
inline constexpr int kUndeliveredStatus = 122;  // the TP-ST in hexadecimal
}  // namespace string_id

// The text of string `id` in code page 936; an empty text for an id the table does not hold.
// The table is converted from its UTF-8 source once, on first use; the reference stays valid for
// the life of the process. Any thread.
const std::string& LoadString(int id) noexcept;

}  // namespace pagorin

// The plug-in's outbox: between the roads that make messages (alarms, SendMsg, the test message)
// and the modem. It keeps the queue within its bounds, records every message in the journal
// before it counts as queued, hands the modem a few messages at a time by priority, writes each
// message's end to the send history, and remembers the latest messages for the send-record
// dialog. On the host's thread, except RecordFate: the modem's sender thread marks each fate in
// the journal the moment the modem gives it, and tells the rest (history, records, listener)
// from its Tick on the host's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/outbox_journal.h"
#include "core/send_history.h"
#include "modem/sms_modem.h"
#include "modem/sms_sender.h"

namespace pagorin {

// The queue's bounds and how texts go out. Script messages are refused when a bound is reached;
// alarm messages are still taken, the oldest script messages that wait making room first, and
// beyond that up to maxAlarmMessages; there, the youngest waiting message of a lower priority
// gives way to an alarm.
struct OutboxLimits {
  std::size_t maxMessages = 500;      // messages waiting, those in the modem included
  std::size_t maxBytes = 256 * 1024;  // bytes of their texts
  // The hard ceiling, for alarms only: a storm of 1,000 alarms for 3 phones fits.
  std::size_t maxAlarmMessages = 5000;
  // SMS handed to the modem at a time, per priority: an SMS is handed over while fewer than
  // this of its priority or above are in the modem, so an urgent alarm never waits for room
  // behind lower ones (the modem sends it next, after the one in the dialogue).
  std::size_t modemWindow = 4;
  int maxParts = 5;          // short messages one text may take; the rest is cut
  bool concatenated = true;  // a long text is one concatenated message; false: separate ones
  // When more messages than this wait for one number, those of the same priority are joined
  // into one SMS (as many as fit maxParts); 0 never joins.
  int coalesce = 3;
  // True: messages leave by priority (urgent alarms first, script messages last), first in first
  // out within a priority. False: in the order they were queued, whatever their priority.
  bool byPriority = true;
  // Every SMS asks for a status report (TP-SRR), and the reports are matched to the messages.
  bool statusReports = true;
};

// One message to be queued. Texts are code page 936. The text is only looked at: one SendMsg
// call hands the same text to every number without copying it.
struct OutboxRequest {
  std::string number;
  std::string name;       // the phone-book description, when the number is from the book
  std::string origin;     // the rule's variable, or "script"
  std::string_view text;  // must stay valid during Queue
  int priority = kPriorityScript;
};

// A message as the send-record dialog shows it.
struct OutboxRecord {
  std::uint64_t id = 0;  // 0 for a refused message
  HistoryEntry entry;    // endedAt 0 while it waits
  bool waiting = false;  // queued and not ended yet
  bool cut = false;      // the text was cut to the piece limit
  // A status report's verdict once every part was delivered or one failed for good: kDelivered
  // (at deliveredAt) or kUndelivered (with deliveryReason); kSent while none came.
  HistoryState delivery = HistoryState::kSent;
  std::int64_t deliveredAt = 0;
  std::string deliveryReason;
};

// The Chinese words for a status report's TP-ST that ended a message undelivered (code page
// 936): the common ones named, the others with their code. Throws only std::bad_alloc.
std::string UndeliveredReason(std::uint8_t status);

class Outbox final : public SmsObserver, public SmsFateRecorder {
 public:
  // The origin of messages from SendMsg and of the dialog's test message.
  static constexpr const char* kScriptOrigin = "script";
  static constexpr const char* kTestOrigin = "test";
  // Messages the dialog can show.
  static constexpr std::size_t kRecentRecords = 300;
  // Refusals of one call written to the history one by one; the rest as one summary line.
  static constexpr std::size_t kRefusalLinesPerCall = 10;

  explicit Outbox(SmsModem& modem, OutboxLimits limits = {}) noexcept;
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Opens the journal and the history in `folder` and, when `resend`, queues again the messages
  // a previous run left unsent that are younger than `maxAgeMs`; the others are recorded as
  // failed. Call after the modem's Open. Never throws.
  void Start(const std::string& folder, bool resend, std::uint32_t maxAgeMs) noexcept;

  // Queues `requests` (one SendMsg call, one alarm's messages): each is checked and cut to the
  // piece limit, the queue's bounds applied, every accepted message recorded in the journal with
  // one sync, then queued. Refusals go to the history. Returns the ids of the queued messages
  // in request order (0 for a refused one); none at all when memory ran out. Never throws.
  std::vector<std::uint64_t> Queue(std::span<const OutboxRequest> requests) noexcept;

  // Hands the modem the next messages by priority while it holds fewer than the window; in a
  // storm, the messages that wait for one number are joined into one SMS here.
  void Feed() noexcept;

  // How texts go out from now on (the configuration's Concat, MaxParts and Coalesce); texts
  // already queued keep the cut they got when queued.
  void SetTextOptions(bool concatenated, int maxParts, int coalesce) noexcept;

  // Someone told of every fate and status after the outbox took it (the plug-in, for its failure
  // script); nullptr for none.
  void SetListener(SmsObserver* listener) noexcept { listener_ = listener; }

  // SmsFateRecorder, on the sender thread: the journal's mark of a fate.
  void RecordFate(const SmsReport& report) noexcept override;

  // SmsObserver.
  void OnSent(std::uint64_t id, const std::vector<int>& references, int attempts) noexcept override;
  void OnFailed(std::uint64_t id, const SmsFailure& failure) noexcept override;
  void OnStatusChanged(const ModemStatus& status) noexcept override;
  // A status report: matched by reference and recipient to the latest part sent within
  // kReportWindowSeconds; the message's verdict goes to the history once it is known.
  void OnDelivery(const SmsReport& report) noexcept override;
  void OnReceived(const SmsReport& report) noexcept override;
  // SmsFateRecorder: incoming parts go to the inbox (when one is set); reports are taken.
  bool RecordReceived(const SmsReport& report) noexcept override;
  // The inbox that RecordReceived records into; nullptr for none (then everything is taken).
  void SetInbox(class Inbox* inbox) noexcept { inbox_ = inbox; }
  // One line of the plug-in's own in the send history (the loop test's verdict). Never throws.
  bool AppendHistory(const HistoryEntry& entry) noexcept;
  // Whether status reports are asked for; texts queued from now on are encoded so.
  void SetStatusReports(bool on) noexcept { limits_.statusReports = on; }

  // A report is matched to a part sent at most this long before it.
  static constexpr std::int64_t kReportWindowSeconds = 3 * 24 * 3600;
  // SMS whose reports are awaited at a time; the oldest is forgotten beyond that.
  static constexpr std::size_t kMaxAwaitingReports = 2000;

  // The latest messages, at most `limit`: those still waiting, newest first, then the ended ones,
  // the latest end first. Throws only std::bad_alloc.
  std::vector<OutboxRecord> Recent(std::size_t limit) const;
  // The record of message `id` while it is among the latest; nullptr otherwise.
  const OutboxRecord* Find(std::uint64_t id) const noexcept;
  const ModemStatus& status() const noexcept { return status_; }

  // Messages waiting (in the outbox and in the modem) and the bytes of their texts.
  std::size_t waitingCount() const noexcept { return waitingCount_; }
  std::size_t waitingBytes() const noexcept { return waitingBytes_; }
  const SendHistory& history() const noexcept { return history_; }
  const OutboxLimits& limits() const noexcept { return limits_; }
  // The string-table id of the reason for the latest refusal; 0 before any.
  int lastRefusalReason() const noexcept { return lastRefusalReason_; }
  // What keeps messages from surviving a restart, in Chinese (another host holds the journal,
  // it cannot be written, damage found at start); empty when nothing does. Throws only
  // std::bad_alloc.
  std::string DurabilityProblem() const;

 private:
  bool Accept(const OutboxMessage& message, bool script);
  bool MakeRoomForAlarm(std::size_t bytes);
  bool GiveWayTo(int priority);
  void Refuse(const OutboxRequest& request, int reasonId, const std::string& cutText, bool cut,
              std::size_t& refusalsThisCall);
  void End(std::uint64_t id, HistoryState state, int attempts, std::string reference,
           std::string reason) noexcept;
  void Remember(const OutboxMessage& message);
  void KeepEnded(OutboxRecord record);
  bool HasRoom(int priority) const noexcept;
  bool ShouldJoin(const OutboxMessage& head) const noexcept;
  void TakeJoinable(std::deque<OutboxMessage>& queue, std::vector<OutboxMessage>& batch);
  bool Submit(const std::vector<OutboxMessage>& batch) noexcept;
  bool Resume(const SmsInFlight& sms, const OutboxMessage& head) noexcept;
  bool HandToModem(QueuedSms sms, SmsInFlight flight, int priority,
                   std::vector<int> earlierReferences) noexcept;
  std::vector<std::uint64_t> TakeInModem(std::uint64_t smsId) noexcept;

  // One SMS in the modem: the messages it carries (one, or several joined), in text order.
  struct InModem {
    int priority = kPriorityScript;
    std::vector<std::uint64_t> ids;
    std::vector<int> earlierReferences;  // parts an earlier run got accepted
  };

  // An SMS accepted by the network whose parts' reports are awaited.
  struct Awaited {
    std::int64_t sentAt = 0;
    std::vector<std::uint64_t> ids;   // the messages it carries
    std::vector<int> references;      // per part
    std::vector<std::uint8_t> state;  // per part: 0 awaited, 1 delivered
    std::int64_t deliveredAt = 0;     // the latest discharge time
    std::vector<HistoryEntry> entries;
  };
  void Await(std::uint64_t smsId, const std::vector<std::uint64_t>& ids,
             const std::vector<int>& references, std::int64_t sentAt,
             std::vector<HistoryEntry> entries);
  void Forget(std::uint64_t smsId) noexcept;
  void Conclude(Awaited& sms, HistoryState state, std::int64_t at, const std::string& reason);
  // The last 11 digits of a number, as the key a report's recipient is compared by.
  static std::string NumberKey(std::string_view number);

  SmsModem& modem_;
  SmsObserver* listener_ = nullptr;
  class Inbox* inbox_ = nullptr;
  std::map<std::uint64_t, Awaited> awaited_;  // by smsId (rising with time)
  // (reference, number key) -> the SMS and part, for every part awaited.
  std::multimap<std::pair<int, std::string>, std::pair<std::uint64_t, std::size_t>> byReference_;
  OutboxLimits limits_;
  OutboxJournal journal_;
  SendHistory history_;
  // Waiting messages not yet handed to the modem, by priority, oldest first.
  std::deque<OutboxMessage> pending_[kPriorityUrgent + 1];
  // Every waiting message by id (ids rise in queueing order), bounded by the limits.
  std::map<std::uint64_t, OutboxRecord> live_;
  // The SMS handed to the modem and not ended, by the id the modem knows (its first message's),
  // and how many of each priority there are.
  std::map<std::uint64_t, InModem> inModem_;
  std::size_t inModemCount_[kPriorityUrgent + 1] = {};
  std::size_t waitingCount_ = 0;
  std::size_t waitingBytes_ = 0;
  std::deque<OutboxRecord> ended_;  // the latest ended or refused messages, newest at the back
  ModemStatus status_;
  int lastRefusalReason_ = 0;
  bool started_ = false;
  // Found when the journal was opened: another host holds it, the system's words when it could
  // not be opened, and the damage skipped.
  bool journalHeldByOther_ = false;
  std::string journalOpenProblem_;
  std::size_t damagedRecords_ = 0;
  std::size_t damagedBytes_ = 0;
};

// The text as it will go out as a message of `options` (the reference is not looked at): the
// text itself, or, when it needs more than options.maxParts parts, what fits them followed by the
// ellipsis. Counted, split and cut after the conversion to UTF-16, in the units of the alphabet
// it goes in. `cut` tells whether it was cut, `parts` how many short messages it takes (0 for an
// empty text). Throws only std::bad_alloc.
std::string TextForSms(std::string_view text, const SmsTextOptions& options, bool& cut, int& parts);

// UTF-16 in code page 936; a character it cannot hold becomes '?'. Throws only std::bad_alloc.
std::string Utf16ToCp936(std::u16string_view text);

// The text of one SMS that carries several messages: the count at the head ("[N条报警] ", or
// "[N条消息] " for script messages), then each text without a trailing comma, separated by ";".
// Throws only std::bad_alloc.
std::string JoinedText(std::span<const std::string_view> texts, int priority);

}  // namespace pagorin

// The plug-in object: the one object the host creates through CreateSuperWizard. It is the host's
// SuperWizard and the dialogs' Configuration, and owns everything of the plug-in: the settings,
// the phone book and rules, the hidden window, the state of the alarm intake and the modem.
// The host's operations may come from any thread: they run one at a time (a recursive mutex, so
// that a dialog's nested calls on the same thread go through), and a call from a second thread
// waits until the one in progress returns.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/send_record_source.h"
#include "core/alarm_intake.h"
#include "core/inbox.h"
#include "core/outbox.h"
#include "core/plugin_window.h"
#include "host/super_wizard.h"
#include "markup/markup_document.h"
#include "modem/sms_modem.h"
#include "resources/string_table.h"

namespace pagorin {

// The script object name of the plug-in ("#Pagorin.SendMsg").
inline constexpr const char* kPluginName = "Pagorin";

// Milliseconds between two alarm requests, and after which an unanswered request is abandoned.
inline constexpr std::uint32_t kRequestSpacingMs = 1000;
inline constexpr std::uint32_t kRequestAbandonMs = 4000;

// Attempts after which a message that keeps failing for a passing reason counts as a failing
// SMS path (for the failure script), before it ends.
inline constexpr int kFailingAttempts = 3;
// The SMS path counts as failing, or as recovered, once it has been so this long without a
// break: a registration that flaps, or a port that is back for a moment, runs no script.
inline constexpr std::uint32_t kPathSettleMs = 30000;
// The failure script runs for a new failure at most once in this long; one that comes sooner
// waits for it. A recovery runs it as soon as it has settled.
inline constexpr std::uint32_t kPathScriptSpacingMs = 5 * 60 * 1000;

// The loop test's first message goes this long after the start; each is awaited back this long
// after the network took it.
inline constexpr std::uint32_t kLoopFirstDelayMs = 2 * 60 * 1000;
inline constexpr std::uint32_t kLoopWaitMs = 10 * 60 * 1000;
// The received record beside the send history.
inline constexpr std::string_view kReceivedFileName = "Pagorin_Received.csv";

class PluginObject final : public SuperWizard,
                           public Configuration,
                           public SendRecordSource,
                           public SmsObserver {
 public:
  // Sets the defaults and the configuration file's path from the host's project directory;
  // nothing is read yet. Throws only std::bad_alloc.
  explicit PluginObject(HostApplication& hostApplication);
  // Closes the hidden window, empties the lists, drops the queued messages and closes the port.
  ~PluginObject() override;
  PluginObject(const PluginObject&) = delete;
  PluginObject& operator=(const PluginObject&) = delete;

  void Serialize(Archive& archive) noexcept override;
  // In run mode: starts the modem's sender (which opens the port, now or later, and keeps it
  // open), starts the outbox, announces the rules' variables and hands the hidden window to the
  // host. A second call neither starts the sender again nor makes a second window. Returns 1.
  int Start(int unused) noexcept override;
  int ShowSettings() noexcept override;
  std::string GetName() noexcept override;
  // Hands the send switch to the modem, lets it report the fates and the status (the sender
  // works on its own thread; nothing here waits for the modem) and feeds it from the outbox.
  void OnTick() noexcept override;
  int Reserved10() noexcept override { return 0; }
  int GetRequest(std::int16_t* code, std::int16_t* subCode, std::int16_t* flags,
                 std::int32_t unused, std::int32_t* blockSize,
                 AlarmRequest* block) noexcept override;
  void OnRequestResult(std::int32_t unused1, std::int16_t count, std::int32_t unused3,
                       std::int32_t unused4, std::int32_t unused5,
                       const AlarmEvent* events) noexcept override;
  void Reserved13(std::int32_t) noexcept override {}
  int CallFunction(int functionId, int unused1, const HostParam* params,
                   int unused2) noexcept override;
  int Reserved15(std::int32_t, std::int32_t, std::int32_t) noexcept override { return 1; }
  void Reserved16(std::int32_t, std::int32_t) noexcept override {}
  void Reserved17() noexcept override {}
  void Reserved18() noexcept override {}
  void Reserved19(std::int32_t, std::int32_t) noexcept override {}
  void RegisterFunctions() noexcept override;

  // Adds to `requests` the message of `event` for every phone entry of every rule that accepts
  // it, rule by rule and phone by phone; the texts stay in `texts`. One answer's alarms are
  // collected and queued together, with one journal sync. Throws only std::bad_alloc.
  void CollectAlarm(const AlarmEvent& event, std::deque<std::string>& texts,
                    std::vector<OutboxRequest>& requests);
  // Queues `text` to `number` through the outbox as a script message (SendMsg's road): one
  // message, cut to the piece limit. Throws only std::bad_alloc.
  void QueueText(const std::string& number, const std::string& text);
  // Hands the configuration's Concat, MaxParts and Coalesce to the outbox: before anything is
  // queued and on every tick, so that a change in the settings dialog counts at once.
  void ApplyTextOptions() noexcept {
    outbox.SetTextOptions(Concat != 0, MaxParts, Coalesce);
    outbox.SetStatusReports(Reports != 0);
  }
  // The project folder: where the configuration file, the outbox journal and the send history
  // live. Throws only std::bad_alloc.
  std::string ProjectFolder() const;

  // SendRecordSource, for the send-record dialog. Throw only std::bad_alloc.
  std::vector<SendRecordRow> RecentMessages(std::size_t limit) override;
  std::string ModemStatusLine() override;
  std::uint64_t SendTestMessage(int phoneIndex, std::string& outcome) override;
  std::string TestOutcome(std::uint64_t handle) override;

  // The modem's reports as the outbox passes them on, on the host's thread from OnTick. The SMS
  // path starting to fail (port gone, SIM or network missing, a message failing) and its
  // recovery each run ModemScript once.
  void OnSent(std::uint64_t id, const std::vector<int>& references, int attempts) noexcept override;
  void OnFailed(std::uint64_t id, const SmsFailure& failure) noexcept override;
  void OnStatusChanged(const ModemStatus& status) noexcept override;
  // An incoming part or an undecodable PDU, after the inbox journal took it: whole messages go
  // to the received record, then to InboxScript when the sender is in the phone book; the loop
  // test's own message ends its wait.
  void OnReceived(const SmsReport& report) noexcept override;

  // The received record's line of `message`, with the sender's phone-book description and the
  // state word (complete, incomplete, loop test). Throws only std::bad_alloc.
  std::string ReceivedLine(const ReceivedMessage& message, const std::string& name,
                           int stateWordId) const;
  // InboxScript with %NUMBER%, %NAME% and %TEXT% replaced by the values written as the inside
  // of a quoted text of the host's script language. Throws only std::bad_alloc.
  static std::string ExpandInboxScript(std::string_view script, std::string_view number,
                                       std::string_view name, std::string_view text);

  HostApplication* host;
  MarkupDocument document;
  std::unique_ptr<PluginWindow> hostWindow;
  std::uint32_t lastRequestTick = 0;
  int requestPending = 0;
  int firstResult = 1;
  KnownAlarms knownAlarms;
  // 1 once Start found the host running and started the modem's sender: alarms are asked for and
  // messages taken from then on, whether the port is open yet or not.
  int modemOpen = 0;
  // Set once Start found the host running and started the sender; a later Start leaves it alone.
  bool runStarted = false;
  // Whether the last message's fate was a failure, and whether the SMS path counts as failing
  // (for ModemScript): it does once the raw state (port, SIM, network, last message) has held
  // for kPathSettleMs, measured from rawChangedTick.
  bool messageFailing = false;
  bool pathFailing = false;
  bool rawPathFailing = false;
  std::uint32_t rawChangedTick = 0;
  std::optional<std::uint32_t> lastFailureScriptTick;
  // The loop test (OwnNumber, LoopHours): the message awaited back (0 for none), since when the
  // network has it, when the next is due (measured from loopFromTick), and whether the last one
  // did not come back in time, which counts as a failing SMS path.
  std::uint64_t loopMessageId = 0;
  std::optional<std::uint32_t> loopSentTick;
  std::uint32_t loopFromTick = 0;
  std::uint32_t loopDueMs = kLoopFirstDelayMs;
  bool loopFailing = false;
  // Before the outbox and the modem, which record into them from the sender thread.
  Inbox inbox;
  SendHistory received{SendHistory::kDefaultMaxFileBytes, SendHistory::kDefaultFiles, nullptr,
                       kReceivedFileName, string_id::kReceivedHeading};
  // Before the modem, which tells it the fates, so that it outlives the modem.
  Outbox outbox{modem};
  // Last, so that it is destroyed first: its queue is dropped and its port closed before the
  // rest of the object goes.
  SmsModem modem;

 private:
  void SendMessage(const HostParam* params);
  // Runs ModemScript when the path's state (port, SIM, network, last message) changed.
  void UpdatePathState() noexcept;
  // Tell a host that listens (host/host_report.h) what the last load or store of the
  // configuration found wrong, and the modem's status line when it changed.
  void ReportConfiguration(bool stored) noexcept;
  void ReportModemStatus() noexcept;

  void ReportRecordsProblem() noexcept;
  // Writes whole incoming messages to the received record and acts on them.
  void TakeReceived(std::vector<ReceivedMessage>& messages) noexcept;
  // Sends the loop test's message when it is due and ends the wait of one not back in time.
  void TickLoopTest() noexcept;
  bool LoopTestOn() const noexcept;
  bool IsLoopMessage(const ReceivedMessage& message) const;
  // The phone-book description of `number` (compared by its last 11 digits); nullptr when it is
  // not in the phone book.
  const PhoneEntry* PhoneOf(std::string_view number) const noexcept;

  std::string reportedStatus;   // the status line last reported to the host
  std::string reportedRecords;  // the records problem last reported to the host

 public:
  // Taken by every host operation; recursive for the dialogs' nested calls.
  std::recursive_mutex hostCalls;
};

}  // namespace pagorin

// The module's sender of short messages: a queue of encoded messages ordered by priority, and a
// sender thread that owns the serial port and the AT dialogue with the GSM modem (SmsSender).
//
// Threads: every public operation runs on the owner's thread (the host's) and never waits for
// the modem; the sender thread does all the talking. The two meet in one mutex around a small
// hand-over (new messages, the send switch, the fates and the status to report), never held
// while the sender talks to the port. The observer is called on the owner's thread, from Tick.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modem/modem_status.h"
#include "modem/pdu.h"

namespace pagorin {

class SerialLink;
class SmsSender;
struct SmsReport;

// Priorities of a queued message: higher leaves first; equal ones first in, first out.
inline constexpr int kPriorityScript = 0;
inline constexpr int kPriorityLow = 1;
inline constexpr int kPriorityHigh = 2;
inline constexpr int kPriorityUrgent = 3;

// The priority of an alarm message for an alarm level (1 low, 2 high, 3 urgent); an unknown
// level counts as low.
constexpr int PriorityForAlarmLevel(int level) noexcept {
  return level >= kPriorityLow && level <= kPriorityUrgent ? level : kPriorityLow;
}

// One message to one number: its parts go out one AT+CMGS each; the message is sent when every
// part was accepted by the network.
struct QueuedSms {
  std::uint64_t id = 0;            // unique for the life of the module; 0: assign one
  int priority = kPriorityScript;  // kPriorityScript .. kPriorityUrgent
  std::string number;              // the destination as dialled (11 or 12 digits)
  std::string text;                // the whole text, code page 936, kept for the history
  std::vector<SmsPart> parts;      // at least one; each one AT+CMGS command and PDU line
  std::uint32_t ageMs = 0;         // age the message already had when queued (a reload)
};

// The owner's view of the fates. Called on the owner's thread from SmsModem::Tick; a call may
// not call back into the SmsModem except for its const accessors.
class SmsObserver {
 public:
  // Every part of message `id` was accepted; `references` holds each part's message reference
  // (+CMGS: <mr>, -1 where the modem gave none), in part order; `attempts` counts attempts.
  virtual void OnSent(std::uint64_t id, const std::vector<int>& references,
                      int attempts) noexcept = 0;
  // An attempt of message `id` failed (kind Temporary: it stays queued and is tried again) or
  // the message ended unsent (Permanent, Expired, Refused).
  virtual void OnFailed(std::uint64_t id, const SmsFailure& failure) noexcept = 0;
  // The modem's health changed (port, SIM, registration, signal or last failure).
  virtual void OnStatusChanged(const ModemStatus& status) noexcept = 0;
  // A part of message `id` other than its last was accepted; `referencesSoFar` holds the
  // references of the parts accepted so far, in part order (its size is their count).
  virtual void OnPartSent(std::uint64_t /*id*/,
                          const std::vector<int>& /*referencesSoFar*/) noexcept {}
  // On the owner's thread from Tick, after RecordReceived took it.
  virtual void OnReceived(const SmsReport& report) noexcept { (void)report; }
  virtual void OnDelivery(const SmsReport& report) noexcept { (void)report; }

 protected:
  ~SmsObserver() = default;
};

// Makes fates durable the moment the modem gives them. Called on the sender thread, before the
// dialogue goes on, for each part accepted (Sent of the whole message, PartSent of a part
// before the last) and each final failure (Failed of a kind other than Temporary). A call must
// not call back into the SmsModem; it may take as long as a disk sync.
class SmsFateRecorder {
 public:
  virtual void RecordFate(const SmsReport& report) noexcept = 0;
  // An incoming message or a status report, on the sender thread, before the modem's copy is
  // deleted: true once it is safely on the disk (the sender then deletes it from the modem's
  // storage); false keeps it there, to be read again at the next sweep. The default takes it.
  virtual bool RecordReceived(const SmsReport& report) noexcept {
    (void)report;
    return true;
  }

 protected:
  ~SmsFateRecorder() = default;
};

class SmsModem {
 public:
  // How long a message is retried after temporary failures, counted from when it was queued.
  static constexpr std::uint32_t kDefaultMaxAgeMs = 24u * 60u * 60u * 1000u;

  SmsModem() noexcept;
  // Close, when the owner did not call it; the reports left are not delivered.
  ~SmsModem();
  SmsModem(const SmsModem&) = delete;
  SmsModem& operator=(const SmsModem&) = delete;

  // Starts the sender on COM`portNumber` (no parity, one stop bit) and tries to open it at once.
  // Returns 1 when the port opened, else 0 (Status().portError says why); either way the sender
  // keeps the port open from then on, reopening it with a back-off, and messages are accepted.
  // A second call changes nothing and returns whether the port is open.
  int Open(int portNumber, int baudRate, int byteSize) noexcept;

  // Queues a one-part message of `text` (code page 936, cut to 70 UTF-16 units) to `number` (11
  // or 12 digits) with `priority`. Returns 1 when queued; 0 before Open, or when the number or
  // the text is refused, or after Close.
  int Enqueue(const std::string& number, const std::string& text,
              int priority = kPriorityScript) noexcept;

  // Queues `message` (at least one part) and returns its id (message.id when not 0, else a new
  // one from NewMessageId); 0 when nothing was queued (before Open, after Close, no parts, out
  // of memory).
  std::uint64_t Submit(QueuedSms message) noexcept;

  // A message id never handed out before in this module's life (ids start at 1).
  std::uint64_t NewMessageId() noexcept;

  // The send switch: while off, no new message is started (one in the dialogue is finished)
  // and the queue is kept. On at first.
  void SetSendEnabled(bool enabled) noexcept;

  void SetReceiving(bool statusReports) noexcept;  // before Open; true by default:
  //   messages are sent with TP-SRR and the modem is set up to store and notify (AT+CPMS,
  //   AT+CNMI); false: neither reports requested nor CNMI changed for reports (incoming still
  //   read).

  // How long messages are retried after temporary failures; 0 or above 30 days is taken as
  // the default.
  void SetMaxAge(std::uint32_t milliseconds) noexcept;

  // The observer of fates and status; nullptr: no one. Not owned; it must outlive the SmsModem
  // or be replaced before it goes.
  void SetObserver(SmsObserver* observer) noexcept;
  // The recorder of fates on the sender thread; nullptr: none. Set before Open; not owned, and
  // it must outlive the SmsModem.
  void SetRecorder(SmsFateRecorder* recorder) noexcept { recorder_ = recorder; }

  // The owner's periodic call: tells the observer what happened since the last call and lets
  // the sender look at the clock. Never waits for the modem.
  void Tick() noexcept;

  // Stops the sender and closes the port; what is still queued is dropped without telling the
  // observer. A PDU already written gets its verdict first, waited for at most
  // SmsSender::kCloseGraceMs (on the module's clock, or as much real time should that clock stand
  // still); the modem is taken out of the prompt with ESC only before the PDU went. The reports
  // made until then are kept for one more Tick. Nothing is sent afterwards; a second call does
  // nothing.
  void Close() noexcept;

  // The modem's health as last seen by the sender. Throws only std::bad_alloc.
  ModemStatus Status() const;
  // Messages queued and not yet sent or ended, the one in the dialogue included.
  std::size_t queueLength() const noexcept;
  // The port number given to Open (1 before it).
  int portNumber() const noexcept { return portNumber_; }
  // True once Open was called.
  bool started() const noexcept { return started_; }
  // True once Close was called: nothing more is taken.
  bool closed() const noexcept { return closed_; }

  // The last lines of the dialogue, oldest first ("> " written, "< " received, "! " events).
  // Throws only std::bad_alloc.
  std::vector<std::string> RecentDialogue() const;

 private:
  void RunSender() noexcept;
  void Nudge() noexcept;
  void Stop() noexcept;

  int portNumber_ = 1;
  bool started_ = false;
  SmsObserver* observer_ = nullptr;
  SmsFateRecorder* recorder_ = nullptr;
  std::unique_ptr<SerialLink> link_;
  std::unique_ptr<SmsSender> sender_;

  // The hand-over between the owner's thread and the sender thread, guarded by mutex_.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<QueuedSms> incoming_;
  std::vector<SmsReport> reports_;
  ModemStatus status_;
  std::vector<std::string> dialogue_;
  std::size_t queued_ = 0;
  bool sendEnabled_ = true;
  std::uint32_t maxAgeMs_ = kDefaultMaxAgeMs;
  bool stopping_ = false;
  bool closed_ = false;  // owner's thread only
  bool nudged_ = false;
  std::thread thread_;
  // Owner's thread only.
  std::uint64_t lastId_ = 0;
};

}  // namespace pagorin

// The command side of the simulated modem as a pure state machine: bytes from the terminal go
// in, the modem's answer comes out. It knows the basic commands a sender of short messages needs
// (AT, ATE, ATV, ATQ, ATZ, AT&F, ATI, AT+CMGF, AT+CMGS, AT+CMEE), the ones a sender checks the
// modem's health with (AT+CPIN?, AT+CREG?, AT+CGREG?, AT+CSQ), and the receiving side in PDU
// mode: a message storage "SM" (AT+CPMS), new-message indications (AT+CNMI) and reading, listing
// and deleting stored messages (AT+CMGR, AT+CMGL, AT+CMGD). It answers in the verbose form with
// CR LF, as a modem does with its factory settings; after ATV0 result codes are numeric ("0\r",
// "4\r"; the +CMS and +CME errors keep their text) and information lines lose their leading CR
// LF; after ATQ1 no result codes at all. No input or output of its own, no clock: whoever runs it
// says when the network is gone (SetOutage).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "submit_pdu.h"

namespace pagorin::sim {

// `bytes` readable on one line: CR and LF as \r and \n, other control and non-ASCII bytes as \xHH.
std::string Escaped(std::string_view bytes);

// How the simulated modem behaves, including the faults it is told to show.
struct ModemBehaviour {
  bool echo = true;             // echo of received characters after reset (ATE1)
  bool numericResults = false;  // numeric result codes after reset (ATV0 stored)
  bool quietResults = false;    // no result codes after reset (ATQ1 stored)
  int failMessage = 0;          // the Nth accepted message (from 1) is answered with an error
  int failCode = 500;           // the +CMS ERROR code of that answer
  bool dropFinalOk = false;     // leave out the final OK after +CMGS
  std::string unsolicited;      // a result line sent right after the answer to each send
  int hangupAfter = 0;          // hang up after the Nth command line (from 1); 0 never
  int firstReference = 0;       // the message reference of the first message, 0 to 255

  // Unsolicited result codes: the lines to pick from (empty: DefaultUrcs()), and where they go.
  std::vector<std::string> urcs;
  bool urcAfterOk = false;      // one right after every final OK
  bool urcAfterPrompt = false;  // one right after every "> " prompt
  // The share of sends (0 to 1) refused at random with one of `errorCodes` (empty: the
  // temporary ones of DefaultErrorCodes()).
  double errorRate = 0;
  std::vector<int> errorCodes;
  std::uint32_t seed = 1;  // of the random choices: the same seed, the same run

  bool simReady = true;  // false: no SIM card (AT+CPIN? and every send fail)
  int signal = 17;       // the received signal strength that AT+CSQ reports, 0 to 31 or 99
  int registration = 1;  // what AT+CREG? reports: 0 none, 1 home, 2 searching, 3 denied, 5 roaming

  int storageSlots = 20;  // slots of the message storage "SM", numbered from 1
  // The line that says the storage is full, sent once when it fills up.
  std::string fullNotice = "+CIEV: \"SMSFULL\",1";
  double dropNotices = 0;  // the share (0 to 1) of +CMTI and +CDSI lines left out
  // When set, every +CMTI and +CDSI names this index instead of the slot the message went to.
  std::optional<int> badNoticeIndex;
};

// A message the network hands the modem: an incoming SMS-DELIVER part or a status report.
struct NetworkMessage {
  bool report = false;
  std::string pduHex;  // service-centre part and TPDU
  int tpduLength = 0;
  // What it says, for the log.
  std::string from;  // the sender of an incoming message, the recipient a report is about
  std::string text;  // an incoming part's text
  int part = 0;      // of a concatenated incoming message, from 1; 0 for a single one
  int parts = 0;
  int reference = 0;  // a report's message reference
  int status = 0;     // a report's TP-ST
};

// What happened in the message storage, for the log.
struct StorageEvent {
  enum class Kind { kStored, kShown, kRead, kDeleted, kFull, kDiscarded, kNoticeDropped };
  Kind kind;
  int index = 0;  // the slot, 0 where there is none
  NetworkMessage message;
};

// "stored", "shown", "read", "deleted", "storage_full", "discarded" or "notice_dropped".
const char* StorageEventName(StorageEvent::Kind kind);

// +CMTI: "SM",3 / RING / +CREG: 1 / ^RSSI: 17 / +CSQ: 17,99 / +CGREG: 1 / ^BOOT:... / NO CARRIER
const std::vector<std::string>& DefaultUrcs();
// The refusals a modem gives while it cannot send for now: 331 no network service, 332 network
// time-out, 42 congestion, 314 SIM busy, 500 unknown error.
const std::vector<int>& DefaultErrorCodes();

// One message the modem accepted and would have sent.
struct AcceptedMessage {
  int reference = 0;      // as answered with +CMGS
  bool textMode = false;  // sent in text mode: only `pdu.destination` and `pdu.text` are set
  std::string pduHex;     // the characters received before Ctrl-Z, as typed
  SubmitPdu pdu;
};

class AtInterpreter {
 public:
  explicit AtInterpreter(ModemBehaviour behaviour);

  // Takes bytes received from the terminal and returns the bytes the modem sends back (echo,
  // prompts, result codes). After a hang-up it takes nothing and returns nothing.
  std::string Feed(std::string_view bytes);

  // The messages accepted since the previous call, oldest first.
  std::vector<AcceptedMessage> TakeMessages();
  // What happened since the previous call, oldest first: each command line with its answer
  // (kCommand) and what the answer alone does not show, such as why a PDU was refused (kEvent).
  struct Note {
    enum class Kind { kCommand, kEvent };
    Kind kind;
    std::string text;
  };
  std::vector<Note> TakeNotes();

  // While `cmsError` is not 0 (for example 331, no network service) every send is refused with
  // it, and a 331 makes the registration "searching" and the signal unknown.
  void SetOutage(int cmsError) noexcept { outage_ = cmsError; }
  // The modem loses power and comes back: settings as after reset, any send in progress gone.
  // Message references and counts go on.
  void PowerCycle();
  // One unsolicited result line (without line ends), picked at random from the list.
  std::string NextUrc();

  // Queues a message in the network; it reaches the modem with the next Deliver().
  void Arrive(NetworkMessage message) { network_.push_back(std::move(message)); }
  // Stores or shows what waits in the network, as far as the storage has room, and returns the
  // unsolicited lines that say so. Call it only between commands: its lines must not land inside
  // the answer to one.
  std::string Deliver();
  // True when no command line, text or PDU is being typed.
  bool BetweenCommands() const { return state_ == State::kCommand && line_.empty(); }
  std::size_t NetworkWaiting() const { return network_.size(); }
  std::size_t StoredCount() const;
  // The storage events since the previous call, oldest first.
  std::vector<StorageEvent> TakeStorageEvents();

  // True once the command line named by `hangupAfter` has been answered.
  bool HungUp() const { return state_ == State::kHungUp; }
  bool Echo() const { return echo_; }
  bool NumericResults() const { return numeric_; }
  bool QuietResults() const { return quiet_; }
  bool TextMode() const { return textMode_; }
  int CommandCount() const { return commandCount_; }
  int AcceptedCount() const { return acceptedCount_; }

 private:
  enum class State { kCommand, kPduEntry, kTextEntry, kHungUp };

  void TakeCommandByte(char byte, std::string& out);
  void TakeEntryByte(char byte, std::string& out);
  void RunCommandLine(std::string& out);
  // Runs the commands of one line; returns the final result text (or the prompt).
  std::string RunCommands(std::string_view body, std::string& out);
  std::string RunExtended(std::string_view name, std::string_view argument, std::string& out);
  std::string StartSend(std::string_view argument);
  std::string Storage(std::string_view name, std::string_view argument, std::string& out);
  std::string Indications(std::string_view argument, std::string& out);
  // Lists the stored messages whose status `stat` selects (4: all), marking unread ones read.
  void List(int stat, std::string& out);
  std::string Notice(bool report, int index);
  std::string HealthQuery(std::string_view name, std::string_view argument, std::string& out);
  std::string CmeError(int code) const;
  // A final result given in the verbose form ("\r\nOK\r\n", "\r\n+CMS ERROR: 500\r\n"), as the
  // current settings send it.
  std::string Final(const std::string& verbose) const;
  // An information line as the current settings frame it.
  std::string Info(std::string_view text) const;
  void FinishSend(std::string& out);
  void Reset();

  ModemBehaviour behaviour_;
  State state_ = State::kCommand;
  bool echo_ = true;
  bool numeric_ = false;  // ATV0
  bool quiet_ = false;    // ATQ1
  bool textMode_ = false;
  int cmee_ = 0;    // error report mode: 0 plain ERROR, 1 numeric +CME ERROR
  int outage_ = 0;  // the +CMS ERROR code every send gets now, 0 none
  std::mt19937 random_;
  std::string line_;
  bool lineOverflow_ = false;
  std::string entry_;  // PDU characters or message text being typed
  bool entryOverflow_ = false;
  int announcedLength_ = 0;
  std::string textDestination_;
  int commandCount_ = 0;
  int submitCount_ = 0;  // sends that reached the point of being accepted
  int acceptedCount_ = 0;
  int nextReference_ = 0;
  std::vector<AcceptedMessage> messages_;
  std::vector<Note> notes_;

  struct Slot {
    bool used = false;
    int stat = 0;  // 0 received unread, 1 received read
    NetworkMessage message;
  };
  std::vector<Slot> slots_;  // slot i holds index i + 1
  std::deque<NetworkMessage> network_;
  bool fullNoticeSent_ = false;
  // AT+CNMI: <mt> 0 store silently, 1 store and notify, 2 or 3 show at once; <ds> 0 no reports,
  // 1 show at once, 2 store and notify.
  int cnmiMode_ = 0;
  int cnmiMt_ = 0;
  int cnmiDs_ = 0;
  int cnmiBfr_ = 0;
  std::vector<StorageEvent> storageEvents_;
};

}  // namespace pagorin::sim

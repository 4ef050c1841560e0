#include "modem/sms_sender.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "modem/at_commands.h"
#include "modem/at_lines.h"
#include "modem/at_replies.h"
#include "modem/tick_deadline.h"
#include "platform/tick.h"

namespace pagorin {
namespace {

constexpr std::string_view kEscape = "\x1B";
constexpr std::size_t kMaxLoggedBytes = 160;
constexpr int kMaxStepsPerCall = 64;
constexpr std::uint32_t kMaxDueMs = 1000;

using detail::Doubled;
using detail::Reached;
using detail::Until;

}  // namespace

SmsSender::SmsSender(ModemLink& link) noexcept : link_(link) {}

void SmsSender::Start() noexcept {
  if (phase_ != Phase::Stopped) return;
  phase_ = Phase::Closed;
  reopenAt_ = platform::TickCount();
  reopenDelayMs_ = kReopenFirstMs;
}

void SmsSender::BeginClose() noexcept {
  if (closeUntil_) return;
  closeUntil_ = platform::TickCount() + kCloseGraceMs;
}

bool SmsSender::ReadyToClose() const noexcept {
  if (command_ != AtCommand::Pdu || partAccepted_ || !link_.IsOpen() || link_.HungUp()) return true;
  return closeUntil_ && Reached(platform::TickCount(), *closeUntil_);
}

void SmsSender::Shutdown() noexcept {
  // Once the PDU and its Ctrl-Z are written an ESC could only call off what the network may have
  // taken already; before that it ends the PDU entry without sending.
  if (command_ == AtCommand::Length && link_.IsOpen() && !link_.HungUp()) {
    Log('>', kEscape);
    (void)link_.Write(kEscape);
  }
  if (command_ == AtCommand::Pdu && partAccepted_ && queue_.HasCurrent()) PartAccepted();
  link_.Close();
  status_.portOpen = false;
  command_ = AtCommand::None;
  queue_.ReleaseCurrent();
  closeUntil_.reset();
  phase_ = Phase::Stopped;
}

void SmsSender::Add(QueuedSms message) {
  queue_.Add(std::move(message), platform::TickCount());
}

std::vector<SmsReport> SmsSender::TakeReports() noexcept {
  return std::exchange(reports_, {});
}

void SmsSender::Step() noexcept {
  if (phase_ == Phase::Stopped) return;
  for (int step = 0; step < kMaxStepsPerCall; ++step) {
    bool progressed = false;
    StepOnce(platform::TickCount(), progressed);
    if (!progressed) break;
  }
  queue_.ExpireOld(platform::TickCount());
  PublishStatus();
}

void SmsSender::StepOnce(std::uint32_t now, bool& progressed) noexcept {
  if (phase_ == Phase::Closed) {
    if (closeUntil_) return;
    if (Reached(now, reopenAt_)) {
      TryOpen(now);
      progressed = phase_ != Phase::Closed;
    }
    return;
  }
  if (link_.HungUp()) {
    LoseLine(now, link_.LastError());
    progressed = true;
    return;
  }
  ReadLines(now, progressed);
  if (phase_ == Phase::Closed) return;
  if (command_ != AtCommand::None) {
    // Only now, with everything that arrived examined, may the wait end in a time-out.
    if (now - commandTick_ >= commandLimitMs_) {
      HandleTimeout(now);
      progressed = true;
    }
    return;
  }
  if (closeUntil_) return;
  if (settleUntil_) {
    if (!Reached(now, *settleUntil_)) return;
    settleUntil_.reset();
  }
  if (StartNext(now)) progressed = true;
}

void SmsSender::TryOpen(std::uint32_t now) noexcept {
  if (link_.Open()) {
    status_.portOpen = true;
    status_.portError.clear();
    Log('!', "port open");
    StartInit(now);
    return;
  }
  status_.portOpen = false;
  try {
    status_.portError = link_.LastError();
  } catch (...) {
    status_.portError.clear();
  }
  reopenAt_ = now + reopenDelayMs_;
  reopenDelayMs_ = Doubled(reopenDelayMs_, kReopenFirstMs, kReopenLastMs);
}

void SmsSender::LoseLine(std::uint32_t now, const std::string& why) noexcept {
  const AtCommand lost = command_;
  command_ = AtCommand::None;
  link_.Close();
  phase_ = Phase::Closed;
  Log('!', "port closed");
  try {
    status_.portError = why;
  } catch (...) {
    status_.portError.clear();
  }
  status_.portOpen = false;
  status_.sim = SimState::Unknown;
  status_.registration = Registration::Unknown;
  status_.signalDbm.reset();
  lines_.Clear();
  pduLine_ = PduLine::None;
  readPdu_.reset();
  listed_.clear();
  settleUntil_.reset();
  timeoutsInRow_ = 0;
  lastHealthTick_.reset();
  lateFinalOwed_ = false;
  reopenAt_ = now + reopenDelayMs_;
  reopenDelayMs_ = Doubled(reopenDelayMs_, kReopenFirstMs, kReopenLastMs);
  if (queue_.HasCurrent() && (lost == AtCommand::Length || lost == AtCommand::Pdu)) {
    if (lost == AtCommand::Pdu && partAccepted_) {
      // Taken by the network; a next part waits for the port like any other message.
      PartAccepted();
    } else {
      AttemptFailed({}, now);
    }
  }
  queue_.ReleaseCurrent();
  phase_ = Phase::Closed;
}

bool SmsSender::Write(std::string_view bytes, std::uint32_t now) noexcept {
  Log('>', bytes);
  if (link_.Write(bytes)) return true;
  std::string why;
  try {
    why = link_.LastError();
  } catch (...) {
  }
  LoseLine(now, why);
  return false;
}

bool SmsSender::Issue(AtCommand command, std::uint32_t now) noexcept {
  return Issue(command, AtCommandRowOf(command).text, now);
}

bool SmsSender::Issue(AtCommand command, std::string_view bytes, std::uint32_t now) noexcept {
  if (!Write(bytes, now)) return false;
  command_ = command;
  try {
    commandText_.assign(bytes.substr(0, bytes.size() - (bytes.ends_with('\r') ? 1 : 0)));
  } catch (...) {
    commandText_.clear();
  }
  commandTick_ = now;
  commandLimitMs_ = AtCommandRowOf(command).timeoutMs;
  if (command == AtCommand::Pdu) abandoned_.reset();
  return true;
}

void SmsSender::Escape(std::uint32_t now) noexcept {
  settleUntil_ = now + kSettleMs;
  // A close starts nothing after it; Shutdown writes the ESC a prompt still needs.
  if (closeUntil_ || !link_.IsOpen() || link_.HungUp()) return;
  (void)Write(kEscape, now);
}

void SmsSender::ReadLines(std::uint32_t now, bool& progressed) noexcept {
  try {
    arrival_.clear();
    if (link_.Take(arrival_) == 0 && lines_.Empty()) return;
    lines_.Append(arrival_);
    for (;;) {
      const AtLineSplitter::Piece piece = lines_.Next();
      switch (piece.kind) {
        case AtLineSplitter::Kind::None:
          return;
        case AtLineSplitter::Kind::Dropped:
          Log('!', "overlong line dropped");
          return;
        case AtLineSplitter::Kind::Prompt:
          Log('<', ">");
          // The modem answers in order: whatever final result it still owed came before this.
          lateFinalOwed_ = false;
          if (command_ != AtCommand::Length) {
            // The late prompt of a command given up on: the ESC that followed it has ended that
            // PDU entry. Left in place it would pass for the prompt of the next command.
            Log('!', "stale prompt ignored");
            continue;
          }
          HandlePrompt(now);
          progressed = true;
          break;
        case AtLineSplitter::Kind::Line:
          HandleLine(piece.text, now, progressed);
          break;
      }
      if (phase_ == Phase::Closed) return;
    }
  } catch (...) {
    // Out of memory: what arrived is dropped; the time-out of the command decides.
    lines_.Clear();
  }
}

void SmsSender::HandleLine(std::string_view line, std::uint32_t now, bool& progressed) noexcept {
  Log('<', line);
  if (pduLine_ != PduLine::None && !IsFinalResult(line)) {
    // Announced by the header before it: never a reply, never a notice.
    TakePduLine(line);
    return;
  }
  pduLine_ = PduLine::None;
  if (line == commandText_ && command_ != AtCommand::None) return;  // the modem's echo
  if (command_ == AtCommand::Probe) {
    if (const std::optional<std::string_view> verbose = VerboseOfNumericResult(line)) {
      // A modem with numeric results may answer the probe in them before it switches.
      HandleFinal(*verbose, now);
      progressed = true;
      return;
    }
  }
  if (IsFinalResult(line)) {
    HandleFinal(line, now);
    progressed = true;
    return;
  }
  if (const std::optional<int> reference = ParseCmgsReference(line)) {
    if (command_ == AtCommand::Pdu && queue_.HasCurrent()) {
      queue_.SetCurrentReference(*reference);
      partAccepted_ = true;
      // The part is sent; its final OK, when the modem sends one, follows at once.
      commandTick_ = now;
      commandLimitMs_ = kFinalOkGraceMs;
    } else {
      AcceptLate(*reference, now);
    }
    return;
  }
  if (command_ == AtCommand::Read && line.starts_with("+CMGR:")) {
    if (ParseCmgrHeader(line)) pduLine_ = PduLine::Read;
    return;
  }
  if (command_ == AtCommand::List && line.starts_with("+CMGL:")) {
    if (const std::optional<StoredMessageHeader> header = ParseCmglHeader(line)) {
      pduLine_ = PduLine::Listed;
      listedIndex_ = header->index;
    }
    return;
  }
  if (line.starts_with("+CDS:")) {
    // A status report shown at once, whatever command is in progress: its PDU is the next line.
    if (ParseCdsHeader(line)) pduLine_ = PduLine::Shown;
    return;
  }
  switch (AtCommandRowOf(command_).fact) {
    case AtFact::Sim:
      if (const std::optional<SimState> sim = ParseCpin(line)) {
        status_.sim = *sim;
        return;
      }
      break;
    case AtFact::Registration:
      if (const std::optional<Registration> registration = ParseCregAnswer(line)) {
        status_.registration = *registration;
        return;
      }
      break;
    case AtFact::Signal:
      if (line.starts_with("+CSQ:")) {
        status_.signalDbm = RssiToDbm(ParseSignalRssi(line).value_or(99));
        return;
      }
      break;
    case AtFact::None:
      break;
  }
  HandleUnsolicited(line, now);
}

void SmsSender::HandleUnsolicited(std::string_view line, std::uint32_t now) noexcept {
  try {
    if (const std::optional<StoredMessageNotice> notice = ParseStoredMessageNotice(line)) {
      NoteStored(*notice);
    } else if (IsStorageFullNotice(line)) {
      Log('!', "storage full");
      sweepPlanned_ = true;
      storageFull_ = true;
    } else if (const std::optional<Registration> registration = ParseCregNotice(line)) {
      status_.registration = *registration;
      // Registered again: messages held for the network need not wait out their back-off.
      if (IsRegistered(status_.registration)) queue_.ResumeNow(now);
    } else if (const std::optional<int> rssi = ParseSignalRssi(line)) {
      status_.signalDbm = RssiToDbm(*rssi);
    } else if (const std::optional<SimState> sim = ParseCpin(line)) {
      status_.sim = *sim;
    } else if (IsStartNotice(line) && phase_ != Phase::Init) {
      Log('!', "modem restarted");
      if (queue_.HasCurrent() && (command_ == AtCommand::Length || command_ == AtCommand::Pdu) &&
          !partAccepted_) {
        command_ = AtCommand::None;
        AttemptFailed({}, now);
      }
      command_ = AtCommand::None;
      queue_.ReleaseCurrent();
      StartInit(now);
    }
  } catch (...) {
  }
}

void SmsSender::HandleFinal(std::string_view result, std::uint32_t now) noexcept {
  timeoutsInRow_ = 0;
  const AtCommand command = command_;
  command_ = AtCommand::None;
  const bool lateFinalOwed = std::exchange(lateFinalOwed_, false);
  if (command == AtCommand::Length && result == "OK" && lateFinalOwed) {
    // AT+CMGS=<n> is answered with the prompt: this OK is the one a part taken as sent owed.
    Log('!', "late final result let pass");
    command_ = AtCommand::Length;
    return;
  }
  switch (AtCommandRowOf(command).chain) {
    case AtChain::None:
      return;
    case AtChain::Init:
      ContinueInit(AtCommandRowOf(command), result, now);
      return;
    case AtChain::Health:
      ContinueHealth(AtCommandRowOf(command), result, now);
      return;
    case AtChain::Storage:
      FinishRead(command, result, now);
      return;
    case AtChain::Message:
      break;
  }
  if (command == AtCommand::Length) {
    AttemptFailed(result == "OK" ? std::string_view("ERROR") : result, now);
    Escape(now);
    return;
  }
  // +CMGS: <mr> means the network took the part, whatever follows it. A bare OK is the modem's
  // word for the same.
  if (partAccepted_ || result == "OK") {
    PartAccepted();
  } else {
    AttemptFailed(result, now);
    Escape(now);
  }
}

void SmsSender::HandlePrompt(std::uint32_t now) noexcept {
  // Closing: the PDU is not written; Shutdown ends the entry with ESC.
  if (closeUntil_) return;
  (void)Issue(AtCommand::Pdu, queue_.CurrentPart().pduLine, now);
}

void SmsSender::HandleTimeout(std::uint32_t now) noexcept {
  const AtCommand command = command_;
  command_ = AtCommand::None;
  pduLine_ = PduLine::None;
  readPdu_.reset();
  // A listing cut short hands nothing over: the next sweep lists it again.
  listed_.clear();
  Log('!', "no reply");
  switch (AtCommandRowOf(command).onTimeout) {
    case AtTimeout::Repeat:
      if (probesLeft_ > 0) return;
      // Not answered at all: no modem behind the port, or one that does not listen.
      NoteFailure("AT " + TimeoutMeaning());
      LoseLine(now, status_.portError);
      return;
    case AtTimeout::Close:
      NoteFailure(commandText_ + ' ' + TimeoutMeaning());
      LoseLine(now, {});
      return;
    case AtTimeout::Message:
      if (command == AtCommand::Length) {
        ++timeoutsInRow_;
        AttemptFailed({}, now);
        Escape(now);
        break;
      }
      if (partAccepted_) {
        // +CMGS came and its OK did not: the part is sent. The OK may still come; it is let pass
        // as after an ESC, and while the next prompt is awaited.
        Log('!', "no OK after +CMGS; the part is sent");
        PartAccepted();
        lateFinalOwed_ = true;
        settleUntil_ = now + kSettleMs;
        return;
      }
      ++timeoutsInRow_;
      // The network may still take it; a late +CMGS for this part is believed.
      if (queue_.HasCurrent()) abandoned_ = queue_.CurrentPartRef();
      AttemptFailed({}, now);
      Escape(now);
      break;
    case AtTimeout::Count:
      ++timeoutsInRow_;
      NoteFailure(commandText_ + ' ' + TimeoutMeaning());
      phase_ = Phase::Idle;
      break;
  }
  if (timeoutsInRow_ >= kTimeoutsBeforeClose && phase_ != Phase::Closed) {
    LoseLine(now, {});
  }
}

bool SmsSender::StartInit(std::uint32_t now) noexcept {
  phase_ = Phase::Init;
  command_ = AtCommand::None;
  lines_.Clear();
  pduLine_ = PduLine::None;
  readPdu_.reset();
  listed_.clear();
  lateFinalOwed_ = false;
  // Messages that waited for the modem go before what it stored meanwhile.
  readMayGoFirst_ = false;
  probesLeft_ = kProbeAttempts;
  // The modem may still be in PDU entry from an earlier session: ESC ends it without sending.
  Escape(now);
  return phase_ == Phase::Init;
}

void SmsSender::ContinueInit(const AtCommandRow& row, std::string_view result,
                             std::uint32_t now) noexcept {
  const bool ok = result == "OK";
  if (!ok && row.errorFails) {
    NoteFailure(commandText_ + ' ' + DescribeErrorResult(result));
    LoseLine(now, {});
    return;
  }
  if (!ok && !row.errorNote.empty()) Log('!', row.errorNote);
  AtCommand next = ok ? row.onOk : row.onError;
  // Without status reports the notices are asked for without them from the first variant on.
  if (next == AtCommand::CnmiStored) next = FirstNoticeCommand(statusReports_);
  if (next != AtCommand::None) {
    (void)Issue(next, now);
    return;
  }
  Log('!', "modem ready");
  phase_ = Phase::Idle;
  reopenDelayMs_ = kReopenFirstMs;
  lastHealthTick_.reset();
  // What arrived while nobody listened is in the storage.
  sweepPlanned_ = true;
}

void SmsSender::ContinueHealth(const AtCommandRow& row, std::string_view result,
                               std::uint32_t now) noexcept {
  const bool ok = result == "OK";
  if (!ok) {
    switch (row.fact) {
      case AtFact::Sim:
        status_.sim = SimOfCpinError(result);
        break;
      case AtFact::Registration:
        status_.registration = Registration::Unknown;
        break;
      case AtFact::Signal:
        status_.signalDbm.reset();
        break;
      case AtFact::None:
        break;
    }
  }
  const AtCommand next = ok ? row.onOk : row.onError;
  if (next != AtCommand::None) {
    // Issued by StartNext, after what is more urgent.
    healthNext_ = next;
    return;
  }
  healthNext_.reset();
  phase_ = Phase::Idle;
  lastHealthTick_ = now;
  if (IsRegistered(status_.registration) && status_.sim == SimState::Ready) queue_.ResumeNow(now);
}

bool SmsSender::StartNext(std::uint32_t now) noexcept {
  switch (phase_) {
    case Phase::Init:
      if (probesLeft_ <= 0) return false;
      --probesLeft_;
      return Issue(AtCommand::Probe, now);
    case Phase::Sending:
      // Between two parts of one message (the previous part was accepted).
      if (queue_.HasCurrent()) return StartPart(now);
      phase_ = Phase::Idle;
      [[fallthrough]];
    case Phase::Idle:
    case Phase::Health:
    case Phase::Reading:
      break;
    default:
      return false;
  }
  if (queue_.HasCurrent()) return StartPart(now);
  if (phase_ == Phase::Reading) phase_ = Phase::Idle;
  // What was recorded goes from the storage first: until then a listing would hand it over again.
  if (!deletes_.empty()) return StartRead(now);
  const bool readDue = ReadDue(now);
  // A waiting message goes first, but one read may go between two messages; a full storage,
  // where the network holds back what comes in, is listed before anything else.
  if (readDue && (readMayGoFirst_ || storageFull_) && MessageDue(now)) return StartRead(now);
  if (sendEnabled_ && queue_.BeginAttempt(now)) {
    readMayGoFirst_ = true;
    phase_ = Phase::Sending;
    return StartPart(now);
  }
  if (phase_ == Phase::Health) {
    if (healthNext_) return Issue(*healthNext_, now);
    phase_ = Phase::Idle;
    return false;
  }
  if (readDue) return StartRead(now);
  if (!lastHealthTick_ || now - *lastHealthTick_ >= kHealthIntervalMs) {
    phase_ = Phase::Health;
    lastHealthTick_ = now;
    return Issue(AtCommand::Alive, now);
  }
  return false;
}

bool SmsSender::MessageDue(std::uint32_t now) const noexcept {
  return sendEnabled_ && queue_.Due(now);
}

bool SmsSender::ReadDue(std::uint32_t now) const noexcept {
  // A final result still owed to a part taken as sent would end the read with nothing read.
  if (lateFinalOwed_) return false;
  return sweepPlanned_ || !noticed_.empty() || now - lastSweepTick_ >= kSweepIntervalMs;
}

bool SmsSender::StartRead(std::uint32_t now) noexcept {
  phase_ = Phase::Reading;
  try {
    if (!deletes_.empty()) {
      const int index = deletes_.front();
      deletes_.pop_front();
      return Issue(AtCommand::Delete, "AT+CMGD=" + std::to_string(index) + '\r', now);
    }
    readMayGoFirst_ = false;
    if (sweepPlanned_ || now - lastSweepTick_ >= kSweepIntervalMs) {
      sweepPlanned_ = false;
      lastSweepTick_ = now;
      listed_.clear();
      return Issue(AtCommand::List, now);
    }
    if (!noticed_.empty()) {
      // The oldest notice first: a slot freed and filled again must not keep the others
      // waiting.
      readIndex_ = noticed_.front();
      noticed_.pop_front();
      readPdu_.reset();
      return Issue(AtCommand::Read, "AT+CMGR=" + std::to_string(readIndex_) + '\r', now);
    }
  } catch (...) {
    // Out of memory: the storage is listed when memory allows.
    sweepPlanned_ = true;
  }
  phase_ = Phase::Idle;
  return false;
}

void SmsSender::NoteStored(const StoredMessageNotice& notice) noexcept {
  if (!notice.index || *notice.index <= 0 || noticed_.size() >= kMaxNoticedSlots) {
    // No slot to read: the listing finds it.
    sweepPlanned_ = true;
    return;
  }
  try {
    if (std::find(noticed_.begin(), noticed_.end(), *notice.index) == noticed_.end())
      noticed_.push_back(*notice.index);
  } catch (...) {
    sweepPlanned_ = true;
  }
}

void SmsSender::TakePduLine(std::string_view line) noexcept {
  const PduLine kind = std::exchange(pduLine_, PduLine::None);
  try {
    switch (kind) {
      case PduLine::Read:
        readPdu_.emplace(line);
        return;
      case PduLine::Listed:
        if (listed_.size() < kMaxListed) {
          listed_.push_back(Stored{listedIndex_, std::string(line)});
        } else {
          sweepPlanned_ = true;
        }
        return;
      case PduLine::Shown:
        // Shown at once, not stored: there is nothing to delete.
        (void)HandOverReceived(line);
        return;
      case PduLine::None:
        return;
    }
  } catch (...) {
    // Out of memory: the message stays in the storage for the next sweep.
  }
}

void SmsSender::FinishRead(AtCommand command, std::string_view result, std::uint32_t now) noexcept {
  phase_ = Phase::Idle;
  try {
    if (command == AtCommand::Read) {
      if (readPdu_) {
        if (HandOverReceived(*readPdu_)) deletes_.push_back(readIndex_);
      } else if (result != "OK" && !IsEmptySlotError(result)) {
        Log('!', "slot not read");
      }
      readPdu_.reset();
    } else if (command == AtCommand::List) {
      storageFull_ = false;
      for (const Stored& stored : listed_) {
        std::erase(noticed_, stored.index);
        if (HandOverReceived(stored.pdu)) deletes_.push_back(stored.index);
      }
      listed_.clear();
      lastSweepTick_ = now;
    }
  } catch (...) {
    // Out of memory: what was not deleted is listed again by the next sweep.
    readPdu_.reset();
    listed_.clear();
  }
}

bool SmsSender::HandOverReceived(std::string_view pdu) noexcept {
  try {
    SmsReport report;
    report.kind = SmsReport::Kind::Received;
    report.pdu.assign(pdu);
    DecodedPdu decoded = DecodeIncomingPdu(pdu);
    if (SmsDeliver* deliver = std::get_if<SmsDeliver>(&decoded.message)) {
      report.received = std::move(*deliver);
    } else if (SmsStatusReport* delivery = std::get_if<SmsStatusReport>(&decoded.message)) {
      report.kind = SmsReport::Kind::Delivery;
      report.delivery = std::move(*delivery);
    } else {
      // Kept raw by the recorder; deleted once it took it, so that it cannot fill the storage.
      Log('!', "PDU not decoded");
    }
    const bool taken = recorder_ == nullptr || recorder_->RecordReceived(report);
    if (!taken) {
      Log('!', "not recorded; left on the modem");
      return false;
    }
    Report(std::move(report));
    return true;
  } catch (...) {
    return false;
  }
}

bool SmsSender::StartPart(std::uint32_t now) noexcept {
  phase_ = Phase::Sending;
  partAccepted_ = false;
  return Issue(AtCommand::Length, queue_.CurrentPart().lengthCommand, now);
}

void SmsSender::PartAccepted() noexcept {
  partAccepted_ = false;
  timeoutsInRow_ = 0;
  if (queue_.PartAccepted() && phase_ == Phase::Sending) phase_ = Phase::Idle;
}

void SmsSender::AcceptLate(int reference, std::uint32_t now) noexcept {
  if (!abandoned_) return;
  const SendQueue::PartRef part = *std::exchange(abandoned_, std::nullopt);
  switch (queue_.AcceptLate(part, reference)) {
    case SendQueue::LateAcceptance::None:
      return;
    case SendQueue::LateAcceptance::Current:
      // Its next attempt has begun. Before the PDU went out it is called off (ESC ends the PDU
      // entry, nothing is sent); once it went out, the part is sent twice whatever is done, and
      // the late reference counts for it.
      if (command_ == AtCommand::Length) {
        Log('!', "late acceptance; attempt called off");
        command_ = AtCommand::None;
        queue_.SetCurrentReference(reference);
        PartAccepted();
        Escape(now);
      }
      return;
    case SendQueue::LateAcceptance::Taken:
      Log('!', "late acceptance");
      return;
  }
}

void SmsSender::AttemptFailed(std::string_view result, std::uint32_t now) noexcept {
  if (!queue_.HasCurrent()) return;
  NoteFailure(result.empty() ? TimeoutMeaning() : DescribeErrorResult(result));
  queue_.AttemptFailed(result, now);
  if (phase_ == Phase::Sending) phase_ = Phase::Idle;
}

std::uint32_t SmsSender::MsUntilDue() const noexcept {
  const std::uint32_t now = platform::TickCount();
  std::uint32_t due = kMaxDueMs;
  switch (phase_) {
    case Phase::Stopped:
      return due;
    case Phase::Closed:
      return closeUntil_ ? due : std::min(due, Until(now, reopenAt_));
    default:
      break;
  }
  if (closeUntil_) due = std::min(due, Until(now, *closeUntil_));
  if (command_ != AtCommand::None) return std::min(due, Until(now, commandTick_ + commandLimitMs_));
  if (settleUntil_) return std::min(due, Until(now, *settleUntil_));
  if (phase_ == Phase::Idle && lastHealthTick_)
    due = std::min(due, Until(now, *lastHealthTick_ + kHealthIntervalMs));
  if (phase_ == Phase::Idle) due = std::min(due, Until(now, lastSweepTick_ + kSweepIntervalMs));
  return queue_.MsUntilDue(now, due);
}

void SmsSender::NoteFailure(const std::string& description) noexcept {
  try {
    status_.lastFailure = description;
  } catch (...) {
  }
}

void SmsSender::PublishStatus() noexcept {
  if (statusPublished_ && status_ == publishedStatus_) return;
  try {
    SmsReport report;
    report.kind = SmsReport::Kind::Status;
    report.status = status_;
    publishedStatus_ = status_;
    statusPublished_ = true;
    Report(std::move(report));
  } catch (...) {
  }
}

void SmsSender::Log(char direction, std::string_view text) noexcept {
  try {
    std::string line;
    line.reserve(kMaxLoggedBytes + 8);
    line += direction;
    line += ' ';
    for (char c : text.substr(0, kMaxLoggedBytes)) {
      switch (c) {
        case '\r':
          line += "<CR>";
          break;
        case '\n':
          line += "<LF>";
          break;
        case '\x1A':
          line += "<^Z>";
          break;
        case '\x1B':
          line += "<ESC>";
          break;
        default:
          line += c;
          break;
      }
    }
    if (log_.size() >= kLogLines) log_.pop_front();
    log_.push_back(std::move(line));
  } catch (...) {
  }
}

void SmsSender::Report(SmsReport report) noexcept {
  const bool fate =
      report.kind != SmsReport::Kind::Status && report.kind != SmsReport::Kind::Received &&
      report.kind != SmsReport::Kind::Delivery &&
      !(report.kind == SmsReport::Kind::Failed && report.failure.kind == SmsFailureKind::Temporary);
  if (fate && recorder_ != nullptr) recorder_->RecordFate(report);
  try {
    reports_.push_back(std::move(report));
  } catch (...) {
    // Out of memory: this report is lost; the queue itself is right.
  }
}

}  // namespace pagorin

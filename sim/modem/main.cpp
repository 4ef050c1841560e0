// gsm-modem-sim: a GSM modem on a pseudo-terminal. It prints (or writes to a file) the path of the
// terminal a sender opens, answers the sender's commands as a modem does, decodes every message it
// is handed and records it as a JSON line. Fault options make it misbehave on purpose, the way
// modems in the field do: unsolicited result codes at any moment, replies in pieces, spans without
// network, and a USB adapter pulled out and plugged back under the same name.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "at_interpreter.h"
#include "deliver_pdu.h"
#include "fault_schedule.h"
#include "gsm_text.h"
#include "message_log.h"
#include "modem_clock.h"
#include "phone_inbox.h"
#include "platform/file_io.h"
#include "platform/system_error.h"
#include "sim_settings.h"
#include "sim_terminal.h"
#include "sms_record.h"

namespace {

using pagorin::sim::Escaped;

using pagorin::platform::ErrorText;
using pagorin::sim::AtInterpreter;
using pagorin::sim::BehaviourOf;
using pagorin::sim::FaultSchedule;
using pagorin::sim::MessageLog;
using pagorin::sim::ModemClock;
using pagorin::sim::ParseIncoming;
using pagorin::sim::ParseRecipientStatus;
using pagorin::sim::ParseSettings;
using pagorin::sim::ParseStatuses;
using pagorin::sim::PlannedText;
using pagorin::sim::Settings;
using pagorin::sim::Terminal;
using Clock = std::chrono::steady_clock;

// While nobody has the terminal open the master reports a hang-up on every poll; it is looked at
// again after this pause instead of being polled in a busy loop.
constexpr int kReopenCheckMs = 50;
// After the last answer before a planned exit, time for the sender to read it.
constexpr int kExitGraceMs = 250;
constexpr std::size_t kMaxPendingOutput = 64 * 1024;
// How often the loop looks at the modem's clock when something is scheduled on it: the host's
// simulated clock can run many times faster than real time.
constexpr int kScheduleCheckMs = 5;
// The longest piece of a reply sent in pieces.
constexpr int kMaxPieceBytes = 8;

int signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

// Two ways of writing one phone's number: the same digits, or one with a country code (up to
// three digits) in front of the other.
bool SameNumber(std::string_view a, std::string_view b) {
  if (a.starts_with('+')) a.remove_prefix(1);
  if (b.starts_with('+')) b.remove_prefix(1);
  if (a.size() < b.size()) std::swap(a, b);
  return a == b || (b.size() >= 7 && a.size() - b.size() <= 3 && a.ends_with(b));
}

// The service centre that the network's messages name.
constexpr const char* kServiceCentre = "+8613800100500";
// The zone of the centre's time stamps: +08:00.
constexpr int kCentreZoneQuarters = 32;

// Writes the port file (or stdout) with the path a sender opens.
bool AnnounceTerminal(const Settings& settings, const Terminal& terminal) {
  if (!settings.portFile.empty()) {
    std::string error;
    if (!pagorin::platform::ReplaceFile(settings.portFile, terminal.SenderPath() + "\n", error)) {
      std::fprintf(stderr, "gsm-modem-sim: cannot write %s: %s\n", settings.portFile.c_str(),
                   error.c_str());
      return false;
    }
  } else {
    std::printf("%s\n", terminal.SenderPath().c_str());
  }
  std::fflush(stdout);
  std::fprintf(stderr, "gsm-modem-sim: modem on %s\n", terminal.SlavePath().c_str());
  return true;
}

// The path is dead once the modem ends; a port file left behind would send the next reader to it.
void RemovePortFile(const Settings& settings, const std::string& senderPath) {
  if (settings.portFile.empty()) return;
  std::string contents;
  std::string error;
  if (pagorin::platform::ReadWholeFile(settings.portFile, contents, error) &&
      contents == senderPath + "\n") {
    ::unlink(settings.portFile.c_str());
  }
}

class ModemRun {
 public:
  explicit ModemRun(const Settings& settings)
      : settings_(settings),
        random_(settings.seed + 1),
        modem_(BehaviourOf(settings)),
        terminal_(settings.link),
        schedule_(settings, random_),
        startUnix_(std::time(nullptr)),
        reportStatuses_(ParseStatuses(settings.reportStatus).value_or(std::vector<int>{0})) {
    for (const auto& text : settings.reportStatusTo)
      recipientStatus_.push_back(*ParseRecipientStatus(text));
    for (const auto& text : settings.incoming) {
      PlannedText planned = *ParseIncoming(text);
      PlanText(std::llround(planned.atSeconds * 1000.0), std::move(planned.message));
    }
  }

  int Run();

 private:
  // Points in time not yet set are kNever.
  static constexpr Clock::time_point kNever = Clock::time_point::max();

  void RunSchedule();
  bool PollOnce();
  void Receive(std::string_view received);
  bool Transmit();
  void HangUp();
  void Answer(std::string answer);
  // Logs and prints a message as the phone shows it.
  void Show(const pagorin::sim::ShownMessage& shown);
  // The centre's time stamp for a moment of the modem's clock.
  pagorin::sim::CentreTime CentreTimeAt(std::int64_t ms) const;
  // Puts the parts of a phone's message in the network at `atMs`.
  void PlanText(std::int64_t atMs, pagorin::sim::PhoneText message);
  // What the network makes of a message the modem sent: a report, a copy to the own number.
  void PlanAnswers(const pagorin::sim::AcceptedMessage& message, std::int64_t nowMs);
  void LogStorage();
  // The TP-ST of a report on a message to `recipient`.
  int ReportStatusFor(std::string_view recipient) const;

  const Settings& settings_;
  std::mt19937 random_;  // pieces and random moments; the interpreter has its own
  AtInterpreter modem_;
  Terminal terminal_;
  ModemClock clock_;
  FaultSchedule schedule_;
  MessageLog log_;
  std::string pending_;  // answer bytes not yet written
  std::string held_;     // answer bytes held back until `releaseMs_` on the modem's clock
  std::int64_t releaseMs_ = 0;
  pagorin::sim::PhoneInbox inbox_;
  Clock::time_point nextPiece_ = Clock::now();
  Clock::time_point reopenCheck_ = kNever;  // set while nobody has the terminal open
  Clock::time_point finishAt_ = kNever;     // set once the last answer before an exit is out
  Clock::time_point deadline_ = kNever;
  bool finishing_ = false;
  bool stop_ = false;
  int unplugCount_ = 0;
  const char* exitReason_ = "stopped";
  std::time_t startUnix_;
  std::vector<int> reportStatuses_;                           // never empty
  std::vector<std::pair<std::string, int>> recipientStatus_;  // the first that names the phone
  // The network's messages by the moment they reach the modem, in order of planning at a tie.
  std::multimap<std::int64_t, pagorin::sim::NetworkMessage> planned_;
  std::uint8_t concatReference_ = 0;
  int reportCount_ = 0;
};

pagorin::sim::CentreTime ModemRun::CentreTimeAt(std::int64_t ms) const {
  return pagorin::sim::CentreTimeAt(startUnix_ + static_cast<std::time_t>(ms / 1000),
                                    kCentreZoneQuarters);
}

void ModemRun::PlanText(std::int64_t atMs, pagorin::sim::PhoneText message) {
  message.smsc = kServiceCentre;
  message.time = CentreTimeAt(atMs);
  message.concatReference = ++concatReference_;
  std::string why;
  auto parts = pagorin::sim::EncodeDeliver(message, why);
  if (parts.empty()) {
    std::fprintf(stderr, "gsm-modem-sim: message from %s not made: %s\n", message.from.c_str(),
                 why.c_str());
    return;
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    pagorin::sim::NetworkMessage network;
    network.pduHex = parts[i].pdu.hex;
    network.tpduLength = parts[i].pdu.tpduLength;
    network.from = message.from;
    network.text = parts[i].text;
    network.part = parts.size() > 1 ? static_cast<int>(i + 1) : 0;
    network.parts = static_cast<int>(parts.size());
    planned_.emplace(atMs, std::move(network));
  }
}

int ModemRun::ReportStatusFor(std::string_view recipient) const {
  for (const auto& [number, status] : recipientStatus_) {
    if (SameNumber(number, recipient)) return status;
  }
  return reportStatuses_[std::min<std::size_t>(reportCount_ - 1, reportStatuses_.size() - 1)];
}

void ModemRun::PlanAnswers(const pagorin::sim::AcceptedMessage& message, std::int64_t nowMs) {
  const pagorin::sim::SubmitPdu& pdu = message.pdu;
  if (!message.textMode && pdu.statusReportRequest && !settings_.noReports) {
    ++reportCount_;
    // Out of order: every first of two reports takes three times as long, so the next one
    // overtakes it.
    double delay = settings_.reportDelaySeconds *
                   (settings_.reportsOutOfOrder && reportCount_ % 2 == 1 ? 3.0 : 1.0);
    std::int64_t atMs = nowMs + std::llround(delay * 1000.0);
    pagorin::sim::StatusReport report;
    report.smsc = kServiceCentre;
    report.reference = static_cast<std::uint8_t>(message.reference);
    report.recipient = pdu.destination;
    report.submitted = CentreTimeAt(nowMs);
    report.discharged = CentreTimeAt(atMs);
    const int status = ReportStatusFor(pdu.destination);
    report.status = static_cast<std::uint8_t>(status);
    pagorin::sim::EncodedPdu encoded = pagorin::sim::EncodeStatusReport(report);
    pagorin::sim::NetworkMessage network;
    network.report = true;
    network.pduHex = encoded.hex;
    network.tpduLength = encoded.tpduLength;
    network.from = pdu.destination;
    network.reference = message.reference;
    network.status = status;
    planned_.emplace(atMs, std::move(network));
  }
  if (settings_.ownNumber.empty() || !SameNumber(pdu.destination, settings_.ownNumber)) return;
  std::int64_t atMs = nowMs + std::llround(settings_.loopDelaySeconds * 1000.0);
  if (message.textMode) {
    pagorin::sim::PhoneText text;
    text.from = settings_.ownNumber;
    text.text = pdu.text;
    std::string why;
    text.coding = pagorin::sim::EncodeDeliver(text, why).empty() ? pagorin::sim::TextCoding::kUcs2
                                                                 : pagorin::sim::TextCoding::kGsm7;
    PlanText(atMs, std::move(text));
    return;
  }
  // The part comes back as it went: its coding, header and user data octets unchanged.
  std::size_t udOctets = pdu.alphabet == pagorin::sim::Alphabet::kGsm7
                             ? (static_cast<std::size_t>(pdu.userDataLength) * 7 + 7) / 8
                             : pdu.userDataLength;
  std::string hex = message.pduHex;
  if (hex.size() < udOctets * 2) return;
  std::vector<std::uint8_t> userData;
  for (std::size_t i = hex.size() - udOctets * 2; i + 1 < hex.size(); i += 2)
    userData.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  pagorin::sim::EncodedPdu encoded = pagorin::sim::EncodeDeliverUserData(
      kServiceCentre, settings_.ownNumber, pdu.dataCoding, pdu.hasHeader, pdu.userDataLength,
      userData, CentreTimeAt(atMs));
  pagorin::sim::NetworkMessage network;
  network.pduHex = encoded.hex;
  network.tpduLength = encoded.tpduLength;
  network.from = settings_.ownNumber;
  network.text = pdu.text;
  if (pdu.concatenation) {
    network.part = pdu.concatenation->sequence;
    network.parts = pdu.concatenation->total;
  }
  planned_.emplace(atMs, std::move(network));
}

void ModemRun::LogStorage() {
  for (const auto& event : modem_.TakeStorageEvents()) {
    log_.Append(pagorin::sim::FormatStorageLogLine(event, pagorin::sim::UtcTimestamp()));
    std::printf("%s\n", pagorin::sim::FormatStorageSummary(event).c_str());
    std::fflush(stdout);
  }
}

int ModemRun::Run() {
  if (!log_.Open(settings_.logFile)) return 1;
  if (!settings_.clockFile.empty() && !clock_.Share(settings_.clockFile)) return 1;

  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  if (!terminal_.Plug() || !AnnounceTerminal(settings_, terminal_)) return 1;
  const std::string senderPath = terminal_.SenderPath();
  if (settings_.timeoutSeconds > 0) {
    deadline_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(settings_.timeoutSeconds));
  }
  while (!stop_) {
    auto now = Clock::now();
    if (now >= deadline_) {
      exitReason_ = "time-out reached";
      break;
    }
    if (finishing_ && pending_.empty()) {
      if (finishAt_ == kNever) finishAt_ = now + std::chrono::milliseconds(kExitGraceMs);
      if (now >= finishAt_) break;
    }
    if (now >= reopenCheck_) reopenCheck_ = kNever;
    RunSchedule();
    if (!PollOnce()) return 1;
  }
  for (const auto& shown : inbox_.TakeIncomplete())
    Show(shown);
  terminal_.Unplug();
  RemovePortFile(settings_, senderPath);
  std::fprintf(stderr, "gsm-modem-sim: %s; %d command lines, %d messages accepted\n", exitReason_,
               modem_.CommandCount(), modem_.AcceptedCount());
  return 0;
}

void ModemRun::RunSchedule() {
  std::int64_t nowMs = clock_.NowMs();
  modem_.SetOutage(schedule_.OutageAt(nowMs));
  bool unplugged = schedule_.UnpluggedAt(nowMs);
  if (unplugged && terminal_.Plugged()) {
    terminal_.Unplug();
    pending_.clear();
    held_.clear();
    reopenCheck_ = kNever;
    ++unplugCount_;
    std::fprintf(stderr, "gsm-modem-sim: unplugged at %.3f s\n",
                 static_cast<double>(nowMs) / 1000.0);
  } else if (!unplugged && !terminal_.Plugged()) {
    if (!terminal_.Plug()) {
      exitReason_ = "cannot plug the modem in again";
      stop_ = true;
      return;
    }
    // A modem that comes back has been without power: settings as after reset.
    modem_.PowerCycle();
    std::fprintf(stderr, "gsm-modem-sim: plugged in again at %.3f s on %s\n",
                 static_cast<double>(nowMs) / 1000.0, terminal_.SlavePath().c_str());
  }
  if (!held_.empty() && nowMs >= releaseMs_) pending_ += std::exchange(held_, {});
  for (auto due = planned_.begin(); due != planned_.end() && due->first <= nowMs;) {
    modem_.Arrive(std::move(due->second));
    due = planned_.erase(due);
  }
  // The network's messages reach a modem that is on, between commands and after whole answers;
  // their notices are lost when nobody holds the line, as on a real one.
  if (modem_.NetworkWaiting() > 0 && terminal_.Plugged() && modem_.BetweenCommands() &&
      held_.empty() && !finishing_ && pending_.size() < kMaxPendingOutput) {
    std::string notices = modem_.Deliver();
    if (reopenCheck_ == kNever && !settings_.silent) pending_ += notices;
  }
  LogStorage();
  // A result code of its own goes out only to somebody holding the line, after whole answers.
  if (schedule_.UrcDue(nowMs) && terminal_.Plugged() && reopenCheck_ == kNever && !finishing_ &&
      !settings_.silent && pending_.size() < kMaxPendingOutput) {
    pending_ += "\r\n" + modem_.NextUrc() + "\r\n";
  }
}

bool ModemRun::PollOnce() {
  auto now = Clock::now();
  bool paced = settings_.byteDelayMs > 0 || settings_.piecesMs > 0;
  pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {terminal_.fd(), 0, 0}};
  nfds_t count = 1;
  bool wantWrite = !pending_.empty() && (!paced || now >= nextPiece_);
  if (reopenCheck_ == kNever && terminal_.Plugged()) {
    fds[1].events = static_cast<short>((finishing_ ? 0 : POLLIN) | (wantWrite ? POLLOUT : 0));
    count = 2;
  }
  Clock::time_point wake = std::min({deadline_, reopenCheck_, finishAt_});
  if (!pending_.empty() && paced && now < nextPiece_) wake = std::min(wake, nextPiece_);
  if (!schedule_.Empty() || clock_.Shared() || !held_.empty() || !planned_.empty() ||
      modem_.NetworkWaiting() > 0) {
    wake = std::min(wake, now + std::chrono::milliseconds(kScheduleCheckMs));
  }
  int timeoutMs = -1;
  if (wake != kNever) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
    timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
  }
  int ready = ::poll(fds, count, timeoutMs);
  if (ready < 0) {
    if (errno == EINTR) return true;
    std::fprintf(stderr, "gsm-modem-sim: poll: %s\n", ErrorText(errno).c_str());
    return false;
  }
  if ((fds[0].revents & POLLIN) != 0) {
    exitReason_ = "signal received";
    stop_ = true;
    return true;
  }
  if (count < 2) return true;

  bool hungUp = false;
  if ((fds[1].revents & POLLIN) != 0) {
    char buffer[512];
    ssize_t n = ::read(terminal_.fd(), buffer, sizeof buffer);
    if (n > 0) {
      Receive(std::string_view(buffer, static_cast<std::size_t>(n)));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      hungUp = true;  // EIO: the last holder of the terminal closed it
    }
  } else if ((fds[1].revents & (POLLHUP | POLLERR)) != 0) {
    hungUp = true;
  }
  if (!hungUp && (fds[1].revents & POLLOUT) != 0 && !pending_.empty()) hungUp = !Transmit();
  if (hungUp) HangUp();
  return true;
}

void ModemRun::Receive(std::string_view received) {
  if (settings_.trace) std::fprintf(stderr, "rx: %s\n", Escaped(received).c_str());
  // The clock may have moved since the last look (a shared clock jumps): the answer follows it.
  modem_.SetOutage(schedule_.OutageAt(clock_.NowMs()));
  std::string answer = modem_.Feed(received);
  if (!settings_.silent && pending_.size() + held_.size() + answer.size() <= kMaxPendingOutput) {
    Answer(std::move(answer));
  }
  for (const auto& note : modem_.TakeNotes()) {
    if (settings_.trace || note.kind == AtInterpreter::Note::Kind::kEvent) {
      std::fprintf(stderr, "gsm-modem-sim: %s\n", note.text.c_str());
    }
  }
  LogStorage();
  for (const auto& message : modem_.TakeMessages()) {
    log_.Append(pagorin::sim::FormatLogLine(message, pagorin::sim::UtcTimestamp()));
    PlanAnswers(message, clock_.NowMs());
    // A single SMS is shown as the modem took it; the parts of a concatenated one once the
    // phone has them all.
    for (const auto& shown : inbox_.Take(message)) {
      if (shown.parts > 1) {
        Show(shown);
      } else {
        std::printf("%s\n", pagorin::sim::FormatSummary(message).c_str());
        std::fflush(stdout);
      }
    }
  }
  if (modem_.HungUp()) {
    finishing_ = true;
    exitReason_ = "hung up";
  }
  if (settings_.exitAfterMessages > 0 && modem_.AcceptedCount() >= settings_.exitAfterMessages) {
    finishing_ = true;
    exitReason_ = "message count reached";
  }
}

// The prompt and the final reply to a send may come late, as the network makes them wait; what
// follows a late part waits behind it.
void ModemRun::Answer(std::string answer) {
  if (!held_.empty()) {
    held_ += answer;
    return;
  }
  std::size_t cut = std::string::npos;
  double delaySeconds = 0;
  auto consider = [&](std::string_view marker, double seconds) {
    std::size_t at = answer.find(marker);
    // With numeric results the line has no CR LF before it; with verbose ones that is held too.
    if (at != std::string::npos && at >= 2 && answer.compare(at - 2, 2, "\r\n") == 0) at -= 2;
    if (seconds > 0 && at < cut) {
      cut = at;
      delaySeconds = seconds;
    }
  };
  consider("\r\n> ", settings_.promptDelaySeconds);
  consider("+CMGS:", settings_.replyDelaySeconds);
  consider("+CMS ERROR:", settings_.replyDelaySeconds);
  if (cut == std::string::npos) {
    pending_ += answer;
    return;
  }
  pending_.append(answer, 0, cut);
  held_ = answer.substr(cut);
  releaseMs_ = clock_.NowMs() + std::llround(delaySeconds * 1000.0);
}

bool ModemRun::Transmit() {
  std::size_t chunk = pending_.size();
  int pauseMs = 0;
  if (settings_.byteDelayMs > 0) {
    chunk = 1;
    pauseMs = settings_.byteDelayMs;
  } else if (settings_.piecesMs > 0) {
    chunk = std::min(chunk, std::uniform_int_distribution<std::size_t>(1, kMaxPieceBytes)(random_));
    pauseMs = std::uniform_int_distribution<int>(1, settings_.piecesMs)(random_);
  }
  ssize_t n = ::write(terminal_.fd(), pending_.data(), chunk);
  if (n > 0) {
    if (settings_.trace) {
      std::fprintf(
          stderr, "tx: %s\n",
          Escaped(std::string_view(pending_).substr(0, static_cast<std::size_t>(n))).c_str());
    }
    pending_.erase(0, static_cast<std::size_t>(n));
    nextPiece_ = Clock::now() + std::chrono::milliseconds(pauseMs);
    return true;
  }
  return n == 0 || errno == EAGAIN || errno == EINTR;
}

void ModemRun::Show(const pagorin::sim::ShownMessage& shown) {
  // The log already holds every part; a joined line is added for a message the phone shows whole.
  if (shown.Complete()) {
    log_.Append(pagorin::sim::FormatShownLogLine(shown, pagorin::sim::UtcTimestamp()));
  }
  std::printf("%s\n", pagorin::sim::FormatShownSummary(shown).c_str());
  std::fflush(stdout);
}

void ModemRun::HangUp() {
  // Answers to a sender that went away are lost, as on a real line.
  pending_.clear();
  reopenCheck_ = Clock::now() + std::chrono::milliseconds(kReopenCheckMs);
  if (finishing_) stop_ = true;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Settings settings;
    if (std::optional<int> exit = ParseSettings(argc, argv, settings, std::cout, std::cerr)) {
      return *exit;
    }
    return ModemRun(settings).Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gsm-modem-sim: %s\n", e.what());
    return 1;
  }
}

// The dialogue with the modem, played from transcripts: a modem that answers every command as a
// field modem does (unsolicited lines anywhere, replies in pieces, errors, silence), on a manual
// clock, without threads or devices. The recorded exchanges are files in transcripts/, one case
// each; what needs more than a recording (closing, the switch, the clock read at given moments,
// a modem with a state of its own) is written out here.
#include "modem/sms_sender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <deque>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/tick.h"
#include "transcript_file.h"

namespace pagorin {
namespace {

const std::string kNumber = "12345678901";
const std::string kCmgsAB = "AT+CMGS=019\r";
const std::string kPduAB = "0011000D91682143658709F10008010400410042\x1A\r";
const std::string kOk = "\r\nOK\r\n";
const std::string kEsc = "\x1B";
const std::string kProbe = "ATQ0V1\r";
const std::string kReceiving = "AT+CPMS=\"SM\",\"SM\",\"SM\"\rAT+CNMI=2,1,0,2,0\r";
const std::string kInit = kEsc + kProbe + "ATE0\rAT+CMEE=1\rAT+CMGF=0\r" + kReceiving;
// The storage is listed once the modem is ready, before the first health check.
const std::string kSweep = "AT+CMGL=4\r";
const std::string kHealth = "AT\rAT+CPIN?\rAT+CREG?\rAT+CSQ\r";

using Pieces = std::vector<std::string>;

// A modem behind a line: answers each command with the pieces its script gives, the first piece
// at once and one more after each step of the sender. It keeps track of PDU entry, so that a
// command written while the modem waits for a PDU (the wedge) is caught.
class FakeModemLink final : public ModemLink {
 public:
  using Script = std::function<Pieces(const std::string& command)>;

  bool Open() noexcept override {
    ++opens;
    if (!present) return false;
    open = true;
    hungUp = false;
    inPduEntry = false;
    return true;
  }
  void Close() noexcept override {
    open = false;
    arrived.clear();
    later.clear();
  }
  bool IsOpen() const noexcept override { return open; }
  bool HungUp() const noexcept override { return hungUp; }
  bool Write(std::string_view bytes) noexcept override {
    if (!open || hungUp) return false;
    written += bytes;
    const std::string command(bytes);
    if (command.find('\x1A') != std::string::npos && !inPduEntry) pduWithoutPrompt = true;
    if (inPduEntry) {
      if (command.starts_with("AT")) wedged = true;
      if (command.find_first_of("\x1A\x1B") != std::string::npos) inPduEntry = false;
    }
    lastCommand = command;
    Pieces reply = script ? script(command) : Pieces{};
    // Pieces still on their way from an earlier answer come first.
    if (!reply.empty() && later.empty()) {
      Arrive(reply.front());
      reply.erase(reply.begin());
    }
    later.insert(later.end(), reply.begin(), reply.end());
    return true;
  }
  std::size_t Take(std::string& out) noexcept override {
    out += arrived;
    const std::size_t count = arrived.size();
    arrived.clear();
    return count;
  }
  std::string LastError() const override { return present ? "" : "No such file or directory"; }

  // Moves the next delayed piece into what arrived; false when there is none.
  bool DeliverNextPiece() {
    if (later.empty()) return false;
    Arrive(later.front());
    later.pop_front();
    return true;
  }

  // The modem's answer reaches the line; its prompt puts it into PDU entry.
  void Arrive(const std::string& piece) {
    if (lastCommand.starts_with("AT+CMGS=") && piece.find('>') != std::string::npos)
      inPduEntry = true;
    arrived += piece;
  }

  Script script;
  bool present = true;
  bool open = false;
  bool hungUp = false;
  bool inPduEntry = false;
  bool wedged = false;
  bool pduWithoutPrompt = false;  // a PDU written while the modem was not in PDU entry
  std::string lastCommand;
  int opens = 0;
  std::string written;
  std::string arrived;
  std::deque<std::string> later;
};

// The answers of a willing modem with a registered SIM; a row replaces what it needs.
Pieces WillingAnswer(const std::string& command) {
  if (command == kEsc) return {};
  if (command == "AT+CPIN?\r") return {"\r\n+CPIN: READY\r\n\r\nOK\r\n"};
  if (command == "AT+CREG?\r") return {"\r\n+CREG: 0,1\r\n\r\nOK\r\n"};
  if (command == "AT+CSQ\r") return {"\r\n+CSQ: 20,99\r\n\r\nOK\r\n"};
  if (command.starts_with("AT+CMGS=")) return {"\r\n> "};
  if (command.starts_with("AT")) return {kOk};
  return {"\r\n+CMGS: 1\r\n\r\nOK\r\n"};
}

QueuedSms MessageAB(std::uint64_t id, int priority = kPriorityScript) {
  return QueuedSms{id, priority, kNumber, "AB", {{kCmgsAB, kPduAB}}, 0};
}

class SenderRig : public ::testing::Test {
 protected:
  void SetUp() override { link.script = WillingAnswer; }

  void Step() {
    sender.Step();
    for (SmsReport& report : sender.TakeReports())
      reports.push_back(std::move(report));
  }

  // Steps, handing over one delayed piece per step and letting `quietStepMs` pass whenever
  // nothing is pending, until `done` holds or `limitMs` passed on the clock.
  void RunUntil(const std::function<bool()>& done, std::uint32_t limitMs = 600000,
                std::uint32_t quietStepMs = 250) {
    const std::uint32_t start = ticks.Now();
    while (!done() && ticks.Now() - start < limitMs) {
      Step();
      if (!link.DeliverNextPiece()) ticks.Advance(quietStepMs);
    }
    Step();
  }

  // Starts the sender and lets it open, initialise and check the modem's health.
  void StartReady() {
    sender.Start();
    RunUntil([&] {
      return sender.phase() == SmsSender::Phase::Idle && sender.status().sim != SimState::Unknown;
    });
    ASSERT_EQ(link.written, kInit + kSweep + kHealth);
    link.written.clear();
  }

  bool Empty() const { return sender.queueLength() == 0; }

  std::size_t Count(const std::string& what) const {
    std::size_t count = 0;
    for (std::size_t at = link.written.find(what); at != std::string::npos;
         at = link.written.find(what, at + what.size()))
      ++count;
    return count;
  }

  std::vector<const SmsReport*> Of(SmsReport::Kind kind) const {
    std::vector<const SmsReport*> found;
    for (const SmsReport& report : reports) {
      if (report.kind == kind) found.push_back(&report);
    }
    return found;
  }

  platform::ManualTicks ticks{100000};
  FakeModemLink link;
  SmsSender sender{link};
  std::vector<SmsReport> reports;
};

TEST_F(SenderRig, InitialisesAfterOpenAndChecksHealthBeforeTheFirstMessage) {
  StartReady();
  const ModemStatus& status = sender.status();
  EXPECT_TRUE(status.portOpen);
  EXPECT_EQ(status.sim, SimState::Ready);
  EXPECT_EQ(status.registration, Registration::Home);
  EXPECT_EQ(status.signalDbm, -73);
  // The mode command belongs to the initialisation, not to each message.
  sender.Add(MessageAB(1));
  sender.Add(MessageAB(2));
  RunUntil([&] { return Empty(); });
  EXPECT_EQ(link.written, kCmgsAB + kPduAB + kCmgsAB + kPduAB);
  ASSERT_EQ(Of(SmsReport::Kind::Sent).size(), 2u);
  EXPECT_EQ(Of(SmsReport::Kind::Sent)[0]->references, std::vector<int>{1});
  // About a minute later, when idle, the health commands come again.
  ticks.Advance(SmsSender::kHealthIntervalMs);
  RunUntil([&] { return Count("AT+CSQ\r") == 1; });
  EXPECT_EQ(link.written, kCmgsAB + kPduAB + kCmgsAB + kPduAB + kHealth);
}

const std::string kCmgs5 = "\r\n+CMGS: 5\r\n\r\nOK\r\n";

// Takes what the sender offers it as a recording would, or refuses all of it.
class Recorder final : public SmsFateRecorder {
 public:
  void RecordFate(const SmsReport&) noexcept override {}
  bool RecordReceived(const SmsReport& report) noexcept override {
    offered.push_back(report.kind);
    return takes;
  }
  bool takes = true;
  std::vector<SmsReport::Kind> offered;
};

// What a transcript file's header asks for (transcripts/README.md); a key left out is not
// checked.
struct TranscriptCase {
  std::vector<std::uint64_t> queue;
  std::optional<bool> recorderTakes;
  bool exactWrites = false;
  std::optional<std::vector<std::uint64_t>> sent;
  std::vector<std::vector<int>> references;
  std::optional<SmsFailureKind> failure;
  std::optional<int> temporary;
  std::optional<int> pdus;
  std::optional<int> escapes;
  std::optional<std::vector<SmsReport::Kind>> handed;
  std::optional<std::string> originator;
  std::optional<std::string> receivedPdu;
  std::optional<int> reportReference;
};

template <typename Number>
bool ReadNumbers(const std::string& text, std::vector<Number>& out) {
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    Number number{};
    const auto [rest, failure] = std::from_chars(word.data(), word.data() + word.size(), number);
    if (failure != std::errc{} || rest != word.data() + word.size()) return false;
    out.push_back(number);
  }
  return true;
}

bool ReadOneNumber(const std::string& text, std::optional<int>& out) {
  std::vector<int> numbers;
  if (!ReadNumbers(text, numbers) || numbers.size() != 1) return false;
  out = numbers[0];
  return true;
}

bool ReadKinds(const std::string& text, std::vector<SmsReport::Kind>& out) {
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (word == "received") {
      out.push_back(SmsReport::Kind::Received);
    } else if (word == "delivery") {
      out.push_back(SmsReport::Kind::Delivery);
    } else {
      return false;
    }
  }
  return true;
}

bool ReadFailureKind(const std::string& text, std::optional<SmsFailureKind>& out) {
  static const std::pair<const char*, SmsFailureKind> kNames[] = {
      {"temporary", SmsFailureKind::Temporary},
      {"permanent", SmsFailureKind::Permanent},
      {"expired", SmsFailureKind::Expired},
      {"refused", SmsFailureKind::Refused}};
  for (const auto& [name, kind] : kNames) {
    if (text == name) {
      out = kind;
      return true;
    }
  }
  return false;
}

// Reads the header; false with `error` naming the first key that is unknown or not understood,
// so that a misspelt expectation never goes unchecked.
bool ReadCase(const testing::TranscriptFile& file, TranscriptCase& out, std::string& error) {
  for (const auto& [key, value] : file.header) {
    bool understood = false;
    if (key == "queue") {
      understood = ReadNumbers(value, out.queue);
    } else if (key == "recorder") {
      understood = value == "takes" || value == "refuses";
      out.recorderTakes = value == "takes";
    } else if (key == "writes") {
      understood = value == "exact" || value == "in-order";
      out.exactWrites = value == "exact";
    } else if (key == "expect-sent") {
      out.sent.emplace();
      understood = ReadNumbers(value, *out.sent);
    } else if (key == "expect-references") {
      understood = ReadNumbers(value, out.references.emplace_back());
    } else if (key == "expect-failure") {
      understood = ReadFailureKind(value, out.failure);
    } else if (key == "expect-temporary") {
      understood = ReadOneNumber(value, out.temporary);
    } else if (key == "expect-pdus") {
      understood = ReadOneNumber(value, out.pdus);
    } else if (key == "expect-escapes") {
      understood = ReadOneNumber(value, out.escapes);
    } else if (key == "expect-handed") {
      out.handed.emplace();
      understood = ReadKinds(value, *out.handed);
    } else if (key == "expect-originator") {
      understood = !value.empty();
      out.originator = value;
    } else if (key == "expect-received-pdu") {
      understood = !value.empty();
      out.receivedPdu = value;
    } else if (key == "expect-report-reference") {
      understood = ReadOneNumber(value, out.reportReference);
    }
    if (!understood) {
      error = "header `" + key + ": " + value + "` is not understood";
      return false;
    }
  }
  if (out.handed && !out.recorderTakes) {
    error = "expect-handed needs a recorder";
    return false;
  }
  return true;
}

// Plays a transcript's modem: a write that is the next `>` line gets the answer listed under it
// (nothing when none is), any other write the willing modem's. All answers queue in one line, as
// on a wire; a piece arrives when its pauses have passed, the first at once, each further one
// after another step of the sender.
class TranscriptModem {
 public:
  TranscriptModem(const std::vector<testing::TranscriptLine>& lines, FakeModemLink& link,
                  platform::ManualTicks& ticks)
      : lines_(lines), link_(link), ticks_(ticks) {}

  // The pieces before the first `>` line: the modem says them once the module is ready.
  void Begin() { Queue(TakeAnswer()); }

  Pieces Answer(const std::string& command) {
    if (next_ < lines_.size() && lines_[next_].kind == Kind::Write &&
        lines_[next_].bytes == command) {
      ++next_;
      Queue(TakeAnswer());
    } else {
      std::vector<Piece> willing;
      for (std::string& piece : WillingAnswer(command))
        willing.push_back(Piece{0, std::move(piece)});
      Queue(std::move(willing));
    }
    // The first piece of an answer is on the line as the command is written.
    DeliverDue();
    return {};
  }

  // Hands the next piece to the line when it is due; false when none is.
  bool DeliverDue() {
    if (pending_.empty() || ticks_.Now() - headSince_ < pending_.front().delayMs) return false;
    link_.Arrive(pending_.front().bytes);
    pending_.pop_front();
    headSince_ = ticks_.Now();
    return true;
  }

  // Milliseconds until the next piece is due, at most `limit`.
  std::uint32_t DueIn(std::uint32_t limit) const {
    if (pending_.empty()) return limit;
    const std::uint32_t waited = ticks_.Now() - headSince_;
    const std::uint32_t delay = pending_.front().delayMs;
    return delay > waited ? std::min(limit, delay - waited) : 0;
  }

  bool PlayedThrough() const { return next_ == lines_.size() && pending_.empty(); }

  // The first `>` line the module has not written, for the failure message.
  std::string Unplayed() const {
    if (next_ == lines_.size()) return "every line played";
    return "line " + std::to_string(lines_[next_].lineNumber) + " never written: > " +
           testing::ShowTranscriptBytes(lines_[next_].bytes);
  }

 private:
  using Kind = testing::TranscriptLine::Kind;
  struct Piece {
    std::uint32_t delayMs;
    std::string bytes;
  };

  // The answer lines from `next_` to the next `>` line, with their pauses.
  std::vector<Piece> TakeAnswer() {
    std::vector<Piece> answer;
    std::uint32_t delay = 0;
    for (; next_ < lines_.size() && lines_[next_].kind != Kind::Write; ++next_) {
      const testing::TranscriptLine& line = lines_[next_];
      if (line.kind == Kind::Pause) {
        delay += line.ms;
        continue;
      }
      answer.push_back(Piece{delay, line.bytes});
      delay = 0;
    }
    EXPECT_EQ(delay, 0u) << "a pause must come before a piece of the modem's answer";
    return answer;
  }

  void Queue(std::vector<Piece> answer) {
    if (pending_.empty()) headSince_ = ticks_.Now();
    pending_.insert(pending_.end(), answer.begin(), answer.end());
  }

  const std::vector<testing::TranscriptLine>& lines_;
  FakeModemLink& link_;
  platform::ManualTicks& ticks_;
  std::size_t next_ = 0;
  std::deque<Piece> pending_;
  std::uint32_t headSince_ = 0;
};

// One recorded exchange per file of the transcripts folder, named after the file.
class Transcript : public SenderRig, public ::testing::WithParamInterface<std::string> {};

TEST_P(Transcript, PlaysAsRecorded) {
  testing::TranscriptFile file;
  TranscriptCase expected;
  std::string error;
  ASSERT_TRUE(testing::ReadTranscriptFile(std::string(PAGORIN_TRANSCRIPTS_DIR) + "/" + GetParam(),
                                          file, error))
      << error;
  ASSERT_TRUE(ReadCase(file, expected, error)) << GetParam() << ": " << error;
  Recorder recorder;
  if (expected.recorderTakes) {
    recorder.takes = *expected.recorderTakes;
    sender.SetRecorder(&recorder);
  }
  StartReady();
  TranscriptModem modem(file.lines, link, ticks);
  link.script = [&](const std::string& command) { return modem.Answer(command); };
  for (std::uint64_t id : expected.queue)
    sender.Add(MessageAB(id));
  modem.Begin();
  // Until the queue is empty and every line played, then a while longer, so that whatever the
  // module would still write is seen.
  const auto play = [&](const std::function<bool()>& done, std::uint32_t limitMs) {
    const std::uint32_t start = ticks.Now();
    while (!done() && ticks.Now() - start < limitMs) {
      Step();
      if (!modem.DeliverDue()) ticks.Advance(modem.DueIn(250));
    }
    Step();
  };
  play([&] { return Empty() && modem.PlayedThrough(); }, 3600000);
  play([] { return false; }, 5000);

  const std::string written = testing::ShowTranscriptBytes(link.written);
  EXPECT_TRUE(Empty()) << written;
  EXPECT_TRUE(modem.PlayedThrough()) << modem.Unplayed() << "\nwritten: " << written;
  EXPECT_FALSE(link.wedged) << written;
  EXPECT_FALSE(link.pduWithoutPrompt) << written;
  if (expected.exactWrites) {
    std::string listed;
    for (const testing::TranscriptLine& line : file.lines) {
      if (line.kind == testing::TranscriptLine::Kind::Write) listed += line.bytes;
    }
    EXPECT_EQ(written, testing::ShowTranscriptBytes(listed));
  }
  if (expected.pdus) {
    EXPECT_EQ(Count(kPduAB), static_cast<std::size_t>(*expected.pdus)) << written;
  }
  if (expected.escapes) {
    EXPECT_EQ(Count(kEsc), static_cast<std::size_t>(*expected.escapes)) << written;
  }

  const std::vector<const SmsReport*> sent = Of(SmsReport::Kind::Sent);
  const std::vector<const SmsReport*> failed = Of(SmsReport::Kind::Failed);
  if (expected.sent) {
    std::vector<std::uint64_t> ids;
    for (const SmsReport* report : sent)
      ids.push_back(report->id);
    EXPECT_EQ(ids, *expected.sent);
  }
  if (!expected.references.empty()) {
    std::vector<std::vector<int>> references;
    for (const SmsReport* report : sent)
      references.push_back(report->references);
    EXPECT_EQ(references, expected.references);
  }
  if (expected.failure) {
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(failed.back()->failure.kind, *expected.failure);
  }
  if (expected.temporary) {
    int temporary = 0;
    for (const SmsReport* report : failed)
      temporary += report->failure.kind == SmsFailureKind::Temporary ? 1 : 0;
    EXPECT_EQ(temporary, *expected.temporary);
  }

  if (expected.handed) {
    EXPECT_EQ(recorder.offered, *expected.handed);
    std::vector<SmsReport::Kind> reported;
    for (const SmsReport& report : reports) {
      if (report.kind == SmsReport::Kind::Received || report.kind == SmsReport::Kind::Delivery)
        reported.push_back(report.kind);
    }
    // The owner hears only of what was recorded.
    EXPECT_EQ(reported, recorder.takes ? *expected.handed : std::vector<SmsReport::Kind>{});
  }
  for (const SmsReport& report : reports) {
    if (report.received && expected.originator) {
      EXPECT_EQ(report.received->originator.number, *expected.originator);
    }
    if (report.received && expected.receivedPdu) {
      EXPECT_EQ(report.pdu, *expected.receivedPdu);
    }
    if (report.delivery && expected.reportReference) {
      EXPECT_EQ(report.delivery->messageReference, *expected.reportReference);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SmsSender, Transcript,
                         ::testing::ValuesIn(testing::ListTranscriptFiles(PAGORIN_TRANSCRIPTS_DIR)),
                         [](const ::testing::TestParamInfo<std::string>& file) {
                           std::string name = file.param.substr(0, file.param.rfind('.'));
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// The folder must be found: without it no transcript would run and nothing would fail.
TEST(TranscriptFile, TheFolderHoldsTranscripts) {
  EXPECT_FALSE(testing::ListTranscriptFiles(PAGORIN_TRANSCRIPTS_DIR).empty())
      << PAGORIN_TRANSCRIPTS_DIR;
}

// A transcript is read as written, and one that is not well formed is refused with its line.
TEST(TranscriptFile, ResolvesEscapesAndRefusesWhatIsMalformed) {
  testing::TranscriptFile file;
  std::string error;
  ASSERT_TRUE(
      testing::ParseTranscript("# a case\nqueue: 7\nexpect-sent:\n\n> AT+CMGS=019\\r\n"
                               "< \\r\\n>\\s\n@ 2000\n< +CMGS: \\\n< 5\\x0D\\n\\e\\z\\\\\n",
                               file, error))
      << error;
  using Kind = testing::TranscriptLine::Kind;
  ASSERT_EQ(file.header.size(), 2u);
  EXPECT_EQ(file.header[1], (std::pair<std::string, std::string>{"expect-sent", ""}));
  ASSERT_EQ(file.lines.size(), 4u);
  EXPECT_EQ(file.lines[0].kind, Kind::Write);
  EXPECT_EQ(file.lines[0].bytes, kCmgsAB);
  EXPECT_EQ(file.lines[1].bytes, "\r\n> ");
  EXPECT_EQ(file.lines[2].kind, Kind::Pause);
  EXPECT_EQ(file.lines[2].ms, 2000u);
  EXPECT_EQ(file.lines[3].bytes, "+CMGS: 5\r\n\x1B\x1A\\");
  EXPECT_EQ(file.lines[3].lineNumber, 8);
  EXPECT_EQ(testing::ShowTranscriptBytes(file.lines[1].bytes), "\\r\\n>\\s");

  const std::pair<const char*, const char*> malformed[] = {
      {"< \\q\n", "line 1: unknown escape \\q"},
      {"< \\x4\n", "line 1: \\x needs two hexadecimal digits"},
      {">AT\n", "line 1: a space must follow >"},
      {"> AT\\r\nqueue: 1\n", "line 2: the header must come before the exchange"},
      {"< +CMGS: \\\n> AT\\r\n", "line 2: a continued line must go on with the same marker"},
      {"< +CMGS: \\\n", "line 1: the file ends in a continued line"},
      {"@ soon\n", "line 1: @ takes milliseconds"},
      {"AT+CMGS=019\n", "line 1: neither `key: value`, nor a line starting with >, < or @"}};
  for (const auto& [text, why] : malformed) {
    testing::TranscriptFile untouched = file;
    EXPECT_FALSE(testing::ParseTranscript(text, untouched, error)) << text;
    EXPECT_EQ(error, why) << text;
    EXPECT_EQ(untouched.lines.size(), file.lines.size()) << text;
  }
}

TEST_F(SenderRig, ReadsTheReplyBeforeDecidingATimeout) {
  StartReady();
  link.script = [](const std::string& command) -> Pieces {
    return command == kPduAB ? Pieces{} : WillingAnswer(command);
  };
  sender.Add(MessageAB(1));
  RunUntil([&] { return Count(kPduAB) == 1; });
  // The verdict came in time but is looked at only after the wait's end (the sender was busy,
  // held, or the host slow): it counts, the message is not sent again.
  ticks.Advance(SmsSender::kSendReplyTimeoutMs + 5000);
  link.arrived = kCmgs5;
  Step();
  EXPECT_TRUE(Empty());
  EXPECT_EQ(Count(kPduAB), 1u);
  EXPECT_EQ(Count(kEsc), 0u);
  ASSERT_EQ(Of(SmsReport::Kind::Sent).size(), 1u);
}

TEST_F(SenderRig, ALateVerdictAfterGivingUpStillCountsAsSent) {
  StartReady();
  link.script = [](const std::string& command) -> Pieces {
    return command == kPduAB ? Pieces{} : WillingAnswer(command);
  };
  sender.Add(MessageAB(1));
  RunUntil([&] { return Count(kEsc) == 1; });
  link.arrived = kCmgs5;
  RunUntil([&] { return Empty(); }, 120000);
  EXPECT_EQ(Count(kPduAB), 1u);
  ASSERT_EQ(Of(SmsReport::Kind::Sent).size(), 1u);
  EXPECT_EQ(Of(SmsReport::Kind::Sent)[0]->references, std::vector<int>{5});
}

// A modem that never sends the OK after +CMGS: each message costs the grace for the OK, not the
// verdict time-out. The OK that comes after all, with the next command, is not its answer.
class MissingFinalOk : public SenderRig, public ::testing::WithParamInterface<bool> {};

TEST_P(MissingFinalOk, CostsTheGracePerMessageAndALateOkFoolsNoCommand) {
  const bool lateOk = GetParam();
  StartReady();
  int lengthCommands = 0;
  int reference = 20;
  link.script = [&](const std::string& command) -> Pieces {
    if (command.starts_with("AT+CMGS=")) {
      // The previous part's OK comes only now, before the prompt.
      return lateOk && ++lengthCommands > 1 ? Pieces{kOk, "\r\n> "} : Pieces{"\r\n> "};
    }
    if (command == kPduAB) return {"\r\n+CMGS: " + std::to_string(reference++) + "\r\n"};
    return WillingAnswer(command);
  };
  for (std::uint64_t id = 1; id <= 3; ++id)
    sender.Add(MessageAB(id));
  std::vector<std::uint32_t> took;
  std::uint32_t last = ticks.Now();
  while (!Empty() && ticks.Now() - last < SmsSender::kSendReplyTimeoutMs) {
    const std::size_t before = Of(SmsReport::Kind::Sent).size();
    Step();
    if (Of(SmsReport::Kind::Sent).size() != before) {
      took.push_back(ticks.Now() - last);
      last = ticks.Now();
    }
    if (!link.DeliverNextPiece()) ticks.Advance(100);
  }
  ASSERT_EQ(took.size(), 3u) << link.written;
  EXPECT_GE(took[0], SmsSender::kFinalOkGraceMs);
  for (std::uint32_t ms : took)
    EXPECT_LE(ms, SmsSender::kFinalOkGraceMs + SmsSender::kSettleMs + 500);
  EXPECT_EQ(link.written, kCmgsAB + kPduAB + kCmgsAB + kPduAB + kCmgsAB + kPduAB);
  EXPECT_TRUE(Of(SmsReport::Kind::Failed).empty());
  std::vector<int> references;
  for (const SmsReport* report : Of(SmsReport::Kind::Sent))
    references.push_back(report->references.at(0));
  EXPECT_EQ(references, (std::vector<int>{20, 21, 22}));
}

INSTANTIATE_TEST_SUITE_P(NeverOrLate, MissingFinalOk, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& row) {
                           return row.param ? "LateWithTheNextCommand" : "Never";
                         });

// A modem that kept numeric results (ATV0) or quiet mode (ATQ1) from an earlier session answers in
// that form until the probe switches it back; a modem that answers the switching command itself
// in the old form is understood too (numeric) or probed again (quiet).
struct StoredResultsRow {
  const char* name;
  bool numeric;
  bool quiet;
  bool oldFormForTheSwitch;
  int probes;  // probes written before the modem answered
};

void PrintTo(const StoredResultsRow& row, std::ostream* out) {
  *out << row.name;
}

class StoredResults : public SenderRig, public ::testing::WithParamInterface<StoredResultsRow> {};

TEST_P(StoredResults, AreMadeVerboseBeforeTheInitialisationReliesOnOk) {
  const StoredResultsRow& row = GetParam();
  bool numeric = row.numeric;
  bool quiet = row.quiet;
  link.script = [&](const std::string& command) -> Pieces {
    const bool wasNumeric = numeric;
    const bool wasQuiet = quiet;
    if (command.starts_with("AT")) {
      if (command.find("V1") != std::string::npos) numeric = false;
      if (command.find("Q0") != std::string::npos) quiet = false;
    }
    const bool asNumeric = row.oldFormForTheSwitch ? wasNumeric : numeric;
    const bool asQuiet = row.oldFormForTheSwitch ? wasQuiet : quiet;
    Pieces answer = WillingAnswer(command);
    for (std::string& piece : answer) {
      for (std::size_t at = piece.find(kOk); at != std::string::npos; at = piece.find(kOk, at)) {
        const std::string result = asQuiet ? "" : asNumeric ? "0\r" : kOk;
        piece.replace(at, kOk.size(), result);
        at += result.size();
      }
    }
    return answer;
  };
  sender.Start();
  RunUntil([&] {
    return sender.phase() == SmsSender::Phase::Idle && sender.status().sim != SimState::Unknown;
  });
  std::string init = kInit;
  for (int i = 1; i < row.probes; ++i)
    init.insert(kEsc.size(), kProbe);
  ASSERT_EQ(link.written, init + kSweep + kHealth);
  EXPECT_FALSE(numeric);
  EXPECT_FALSE(quiet);
  sender.Add(MessageAB(1));
  sender.Add(MessageAB(2));
  RunUntil([&] { return Empty(); });
  EXPECT_EQ(Of(SmsReport::Kind::Sent).size(), 2u);
  EXPECT_TRUE(Of(SmsReport::Kind::Failed).empty());
}

INSTANTIATE_TEST_SUITE_P(
    SmsSender, StoredResults,
    ::testing::Values(StoredResultsRow{"Numeric", true, false, false, 1},
                      StoredResultsRow{"NumericAnswerToTheSwitch", true, false, true, 1},
                      StoredResultsRow{"Quiet", false, true, false, 1},
                      StoredResultsRow{"QuietAnswerToTheSwitch", false, true, true, 2},
                      StoredResultsRow{"NumericAndQuiet", true, true, false, 1}),
    [](const ::testing::TestParamInfo<StoredResultsRow>& row) { return row.param.name; });

// Answers that come after the dialogue gave up on them: a prompt is not taken for the prompt of
// the next command, and a verdict that comes while the message's next attempt waits for its
// prompt calls that attempt off.
class LateAnswers : public SenderRig, public ::testing::WithParamInterface<bool> {};

TEST_P(LateAnswers, NeitherFoolTheNextAttemptNorSendTwice) {
  const bool verdict = GetParam();
  {
    StartReady();
    int lengthCommands = 0;
    link.script = [&](const std::string& command) -> Pieces {
      if (command.starts_with("AT+CMGS=")) {
        // The first one is never answered; the second answers two steps late.
        return ++lengthCommands == 1 ? Pieces{} : Pieces{"", "", "\r\n> "};
      }
      if (verdict && command == kPduAB) return {};
      return WillingAnswer(command);
    };
    sender.Add(MessageAB(1));
    if (verdict) {
      // The PDU went out, no verdict came in time: the message waits for its next attempt.
      lengthCommands = 1;
      RunUntil([&] { return Count(kEsc) == 1; });
      RunUntil([&] { return link.lastCommand.starts_with("AT+CMGS="); });
      link.arrived += kCmgs5;
    } else {
      RunUntil([&] { return Count(kEsc) == 1; });
      link.arrived += "\r\n> ";
    }
    RunUntil([&] { return Empty(); }, 120000);
    EXPECT_FALSE(link.pduWithoutPrompt) << link.written;
    EXPECT_FALSE(link.wedged) << link.written;
    EXPECT_EQ(Count(kPduAB), 1u) << link.written;
    ASSERT_EQ(Of(SmsReport::Kind::Sent).size(), 1u);
    if (verdict) {
      EXPECT_EQ(Of(SmsReport::Kind::Sent)[0]->references, std::vector<int>{5});
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PromptOrVerdict, LateAnswers, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& row) {
                           return row.param ? "Verdict" : "Prompt";
                         });

TEST_F(SenderRig, UrgentGoesFirstAndAMessageInTheDialogueIsNotInterrupted) {
  StartReady();
  sender.Add(MessageAB(1, kPriorityScript));
  sender.Add(MessageAB(2, kPriorityLow));
  // The first message is in the dialogue when the urgent one comes.
  link.script = [](const std::string& command) -> Pieces {
    return command.starts_with("AT+CMGS=") ? Pieces{"\r\n", "> "} : WillingAnswer(command);
  };
  Step();
  ASSERT_EQ(link.written, kCmgsAB);
  sender.Add(MessageAB(3, kPriorityHigh));
  sender.Add(MessageAB(4, kPriorityUrgent));
  sender.Add(MessageAB(5, kPriorityUrgent));
  RunUntil([&] { return Empty(); });
  std::vector<std::uint64_t> order;
  for (const SmsReport* report : Of(SmsReport::Kind::Sent))
    order.push_back(report->id);
  // Low (already in the dialogue), then urgent in order of arrival, high, script.
  EXPECT_EQ(order, (std::vector<std::uint64_t>{2, 4, 5, 3, 1}));
}

TEST_F(SenderRig, NoNetworkKeepsEveryMessageInItsPlace) {
  StartReady();
  int refusals = 2;
  link.script = [&](const std::string& command) -> Pieces {
    if (command == kPduAB && refusals > 0) {
      --refusals;
      return {"\r\n+CMS ERROR: 331\r\n"};
    }
    return WillingAnswer(command);
  };
  for (std::uint64_t id = 1; id <= 5; ++id)
    sender.Add(MessageAB(id));
  RunUntil([&] { return Empty(); });
  std::vector<std::uint64_t> order;
  for (const SmsReport* report : Of(SmsReport::Kind::Sent))
    order.push_back(report->id);
  EXPECT_EQ(order, (std::vector<std::uint64_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(platform::Cp936ToUtf8(sender.status().lastFailure), "+CMS ERROR: 331 无网络服务");
}

TEST_F(SenderRig, AMessageFailingTemporarilyEndsAtItsMaximumAge) {
  StartReady();
  sender.SetMaxAge(60000);
  link.script = [](const std::string& command) -> Pieces {
    return command == kPduAB ? Pieces{"\r\n+CMS ERROR: 500\r\n"} : WillingAnswer(command);
  };
  sender.Add(MessageAB(1));
  RunUntil([&] { return Empty(); });
  std::vector<const SmsReport*> failed = Of(SmsReport::Kind::Failed);
  ASSERT_FALSE(failed.empty());
  EXPECT_EQ(failed.back()->failure.kind, SmsFailureKind::Expired);
  EXPECT_EQ(failed.back()->failure.result, "+CMS ERROR: 500");
  EXPECT_EQ(failed.back()->failure.code, 500);
  EXPECT_GE(failed.back()->failure.attempts, 3);
  // Back-off: a handful of attempts in a minute, not one per second.
  EXPECT_LE(failed.back()->failure.attempts, 6);
}

TEST_F(SenderRig, SendsEveryPartAndTheMessageIsSentWhenAllAre) {
  StartReady();
  int next = 40;
  link.script = [&](const std::string& command) -> Pieces {
    if (command == kPduAB && next == 41) {
      ++next;
      return {"\r\n+CMS ERROR: 500\r\n"};
    }
    if (command == kPduAB) return {"\r\n+CMGS: " + std::to_string(next++) + "\r\n\r\nOK\r\n"};
    return WillingAnswer(command);
  };
  QueuedSms message = MessageAB(9);
  message.parts.assign(3, SmsPart{kCmgsAB, kPduAB});
  sender.Add(message);
  RunUntil([&] { return Empty(); });
  // The failed second part is tried again; the first is not sent twice.
  EXPECT_EQ(Count(kPduAB), 4u);
  // Each part but the last is reported as it is accepted, with the references so far.
  std::vector<std::vector<int>> progress;
  for (const SmsReport* report : Of(SmsReport::Kind::PartSent)) {
    EXPECT_EQ(report->id, 9u);
    progress.push_back(report->references);
  }
  EXPECT_EQ(progress, (std::vector<std::vector<int>>{{40}, {40, 42}}));
  ASSERT_EQ(Of(SmsReport::Kind::Sent).size(), 1u);
  EXPECT_EQ(Of(SmsReport::Kind::Sent)[0]->references, (std::vector<int>{40, 42, 43}));
  EXPECT_EQ(Of(SmsReport::Kind::Sent)[0]->attempts, 2);
}

// Every way the dialogue leaves a started send, and what must hold afterwards. A close waits for
// the verdict on a PDU already written and never sends ESC after it.
enum class WayOut {
  ShutdownAtPrompt,
  CloseAwaitingAVerdictThatComes,
  CloseAwaitingAnOkThatNeverComes,
  CloseAwaitingAVerdictThatNeverComes,
  SendSwitchOffAtPrompt
};

struct WayOutRow {
  const char* name;
  WayOut way;
};

void PrintTo(const WayOutRow& row, std::ostream* out) {
  *out << row.name;
}

class WaysOut : public SenderRig, public ::testing::WithParamInterface<WayOutRow> {};

TEST_P(WaysOut, TakeTheModemOutOfPduEntry) {
  StartReady();
  link.script = [](const std::string& command) -> Pieces {
    return command == kPduAB ? Pieces{} : WillingAnswer(command);
  };
  sender.Add(MessageAB(1));
  sender.Add(MessageAB(2));
  switch (GetParam().way) {
    case WayOut::ShutdownAtPrompt:
      link.script = [](const std::string& command) -> Pieces {
        return command.starts_with("AT+CMGS") ? Pieces{"\r\n", "> "} : WillingAnswer(command);
      };
      Step();
      ASSERT_EQ(link.written, kCmgsAB);
      sender.BeginClose();
      link.DeliverNextPiece();
      Step();
      // Nothing was sent yet: the close needs no wait, and the prompt gets no PDU but ESC.
      EXPECT_TRUE(sender.ReadyToClose());
      sender.Shutdown();
      EXPECT_EQ(link.written, kCmgsAB + kEsc);
      EXPECT_FALSE(link.open);
      break;
    case WayOut::CloseAwaitingAVerdictThatComes:
    case WayOut::CloseAwaitingAnOkThatNeverComes: {
      const bool withOk = GetParam().way == WayOut::CloseAwaitingAVerdictThatComes;
      RunUntil([&] { return Count(kPduAB) == 1; });
      sender.BeginClose();
      ticks.Advance(SmsSender::kCloseGraceMs / 2);
      Step();
      EXPECT_FALSE(sender.ReadyToClose());
      link.arrived = withOk ? kCmgs5 : "\r\n+CMGS: 5\r\n";
      Step();
      EXPECT_TRUE(sender.ReadyToClose());
      sender.Shutdown();
      for (SmsReport& report : sender.TakeReports())
        reports.push_back(std::move(report));
      EXPECT_EQ(link.written, kCmgsAB + kPduAB);
      ASSERT_EQ(Of(SmsReport::Kind::Sent).size(), 1u);
      EXPECT_EQ(Of(SmsReport::Kind::Sent)[0]->id, 1u);
      EXPECT_EQ(Of(SmsReport::Kind::Sent)[0]->references, std::vector<int>{5});
      EXPECT_EQ(sender.queueLength(), 1u);
      EXPECT_FALSE(link.open);
      break;
    }
    case WayOut::CloseAwaitingAVerdictThatNeverComes: {
      RunUntil([&] { return Count(kPduAB) == 1; });
      const std::uint32_t begun = ticks.Now();
      sender.BeginClose();
      RunUntil([&] { return sender.ReadyToClose(); }, 60000, 100);
      EXPECT_GE(ticks.Now() - begun, SmsSender::kCloseGraceMs);
      EXPECT_LE(ticks.Now() - begun, SmsSender::kCloseGraceMs + 100);
      sender.Shutdown();
      for (SmsReport& report : sender.TakeReports())
        reports.push_back(std::move(report));
      // No fate is known: the message stays queued, unreported, and nothing else was written.
      EXPECT_EQ(link.written, kCmgsAB + kPduAB);
      EXPECT_TRUE(Of(SmsReport::Kind::Sent).empty());
      EXPECT_TRUE(Of(SmsReport::Kind::Failed).empty());
      EXPECT_EQ(sender.queueLength(), 2u);
      EXPECT_FALSE(link.open);
      break;
    }
    case WayOut::SendSwitchOffAtPrompt:
      link.script = [](const std::string& command) -> Pieces {
        return command.starts_with("AT+CMGS") ? Pieces{"\r\n", "> "} : WillingAnswer(command);
      };
      Step();
      ASSERT_EQ(link.written, kCmgsAB);
      sender.SetSendEnabled(false);
      RunUntil([&] { return sender.queueLength() == 1; });
      // The message in the dialogue is finished; the next one waits for the switch.
      ticks.Advance(SmsSender::kSendReplyTimeoutMs * 3);
      Step();
      EXPECT_EQ(Count(kCmgsAB), 1u);
      EXPECT_EQ(Count(kPduAB), 1u);
      EXPECT_EQ(sender.queueLength(), 1u);
      sender.SetSendEnabled(true);
      RunUntil([&] { return Empty(); });
      break;
  }
  EXPECT_FALSE(link.wedged);
}

INSTANTIATE_TEST_SUITE_P(
    SmsSender, WaysOut,
    ::testing::Values(
        WayOutRow{"ShutdownAtPrompt", WayOut::ShutdownAtPrompt},
        WayOutRow{"CloseAwaitingAVerdictThatComes", WayOut::CloseAwaitingAVerdictThatComes},
        WayOutRow{"CloseAwaitingAnOkThatNeverComes", WayOut::CloseAwaitingAnOkThatNeverComes},
        WayOutRow{"CloseAwaitingAVerdictThatNeverComes",
                  WayOut::CloseAwaitingAVerdictThatNeverComes},
        WayOutRow{"SendSwitchOffAtPrompt", WayOut::SendSwitchOffAtPrompt}),
    [](const ::testing::TestParamInfo<WayOutRow>& row) { return row.param.name; });

TEST_F(SenderRig, APortThatIsGoneIsReopenedWithABackOffAndTheQueueKept) {
  link.present = false;
  sender.Start();
  sender.Add(MessageAB(1));
  Step();
  EXPECT_EQ(link.opens, 1);
  EXPECT_FALSE(sender.status().portOpen);
  EXPECT_EQ(sender.status().portError, "No such file or directory");
  // Reopened after 1 s, 2 s, 4 s ... up to a minute between tries.
  std::vector<std::uint32_t> gaps;
  std::uint32_t last = ticks.Now();
  for (int opens = link.opens; gaps.size() < 8;) {
    ticks.Advance(100);
    Step();
    if (link.opens != opens) {
      gaps.push_back(ticks.Now() - last);
      last = ticks.Now();
      opens = link.opens;
    }
  }
  EXPECT_EQ(gaps, (std::vector<std::uint32_t>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000}));
  link.present = true;
  RunUntil([&] { return Empty(); }, 120000);
  EXPECT_EQ(Count(kPduAB), 1u);
  EXPECT_TRUE(sender.status().portOpen);
  EXPECT_TRUE(sender.status().portError.empty());
}

TEST_F(SenderRig, AHangUpClosesThePortAndTheModemIsInitialisedAgain) {
  StartReady();
  link.script = [](const std::string& command) -> Pieces {
    return command == kPduAB ? Pieces{} : WillingAnswer(command);
  };
  sender.Add(MessageAB(1));
  RunUntil([&] { return Count(kPduAB) == 1; });
  link.hungUp = true;
  Step();
  EXPECT_FALSE(link.open);
  EXPECT_FALSE(sender.status().portOpen);
  EXPECT_EQ(sender.status().sim, SimState::Unknown);
  EXPECT_EQ(sender.queueLength(), 1u);
  link.written.clear();
  link.script = WillingAnswer;
  RunUntil([&] { return Empty(); }, 120000);
  EXPECT_EQ(link.written, kInit + kSweep + kHealth + kCmgsAB + kPduAB);
}

TEST_F(SenderRig, SeveralTimeoutsInARowCloseThePort) {
  StartReady();
  link.script = [](const std::string& command) -> Pieces {
    return command.starts_with("AT+CMGS") ? Pieces{} : WillingAnswer(command);
  };
  sender.Add(MessageAB(1));
  RunUntil([&] { return link.opens == 2; });
  EXPECT_EQ(Count(kCmgsAB), static_cast<std::size_t>(SmsSender::kTimeoutsBeforeClose));
  EXPECT_EQ(sender.queueLength(), 1u);
}

TEST_F(SenderRig, AModemThatDoesNotAnswerIsProbedThenClosed) {
  link.script = [](const std::string&) -> Pieces { return {}; };
  sender.Start();
  RunUntil([&] { return link.opens == 2; });
  std::string probes = kEsc;
  for (int i = 0; i < SmsSender::kProbeAttempts; ++i)
    probes += kProbe;
  EXPECT_EQ(link.written.substr(0, probes.size()), probes);
  EXPECT_EQ(platform::Cp936ToUtf8(sender.status().lastFailure), "AT 超时无应答");
}

struct HealthRow {
  const char* name;
  Pieces cpin;
  Pieces creg;
  Pieces csq;
  SimState sim;
  Registration registration;
  std::optional<int> signalDbm;
};

void PrintTo(const HealthRow& row, std::ostream* out) {
  *out << row.name;
}

class Health : public SenderRig, public ::testing::WithParamInterface<HealthRow> {};

TEST_P(Health, IsReadFromTheAnswersAndTheNotices) {
  const HealthRow& row = GetParam();
  link.script = [&](const std::string& command) -> Pieces {
    if (command == "AT+CPIN?\r") return row.cpin;
    if (command == "AT+CREG?\r") return row.creg;
    if (command == "AT+CSQ\r") return row.csq;
    return WillingAnswer(command);
  };
  sender.Start();
  RunUntil([&] { return Count("AT+CSQ\r") == 1 && sender.phase() == SmsSender::Phase::Idle; });
  EXPECT_EQ(sender.status().sim, row.sim);
  EXPECT_EQ(sender.status().registration, row.registration);
  EXPECT_EQ(sender.status().signalDbm, row.signalDbm);
}

INSTANTIATE_TEST_SUITE_P(
    SmsSender, Health,
    ::testing::Values(HealthRow{"Home",
                                {"\r\n+CPIN: READY\r\n\r\nOK\r\n"},
                                {"\r\n+CREG: 0,1\r\n\r\nOK\r\n"},
                                {"\r\n+CSQ: 31,99\r\n\r\nOK\r\n"},
                                SimState::Ready,
                                Registration::Home,
                                -51},
                      HealthRow{"Roaming",
                                {"\r\n+CPIN: READY\r\n\r\nOK\r\n"},
                                {"\r\n+CREG: 2,5,\"1A2B\",\"00C3\"\r\nOK\r\n"},
                                {"\r\n+CSQ: 0,99\r\n\r\nOK\r\n"},
                                SimState::Ready,
                                Registration::Roaming,
                                -113},
                      HealthRow{"NoSim",
                                {"\r\n+CME ERROR: 10\r\n"},
                                {"\r\n+CREG: 0,0\r\n\r\nOK\r\n"},
                                {"\r\n+CSQ: 99,99\r\n\r\nOK\r\n"},
                                SimState::Absent,
                                Registration::Searching,
                                std::nullopt},
                      HealthRow{"PinNeeded",
                                {"\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"},
                                {"\r\n+CREG: 0,3\r\n\r\nOK\r\n"},
                                {"\r\n+CSQ: 10,99\r\n\r\nOK\r\n"},
                                SimState::PinNeeded,
                                Registration::Denied,
                                -93},
                      HealthRow{"SearchingWithNoticesBetween",
                                {"\r\n+CPIN: READY\r\n", "\r\n+CREG: 1\r\n", "\r\nOK\r\n"},
                                {"\r\n^RSSI: 5\r\n\r\n+CREG: 0,2\r\n\r\nOK\r\n"},
                                {"\r\n+CSQ: 12,99\r\n\r\nOK\r\n\r\n+CREG: 5\r\n"},
                                SimState::Ready,
                                Registration::Roaming,
                                -89}),
    [](const ::testing::TestParamInfo<HealthRow>& row) { return row.param.name; });

TEST_F(SenderRig, AModemThatRestartsIsInitialisedAgain) {
  StartReady();
  link.arrived = "\r\nRDY\r\n";
  RunUntil([&] { return Count("AT+CMGF=0\r") == 1; });
  EXPECT_EQ(link.written.substr(0, kInit.size()), kInit);
}

TEST_F(SenderRig, ReportsStatusChangesOnlyWhenSomethingChanged) {
  StartReady();
  const std::size_t statuses = Of(SmsReport::Kind::Status).size();
  EXPECT_GE(statuses, 1u);
  ticks.Advance(SmsSender::kHealthIntervalMs);
  RunUntil([&] { return Count("AT+CSQ\r") == 1 && sender.phase() == SmsSender::Phase::Idle; });
  EXPECT_EQ(Of(SmsReport::Kind::Status).size(), statuses);
  link.arrived = "\r\n+CREG: 0\r\n";
  Step();
  ASSERT_EQ(Of(SmsReport::Kind::Status).size(), statuses + 1);
  EXPECT_EQ(Of(SmsReport::Kind::Status).back()->status.registration, Registration::Searching);
}

// What the modem stores while the dialogue runs, read when idle (more in the transcripts).
const std::string kDeliverPdu =
    "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07";
const std::string kCmgrDeliver = "\r\n+CMGR: 0,,38\r\n" + kDeliverPdu + "\r\n\r\nOK\r\n";

TEST_F(SenderRig, OneReadGoesBetweenTwoMessagesAndTheStorageIsListedEveryTenMinutes) {
  StartReady();
  link.script = [](const std::string& command) -> Pieces {
    return command.starts_with("AT+CMGR=") ? Pieces{kCmgrDeliver} : WillingAnswer(command);
  };
  for (std::uint64_t id = 1; id <= 3; ++id)
    sender.Add(MessageAB(id));
  link.arrived = "\r\n+CMTI: \"SM\",1\r\n\r\n+CMTI: \"SM\",2\r\n\r\n+CMTI: \"SM\",3\r\n";
  RunUntil([] { return false; }, 5000);
  const std::string message = kCmgsAB + kPduAB;
  EXPECT_EQ(link.written, message + "AT+CMGR=1\rAT+CMGD=1\r" + message + "AT+CMGR=2\rAT+CMGD=2\r" +
                              message + "AT+CMGR=3\rAT+CMGD=3\r");
  EXPECT_EQ(Of(SmsReport::Kind::Received).size(), 3u);
  link.written.clear();
  ticks.Advance(SmsSender::kSweepIntervalMs);
  RunUntil([&] { return Count(kSweep) == 1; });
  EXPECT_EQ(Count(kSweep), 1u);
}

// The notices asked for, and what a modem that refuses them is asked next; it still sends.
struct NoticesRow {
  const char* name;
  bool statusReports;
  std::vector<std::string> refused;
  std::string asked;  // after AT+CMGF=0
};

void PrintTo(const NoticesRow& row, std::ostream* out) {
  *out << row.name;
}

class Notices : public SenderRig, public ::testing::WithParamInterface<NoticesRow> {};

TEST_P(Notices, FallBackAndTheModemStillSends) {
  const NoticesRow& row = GetParam();
  link.script = [&](const std::string& command) -> Pieces {
    for (const std::string& refused : row.refused) {
      if (command == refused) return {"\r\n+CMS ERROR: 303\r\n"};
    }
    return WillingAnswer(command);
  };
  sender.SetStatusReports(row.statusReports);
  sender.Start();
  RunUntil([&] {
    return sender.phase() == SmsSender::Phase::Idle && sender.status().sim != SimState::Unknown;
  });
  EXPECT_EQ(link.written,
            kEsc + kProbe + "ATE0\rAT+CMEE=1\rAT+CMGF=0\r" + row.asked + kSweep + kHealth);
  sender.Add(MessageAB(1));
  RunUntil([&] { return Empty(); });
  EXPECT_EQ(Of(SmsReport::Kind::Sent).size(), 1u);
}

const std::string kCpms = "AT+CPMS=\"SM\",\"SM\",\"SM\"\r";

INSTANTIATE_TEST_SUITE_P(
    SmsSender, Notices,
    ::testing::Values(
        NoticesRow{"ReportsStored", true, {}, kReceiving},
        NoticesRow{"ReportsShownAtOnce",
                   true,
                   {"AT+CNMI=2,1,0,2,0\r"},
                   kCpms + "AT+CNMI=2,1,0,2,0\rAT+CNMI=2,1,0,1,0\r"},
        NoticesRow{"NoReports",
                   true,
                   {"AT+CNMI=2,1,0,2,0\r", "AT+CNMI=2,1,0,1,0\r"},
                   kCpms + "AT+CNMI=2,1,0,2,0\rAT+CNMI=2,1,0,1,0\rAT+CNMI=2,1,0,0,0\r"},
        NoticesRow{"NothingAccepted",
                   true,
                   {kCpms, "AT+CNMI=2,1,0,2,0\r", "AT+CNMI=2,1,0,1,0\r", "AT+CNMI=2,1,0,0,0\r"},
                   kCpms + "AT+CNMI=2,1,0,2,0\rAT+CNMI=2,1,0,1,0\rAT+CNMI=2,1,0,0,0\r"},
        NoticesRow{"ReportsOff", false, {}, kCpms + "AT+CNMI=2,1,0,0,0\r"}),
    [](const ::testing::TestParamInfo<NoticesRow>& row) { return row.param.name; });

}  // namespace
}  // namespace pagorin

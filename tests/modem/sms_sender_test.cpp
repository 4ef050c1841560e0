// The dialogue with the modem, played from transcripts: a modem that answers every command as a
// field modem does (unsolicited lines anywhere, replies in pieces, errors, silence), on a manual
// clock, without threads or devices.
#include "modem/sms_sender.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/tick.h"

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

// One message through a modem that answers the prompt and the PDU as the row says (attempt by
// attempt; the last answer repeats).
struct TranscriptRow {
  const char* name;
  std::vector<Pieces> promptAnswers;
  std::vector<Pieces> pduAnswers;
  // What must come of it.
  int pdus;                     // PDU lines written
  int escapes;                  // ESC written after the initialisation
  bool sent;                    // reported sent (else ended as `failure`)
  std::vector<int> references;  // when sent
  SmsFailureKind failure;       // when not sent
  int temporaryReports;         // Temporary failures reported on the way
};

void PrintTo(const TranscriptRow& row, std::ostream* out) {
  *out << row.name;
}

class Transcripts : public SenderRig, public ::testing::WithParamInterface<TranscriptRow> {};

TEST_P(Transcripts, SendOnceAndNeverLeaveTheModemInPduEntry) {
  const TranscriptRow& row = GetParam();
  int prompts = 0;
  int pdus = 0;
  StartReady();
  link.script = [&](const std::string& command) -> Pieces {
    if (command.starts_with("AT+CMGS=")) {
      const auto& answers = row.promptAnswers;
      return answers.empty() ? WillingAnswer(command)
                             : answers[std::min<std::size_t>(prompts++, answers.size() - 1)];
    }
    if (command == kPduAB) {
      const auto& answers = row.pduAnswers;
      return answers.empty() ? WillingAnswer(command)
                             : answers[std::min<std::size_t>(pdus++, answers.size() - 1)];
    }
    return WillingAnswer(command);
  };
  sender.Add(MessageAB(7));
  RunUntil([&] { return Empty(); }, 3600000);
  EXPECT_TRUE(Empty());
  EXPECT_FALSE(link.wedged) << link.written;
  EXPECT_FALSE(link.pduWithoutPrompt) << link.written;
  EXPECT_EQ(Count(kPduAB), static_cast<std::size_t>(row.pdus)) << link.written;
  EXPECT_EQ(Count(kEsc), static_cast<std::size_t>(row.escapes)) << link.written;
  std::vector<const SmsReport*> sent = Of(SmsReport::Kind::Sent);
  std::vector<const SmsReport*> failed = Of(SmsReport::Kind::Failed);
  int temporary = 0;
  for (const SmsReport* report : failed)
    temporary += report->failure.kind == SmsFailureKind::Temporary ? 1 : 0;
  EXPECT_EQ(temporary, row.temporaryReports);
  if (row.sent) {
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]->id, 7u);
    EXPECT_EQ(sent[0]->references, row.references);
  } else {
    EXPECT_TRUE(sent.empty());
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(failed.back()->failure.kind, row.failure);
  }
}

const std::string kCmgs5 = "\r\n+CMGS: 5\r\n\r\nOK\r\n";

INSTANTIATE_TEST_SUITE_P(
    SmsSender, Transcripts,
    ::testing::Values(
        TranscriptRow{"UnsolicitedAfterTheFinalOk",
                      {},
                      {{kCmgs5 + "\r\n+CMTI: \"SM\",3\r\n"}},
                      1,
                      0,
                      true,
                      {5},
                      {},
                      0},
        TranscriptRow{
            "RingAfterTheFinalOk", {}, {{kCmgs5 + "\r\nRING\r\n"}}, 1, 0, true, {5}, {}, 0},
        TranscriptRow{"RegistrationBetweenTheReplies",
                      {},
                      {{"\r\n+CMGS: 5\r\n\r\n+CREG: 1\r\n\r\nOK\r\n"}},
                      1,
                      0,
                      true,
                      {5},
                      {},
                      0},
        TranscriptRow{"UnsolicitedBeforeThePrompt",
                      {{"\r\n+CMTI: \"SM\",1\r\n\r\n> "}},
                      {},
                      1,
                      0,
                      true,
                      {1},
                      {},
                      0},
        TranscriptRow{
            "UnsolicitedAfterThePrompt", {{"\r\n> \r\n^RSSI: 17\r\n"}}, {}, 1, 0, true, {1}, {}, 0},
        TranscriptRow{"UnsolicitedGluedToThePrompt",
                      {{"\r\n> ", "\r\n^RSSI: 17\r\n"}},
                      {},
                      1,
                      0,
                      true,
                      {1},
                      {},
                      0},
        TranscriptRow{"EchoedCommandsAndPdu",
                      {{"AT+CMGS=019\r\r\n> "}},
                      {{"0011000D91682143658709F10008010400410042\x1A" + kCmgs5}},
                      1,
                      0,
                      true,
                      {5},
                      {},
                      0},
        TranscriptRow{"RepliesInPieces",
                      {{"\r", "\n", ">", " "}},
                      {{"\r\n+CM", "GS: 1", "2\r", "\n\r\nO", "K\r\n"}},
                      1,
                      0,
                      true,
                      {12},
                      {},
                      0},
        TranscriptRow{"CmgsWithoutOk", {}, {{"\r\n+CMGS: 9\r\n"}}, 1, 0, true, {9}, {}, 0},
        TranscriptRow{
            "CmgsThenError", {}, {{"\r\n+CMGS: 9\r\n\r\nERROR\r\n"}}, 1, 0, true, {9}, {}, 0},
        TranscriptRow{"BareOk", {}, {{kOk}}, 1, 0, true, {-1}, {}, 0},
        TranscriptRow{"UnknownErrorThenSent",
                      {},
                      {{"\r\n+CMS ERROR: 500\r\n"}, {kCmgs5}},
                      2,
                      1,
                      true,
                      {5},
                      {},
                      1},
        TranscriptRow{"SilentAfterThePduThenSent", {}, {{}, {kCmgs5}}, 2, 1, true, {5}, {}, 1},
        TranscriptRow{"NoPromptThenSent", {{}, {"\r\n> "}}, {}, 1, 1, true, {1}, {}, 1},
        TranscriptRow{"ErrorInsteadOfThePromptThenSent",
                      {{"\r\n+CMS ERROR: 331\r\n"}, {"\r\n> "}},
                      {},
                      1,
                      1,
                      true,
                      {1},
                      {},
                      1},
        TranscriptRow{"NoNetworkForAWhile",
                      {},
                      {{"\r\n+CMS ERROR: 331\r\n"},
                       {"\r\n+CMS ERROR: 331\r\n"},
                       {"\r\n+CMS ERROR: 331\r\n"},
                       {kCmgs5}},
                      4,
                      3,
                      true,
                      {5},
                      {},
                      3},
        TranscriptRow{"InvalidDestinationEndsAfterTheSecondAttempt",
                      {},
                      {{"\r\n+CMS ERROR: 1\r\n"}},
                      2,
                      2,
                      false,
                      {},
                      SmsFailureKind::Permanent,
                      1},
        TranscriptRow{"RejectionThenSent",
                      {},
                      {{"\r\n+CMS ERROR: 21\r\n"}, {kCmgs5}},
                      2,
                      1,
                      true,
                      {5},
                      {},
                      1}),
    [](const ::testing::TestParamInfo<TranscriptRow>& row) { return row.param.name; });

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

// What the modem stores or shows while the dialogue runs: read when idle, recorded, deleted once
// recorded, never taken for the reply to a command in progress.
const std::string kDeliverPdu =
    "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07";
const std::string kReportPdu = "0006450D91683119325476F8423050410351234230504103022300";
const std::string kCmgrDeliver = "\r\n+CMGR: 0,,38\r\n" + kDeliverPdu + "\r\n\r\nOK\r\n";

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

struct ReceivingRow {
  const char* name;
  std::string notice;  // arrives when idle, or before the verdict on a PDU when duringSend
  bool duringSend;
  Pieces cmgr;  // the answer to AT+CMGR
  Pieces cmgl;  // the answer to AT+CMGL=4
  bool takes;   // the recorder's answer
  std::string written;
  std::vector<SmsReport::Kind> handed;  // offered to the recorder, and reported when taken
};

void PrintTo(const ReceivingRow& row, std::ostream* out) {
  *out << row.name;
}

class Receiving : public SenderRig, public ::testing::WithParamInterface<ReceivingRow> {};

TEST_P(Receiving, ReadsRecordsAndDeletesOnlyWhatWasRecorded) {
  const ReceivingRow& row = GetParam();
  Recorder recorder;
  recorder.takes = row.takes;
  sender.SetRecorder(&recorder);
  StartReady();
  link.script = [&](const std::string& command) -> Pieces {
    if (command.starts_with("AT+CMGR=")) return row.cmgr;
    if (command == kSweep && !row.cmgl.empty()) return row.cmgl;
    if (row.duringSend && command == kPduAB) return {row.notice + kCmgs5};
    return WillingAnswer(command);
  };
  if (row.duringSend) {
    sender.Add(MessageAB(1));
  } else {
    link.arrived = row.notice;
  }
  RunUntil([] { return false; }, 5000);
  EXPECT_EQ(link.written, row.written);
  EXPECT_FALSE(link.wedged);
  EXPECT_EQ(recorder.offered, row.handed);
  std::vector<SmsReport::Kind> reported;
  for (const SmsReport& report : reports) {
    if (report.kind != SmsReport::Kind::Received && report.kind != SmsReport::Kind::Delivery)
      continue;
    reported.push_back(report.kind);
    if (report.received) {
      EXPECT_EQ(report.received->originator.number, "+31641600986");
      EXPECT_EQ(report.pdu, kDeliverPdu);
    }
    if (report.delivery) {
      EXPECT_EQ(report.delivery->messageReference, 0x45);
    }
  }
  EXPECT_EQ(reported, row.takes ? row.handed : std::vector<SmsReport::Kind>{});
  if (row.duringSend) {
    ASSERT_EQ(Of(SmsReport::Kind::Sent).size(), 1u);
    EXPECT_EQ(Of(SmsReport::Kind::Sent)[0]->references, std::vector<int>{5});
  }
}

using K = SmsReport::Kind;
const std::string kCmtiAt3 = "\r\n+CMTI: \"SM\",3\r\n";

INSTANTIATE_TEST_SUITE_P(
    SmsSender, Receiving,
    ::testing::Values(
        ReceivingRow{"NoticeReadRecordedDeleted",
                     kCmtiAt3,
                     false,
                     {kCmgrDeliver},
                     {},
                     true,
                     "AT+CMGR=3\rAT+CMGD=3\r",
                     {K::Received}},
        ReceivingRow{"RecorderRefusesAndItStays",
                     kCmtiAt3,
                     false,
                     {kCmgrDeliver},
                     {},
                     false,
                     "AT+CMGR=3\r",
                     {K::Received}},
        ReceivingRow{
            "EmptySlot", kCmtiAt3, false, {"\r\n+CMS ERROR: 321\r\n"}, {}, true, "AT+CMGR=3\r", {}},
        ReceivingRow{"UndecodablePduDeletedOnceRecorded",
                     kCmtiAt3,
                     false,
                     {"\r\n+CMGR: 0,,3\r\n0004ZZ\r\n\r\nOK\r\n"},
                     {},
                     true,
                     "AT+CMGR=3\rAT+CMGD=3\r",
                     {K::Received}},
        ReceivingRow{"BadIndexListsTheStorage",
                     "\r\n+CDSI: \"SM\",-1\r\n",
                     false,
                     {},
                     {"\r\n+CMGL: 1,0,,38\r\n" + kDeliverPdu + "\r\n+CMGL: 2,0,,25\r\n" +
                      kReportPdu + "\r\n\r\nOK\r\n"},
                     true,
                     kSweep + "AT+CMGD=1\rAT+CMGD=2\r",
                     {K::Received, K::Delivery}},
        ReceivingRow{
            "ZeroIndexListsTheStorage", "\r\n+CMTI: \"SM\",0\r\n", false, {}, {}, true, kSweep, {}},
        ReceivingRow{
            "StorageFullListsIt", "\r\n+CIEV: \"SMSFULL\",1\r\n", false, {}, {}, true, kSweep, {}},
        ReceivingRow{
            "MemoryFullListsIt", "\r\n^SMMEMFULL: \"SM\"\r\n", false, {}, {}, true, kSweep, {}},
        ReceivingRow{"ReportShownAtOnceNeedsNoDelete",
                     "\r\n+CDS: 25\r\n" + kReportPdu + "\r\n",
                     false,
                     {},
                     {},
                     true,
                     "",
                     {K::Delivery}},
        ReceivingRow{"NoticeDuringTheSendIsReadAfterIt",
                     "\r\n+CMTI: \"SM\",4\r\n",
                     true,
                     {kCmgrDeliver},
                     {},
                     true,
                     kCmgsAB + kPduAB + "AT+CMGR=4\rAT+CMGD=4\r",
                     {K::Received}},
        ReceivingRow{"ReportShownWhileAwaitingTheVerdict",
                     "\r\n+CDS: 25\r\n" + kReportPdu + "\r\n",
                     true,
                     {},
                     {},
                     true,
                     kCmgsAB + kPduAB,
                     {K::Delivery}}),
    [](const ::testing::TestParamInfo<ReceivingRow>& row) { return row.param.name; });

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

// The simulated modem's command interpreter, fed bytes directly (no terminal involved).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "at_interpreter.h"

namespace pagorin::sim {
namespace {

constexpr char kCtrlZ = '\x1A';
const std::string kPdu = "0011000D91682143658709F10008010400410042";  // "AB" to 12345678901

ModemBehaviour Quiet() {
  ModemBehaviour behaviour;
  behaviour.echo = false;
  return behaviour;
}

// Sends one message the way the module does and returns everything the modem answered.
std::string SendOnce(AtInterpreter& modem, const std::string& pdu = kPdu, int length = 19) {
  std::string out = modem.Feed("AT+CMGF=0\r");
  out += modem.Feed("AT+CMGS=" + std::to_string(length) + "\r");
  out += modem.Feed(pdu + kCtrlZ + "\r");
  return out;
}

TEST(GsmSimAt, AnswersBasicCommands) {
  struct Row {
    const char* input;
    const char* answer;
  };
  const Row rows[] = {
      {"AT\r", "\r\nOK\r\n"},
      {"at\r", "\r\nOK\r\n"},
      {"AT+CMGF=1\r", "\r\nOK\r\n"},
      {"AT+CMGF=0\r", "\r\nOK\r\n"},
      {"AT+CMGF=2\r", "\r\nERROR\r\n"},
      {"AT+CMGF?\r", "\r\n+CMGF: 0\r\n\r\nOK\r\n"},
      {"AT+CMGF=?\r", "\r\n+CMGF: (0,1)\r\n\r\nOK\r\n"},
      {"AT+CMGS=?\r", "\r\nOK\r\n"},
      {"AT+CSQ\r", "\r\n+CSQ: 17,99\r\n\r\nOK\r\n"},
      {"AT+CSQ?\r", "\r\nERROR\r\n"},
      {"AT+CPIN?\r", "\r\n+CPIN: READY\r\n\r\nOK\r\n"},
      {"AT+CREG?\r", "\r\n+CREG: 0,1\r\n\r\nOK\r\n"},
      {"AT+CGREG?\r", "\r\n+CGREG: 0,1\r\n\r\nOK\r\n"},
      {"AT+CMEE?\r", "\r\n+CMEE: 0\r\n\r\nOK\r\n"},
      {"AT+CMEE=1;+CMEE?\r", "\r\n+CMEE: 1\r\n\r\nOK\r\n"},
      {"AT+CMEE=3\r", "\r\nERROR\r\n"},
      {"ATE0;+CMEE=1;+CMGF=0\r", "\r\nOK\r\n"},
      {"ATX\r", "\r\nERROR\r\n"},
      {"ATV2\r", "\r\nERROR\r\n"},
      {"ATQ2\r", "\r\nERROR\r\n"},
      {"ATE0V1Q0\r", "\r\nOK\r\n"},
      {"AT+CMGF=0;+CMGF?\r", "\r\n+CMGF: 0\r\n\r\nOK\r\n"},
      {"AT + cmgf = 0\r", "\r\nOK\r\n"},
      {"noise\r", ""},  // no AT prefix: not a command
      {"\x01"
       "AT\r",
       "\r\nOK\r\n"},             // noise before the prefix is dropped
      {"AU\bT\r", "\r\nOK\r\n"},  // backspace edits the line
      {"\n", ""},
      {"AT+CMGS=6\r", "\r\n+CMS ERROR: 304\r\n"},
      {"AT+CMGS=165\r", "\r\n+CMS ERROR: 304\r\n"},
      {"AT+CMGS=\"123\"\r", "\r\n+CMS ERROR: 304\r\n"},
      {"AT+CMGS=1x\r", "\r\nERROR\r\n"},
      {"AT+CMGS\r", "\r\nERROR\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input);
    AtInterpreter modem(Quiet());
    EXPECT_EQ(modem.Feed(row.input), row.answer);
  }
}

TEST(GsmSimAt, EchoIsOnAfterResetAndFollowsAte) {
  AtInterpreter modem{ModemBehaviour{}};
  EXPECT_EQ(modem.Feed("AT\r"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(modem.Feed("ATE0\r"), "ATE0\r\r\nOK\r\n");  // echoed before it takes effect
  EXPECT_EQ(modem.Feed("AT\r"), "\r\nOK\r\n");
  EXPECT_EQ(modem.Feed("ATE1\r"), "\r\nOK\r\n");
  EXPECT_EQ(modem.Feed("AT"), "AT");  // echo is immediate, the answer waits for CR
  EXPECT_EQ(modem.Feed("Z\r"), "Z\r\r\nOK\r\n");
  AtInterpreter quiet(Quiet());
  EXPECT_EQ(quiet.Feed("ATE1\r"), "\r\nOK\r\n");
  EXPECT_EQ(quiet.Feed("ATZ\r"), "ATZ\r\r\nOK\r\n");  // echo is back on until reset
}

// Numeric results (ATV0) and quiet mode (ATQ1), switched on a line or stored (restored by ATZ).
TEST(GsmSimAt, ResultsFollowAtvAndAtq) {
  struct Row {
    const char* name;
    bool storedNumeric;
    bool storedQuiet;
    bool simReady;
    std::string input;
    std::string answer;
  };
  const std::string send = "AT+CMGS=19\r" + kPdu + kCtrlZ;
  const Row rows[] = {
      {"V0AnswersItselfNumerically", false, false, true, "ATV0\r", "0\r"},
      {"V0Error", false, false, true, "ATV0\rATX\r", "0\r4\r"},
      {"V0InformationWithoutLeadingLineEnd", false, false, true, "ATV0;+CSQ\r",
       "+CSQ: 17,99\r\n0\r"},
      {"V0CmsErrorKeepsItsText", true, false, true, "AT+CMGS=6\r", "+CMS ERROR: 304\r"},
      {"V0CmeErrorKeepsItsText", true, false, false, "AT+CMEE=1\rAT+CPIN?\r",
       "0\r+CME ERROR: 10\r"},
      {"V0Send", true, false, true, send, "\r\n> +CMGS: 0\r\n0\r"},
      {"V0EscapeEndsTheEntry", true, false, true, "AT+CMGS=19\r\x1B", "\r\n> 0\r"},
      {"V1AnswersItselfVerbosely", true, false, true, "ATV1\r", "\r\nOK\r\n"},
      {"ResetRestoresStoredNumeric", true, false, true, "ATV1\rATZ\r", "\r\nOK\r\n0\r"},
      {"Q1AnswersNothing", false, false, true, "ATQ1\rAT\rATX\rAT+CMGS=6\r", ""},
      {"Q1KeepsInformation", false, true, true, "AT+CSQ\r", "\r\n+CSQ: 17,99\r\n"},
      {"Q1Send", false, true, true, send, "\r\n> \r\n+CMGS: 0\r\n"},
      {"Q0AnswersItself", false, true, true, "AT\rATQ0V1\r", "\r\nOK\r\n"},
      {"StoredBothUntilTheProbe", true, true, true, "AT\rATQ0V1\rAT\r", "\r\nOK\r\n\r\nOK\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ModemBehaviour behaviour = Quiet();
    behaviour.numericResults = row.storedNumeric;
    behaviour.quietResults = row.storedQuiet;
    behaviour.simReady = row.simReady;
    AtInterpreter modem(behaviour);
    EXPECT_EQ(modem.Feed(row.input), row.answer);
  }
  // A power cycle, as after an unplug, brings the stored setting back.
  ModemBehaviour behaviour = Quiet();
  behaviour.numericResults = true;
  AtInterpreter modem(behaviour);
  EXPECT_EQ(modem.Feed("ATV1\r"), "\r\nOK\r\n");
  modem.PowerCycle();
  EXPECT_TRUE(modem.NumericResults());
  EXPECT_EQ(modem.Feed("AT\r"), "0\r");
}

TEST(GsmSimAt, SendsAndCountsReferencesModulo256) {
  ModemBehaviour behaviour = Quiet();
  behaviour.firstReference = 254;
  AtInterpreter modem(behaviour);
  EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMGS: 254\r\n\r\nOK\r\n");
  EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMGS: 255\r\n\r\nOK\r\n");
  EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n");
  auto messages = modem.TakeMessages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].pdu.destination, "+8612345678901");
  EXPECT_EQ(messages[0].pdu.text, "AB");
  EXPECT_EQ(messages[0].pduHex, kPdu);
  EXPECT_EQ(messages[2].reference, 0);
  EXPECT_TRUE(modem.TakeMessages().empty());
}

TEST(GsmSimAt, EchoesThePduButNotCtrlZ) {
  AtInterpreter modem{ModemBehaviour{}};
  std::string out = modem.Feed("AT+CMGS=19\r");
  EXPECT_EQ(out, "AT+CMGS=19\r\r\n> ");
  out = modem.Feed(kPdu + kCtrlZ);
  EXPECT_EQ(out, kPdu + "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  // The carriage return the module puts after Ctrl-Z is an empty command line.
  EXPECT_EQ(modem.Feed("\r"), "\r");
}

TEST(GsmSimAt, PduArrivingInPiecesAndAcrossLines) {
  AtInterpreter modem(Quiet());
  std::string out = modem.Feed("AT+CMGS=19\r");
  for (char c : kPdu.substr(0, 10))
    out += modem.Feed(std::string(1, c));
  out += modem.Feed("\r\n" + kPdu.substr(10) + kCtrlZ);
  EXPECT_EQ(out, "\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n");
}

TEST(GsmSimAt, RefusesBadPdusWithCmsError) {
  struct Row {
    const char* name;
    std::string pdu;
    int length;
  };
  const Row rows[] = {
      {"WrongLength", kPdu, 18},
      {"BadHex", "0011000D91682143658709F1000801040041004X", 19},
      {"OddHex", kPdu.substr(1), 19},
      {"NotSubmit", "0004" + kPdu.substr(4), 19},
      {"Truncated", kPdu.substr(0, 30), 14},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    AtInterpreter modem(Quiet());
    EXPECT_EQ(SendOnce(modem, row.pdu, row.length), "\r\nOK\r\n\r\n> \r\n+CMS ERROR: 304\r\n");
    EXPECT_TRUE(modem.TakeMessages().empty());
    bool explained = false;
    for (const auto& note : modem.TakeNotes()) {
      explained |= note.text.rfind("PDU refused: ", 0) == 0;
    }
    EXPECT_TRUE(explained);
    // The modem is back in command mode and the next good message gets the first reference.
    EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n");
  }
}

TEST(GsmSimAt, OverlongPduIsRefused) {
  AtInterpreter modem(Quiet());
  EXPECT_EQ(SendOnce(modem, kPdu + std::string(2000, '0'), 19),
            "\r\nOK\r\n\r\n> \r\n+CMS ERROR: 304\r\n");
}

TEST(GsmSimAt, EscapeCancelsTheSend) {
  AtInterpreter modem(Quiet());
  EXPECT_EQ(modem.Feed("AT+CMGS=19\r" + kPdu.substr(0, 8) + "\x1B"), "\r\n> \r\nOK\r\n");
  EXPECT_TRUE(modem.TakeMessages().empty());
  EXPECT_EQ(modem.Feed("AT\r"), "\r\nOK\r\n");
}

TEST(GsmSimAt, TextModeRefusesALengthAndTakesAQuotedNumber) {
  AtInterpreter modem(Quiet());
  EXPECT_EQ(modem.Feed("AT+CMGF=1\r"), "\r\nOK\r\n");
  // The module's PDU-mode command in text mode.
  EXPECT_EQ(modem.Feed("AT+CMGS=019\r"), "\r\n+CMS ERROR: 305\r\n");
  EXPECT_EQ(modem.Feed("AT+CMGS=\"+8612345678901\",145\r"), "\r\n> ");
  EXPECT_EQ(modem.Feed("line one\rline two\x1A"), "\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n");
  auto messages = modem.TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].textMode);
  EXPECT_EQ(messages[0].pdu.destination, "+8612345678901");
  EXPECT_EQ(messages[0].pdu.text, "line one\nline two");
}

TEST(GsmSimAt, FailsTheNthMessageOnly) {
  ModemBehaviour behaviour = Quiet();
  behaviour.failMessage = 2;
  behaviour.failCode = 330;
  AtInterpreter modem(behaviour);
  EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMS ERROR: 330\r\n");
  EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMGS: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.TakeMessages().size(), 2u);
}

TEST(GsmSimAt, DropsFinalOkAndAddsUnsolicitedLine) {
  ModemBehaviour behaviour = Quiet();
  behaviour.dropFinalOk = true;
  AtInterpreter modem(behaviour);
  EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMGS: 0\r\n");

  behaviour.dropFinalOk = false;
  behaviour.unsolicited = "+CMTI: \"SM\",1";
  AtInterpreter chatty(behaviour);
  EXPECT_EQ(SendOnce(chatty), "\r\nOK\r\n\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",1\r\n");
}

TEST(GsmSimAt, HangsUpAfterTheNthCommandLine) {
  ModemBehaviour behaviour = Quiet();
  behaviour.hangupAfter = 2;
  AtInterpreter modem(behaviour);
  EXPECT_EQ(modem.Feed("noise\rAT+CMGF=0\r"), "\r\nOK\r\n");
  EXPECT_FALSE(modem.HungUp());
  // The second command is answered; what follows it is not read any more.
  EXPECT_EQ(modem.Feed("AT+CMGS=19\r" + kPdu + kCtrlZ), "\r\n> ");
  EXPECT_TRUE(modem.HungUp());
  EXPECT_EQ(modem.Feed("AT\r"), "");
  EXPECT_TRUE(modem.TakeMessages().empty());
}

TEST(GsmSimAt, HealthAnswersFollowSimSignalAndOutage) {
  struct Row {
    const char* name;
    bool simReady;
    int registration;
    int outage;
    const char* input;
    const char* answer;
  };
  const Row rows[] = {
      {"NoSimPlain", false, 1, 0, "AT+CPIN?\r", "\r\nERROR\r\n"},
      {"NoSimNumeric", false, 1, 0, "AT+CMEE=1\rAT+CPIN?\r", "\r\nOK\r\n\r\n+CME ERROR: 10\r\n"},
      {"NoSimVerbose", false, 1, 0, "AT+CMEE=2\rAT+CPIN?\r",
       "\r\nOK\r\n\r\n+CME ERROR: SIM not inserted\r\n"},
      {"NoSimUnregistered", false, 1, 0, "AT+CREG?\r", "\r\n+CREG: 0,0\r\n\r\nOK\r\n"},
      {"Roaming", true, 5, 0, "AT+CREG?\r", "\r\n+CREG: 0,5\r\n\r\nOK\r\n"},
      {"NoNetworkSearches", true, 1, 331, "AT+CREG?;+CSQ\r",
       "\r\n+CREG: 0,2\r\n\r\n+CSQ: 99,99\r\n\r\nOK\r\n"},
      {"CongestionKeepsRegistration", true, 1, 42, "AT+CREG?\r", "\r\n+CREG: 0,1\r\n\r\nOK\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ModemBehaviour behaviour = Quiet();
    behaviour.simReady = row.simReady;
    behaviour.registration = row.registration;
    AtInterpreter modem(behaviour);
    modem.SetOutage(row.outage);
    EXPECT_EQ(modem.Feed(row.input), row.answer);
  }
}

TEST(GsmSimAt, RefusedSendsTakeNoReference) {
  struct Row {
    const char* name;
    bool simReady;
    int outage;
    double errorRate;
    const char* refusal;
  };
  const Row rows[] = {
      {"Outage", true, 331, 0, "\r\n+CMS ERROR: 331\r\n"},
      {"NoSim", false, 0, 0, "\r\n+CMS ERROR: 310\r\n"},
      {"EveryOneAtRandom", true, 0, 1.0, "\r\n+CMS ERROR: 332\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ModemBehaviour behaviour = Quiet();
    behaviour.simReady = row.simReady;
    behaviour.errorRate = row.errorRate;
    behaviour.errorCodes = {332};
    AtInterpreter modem(behaviour);
    modem.SetOutage(row.outage);
    EXPECT_EQ(SendOnce(modem), std::string("\r\nOK\r\n\r\n> ") + row.refusal);
    EXPECT_TRUE(modem.TakeMessages().empty());
    EXPECT_EQ(modem.AcceptedCount(), 0);
  }
  // Once the network is back the next send is accepted with the first reference.
  AtInterpreter modem(Quiet());
  modem.SetOutage(331);
  SendOnce(modem);
  modem.SetOutage(0);
  EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n");
}

TEST(GsmSimAt, RandomRefusalsKeepToTheirShareAndTemporaryCodes) {
  ModemBehaviour behaviour = Quiet();
  behaviour.errorRate = 0.05;
  behaviour.seed = 7;
  AtInterpreter modem(behaviour);
  int refused = 0;
  for (int i = 0; i < 1000; ++i) {
    std::string out = SendOnce(modem);
    std::size_t at = out.find("+CMS ERROR: ");
    if (at == std::string::npos) continue;
    ++refused;
    int code = std::stoi(out.substr(at + 12));
    const auto& codes = DefaultErrorCodes();
    EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
  }
  EXPECT_GT(refused, 20);
  EXPECT_LT(refused, 90);
  EXPECT_EQ(modem.AcceptedCount(), 1000 - refused);
}

TEST(GsmSimAt, UnsolicitedLinesAfterOkAndAfterThePrompt) {
  ModemBehaviour behaviour = Quiet();
  behaviour.urcs = {"^RSSI: 17"};
  behaviour.urcAfterOk = true;
  behaviour.urcAfterPrompt = true;
  AtInterpreter modem(behaviour);
  EXPECT_EQ(SendOnce(modem),
            "\r\nOK\r\n\r\n^RSSI: 17\r\n"
            "\r\n> \r\n^RSSI: 17\r\n"
            "\r\n+CMGS: 0\r\n\r\nOK\r\n\r\n^RSSI: 17\r\n");
  // Not after errors.
  EXPECT_EQ(modem.Feed("ATX\r"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.TakeMessages().size(), 1u);
}

TEST(GsmSimAt, PowerCycleEndsPduEntryAndResetsSettings) {
  AtInterpreter modem{ModemBehaviour{}};
  EXPECT_EQ(modem.Feed("ATE0;+CMEE=1;+CMGF=1\r"), "ATE0;+CMEE=1;+CMGF=1\r\r\nOK\r\n");
  EXPECT_EQ(modem.Feed("AT+CMGF=0\rAT+CMGS=19\r" + kPdu.substr(0, 10)), "\r\nOK\r\n\r\n> ");
  modem.PowerCycle();
  // The rest of the PDU is now a line without "AT": no answer, no message. Echo is back on.
  EXPECT_EQ(modem.Feed(kPdu.substr(10) + kCtrlZ + "\r"), kPdu.substr(10) + kCtrlZ + "\r");
  EXPECT_EQ(modem.Feed("AT+CMEE?;E0\r"), "AT+CMEE?;E0\r\r\n+CMEE: 0\r\n\r\nOK\r\n");
  EXPECT_TRUE(modem.TakeMessages().empty());
  EXPECT_EQ(SendOnce(modem), "\r\nOK\r\n\r\n> \r\n+CMGS: 0\r\n\r\nOK\r\n");
}

TEST(GsmSimAt, OverlongCommandLineIsAnError) {
  AtInterpreter modem(Quiet());
  EXPECT_EQ(modem.Feed("AT" + std::string(5000, 'E') + "\r"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Feed("AT\r"), "\r\nOK\r\n");
}

}  // namespace
}  // namespace pagorin::sim

namespace pagorin::sim {
namespace {

NetworkMessage Incoming(const std::string& pdu, bool report = false) {
  NetworkMessage message;
  message.report = report;
  message.pduHex = pdu;
  message.tpduLength = static_cast<int>(pdu.size() / 2) - 1;  // no service-centre address
  return message;
}

// One modem taken through a receiving session, step by step: what the network hands it (pdu),
// what is sent between commands (Deliver), and what each command line answers.
TEST(GsmSimAt, ReceivingCommandsWorkTheStorage) {
  ModemBehaviour behaviour = Quiet();
  behaviour.storageSlots = 2;
  AtInterpreter modem(behaviour);
  struct Row {
    const char* arrives;  // a PDU in the network, or a report's ("R" first), or nothing
    const char* input;    // a command line, or nothing: Deliver() between commands
    const char* answer;
  };
  const Row rows[] = {
      {nullptr, "AT+CPMS?\r", "\r\n+CPMS: \"SM\",0,2,\"SM\",0,2,\"SM\",0,2\r\n\r\nOK\r\n"},
      {nullptr, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r", "\r\n+CPMS: 0,2,0,2,0,2\r\n\r\nOK\r\n"},
      {nullptr, "AT+CPMS=\"ME\"\r", "\r\n+CMS ERROR: 302\r\n"},
      {nullptr, "AT+CNMI?\r", "\r\n+CNMI: 0,0,0,0,0\r\n\r\nOK\r\n"},
      {nullptr, "AT+CNMI=2,4,0,0,0\r", "\r\n+CMS ERROR: 302\r\n"},
      // Reports before anyone asked for them are not kept.
      {"R0006", nullptr, ""},
      {nullptr, "AT+CNMI=2,1,0,1,0;+CNMI?\r", "\r\n+CNMI: 2,1,0,1,0\r\n\r\nOK\r\n"},
      {"0004AA", nullptr, "\r\n+CMTI: \"SM\",1\r\n"},
      {"R0006BB", nullptr, "\r\n+CDS: 2\r\n0006BB\r\n"},  // shown, not stored
      {nullptr, "AT+CMGR=1\r", "\r\n+CMGR: 0,,2\r\n0004AA\r\n\r\nOK\r\n"},
      {nullptr, "AT+CMGR=1\r", "\r\n+CMGR: 1,,2\r\n0004AA\r\n\r\nOK\r\n"},
      {nullptr, "AT+CMGR=2\r", "\r\n+CMS ERROR: 321\r\n"},
      {nullptr, "AT+CMGR=3\r", "\r\n+CMS ERROR: 321\r\n"},
      {nullptr, "AT+CNMI=,,,2\r", "\r\nOK\r\n"},
      {"R0006CC", nullptr, "\r\n+CDSI: \"SM\",2\r\n\r\n+CIEV: \"SMSFULL\",1\r\n"},
      {nullptr, "AT+CPMS?\r", "\r\n+CPMS: \"SM\",2,2,\"SM\",2,2,\"SM\",2,2\r\n\r\nOK\r\n"},
      // A full storage: the message waits in the network, and the notice is not repeated.
      {"0004DD", nullptr, ""},
      {nullptr, "AT+CMGL=0\r", "\r\n+CMGL: 2,0,,2\r\n0006CC\r\n\r\nOK\r\n"},
      {nullptr, "AT+CMGL=4\r",
       "\r\n+CMGL: 1,1,,2\r\n0004AA\r\n\r\n+CMGL: 2,1,,2\r\n0006CC\r\n\r\nOK\r\n"},
      {nullptr, "AT+CMGD=1\r", "\r\nOK\r\n"},
      {nullptr, nullptr, "\r\n+CMTI: \"SM\",1\r\n\r\n+CIEV: \"SMSFULL\",1\r\n"},
      {nullptr, "AT+CMGD=0,1\r", "\r\nOK\r\n"},  // every read one: slot 2
      {nullptr, "AT+CPMS?\r", "\r\n+CPMS: \"SM\",1,2,\"SM\",1,2,\"SM\",1,2\r\n\r\nOK\r\n"},
      {nullptr, "AT+CMGD=1,4\r", "\r\nOK\r\n"},
      {nullptr, "AT+CMGL\r", "\r\nOK\r\n"},
      {nullptr, "AT+CMGD=9\r", "\r\n+CMS ERROR: 321\r\n"},
      {nullptr, "AT+CMGF=1;+CMGL=4\r", "\r\n+CMS ERROR: 302\r\n"},
      {nullptr, "ATZ;+CNMI?\r", "\r\n+CNMI: 0,0,0,0,0\r\n\r\nOK\r\n"},
  };
  for (const Row& row : rows) {
    std::string out;
    if (row.arrives != nullptr) {
      std::string pdu = row.arrives;
      bool report = pdu[0] == 'R';
      modem.Arrive(Incoming(report ? pdu.substr(1) : pdu, report));
    }
    out = row.input != nullptr ? modem.Feed(row.input) : modem.Deliver();
    EXPECT_EQ(Escaped(out), Escaped(row.answer)) << (row.input != nullptr     ? row.input
                                                     : row.arrives != nullptr ? row.arrives
                                                                              : "deliver");
  }
  std::vector<std::string> kinds;
  for (const StorageEvent& event : modem.TakeStorageEvents())
    kinds.push_back(StorageEventName(event.kind) + std::to_string(event.index));
  const std::vector<std::string> expected = {
      "discarded0", "stored1",       "shown0",        "read1",    "read1",
      "stored2",    "storage_full0", "read2",         "read1",    "read2",
      "deleted1",   "stored1",       "storage_full0", "deleted2", "deleted1"};
  EXPECT_EQ(kinds, expected);
}

TEST(GsmSimAt, NoticeFaultsAndTheOtherFullNotice) {
  struct Row {
    double drop;
    std::optional<int> badIndex;
    const char* answer;
  };
  const Row rows[] = {
      {0, -1, "\r\n+CMTI: \"SM\",-1\r\n\r\n^SMMEMFULL: \"SM\"\r\n"},
      {1, std::nullopt, "\r\n^SMMEMFULL: \"SM\"\r\n"},  // stored, but nobody is told
  };
  for (const Row& row : rows) {
    ModemBehaviour behaviour = Quiet();
    behaviour.storageSlots = 1;
    behaviour.fullNotice = "^SMMEMFULL: \"SM\"";
    behaviour.dropNotices = row.drop;
    behaviour.badNoticeIndex = row.badIndex;
    AtInterpreter modem(behaviour);
    modem.Feed("AT+CNMI=2,1,0,2,0\r");
    modem.Arrive(Incoming("0004AA"));
    EXPECT_EQ(Escaped(modem.Deliver()), Escaped(row.answer));
    EXPECT_EQ(modem.StoredCount(), 1u);
  }
}

}  // namespace
}  // namespace pagorin::sim

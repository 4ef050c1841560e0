// The real gsm-modem-sim program on its pseudo-terminal: hand-made PDUs in, answers and the JSON
// log out, and every fault option.
#include "gsm_sim_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace pagorin::testing {
namespace {

constexpr char kCtrlZ = '\x1A';
const std::string kPdu = "0011000D91682143658709F10008010400410042";  // "AB" to 12345678901

std::string SendPdu(GsmSimProcess& sim, const std::string& pdu, int length,
                    const std::string& expected) {
  std::string answer = sim.Ask("AT+CMGS=" + std::to_string(length) + "\r", "> ");
  EXPECT_EQ(answer, "\r\n> ");
  sim.Send(pdu + kCtrlZ + "\r");
  return sim.ReadUntil(expected);
}

TEST(GsmSimProcess, SendsHandMadePdusAndLogsThem) {
  struct Row {
    const char* name;
    const char* pdu;
    int length;
    const char* number;
    const char* text;
    const char* alphabet;
    const char* validity;
    const char* validityFormat;
  };
  const Row rows[] = {
      {"SevenBit", "0011000B916407281553F80000AA0AE8329BFD4697D9EC37", 23, "+46708251358",
       "hellohello", "GSM7", "4 days", "relative"},
      {"Ucs2", "0011000D91683108108300F0000801086CF57AD9505C673A", 23, "+8613800138000", "泵站停机",
       "UCS2", "10 min", "relative"},
      {"Concatenated", "0051000D91682143658709F10008010E092401AA08041234020162A58B66", 29,
       "+8612345678901", "报警", "UCS2", "10 min", "relative"},
      {"NoValidity", "0001000D91682143658709F100080400410042", 18, "+8612345678901", "AB", "UCS2",
       "none", "none"},
      {"Enhanced", "0009000D91682143658709F10008021E00000000000400410042", 25, "+8612345678901",
       "AB", "UCS2", "30 s", "enhanced"},
      {"Absolute", "0019000D91682143658709F10008622180010300230400410042", 25, "+8612345678901",
       "AB", "UCS2", "until 2026-12-08 10:30:00 +08:00", "absolute"},
  };
  GsmSimProcess sim({"--echo", "off"});
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(sim.Ask("AT+CMGF=0\r", "OK\r\n"), "\r\nOK\r\n");
  int reference = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string expected = "\r\n+CMGS: " + std::to_string(reference++) + "\r\n\r\nOK\r\n";
    EXPECT_EQ(SendPdu(sim, row.pdu, row.length, expected), expected);
  }
  EXPECT_EQ(sim.Stop(), 0);

  auto lines = sim.LogLines();
  ASSERT_EQ(lines.size(), std::size(rows));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.name);
    auto json = nlohmann::json::parse(lines[i]);
    EXPECT_EQ(json["number"], row.number);
    EXPECT_EQ(json["text"], row.text);
    EXPECT_EQ(json["alphabet"], row.alphabet);
    EXPECT_EQ(json["validity"], row.validity);
    EXPECT_EQ(json["validity_format"], row.validityFormat);
    EXPECT_EQ(json["reference"], static_cast<int>(i));
    EXPECT_EQ(json["pdu"], row.pdu);
    EXPECT_TRUE(json["time"].is_string());
  }
  auto concatenated = nlohmann::json::parse(lines[2]);
  EXPECT_EQ(concatenated["part"], 1);
  EXPECT_EQ(concatenated["parts"], 2);
  EXPECT_EQ(concatenated["concat_reference"], 0x1234);
  EXPECT_FALSE(nlohmann::json::parse(lines[0]).contains("part"));
  EXPECT_EQ(nlohmann::json::parse(lines[1])["validity_raw"], "01");

  std::string summary = sim.StdoutText();
  EXPECT_NE(summary.find("SMS to +8613800138000: 泵站停机 (UCS2, valid 10 min, ref 1)\n"),
            std::string::npos)
      << summary;
}

TEST(GsmSimProcess, RefusesBadPdusAndLogsNothing) {
  struct Row {
    const char* name;
    std::string pdu;
    int length;
  };
  const Row rows[] = {
      {"WrongLength", kPdu, 20},
      {"BadHex", "0011000D91682143658709F1000801040041004Z", 19},
      {"OddHexLength", kPdu + "0", 19},
      {"NotSubmit", "0000" + kPdu.substr(4), 19},
  };
  GsmSimProcess sim({"--echo", "off"});
  ASSERT_TRUE(sim.OpenPort());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(SendPdu(sim, row.pdu, row.length, "ERROR: 304\r\n"), "\r\n+CMS ERROR: 304\r\n");
  }
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.LogLines().empty());
  EXPECT_NE(sim.StderrText().find("PDU refused: not an SMS-SUBMIT"), std::string::npos);
}

TEST(GsmSimProcess, EchoesByDefaultAndAcceptsReopening) {
  GsmSimProcess sim({});
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(sim.Ask("AT\r", "OK\r\n"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(sim.Ask("ATE0\r", "OK\r\n"), "ATE0\r\r\nOK\r\n");
  // The sender closes the line and opens it again; the modem keeps its settings.
  sim.ClosePort();
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(sim.Ask("AT\r", "OK\r\n"), "\r\nOK\r\n");
  sim.ClosePort();
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(sim.Ask("AT+CMGF?\r", "OK\r\n"), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(GsmSimProcess, SilentModemAnswersNothing) {
  GsmSimProcess sim({"--silent", "--hangup-after", "2"});
  ASSERT_TRUE(sim.OpenPort());
  sim.Send("AT\rAT+CMGF=0\r");
  // Everything up to the hang-up after the second command: nothing at all.
  EXPECT_EQ(sim.ReadUntil("never"), "");
  EXPECT_TRUE(sim.HungUp());
  EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST(GsmSimProcess, HangsUpAfterTheNthCommand) {
  GsmSimProcess sim({"--echo", "off", "--hangup-after", "2"});
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(sim.Ask("AT+CMGF=0\r", "OK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(sim.Ask("AT+CMGS=19\r", "never"), "\r\n> ");
  EXPECT_TRUE(sim.HungUp());
  EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST(GsmSimProcess, FailsTheNthMessage) {
  GsmSimProcess sim({"--echo", "off", "--fail-message", "2", "--fail-code", "500"});
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(SendPdu(sim, kPdu, 19, "OK\r\n"), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(SendPdu(sim, kPdu, 19, "500\r\n"), "\r\n+CMS ERROR: 500\r\n");
  EXPECT_EQ(SendPdu(sim, kPdu, 19, "OK\r\n"), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.LogLines().size(), 2u);
}

TEST(GsmSimProcess, DropsTheFinalOk) {
  GsmSimProcess sim({"--echo", "off", "--drop-final-ok"});
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(SendPdu(sim, kPdu, 19, "+CMGS: 0\r\n"), "\r\n+CMGS: 0\r\n");
  // Nothing was held back: the next bytes are the answer to the next command.
  EXPECT_EQ(sim.Ask("AT+CMGF?\r", "OK\r\n"), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.LogLines().size(), 1u);
}

TEST(GsmSimProcess, StartsWithNumericOrQuietResultsStored) {
  GsmSimProcess numeric({"--echo", "off", "--numeric-results"});
  ASSERT_TRUE(numeric.OpenPort());
  EXPECT_EQ(numeric.Ask("AT\r", "0\r"), "0\r");
  EXPECT_EQ(SendPdu(numeric, kPdu, 19, "\n0\r"), "+CMGS: 0\r\n0\r");
  EXPECT_EQ(numeric.Ask("ATV1\r", "OK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(numeric.Stop(), 0);

  GsmSimProcess quiet({"--echo", "off", "--quiet-results"});
  ASSERT_TRUE(quiet.OpenPort());
  EXPECT_EQ(quiet.Ask("AT+CSQ\r", "99\r\n"), "\r\n+CSQ: 17,99\r\n");
  // No OK came before: the next bytes are the answer to the next command.
  EXPECT_EQ(quiet.Ask("ATQ0\r", "OK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(quiet.Stop(), 0);
}

TEST(GsmSimProcess, WritesUnsolicitedLineRightAfterOk) {
  GsmSimProcess sim({"--echo", "off", "--unsolicited", "+CMTI: \"SM\",1"});
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(SendPdu(sim, kPdu, 19, "\"SM\",1\r\n"),
            "\r\n+CMGS: 0\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",1\r\n");
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(GsmSimProcess, DeliversAnswersByteByByte) {
  GsmSimProcess sim({"--echo", "off", "--byte-delay-ms", "15"});
  ASSERT_TRUE(sim.OpenPort());
  sim.Send("AT+CMGF=?\r");
  int reads = 0;
  EXPECT_EQ(sim.ReadUntil("OK\r\n", &reads), "\r\n+CMGF: (0,1)\r\n\r\nOK\r\n");
  // 23 bytes with a pause after each: far more reads than one.
  EXPECT_GE(reads, 10);
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(GsmSimProcess, ExitsAfterTheGivenMessageCount) {
  GsmSimProcess sim({"--echo", "off", "--exit-after-messages", "1"});
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(SendPdu(sim, kPdu, 19, "OK\r\n"), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_EQ(sim.LogLines().size(), 1u);
}

// The clock a host simulator shares with the modem: 8 bytes of milliseconds, set by hand here.
class SharedClock {
 public:
  explicit SharedClock(const std::string& path) : path_(path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0 && ::ftruncate(fd, sizeof(std::uint64_t)) == 0) {
      void* map = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (map != MAP_FAILED) ms_ = static_cast<std::uint64_t*>(map);
    }
    if (fd >= 0) ::close(fd);
  }
  ~SharedClock() {
    if (ms_ != nullptr) ::munmap(ms_, sizeof(std::uint64_t));
  }
  SharedClock(const SharedClock&) = delete;
  SharedClock& operator=(const SharedClock&) = delete;
  bool Ready() const { return ms_ != nullptr; }
  const std::string& Path() const { return path_; }
  void SetSeconds(int seconds) {
    std::atomic_ref<std::uint64_t>(*ms_).store(static_cast<std::uint64_t>(seconds) * 1000u,
                                               std::memory_order_release);
  }

 private:
  std::string path_;
  std::uint64_t* ms_ = nullptr;
};

// True once `path` exists (`present`) or is gone, within the patience.
bool WaitForPath(const std::string& path, bool present) {
  auto until = GsmSimProcess::Clock::now() + GsmSimProcess::kPatience;
  while (GsmSimProcess::Clock::now() < until) {
    if ((::access(path.c_str(), F_OK) == 0) == present) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST(GsmSimProcess, ErrorWindowAndUnplugFollowTheSharedClock) {
  TempDir folder;
  SharedClock clock(folder.File("clock"));
  ASSERT_TRUE(clock.Ready());
  GsmSimProcess sim({"--echo", "off", "--clock-file", clock.Path(), "--error-window", "331@5+20",
                     "--unplug", "40+10"});
  ASSERT_TRUE(sim.OpenPort());
  // With --unplug the sender is sent to a link that outlives each terminal.
  const std::string link = sim.PortFile() + ".tty";
  EXPECT_EQ(sim.WaitForPortPath(), link);

  EXPECT_EQ(SendPdu(sim, kPdu, 19, "OK\r\n"), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  clock.SetSeconds(10);
  EXPECT_EQ(SendPdu(sim, kPdu, 19, "331\r\n"), "\r\n+CMS ERROR: 331\r\n");
  EXPECT_EQ(sim.Ask("AT+CREG?\r", "OK\r\n"), "\r\n+CREG: 0,2\r\n\r\nOK\r\n");
  clock.SetSeconds(25);
  EXPECT_EQ(SendPdu(sim, kPdu, 19, "OK\r\n"), "\r\n+CMGS: 1\r\n\r\nOK\r\n");

  // Unplugged: the open terminal hangs up and the name is gone until the adapter is back.
  clock.SetSeconds(40);
  EXPECT_EQ(sim.ReadUntil("never"), "");
  EXPECT_TRUE(sim.HungUp());
  EXPECT_TRUE(WaitForPath(link, false));
  clock.SetSeconds(50);
  ASSERT_TRUE(WaitForPath(link, true));
  sim.ClosePort();
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(SendPdu(sim, kPdu, 19, "OK\r\n"), "\r\n+CMGS: 2\r\n\r\nOK\r\n");
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.LogLines().size(), 3u);
  EXPECT_NE(sim.StderrText().find("unplugged at 40.000 s"), std::string::npos) << sim.StderrText();
  EXPECT_NE(::access(link.c_str(), F_OK), 0);  // no dead name left behind
}

// True when something arrives on `fd` within a short look.
bool SomethingArrives(int fd) {
  pollfd ready{fd, POLLIN, 0};
  return ::poll(&ready, 1, 50) > 0;
}

TEST(GsmSimProcess, PromptAndFinalReplyComeLateOnTheSharedClock) {
  TempDir folder;
  SharedClock clock(folder.File("clock"));
  ASSERT_TRUE(clock.Ready());
  // With echo on, the echo tells when the modem has read a line and started its wait.
  GsmSimProcess sim({"--clock-file", clock.Path(), "--prompt-delay", "2", "--reply-delay", "3"});
  ASSERT_TRUE(sim.OpenPort());
  EXPECT_EQ(sim.Ask("ATE1\r", "OK\r\n"), "ATE1\r\r\nOK\r\n");
  EXPECT_EQ(sim.Ask("AT+CMGS=19\r", "\r"), "AT+CMGS=19\r");
  EXPECT_FALSE(SomethingArrives(sim.port()));
  clock.SetSeconds(2);
  EXPECT_EQ(sim.ReadUntil("> "), "\r\n> ");
  EXPECT_EQ(sim.Ask(kPdu + kCtrlZ, kPdu), kPdu);
  clock.SetSeconds(4);
  EXPECT_FALSE(SomethingArrives(sim.port()));
  clock.SetSeconds(5);
  EXPECT_EQ(sim.ReadUntil("OK\r\n"), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  // Other answers are not held back.
  EXPECT_EQ(sim.Ask("AT\r", "OK\r\n"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(GsmSimProcess, UnsolicitedLinesAroundRepliesInPieces) {
  GsmSimProcess sim({"--echo", "off", "--urc-after-ok", "--urc-after-prompt", "--urc", "^RSSI: 17",
                     "--pieces", "3"});
  ASSERT_TRUE(sim.OpenPort());
  sim.Send("AT+CMGS=19\r");
  int reads = 0;
  EXPECT_EQ(sim.ReadUntil("17\r\n", &reads), "\r\n> \r\n^RSSI: 17\r\n");
  EXPECT_GE(reads, 3);  // 19 bytes in pieces of at most 8
  sim.Send(kPdu + kCtrlZ);
  EXPECT_EQ(sim.ReadUntil("17\r\n"), "\r\n+CMGS: 0\r\n\r\nOK\r\n\r\n^RSSI: 17\r\n");
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.LogLines().size(), 1u);
}

TEST(GsmSimProcess, UnsolicitedLinesAtRandomMoments) {
  GsmSimProcess sim({"--urc-every", "0.02", "--urc", "RING"});
  ASSERT_TRUE(sim.OpenPort());
  std::string received = sim.ReadUntil("RING\r\n\r\nRING\r\n");
  EXPECT_NE(received.find("\r\nRING\r\n\r\nRING\r\n"), std::string::npos) << received;
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(GsmSimProcess, ExitsAtItsTimeoutEvenWithoutAClient) {
  GsmSimProcess sim({"--timeout", "0.2"});
  EXPECT_FALSE(sim.WaitForPortPath().empty());
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_NE(sim.StderrText().find("time-out reached"), std::string::npos);
  EXPECT_TRUE(ReadFileBytes(sim.PortFile()).empty());  // a dead path is not left behind
}

// Reports in both modes (with the status set for all and per recipient) and none without TP-SRR,
// then phones' messages and the loop through the own number, all on the shared clock.
TEST(GsmSimProcess, ReportsAndIncomingMessagesFollowTheSharedClock) {
  const std::string srr = "0031" + kPdu.substr(4);  // the same SMS-SUBMIT asking for a report
  const std::string report = "0891683108100005F006FF0D91682143658709F1";
  struct Row {
    std::vector<std::string> options;
    const char* cnmi;
    std::string pdu;
    std::string first;  // what comes at 5 s, up to its first line end after the PDU
    const char* read;   // what AT+CMGR=1 then answers in part
  };
  const Row rows[] = {
      {{"--first-reference", "255"}, "AT+CNMI=2,1,0,1,0\r", srr, "\r\n+CDS: 26\r\n" + report, ""},
      {{"--first-reference", "255", "--report-status", "0x41"},
       "AT+CNMI=2,1,0,2,0\r",
       srr,
       "\r\n+CDSI: \"SM\",1\r\n",
       "41\r\n\r\nOK\r\n"},
      // The recipient's own status wins over the default; the first that names it counts.
      {{"--first-reference", "255", "--report-status", "0x41", "--report-status-to",
        "13800138000=0x00", "--report-status-to", "+8612345678901=0x46", "--report-status-to",
        "12345678901=0x43"},
       "AT+CNMI=2,1,0,2,0\r",
       srr,
       "\r\n+CDSI: \"SM\",1\r\n",
       "46\r\n\r\nOK\r\n"},
      {{"--no-reports"}, "AT+CNMI=2,1,0,1,0\r", srr, "", ""},
      {{}, "AT+CNMI=2,1,0,1,0\r", kPdu, "", ""},
  };
  for (const Row& row : rows) {
    TempDir folder;
    SharedClock clock(folder.File("clock"));
    ASSERT_TRUE(clock.Ready());
    std::vector<std::string> options = {"--echo", "off", "--clock-file", clock.Path()};
    options.insert(options.end(), row.options.begin(), row.options.end());
    GsmSimProcess sim(options);
    ASSERT_TRUE(sim.OpenPort());
    sim.Ask(row.cnmi, "OK\r\n");
    sim.Ask("AT+CMGF=0\r", "OK\r\n");
    sim.Ask("AT+CMGS=19\r", "> ");
    sim.Ask(row.pdu + kCtrlZ, "OK\r\n");
    clock.SetSeconds(5);
    if (row.first.empty()) {
      EXPECT_FALSE(SomethingArrives(sim.port())) << row.pdu;
    } else {
      EXPECT_EQ(sim.ReadUntil(row.first).substr(0, row.first.size()), row.first);
    }
    if (*row.read != '\0') {
      std::string answer = sim.Ask("AT+CMGR=1\r", "OK\r\n");
      EXPECT_TRUE(answer.starts_with("\r\n+CMGR: 0,,26\r\n" + report)) << answer;
      EXPECT_TRUE(answer.ends_with(row.read)) << answer;
    }
    EXPECT_EQ(sim.Stop(), 0);
  }

  TempDir folder;
  SharedClock clock(folder.File("clock"));
  ASSERT_TRUE(clock.Ready());
  GsmSimProcess sim({"--echo", "off", "--clock-file", clock.Path(), "--incoming",
                     "3@Pagorin:3:gsm7:abcdef", "--own-number", "12345678901", "--loop-delay", "6",
                     "--storage-slots", "3"});
  ASSERT_TRUE(sim.OpenPort());
  sim.Ask("AT+CNMI=2,1,0,0,0\r", "OK\r\n");
  clock.SetSeconds(3);
  EXPECT_EQ(sim.ReadUntil("+CIEV: \"SMSFULL\",1\r\n"),
            "\r\n+CMTI: \"SM\",1\r\n\r\n+CMTI: \"SM\",2\r\n\r\n+CMTI: \"SM\",3\r\n\r\n+CIEV: "
            "\"SMSFULL\",1\r\n");
  sim.Ask("AT+CMGF=0;+CMGS=19\r", "> ");
  sim.Ask(kPdu + kCtrlZ, "OK\r\n");
  clock.SetSeconds(10);
  // The loop's message waits for a free slot.
  EXPECT_FALSE(SomethingArrives(sim.port()));
  std::string freed = sim.Ask("AT+CMGD=2\r", "+CMTI: \"SM\",2\r\n");
  EXPECT_TRUE(freed.starts_with("\r\nOK\r\n\r\n+CMTI: \"SM\",2\r\n")) << freed;
  std::string loop = sim.Ask("AT+CMGR=2\r", "OK\r\n");
  // Back from the own number (national), with the user data as it was sent.
  EXPECT_TRUE(loop.find("040BA12143658709F10008") != std::string::npos) << loop;
  EXPECT_TRUE(loop.find("0400410042\r\n") != std::string::npos) << loop;
  EXPECT_EQ(sim.Stop(), 0);
  std::vector<std::string> events;
  for (const std::string& line : sim.LogLines()) {
    nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.contains("event")) {
      events.push_back(record["event"].get<std::string>() + record.value("text", std::string()));
    }
  }
  const std::vector<std::string> expected = {"storedab",     "storedcd",  "storedef",
                                             "storage_full", "deletedcd", "storedAB",
                                             "storage_full", "readAB"};
  EXPECT_EQ(events, expected);
}

}  // namespace
}  // namespace pagorin::testing

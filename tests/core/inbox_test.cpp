// The inbox and the plug-in's receiving side, over PDUs made the way a network delivers them:
// parts read twice or out of order, a crash before the record, an undecodable PDU, the inbox
// script's escaping and the loop test.
#include "core/inbox.h"

#include "core_fixture.h"
#include "deliver_pdu.h"
#include "support/temp_dir.h"

namespace pagorin::testing {
namespace {

constexpr char kSender[] = "+8613912345678";

// The parts of `utf8` from kSender as the modem reads them, decoded.
struct Incoming {
  std::string pdu;
  SmsDeliver part;
};
std::vector<Incoming> Parts(std::string_view utf8, int parts, std::string_view from = kSender,
                            sim::TextCoding coding = sim::TextCoding::kUcs2) {
  sim::PhoneText text;
  text.from = from;
  text.text = utf8;
  text.coding = coding;
  text.parts = parts;
  text.concatReference = 77;
  std::string error;
  std::vector<Incoming> out;
  for (const sim::DeliverPart& encoded : sim::EncodeDeliver(text, error)) {
    DecodedPdu decoded = DecodeIncomingPdu(encoded.pdu.hex);
    out.push_back({encoded.pdu.hex, std::get<SmsDeliver>(decoded.message)});
  }
  EXPECT_EQ(out.size(), static_cast<std::size_t>(parts)) << error;
  return out;
}

TEST(Inbox, JoinsPartsInAnyOrderOnceAndNeverRecordsAPartTwice) {
  TempDir dir;
  platform::ManualTicks ticks{1000};
  const std::string path = dir.File("Pagorin_Inbox.journal");
  const std::string text =
      "三号泵已到现场,压力恢复正常,请复位报警。值班人员张工。" + std::string(80, 'x');
  const std::vector<Incoming> parts = Parts(text, 3);
  std::vector<ReceivedMessage> done;
  {
    Inbox inbox;
    ASSERT_TRUE(inbox.Open(path));
    // Read twice before the modem deleted it: recorded and taken once.
    for (int i : {2, 0, 0}) {
      ASSERT_TRUE(inbox.Record(parts[i].part, parts[i].pdu, 1700000000));
      inbox.Take(parts[i].part, 1700000000, done);
    }
    EXPECT_EQ(inbox.PendingParts(), 2u);
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(inbox.Record(parts[1].part, parts[1].pdu, 1700000001));
    inbox.Take(parts[1].part, 1700000001, done);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].text, Cp(text));
    EXPECT_EQ(done[0].number, kSender);
    EXPECT_TRUE(done[0].complete);
    EXPECT_EQ(done[0].parts.size(), 3u);
    inbox.Written(done[0]);
    EXPECT_EQ(inbox.PendingParts(), 0u);
  }
  // After a restart the modem still holds a part (the crash came before its delete): it is
  // known, so neither the journal nor the record gets it again.
  Inbox inbox;
  ASSERT_TRUE(inbox.Open(path));
  done.clear();
  inbox.Poll(done);
  ASSERT_TRUE(inbox.Record(parts[0].part, parts[0].pdu, 1700000100));
  inbox.Take(parts[0].part, 1700000100, done);
  ticks.Advance(Inbox::kJoinTimeoutMs);
  inbox.Poll(done);
  EXPECT_TRUE(done.empty());
  EXPECT_EQ(inbox.PendingParts(), 0u);
}

TEST(Inbox, WhatWasNotWrittenComesBackAfterACrashOnceAndPartsMissingEndIncomplete) {
  TempDir dir;
  platform::ManualTicks ticks{1000};
  const std::string path = dir.File("Pagorin_Inbox.journal");
  const std::vector<Incoming> three = Parts(
      "Pump 3 restarted, pressure back to 4.2 bar, "
      "operator on site; reset the alarm when you see this.",
      3, kSender, sim::TextCoding::kGsm7);
  const std::vector<Incoming> single = Parts("收到", 1, "+8613800138000");
  {
    Inbox inbox;
    ASSERT_TRUE(inbox.Open(path));
    ASSERT_TRUE(inbox.Record(three[0].part, three[0].pdu, 1700000000));
    ASSERT_TRUE(inbox.Record(three[2].part, three[2].pdu, 1700000000));
    ASSERT_TRUE(inbox.Record(single[0].part, single[0].pdu, 1700000000));
    ASSERT_TRUE(inbox.RecordUndecoded("0791FFZZ", 1700000000));
    // The host never wrote them: the process ends here.
  }
  Inbox inbox;
  ASSERT_TRUE(inbox.Open(path));
  EXPECT_EQ(inbox.PendingParts(), 4u);
  std::vector<ReceivedMessage> done;
  inbox.Poll(done);
  ASSERT_EQ(done.size(), 2u);
  std::map<std::string, ReceivedMessage> byText;
  for (ReceivedMessage& message : done)
    byText[message.text] = message;
  ASSERT_TRUE(byText.contains(Cp("收到")));
  EXPECT_TRUE(byText[Cp("收到")].complete);
  ASSERT_TRUE(byText.contains(Inbox::UndecodedText("0791FFZZ")));
  EXPECT_FALSE(byText[Inbox::UndecodedText("0791FFZZ")].complete);
  for (const ReceivedMessage& message : done)
    inbox.Written(message);
  // The two parts of three wait for the third, then go as what arrived.
  done.clear();
  ticks.Advance(Inbox::kJoinTimeoutMs - 1);
  inbox.Poll(done);
  EXPECT_TRUE(done.empty());
  ticks.Advance(1);
  inbox.Poll(done);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_FALSE(done[0].complete);
  EXPECT_EQ(done[0].text, platform::Utf16ToCp936(three[0].part.text + three[2].part.text));
  inbox.Written(done[0]);
  EXPECT_EQ(inbox.PendingParts(), 0u);
  // The undecodable PDU read again is not a new message either.
  ASSERT_TRUE(inbox.RecordUndecoded("0791FFZZ", 1700000200));
  done.clear();
  inbox.TakeUndecoded("0791FFZZ", 1700000200, done);
  EXPECT_TRUE(done.empty());
}

TEST(InboxScript, ValuesAreWrittenAsTheInsideOfAQuotedText) {
  struct Row {
    std::string value, expected;
  } rows[] = {
      {"ok", "ok"},
      {"say \"1A\"", "say \\\"1A\\\""},
      {"a\\b", "a\\\\b"},
      {"two\nlines\r\tend", "two\\nlines  end"},
      // 0x5C as the trail byte of a two-byte character stays as it is.
      {"\x81\x5C\"", "\x81\x5C\\\""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(PluginObject::ExpandInboxScript("T=\"%TEXT%\";N=\"%NAME%\";%NUMBER%%", "+86139", "n",
                                              row.value),
              "T=\"" + row.expected + "\";N=\"n\";+86139%")
        << row.value;
  }
}

class PluginInboxTest : public PluginTest {
 protected:
  // The project in a folder of its own, where the inbox and the records are real files.
  PluginInboxTest() { plugin->configPath = ConfigPathIn(dir.path()); }
  // The report the sender makes of a slot it read, through the outbox as on the sender thread,
  // then on the host's thread.
  void Arrive(const Incoming& incoming) {
    SmsReport report;
    report.kind = SmsReport::Kind::Received;
    report.pdu = incoming.pdu;
    report.received = incoming.part;
    ASSERT_TRUE(plugin->outbox.RecordReceived(report));
    plugin->outbox.OnReceived(report);
  }
  std::string ReceivedCsv() { return ReadFileBytes(dir.File(std::string(kReceivedFileName))); }
  TempDir dir;
};

TEST_F(PluginInboxTest, MessagesGoToTheRecordAndPhoneBookOnesToTheScript) {
  AddPhone("13912345678", Cp("张工"));
  plugin->InboxScript = "Reply.Text = \"%NAME%:%TEXT%\"";
  StartRunning();
  const std::vector<Incoming> reply = Parts("1A \"确认\"", 1);
  Arrive(reply[0]);
  Arrive(reply[0]);  // listed again before the delete: one line, one script
  Arrive(Parts("广告", 1, "+8613000000000")[0]);
  SmsReport undecodable;
  undecodable.kind = SmsReport::Kind::Received;
  undecodable.pdu = "07FF";
  ASSERT_TRUE(plugin->outbox.RecordReceived(undecodable));
  plugin->outbox.OnReceived(undecodable);

  ASSERT_EQ(host.CountOf("RunScript"), 1u);
  EXPECT_EQ(host.CallsOf("RunScript")[0].arguments[0], Cp("Reply.Text = \"张工:1A \\\"确认\\\"\""));
  const std::string csv = ReceivedCsv();
  EXPECT_TRUE(
      csv.starts_with("\xEF\xBB\xBF接收时间,短信中心时间,手机号码,说明,内容,状态,状态码\r\n"))
      << csv;
  EXPECT_NE(csv.find(",=\"+8613912345678\",张工,\"1A \"\"确认\"\"\",完整,complete\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find(",=\"+8613000000000\",,广告,完整,complete\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",,,,PDU 07FF,不完整,incomplete\r\n"), std::string::npos) << csv;
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
  EXPECT_EQ(plugin->inbox.PendingParts(), 0u);
}

TEST_F(PluginInboxTest, ALoopMessageNotBackInTimeFailsThePathUntilOneComesBack) {
  plugin->OwnNumber = "13800000000";
  plugin->LoopHours = 1;
  plugin->ModemScript = "Path.Changed = 1";
  StartRunning();
  auto loopMessages = [this] {
    std::vector<OutboxRecord> loops;
    for (const OutboxRecord& record : plugin->outbox.Recent(50))
      if (record.entry.origin == "loop") loops.push_back(record);
    return loops;
  };
  ticks.Advance(kLoopFirstDelayMs - 1000);
  HostTick();
  EXPECT_TRUE(loopMessages().empty());
  ticks.Advance(1000);
  HostTick();
  ASSERT_EQ(loopMessages().size(), 1u);
  EXPECT_EQ(loopMessages()[0].entry.number, "13800000000");
  ASSERT_EQ(Deliver(1).size(), 1u);
  // The network took it; ten minutes later it is still not back.
  ticks.Advance(kLoopWaitMs);
  HostTick();
  EXPECT_NE(plugin->ModemStatusLine().find(Cp("自检短信未收回")), std::string::npos);
  const std::string history = ReadFileBytes(dir.File("Pagorin_SendHistory.csv"));
  EXPECT_NE(history.find("未送达,自检短信未收回"), std::string::npos) << history;
  ticks.Advance(kPathSettleMs);
  HostTick();
  EXPECT_EQ(host.CountOf("RunScript"), 1u);

  // The next one, an hour after the first, comes back: the path works again.
  ticks.Advance(3600 * 1000 - kLoopWaitMs - kPathSettleMs);
  HostTick();
  std::vector<OutboxRecord> loops = loopMessages();
  ASSERT_EQ(loops.size(), 2u);
  ASSERT_EQ(Deliver(1).size(), 1u);
  Arrive(Parts(platform::Cp936ToUtf8(loops[0].entry.text), 1, "+8613800000000")[0]);
  EXPECT_EQ(plugin->ModemStatusLine().find(Cp("自检短信未收回")), std::string::npos);
  EXPECT_NE(ReceivedCsv().find(",自检,loop\r\n"), std::string::npos);
  ticks.Advance(kPathSettleMs);
  HostTick();
  EXPECT_EQ(host.CountOf("RunScript"), 2u);
}

}  // namespace
}  // namespace pagorin::testing

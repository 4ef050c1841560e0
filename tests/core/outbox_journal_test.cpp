#include "core/outbox_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"

namespace pagorin {
namespace {

using pagorin::testing::ReadFileBytes;
using pagorin::testing::TempDir;
using pagorin::testing::WriteFileBytes;

OutboxMessage Message(std::uint64_t id) {
  OutboxMessage message;
  message.id = id;
  message.queuedAt = 1'765'000'000 + static_cast<std::int64_t>(id);
  message.priority = static_cast<int>(id % 2);
  message.number = "1380013800" + std::to_string(id % 10);
  message.name = "\xD6\xB5\xB0\xE0\xCA\xD2";  // 值班室
  message.origin = id % 2 == 0 ? "script" : "Tank1.PV";
  message.text = "Tank1\xB1\xA8\xBE\xAF:" + std::to_string(id);  // Tank1报警:<id>
  message.parts = 1 + static_cast<int>(id % 3);
  message.cut = id % 3 == 0;
  return message;
}

std::vector<std::uint64_t> Ids(const std::vector<OutboxMessage>& messages) {
  std::vector<std::uint64_t> ids;
  for (const OutboxMessage& message : messages)
    ids.push_back(message.id);
  return ids;
}

void ExpectSameMessage(const OutboxMessage& a, const OutboxMessage& b) {
  EXPECT_EQ(a.id, b.id);
  EXPECT_EQ(a.queuedAt, b.queuedAt);
  EXPECT_EQ(a.priority, b.priority);
  EXPECT_EQ(a.number, b.number);
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.origin, b.origin);
  EXPECT_EQ(a.text, b.text);
  EXPECT_EQ(a.parts, b.parts);
  EXPECT_EQ(a.cut, b.cut);
}

TEST(OutboxJournal, Crc32KnownAnswer) {
  EXPECT_EQ(detail::Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(detail::Crc32(""), 0u);
}

// Nine messages queued, four of them ended; after a restart the five others come back in their
// order, every field as recorded, and new ids go on above the old ones.
TEST(OutboxJournal, RestartGivesBackTheWaitingMessagesInOrder) {
  TempDir dir;
  const std::string path = dir.File(std::string(OutboxJournal::kFileName));
  std::vector<OutboxMessage> queued;
  {
    OutboxJournal journal;
    OutboxJournal::LoadReport report;
    ASSERT_TRUE(journal.Open(path, report));
    EXPECT_TRUE(report.waiting.empty());
    for (int i = 0; i < 9; ++i)
      queued.push_back(Message(journal.NextId()));
    ASSERT_TRUE(journal.RecordQueued(std::span(queued).first(4)));
    ASSERT_TRUE(journal.RecordQueued(std::span(queued).subspan(4)));
    ASSERT_TRUE(journal.RecordSent(2, 1'765'000'100, "17", 1));
    ASSERT_TRUE(journal.RecordFailed(5, 1'765'000'100, 3, 3));
    ASSERT_TRUE(journal.RecordSent(7, 1'765'000'100, "18 19", 1));
    ASSERT_TRUE(journal.RecordSent(9, 1'765'000'100, "20", 2));
    EXPECT_EQ(journal.WaitingCount(), 5u);
  }
  OutboxJournal journal;
  OutboxJournal::LoadReport report;
  ASSERT_TRUE(journal.Open(path, report));
  EXPECT_EQ(Ids(report.waiting), (std::vector<std::uint64_t>{1, 3, 4, 6, 8}));
  for (const OutboxMessage& message : report.waiting)
    ExpectSameMessage(message, queued[static_cast<std::size_t>(message.id - 1)]);
  EXPECT_EQ(report.damagedRecords, 0u);
  EXPECT_FALSE(report.damagedTail);
  EXPECT_EQ(journal.NextId(), 10u);
}

// A crash while the last record was being written leaves any prefix of it: everything before it
// loads, the rest is a torn tail.
TEST(OutboxJournal, TailCutAtEveryByteLoadsEverythingBefore) {
  std::string bytes;
  for (std::uint64_t id = 1; id <= 3; ++id)
    bytes += OutboxJournal::QueuedRecord(Message(id));
  bytes += OutboxJournal::EndRecord(OutboxFate::kSent, 2, 0, "5", 0, 1);
  const std::size_t whole = bytes.size();
  const std::string last = OutboxJournal::QueuedRecord(Message(4));
  bytes += last;
  for (std::size_t cut = 0; cut < last.size(); ++cut) {
    SCOPED_TRACE(cut);
    OutboxJournal::LoadReport report =
        OutboxJournal::Parse(std::string_view(bytes).substr(0, whole + cut));
    EXPECT_EQ(Ids(report.waiting), (std::vector<std::uint64_t>{1, 3}));
    EXPECT_EQ(report.damagedTail, cut > 0);
    EXPECT_EQ(report.damagedRecords, 0u);
  }
  EXPECT_EQ(Ids(OutboxJournal::Parse(bytes).waiting), (std::vector<std::uint64_t>{1, 3, 4}));
}

// One flipped byte anywhere in a record (frame, length, payload or checksum) loses that record
// and nothing else. A lost end record brings its message back: sent again rather than lost.
TEST(OutboxJournal, FlippedByteLosesOnlyThatRecord) {
  struct Row {
    const char* what;
    bool endRecord;
    std::vector<std::uint64_t> expected;
  };
  const Row rows[] = {
      {"queued record of 3", false, {1, 2, 4, 5}},
      {"sent record of 2", true, {1, 2, 3, 4, 5}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string before = OutboxJournal::QueuedRecord(Message(1)) +
                         OutboxJournal::QueuedRecord(Message(2)) +
                         OutboxJournal::EndRecord(OutboxFate::kSent, 6, 0, "1", 0, 1);
    std::string middle = row.endRecord
                             ? OutboxJournal::EndRecord(OutboxFate::kSent, 2, 0, "4", 0, 1)
                             : OutboxJournal::QueuedRecord(Message(3));
    std::string after = OutboxJournal::QueuedRecord(Message(4)) +
                        OutboxJournal::QueuedRecord(Message(5)) +
                        (row.endRecord ? OutboxJournal::QueuedRecord(Message(3)) : std::string());
    for (std::size_t at = 0; at < middle.size(); ++at) {
      for (unsigned mask : {0x01u, 0x80u, 0xFFu}) {
        std::string damaged = middle;
        damaged[at] = static_cast<char>(static_cast<unsigned char>(damaged[at]) ^ mask);
        OutboxJournal::LoadReport report = OutboxJournal::Parse(before + damaged + after);
        std::vector<std::uint64_t> ids = Ids(report.waiting);
        ASSERT_EQ(ids, row.expected) << "byte " << at << " mask " << mask;
        ASSERT_EQ(report.damagedRecords, 1u);
        ASSERT_FALSE(report.damagedTail);
      }
    }
  }
}

TEST(OutboxJournal, GarbageAndUnknownRecordsAreNeverFatal) {
  const std::string rows[] = {
      "",
      std::string("PgOb\xFF\xFF\xFF\xFF", 8),
      std::string(100, '\0'),
      "PgObPgObPgOb",
  };
  for (const std::string& garbage : rows) {
    OutboxJournal::LoadReport report =
        OutboxJournal::Parse(garbage + OutboxJournal::QueuedRecord(Message(7)) + garbage);
    EXPECT_EQ(Ids(report.waiting), (std::vector<std::uint64_t>{7}));
  }
}

// Reopening drops the ended messages from the file; so does the compaction that follows many
// ended messages; ids keep rising across both.
TEST(OutboxJournal, CompactionKeepsTheWaitingAndTheIds) {
  TempDir dir;
  const std::string path = dir.File("journal");
  constexpr std::size_t kCompactAfter = 16;
  OutboxJournal journal(kCompactAfter);
  OutboxJournal::LoadReport report;
  ASSERT_TRUE(journal.Open(path, report));
  std::vector<OutboxMessage> keep{Message(journal.NextId())};
  ASSERT_TRUE(journal.RecordQueued(keep));
  std::uint64_t lastId = 0;
  for (std::size_t i = 0; i < kCompactAfter; ++i) {
    std::vector<OutboxMessage> one{Message(journal.NextId())};
    lastId = one[0].id;
    ASSERT_TRUE(journal.RecordQueued(one));
    ASSERT_TRUE(journal.RecordSent(one[0].id, 0, "1", 1));
  }
  const std::string compacted = ReadFileBytes(path);
  EXPECT_LT(compacted.size(), 400u);
  EXPECT_EQ(Ids(OutboxJournal::Parse(compacted).waiting), (std::vector<std::uint64_t>{1}));
  journal.Close();
  ASSERT_TRUE(journal.Open(path, report));
  EXPECT_EQ(Ids(report.waiting), (std::vector<std::uint64_t>{1}));
  EXPECT_EQ(journal.NextId(), lastId + 1);
}

TEST(OutboxJournal, DamagedFileIsRewrittenWholeOnOpen) {
  TempDir dir;
  const std::string path = dir.File("journal");
  const std::string torn = OutboxJournal::QueuedRecord(Message(2));
  WriteFileBytes(path, OutboxJournal::QueuedRecord(Message(1)) + torn.substr(0, 20));
  OutboxJournal journal;
  OutboxJournal::LoadReport report;
  ASSERT_TRUE(journal.Open(path, report));
  EXPECT_TRUE(report.damagedTail);
  std::vector<OutboxMessage> next{Message(journal.NextId())};
  ASSERT_TRUE(journal.RecordQueued(next));
  OutboxJournal::LoadReport again = OutboxJournal::Parse(ReadFileBytes(path));
  EXPECT_EQ(Ids(again.waiting), (std::vector<std::uint64_t>{1, 2}));
  EXPECT_FALSE(again.damagedTail);
  EXPECT_EQ(again.damagedRecords, 0u);
}

TEST(OutboxJournal, UnwritableFolderRecordsNothingAndSaysSo) {
  TempDir dir;
  OutboxJournal journal;
  OutboxJournal::LoadReport report;
  EXPECT_FALSE(journal.Open(dir.File("missing/journal"), report));
  std::vector<OutboxMessage> one{Message(1)};
  EXPECT_FALSE(journal.RecordQueued(one));
  EXPECT_FALSE(journal.RecordSent(1, 0, "1", 1));
}

// A bit pattern no stretch of damage can make the search past it slow or wrong: every byte of a
// megabyte starts a false record that claims the largest payload, and the good records after it
// are all found.
TEST(OutboxJournal, FalseRecordHeadersAreSkippedAndTheRestIsRead) {
  std::string falseHeader("PgOb", 4);
  falseHeader += std::string("\x00\x00\x01\x00", 4);  // 64 KiB, the longest payload allowed
  std::string damage;
  while (damage.size() < (1u << 20))
    damage += falseHeader;
  std::string good;
  for (std::uint64_t id = 1; id <= 3; ++id)
    good += OutboxJournal::QueuedRecord(Message(id));
  for (const std::string& bytes : {damage + good, good.substr(0, 10) + damage + good}) {
    const OutboxJournal::LoadReport report = OutboxJournal::Parse(bytes);
    EXPECT_EQ(Ids(report.waiting), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(report.damagedRecords, 1u);
    EXPECT_EQ(report.damagedBytes, bytes.size() - good.size());
    EXPECT_FALSE(report.damagedTail);
  }
}

// The progress of a concatenated SMS: the latest record of it counts, it survives compaction,
// and it is given back only while every message it carries still waits.
TEST(OutboxJournal, ProgressOfAnSmsInFlightSurvivesCompactionUntilItEnds) {
  TempDir dir;
  const std::string path = dir.File("journal");
  OutboxJournal journal(4);
  OutboxJournal::LoadReport report;
  ASSERT_TRUE(journal.Open(path, report));
  std::vector<OutboxMessage> carried{Message(journal.NextId()), Message(journal.NextId())};
  ASSERT_TRUE(journal.RecordQueued(carried));
  SmsInFlight sms;
  sms.smsId = carried[0].id;
  sms.carried = Ids(carried);
  sms.number = carried[0].number;
  sms.text = "joined";
  sms.maxParts = 5;
  sms.concatReference = 9;
  journal.HandOver(sms);
  ASSERT_TRUE(journal.RecordPartSent(sms.smsId, {11}));
  ASSERT_TRUE(journal.RecordPartSent(sms.smsId, {11, 12}));
  // Others end meanwhile, enough to compact the file.
  for (int i = 0; i < 5; ++i) {
    std::vector<OutboxMessage> one{Message(journal.NextId())};
    ASSERT_TRUE(journal.RecordQueued(one));
    ASSERT_TRUE(journal.RecordFailed(one[0].id, 0, 1, 1));
  }
  report = OutboxJournal::Parse(ReadFileBytes(path));
  ASSERT_EQ(report.inFlight.size(), 1u);
  EXPECT_EQ(report.inFlight[0].carried, sms.carried);
  EXPECT_EQ(report.inFlight[0].text, "joined");
  EXPECT_EQ(report.inFlight[0].concatReference, 9);
  EXPECT_EQ(report.inFlight[0].references, (std::vector<int>{11, 12}));
  // A restart resumes it, and what the new run gets accepted follows the earlier parts.
  journal.Close();
  ASSERT_TRUE(journal.Open(path, report));
  ASSERT_EQ(report.inFlight.size(), 1u);
  EXPECT_EQ(journal.EarlierReferences(sms.smsId), (std::vector<int>{11, 12}));
  ASSERT_TRUE(journal.RecordSmsSent(sms.smsId, 0, {13}, 1));
  report = OutboxJournal::Parse(ReadFileBytes(path));
  EXPECT_TRUE(report.waiting.empty());
  EXPECT_TRUE(report.inFlight.empty());
  EXPECT_NE(ReadFileBytes(path).find("11 12 13"), std::string::npos);
}

}  // namespace
}  // namespace pagorin

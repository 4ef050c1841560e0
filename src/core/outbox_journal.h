// The outbox on disk: every message is recorded before its queueing is reported, and marked sent
// or failed as soon as that is known, so that the messages still waiting when the process ends
// (closed or crashed) can be queued again by the next one.
//
// The file is a sequence of records, each framed as
//   magic "PgOb" | payload length (u32 LE) | payload | CRC-32 of length and payload (u32 LE)
// and is only ever appended to, except when it is compacted: then the records of the messages
// still waiting are written to a new file that replaces the old one in one rename. Loading skips
// a damaged record (it looks for the next magic whose record checks out) and a torn tail; damage
// is never fatal, and a file of any content is read in time linear in its size.
//
// Threads: locked, not single-writer. The owner (the host's thread) queues messages and ends the
// ones that never reach the modem; the modem's sender thread marks the fates the moment the modem
// gives them, so that a crash repeats at most the one SMS part whose verdict was outstanding.
// Every operation takes the journal's mutex. Across processes, the file is held exclusively while
// open, so that a second host on the same project folder cannot replace it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/append_file.h"

namespace pagorin {

// One message as queued. Texts are code page 936 bytes, as everywhere in the module.
struct OutboxMessage {
  std::uint64_t id = 0;
  std::int64_t queuedAt = 0;  // seconds since 1970 UTC
  int priority = 0;           // the queue's priority of the message
  std::string number;         // destination as given (11 or 12 digits)
  std::string name;           // the phone-book entry's description; empty when not from the book
  std::string origin;         // the rule's variable, or "script"
  std::string text;           // the text as sent (after any cut)
  int parts = 0;              // short messages the text goes out in
  bool cut = false;           // the text was longer than the piece limit allowed and was cut
};

// One SMS handed to the modem: the messages it carries and how it was encoded, so that after a
// crash a concatenated SMS resumes at the first part the network did not accept.
struct SmsInFlight {
  std::uint64_t smsId = 0;             // the id the modem knows: its first message's
  std::vector<std::uint64_t> carried;  // the messages it carries, in text order
  std::string number;                  // destination
  std::string text;                    // the SMS's text as encoded (joined), code page 936
  bool concatenated = true;            // the encoding's options
  int maxParts = 1;
  std::uint8_t concatReference = 0;
  std::vector<int> references;  // the parts accepted so far (their message references)
};

// How a message ended, as the journal keeps it.
enum class OutboxFate : std::uint8_t { kSent = 2, kFailed = 3 };

class OutboxJournal {
 public:
  // The file name in the project folder.
  static constexpr std::string_view kFileName = "Pagorin_Outbox.journal";
  // Held exclusively beside the journal while it is open: the journal itself is replaced when
  // it is compacted, the lock file never is.
  static constexpr std::string_view kLockSuffix = ".lock";
  // A record longer than this is taken for damage; a message's record is far smaller.
  static constexpr std::uint32_t kMaxPayloadBytes = 64 * 1024;
  // The file is compacted once this many messages have ended since the last compaction.
  static constexpr std::size_t kCompactAfterEnded = 256;

  struct LoadReport {
    std::vector<OutboxMessage> waiting;  // queued, neither sent nor failed; in queueing order
    // SMS of which some parts were accepted and none of whose messages ended, by smsId.
    std::vector<SmsInFlight> inFlight;
    std::size_t damagedRecords = 0;  // records skipped in the middle of the file
    std::size_t damagedBytes = 0;    // bytes skipped with them and with a torn tail
    bool damagedTail = false;        // the file ended in an incomplete or damaged record
    bool heldByOther = false;        // another process has the journal open: nothing was read
    std::string error;               // the system's words when the file could not be opened
  };

  // `compactAfterEnded`: ended messages after which the file is compacted.
  explicit OutboxJournal(std::size_t compactAfterEnded = kCompactAfterEnded) noexcept
      : compactAfterEnded_(compactAfterEnded) {}
  OutboxJournal(const OutboxJournal&) = delete;
  OutboxJournal& operator=(const OutboxJournal&) = delete;

  // Takes the journal at `path` for this process, reads it (a missing file is an empty
  // journal), rewrites it with only the waiting messages and the progress of SMS in flight, and
  // keeps it open for appending. `report` lists what was found. False when the file cannot be
  // written; the journal then records nothing and Record* return false, but `report` still holds
  // what could be read. False with report.heldByOther when another process holds the journal:
  // then nothing was read and nothing is touched. Never throws.
  bool Open(const std::string& path, LoadReport& report) noexcept;
  void Close() noexcept;
  bool IsOpen() const noexcept;

  // The id for the next message: higher than every id this journal has recorded.
  std::uint64_t NextId() noexcept;

  // Records `messages` as queued and returns once the records are on the disk (one sync for all
  // of them). False when they could not be written or synced: the caller must not report them
  // queued. Never throws.
  bool RecordQueued(std::span<const OutboxMessage> messages) noexcept;
  // Records the end of message `id`, synced: sent with the modem's reference numbers, or failed
  // with a reason code. Compacts now and then. False when it could not be written.
  bool RecordSent(std::uint64_t id, std::int64_t at, std::string_view references,
                  int attempts) noexcept;
  bool RecordFailed(std::uint64_t id, std::int64_t at, int reason, int attempts) noexcept;

  // SMS and the modem. HandOver notes (in memory only) what SMS `sms.smsId` carries; the
  // sender's thread then calls RecordPartSent for each part accepted before the last (synced:
  // progress inside a concatenated SMS survives a crash) and RecordSmsSent or RecordSmsFailed
  // once, which end every message it carries in one write and one sync. `references` of
  // RecordPartSent and RecordSmsSent are those of the parts accepted in this run; the parts an
  // earlier run got accepted (sms.references at HandOver) come first. An SMS not handed over
  // ends the message of its id alone. False when nothing could be written.
  void HandOver(SmsInFlight sms) noexcept;
  bool RecordPartSent(std::uint64_t smsId, const std::vector<int>& references) noexcept;
  bool RecordSmsSent(std::uint64_t smsId, std::int64_t at, const std::vector<int>& references,
                     int attempts) noexcept;
  bool RecordSmsFailed(std::uint64_t smsId, std::int64_t at, int reason, int attempts) noexcept;
  // The message references of the parts SMS `smsId` got accepted before this run; empty when
  // none (or it is not in flight). Throws only std::bad_alloc.
  std::vector<int> EarlierReferences(std::uint64_t smsId) const;

  // Messages recorded as queued and not yet ended.
  std::size_t WaitingCount() const noexcept;
  // The system's words for the last write or sync that failed; empty while every one worked.
  // Throws only std::bad_alloc.
  std::string LastWriteProblem() const;

  // The references as the history and the sent mark write them: space-separated, a part
  // without one (-1) left out. Throws only std::bad_alloc.
  static std::string ReferenceText(const std::vector<int>& references);

  // Parses journal bytes: the waiting messages, damage counts, and the highest id seen. Pure.
  static LoadReport Parse(std::string_view bytes, std::uint64_t* highestId = nullptr);
  // The framed record of a queued message, and of an end. Pure; throw only std::bad_alloc.
  static std::string QueuedRecord(const OutboxMessage& message);
  static std::string EndRecord(OutboxFate fate, std::uint64_t id, std::int64_t at,
                               std::string_view references, int reason, int attempts);
  static std::string ProgressRecord(const SmsInFlight& sms);

 private:
  bool WriteSynced(const std::string& records) noexcept;
  bool RecordEnds(std::span<const std::uint64_t> ids, OutboxFate fate, std::int64_t at,
                  std::string_view references, int reason, int attempts) noexcept;
  bool EndSms(std::uint64_t smsId, OutboxFate fate, std::int64_t at,
              const std::vector<int>& references, int reason, int attempts) noexcept;
  bool Compact() noexcept;

  mutable std::mutex mutex_;
  std::string path_;
  platform::AppendFile file_;
  std::uint64_t nextId_ = 1;
  // The waiting messages by id: ids rise in queueing order, so the map keeps that order.
  std::map<std::uint64_t, OutboxMessage> waiting_;
  // The SMS in the modem, by smsId: what each carries, and its progress; `earlier` counts the
  // parts of sms.references that an earlier run got accepted.
  struct Flight {
    SmsInFlight sms;
    std::size_t earlier = 0;
  };
  std::map<std::uint64_t, Flight> inFlight_;
  platform::AppendFile lock_;
  std::string writeProblem_;
  std::size_t compactAfterEnded_;
  std::size_t endedSinceCompaction_ = 0;
};

namespace detail {
// CRC-32 (the one of zip and Ethernet: reflected polynomial 0xEDB88320) of `bytes`.
std::uint32_t Crc32(std::string_view bytes) noexcept;
}  // namespace detail

}  // namespace pagorin

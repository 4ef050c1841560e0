// The outbox on disk: every message is recorded before its queueing is reported, and marked sent
// or failed as soon as that is known, so that the messages still waiting when the process ends
// (closed or crashed) can be queued again by the next one.
//
// The file is a sequence of records, each framed as
//   magic "PgOb" | payload length (u32 LE) | payload | CRC-32 of length and payload (u32 LE)
// and is only ever appended to, except when it is compacted: then the records of the messages
// still waiting are written to a new file that replaces the old one in one rename. Loading skips
// a damaged record (it looks for the next magic whose record checks out) and a torn tail; damage
// is never fatal. Owned and used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
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

// How a message ended, as the journal keeps it.
enum class OutboxFate : std::uint8_t { kSent = 2, kFailed = 3 };

class OutboxJournal {
 public:
  // The file name in the project folder.
  static constexpr std::string_view kFileName = "Pagorin_Outbox.journal";
  // A record longer than this is taken for damage; a message's record is far smaller.
  static constexpr std::uint32_t kMaxPayloadBytes = 64 * 1024;
  // The file is compacted once this many messages have ended since the last compaction.
  static constexpr std::size_t kCompactAfterEnded = 256;

  struct LoadReport {
    std::vector<OutboxMessage> waiting;  // queued, neither sent nor failed; in queueing order
    std::size_t damagedRecords = 0;      // records skipped in the middle of the file
    bool damagedTail = false;            // the file ended in an incomplete or damaged record
  };

  // `compactAfterEnded`: ended messages after which the file is compacted.
  explicit OutboxJournal(std::size_t compactAfterEnded = kCompactAfterEnded) noexcept
      : compactAfterEnded_(compactAfterEnded) {}
  OutboxJournal(const OutboxJournal&) = delete;
  OutboxJournal& operator=(const OutboxJournal&) = delete;

  // Reads the journal at `path` (a missing file is an empty journal), rewrites it with only the
  // waiting messages, and keeps it open for appending. `report` lists the waiting messages. False
  // when the file cannot be written; the journal then records nothing and Record* return false,
  // but `report` still holds what could be read. Never throws.
  bool Open(const std::string& path, LoadReport& report) noexcept;
  void Close() noexcept;
  bool IsOpen() const noexcept { return file_.IsOpen(); }

  // The id for the next message: higher than every id this journal has recorded.
  std::uint64_t NextId() noexcept { return nextId_++; }

  // Records `messages` as queued and returns once the records are on the disk (one sync for all
  // of them). False when they could not be written or synced: the caller must not report them
  // queued. Never throws.
  bool RecordQueued(std::span<const OutboxMessage> messages) noexcept;
  // Records the end of message `id`, synced: sent with the modem's reference numbers, or failed
  // with a reason code. Compacts now and then. False when it could not be written.
  bool RecordSent(std::uint64_t id, std::int64_t at, std::string_view references,
                  int attempts) noexcept;
  bool RecordFailed(std::uint64_t id, std::int64_t at, int reason, int attempts) noexcept;

  // Messages recorded as queued and not yet ended.
  std::size_t WaitingCount() const noexcept { return waiting_.size(); }

  // Parses journal bytes: the waiting messages, damage counts, and the highest id seen. Pure.
  static LoadReport Parse(std::string_view bytes, std::uint64_t* highestId = nullptr);
  // The framed record of a queued message, and of an end. Pure; throw only std::bad_alloc.
  static std::string QueuedRecord(const OutboxMessage& message);
  static std::string EndRecord(OutboxFate fate, std::uint64_t id, std::int64_t at,
                               std::string_view references, int reason, int attempts);

 private:
  bool RecordEnd(std::uint64_t id, std::string record) noexcept;
  bool Compact() noexcept;

  std::string path_;
  platform::AppendFile file_;
  std::uint64_t nextId_ = 1;
  // The waiting messages by id: ids rise in queueing order, so the map keeps that order.
  std::map<std::uint64_t, OutboxMessage> waiting_;
  std::size_t compactAfterEnded_;
  std::size_t endedSinceCompaction_ = 0;
};

namespace detail {
// CRC-32 (the one of zip and Ethernet: reflected polynomial 0xEDB88320) of `bytes`.
std::uint32_t Crc32(std::string_view bytes) noexcept;
}  // namespace detail

}  // namespace pagorin

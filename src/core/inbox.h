// The plug-in's inbox: incoming messages from the moment the modem reads them to the received
// record. On the sender thread, Record puts each part (its PDU, the time and the sender) in the
// inbox journal and syncs it before the modem may delete its copy; a part read again (after a
// crash, before the modem deleted it) is recognised and not recorded twice. On the host's
// thread, Take and Poll join the parts of a concatenated message (by sender, reference and
// total), and hand over whole messages, or after kJoinTimeoutMs what came of one, marked
// incomplete. Written marks a message as in the received record; the journal is compacted once
// every message in it is.
//
// A PDU that does not decode is kept too, raw, and handed over as an incomplete message of its
// own, so that nothing the modem held is deleted unrecorded.
//
// The journal uses the outbox journal's framing (core/journal_frame.h); a payload is a part
// (type 1: sequence number, time received, sender, PDU line), a mark (type 2: the sequence
// numbers of the parts of one message written to the received record) or a seen key (type 3:
// the identity of a part recently written, kept across compaction so that a part the modem
// still holds after a crash is not recorded twice).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "modem/sms_deliver.h"
#include "platform/append_file.h"

namespace pagorin {

// One incoming message as the received record and the inbox script see it.
struct ReceivedMessage {
  std::int64_t receivedAt = 0;             // seconds since 1970 UTC, of its first part
  std::optional<std::int64_t> centreTime;  // the service centre's time stamp, UTC
  std::string number;                      // the sender as the PDU gives it ("+86...")
  std::string text;                        // code page 936, the parts joined in order
  bool complete = true;                    // false: parts were missing at the time-out
  std::vector<std::uint64_t> parts;        // the journal's sequence numbers of its parts
};

class Inbox {
 public:
  static constexpr std::string_view kFileName = "Pagorin_Inbox.journal";
  // Parts of a concatenated message wait this long (platform::TickCount) for the others.
  static constexpr std::uint32_t kJoinTimeoutMs = 10 * 60 * 1000;
  // Messages waiting for parts at a time; the oldest is handed over incomplete beyond that.
  static constexpr std::size_t kMaxJoining = 256;

  Inbox() = default;
  ~Inbox() { Close(); }
  Inbox(const Inbox&) = delete;
  Inbox& operator=(const Inbox&) = delete;

  // Opens the journal at `path` (a missing file is empty) and takes back the parts an earlier
  // run recorded but did not write to the received record: they join again, their waits
  // starting now. False when it cannot be written (Record then refuses). Never throws.
  bool Open(const std::string& path) noexcept;
  void Close() noexcept;

  // Sender thread: records one part, synced; true once on the disk or when the same part is
  // already there (or was written to the received record lately). Never throws.
  bool Record(const SmsDeliver& part, std::string_view pdu, std::int64_t receivedAt) noexcept;
  // Sender thread: the same for a PDU line that does not decode. Never throws.
  bool RecordUndecoded(std::string_view pdu, std::int64_t receivedAt) noexcept;

  // Host's thread: the part the modem reported after Record took it; whole messages go to
  // `done`. A part already taken (read twice) is passed over. Throws only std::bad_alloc.
  void Take(const SmsDeliver& part, std::int64_t receivedAt, std::vector<ReceivedMessage>& done);
  // Host's thread: an undecodable PDU that RecordUndecoded took, as an incomplete message whose
  // text is the PDU line. Throws only std::bad_alloc.
  void TakeUndecoded(std::string_view pdu, std::int64_t receivedAt,
                     std::vector<ReceivedMessage>& done);
  // Host's thread: messages whose parts waited kJoinTimeoutMs go to `done`, incomplete, as do
  // those recovered at Open. Throws only std::bad_alloc.
  void Poll(std::vector<ReceivedMessage>& done);
  // Host's thread: `message` is in the received record; compacts the journal once nothing
  // else waits and it has grown past kCompactBytes. Never throws.
  void Written(const ReceivedMessage& message) noexcept;

  // Parts in the journal not yet in the received record.
  std::size_t PendingParts() const noexcept;

  // The identity of a part for recognising it when it is read again: sender, centre time,
  // concatenation and text. Throws only std::bad_alloc.
  static std::string PartKey(const SmsDeliver& part);
  // The text of an undecodable PDU's message in the received record.
  static std::string UndecodedText(std::string_view pdu);
  // Keys of written parts kept as seen, in memory and across compaction.
  static constexpr std::size_t kSeenKeys = 256;
  static constexpr std::uint64_t kCompactBytes = 256 * 1024;

 private:
  struct Joining {
    std::string number;
    std::int64_t receivedAt = 0;
    std::optional<std::int64_t> centreTime;
    int total = 1;
    std::map<int, std::u16string> texts;  // by sequence
    std::vector<std::uint64_t> parts;
    std::uint32_t firstTick = 0;
  };
  bool TakeLocked(const SmsDeliver& part, std::int64_t receivedAt, std::uint64_t sequence,
                  std::vector<ReceivedMessage>& done);
  bool RecordLocked(std::string key, std::string_view number, std::string_view pdu,
                    std::int64_t receivedAt) noexcept;
  void Seen(const std::string& key);
  static ReceivedMessage Finish(Joining& joining, bool complete);
  bool WriteSynced(const std::string& records) noexcept;
  void CompactLocked() noexcept;

  mutable std::mutex mutex_;  // the file, the keys and the sequence numbers (both threads)
  std::string path_;
  platform::AppendFile file_;
  std::uint64_t nextSequence_ = 1;
  std::map<std::string, std::uint64_t> recorded_;   // key -> sequence, parts in the journal
  std::map<std::uint64_t, std::string> unwritten_;  // sequence -> key, not in the record yet
  std::set<std::string> seen_;                      // keys of parts written lately
  std::vector<std::string> seenOrder_;              // the same, oldest first (bounded)
  std::uint64_t fileBytes_ = 0;                     // the journal's size, for compaction
  // Host's thread only.
  std::set<std::string> taken_;             // keys handed to joining and not yet written
  std::map<std::string, Joining> joining_;  // by sender, reference and total
  std::vector<ReceivedMessage> recovered_;  // joined at Open, handed over by Poll
};

}  // namespace pagorin

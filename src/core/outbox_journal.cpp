#include "core/outbox_journal.h"

#include <algorithm>
#include <array>

#include "platform/file_io.h"

namespace pagorin {
namespace {

constexpr std::string_view kMagic = "PgOb";
// Magic, length, checksum.
constexpr std::size_t kFrameBytes = 4 + 4 + 4;

enum RecordType : std::uint8_t {
  kQueuedRecord = 1,
  kSentRecord = static_cast<std::uint8_t>(OutboxFate::kSent),
  kFailedRecord = static_cast<std::uint8_t>(OutboxFate::kFailed),
  // Written first by a compaction: the next id, so that ids keep rising after the records of
  // ended messages are gone.
  kHeaderRecord = 4,
};

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k)
      c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

void PutU32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<char>((value >> shift) & 0xFFu));
}

void PutU64(std::string& out, std::uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8)
    out.push_back(static_cast<char>((value >> shift) & 0xFFu));
}

void PutText(std::string& out, std::string_view text) {
  PutU32(out, static_cast<std::uint32_t>(text.size()));
  out.append(text);
}

std::uint32_t GetU32(std::string_view bytes, std::size_t at) noexcept {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return value;
}

// Frames `payload` as one record.
std::string Frame(std::string_view payload) {
  std::string record;
  record.reserve(kFrameBytes + payload.size());
  record.append(kMagic);
  PutU32(record, static_cast<std::uint32_t>(payload.size()));
  record.append(payload);
  PutU32(record, detail::Crc32(std::string_view(record).substr(kMagic.size())));
  return record;
}

// Reads the fields of one payload; every read is bounded, and a read past the end sets `ok` to
// false and yields zero or empty.
class PayloadReader {
 public:
  explicit PayloadReader(std::string_view payload) noexcept : payload_(payload) {}

  std::uint64_t U64(int bytes = 8) noexcept {
    const auto count = static_cast<std::size_t>(bytes);
    if (!ok || payload_.size() - pos_ < count) return Fail();
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
      value |= static_cast<std::uint64_t>(static_cast<unsigned char>(payload_[pos_ + i]))
               << (8 * i);
    pos_ += count;
    return value;
  }
  std::int64_t I64() noexcept { return static_cast<std::int64_t>(U64()); }
  int I32() noexcept { return static_cast<int>(static_cast<std::int32_t>(U64(4))); }
  std::uint8_t U8() noexcept { return static_cast<std::uint8_t>(U64(1)); }
  std::string Text() {
    const std::uint64_t length = U64(4);
    if (!ok || payload_.size() - pos_ < length) {
      Fail();
      return std::string();
    }
    std::string text(payload_.substr(pos_, static_cast<std::size_t>(length)));
    pos_ += static_cast<std::size_t>(length);
    return text;
  }
  bool AtEnd() const noexcept { return pos_ == payload_.size(); }

  bool ok = true;

 private:
  std::uint64_t Fail() noexcept {
    ok = false;
    return 0;
  }

  std::string_view payload_;
  std::size_t pos_ = 0;
};

// The length of a whole, undamaged record at `at`, or 0.
std::size_t CheckedRecordAt(std::string_view bytes, std::size_t at) noexcept {
  if (bytes.size() - at < kFrameBytes || bytes.substr(at, kMagic.size()) != kMagic) return 0;
  const std::uint32_t length = GetU32(bytes, at + 4);
  if (length > OutboxJournal::kMaxPayloadBytes || bytes.size() - at - kFrameBytes < length) {
    return 0;
  }
  const std::string_view covered = bytes.substr(at + 4, 4 + std::size_t{length});
  if (detail::Crc32(covered) != GetU32(bytes, at + 8 + length)) return 0;
  return kFrameBytes + length;
}

}  // namespace

namespace detail {

std::uint32_t Crc32(std::string_view bytes) noexcept {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char c : bytes)
    crc = kCrcTable[(crc ^ static_cast<unsigned char>(c)) & 0xFFu] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace detail

std::string OutboxJournal::QueuedRecord(const OutboxMessage& message) {
  std::string payload;
  payload.reserve(64 + message.number.size() + message.name.size() + message.origin.size() +
                  message.text.size());
  payload.push_back(static_cast<char>(kQueuedRecord));
  PutU64(payload, message.id);
  PutU64(payload, static_cast<std::uint64_t>(message.queuedAt));
  PutU32(payload, static_cast<std::uint32_t>(message.priority));
  PutText(payload, message.number);
  PutText(payload, message.name);
  PutText(payload, message.origin);
  PutText(payload, message.text);
  PutU32(payload, static_cast<std::uint32_t>(message.parts));
  payload.push_back(message.cut ? '\1' : '\0');
  return Frame(payload);
}

std::string OutboxJournal::EndRecord(OutboxFate fate, std::uint64_t id, std::int64_t at,
                                     std::string_view references, int reason, int attempts) {
  std::string payload;
  payload.push_back(static_cast<char>(fate));
  PutU64(payload, id);
  PutU64(payload, static_cast<std::uint64_t>(at));
  PutU32(payload, static_cast<std::uint32_t>(reason));
  PutU32(payload, static_cast<std::uint32_t>(attempts));
  PutText(payload, references);
  return Frame(payload);
}

OutboxJournal::LoadReport OutboxJournal::Parse(std::string_view bytes, std::uint64_t* highestId) {
  LoadReport report;
  std::map<std::uint64_t, OutboxMessage> waiting;
  std::uint64_t highest = 0;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t length = CheckedRecordAt(bytes, at);
    if (length == 0) {
      // Damage: look for the next record that checks out. None means the rest is a torn tail.
      std::size_t next = at + 1;
      while ((next = bytes.find(kMagic, next)) != std::string_view::npos &&
             CheckedRecordAt(bytes, next) == 0)
        ++next;
      if (next == std::string_view::npos) {
        report.damagedTail = true;
        break;
      }
      ++report.damagedRecords;
      at = next;
      continue;
    }
    PayloadReader reader(bytes.substr(at + 8, length - kFrameBytes));
    at += length;
    const std::uint8_t type = reader.U8();
    if (type == kQueuedRecord) {
      OutboxMessage message;
      message.id = reader.U64();
      message.queuedAt = reader.I64();
      message.priority = reader.I32();
      message.number = reader.Text();
      message.name = reader.Text();
      message.origin = reader.Text();
      message.text = reader.Text();
      message.parts = reader.I32();
      message.cut = reader.U8() != 0;
      if (!reader.ok || !reader.AtEnd()) continue;
      highest = std::max(highest, message.id);
      waiting[message.id] = std::move(message);
    } else if (type == kSentRecord || type == kFailedRecord) {
      const std::uint64_t id = reader.U64();
      if (reader.ok) waiting.erase(id);
      highest = std::max(highest, id);
    } else if (type == kHeaderRecord) {
      const std::uint64_t next = reader.U64();
      if (reader.ok && next > 0) highest = std::max(highest, next - 1);
    }
    // A record of a type this build does not know is passed over: a later build may add some.
  }
  report.waiting.reserve(waiting.size());
  for (auto& [id, message] : waiting)
    report.waiting.push_back(std::move(message));
  if (highestId != nullptr) *highestId = highest;
  return report;
}

bool OutboxJournal::Open(const std::string& path, LoadReport& report) noexcept {
  Close();
  try {
    path_ = path;
    std::string bytes, error;
    if (!platform::ReadWholeFile(path, bytes, error)) bytes.clear();
    std::uint64_t highest = 0;
    report = Parse(bytes, &highest);
    nextId_ = highest + 1;
    waiting_.clear();
    for (const OutboxMessage& message : report.waiting)
      waiting_[message.id] = message;
  } catch (...) {
    return false;
  }
  // A journal that cannot be rewritten but still takes appends keeps working.
  Compact();
  return file_.IsOpen();
}

void OutboxJournal::Close() noexcept {
  file_.Close();
}

bool OutboxJournal::RecordQueued(std::span<const OutboxMessage> messages) noexcept {
  if (!file_.IsOpen()) return false;
  try {
    std::string records;
    for (const OutboxMessage& message : messages)
      records += QueuedRecord(message);
    std::string error;
    if (!file_.Append(records, error) || !file_.Sync(error)) return false;
    for (const OutboxMessage& message : messages) {
      waiting_[message.id] = message;
      if (message.id >= nextId_) nextId_ = message.id + 1;
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool OutboxJournal::RecordSent(std::uint64_t id, std::int64_t at, std::string_view references,
                               int attempts) noexcept {
  try {
    return RecordEnd(id, EndRecord(OutboxFate::kSent, id, at, references, 0, attempts));
  } catch (...) {
    return false;
  }
}

bool OutboxJournal::RecordFailed(std::uint64_t id, std::int64_t at, int reason,
                                 int attempts) noexcept {
  try {
    return RecordEnd(id, EndRecord(OutboxFate::kFailed, id, at, {}, reason, attempts));
  } catch (...) {
    return false;
  }
}

bool OutboxJournal::RecordEnd(std::uint64_t id, std::string record) noexcept {
  if (!file_.IsOpen()) return false;
  std::string error;
  // Synced, so that a message sent before a crash is not sent again after it.
  if (!file_.Append(record, error) || !file_.Sync(error)) return false;
  waiting_.erase(id);
  if (++endedSinceCompaction_ >= compactAfterEnded_) Compact();
  return true;
}

bool OutboxJournal::Compact() noexcept {
  try {
    std::string payload;
    payload.push_back(static_cast<char>(kHeaderRecord));
    PutU64(payload, nextId_);
    std::string bytes = Frame(payload);
    for (const auto& [id, message] : waiting_)
      bytes += QueuedRecord(message);
    std::string error;
    file_.Close();
    // The new file replaces the old one in one rename: a crash leaves one or the other whole.
    if (!platform::ReplaceFile(path_, bytes, error)) {
      // Go on appending to the old file; it still says everything.
      file_.Open(path_, error);
      return false;
    }
    endedSinceCompaction_ = 0;
    return file_.Open(path_, error);
  } catch (...) {
    return false;
  }
}

}  // namespace pagorin

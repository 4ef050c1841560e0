#include "core/outbox_journal.h"

#include <algorithm>
#include <array>
#include <optional>

#include "core/journal_frame.h"
#include "platform/file_io.h"

namespace pagorin {
namespace {

using namespace journal;

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
  // The parts of an SMS the network accepted so far, with what the SMS carries.
  kProgressRecord = 5,
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

// The CRC-32 of any range of one text in constant time, for the search past damage: there every
// byte may start a false record whose checksum covers up to kMaxPayloadBytes, and checking each
// one byte by byte would take time quadratic in the damage. The CRC register is linear over
// GF(2): the register after a range is the register after the prefix that ends it, minus the
// register after the prefix before it carried through as many zero bytes as the range is long.
class RangeCrc {
 public:
  explicit RangeCrc(std::string_view bytes) : prefix_(bytes.size() + 1) {
    std::uint32_t reg = 0;
    prefix_[0] = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      reg = kCrcTable[(reg ^ static_cast<unsigned char>(bytes[i])) & 0xFFu] ^ (reg >> 8);
      prefix_[i + 1] = reg;
    }
    // zeros_[k]: the register's map for 2^k zero bytes, as the images of its 32 bits.
    for (std::uint32_t bit = 0; bit < 32; ++bit) {
      std::uint32_t reg1 = 1u << bit;
      reg1 = kCrcTable[reg1 & 0xFFu] ^ (reg1 >> 8);
      zeros_[0][bit] = reg1;
    }
    for (std::size_t k = 1; k < kPowers; ++k) {
      for (std::uint32_t bit = 0; bit < 32; ++bit)
        zeros_[k][bit] = Apply(zeros_[k - 1], zeros_[k - 1][bit]);
    }
  }

  // The CRC-32 of bytes[from, to).
  std::uint32_t Of(std::size_t from, std::size_t to) const noexcept {
    const std::size_t length = to - from;
    return prefix_[to] ^ Zeros(prefix_[from] ^ 0xFFFFFFFFu, length) ^ 0xFFFFFFFFu;
  }

 private:
  // Enough for the longest range a record's checksum covers.
  static constexpr std::size_t kPowers = 18;
  static_assert((std::size_t{1} << kPowers) > OutboxJournal::kMaxPayloadBytes + 4);
  using Map = std::array<std::uint32_t, 32>;

  static std::uint32_t Apply(const Map& map, std::uint32_t reg) noexcept {
    std::uint32_t out = 0;
    for (std::uint32_t bit = 0; reg != 0; ++bit, reg >>= 1) {
      if ((reg & 1u) != 0) out ^= map[bit];
    }
    return out;
  }
  std::uint32_t Zeros(std::uint32_t reg, std::size_t count) const noexcept {
    for (std::size_t k = 0; count != 0 && k < kPowers; ++k, count >>= 1) {
      if ((count & 1u) != 0) reg = Apply(zeros_[k], reg);
    }
    return reg;
  }

  std::vector<std::uint32_t> prefix_;
  std::array<Map, kPowers> zeros_{};
};

// The length of a whole, undamaged record at `at`, or 0. With `ranges`, the checksum is taken
// from it instead of byte by byte.
std::size_t CheckedRecordAt(std::string_view bytes, std::size_t at,
                            const RangeCrc* ranges = nullptr) noexcept {
  if (bytes.size() - at < kFrameBytes || bytes.substr(at, kMagic.size()) != kMagic) return 0;
  const std::uint32_t length = GetU32(bytes, at + 4);
  if (length > OutboxJournal::kMaxPayloadBytes || bytes.size() - at - kFrameBytes < length) {
    return 0;
  }
  const std::uint32_t crc = ranges != nullptr
                                ? ranges->Of(at + 4, at + 8 + length)
                                : detail::Crc32(bytes.substr(at + 4, 4 + std::size_t{length}));
  if (crc != GetU32(bytes, at + 8 + length)) return 0;
  return kFrameBytes + length;
}

void PutReferences(std::string& out, const std::vector<int>& references) {
  PutU32(out, static_cast<std::uint32_t>(references.size()));
  for (int reference : references)
    PutU32(out, static_cast<std::uint32_t>(reference));
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

namespace journal {

std::string Frame(std::string_view payload) {
  std::string record;
  record.reserve(kFrameBytes + payload.size());
  record.append(kMagic);
  PutU32(record, static_cast<std::uint32_t>(payload.size()));
  record.append(payload);
  PutU32(record, detail::Crc32(std::string_view(record).substr(kMagic.size())));
  return record;
}

ScanDamage ScanRecords(std::string_view bytes,
                       const std::function<void(std::string_view payload)>& each) {
  ScanDamage damage;
  std::optional<RangeCrc> ranges;  // made at the first damage; a sound journal never needs it
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t length = CheckedRecordAt(bytes, at, ranges ? &*ranges : nullptr);
    if (length == 0) {
      if (!ranges) ranges.emplace(bytes);
      // Damage: look for the next record that checks out. None means the rest is a torn tail.
      std::size_t next = at + 1;
      while ((next = bytes.find(kMagic, next)) != std::string_view::npos &&
             CheckedRecordAt(bytes, next, &*ranges) == 0)
        ++next;
      if (next == std::string_view::npos) {
        damage.tail = true;
        damage.bytes += bytes.size() - at;
        break;
      }
      ++damage.records;
      damage.bytes += next - at;
      at = next;
      continue;
    }
    each(bytes.substr(at + 8, length - kFrameBytes));
    at += length;
  }
  return damage;
}

}  // namespace journal

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

std::string OutboxJournal::ProgressRecord(const SmsInFlight& sms) {
  std::string payload;
  payload.reserve(48 + 8 * sms.carried.size() + sms.number.size() + sms.text.size() +
                  4 * sms.references.size());
  payload.push_back(static_cast<char>(kProgressRecord));
  PutU64(payload, sms.smsId);
  PutU32(payload, static_cast<std::uint32_t>(sms.carried.size()));
  for (std::uint64_t id : sms.carried)
    PutU64(payload, id);
  PutText(payload, sms.number);
  PutText(payload, sms.text);
  payload.push_back(sms.concatenated ? '\1' : '\0');
  PutU32(payload, static_cast<std::uint32_t>(sms.maxParts));
  payload.push_back(static_cast<char>(sms.concatReference));
  PutReferences(payload, sms.references);
  return Frame(payload);
}

std::string OutboxJournal::ReferenceText(const std::vector<int>& references) {
  std::string text;
  for (int value : references) {
    if (value < 0) continue;
    if (!text.empty()) text.push_back(' ');
    text += std::to_string(value);
  }
  return text;
}

namespace {

// A progress record's payload after its type; false when it does not read whole.
bool ReadProgress(PayloadReader& reader, SmsInFlight& sms) {
  sms.smsId = reader.U64();
  const std::uint64_t carried = reader.U64(4);
  // Each carried id takes 8 bytes of the payload: a count beyond that is damage.
  if (!reader.ok || carried > OutboxJournal::kMaxPayloadBytes / 8) return false;
  for (std::uint64_t i = 0; i < carried && reader.ok; ++i)
    sms.carried.push_back(reader.U64());
  sms.number = reader.Text();
  sms.text = reader.Text();
  sms.concatenated = reader.U8() != 0;
  sms.maxParts = reader.I32();
  sms.concatReference = reader.U8();
  const std::uint64_t references = reader.U64(4);
  if (!reader.ok || references > OutboxJournal::kMaxPayloadBytes / 4) return false;
  for (std::uint64_t i = 0; i < references && reader.ok; ++i)
    sms.references.push_back(reader.I32());
  return reader.ok && reader.AtEnd() && !sms.carried.empty();
}

}  // namespace

OutboxJournal::LoadReport OutboxJournal::Parse(std::string_view bytes, std::uint64_t* highestId) {
  LoadReport report;
  std::map<std::uint64_t, OutboxMessage> waiting;
  std::map<std::uint64_t, SmsInFlight> inFlight;
  std::uint64_t highest = 0;
  const ScanDamage damage = ScanRecords(bytes, [&](std::string_view payload) {
    PayloadReader reader(payload);
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
      if (!reader.ok || !reader.AtEnd()) return;
      highest = std::max(highest, message.id);
      waiting[message.id] = std::move(message);
    } else if (type == kSentRecord || type == kFailedRecord) {
      const std::uint64_t id = reader.U64();
      if (reader.ok) waiting.erase(id);
      highest = std::max(highest, id);
    } else if (type == kHeaderRecord) {
      const std::uint64_t next = reader.U64();
      if (reader.ok && next > 0) highest = std::max(highest, next - 1);
    } else if (type == kProgressRecord) {
      SmsInFlight sms;
      if (!ReadProgress(reader, sms)) return;
      const std::uint64_t smsId = sms.smsId;
      inFlight[smsId] = std::move(sms);  // the latest progress of an SMS holds all of it
    }
    // A record of a type this build does not know is passed over: a later build may add some.
  });
  report.damagedRecords = damage.records;
  report.damagedBytes = damage.bytes;
  report.damagedTail = damage.tail;
  // An SMS resumes only while every message it carries still waits; a message of it that ended
  // ended the SMS.
  for (auto& [smsId, sms] : inFlight) {
    const bool whole = std::all_of(sms.carried.begin(), sms.carried.end(),
                                   [&](std::uint64_t id) { return waiting.contains(id); });
    if (whole && !sms.references.empty()) report.inFlight.push_back(std::move(sms));
  }
  report.waiting.reserve(waiting.size());
  for (auto& [id, message] : waiting)
    report.waiting.push_back(std::move(message));
  if (highestId != nullptr) *highestId = highest;
  return report;
}

bool OutboxJournal::Open(const std::string& path, LoadReport& report) noexcept {
  Close();
  std::lock_guard lock(mutex_);
  try {
    report = LoadReport();
    path_ = path;
    bool heldByOther = false;
    if (!lock_.OpenExclusive(path + std::string(kLockSuffix), report.error, heldByOther) &&
        heldByOther) {
      report.heldByOther = true;
      path_.clear();
      return false;
    }
    // A folder where not even the lock file can be made is read-only: the journal is read
    // all the same, and Compact finds that it cannot write.
    std::string bytes, error;
    if (!platform::ReadWholeFile(path, bytes, error)) bytes.clear();
    std::uint64_t highest = 0;
    LoadReport parsed = Parse(bytes, &highest);
    parsed.error = std::move(report.error);
    report = std::move(parsed);
    nextId_ = highest + 1;
    waiting_.clear();
    inFlight_.clear();
    for (const OutboxMessage& message : report.waiting)
      waiting_[message.id] = message;
    for (const SmsInFlight& sms : report.inFlight)
      inFlight_[sms.smsId] = Flight{sms, sms.references.size()};
  } catch (...) {
    return false;
  }
  // A journal that cannot be rewritten but still takes appends keeps working.
  Compact();
  if (!file_.IsOpen() && report.error.empty()) {
    try {
      report.error = writeProblem_;
    } catch (...) {
    }
  }
  return file_.IsOpen();
}

void OutboxJournal::Close() noexcept {
  std::lock_guard lock(mutex_);
  file_.Close();
  lock_.Close();
}

bool OutboxJournal::IsOpen() const noexcept {
  std::lock_guard lock(mutex_);
  return file_.IsOpen();
}

std::uint64_t OutboxJournal::NextId() noexcept {
  std::lock_guard lock(mutex_);
  return nextId_++;
}

std::size_t OutboxJournal::WaitingCount() const noexcept {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

std::string OutboxJournal::LastWriteProblem() const {
  std::lock_guard lock(mutex_);
  return writeProblem_;
}

bool OutboxJournal::WriteSynced(const std::string& records) noexcept {
  if (!file_.IsOpen()) return false;
  std::string error;
  if (file_.Append(records, error) && file_.Sync(error)) {
    writeProblem_.clear();
    return true;
  }
  try {
    writeProblem_ = error;
  } catch (...) {
  }
  return false;
}

bool OutboxJournal::RecordQueued(std::span<const OutboxMessage> messages) noexcept {
  std::lock_guard lock(mutex_);
  if (!file_.IsOpen()) return false;
  try {
    std::string records;
    for (const OutboxMessage& message : messages)
      records += QueuedRecord(message);
    if (!WriteSynced(records)) return false;
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
  std::lock_guard lock(mutex_);
  return RecordEnds(std::span(&id, 1), OutboxFate::kSent, at, references, 0, attempts);
}

bool OutboxJournal::RecordFailed(std::uint64_t id, std::int64_t at, int reason,
                                 int attempts) noexcept {
  std::lock_guard lock(mutex_);
  return RecordEnds(std::span(&id, 1), OutboxFate::kFailed, at, {}, reason, attempts);
}

// Ends `ids` with one write and one sync, so that a message sent before a crash is not sent
// again after it.
bool OutboxJournal::RecordEnds(std::span<const std::uint64_t> ids, OutboxFate fate, std::int64_t at,
                               std::string_view references, int reason, int attempts) noexcept {
  if (!file_.IsOpen()) return false;
  try {
    std::string records;
    for (std::uint64_t id : ids)
      records += EndRecord(fate, id, at, references, reason, attempts);
    if (!WriteSynced(records)) return false;
    for (std::uint64_t id : ids)
      waiting_.erase(id);
    endedSinceCompaction_ += ids.size();
    if (endedSinceCompaction_ >= compactAfterEnded_) Compact();
    return true;
  } catch (...) {
    return false;
  }
}

void OutboxJournal::HandOver(SmsInFlight sms) noexcept {
  std::lock_guard lock(mutex_);
  try {
    const std::uint64_t smsId = sms.smsId;
    const std::size_t earlier = sms.references.size();
    inFlight_[smsId] = Flight{std::move(sms), earlier};
  } catch (...) {
    // Out of memory: the SMS's fate then ends the message of its id alone, and the others it
    // carries go again after a crash.
  }
}

bool OutboxJournal::RecordPartSent(std::uint64_t smsId,
                                   const std::vector<int>& references) noexcept {
  std::lock_guard lock(mutex_);
  auto it = inFlight_.find(smsId);
  if (it == inFlight_.end() || !file_.IsOpen()) return false;
  try {
    Flight& flight = it->second;
    flight.sms.references.resize(flight.earlier);
    flight.sms.references.insert(flight.sms.references.end(), references.begin(), references.end());
    return WriteSynced(ProgressRecord(flight.sms));
  } catch (...) {
    return false;
  }
}

bool OutboxJournal::RecordSmsSent(std::uint64_t smsId, std::int64_t at,
                                  const std::vector<int>& references, int attempts) noexcept {
  std::lock_guard lock(mutex_);
  return EndSms(smsId, OutboxFate::kSent, at, references, 0, attempts);
}

bool OutboxJournal::RecordSmsFailed(std::uint64_t smsId, std::int64_t at, int reason,
                                    int attempts) noexcept {
  std::lock_guard lock(mutex_);
  return EndSms(smsId, OutboxFate::kFailed, at, {}, reason, attempts);
}

bool OutboxJournal::EndSms(std::uint64_t smsId, OutboxFate fate, std::int64_t at,
                           const std::vector<int>& references, int reason, int attempts) noexcept {
  try {
    auto it = inFlight_.find(smsId);
    if (it == inFlight_.end()) {
      return RecordEnds(std::span(&smsId, 1), fate, at, ReferenceText(references), reason,
                        attempts);
    }
    std::vector<int> all = it->second.sms.references;
    all.resize(it->second.earlier);
    all.insert(all.end(), references.begin(), references.end());
    const std::vector<std::uint64_t> carried = std::move(it->second.sms.carried);
    inFlight_.erase(it);
    return RecordEnds(carried, fate, at, fate == OutboxFate::kSent ? ReferenceText(all) : "",
                      reason, attempts);
  } catch (...) {
    return false;
  }
}

std::vector<int> OutboxJournal::EarlierReferences(std::uint64_t smsId) const {
  std::lock_guard lock(mutex_);
  auto it = inFlight_.find(smsId);
  if (it == inFlight_.end()) return {};
  const std::vector<int>& all = it->second.sms.references;
  return std::vector<int>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(
                                                         std::min(it->second.earlier, all.size())));
}

bool OutboxJournal::Compact() noexcept {
  try {
    std::string payload;
    payload.push_back(static_cast<char>(kHeaderRecord));
    PutU64(payload, nextId_);
    std::string bytes = Frame(payload);
    for (const auto& [id, message] : waiting_)
      bytes += QueuedRecord(message);
    // The progress of an SMS in the modem is kept too: its messages are among those waiting.
    for (const auto& [smsId, flight] : inFlight_) {
      if (!flight.sms.references.empty()) bytes += ProgressRecord(flight.sms);
    }
    std::string error;
    file_.Close();
    // The new file replaces the old one in one rename: a crash leaves one or the other whole.
    if (!platform::ReplaceFile(path_, bytes, error)) {
      writeProblem_ = error;
      // Go on appending to the old file; it still says everything.
      file_.Open(path_, error);
      return false;
    }
    endedSinceCompaction_ = 0;
    if (!file_.Open(path_, error)) {
      writeProblem_ = error;
      return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace pagorin

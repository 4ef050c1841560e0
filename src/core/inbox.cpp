#include "core/inbox.h"

#include <algorithm>

#include "core/journal_frame.h"
#include "core/outbox.h"
#include "platform/file_io.h"
#include "platform/tick.h"

namespace pagorin {
namespace {

using namespace journal;

enum InboxRecord : std::uint8_t { kPartRecord = 1, kWrittenRecord = 2, kSeenRecord = 3 };

std::string PartRecord(std::uint64_t sequence, std::int64_t at, std::string_view number,
                       std::string_view pdu) {
  std::string payload;
  payload.push_back(static_cast<char>(kPartRecord));
  PutU64(payload, sequence);
  PutU64(payload, static_cast<std::uint64_t>(at));
  PutText(payload, number);
  PutText(payload, pdu);
  return Frame(payload);
}

std::string WrittenRecord(const std::vector<std::uint64_t>& sequences) {
  std::string payload;
  payload.push_back(static_cast<char>(kWrittenRecord));
  PutU32(payload, static_cast<std::uint32_t>(sequences.size()));
  for (std::uint64_t sequence : sequences)
    PutU64(payload, sequence);
  return Frame(payload);
}

std::string SeenRecord(std::string_view key) {
  std::string payload;
  payload.push_back(static_cast<char>(kSeenRecord));
  PutText(payload, key);
  return Frame(payload);
}

std::string UndecodedKey(std::string_view pdu) {
  return "?|" + std::string(pdu);
}

// The join key: parts of one message share sender, reference and total; a single part is a
// message of its own under its own key.
std::string JoinKey(const SmsDeliver& part, const std::string& partKey) {
  if (!part.concatenation || part.concatenation->total < 2) return "1|" + partKey;
  return "n|" + part.originator.number + "|" + std::to_string(part.concatenation->reference) + "|" +
         std::to_string(part.concatenation->total);
}

}  // namespace

std::string Inbox::PartKey(const SmsDeliver& part) {
  std::string key = part.originator.number;
  key += '|';
  key += Utf16ToCp936(part.originator.name);
  key += '|';
  if (part.serviceCentreTime) key += std::to_string(part.serviceCentreTime->utcSeconds);
  key += '|';
  if (part.concatenation) {
    key += std::to_string(part.concatenation->reference) + "/" +
           std::to_string(part.concatenation->sequence) + "/" +
           std::to_string(part.concatenation->total);
  }
  key += '|';
  for (char16_t c : part.text) {
    key.push_back(static_cast<char>(c & 0xFF));
    key.push_back(static_cast<char>(c >> 8));
  }
  return key;
}

std::string Inbox::UndecodedText(std::string_view pdu) {
  return "PDU " + std::string(pdu);
}

bool Inbox::Open(const std::string& path) noexcept {
  Close();
  std::lock_guard lock(mutex_);
  try {
    path_ = path;
    recorded_.clear();
    unwritten_.clear();
    seen_.clear();
    seenOrder_.clear();
    taken_.clear();
    joining_.clear();
    recovered_.clear();
    std::string bytes, error;
    if (!platform::ReadWholeFile(path, bytes, error)) bytes.clear();
    struct Part {
      std::int64_t at = 0;
      std::string pdu;
    };
    std::map<std::uint64_t, Part> parts;
    std::set<std::uint64_t> written;
    ScanRecords(bytes, [&](std::string_view payload) {
      PayloadReader reader(payload);
      const std::uint8_t type = reader.U8();
      if (type == kPartRecord) {
        const std::uint64_t sequence = reader.U64();
        Part part;
        part.at = reader.I64();
        (void)reader.Text();  // the sender, for a reader of the file; the PDU has it too
        part.pdu = reader.Text();
        if (!reader.ok) return;
        nextSequence_ = std::max(nextSequence_, sequence + 1);
        parts[sequence] = std::move(part);
      } else if (type == kWrittenRecord) {
        const std::uint64_t count = reader.U64(4);
        for (std::uint64_t i = 0; i < count && reader.ok; ++i)
          written.insert(reader.U64());
      } else if (type == kSeenRecord) {
        std::string key = reader.Text();
        if (reader.ok) Seen(key);
      }
    });
    // Written parts count as seen; the others are taken back, each once.
    std::vector<ReceivedMessage> done;
    for (auto& [sequence, part] : parts) {
      const DecodedPdu decoded = DecodeIncomingPdu(part.pdu);
      const SmsDeliver* deliver = std::get_if<SmsDeliver>(&decoded.message);
      const std::string key = deliver != nullptr ? PartKey(*deliver) : UndecodedKey(part.pdu);
      if (written.contains(sequence)) {
        Seen(key);
        continue;
      }
      if (seen_.contains(key) || recorded_.contains(key)) continue;
      recorded_[key] = sequence;
      unwritten_[sequence] = key;
      if (deliver != nullptr) {
        TakeLocked(*deliver, part.at, sequence, done);
      } else {
        taken_.insert(key);
        done.push_back({part.at, std::nullopt, {}, UndecodedText(part.pdu), false, {sequence}});
      }
    }
    for (ReceivedMessage& message : done)
      recovered_.push_back(std::move(message));
    // Rewritten with what is still to be written and the seen keys, so that the file never
    // grows without end.
    CompactLocked();
    return file_.IsOpen();
  } catch (...) {
    return false;
  }
}

void Inbox::Close() noexcept {
  std::lock_guard lock(mutex_);
  file_.Close();
}

std::size_t Inbox::PendingParts() const noexcept {
  std::lock_guard lock(mutex_);
  return unwritten_.size();
}

bool Inbox::WriteSynced(const std::string& records) noexcept {
  if (!file_.IsOpen()) return false;
  std::string error;
  if (!file_.Append(records, error) || !file_.Sync(error)) return false;
  fileBytes_ += records.size();
  return true;
}

void Inbox::Seen(const std::string& key) {
  if (!seen_.insert(key).second) return;
  seenOrder_.push_back(key);
  if (seenOrder_.size() > kSeenKeys) {
    seen_.erase(seenOrder_.front());
    seenOrder_.erase(seenOrder_.begin());
  }
}

bool Inbox::RecordLocked(std::string key, std::string_view number, std::string_view pdu,
                         std::int64_t receivedAt) noexcept {
  try {
    // Read again: it is on the disk already, or in the received record.
    if (recorded_.contains(key) || seen_.contains(key)) return true;
    const std::uint64_t sequence = nextSequence_;
    if (!WriteSynced(PartRecord(sequence, receivedAt, number, pdu))) return false;
    ++nextSequence_;
    unwritten_[sequence] = key;
    recorded_[std::move(key)] = sequence;
    return true;
  } catch (...) {
    return false;
  }
}

bool Inbox::Record(const SmsDeliver& part, std::string_view pdu, std::int64_t receivedAt) noexcept {
  std::lock_guard lock(mutex_);
  try {
    const std::string number = part.originator.number.empty() ? Utf16ToCp936(part.originator.name)
                                                              : part.originator.number;
    return RecordLocked(PartKey(part), number, pdu, receivedAt);
  } catch (...) {
    return false;
  }
}

bool Inbox::RecordUndecoded(std::string_view pdu, std::int64_t receivedAt) noexcept {
  std::lock_guard lock(mutex_);
  try {
    return RecordLocked(UndecodedKey(pdu), {}, pdu, receivedAt);
  } catch (...) {
    return false;
  }
}

void Inbox::Take(const SmsDeliver& part, std::int64_t receivedAt,
                 std::vector<ReceivedMessage>& done) {
  std::lock_guard lock(mutex_);
  std::uint64_t sequence = 0;
  if (auto it = recorded_.find(PartKey(part)); it != recorded_.end()) sequence = it->second;
  TakeLocked(part, receivedAt, sequence, done);
}

void Inbox::TakeUndecoded(std::string_view pdu, std::int64_t receivedAt,
                          std::vector<ReceivedMessage>& done) {
  std::lock_guard lock(mutex_);
  std::string key = UndecodedKey(pdu);
  if (taken_.contains(key) || seen_.contains(key)) return;
  ReceivedMessage message{receivedAt, std::nullopt, {}, UndecodedText(pdu), false, {}};
  if (auto it = recorded_.find(key); it != recorded_.end()) message.parts.push_back(it->second);
  taken_.insert(std::move(key));
  done.push_back(std::move(message));
}

bool Inbox::TakeLocked(const SmsDeliver& part, std::int64_t receivedAt, std::uint64_t sequence,
                       std::vector<ReceivedMessage>& done) {
  std::string key = PartKey(part);
  if (taken_.contains(key) || seen_.contains(key)) return false;
  taken_.insert(key);
  const std::string joinKey = JoinKey(part, key);
  Joining& joining = joining_[joinKey];
  if (joining.parts.empty() && joining.texts.empty()) {
    joining.number = part.originator.number.empty() ? Utf16ToCp936(part.originator.name)
                                                    : part.originator.number;
    joining.receivedAt = receivedAt;
    if (part.serviceCentreTime) joining.centreTime = part.serviceCentreTime->utcSeconds;
    joining.total = part.concatenation ? std::max(part.concatenation->total, 1) : 1;
    joining.firstTick = platform::TickCount();
  }
  const int position = part.concatenation ? part.concatenation->sequence : 1;
  joining.texts[position] = part.text;
  if (sequence != 0) joining.parts.push_back(sequence);
  if (static_cast<int>(joining.texts.size()) >= joining.total) {
    done.push_back(Finish(joining, true));
    joining_.erase(joinKey);
  } else if (joining_.size() > kMaxJoining) {
    auto oldest = std::min_element(joining_.begin(), joining_.end(), [](auto& a, auto& b) {
      return a.second.firstTick < b.second.firstTick;
    });
    done.push_back(Finish(oldest->second, false));
    joining_.erase(oldest);
  }
  return true;
}

ReceivedMessage Inbox::Finish(Joining& joining, bool complete) {
  ReceivedMessage message;
  message.receivedAt = joining.receivedAt;
  message.centreTime = joining.centreTime;
  message.number = std::move(joining.number);
  std::u16string text;
  for (const auto& [position, piece] : joining.texts)
    text += piece;
  message.text = Utf16ToCp936(text);
  message.complete = complete;
  message.parts = std::move(joining.parts);
  return message;
}

void Inbox::Poll(std::vector<ReceivedMessage>& done) {
  std::lock_guard lock(mutex_);
  for (ReceivedMessage& message : recovered_)
    done.push_back(std::move(message));
  recovered_.clear();
  const std::uint32_t now = platform::TickCount();
  for (auto it = joining_.begin(); it != joining_.end();) {
    if (now - it->second.firstTick >= kJoinTimeoutMs) {
      done.push_back(Finish(it->second, false));
      it = joining_.erase(it);
    } else {
      ++it;
    }
  }
}

void Inbox::Written(const ReceivedMessage& message) noexcept {
  std::lock_guard lock(mutex_);
  try {
    if (message.parts.empty()) return;
    std::string records = WrittenRecord(message.parts);
    for (std::uint64_t sequence : message.parts) {
      auto it = unwritten_.find(sequence);
      if (it == unwritten_.end()) continue;
      records += SeenRecord(it->second);
      Seen(it->second);
      taken_.erase(it->second);
      recorded_.erase(it->second);
      unwritten_.erase(it);
    }
    WriteSynced(records);
    if (unwritten_.empty() && fileBytes_ > kCompactBytes) CompactLocked();
  } catch (...) {
  }
}

void Inbox::CompactLocked() noexcept {
  try {
    std::string bytes, error;
    if (!platform::ReadWholeFile(path_, bytes, error)) bytes.clear();
    // What is still to be written keeps its records; the seen keys follow, the marks go.
    std::string kept;
    ScanRecords(bytes, [&](std::string_view payload) {
      PayloadReader reader(payload);
      if (reader.U8() != kPartRecord) return;
      const std::uint64_t sequence = reader.U64();
      if (reader.ok && unwritten_.contains(sequence)) kept += Frame(payload);
    });
    for (const std::string& key : seenOrder_)
      kept += SeenRecord(key);
    file_.Close();
    if (platform::ReplaceFile(path_, kept, error)) fileBytes_ = kept.size();
    file_.Open(path_, error);
  } catch (...) {
  }
}

}  // namespace pagorin

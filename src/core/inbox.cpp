#include "core/inbox.h"

#include <algorithm>

#include "core/journal_frame.h"
#include "core/outbox.h"
#include "platform/file_io.h"
#include "platform/tick.h"

namespace pagorin {
namespace {

using namespace journal;

enum InboxRecord : std::uint8_t { kPartRecord = 1, kWrittenRecord = 2 };

// Recent keys kept after their message was written, for a part read again later.
constexpr std::size_t kRecentKeys = 64;

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

bool Inbox::Open(const std::string& path) noexcept {
  Close();
  std::lock_guard lock(mutex_);
  try {
    path_ = path;
    std::string bytes, error;
    if (!platform::ReadWholeFile(path, bytes, error)) bytes.clear();
    struct Part {
      std::int64_t at = 0;
      std::string pdu;
    };
    std::map<std::uint64_t, Part> parts;
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
          parts.erase(reader.U64());
      }
    });
    std::vector<ReceivedMessage> done;
    for (auto& [sequence, part] : parts) {
      const DecodedPdu decoded = DecodeIncomingPdu(part.pdu);
      const SmsDeliver* deliver = std::get_if<SmsDeliver>(&decoded.message);
      if (deliver == nullptr) continue;
      const std::string key = PartKey(*deliver);
      if (recorded_.contains(key)) continue;
      recorded_[key] = sequence;
      unwritten_[sequence] = key;
      TakeLocked(*deliver, part.at, sequence, done);
    }
    for (ReceivedMessage& message : done)
      recovered_.push_back(std::move(message));
    // Rewritten with what is still to be written, so that the file never grows without end.
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
  return file_.Append(records, error) && file_.Sync(error);
}

bool Inbox::Record(const SmsDeliver& part, std::string_view pdu, std::int64_t receivedAt) noexcept {
  std::lock_guard lock(mutex_);
  try {
    std::string key = PartKey(part);
    if (recorded_.contains(key)) return true;  // read again: it is on the disk already
    const std::uint64_t sequence = nextSequence_;
    std::string number = part.originator.number.empty() ? Utf16ToCp936(part.originator.name)
                                                        : part.originator.number;
    if (!WriteSynced(PartRecord(sequence, receivedAt, number, pdu))) return false;
    ++nextSequence_;
    unwritten_[sequence] = key;
    recorded_[std::move(key)] = sequence;
    return true;
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

bool Inbox::TakeLocked(const SmsDeliver& part, std::int64_t receivedAt, std::uint64_t sequence,
                       std::vector<ReceivedMessage>& done) {
  std::string key = PartKey(part);
  if (taken_.contains(key)) return false;
  taken_.insert(key);
  recentTaken_.push_back(key);
  if (recentTaken_.size() > kRecentKeys + kMaxJoining * 4) {
    // Only keys of parts that are neither joining nor in the journal are forgotten.
    const std::string oldest = recentTaken_.front();
    recentTaken_.erase(recentTaken_.begin());
    bool inUse = false;
    for (const auto& [seq, unwrittenKey] : unwritten_)
      inUse = inUse || unwrittenKey == oldest;
    if (!inUse) taken_.erase(oldest);
  }
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
    WriteSynced(WrittenRecord(message.parts));
    for (std::uint64_t sequence : message.parts)
      unwritten_.erase(sequence);
    if (unwritten_.empty()) CompactLocked();
  } catch (...) {
  }
}

void Inbox::CompactLocked() noexcept {
  try {
    std::string bytes, error;
    if (!platform::ReadWholeFile(path_, bytes, error)) bytes.clear();
    // What is still to be written keeps its records; the marks of the rest go with them.
    std::string kept;
    ScanRecords(bytes, [&](std::string_view payload) {
      PayloadReader reader(payload);
      if (reader.U8() != kPartRecord) return;
      const std::uint64_t sequence = reader.U64();
      if (reader.ok && unwritten_.contains(sequence)) kept += Frame(payload);
    });
    file_.Close();
    if (!platform::ReplaceFile(path_, kept, error)) {
      file_.Open(path_, error);
      return;
    }
    // Parts written to the record are forgotten by the journal; a recent few still count as
    // taken on the host's side.
    for (auto it = recorded_.begin(); it != recorded_.end();) {
      it = unwritten_.contains(it->second) ? std::next(it) : recorded_.erase(it);
    }
    file_.Open(path_, error);
  } catch (...) {
  }
}

}  // namespace pagorin

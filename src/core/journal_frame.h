// The framing that the module's journals share (the outbox journal, the inbox journal): records
// of "PgOb", the payload length (u32 LE), the payload and the CRC-32 of length and payload, with
// the bounded writers and readers of the payloads' fields. A scan skips damage (it looks for the
// next record that checks out) and a torn tail, in time linear in the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pagorin::journal {

inline void PutU32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<char>((value >> shift) & 0xFFu));
}

inline void PutU64(std::string& out, std::uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8)
    out.push_back(static_cast<char>((value >> shift) & 0xFFu));
}

inline void PutText(std::string& out, std::string_view text) {
  PutU32(out, static_cast<std::uint32_t>(text.size()));
  out.append(text);
}

inline std::uint32_t GetU32(std::string_view bytes, std::size_t at) noexcept {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return value;
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

// `payload` framed as one record. Throws only std::bad_alloc.
std::string Frame(std::string_view payload);

// What a scan skipped.
struct ScanDamage {
  std::size_t records = 0;  // damaged records skipped in the middle
  std::size_t bytes = 0;    // bytes skipped with them and with a torn tail
  bool tail = false;        // the bytes ended in an incomplete or damaged record
};

// Calls `each` with the payload of every record that checks out, in file order. Throws only
// what `each` throws and std::bad_alloc.
ScanDamage ScanRecords(std::string_view bytes,
                       const std::function<void(std::string_view payload)>& each);

}  // namespace pagorin::journal

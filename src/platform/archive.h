// The binary forms of the two value kinds the plug-in puts in the host's project archive, and an
// archive over bytes in memory.
//
// Forms, little-endian:
//   int32   4 bytes, two's complement.
//   string  single-byte text: length L, then L bytes, no terminator. L < 255 takes one byte;
//           L < 0xFFFE takes 0xFF and a 16-bit L; anything longer 0xFF, 0xFFFF and a 32-bit L.
//           A 16-bit length of 0xFFFE marks a wide-character string, which this form never holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/archive.h"

namespace pagorin {

// An archive over bytes in memory: empty and storing, or loading from given bytes.
class MemoryArchive final : public Archive {
 public:
  MemoryArchive() = default;
  explicit MemoryArchive(std::string bytes) : bytes_(std::move(bytes)), storing_(false) {}

  bool IsStoring() const noexcept override { return storing_; }
  bool Write(const void* data, std::size_t size) noexcept override {
    if (!storing_) return false;
    try {
      bytes_.append(static_cast<const char*>(data), size);
    } catch (...) {
      return false;
    }
    return true;
  }
  std::size_t Read(void* data, std::size_t size) noexcept override {
    if (storing_) return 0;
    std::size_t count = std::min(size, bytes_.size() - readPos_);
    std::copy_n(bytes_.data() + readPos_, count, static_cast<char*>(data));
    readPos_ += count;
    return count;
  }

  const std::string& Bytes() const noexcept { return bytes_; }
  // Bytes of a loading archive that nobody read yet.
  std::size_t Unread() const noexcept { return bytes_.size() - readPos_; }

 private:
  std::string bytes_;
  std::size_t readPos_ = 0;
  bool storing_ = true;
};

namespace archive {

inline bool WriteInt32(Archive& ar, std::int32_t value) noexcept {
  auto u = static_cast<std::uint32_t>(value);
  unsigned char bytes[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                            static_cast<unsigned char>(u >> 16),
                            static_cast<unsigned char>(u >> 24)};
  return ar.Write(bytes, 4);
}

inline bool ReadUInt(Archive& ar, std::size_t width, std::uint32_t& value) noexcept {
  unsigned char bytes[4] = {};
  if (ar.Read(bytes, width) != width) return false;
  value = 0;
  for (std::size_t i = width; i-- > 0;)
    value = (value << 8) | bytes[i];
  return true;
}

// False at the end of the archive; `value` is then unchanged.
inline bool ReadInt32(Archive& ar, std::int32_t& value) noexcept {
  std::uint32_t u = 0;
  if (!ReadUInt(ar, 4, u)) return false;
  value = static_cast<std::int32_t>(u);
  return true;
}

// False when the text is longer than the form can say (4 GiB) or the medium refuses it.
inline bool WriteString(Archive& ar, std::string_view text) noexcept {
  std::size_t length = text.size();
  unsigned char prefix[7];
  std::size_t prefixLength = 0;
  if (length < 0xFF) {
    prefix[prefixLength++] = static_cast<unsigned char>(length);
  } else {
    prefix[prefixLength++] = 0xFF;
    if (length < 0xFFFE) {
      prefix[prefixLength++] = static_cast<unsigned char>(length);
      prefix[prefixLength++] = static_cast<unsigned char>(length >> 8);
    } else {
      if (length > 0xFFFFFFFFu) return false;
      prefix[prefixLength++] = 0xFF;
      prefix[prefixLength++] = 0xFF;
      for (int shift = 0; shift < 32; shift += 8) {
        prefix[prefixLength++] = static_cast<unsigned char>(length >> shift);
      }
    }
  }
  return ar.Write(prefix, prefixLength) && (length == 0 || ar.Write(text.data(), length));
}

// Reads one single-byte string. False for a truncated archive or a wide-string marker; `text` is
// then unchanged. Reads in bounded chunks, so a length that lies costs no more memory than the
// bytes that are really there.
inline bool ReadString(Archive& ar, std::string& text) noexcept {
  std::uint32_t length = 0;
  if (!ReadUInt(ar, 1, length)) return false;
  if (length == 0xFF) {
    if (!ReadUInt(ar, 2, length)) return false;
    if (length == 0xFFFE) return false;
    if (length == 0xFFFF && !ReadUInt(ar, 4, length)) return false;
  }
  try {
    std::string result;
    char chunk[16384];
    std::size_t left = length;
    while (left > 0) {
      std::size_t want = std::min(left, sizeof chunk);
      std::size_t got = ar.Read(chunk, want);
      result.append(chunk, got);
      if (got != want) return false;
      left -= got;
    }
    text.swap(result);
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace archive
}  // namespace pagorin

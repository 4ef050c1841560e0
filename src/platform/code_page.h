// Code page 936 (Simplified Chinese) services: the lead-byte test and the few conversions the
// module makes. Every text inside the module is code page 936 bytes; a byte from 0x81 to 0xFE
// starts a two-byte character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pagorin::platform {

// True when `byte` starts a two-byte character of code page 936.
constexpr bool IsLeadByte(unsigned char byte) noexcept {
  return byte >= 0x81 && byte <= 0xFE;
}
constexpr bool IsLeadByte(char byte) noexcept {
  return IsLeadByte(static_cast<unsigned char>(byte));
}

// Byte length of the character that starts at `pos`: 2 for a lead byte followed by another byte,
// else 1. `pos` must be below text.size().
constexpr std::size_t CharLength(std::string_view text, std::size_t pos) noexcept {
  return (IsLeadByte(text[pos]) && pos + 1 < text.size()) ? 2 : 1;
}

// Code page 936 to UTF-16, as the system's multibyte-to-wide conversion does it. A byte that
// starts no valid character becomes U+FFFD and the conversion goes on with the next byte.
// Throws only std::bad_alloc.
std::u16string Cp936ToUtf16(std::string_view text);

// UTF-16 to code page 936 (what a received PDU decodes to). A character the code page cannot
// hold, and a surrogate without its pair, become '?'. Throws only std::bad_alloc.
std::string Utf16ToCp936(std::u16string_view units);

// UTF-8 to code page 936 (the string table's source form). A character that code page 936 cannot
// hold becomes '?'; an invalid UTF-8 byte is skipped. Throws only std::bad_alloc.
std::string Utf8ToCp936(std::string_view text);

// Code page 936 to UTF-8 for terminal output and logs. Invalid bytes become U+FFFD.
// Throws only std::bad_alloc.
std::string Cp936ToUtf8(std::string_view text);

}  // namespace pagorin::platform

// Text conversions of the modem simulator: the GSM 7-bit default alphabet (basic character set
// and its extension table), UTF-16 and Latin-1 to UTF-8. Everything is pure and never throws
// except std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pagorin::sim {

// Appends `codePoint` to `out` as UTF-8; anything that is not a Unicode scalar value becomes
// U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

// Unpacks `count` septets from `octets`, the first septet in the low bits of the first octet.
// Septets that lie beyond the octets are not produced.
std::vector<std::uint8_t> UnpackSeptets(const std::vector<std::uint8_t>& octets, std::size_t count);

// GSM 7-bit default alphabet septets to UTF-8. An escape (0x1B) selects the extension table for
// the next septet; an extension code without a character shows the basic character of that
// code, and a trailing escape shows nothing.
std::string GsmSeptetsToUtf8(const std::vector<std::uint8_t>& septets);

// UTF-16 big-endian octets to UTF-8. Surrogate pairs are joined; a lone surrogate and a dangling
// odd octet become U+FFFD.
std::string Utf16BeToUtf8(const std::uint8_t* octets, std::size_t count);

// Latin-1 bytes to UTF-8 (how 8-bit data is shown).
std::string Latin1ToUtf8(const std::uint8_t* octets, std::size_t count);

// True when `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// The code points of UTF-8 `text`; a malformed sequence becomes U+FFFD.
std::u32string Utf8ToCodePoints(std::string_view text);

// The septets that stand for `codePoint` in the GSM 7-bit default alphabet: one of the basic
// set, or an escape and one of the extension table; empty when the alphabet lacks it.
std::vector<std::uint8_t> GsmSeptetsOf(char32_t codePoint);

// Packs septets into octets, the first septet in the low bits, after `fillBits` (0 to 6) zero
// bits that align the text behind a user data header.
std::vector<std::uint8_t> PackSeptets(const std::vector<std::uint8_t>& septets, unsigned fillBits);

// `codePoint` appended as UTF-16 big-endian (a surrogate pair beyond the basic plane).
void AppendUtf16Be(std::vector<std::uint8_t>& out, char32_t codePoint);

}  // namespace pagorin::sim

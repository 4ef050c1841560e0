// Code page conversions through the system's own tables (MultiByteToWideChar and
// WideCharToMultiByte with code page 936), whatever the process's ANSI code page is.
#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "platform/code_page.h"

namespace pagorin::platform {
namespace {

constexpr UINT kCodePage936 = 936;
constexpr char16_t kReplacement = u'\uFFFD';

int ClampedLength(std::size_t size) noexcept {
  return static_cast<int>(std::min<std::size_t>(size, 0x3FFFFFFF));
}

// Converts one character of one or two bytes; false when the system rejects it.
bool ConvertOne(const char* bytes, int length, char16_t& unit) noexcept {
  wchar_t wide[2] = {};
  int n = MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, bytes, length, wide, 2);
  if (n != 1) return false;
  unit = static_cast<char16_t>(wide[0]);
  return true;
}

// UTF-16 to code page 936 for text known to be well-formed UTF-16; characters the code page
// lacks become '?'.
std::string WellFormedUtf16ToCp936(std::u16string_view units) {
  if (units.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
  const int length = ClampedLength(units.size());
  int size = WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, "?",
                                 nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  if (size > 0) {
    WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, wide, length, out.data(), size, "?",
                        nullptr);
  }
  return out;
}

}  // namespace

std::u16string Cp936ToUtf16(std::string_view text) {
  std::u16string out;
  if (text.empty()) return out;
  // Well-formed text, the usual case, goes through in one call.
  const int length = ClampedLength(text.size());
  if (static_cast<std::size_t>(length) == text.size()) {
    int size =
        MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (size > 0) {
      out.resize(static_cast<std::size_t>(size));
      MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, text.data(), length,
                          reinterpret_cast<wchar_t*>(out.data()), size);
      return out;
    }
  }
  // Otherwise character by character: a byte that starts no valid character becomes U+FFFD and
  // the conversion goes on with the next byte.
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {
      out += static_cast<char16_t>(byte);
      ++pos;
      continue;
    }
    char16_t unit = 0;
    if (IsLeadByte(byte) && pos + 1 < text.size() && ConvertOne(text.data() + pos, 2, unit)) {
      out += unit;
      pos += 2;
    } else if (!IsLeadByte(byte) && ConvertOne(text.data() + pos, 1, unit)) {
      out += unit;
      ++pos;
    } else {
      out += kReplacement;
      ++pos;
    }
  }
  return out;
}

std::string Utf8ToCp936(std::string_view text) {
  // Decoded here rather than by the system, so that a stray byte is skipped, not replaced.
  std::u16string units;
  units.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = lead < 0x80                   ? 1
                         : lead >= 0xF0 && lead < 0xF5 ? 4
                         : lead >= 0xE0                ? 3
                         : lead >= 0xC2                ? 2
                                                       : 0;
    if (length == 0 || lead >= 0xF5) {
      ++pos;  // a continuation byte or a byte that never starts a character
      continue;
    }
    std::uint32_t code = length == 1   ? lead
                         : length == 2 ? (lead & 0x1Fu)
                         : length == 3 ? (lead & 0x0Fu)
                                       : (lead & 0x07u);
    std::size_t valid = 1;
    while (valid < length && pos + valid < text.size() &&
           (static_cast<unsigned char>(text[pos + valid]) & 0xC0) == 0x80) {
      code = (code << 6) | (static_cast<unsigned char>(text[pos + valid]) & 0x3Fu);
      ++valid;
    }
    pos += valid;
    if (valid < length) continue;  // cut short: dropped whole
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) continue;
    // Code page 936 has nothing beyond the basic plane; such a character becomes one '?'.
    units += static_cast<char16_t>(code >= 0x10000 ? 0xFFFDu : code);
  }
  return WellFormedUtf16ToCp936(units);
}

std::string Utf16ToCp936(std::u16string_view units) {
  std::u16string whole(units);
  for (std::size_t i = 0; i < whole.size(); ++i) {
    const char16_t c = whole[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < whole.size() && whole[i + 1] >= 0xDC00 &&
        whole[i + 1] <= 0xDFFF) {
      ++i;  // a pair: the code page has no such character, the conversion writes '?'
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      whole[i] = u'?';
    }
  }
  return WellFormedUtf16ToCp936(whole);
}

std::string Cp936ToUtf8(std::string_view text) {
  const std::u16string units = Cp936ToUtf16(text);
  if (units.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
  const int length = ClampedLength(units.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide, length, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace pagorin::platform

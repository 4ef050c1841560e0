#include "gsm_text.h"

#include <array>

namespace pagorin::sim {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::uint8_t kEscape = 0x1B;

// The basic character set; the escape position holds a placeholder that is never shown.
constexpr std::array<char32_t, 128> kBasic = {
    0x0040, 0x00A3, 0x0024, 0x00A5, 0x00E8, 0x00E9, 0x00F9, 0x00EC,  // 0x00
    0x00F2, 0x00C7, 0x000A, 0x00D8, 0x00F8, 0x000D, 0x00C5, 0x00E5,  // 0x08
    0x0394, 0x005F, 0x03A6, 0x0393, 0x039B, 0x03A9, 0x03A0, 0x03A8,  // 0x10
    0x03A3, 0x0398, 0x039E, 0x00A0, 0x00C6, 0x00E6, 0x00DF, 0x00C9,  // 0x18
    0x0020, 0x0021, 0x0022, 0x0023, 0x00A4, 0x0025, 0x0026, 0x0027,  // 0x20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 0x28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 0x30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 0x38
    0x00A1, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 0x40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 0x48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 0x50
    0x0058, 0x0059, 0x005A, 0x00C4, 0x00D6, 0x00D1, 0x00DC, 0x00A7,  // 0x58
    0x00BF, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 0x60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 0x68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 0x70
    0x0078, 0x0079, 0x007A, 0x00E4, 0x00F6, 0x00F1, 0x00FC, 0x00E0,  // 0x78
};

// The extension table; 0 marks a code without a character of its own.
constexpr std::array<char32_t, 128> MakeExtension() {
  std::array<char32_t, 128> table{};
  table[0x0A] = 0x000C;  // form feed (page break)
  table[0x14] = U'^';
  table[0x1B] = U' ';  // reserved for a further table: shown as a space
  table[0x28] = U'{';
  table[0x29] = U'}';
  table[0x2F] = U'\\';
  table[0x3C] = U'[';
  table[0x3D] = U'~';
  table[0x3E] = U']';
  table[0x40] = U'|';
  table[0x65] = 0x20AC;  // euro sign
  return table;
}
constexpr std::array<char32_t, 128> kExtension = MakeExtension();

}  // namespace

void AppendUtf8(std::string& out, char32_t codePoint) {
  if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    codePoint = kReplacement;
  }
  auto put = [&out](std::uint32_t byte) { out.push_back(static_cast<char>(byte & 0xFF)); };
  std::uint32_t c = codePoint;
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | (c >> 6));
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | (c >> 12));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | (c >> 18));
    put(0x80 | ((c >> 12) & 0x3F));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  }
}

std::vector<std::uint8_t> UnpackSeptets(const std::vector<std::uint8_t>& octets,
                                        std::size_t count) {
  std::vector<std::uint8_t> septets;
  septets.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t bit = i * 7;
    std::size_t index = bit / 8;
    unsigned shift = static_cast<unsigned>(bit % 8);
    if (index >= octets.size()) break;
    unsigned value = static_cast<unsigned>(octets[index]) >> shift;
    if (shift > 1) {
      // The septet continues in the next octet; a missing octet means the data ends here.
      if (index + 1 >= octets.size()) break;
      value |= static_cast<unsigned>(octets[index + 1]) << (8 - shift);
    }
    septets.push_back(static_cast<std::uint8_t>(value & 0x7F));
  }
  return septets;
}

std::string GsmSeptetsToUtf8(const std::vector<std::uint8_t>& septets) {
  std::string out;
  for (std::size_t i = 0; i < septets.size(); ++i) {
    std::uint8_t code = septets[i] & 0x7F;
    if (code != kEscape) {
      AppendUtf8(out, kBasic[code]);
      continue;
    }
    if (i + 1 >= septets.size()) break;
    std::uint8_t next = septets[++i] & 0x7F;
    char32_t extended = kExtension[next];
    AppendUtf8(out, extended != 0 ? extended : kBasic[next]);
  }
  return out;
}

std::string Utf16BeToUtf8(const std::uint8_t* octets, std::size_t count) {
  std::string out;
  std::size_t units = count / 2;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t unit = static_cast<char32_t>(octets[2 * i] << 8 | octets[2 * i + 1]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
      char32_t low = static_cast<char32_t>(octets[2 * i + 2] << 8 | octets[2 * i + 3]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, unit);  // a lone surrogate turns into U+FFFD here
  }
  if (count % 2 != 0) AppendUtf8(out, kReplacement);
  return out;
}

std::string Latin1ToUtf8(const std::uint8_t* octets, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i)
    AppendUtf8(out, octets[i]);
  return out;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80                    ? 1
                         : byte >= 0xF0 && byte <= 0xF4 ? 4
                         : byte >= 0xE0                 ? 3
                         : byte >= 0xC2 && byte < 0xE0  ? 2
                                                        : 0;
    if (length == 0 || i + length > text.size()) return false;
    char32_t c = length == 1   ? byte
                 : length == 2 ? (byte & 0x1F)
                 : length == 3 ? (byte & 0x0F)
                               : (byte & 0x07);
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

std::u32string Utf8ToCodePoints(std::string_view text) {
  std::u32string out;
  std::size_t i = 0;
  while (i < text.size()) {
    // The longest well-formed prefix decides; anything else costs one byte and one U+FFFD.
    std::size_t length = 0;
    for (std::size_t n = 1; n <= 4 && i + n <= text.size(); ++n) {
      if (IsValidUtf8(text.substr(i, n))) {
        length = n;
        break;
      }
    }
    if (length == 0) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    auto byte = static_cast<unsigned char>(text[i]);
    char32_t c = length == 1   ? byte
                 : length == 2 ? (byte & 0x1F)
                 : length == 3 ? (byte & 0x0F)
                               : (byte & 0x07);
    for (std::size_t k = 1; k < length; ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(c);
    i += length;
  }
  return out;
}

std::vector<std::uint8_t> GsmSeptetsOf(char32_t codePoint) {
  for (std::size_t code = 0; code < kBasic.size(); ++code) {
    if (code != kEscape && kBasic[code] == codePoint) return {static_cast<std::uint8_t>(code)};
  }
  for (std::size_t code = 0; code < kExtension.size(); ++code) {
    // 0x1B is the escape to a further table, not a character of this one.
    if (code != kEscape && kExtension[code] != 0 && kExtension[code] == codePoint) {
      return {kEscape, static_cast<std::uint8_t>(code)};
    }
  }
  return {};
}

std::vector<std::uint8_t> PackSeptets(const std::vector<std::uint8_t>& septets, unsigned fillBits) {
  std::size_t bits = fillBits + septets.size() * 7;
  std::vector<std::uint8_t> octets((bits + 7) / 8, 0);
  for (std::size_t i = 0; i < septets.size(); ++i) {
    std::size_t bit = fillBits + i * 7;
    unsigned value = septets[i] & 0x7Fu;
    unsigned shift = static_cast<unsigned>(bit % 8);
    octets[bit / 8] = static_cast<std::uint8_t>(octets[bit / 8] | ((value << shift) & 0xFFu));
    if (shift > 1) {
      octets[bit / 8 + 1] = static_cast<std::uint8_t>(octets[bit / 8 + 1] | (value >> (8 - shift)));
    }
  }
  return octets;
}

void AppendUtf16Be(std::vector<std::uint8_t>& out, char32_t codePoint) {
  auto unit = [&out](std::uint32_t u) {
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
  };
  if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    codePoint = kReplacement;
  }
  if (codePoint < 0x10000) {
    unit(codePoint);
    return;
  }
  std::uint32_t v = codePoint - 0x10000;
  unit(0xD800 + (v >> 10));
  unit(0xDC00 + (v & 0x3FF));
}

}  // namespace pagorin::sim

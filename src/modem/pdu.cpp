#include "modem/pdu.h"

#include <algorithm>
#include <array>
#include <new>

#include "modem/gsm_alphabet.h"
#include "platform/code_page.h"

namespace pagorin {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Fixed TPDU octets before the user data: first octet, message reference, address length, type
// of address, 7 address octets, protocol id, coding scheme, validity period, user data length.
constexpr int kFixedTpduOctets = 15;

void AppendHexOctet(std::string& out, unsigned value) {
  out.push_back(kHexDigits[(value >> 4) & 0x0Fu]);
  out.push_back(kHexDigits[value & 0x0Fu]);
}

// First octet: SMS-SUBMIT with a relative validity period; TP-UDHI when a header leads the data.
constexpr unsigned kFirstOctet = 0x11;
constexpr unsigned kUserDataHeaderIndicator = 0x40;
constexpr unsigned kStatusReportRequest = 0x20;
// Coding schemes: the GSM default alphabet and UCS2, neither with a message class.
constexpr unsigned kCodingGsm7Bit = 0x00;
constexpr unsigned kCodingUcs2 = 0x08;
constexpr std::uint8_t kEscape = gsm::kEscape;

// The concatenation header: its length, then the element "concatenated message, 8-bit
// reference" with reference, part count and part number.
constexpr std::size_t kConcatHeaderOctets = 6;
// Behind the 48 header bits one fill bit reaches the septet boundary at septet 7.
constexpr std::size_t kConcatHeaderSeptets = 7;
constexpr int kConcatHeaderFillBits = 1;

constexpr std::size_t kSingleSeptets = 160;
constexpr std::size_t kPartSeptets = kSingleSeptets - kConcatHeaderSeptets;         // 153
constexpr std::size_t kSingleUnits = kMaxUserDataOctets / 2;                        // 70
constexpr std::size_t kPartUnits = (kMaxUserDataOctets - kConcatHeaderOctets) / 2;  // 67

// The alphabet's tables are shared with the decoder of what arrives.
constexpr const auto& kGsmBasic = gsm::kBasic;
using GsmExtension = gsm::Extension;
constexpr const auto& kGsmExtension = gsm::kExtension;

// Septet of `character` in the basic set, or -1.
int GsmBasicSeptet(char16_t character) noexcept {
  if (character == u'@') return 0;
  if (character == 0) return -1;
  for (std::size_t i = 1; i < kGsmBasic.size(); ++i) {
    if (kGsmBasic[i] == character) return static_cast<int>(i);
  }
  return -1;
}

bool IsHighSurrogate(char16_t unit) noexcept {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) noexcept {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The text as the units of its alphabet (septets, or UTF-16 units) and where it may be cut.
struct UnitText {
  SmsAlphabet alphabet = SmsAlphabet::kUcs2;
  std::vector<char16_t> units;

  // False between an escape and its extension code, and between the halves of a surrogate pair.
  bool CanCutBefore(std::size_t pos) const noexcept {
    if (pos == 0 || pos >= units.size()) return true;
    if (alphabet == SmsAlphabet::kGsm7Bit) return units[pos - 1] != kEscape;
    return !(IsHighSurrogate(units[pos - 1]) && IsLowSurrogate(units[pos]));
  }
  // The furthest cut at or before `limit` past `start` (the whole rest if it fits).
  std::size_t CutAfter(std::size_t start, std::size_t limit) const noexcept {
    std::size_t end = std::min(units.size(), start + limit);
    while (end > start + 1 && !CanCutBefore(end))
      --end;
    return end;
  }
};

struct Piece {
  std::size_t begin;
  std::size_t end;
};

// Cuts `text` into pieces of at most `capacity` units. When more than `maxParts` pieces would be
// needed, the last piece allowed ends early enough for `ellipsis`, which the caller appends.
std::vector<Piece> CutIntoPieces(const UnitText& text, std::size_t capacity, std::size_t maxParts,
                                 std::size_t ellipsisUnits, bool& cut) {
  std::vector<Piece> pieces;
  std::size_t pos = 0;
  cut = false;
  while (pos < text.units.size()) {
    if (pieces.size() + 1 == maxParts && text.units.size() - pos > capacity) {
      cut = true;
      std::size_t end = text.CutAfter(pos, capacity - ellipsisUnits);
      pieces.push_back({pos, end});
      break;
    }
    std::size_t end = text.CutAfter(pos, capacity);
    pieces.push_back({pos, end});
    pos = end;
  }
  return pieces;
}

std::string FormatSubmitLine(std::string_view addressDigits, unsigned firstOctet, unsigned coding,
                             std::size_t userDataLength,
                             const std::vector<std::uint8_t>& userData) {
  // A 12-digit number has no filler; its address then holds 14 digits with the country code.
  const bool hasFiller = addressDigits.find('F') != std::string_view::npos;
  std::string line;
  line.reserve(34 + userData.size() * 2);
  line += "00";
  AppendHexOctet(line, firstOctet);
  line += "00";
  line += hasFiller ? "0D" : "0E";
  line += "91";
  line += "68";
  line += addressDigits;
  line += "00";
  AppendHexOctet(line, coding);
  line += "01";
  AppendHexOctet(line, static_cast<unsigned>(userDataLength));
  for (std::uint8_t octet : userData)
    AppendHexOctet(line, octet);
  line.push_back('\x1A');
  line.push_back('\r');
  return line;
}

std::string FormatLengthCommand(std::size_t userDataOctets) {
  const std::size_t tpduOctets = static_cast<std::size_t>(kFixedTpduOctets) + userDataOctets;
  std::string line = "AT+CMGS=";
  line.push_back(static_cast<char>('0' + tpduOctets / 100 % 10));
  line.push_back(static_cast<char>('0' + tpduOctets / 10 % 10));
  line.push_back(static_cast<char>('0' + tpduOctets % 10));
  line.push_back('\r');
  return line;
}

// One SMS-SUBMIT of `units`, with a concatenation header when `total` is above 1.
SmsPart EncodePart(std::string_view addressDigits, SmsAlphabet alphabet,
                   const std::vector<char16_t>& units, std::uint8_t reference, std::size_t total,
                   std::size_t sequence, bool statusReport) {
  std::vector<std::uint8_t> userData;
  if (total > 1) {
    userData = {0x05,
                0x00,
                0x03,
                reference,
                static_cast<std::uint8_t>(total),
                static_cast<std::uint8_t>(sequence)};
  }
  std::size_t userDataLength = 0;
  unsigned coding = kCodingUcs2;
  if (alphabet == SmsAlphabet::kGsm7Bit) {
    coding = kCodingGsm7Bit;
    std::vector<std::uint8_t> septets(units.begin(), units.end());
    const int fillBits = total > 1 ? kConcatHeaderFillBits : 0;
    std::vector<std::uint8_t> packed = detail::PackSeptets(septets, fillBits);
    userData.insert(userData.end(), packed.begin(), packed.end());
    // The length counts septets, the header's with its fill bits included.
    userDataLength = septets.size() + (total > 1 ? kConcatHeaderSeptets : 0);
  } else {
    for (char16_t unit : units) {
      userData.push_back(static_cast<std::uint8_t>(unit >> 8));
      userData.push_back(static_cast<std::uint8_t>(unit & 0xFFu));
    }
    userDataLength = userData.size();
  }
  const unsigned firstOctet = kFirstOctet | (total > 1 ? kUserDataHeaderIndicator : 0u) |
                              (statusReport ? kStatusReportRequest : 0u);
  return SmsPart{FormatLengthCommand(userData.size()),
                 FormatSubmitLine(addressDigits, firstOctet, coding, userDataLength, userData)};
}

EncodedSms EncodeUnits(std::string_view addressDigits, const UnitText& text,
                       const SmsTextOptions& options) {
  const bool gsm = text.alphabet == SmsAlphabet::kGsm7Bit;
  const std::size_t single = gsm ? kSingleSeptets : kSingleUnits;
  const std::size_t maxParts = static_cast<std::size_t>(std::clamp(options.maxParts, 1, 255));
  // A text that fits one SMS, separate messages, and a limit of one part all go without header.
  std::size_t capacity = single;
  bool withHeader = false;
  if (options.concatenated && text.units.size() > single && maxParts > 1) {
    capacity = gsm ? kPartSeptets : kPartUnits;
    withHeader = true;
  }
  const std::vector<char16_t> ellipsis =
      gsm ? std::vector<char16_t>{0x2E, 0x2E, 0x2E} : std::vector<char16_t>{u'\u2026'};
  EncodedSms encoded;
  encoded.alphabet = text.alphabet;
  std::vector<Piece> pieces = CutIntoPieces(text, capacity, maxParts, ellipsis.size(), encoded.cut);
  const std::size_t keptEnd = pieces.empty() ? 0 : pieces.back().end;
  if (gsm) {
    // An escape and its extension code are one character of one UTF-16 unit.
    for (std::size_t i = 0; i < keptEnd; ++i) {
      if (text.units[i] == kEscape) ++i;
      ++encoded.keptUnits;
    }
  } else {
    encoded.keptUnits = keptEnd;
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    std::vector<char16_t> units(text.units.begin() + static_cast<std::ptrdiff_t>(pieces[i].begin),
                                text.units.begin() + static_cast<std::ptrdiff_t>(pieces[i].end));
    if (encoded.cut && i + 1 == pieces.size())
      units.insert(units.end(), ellipsis.begin(), ellipsis.end());
    encoded.parts.push_back(EncodePart(addressDigits, text.alphabet, units, options.reference,
                                       withHeader ? pieces.size() : 1, i + 1,
                                       options.statusReport));
  }
  return encoded;
}

}  // namespace

namespace detail {

std::optional<std::vector<std::uint8_t>> ToGsmSeptets(std::u16string_view text) {
  std::vector<std::uint8_t> septets;
  septets.reserve(text.size());
  for (char16_t character : text) {
    int septet = GsmBasicSeptet(character);
    if (septet >= 0) {
      septets.push_back(static_cast<std::uint8_t>(septet));
      continue;
    }
    const GsmExtension* extension =
        std::find_if(std::begin(kGsmExtension), std::end(kGsmExtension),
                     [&](const GsmExtension& e) { return e.character == character; });
    if (extension == std::end(kGsmExtension)) return std::nullopt;
    septets.push_back(kEscape);
    septets.push_back(extension->code);
  }
  return septets;
}

std::vector<std::uint8_t> PackSeptets(const std::vector<std::uint8_t>& septets, int fillBits) {
  const std::size_t bits = static_cast<std::size_t>(fillBits) + septets.size() * 7;
  std::vector<std::uint8_t> octets((bits + 7) / 8, 0);
  std::size_t bit = static_cast<std::size_t>(fillBits);
  for (std::uint8_t septet : septets) {
    const unsigned value = septet & 0x7Fu;
    octets[bit / 8] = static_cast<std::uint8_t>(octets[bit / 8] | (value << (bit % 8)));
    if (bit % 8 > 1) {
      octets[bit / 8 + 1] =
          static_cast<std::uint8_t>(octets[bit / 8 + 1] | (value >> (8 - bit % 8)));
    }
    bit += 7;
  }
  return octets;
}

}  // namespace detail

std::optional<std::string> EncodePhoneDigits(std::string_view number) {
  if (number.size() != 11 && number.size() != 12) return std::nullopt;
  for (char c : number) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::string digits(number);
  if (digits.size() == 11) digits.push_back('F');
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    std::swap(digits[i], digits[i + 1]);
  return digits;
}

std::vector<std::uint8_t> ToUcs2BigEndian(std::u16string_view text) {
  std::vector<std::uint8_t> octets;
  octets.reserve(kMaxUserDataOctets);
  for (char16_t unit : text) {
    if (unit == 0 || octets.size() >= kMaxUserDataOctets) break;
    octets.push_back(static_cast<std::uint8_t>(unit >> 8));
    octets.push_back(static_cast<std::uint8_t>(unit & 0xFFu));
  }
  return octets;
}

std::optional<std::string> EncodeUserData(std::string_view text) noexcept {
  try {
    std::vector<std::uint8_t> octets = ToUcs2BigEndian(platform::Cp936ToUtf16(text));
    if (octets.size() < 2) return std::nullopt;
    std::string hex;
    hex.reserve(octets.size() * 2);
    for (std::uint8_t octet : octets)
      AppendHexOctet(hex, octet);
    return hex;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::string FormatCmgsCommand(std::string_view userDataHex) {
  return FormatLengthCommand(userDataHex.size() / 2);
}

std::string FormatSubmitPdu(std::string_view addressDigits, std::string_view userDataHex) {
  std::string line =
      FormatSubmitLine(addressDigits, kFirstOctet, kCodingUcs2, userDataHex.size() / 2, {});
  line.insert(line.size() - 2, userDataHex);
  return line;
}

std::optional<EncodedSms> EncodeSms(std::string_view number, std::u16string_view text,
                                    const SmsTextOptions& options) noexcept {
  try {
    const std::optional<std::string> address = EncodePhoneDigits(number);
    if (!address) return std::nullopt;
    text = text.substr(0, std::min(text.size(), text.find(u'\0')));
    if (text.empty()) return std::nullopt;
    UnitText units;
    std::optional<std::vector<std::uint8_t>> septets;
    if (options.concatenated) septets = detail::ToGsmSeptets(text);
    if (septets) {
      units.alphabet = SmsAlphabet::kGsm7Bit;
      units.units.assign(septets->begin(), septets->end());
    } else {
      units.units.assign(text.begin(), text.end());
    }
    return EncodeUnits(*address, units, options);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<EncodedSms> EncodeSmsText(std::string_view number, std::string_view text,
                                        const SmsTextOptions& options) noexcept {
  try {
    return EncodeSms(number, platform::Cp936ToUtf16(text), options);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace pagorin

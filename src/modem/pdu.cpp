#include "modem/pdu.h"

#include <new>

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

}  // namespace

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
  const int tpduOctets = kFixedTpduOctets + static_cast<int>(userDataHex.size() / 2);
  std::string line = "AT+CMGS=";
  line.push_back(static_cast<char>('0' + tpduOctets / 100 % 10));
  line.push_back(static_cast<char>('0' + tpduOctets / 10 % 10));
  line.push_back(static_cast<char>('0' + tpduOctets % 10));
  line.push_back('\r');
  return line;
}

std::string FormatSubmitPdu(std::string_view addressDigits, std::string_view userDataHex) {
  // A 12-digit number has no filler; its address then holds 14 digits with the country code.
  const bool hasFiller = addressDigits.find('F') != std::string_view::npos;
  std::string line;
  line.reserve(34 + userDataHex.size());
  line += "0011";
  line += "00";
  line += hasFiller ? "0D" : "0E";
  line += "91";
  line += "68";
  line += addressDigits;
  line += "000801";
  AppendHexOctet(line, static_cast<unsigned>(userDataHex.size() / 2));
  line += userDataHex;
  line.push_back('\x1A');
  line.push_back('\r');
  return line;
}

}  // namespace pagorin

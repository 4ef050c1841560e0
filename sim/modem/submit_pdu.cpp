#include "submit_pdu.h"

#include <cstdio>

#include "gsm_text.h"
#include "platform/text_format.h"

namespace pagorin::sim {
namespace {

constexpr int kInvalidPduParameter = 304;
constexpr std::uint8_t kTypeOfNumberInternational = 1;
constexpr std::uint8_t kTypeOfNumberAlphanumeric = 5;
constexpr std::size_t kMaxAddressDigits = 20;
constexpr std::size_t kMaxSeptets = 160;
constexpr std::size_t kMaxOctets = 140;

struct Refusal {
  std::string reason;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

template <typename... Numbers>
std::string Format(std::string_view pattern, Numbers... numbers) {
  return platform::FormatText(pattern,
                              {platform::FormatArg(static_cast<std::int64_t>(numbers))...});
}

// Walks the octets of the PDU; every read states the field it belongs to, so that a short PDU
// is refused with the name of the field that is missing.
class OctetReader {
 public:
  explicit OctetReader(const std::vector<std::uint8_t>& octets) : octets_(octets) {}

  bool Take(const char* field, std::uint8_t& value, Refusal& refusal) {
    if (position_ >= octets_.size()) return Truncated(field, refusal);
    value = octets_[position_++];
    return true;
  }
  bool Take(const char* field, std::size_t count, std::vector<std::uint8_t>& out,
            Refusal& refusal) {
    if (octets_.size() - position_ < count) return Truncated(field, refusal);
    out.assign(octets_.begin() + static_cast<std::ptrdiff_t>(position_),
               octets_.begin() + static_cast<std::ptrdiff_t>(position_ + count));
    position_ += count;
    return true;
  }
  std::size_t position() const { return position_; }
  std::size_t remaining() const { return octets_.size() - position_; }

 private:
  bool Truncated(const char* field, Refusal& refusal) {
    refusal.reason = std::string("PDU ends inside the ") + field;
    return false;
  }

  const std::vector<std::uint8_t>& octets_;
  std::size_t position_ = 0;
};

char SemiOctetDigit(unsigned nibble) {
  return "0123456789*#abc"[nibble];
}

// Semi-octet digits, low nibble first. `digits` of them are the number; when `digits` is odd
// the remaining nibble must be the filler F.
bool DecodeSemiOctets(const std::vector<std::uint8_t>& octets, std::size_t digits,
                      const char* field, std::string& out, Refusal& refusal) {
  for (std::size_t i = 0; i < digits; ++i) {
    unsigned nibble = (i % 2 == 0) ? (octets[i / 2] & 0x0Fu) : (octets[i / 2] >> 4u);
    if (nibble == 0xF) {
      refusal.reason = std::string("filler F inside the ") + field +
                       Format(" at digit %d", static_cast<std::int64_t>(i + 1));
      return false;
    }
    out.push_back(SemiOctetDigit(nibble));
  }
  if (digits % 2 != 0) {
    unsigned filler = octets[digits / 2] >> 4u;
    if (filler != 0xF) {
      refusal.reason = std::string("the ") + field +
                       Format(" has %d digits but its last semi-octet is %X, not the filler F",
                              static_cast<std::int64_t>(digits), filler);
      return false;
    }
  }
  return true;
}

bool ReadServiceCentre(OctetReader& reader, std::string& smsc, Refusal& refusal) {
  std::uint8_t length = 0;
  if (!reader.Take("service-centre length", length, refusal)) return false;
  if (length == 0) return true;
  if (length > 11) {
    refusal.reason = Format("service-centre address of %d octets (at most 11)", length);
    return false;
  }
  std::uint8_t type = 0;
  std::vector<std::uint8_t> digitOctets;
  if (!reader.Take("service-centre address", type, refusal) ||
      !reader.Take("service-centre address", length - 1u, digitOctets, refusal)) {
    return false;
  }
  std::size_t digits = digitOctets.size() * 2;
  if (!digitOctets.empty() && (digitOctets.back() >> 4u) == 0xF) --digits;
  if (((type >> 4u) & 7u) == kTypeOfNumberInternational) smsc.push_back('+');
  return DecodeSemiOctets(digitOctets, digits, "service-centre address", smsc, refusal);
}

bool ReadDestination(OctetReader& reader, SubmitPdu& pdu, Refusal& refusal) {
  if (!reader.Take("destination address length", pdu.destinationLength, refusal)) return false;
  if (pdu.destinationLength > kMaxAddressDigits) {
    refusal.reason = Format("destination address of %d digits (at most 20)", pdu.destinationLength);
    return false;
  }
  if (!reader.Take("destination type of address", pdu.destinationType, refusal)) return false;
  std::vector<std::uint8_t> digitOctets;
  if (!reader.Take("destination address", (pdu.destinationLength + 1u) / 2u, digitOctets,
                   refusal)) {
    return false;
  }
  unsigned typeOfNumber = (pdu.destinationType >> 4u) & 7u;
  if (typeOfNumber == kTypeOfNumberAlphanumeric) {
    std::size_t septets = pdu.destinationLength * 4u / 7u;
    pdu.destination = GsmSeptetsToUtf8(UnpackSeptets(digitOctets, septets));
    return true;
  }
  if (typeOfNumber == kTypeOfNumberInternational) pdu.destination.push_back('+');
  return DecodeSemiOctets(digitOctets, pdu.destinationLength, "destination address",
                          pdu.destination, refusal);
}

void ReadCodingScheme(SubmitPdu& pdu) {
  std::uint8_t dcs = pdu.dataCoding;
  unsigned group = dcs >> 4u;
  if (group <= 0x7) {
    // General data coding (with or without automatic deletion).
    pdu.compressed = (dcs & 0x20u) != 0;
    if ((dcs & 0x10u) != 0) pdu.messageClass = dcs & 0x03;
    switch ((dcs >> 2u) & 0x03u) {
      case 1:
        pdu.alphabet = Alphabet::kEightBit;
        break;
      case 2:
        pdu.alphabet = Alphabet::kUcs2;
        break;
      default:
        pdu.alphabet = Alphabet::kGsm7;
        break;  // 3 is reserved: default alphabet
    }
  } else if (group == 0xE) {
    pdu.alphabet = Alphabet::kUcs2;  // message waiting indication, store, UCS2
  } else if (group == 0xF) {
    pdu.alphabet = (dcs & 0x04u) != 0 ? Alphabet::kEightBit : Alphabet::kGsm7;
    pdu.messageClass = dcs & 0x03;
  } else {
    pdu.alphabet = Alphabet::kGsm7;  // reserved groups and the other indication groups
  }
}

std::string FormatDuration(std::uint32_t seconds) {
  constexpr std::uint32_t kWeek = 7 * 24 * 3600;
  constexpr std::uint32_t kDay = 24 * 3600;
  auto plural = [](std::uint32_t n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
  };
  if (seconds >= kWeek && seconds % kWeek == 0) return plural(seconds / kWeek, "week");
  if (seconds >= kDay && seconds % kDay == 0) return plural(seconds / kDay, "day");
  std::string text;
  auto add = [&text](std::uint32_t n, const char* unit) {
    if (n == 0) return;
    if (!text.empty()) text += ' ';
    text += std::to_string(n) + " " + unit;
  };
  add(seconds / 3600, "h");
  add(seconds / 60 % 60, "min");
  add(seconds % 60, "s");
  return text.empty() ? "0 s" : text;
}

std::uint32_t RelativeSeconds(std::uint8_t value) {
  std::uint32_t v = value;
  if (v <= 143) return (v + 1) * 5 * 60;
  if (v <= 167) return 12 * 3600 + (v - 143) * 30 * 60;
  if (v <= 196) return (v - 166) * 24 * 3600;
  return (v - 192) * 7 * 24 * 3600;
}

// Two swapped BCD digits; false when either is not a decimal digit.
bool SwappedBcd(std::uint8_t octet, unsigned& value) {
  unsigned low = octet & 0x0Fu;
  unsigned high = octet >> 4u;
  if (low > 9 || high > 9) return false;
  value = low * 10 + high;
  return true;
}

bool DecodeAbsolute(Validity& validity, Refusal& refusal) {
  const auto& raw = validity.raw;
  unsigned field[6] = {};
  static constexpr unsigned kLimit[6] = {99, 12, 31, 23, 59, 59};
  static constexpr unsigned kLeast[6] = {0, 1, 1, 0, 0, 0};
  for (int i = 0; i < 6; ++i) {
    if (!SwappedBcd(raw[static_cast<std::size_t>(i)], field[i]) || field[i] > kLimit[i] ||
        field[i] < kLeast[i]) {
      refusal.reason = Format("absolute validity period has an invalid time stamp octet %d (%02X)",
                              i + 1, raw[static_cast<std::size_t>(i)]);
      return false;
    }
  }
  unsigned zoneTens = raw[6] & 0x07u;
  unsigned zoneUnits = raw[6] >> 4u;
  if (zoneUnits > 9) {
    refusal.reason = Format("absolute validity period has an invalid time zone (%02X)", raw[6]);
    return false;
  }
  unsigned quarters = zoneTens * 10 + zoneUnits;
  char sign = (raw[6] & 0x08u) != 0 ? '-' : '+';
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "until 20%02u-%02u-%02u %02u:%02u:%02u %c%02u:%02u",
                field[0], field[1], field[2], field[3], field[4], field[5], sign, quarters / 4,
                quarters % 4 * 15);
  validity.text = buffer;
  return true;
}

bool DecodeEnhanced(Validity& validity, Refusal& refusal) {
  const auto& raw = validity.raw;
  // Extension octets of the functionality indicator come before the period itself.
  std::size_t value = 1;
  while (value < raw.size() && (raw[value - 1] & 0x80u) != 0)
    ++value;
  std::string prefix = (raw[0] & 0x40u) != 0 ? "single-shot, " : "";
  unsigned format = raw[0] & 0x07u;
  std::size_t room = raw.size() - value;
  auto needs = [&](std::size_t octets) {
    if (room >= octets) return true;
    refusal.reason = "enhanced validity period too short for its format";
    return false;
  };
  switch (format) {
    case 0:
      validity.text = prefix + "none";
      return true;
    case 1:
      if (!needs(1)) return false;
      validity.seconds = RelativeSeconds(raw[value]);
      break;
    case 2:
      if (!needs(1)) return false;
      validity.seconds = raw[value];
      break;
    case 3: {
      if (!needs(3)) return false;
      unsigned h = 0, m = 0, s = 0;
      if (!SwappedBcd(raw[value], h) || !SwappedBcd(raw[value + 1], m) ||
          !SwappedBcd(raw[value + 2], s) || m > 59 || s > 59) {
        refusal.reason = "enhanced validity period has an invalid hh:mm:ss period";
        return false;
      }
      validity.seconds = h * 3600 + m * 60 + s;
      break;
    }
    default:
      validity.text = prefix + Format("reserved enhanced format %d", format);
      return true;
  }
  validity.text = prefix + FormatDuration(*validity.seconds);
  return true;
}

bool ReadValidity(OctetReader& reader, SubmitPdu& pdu, Refusal& refusal) {
  Validity& validity = pdu.validity;
  switch ((pdu.firstOctet >> 3u) & 0x03u) {
    case 0:
      validity.format = ValidityFormat::kNone;
      validity.text = "none";
      return true;
    case 2:
      validity.format = ValidityFormat::kRelative;
      if (!reader.Take("validity period", 1, validity.raw, refusal)) return false;
      validity.seconds = RelativeSeconds(validity.raw[0]);
      validity.text = FormatDuration(*validity.seconds);
      return true;
    case 1:
      validity.format = ValidityFormat::kEnhanced;
      return reader.Take("validity period", 7, validity.raw, refusal) &&
             DecodeEnhanced(validity, refusal);
    default:
      validity.format = ValidityFormat::kAbsolute;
      return reader.Take("validity period", 7, validity.raw, refusal) &&
             DecodeAbsolute(validity, refusal);
  }
}

bool ReadHeader(const std::vector<std::uint8_t>& userData, SubmitPdu& pdu, Refusal& refusal) {
  std::size_t length = userData[0];
  if (length + 1 > userData.size()) {
    refusal.reason = Format("user data header of %d octets does not fit the user data", length);
    return false;
  }
  pdu.header.assign(userData.begin() + 1,
                    userData.begin() + static_cast<std::ptrdiff_t>(length + 1));
  const auto& h = pdu.header;
  std::size_t i = 0;
  while (i < h.size()) {
    if (h.size() - i < 2 || h.size() - i - 2 < h[i + 1]) {
      refusal.reason = Format("user data header element %02X overruns the header", h[i]);
      return false;
    }
    std::uint8_t id = h[i];
    std::uint8_t size = h[i + 1];
    const std::uint8_t* data = h.data() + i + 2;
    if (id == 0x00 || id == 0x08) {
      std::size_t expected = id == 0x00 ? 3 : 4;
      if (size != expected) {
        refusal.reason = Format("concatenation element %02X has length %d, not %d", id, size,
                                static_cast<std::int64_t>(expected));
        return false;
      }
      Concatenation c;
      c.sixteenBitReference = id == 0x08;
      c.reference = id == 0x00 ? data[0] : static_cast<std::uint16_t>(data[0] << 8 | data[1]);
      c.total = data[size - 2];
      c.sequence = data[size - 1];
      // A receiver ignores an element whose total or sequence number is out of range.
      if (!pdu.concatenation && c.total != 0 && c.sequence != 0 && c.sequence <= c.total) {
        pdu.concatenation = c;
      }
    }
    i += 2u + size;
  }
  return true;
}

bool ReadUserData(OctetReader& reader, SubmitPdu& pdu, Refusal& refusal) {
  if (!reader.Take("user data length", pdu.userDataLength, refusal)) return false;
  bool septets = pdu.alphabet == Alphabet::kGsm7 && !pdu.compressed;
  std::size_t udl = pdu.userDataLength;
  if (septets && udl > kMaxSeptets) {
    refusal.reason = Format("user data length %d exceeds 160 septets", udl);
    return false;
  }
  if (!septets && udl > kMaxOctets) {
    refusal.reason = Format("user data length %d exceeds 140 octets", udl);
    return false;
  }
  std::size_t octets = septets ? (udl * 7 + 7) / 8 : udl;
  if (reader.remaining() > octets) {
    refusal.reason = Format("%d octets follow the user data",
                            static_cast<std::int64_t>(reader.remaining() - octets));
    return false;
  }
  std::vector<std::uint8_t> userData;
  if (!reader.Take("user data", octets, userData, refusal)) return false;

  std::size_t headerOctets = 0;
  if (pdu.hasHeader) {
    if (userData.empty()) {
      refusal.reason = "user data header indicated but the user data is empty";
      return false;
    }
    if (!ReadHeader(userData, pdu, refusal)) return false;
    headerOctets = pdu.header.size() + 1;
  }

  if (pdu.compressed) {
    pdu.body.assign(userData.begin() + static_cast<std::ptrdiff_t>(headerOctets), userData.end());
    pdu.text = "(compressed data, " + std::to_string(pdu.body.size()) + " octets)";
    return true;
  }
  switch (pdu.alphabet) {
    case Alphabet::kGsm7: {
      // The text starts at the first septet boundary after the header (fill bits between).
      std::size_t headerSeptets = (headerOctets * 8 + 6) / 7;
      if (headerSeptets > udl) {
        refusal.reason = "user data header is longer than the user data length";
        return false;
      }
      auto all = UnpackSeptets(userData, udl);
      pdu.body.assign(all.begin() + static_cast<std::ptrdiff_t>(headerSeptets), all.end());
      pdu.text = GsmSeptetsToUtf8(pdu.body);
      return true;
    }
    case Alphabet::kEightBit:
      pdu.body.assign(userData.begin() + static_cast<std::ptrdiff_t>(headerOctets), userData.end());
      pdu.text = Latin1ToUtf8(pdu.body.data(), pdu.body.size());
      return true;
    case Alphabet::kUcs2:
      pdu.body.assign(userData.begin() + static_cast<std::ptrdiff_t>(headerOctets), userData.end());
      if (pdu.body.size() % 2 != 0) {
        refusal.reason =
            Format("UCS2 text of %d octets (odd)", static_cast<std::int64_t>(pdu.body.size()));
        return false;
      }
      pdu.text = Utf16BeToUtf8(pdu.body.data(), pdu.body.size());
      return true;
  }
  return true;
}

bool Decode(std::string_view hex, int announcedLength, SubmitPdu& pdu, Refusal& refusal) {
  if (hex.empty()) {
    refusal.reason = "empty PDU";
    return false;
  }
  for (std::size_t i = 0; i < hex.size(); ++i) {
    if (HexValue(hex[i]) < 0) {
      refusal.reason = Format("character %d (code %d) is not a hexadecimal digit",
                              static_cast<std::int64_t>(i + 1), static_cast<unsigned char>(hex[i]));
      return false;
    }
  }
  if (hex.size() % 2 != 0) {
    refusal.reason =
        Format("odd number of hexadecimal digits (%d)", static_cast<std::int64_t>(hex.size()));
    return false;
  }
  std::vector<std::uint8_t> octets(hex.size() / 2);
  for (std::size_t i = 0; i < octets.size(); ++i) {
    octets[i] = static_cast<std::uint8_t>(HexValue(hex[2 * i]) << 4 | HexValue(hex[2 * i + 1]));
  }

  OctetReader reader(octets);
  if (!ReadServiceCentre(reader, pdu.smsc, refusal)) return false;
  pdu.tpduOctets = reader.remaining();
  if (announcedLength < 0 || pdu.tpduOctets != static_cast<std::size_t>(announcedLength)) {
    refusal.reason = Format("length %d was announced but the TPDU has %d octets", announcedLength,
                            static_cast<std::int64_t>(pdu.tpduOctets));
    return false;
  }

  if (!reader.Take("first octet", pdu.firstOctet, refusal)) return false;
  unsigned mti = pdu.firstOctet & 0x03u;
  if (mti != 1) {
    refusal.reason = Format("not an SMS-SUBMIT (message type indicator %d)", mti);
    return false;
  }
  pdu.rejectDuplicates = (pdu.firstOctet & 0x04u) != 0;
  pdu.statusReportRequest = (pdu.firstOctet & 0x20u) != 0;
  pdu.hasHeader = (pdu.firstOctet & 0x40u) != 0;
  pdu.replyPath = (pdu.firstOctet & 0x80u) != 0;

  if (!reader.Take("message reference", pdu.messageReference, refusal)) return false;
  if (!ReadDestination(reader, pdu, refusal)) return false;
  if (!reader.Take("protocol identifier", pdu.protocolId, refusal)) return false;
  if (!reader.Take("data coding scheme", pdu.dataCoding, refusal)) return false;
  ReadCodingScheme(pdu);
  if (!ReadValidity(reader, pdu, refusal)) return false;
  return ReadUserData(reader, pdu, refusal);
}

}  // namespace

const char* AlphabetName(Alphabet alphabet) {
  switch (alphabet) {
    case Alphabet::kGsm7:
      return "GSM7";
    case Alphabet::kEightBit:
      return "8bit";
    case Alphabet::kUcs2:
      return "UCS2";
  }
  return "?";
}

const char* ValidityFormatName(ValidityFormat format) {
  switch (format) {
    case ValidityFormat::kNone:
      return "none";
    case ValidityFormat::kRelative:
      return "relative";
    case ValidityFormat::kEnhanced:
      return "enhanced";
    case ValidityFormat::kAbsolute:
      return "absolute";
  }
  return "?";
}

std::string ToHex(const std::vector<std::uint8_t>& octets) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(octets.size() * 2);
  for (std::uint8_t octet : octets) {
    hex.push_back(kDigits[octet >> 4u]);
    hex.push_back(kDigits[octet & 0x0Fu]);
  }
  return hex;
}

DecodeResult DecodeSubmitPdu(std::string_view hex, int announcedLength) {
  DecodeResult result;
  SubmitPdu pdu;
  Refusal refusal;
  if (Decode(hex, announcedLength, pdu, refusal)) {
    result.pdu = std::move(pdu);
  } else {
    result.cmsError = kInvalidPduParameter;
    result.reason = std::move(refusal.reason);
  }
  return result;
}

}  // namespace pagorin::sim

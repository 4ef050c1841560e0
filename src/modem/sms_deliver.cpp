#include "modem/sms_deliver.h"

#include <algorithm>
#include <array>
#include <new>

#include "modem/gsm_alphabet.h"

namespace pagorin {
namespace {

constexpr std::uint8_t kEscape = gsm::kEscape;

const auto& kGsmBasic = gsm::kBasic;

// The extension table, reached by the escape; a code not listed shows its basic character (the
// escape itself a space).
char16_t GsmExtension(std::uint8_t code) noexcept {
  for (const gsm::Extension& extension : gsm::kExtension) {
    if (extension.code == code) return extension.character;
  }
  const char16_t basic = kGsmBasic[code & 0x7Fu];
  return basic != 0 ? basic : u' ';
}

// Septets to text. An escape at the very end stands for nothing more and becomes a space.
std::u16string GsmToText(const std::vector<std::uint8_t>& septets) {
  std::u16string text;
  text.reserve(septets.size());
  for (std::size_t i = 0; i < septets.size(); ++i) {
    if (septets[i] != kEscape) {
      text.push_back(kGsmBasic[septets[i] & 0x7Fu]);
    } else if (i + 1 < septets.size()) {
      text.push_back(GsmExtension(septets[++i]));
    } else {
      text.push_back(u' ');
    }
  }
  return text;
}

// `count` septets from `octets`, starting `firstBit` bits in (the first septet in the low bits).
// The caller has checked that the octets hold them.
std::vector<std::uint8_t> UnpackSeptets(const std::uint8_t* octets, std::size_t octetCount,
                                        std::size_t firstBit, std::size_t count) {
  std::vector<std::uint8_t> septets;
  septets.reserve(count);
  for (std::size_t n = 0, bit = firstBit; n < count; ++n, bit += 7) {
    const std::size_t at = bit / 8;
    unsigned value = octets[at] >> (bit % 8);
    if (bit % 8 > 1 && at + 1 < octetCount)
      value |= static_cast<unsigned>(octets[at + 1]) << (8 - bit % 8);
    septets.push_back(static_cast<std::uint8_t>(value & 0x7Fu));
  }
  return septets;
}

int HexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsBlank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) noexcept {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// Reads the PDU octet by octet; every read past the end fails and leaves the reader failed.
class OctetReader {
 public:
  explicit OctetReader(const std::vector<std::uint8_t>& octets) : octets_(octets) {}

  bool Take(std::uint8_t& out) noexcept {
    if (pos_ >= octets_.size()) return false;
    out = octets_[pos_++];
    return true;
  }
  // `count` octets, or nullptr when fewer are left.
  const std::uint8_t* TakeSpan(std::size_t count) noexcept {
    if (count > octets_.size() - pos_) return nullptr;
    const std::uint8_t* span = octets_.data() + pos_;
    pos_ += count;
    return span;
  }
  std::size_t Left() const noexcept { return octets_.size() - pos_; }
  std::size_t Position() const noexcept { return pos_; }

 private:
  const std::vector<std::uint8_t>& octets_;
  std::size_t pos_ = 0;
};

// Decoding stops at the first failure, which travels up as this.
struct Failure {
  PduDecodeError error;
};

constexpr char kSemiOctetDigits[] = "0123456789*#abc";

// `semiOctets` digits of swapped semi-octets; a filler F ends the number early.
std::string SemiOctetDigits(const std::uint8_t* octets, std::size_t semiOctets) {
  std::string digits;
  digits.reserve(semiOctets);
  for (std::size_t i = 0; i < semiOctets; ++i) {
    const unsigned nibble = i % 2 == 0 ? octets[i / 2] & 0x0Fu : octets[i / 2] >> 4;
    if (nibble == 0x0F) break;
    digits.push_back(kSemiOctetDigits[nibble]);
  }
  return digits;
}

SmsAddress MakeAddress(std::uint8_t type, const std::uint8_t* value, std::size_t octets,
                       std::size_t semiOctets) {
  SmsAddress address;
  address.typeOfAddress = type;
  const unsigned typeOfNumber = (type >> 4) & 0x07u;
  if (typeOfNumber == 5) {
    // Alphanumeric: GSM septets packed into the address octets.
    const std::size_t septets = semiOctets * 4 / 7;
    address.name = GsmToText(UnpackSeptets(value, octets, 0, septets));
    return address;
  }
  address.number = SemiOctetDigits(value, semiOctets);
  if (typeOfNumber == 1 && !address.number.empty()) address.number.insert(0, 1, '+');
  return address;
}

// TP-OA, TP-RA: a length in semi-octets, the type, the value; at most 20 semi-octets.
SmsAddress TakeAddress(OctetReader& reader) {
  std::uint8_t length = 0;
  std::uint8_t type = 0;
  if (!reader.Take(length) || !reader.Take(type)) throw Failure{PduDecodeError::kTruncated};
  if (length > 20) throw Failure{PduDecodeError::kMalformed};
  const std::size_t octets = (length + 1u) / 2;
  const std::uint8_t* value = reader.TakeSpan(octets);
  if (value == nullptr) throw Failure{PduDecodeError::kTruncated};
  return MakeAddress(type, value, octets, length);
}

int SwappedBcd(std::uint8_t octet) noexcept {
  const int low = octet & 0x0F;
  const int high = octet >> 4;
  if (low > 9 || high > 9) return -1;
  return low * 10 + high;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day) noexcept {
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = year - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Seven octets of swapped BCD: year, month, day, hour, minute, second, zone. The zone counts
// quarter hours, its sign in bit 3 of the octet (the tens digit's high bit). Two-digit years
// 90..99 are the 1990s, all others this century.
std::optional<SmsTimestamp> DecodeTimestamp(const std::uint8_t* octets) noexcept {
  int fields[6];
  for (int i = 0; i < 6; ++i) {
    fields[i] = SwappedBcd(octets[i]);
    if (fields[i] < 0) return std::nullopt;
  }
  const int year = fields[0] + (fields[0] >= 90 ? 1900 : 2000);
  const int month = fields[1];
  const int day = fields[2];
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || fields[3] > 23 ||
      fields[4] > 59 || fields[5] > 59) {
    return std::nullopt;
  }
  const std::uint8_t zone = octets[6];
  const int quarters = SwappedBcd(static_cast<std::uint8_t>(zone & 0xF7u));
  if (quarters < 0) return std::nullopt;
  SmsTimestamp stamp;
  stamp.zoneMinutes = (zone & 0x08u) != 0 ? -quarters * 15 : quarters * 15;
  const std::int64_t local =
      DaysFromCivil(year, month, day) * 86400 + fields[3] * 3600 + fields[4] * 60 + fields[5];
  stamp.utcSeconds = local - static_cast<std::int64_t>(stamp.zoneMinutes) * 60;
  return stamp;
}

std::optional<SmsTimestamp> TakeTimestamp(OctetReader& reader) {
  const std::uint8_t* octets = reader.TakeSpan(7);
  if (octets == nullptr) throw Failure{PduDecodeError::kTruncated};
  return DecodeTimestamp(octets);
}

// The coding scheme's alphabet and class. Reserved groups and the reserved alphabet are read as
// the default alphabet, as a receiver must.
void ApplyCodingScheme(std::uint8_t dcs, SmsDeliver& message) noexcept {
  message.codingScheme = dcs;
  const unsigned group = dcs >> 4;
  if (group <= 0x07) {
    // General data coding (0x00..0x3F) and its automatic-deletion twin (0x40..0x7F).
    if ((dcs & 0x10u) != 0) message.messageClass = dcs & 0x03;
    if ((dcs & 0x20u) != 0) {
      message.coding = SmsCoding::kCompressed;
      return;
    }
    const unsigned alphabet = (dcs >> 2) & 0x03u;
    message.coding = alphabet == 1   ? SmsCoding::kEightBit
                     : alphabet == 2 ? SmsCoding::kUcs2
                                     : SmsCoding::kGsm7Bit;
  } else if (group == 0x0E) {
    message.coding = SmsCoding::kUcs2;  // message waiting, stored, UCS2 text
  } else if (group == 0x0F) {
    message.coding = (dcs & 0x04u) != 0 ? SmsCoding::kEightBit : SmsCoding::kGsm7Bit;
    message.messageClass = dcs & 0x03;
  } else {
    message.coding = SmsCoding::kGsm7Bit;  // reserved groups and message waiting 0xC, 0xD
  }
}

// The user data header's elements; only concatenation is kept, every other element skipped.
void ReadHeader(const std::uint8_t* header, std::size_t length, SmsDeliver& message) {
  std::size_t pos = 0;
  while (pos < length) {
    if (length - pos < 2) throw Failure{PduDecodeError::kMalformed};
    const std::uint8_t id = header[pos];
    const std::size_t size = header[pos + 1];
    pos += 2;
    if (size > length - pos) throw Failure{PduDecodeError::kMalformed};
    const std::uint8_t* value = header + pos;
    pos += size;
    SmsConcatenation part;
    if (id == 0x00 && size == 3) {
      part = {value[0], value[1], value[2], false};
    } else if (id == 0x08 && size == 4) {
      part = {value[0] << 8 | value[1], value[2], value[3], true};
    } else {
      continue;
    }
    // An element with no parts or a part outside the count is ignored; the last good one counts.
    if (part.total > 0 && part.sequence > 0 && part.sequence <= part.total) {
      message.concatenation = part;
    }
  }
}

void TakeUserData(OctetReader& reader, bool hasHeader, SmsDeliver& message) {
  std::uint8_t length = 0;
  if (!reader.Take(length)) throw Failure{PduDecodeError::kTruncated};
  const bool septets = message.coding == SmsCoding::kGsm7Bit;
  if (length > (septets ? 160u : 140u)) throw Failure{PduDecodeError::kMalformed};
  const std::size_t octetCount = septets ? (length * 7u + 7u) / 8u : length;
  const std::uint8_t* octets = reader.TakeSpan(octetCount);
  if (octets == nullptr) throw Failure{PduDecodeError::kTruncated};
  std::size_t headerOctets = 0;
  if (hasHeader) {
    if (octetCount == 0) throw Failure{PduDecodeError::kMalformed};
    headerOctets = octets[0] + 1u;
    if (headerOctets > octetCount) throw Failure{PduDecodeError::kMalformed};
    ReadHeader(octets + 1, headerOctets - 1, message);
  }
  if (septets) {
    // The text starts at the first septet boundary behind the header (its fill bits skipped).
    const std::size_t headerSeptets = (headerOctets * 8 + 6) / 7;
    if (headerSeptets > length) throw Failure{PduDecodeError::kMalformed};
    message.text =
        GsmToText(UnpackSeptets(octets, octetCount, headerSeptets * 7, length - headerSeptets));
  } else if (message.coding == SmsCoding::kUcs2) {
    // An odd last octet is half a unit and dropped.
    for (std::size_t i = headerOctets; i + 1 < octetCount; i += 2)
      message.text.push_back(static_cast<char16_t>(octets[i] << 8 | octets[i + 1]));
  } else {
    message.data.assign(octets + headerOctets, octets + octetCount);
  }
}

SmsDeliver TakeDeliver(OctetReader& reader, std::uint8_t first) {
  SmsDeliver message;
  message.moreMessagesWaiting = (first & 0x04u) == 0;
  message.statusReportIndicated = (first & 0x20u) != 0;
  message.replyPath = (first & 0x80u) != 0;
  message.originator = TakeAddress(reader);
  std::uint8_t dcs = 0;
  if (!reader.Take(message.protocolId) || !reader.Take(dcs)) {
    throw Failure{PduDecodeError::kTruncated};
  }
  ApplyCodingScheme(dcs, message);
  message.serviceCentreTime = TakeTimestamp(reader);
  TakeUserData(reader, (first & 0x40u) != 0, message);
  return message;
}

// What follows TP-ST (parameter indicator, user data) is optional and not needed here.
SmsStatusReport TakeStatusReport(OctetReader& reader, std::uint8_t first) {
  SmsStatusReport report;
  report.moreMessagesWaiting = (first & 0x04u) == 0;
  report.reportsCommand = (first & 0x20u) != 0;
  std::uint8_t reference = 0;
  if (!reader.Take(reference)) throw Failure{PduDecodeError::kTruncated};
  report.messageReference = reference;
  report.recipient = TakeAddress(reader);
  report.serviceCentreTime = TakeTimestamp(reader);
  report.dischargeTime = TakeTimestamp(reader);
  if (!reader.Take(report.status)) throw Failure{PduDecodeError::kTruncated};
  report.deliveryClass = ClassifyDeliveryStatus(report.status);
  return report;
}

void Decode(std::string_view hex, bool withServiceCentre, DecodedPdu& result) {
  hex = Trim(hex);
  if (hex.empty() || hex.size() % 2 != 0 || hex.size() > kMaxIncomingPduHexDigits) {
    throw Failure{PduDecodeError::kBadHex};
  }
  std::vector<std::uint8_t> octets;
  octets.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) throw Failure{PduDecodeError::kBadHex};
    octets.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  OctetReader reader(octets);
  if (withServiceCentre) {
    // The length counts octets: the type and up to 10 of digits; 0 means no address.
    std::uint8_t length = 0;
    if (!reader.Take(length)) throw Failure{PduDecodeError::kTruncated};
    if (length > 11) throw Failure{PduDecodeError::kMalformed};
    const std::uint8_t* sca = reader.TakeSpan(length);
    if (sca == nullptr) throw Failure{PduDecodeError::kTruncated};
    if (length > 0) {
      result.serviceCentre = MakeAddress(sca[0], sca + 1, length - 1u, (length - 1u) * 2u);
    }
  }
  result.tpduOctets = reader.Left();
  std::uint8_t first = 0;
  if (!reader.Take(first)) throw Failure{PduDecodeError::kTruncated};
  switch (first & 0x03u) {
    case 0x00:
      result.message = TakeDeliver(reader, first);
      break;
    case 0x02:
      result.message = TakeStatusReport(reader, first);
      break;
    default:
      throw Failure{PduDecodeError::kUnsupportedType};
  }
}

// --- result lines ---

// The rest of `line` after `prefix` (case as the modem sends it, blanks around ignored).
std::optional<std::string_view> AfterPrefix(std::string_view line, std::string_view prefix) {
  line = Trim(line);
  if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
  return Trim(line.substr(prefix.size()));
}

// Comma-separated fields; a comma inside double quotes belongs to its field. At most `limit`
// fields are split off; the remainder stays in the last.
std::vector<std::string_view> SplitFields(std::string_view text, std::size_t limit) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size() && fields.size() + 1 < limit; ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == ',' && !quoted) {
      fields.push_back(Trim(text.substr(start, i - start)));
      start = i + 1;
    }
  }
  fields.push_back(Trim(text.substr(start)));
  return fields;
}

std::string_view Unquote(std::string_view field) noexcept {
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
    return field.substr(1, field.size() - 2);
  }
  return field;
}

// A decimal number within -999999..999999, the whole field; nullopt otherwise.
std::optional<int> ParseNumber(std::string_view field) noexcept {
  field = Trim(field);
  bool negative = false;
  if (!field.empty() && (field.front() == '-' || field.front() == '+')) {
    negative = field.front() == '-';
    field.remove_prefix(1);
  }
  if (field.empty() || field.size() > 6) return std::nullopt;
  int value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

// <stat> as a number, or as the text some modems give even in PDU mode.
std::optional<int> ParseStatus(std::string_view field) noexcept {
  if (std::optional<int> number = ParseNumber(field)) {
    if (*number >= 0 && *number <= 4) return number;
    return std::nullopt;
  }
  static constexpr std::string_view kNames[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT",
                                                "ALL"};
  const std::string_view name = Unquote(field);
  for (int i = 0; i < 5; ++i) {
    if (name == kNames[i]) return i;
  }
  return std::nullopt;
}

constexpr std::size_t kMaxAlphaBytes = 64;
constexpr std::size_t kMaxStorageBytes = 16;
constexpr std::size_t kMaxFields = 16;

// <stat>,[<alpha>],<length> from `fields` (at least two); the alpha is what lies between.
std::optional<StoredMessageHeader> ReadStatusAlphaLength(
    const std::vector<std::string_view>& fields, std::size_t first) {
  if (fields.size() < first + 2) return std::nullopt;
  StoredMessageHeader header;
  const std::optional<int> status = ParseStatus(fields[first]);
  const std::optional<int> length = ParseNumber(fields.back());
  if (!status || !length || *length < 0 || *length > 255) return std::nullopt;
  header.status = *status;
  header.length = *length;
  if (fields.size() > first + 2) {
    // Normally one field; an unquoted name with commas spans several, joined again.
    std::string_view alpha = Unquote(fields[first + 1]);
    header.alpha.assign(alpha.substr(0, kMaxAlphaBytes));
    for (std::size_t i = first + 2; i + 1 < fields.size(); ++i) {
      header.alpha += ',';
      header.alpha += fields[i];
    }
    if (header.alpha.size() > kMaxAlphaBytes) header.alpha.resize(kMaxAlphaBytes);
  }
  return header;
}

}  // namespace

SmsDeliveryClass ClassifyDeliveryStatus(std::uint8_t status) noexcept {
  if (status >= 0x80) return SmsDeliveryClass::kUnknown;
  switch (status >> 5) {
    case 0:
      return SmsDeliveryClass::kDelivered;
    case 1:
      return SmsDeliveryClass::kStillTrying;
    case 2:
      return SmsDeliveryClass::kFailedPermanently;
    default:
      return SmsDeliveryClass::kGaveUp;
  }
}

DecodedPdu DecodeIncomingPdu(std::string_view hex, bool withServiceCentre) noexcept {
  DecodedPdu result;
  try {
    Decode(hex, withServiceCentre, result);
  } catch (const Failure& failure) {
    result = DecodedPdu{};
    result.error = failure.error;
  } catch (const std::bad_alloc&) {
    result = DecodedPdu{};
    result.error = PduDecodeError::kNoMemory;
  }
  return result;
}

std::optional<StoredMessageNotice> ParseStoredMessageNotice(std::string_view line) noexcept {
  try {
    StoredMessageNotice notice;
    std::optional<std::string_view> rest = AfterPrefix(line, "+CMTI:");
    if (!rest) {
      rest = AfterPrefix(line, "+CDSI:");
      notice.statusReport = true;
    }
    if (!rest) return std::nullopt;
    const std::vector<std::string_view> fields = SplitFields(*rest, 2);
    notice.storage.assign(Unquote(fields.front()).substr(0, kMaxStorageBytes));
    if (fields.size() == 2) notice.index = ParseNumber(fields[1]);
    return notice;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<StoredMessageHeader> ParseCmgrHeader(std::string_view line) noexcept {
  try {
    const std::optional<std::string_view> rest = AfterPrefix(line, "+CMGR:");
    if (!rest) return std::nullopt;
    return ReadStatusAlphaLength(SplitFields(*rest, kMaxFields), 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<StoredMessageHeader> ParseCmglHeader(std::string_view line) noexcept {
  try {
    const std::optional<std::string_view> rest = AfterPrefix(line, "+CMGL:");
    if (!rest) return std::nullopt;
    const std::vector<std::string_view> fields = SplitFields(*rest, kMaxFields);
    const std::optional<int> index = ParseNumber(fields.front());
    if (!index) return std::nullopt;
    std::optional<StoredMessageHeader> header = ReadStatusAlphaLength(fields, 1);
    if (header) header->index = *index;
    return header;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<int> ParseCdsHeader(std::string_view line) noexcept {
  try {
    const std::optional<std::string_view> rest = AfterPrefix(line, "+CDS:");
    if (!rest) return std::nullopt;
    // Some modems put an empty alpha field first: the length is the last field.
    const std::vector<std::string_view> fields = SplitFields(*rest, kMaxFields);
    const std::optional<int> length = ParseNumber(fields.back());
    if (!length || *length < 0 || *length > 255) return std::nullopt;
    return length;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace pagorin

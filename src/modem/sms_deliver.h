// What the modem hands over when something arrives: the hexadecimal PDU of an incoming message
// (SMS-DELIVER) or of a delivery report (SMS-STATUS-REPORT), and the result lines that announce
// them (+CMTI, +CDSI, +CMGR, +CMGL, +CDS in PDU mode). Pure functions; no state, no input or
// output, nothing thrown. Every length read from a PDU is checked against what is there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pagorin {

// A PDU line longer than this many hexadecimal digits is refused unread (an SCA of 12 octets and
// the longest TPDU fit well inside).
inline constexpr std::size_t kMaxIncomingPduHexDigits = 400;

// An address as the PDU carries it: a number, or an alphanumeric sender name.
struct SmsAddress {
  // The digits, "+" first for an international number; '*', '#', 'a', 'b', 'c' for the
  // semi-octets 0xA to 0xE. Empty for an alphanumeric address.
  std::string number;
  // The alphanumeric sender name (type of number 5) in UTF-16; empty for a number.
  std::u16string name;
  // The type-of-address octet as received (0x91 international, 0x81 unknown/national, 0xD0
  // alphanumeric).
  std::uint8_t typeOfAddress = 0;
  bool operator==(const SmsAddress&) const = default;
};

// A service-centre time stamp or discharge time: the moment in UTC and the zone it was given in.
struct SmsTimestamp {
  std::int64_t utcSeconds = 0;  // seconds since 1970-01-01 00:00 UTC
  int zoneMinutes = 0;          // local time minus UTC, in minutes (a multiple of 15)
  bool operator==(const SmsTimestamp&) const = default;
};

// How the user data is coded, from TP-DCS.
enum class SmsCoding : int {
  kGsm7Bit,     // GSM default alphabet with its extension table; also every reserved coding
  kEightBit,    // binary octets
  kUcs2,        // UTF-16 big-endian
  kCompressed,  // compressed text: not decompressed, its octets are in SmsDeliver::data
};

// One part of a concatenated message, from the user data header.
struct SmsConcatenation {
  int reference = 0;  // 0..255 for an 8-bit reference, 0..65535 for a 16-bit one
  int total = 0;      // parts of the message, 1..255
  int sequence = 0;   // this part's number, 1..total
  bool sixteenBitReference = false;
  bool operator==(const SmsConcatenation&) const = default;
};

// An incoming short message.
struct SmsDeliver {
  SmsAddress originator;
  std::uint8_t protocolId = 0;    // TP-PID
  std::uint8_t codingScheme = 0;  // TP-DCS as received
  SmsCoding coding = SmsCoding::kGsm7Bit;
  std::optional<int> messageClass;  // 0..3 when the coding scheme names a class
  // The service-centre time stamp; nullopt when its digits are no valid date and time (the
  // message itself is still delivered).
  std::optional<SmsTimestamp> serviceCentreTime;
  std::optional<SmsConcatenation> concatenation;  // from a well-formed element 0x00 or 0x08
  std::u16string text;                 // GSM 7-bit and UCS2 text, exactly (surrogates as received)
  std::vector<std::uint8_t> data;      // 8-bit and compressed user data, the header left out
  bool moreMessagesWaiting = false;    // TP-MMS is 0: the centre has more messages to deliver
  bool statusReportIndicated = false;  // TP-SRI: the sender asked for a status report
  bool replyPath = false;              // TP-RP
  bool operator==(const SmsDeliver&) const = default;
};

// What a delivery report says about the message it reports on.
enum class SmsDeliveryClass : int {
  kDelivered,          // 0x00..0x1F: the transaction is complete (0x00..0x02 defined)
  kStillTrying,        // 0x20..0x3F: a temporary error; the centre keeps trying
  kFailedPermanently,  // 0x40..0x5F: a permanent error; the centre has stopped
  kGaveUp,             // 0x60..0x7F: a temporary error, but the centre has stopped
  kUnknown,            // 0x80..0xFF: reserved; treat as not delivered
};

// TP-ST by its range; reserved and centre-specific values inside a range take that range's class.
SmsDeliveryClass ClassifyDeliveryStatus(std::uint8_t status) noexcept;

// A delivery report for a message this modem sent.
struct SmsStatusReport {
  int messageReference = 0;  // TP-MR of the reported message, 0..255 (as in "+CMGS: <mr>")
  SmsAddress recipient;
  std::optional<SmsTimestamp> serviceCentreTime;  // when the centre took the message
  std::optional<SmsTimestamp> dischargeTime;      // when it was delivered or given up
  std::uint8_t status = 0;                        // TP-ST as received
  SmsDeliveryClass deliveryClass = SmsDeliveryClass::kDelivered;
  bool reportsCommand = false;  // TP-SRQ: the report answers an SMS-COMMAND, not a message
  bool moreMessagesWaiting = false;
  bool operator==(const SmsStatusReport&) const = default;
};

// Why a PDU line was not decoded.
enum class PduDecodeError : int {
  kNone = 0,
  kBadHex,           // empty, odd length, longer than kMaxIncomingPduHexDigits, or not hex
  kTruncated,        // a field or the user data runs past the end
  kUnsupportedType,  // a message type other than SMS-DELIVER and SMS-STATUS-REPORT
  kMalformed,        // a length out of its range, or a user data header that does not fit
  kNoMemory,
};

// The outcome of decoding one PDU line.
struct DecodedPdu {
  PduDecodeError error = PduDecodeError::kNone;
  std::optional<SmsAddress> serviceCentre;  // when the line had one and it was not empty
  std::size_t tpduOctets = 0;  // octets after the service-centre address (the <length> field)
  std::variant<std::monostate, SmsDeliver, SmsStatusReport> message;
};

// Decodes the PDU line that follows +CMGR, +CMGL or +CDS (hexadecimal, either case, spaces and
// line ends around it ignored). With `withServiceCentre` the line starts with the service-centre
// length octet and address. On failure `error` says why and `message` holds nothing.
DecodedPdu DecodeIncomingPdu(std::string_view hex, bool withServiceCentre = true) noexcept;

// "+CMTI: <mem>,<index>" (a message stored) or "+CDSI: <mem>,<index>" (a report stored).
struct StoredMessageNotice {
  bool statusReport = false;  // +CDSI
  std::string storage;        // "SM", "ME", "SR", ... without quotes, at most 16 characters
  // The index as given, -1 and 0 included; nullopt when it is no number.
  std::optional<int> index;
};

// Reads a +CMTI or +CDSI line; nullopt for any other line.
std::optional<StoredMessageNotice> ParseStoredMessageNotice(std::string_view line) noexcept;

// The header of a message read (+CMGR) or listed (+CMGL) in PDU mode; its PDU is the next line.
struct StoredMessageHeader {
  int index = -1;     // +CMGL only; -1 for +CMGR
  int status = -1;    // <stat>: 0 received unread, 1 received read, 2 stored unsent, 3 sent
  std::string alpha;  // the phone-book name, without quotes, at most 64 bytes; often empty
  int length = 0;     // TPDU octets of the PDU line (its service-centre address not counted)
};

// "+CMGR: <stat>,[<alpha>],<length>"; the alpha field may be empty, missing, or quoted with
// commas inside. nullopt for any other line or an unreadable status or length.
std::optional<StoredMessageHeader> ParseCmgrHeader(std::string_view line) noexcept;

// "+CMGL: <index>,<stat>,[<alpha>],<length>", read as ParseCmgrHeader reads.
std::optional<StoredMessageHeader> ParseCmglHeader(std::string_view line) noexcept;

// "+CDS: <length>" in PDU mode: the TPDU octets of the report on the next line; nullopt for any
// other line.
std::optional<int> ParseCdsHeader(std::string_view line) noexcept;

}  // namespace pagorin

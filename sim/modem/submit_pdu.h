// Decoder of the SMS-SUBMIT transfer-layer PDU as a terminal hands it to the modem in PDU mode:
// an optional service-centre address followed by the TPDU, written in hexadecimal. It judges
// what a sender produced, so it accepts only what is well formed and says why otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pagorin::sim {

enum class Alphabet { kGsm7, kEightBit, kUcs2 };

// "GSM7", "8bit" or "UCS2".
const char* AlphabetName(Alphabet alphabet);

enum class ValidityFormat { kNone, kRelative, kEnhanced, kAbsolute };

// "none", "relative", "enhanced" or "absolute".
const char* ValidityFormatName(ValidityFormat format);

struct Validity {
  ValidityFormat format = ValidityFormat::kNone;
  std::vector<std::uint8_t> raw;  // the TP-VP octets as received (empty for none)
  std::string text;  // human-readable, e.g. "10 min", "until 2026-12-08 10:30:00 +08:00"
  // The period in seconds for relative forms (also enhanced relative ones); absent otherwise.
  std::optional<std::uint32_t> seconds;
};

// A concatenated-message information element (8-bit or 16-bit reference).
struct Concatenation {
  std::uint16_t reference = 0;
  std::uint8_t total = 0;
  std::uint8_t sequence = 0;
  bool sixteenBitReference = false;
};

struct SubmitPdu {
  std::string smsc;  // service-centre number ("+..." when international); empty when absent
  std::uint8_t firstOctet = 0;
  bool rejectDuplicates = false;
  bool statusReportRequest = false;
  bool replyPath = false;
  bool hasHeader = false;  // TP-UDHI
  std::uint8_t messageReference = 0;
  std::string destination;             // digits, "+" first for an international number
  std::uint8_t destinationLength = 0;  // the address length field (digits)
  std::uint8_t destinationType = 0;    // type-of-address octet
  std::uint8_t protocolId = 0;
  std::uint8_t dataCoding = 0;
  Alphabet alphabet = Alphabet::kGsm7;
  std::optional<int> messageClass;  // 0 to 3 when the coding scheme names one
  bool compressed = false;
  Validity validity;
  std::uint8_t userDataLength = 0;   // TP-UDL: septets for GSM 7-bit, octets otherwise
  std::vector<std::uint8_t> header;  // the user data header without its length octet
  std::optional<Concatenation> concatenation;
  std::vector<std::uint8_t> body;  // user data octets after the header (GSM 7-bit: septets)
  std::string text;                // the message text in UTF-8
  std::size_t tpduOctets = 0;      // octets after the service-centre part
};

struct DecodeResult {
  std::optional<SubmitPdu> pdu;
  int cmsError = 0;    // the +CMS ERROR code when `pdu` is empty
  std::string reason;  // why the PDU was refused, in English
};

// Decodes `hex` (the characters the terminal typed before Ctrl-Z). `announcedLength` is the
// length given with the send command: the TPDU octet count, not counting the service-centre
// part. Refusals carry code 304 (invalid PDU mode parameter). Never throws except
// std::bad_alloc.
DecodeResult DecodeSubmitPdu(std::string_view hex, int announcedLength);

// Text of an octet string as upper-case hexadecimal.
std::string ToHex(const std::vector<std::uint8_t>& octets);

}  // namespace pagorin::sim

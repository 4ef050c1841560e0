// SMS-SUBMIT in PDU mode: a destination number and a message text become the strings stored in a
// queued request, and those strings become the two command lines that carry one message to the
// modem. Pure functions; no state and no input or output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pagorin {

// One SMS-SUBMIT as the modem takes it: the command announcing its length and the PDU line
// written after the prompt. A message is one part, or several parts of a concatenated text.
struct SmsPart {
  std::string lengthCommand;  // "AT+CMGS=<TPDU octets>\r"
  std::string pduLine;        // the PDU in hexadecimal, then Ctrl-Z and a carriage return
};

// Switches the modem to PDU mode; sent as these 10 bytes before every message.
inline constexpr std::string_view kModeCommand = "AT+CMGF=0\r";

// Longest user data: 70 UTF-16 units, 140 octets.
inline constexpr std::size_t kMaxUserDataOctets = 140;

// A number of 11 or 12 decimal digits (no country code, no plus sign) to the 12 address
// characters of the destination field: swapped semi-octets, an 11-digit number padded with the
// filler F. "12345678901" gives "2143658709F1". Anything else is refused (nullopt).
std::optional<std::string> EncodePhoneDigits(std::string_view number);

// UTF-16 text to UCS2 octets, high byte first, up to the first zero unit and at most 70 units.
std::vector<std::uint8_t> ToUcs2BigEndian(std::u16string_view text);

// A code page 936 message text to its UCS2 user data as upper-case hexadecimal (4 to 280
// characters). Longer texts are cut at 70 UTF-16 units without notice; an empty text is refused
// (nullopt). Never throws: a failed allocation is a refusal.
std::optional<std::string> EncodeUserData(std::string_view text) noexcept;

// The 12-byte line announcing the PDU: "AT+CMGS=%03d\r" with the TPDU length in octets (15 fixed
// octets plus the user data; the leading service-centre length octet is not counted).
// `userDataHex` is a result of EncodeUserData.
std::string FormatCmgsCommand(std::string_view userDataHex);

// The PDU line, closed by Ctrl-Z and a carriage return; 34 bytes longer than `userDataHex`.
// The destination is international with country code 86; the address length says 13 digits for
// an 11-digit number (the F filler) and 14 for a 12-digit one. Arguments are results of
// EncodePhoneDigits and EncodeUserData.
std::string FormatSubmitPdu(std::string_view addressDigits, std::string_view userDataHex);

// How a message text becomes short messages.
struct SmsTextOptions {
  // True: a text longer than one SMS goes out as one concatenated message whose parts the phone
  // joins. False: as separate single messages of at most 70 UCS2 units each, for phones that
  // cannot join parts.
  bool concatenated = true;
  // Most parts (or separate messages) one text may take, at least 1; what does not fit is
  // replaced by an ellipsis at the end of the last part.
  int maxParts = 5;
  // The concatenation reference that tells this message's parts from those of the message
  // before it to the same phone; one per message and recipient.
  std::uint8_t reference = 0;
  bool statusReport = false;
};

enum class SmsAlphabet : int {
  kGsm7Bit,  // GSM default alphabet with its extension table: 160 septets, 153 per part
  kUcs2,     // UTF-16 big-endian: 70 units, 67 per part
};

// A message text ready for the modem: one SmsPart per SMS-SUBMIT, in sending order.
struct EncodedSms {
  std::vector<SmsPart> parts;
  SmsAlphabet alphabet = SmsAlphabet::kUcs2;
  // True when the text needed more than maxParts parts: its end was dropped and an ellipsis
  // ("…" in UCS2, "..." in the GSM alphabet) closes the last part.
  bool cut = false;
  // UTF-16 units of the text that went out, the ellipsis not counted: the whole text when it was
  // not cut.
  std::size_t keptUnits = 0;
};

// Encodes `text` (UTF-16, up to its first zero unit) to `number` (11 or 12 digits). GSM 7-bit
// when every character is in the GSM default alphabet or its extension table, else UCS2; a
// surrogate pair or an escape pair is never split between parts. Separate messages (options
// .concatenated false) are always UCS2. Refused (nullopt) for a number EncodePhoneDigits
// refuses, for an empty text, and when memory runs out.
std::optional<EncodedSms> EncodeSms(std::string_view number, std::u16string_view text,
                                    const SmsTextOptions& options) noexcept;

// The same for a code page 936 text, converted once to UTF-16. Bytes that are no valid code
// page 936 character are sent as the replacement character: counted, split and cut like every
// other character, never dropped silently.
std::optional<EncodedSms> EncodeSmsText(std::string_view number, std::string_view text,
                                        const SmsTextOptions& options) noexcept;

namespace detail {

// `text` in the GSM default alphabet: one septet per character, an escape (0x1B) and the
// extension code for a character of the extension table; nullopt when a character is in neither.
std::optional<std::vector<std::uint8_t>> ToGsmSeptets(std::u16string_view text);

// Septets packed into octets, the first septet in the low bits of the first octet, after
// `fillBits` zero bits (0 to 6) that align the text behind a user data header.
std::vector<std::uint8_t> PackSeptets(const std::vector<std::uint8_t>& septets, int fillBits);

}  // namespace detail

}  // namespace pagorin

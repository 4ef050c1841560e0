// Encoders of what the network hands the simulated modem: the SMS-DELIVER of a phone that writes
// to it (split into concatenated parts when long) and the SMS-STATUS-REPORT on a message it sent.
// Both come out as the modem shows them in PDU mode: the service-centre address, then the TPDU,
// in hexadecimal.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace pagorin::sim {

enum class TextCoding { kGsm7, kUcs2 };

// A service-centre time stamp: local time and its zone in quarters of an hour east of UTC.
struct CentreTime {
  int year = 2026;  // 2000 to 2099
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int zoneQuarters = 32;  // -79 to 79; +08:00 is 32
};

// The local time at `unixSeconds` in the zone `zoneQuarters` east of UTC.
CentreTime CentreTimeAt(std::time_t unixSeconds, int zoneQuarters);

// One PDU as the modem shows it: `hex` holds the service-centre part and the TPDU, `tpduLength`
// counts the TPDU octets (the length the modem announces with it).
struct EncodedPdu {
  std::string hex;
  int tpduLength = 0;
};

// An address field (length, type, value): "+..." is international, digits alone national, any
// other text alphanumeric in the GSM 7-bit alphabet (at most 11 characters).
std::vector<std::uint8_t> EncodeAddress(std::string_view number);

// A message a phone writes to the modem.
struct PhoneText {
  std::string smsc;  // the service centre, "+..."; empty: none given (length 0)
  std::string from;
  std::string text;  // UTF-8
  TextCoding coding = TextCoding::kGsm7;
  int parts = 0;  // the parts to split into; 0: as few as the text needs
  std::uint8_t concatReference = 0;
  CentreTime time;
};

// The parts of `message` in order, each with its own text. A text the coding cannot hold (a
// character outside the GSM 7-bit alphabet), or one that does not fit in `parts`, gives no parts
// and the reason in `error`.
struct DeliverPart {
  EncodedPdu pdu;
  std::string text;  // this part's text, UTF-8
};
std::vector<DeliverPart> EncodeDeliver(const PhoneText& message, std::string& error);

// An SMS-DELIVER around user data taken whole from elsewhere (a message looped back): `dcs`,
// the header indicator, TP-UDL and the user data octets as they were sent.
EncodedPdu EncodeDeliverUserData(const std::string& smsc, std::string_view from, std::uint8_t dcs,
                                 bool hasHeader, std::uint8_t userDataLength,
                                 const std::vector<std::uint8_t>& userData, const CentreTime& time);

// The service centre's word on a message it was handed.
struct StatusReport {
  std::string smsc;
  std::uint8_t reference = 0;  // the message reference the modem answered the send with
  std::string recipient;
  CentreTime submitted;     // when the centre took the message
  CentreTime discharged;    // when the status was reached
  std::uint8_t status = 0;  // TP-ST: 0x00 delivered, 0x20-0x3F still trying, 0x40-0x7F failed
};
EncodedPdu EncodeStatusReport(const StatusReport& report);

}  // namespace pagorin::sim

#include "modem/sms_deliver.h"

#include <gtest/gtest.h>

#include "modem/pdu.h"

namespace pagorin {
namespace {

// Every row has the service centre +8613800280500 ("0891683108200805F0") unless it says so.
// After it: first octet, originator (length in digits, type, swapped digits), PID, DCS, time
// stamp (7 swapped-BCD octets, the last the zone in quarter hours with its sign in bit 3), UDL.
struct DeliverRow {
  const char* name;
  const char* hex;
  std::string sender;
  std::u16string text;
  SmsCoding coding;
  std::int64_t utc;
  int zone;
  std::optional<SmsConcatenation> concat = std::nullopt;
  std::optional<int> messageClass = std::nullopt;
};

void PrintTo(const DeliverRow& row, std::ostream* out) {
  *out << row.name;
}

const DeliverRow kDeliverRows[] = {
    // SC +31624000000, from +31641600986, 2002-08-26 19:37:41 zone "08" (sign bit, 0 quarters).
    {"WorkedExample",
     "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07", "+31641600986",
     u"How are you?", SmsCoding::kGsm7Bit, 1030390661, 0},
    // DCS 08; zone "23" is 32 quarters (+8 h); "报警 😀" keeps its surrogate pair.
    {"Ucs2Surrogates",
     "0891683108200805F0040D91683119325476F80008423050410351230A62A58B660020D83DDE00",
     "+8613912345678", u"\u62A5\u8B66 \U0001F600", SmsCoding::kUcs2, 1709620215, 480},
    // Escapes 1B28 1B3C 1B65 1B3E 1B29 ...; zone "0A": 20 quarters west (-5 h).
    {"ExtensionTableWest",
     "0891683108200805F0040B912121550521F300003211033295850A131BD486B7296F7C9B1468D3DB003794CD0B",
     "+12125550123", u"{[\u20AC]} ~|^\\", SmsCoding::kGsm7Bit, 1701406798, -300},
    // Zone "49": 14 quarters west (-3 h 30); septet 0 is '@'.
    {"HalfHourWest", "0891683108200805F0040B915155214365F700002270106000004909808000842CB3D96F",
     "+15551234567", u"@\u00A3$ Hello", SmsCoding::kGsm7Bit, 1656667800, -210},
    // Originator "0D D0 ...": 13 semi-octets of packed septets, type of number 5.
    {"Alphanumeric",
     "0891683108200805F0040DD049B7F93D6D4E010000421020304050400C41B6BBDE06CDCB6E72590E", "InfoSMS",
     u"Alnum sender", SmsCoding::kGsm7Bit, 1704161045, 60},
    // Type 81, 5 digits with the filler F; 2024-02-29.
    {"NationalLeapDay", "0891683108200805F00005810180F600004220922100002308CC72180E2287F3", "10086",
     u"Leap day", SmsCoding::kGsm7Bit, 1709179200, 480},
    // UDHI; UDH 05 00 03 A7 02 01: 48 bits, one fill bit to septet 7.
    {"Concat8BitFillBit",
     "0891683108200805F0440D91683108108300F000004250607080902317050003A70201A061391DF47697416F33887"
     "E7F8300",
     "+8613800138000", u"Part one of two ", SmsCoding::kGsm7Bit, 1714950489, 480,
     SmsConcatenation{0xA7, 2, 1, false}},
    // UDH 06 08 04 12 34 02 02: 56 bits, no fill bits.
    {"Concat16BitNoFill",
     "0891683108200805F0440D91683108108300F00000425060708090231506080412340202613719040FCBE920FAFDE"
     "D02",
     "+8613800138000", u"and part two.", SmsCoding::kGsm7Bit, 1714950489, 480,
     SmsConcatenation{0x1234, 2, 2, true}},
    // UDH 09: element 24 (one octet) skipped, then 08 04 BE EF 03 03.
    {"Ucs2ConcatAfterOtherElement",
     "0891683108200805F0440D91683108108300F000084250607080902312092401000804BEEF03037B2C4E0990E852"
     "06",
     "+8613800138000", u"\u7B2C\u4E09\u90E8\u5206", SmsCoding::kUcs2, 1714950489, 480,
     SmsConcatenation{0xBEEF, 3, 3, true}},
    // DCS F1: default alphabet, class 1.
    {"ClassOne", "0891683108200805F0240D91683108108300F000F142506070809023094376783E07BDDD65",
     "+8613800138000", u"Class one", SmsCoding::kGsm7Bit, 1714950489, 480, std::nullopt, 1},
    // DCS 04 (8-bit) and DCS 20 (compressed): octets, no text.
    {"EightBit", "0891683108200805F0040D91683108108300F000044250607080902305000102FEFF",
     "+8613800138000", u"", SmsCoding::kEightBit, 1714950489, 480},
    {"Compressed", "0891683108200805F0040D91683108108300F000204250607080902303AABBCC",
     "+8613800138000", u"", SmsCoding::kCompressed, 1714950489, 480},
};

class DeliverTable : public ::testing::TestWithParam<DeliverRow> {};

TEST_P(DeliverTable, DecodesEveryFieldAndFailsOnEveryCut) {
  const DeliverRow& row = GetParam();
  const DecodedPdu decoded = DecodeIncomingPdu(row.hex);
  ASSERT_EQ(decoded.error, PduDecodeError::kNone);
  const auto* message = std::get_if<SmsDeliver>(&decoded.message);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->originator.name.empty()
                ? message->originator.number
                : std::string(message->originator.name.begin(), message->originator.name.end()),
            row.sender);
  EXPECT_EQ(message->text, row.text);
  EXPECT_EQ(message->coding, row.coding);
  ASSERT_TRUE(message->serviceCentreTime.has_value());
  EXPECT_EQ(message->serviceCentreTime->utcSeconds, row.utc);
  EXPECT_EQ(message->serviceCentreTime->zoneMinutes, row.zone);
  EXPECT_EQ(message->concatenation, row.concat);
  EXPECT_EQ(message->messageClass, row.messageClass);
  const std::string_view hex = row.hex;
  EXPECT_EQ(decoded.tpduOctets * 2 + 2 + 2 * std::stoul(std::string(hex.substr(0, 2)), nullptr, 16),
            hex.size());
  // The same TPDU without its service-centre address.
  const std::size_t scaDigits = 2 + 2 * std::stoul(std::string(hex.substr(0, 2)), nullptr, 16);
  const DecodedPdu bare = DecodeIncomingPdu(hex.substr(scaDigits), false);
  EXPECT_EQ(bare.error, PduDecodeError::kNone);
  EXPECT_EQ(bare.message, decoded.message);
  for (std::size_t cut = 0; cut < hex.size(); ++cut) {
    EXPECT_EQ(DecodeIncomingPdu(hex.substr(0, cut)).error,
              cut % 2 != 0 || cut == 0 ? PduDecodeError::kBadHex : PduDecodeError::kTruncated)
        << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(Deliver, DeliverTable, ::testing::ValuesIn(kDeliverRows));

TEST(DeliverPdu, FlagsAndData) {
  // First octet 24: TP-MMS set (nothing waiting), TP-SRI set; 00: more waiting.
  const DecodedPdu classOne = DecodeIncomingPdu(kDeliverRows[9].hex);
  const auto& sri = std::get<SmsDeliver>(classOne.message);
  EXPECT_TRUE(sri.statusReportIndicated);
  EXPECT_FALSE(sri.moreMessagesWaiting);
  EXPECT_FALSE(sri.replyPath);
  EXPECT_TRUE(
      std::get<SmsDeliver>(DecodeIncomingPdu(kDeliverRows[5].hex).message).moreMessagesWaiting);
  EXPECT_EQ(classOne.serviceCentre->number, "+8613800280500");
  const auto data = std::get<SmsDeliver>(DecodeIncomingPdu(kDeliverRows[10].hex).message).data;
  EXPECT_EQ(data, (std::vector<std::uint8_t>{0x00, 0x01, 0x02, 0xFE, 0xFF}));
  // Reply path (first octet 84), month 13 in the time stamp (the message still decodes),
  // lower-case hex and a line end; blanks inside the hex are refused.
  const DecodedPdu badTime = DecodeIncomingPdu(" 008405810180f600004231922100002302c834\r\n");
  EXPECT_EQ(DecodeIncomingPdu("0084 05810180f600004231922100002302c834").error,
            PduDecodeError::kBadHex);
  ASSERT_EQ(badTime.error, PduDecodeError::kNone);
  EXPECT_TRUE(std::get<SmsDeliver>(badTime.message).replyPath);
  EXPECT_FALSE(std::get<SmsDeliver>(badTime.message).serviceCentreTime.has_value());
  EXPECT_EQ(std::get<SmsDeliver>(badTime.message).text, u"Hi");
}

// Every septet of the basic table and every extension code, encoded by the sender's encoder
// behind headers of 0 to 11 octets (fill bits 0 to 6), decodes to text the encoder maps back.
TEST(DeliverPdu, SeptetTablesAgreeWithTheEncoderAtEveryFill) {
  std::vector<std::uint8_t> septets;
  for (std::uint8_t s = 0; s < 128; ++s) {
    if (s != 0x1B) septets.push_back(s);
  }
  for (int code : {0x0A, 0x14, 0x28, 0x29, 0x2F, 0x3C, 0x3D, 0x3E, 0x40, 0x65}) {
    septets.push_back(0x1B);
    septets.push_back(static_cast<std::uint8_t>(code));
  }
  for (std::size_t headerOctets = 0; headerOctets <= 11; ++headerOctets) {
    if (headerOctets == 2) continue;  // a header length 1 holds no element
    // Its length octet, then unknown elements: 7F 01 00 when needed for an odd count, 7F 00.
    std::vector<std::uint8_t> header;
    if (headerOctets > 0) header.push_back(static_cast<std::uint8_t>(headerOctets - 1));
    if (headerOctets > 0 && headerOctets % 2 == 0) header.insert(header.end(), {0x7F, 0x01, 0x00});
    while (header.size() < headerOctets)
      header.insert(header.end(), {0x7F, 0x00});
    const std::size_t headerSeptets = (header.size() * 8 + 6) / 7;
    const int fill = static_cast<int>(headerSeptets * 7 - header.size() * 8);
    std::vector<std::uint8_t> body = header;
    const std::vector<std::uint8_t> packed = detail::PackSeptets(septets, fill);
    body.insert(body.end(), packed.begin(), packed.end());
    std::string hex = header.empty() ? "0004" : "0044";
    hex +=
        "0581"
        "0180F6"
        "0000"
        "42509221000023";
    char octet[3];
    std::snprintf(octet, sizeof octet, "%02X",
                  static_cast<unsigned>(headerSeptets + septets.size()));
    hex += octet;
    for (std::uint8_t b : body) {
      std::snprintf(octet, sizeof octet, "%02X", b);
      hex += octet;
    }
    const DecodedPdu decoded = DecodeIncomingPdu(hex);
    ASSERT_EQ(decoded.error, PduDecodeError::kNone) << headerOctets;
    EXPECT_EQ(detail::ToGsmSeptets(std::get<SmsDeliver>(decoded.message).text), septets)
        << "fill " << fill;
  }
}

// After the service centre "00": first octet 06, MR, recipient, SCTS, discharge time, TP-ST.
struct ReportRow {
  const char* hex;
  int reference;
  std::string recipient;
  std::uint8_t status;
  SmsDeliveryClass deliveryClass;
  std::int64_t sent, discharged;
  int zone;
};

TEST(StatusReportPdu, EveryClassAndEveryCut) {
  const ReportRow rows[] = {
      {"0006450D91683119325476F8423050410351234230504103022300", 0x45, "+8613912345678", 0x00,
       SmsDeliveryClass::kDelivered, 1709620215, 1709620220, 480},
      {"0006000D91683119325476F8423050410351234230505100002321", 0, "+8613912345678", 0x21,
       SmsDeliveryClass::kStillTrying, 1709620215, 1709622000, 480},
      {"0006FF0D91683119325476F83221133295950A4210100000100A41", 255, "+8613912345678", 0x41,
       SmsDeliveryClass::kFailedPermanently, 1704085199, 1704085201, -300},
      // With a service centre, recipient type 81; TP-ST 62 then optional fields ignored.
      {"0891683108200805F0067B0B813119325476F842305041035123423060410351236200", 123, "13912345678",
       0x62, SmsDeliveryClass::kGaveUp, 1709620215, 1709706615, 480},
  };
  for (const ReportRow& row : rows) {
    SCOPED_TRACE(row.hex);
    const DecodedPdu decoded = DecodeIncomingPdu(row.hex);
    ASSERT_EQ(decoded.error, PduDecodeError::kNone);
    const auto& report = std::get<SmsStatusReport>(decoded.message);
    EXPECT_EQ(report.messageReference, row.reference);
    EXPECT_EQ(report.recipient.number, row.recipient);
    EXPECT_EQ(report.status, row.status);
    EXPECT_EQ(report.deliveryClass, row.deliveryClass);
    EXPECT_EQ(report.serviceCentreTime->utcSeconds, row.sent);
    EXPECT_EQ(report.dischargeTime->utcSeconds, row.discharged);
    EXPECT_EQ(report.dischargeTime->zoneMinutes, row.zone);
    const std::string_view hex = row.hex;
    const std::size_t end = hex.size() - (hex.size() > 60 ? 2 : 0);  // the optional octet
    for (std::size_t cut = 2; cut < end; cut += 2)
      EXPECT_EQ(DecodeIncomingPdu(hex.substr(0, cut)).error, PduDecodeError::kTruncated) << cut;
  }
}

TEST(StatusReportPdu, ClassifiesByRange) {
  using C = SmsDeliveryClass;
  const std::pair<std::uint8_t, C> rows[] = {
      {0x00, C::kDelivered},
      {0x02, C::kDelivered},
      {0x03, C::kDelivered},
      {0x1F, C::kDelivered},
      {0x20, C::kStillTrying},
      {0x3F, C::kStillTrying},
      {0x40, C::kFailedPermanently},
      {0x49, C::kFailedPermanently},
      {0x5F, C::kFailedPermanently},
      {0x60, C::kGaveUp},
      {0x7F, C::kGaveUp},
      {0x80, C::kUnknown},
      {0xFF, C::kUnknown},
  };
  for (const auto& [status, expected] : rows)
    EXPECT_EQ(ClassifyDeliveryStatus(status), expected) << int{status};
}

TEST(IncomingPdu, RefusesWhatItCannotRead) {
  const std::string longLine(kMaxIncomingPduHexDigits + 2, '0');
  const std::pair<std::string, PduDecodeError> rows[] = {
      {"", PduDecodeError::kBadHex},
      {"0G", PduDecodeError::kBadHex},
      {longLine, PduDecodeError::kBadHex},
      // SMS-SUBMIT (MTI 01) as stored for sending, and the reserved MTI 11.
      {"0011000B913121436587F90000AA0141", PduDecodeError::kUnsupportedType},
      {"0003", PduDecodeError::kUnsupportedType},
      // A service-centre length of 12 octets; an originator of 21 digits.
      {"0C91", PduDecodeError::kMalformed},
      {"000415910000000000000000000000", PduDecodeError::kMalformed},
      // UDL 161 septets; UCS2 UDL 141 octets.
      {"000405810180F6000042509221000023A1", PduDecodeError::kMalformed},
      {"000405810180F60008425092210000238D", PduDecodeError::kMalformed},
      // UDHI with a header length past the user data, and an element past the header.
      {"004405810180F6000442509221000023020500", PduDecodeError::kMalformed},
      {"004405810180F600044250922100002303020003", PduDecodeError::kMalformed},
      // 7-bit: a header of 6 octets needs 7 septets, UDL says 6.
      {"004405810180F60000425092210000230605000301020100", PduDecodeError::kMalformed},
  };
  for (const auto& [hex, error] : rows) {
    const DecodedPdu decoded = DecodeIncomingPdu(hex);
    EXPECT_EQ(decoded.error, error) << hex;
    EXPECT_TRUE(std::holds_alternative<std::monostate>(decoded.message)) << hex;
  }
  // Concatenation elements with no parts or a part beyond the count are ignored.
  for (const char* hex : {"004405810180F600044250922100002307050003010001"
                          "41",
                          "004405810180F600044250922100002307050003010203"
                          "41"}) {
    const DecodedPdu decoded = DecodeIncomingPdu(hex);
    ASSERT_EQ(decoded.error, PduDecodeError::kNone) << hex;
    EXPECT_FALSE(std::get<SmsDeliver>(decoded.message).concatenation.has_value()) << hex;
  }
}

TEST(ReplyLines, StoredNoticesKeepOddIndexes) {
  struct Row {
    const char* line;
    bool statusReport;
    const char* storage;
    std::optional<int> index;
  };
  const Row rows[] = {
      {"+CMTI: \"SM\",3", false, "SM", 3},         {"  +CMTI:  \"ME\" , 12 \r", false, "ME", 12},
      {"+CDSI: \"SR\",0", true, "SR", 0},          {"+CMTI: \"SM\",-1", false, "SM", -1},
      {"+CMTI: \"SM\",x7", false, "SM", {}},       {"+CMTI: \"SM\"", false, "SM", {}},
      {"+CMTI: \"SM\",99999999", false, "SM", {}},
  };
  for (const Row& row : rows) {
    const std::optional<StoredMessageNotice> notice = ParseStoredMessageNotice(row.line);
    ASSERT_TRUE(notice.has_value()) << row.line;
    EXPECT_EQ(notice->statusReport, row.statusReport) << row.line;
    EXPECT_EQ(notice->storage, row.storage) << row.line;
    EXPECT_EQ(notice->index, row.index) << row.line;
  }
  EXPECT_FALSE(ParseStoredMessageNotice("+CMT: ,24").has_value());
  EXPECT_FALSE(ParseStoredMessageNotice("OK").has_value());
}

TEST(ReplyLines, MessageHeaders) {
  struct Row {
    const char* line;
    int index, status;
    const char* alpha;
    int length;
  };
  const Row rows[] = {
      {"+CMGR: 0,,24", -1, 0, "", 24},
      {"+CMGR: 1,24", -1, 1, "", 24},
      {"+CMGR: 1, \"Plant, north\" ,39\r", -1, 1, "Plant, north", 39},
      {"+CMGR: \"REC UNREAD\",,24", -1, 0, "", 24},
      {"+CMGL: 7,1,,24", 7, 1, "", 24},
      {"+CMGL: 2,0,\"Pump\",156", 2, 0, "Pump", 156},
      {"+CMGL: 3,1,24", 3, 1, "", 24},
      {"+CMGL: 4,3,Bob,Jr,30", 4, 3, "Bob,Jr", 30},
  };
  for (const Row& row : rows) {
    const std::string_view line = row.line;
    const std::optional<StoredMessageHeader> header =
        line.substr(0, 6) == "+CMGR:" ? ParseCmgrHeader(line) : ParseCmglHeader(line);
    ASSERT_TRUE(header.has_value()) << row.line;
    EXPECT_EQ(header->index, row.index) << row.line;
    EXPECT_EQ(header->status, row.status) << row.line;
    EXPECT_EQ(header->alpha, row.alpha) << row.line;
    EXPECT_EQ(header->length, row.length) << row.line;
  }
  for (const char* line : {"+CMGR: 0", "+CMGR: 9,,24", "+CMGR: 0,,x", "+CMGR: 0,,300",
                           "+CMGL: ,0,,24", "+CMGL: 1,0", "+CMGR", "OK"}) {
    EXPECT_FALSE(ParseCmgrHeader(line).has_value() || ParseCmglHeader(line).has_value()) << line;
  }
  EXPECT_EQ(ParseCdsHeader("+CDS: 25\r"), 25);
  EXPECT_EQ(ParseCdsHeader("+CDS: ,25"), 25);
  EXPECT_FALSE(ParseCdsHeader("+CDS: ").has_value());
  EXPECT_FALSE(ParseCdsHeader("+CDSI: \"SR\",1").has_value());
  EXPECT_EQ(ParseStoredMessageNotice(std::string("+CMTI: \"") + std::string(100, 'M') + "\",1")
                ->storage.size(),
            16u);
}

}  // namespace
}  // namespace pagorin

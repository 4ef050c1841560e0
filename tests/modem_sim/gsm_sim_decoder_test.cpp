// Known answers for the simulator's SMS-SUBMIT decoder. The PDUs are written out by hand (or
// taken from published examples), so the decoder is checked against the transfer-layer format
// and not against any encoder of this project.
#include <gtest/gtest.h>

#include <string>

#include "gsm_text.h"
#include "submit_pdu.h"

namespace pagorin::sim {
namespace {

struct Accepted {
  const char* name;
  const char* hex;
  int length;
  const char* number;
  const char* text;
  Alphabet alphabet;
  const char* validity;
};

// Text mode: every UTF-8 literal below is what a phone would show.
const Accepted kAccepted[] = {
    {"SevenBitHelloHello", "0011000B916407281553F80000AA0AE8329BFD4697D9EC37", 23, "+46708251358",
     "hellohello", Alphabet::kGsm7, "4 days"},
    {"ServiceCentreNotCounted", "07911326040000F001000B916407281553F800000AE8329BFD4697D9EC37", 22,
     "+46708251358", "hellohello", Alphabet::kGsm7, "none"},
    {"Ucs2Latin", "0011000D91682143658709F10008010400410042", 19, "+8612345678901", "AB",
     Alphabet::kUcs2, "10 min"},
    {"Ucs2Chinese", "0011000D91682143658709F1000801046CF57AD9", 19, "+8612345678901", "泵站",
     Alphabet::kUcs2, "10 min"},
    {"Ucs2SurrogatePair", "0011000D91682143658709F100080104D83DDE00", 19, "+8612345678901",
     "\U0001F600", Alphabet::kUcs2, "10 min"},
    {"Ucs2LoneSurrogate", "0011000D91682143658709F100080104D83D0041", 19, "+8612345678901",
     "\uFFFDA", Alphabet::kUcs2, "10 min"},
    {"EightBitData", "0011000D91682143658709F10004010248C3", 17, "+8612345678901", "H\u00C3",
     Alphabet::kEightBit, "10 min"},
    {"ExtensionTable", "0001000B916407281553F80000129BF286B7F16D509BD4E6B5A16C7A1B20", 29,
     "+46708251358", "€[]{}\\^~|", Alphabet::kGsm7, "none"},
    {"BasicCharacterSet",
     "0001000B916407281553F800002A8080604028180E88C482E17840229209A562B960321A4EC7F32101B7DCAEF70B"
     "DEF3FBFE3F",
     50, "+46708251358", "@£$¥èéùìòÇØøÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ¤¡ÄÖÑÜ§¿äöñüà", Alphabet::kGsm7, "none"},
    {"NationalNumber", "0011000B816407281553F80000AA0AE8329BFD4697D9EC37", 23, "46708251358",
     "hellohello", Alphabet::kGsm7, "4 days"},
    {"ClassZeroSevenBit", "0011000B916407281553F800F0AA0AE8329BFD4697D9EC37", 23, "+46708251358",
     "hellohello", Alphabet::kGsm7, "4 days"},
    {"MessageWaitingUcs2", "0011000D91682143658709F100E8010400410042", 19, "+8612345678901", "AB",
     Alphabet::kUcs2, "10 min"},
    {"EnhancedRelative", "0009000D91682143658709F10008010A00000000000400410042", 25,
     "+8612345678901", "AB", Alphabet::kUcs2, "55 min"},
    {"EnhancedSeconds", "0009000D91682143658709F10008021E00000000000400410042", 25,
     "+8612345678901", "AB", Alphabet::kUcs2, "30 s"},
    {"EnhancedHoursMinutesSeconds", "0009000D91682143658709F10008030010030000000400410042", 25,
     "+8612345678901", "AB", Alphabet::kUcs2, "1 min 30 s"},
    {"EnhancedSingleShotNone", "0009000D91682143658709F10008400000000000000400410042", 25,
     "+8612345678901", "AB", Alphabet::kUcs2, "single-shot, none"},
    {"AbsoluteEastOfGreenwich", "0019000D91682143658709F10008622180010300230400410042", 25,
     "+8612345678901", "AB", Alphabet::kUcs2, "until 2026-12-08 10:30:00 +08:00"},
    {"AbsoluteWestOfGreenwich", "0019000D91682143658709F10008622180010300980400410042", 25,
     "+8612345678901", "AB", Alphabet::kUcs2, "until 2026-12-08 10:30:00 -02:15"},
};

TEST(GsmSimDecoder, DecodesKnownAnswers) {
  for (const auto& row : kAccepted) {
    SCOPED_TRACE(row.name);
    DecodeResult result = DecodeSubmitPdu(row.hex, row.length);
    ASSERT_TRUE(result.pdu) << result.reason;
    EXPECT_EQ(result.pdu->destination, row.number);
    EXPECT_EQ(result.pdu->text, row.text);
    EXPECT_EQ(result.pdu->alphabet, row.alphabet);
    EXPECT_EQ(result.pdu->validity.text, row.validity);
    EXPECT_EQ(result.pdu->tpduOctets, static_cast<std::size_t>(row.length));
  }
}

TEST(GsmSimDecoder, ReadsEveryFieldOfTheModuleLayout) {
  DecodeResult result = DecodeSubmitPdu("0011000D91682143658709F10008010400410042", 19);
  ASSERT_TRUE(result.pdu);
  const SubmitPdu& pdu = *result.pdu;
  EXPECT_EQ(pdu.smsc, "");
  EXPECT_EQ(pdu.firstOctet, 0x11);
  EXPECT_FALSE(pdu.hasHeader);
  EXPECT_FALSE(pdu.statusReportRequest);
  EXPECT_EQ(pdu.messageReference, 0);
  EXPECT_EQ(pdu.destinationLength, 13);
  EXPECT_EQ(pdu.destinationType, 0x91);
  EXPECT_EQ(pdu.protocolId, 0);
  EXPECT_EQ(pdu.dataCoding, 8);
  EXPECT_EQ(pdu.validity.format, ValidityFormat::kRelative);
  EXPECT_EQ(ToHex(pdu.validity.raw), "01");
  EXPECT_EQ(pdu.validity.seconds, 600u);
  EXPECT_EQ(pdu.userDataLength, 4);
  EXPECT_FALSE(pdu.concatenation);
}

TEST(GsmSimDecoder, TwelveDigitNumberNeedsFourteenDigitAddress) {
  DecodeResult full = DecodeSubmitPdu("0011000E9168214365870921000801020041", 17);
  ASSERT_TRUE(full.pdu) << full.reason;
  EXPECT_EQ(full.pdu->destination, "+86123456789012");
  // Thirteen digits announced, but the last semi-octet holds the twelfth digit of the number
  // instead of the filler: the recipient would be a different, shorter number.
  DecodeResult cut = DecodeSubmitPdu("0011000D9168214365870921000801020041", 17);
  EXPECT_FALSE(cut.pdu);
  EXPECT_EQ(cut.cmsError, 304);
  EXPECT_NE(cut.reason.find("filler"), std::string::npos) << cut.reason;
}

TEST(GsmSimDecoder, EnhancedPeriodAfterExtensionOctet) {
  DecodeResult result = DecodeSubmitPdu("0009000D91682143658709F10008810000000000000400410042", 25);
  ASSERT_TRUE(result.pdu) << result.reason;
  EXPECT_EQ(result.pdu->validity.format, ValidityFormat::kEnhanced);
  EXPECT_EQ(result.pdu->validity.text, "5 min");  // relative value 00 after one extension octet
}

TEST(GsmSimDecoder, RelativeValidityRanges) {
  struct Row {
    const char* octet;
    const char* text;
    std::uint32_t seconds;
  };
  const Row rows[] = {{"00", "5 min", 300},         {"8F", "12 h", 43200},
                      {"90", "12 h 30 min", 45000}, {"A7", "1 day", 86400},
                      {"A8", "2 days", 172800},     {"C4", "30 days", 2592000},
                      {"C5", "5 weeks", 3024000},   {"FF", "63 weeks", 38102400}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.octet);
    std::string hex = std::string("0011000D91682143658709F10008") + row.octet + "0400410042";
    DecodeResult result = DecodeSubmitPdu(hex, 19);
    ASSERT_TRUE(result.pdu) << result.reason;
    EXPECT_EQ(result.pdu->validity.text, row.text);
    EXPECT_EQ(result.pdu->validity.seconds, row.seconds);
  }
}

TEST(GsmSimDecoder, ConcatenationWithEightBitReferenceAndFillBits) {
  // Header 05 00 03 CC 03 02 takes 48 bits; one fill bit puts "hello" on septet 7.
  DecodeResult result = DecodeSubmitPdu("0051000B916407281553F80000AA0C050003CC0302D06536FB0D", 25);
  ASSERT_TRUE(result.pdu) << result.reason;
  EXPECT_TRUE(result.pdu->hasHeader);
  EXPECT_EQ(result.pdu->text, "hello");
  ASSERT_TRUE(result.pdu->concatenation);
  EXPECT_EQ(result.pdu->concatenation->reference, 0xCC);
  EXPECT_EQ(result.pdu->concatenation->total, 3);
  EXPECT_EQ(result.pdu->concatenation->sequence, 2);
  EXPECT_FALSE(result.pdu->concatenation->sixteenBitReference);
}

TEST(GsmSimDecoder, ConcatenationWithSixteenBitReference) {
  DecodeResult result =
      DecodeSubmitPdu("0051000D91682143658709F10008010E092401AA08041234020162A58B66", 29);
  ASSERT_TRUE(result.pdu) << result.reason;
  EXPECT_EQ(result.pdu->text, "报警");
  ASSERT_TRUE(result.pdu->concatenation);  // found after an element of another kind
  EXPECT_EQ(result.pdu->concatenation->reference, 0x1234);
  EXPECT_EQ(result.pdu->concatenation->total, 2);
  EXPECT_EQ(result.pdu->concatenation->sequence, 1);
  EXPECT_TRUE(result.pdu->concatenation->sixteenBitReference);
}

TEST(GsmSimDecoder, IgnoresConcatenationWithSequenceBeyondTotal) {
  DecodeResult result = DecodeSubmitPdu("0051000B916407281553F80000AA0C050003CC0203D06536FB0D", 25);
  ASSERT_TRUE(result.pdu) << result.reason;
  EXPECT_EQ(result.pdu->text, "hello");
  EXPECT_FALSE(result.pdu->concatenation);
}

struct Refused {
  const char* name;
  const char* hex;
  int length;
  const char* reason;  // a part of the explanation
};

const Refused kRefused[] = {
    {"Empty", "", 0, "empty"},
    {"BadHexDigit", "0011000D91682143658709F10008010400410G42", 19, "not a hexadecimal digit"},
    {"SpaceInsideHex", "0011000D91682143658709F1 0008010400410042", 19, "not a hexadecimal"},
    {"OddHexLength", "0011000D91682143658709F1000801040041004", 19, "odd number"},
    {"LengthTooSmall", "0011000D91682143658709F10008010400410042", 18, "announced"},
    {"LengthTooLarge", "0011000D91682143658709F10008010400410042", 20, "announced"},
    {"LengthCountsServiceCentre", "07911326040000F001000B916407281553F800000AE8329BFD4697D9EC37",
     30, "announced"},
    {"Deliver", "0004000D91682143658709F10008010400410042", 19, "not an SMS-SUBMIT"},
    {"DeliverType0", "0000000D91682143658709F10008010400410042", 19, "not an SMS-SUBMIT"},
    {"Command", "0002000D91682143658709F10008010400410042", 19, "not an SMS-SUBMIT"},
    {"ReservedType", "0003000D91682143658709F10008010400410042", 19, "not an SMS-SUBMIT"},
    {"NoMessageReference", "0011", 1, "message reference"},
    {"NoAddressLength", "001100", 2, "destination address length"},
    {"NoTypeOfAddress", "0011000D", 3, "destination type of address"},
    {"ShortAddress", "0011000D91682143", 7, "destination address"},
    {"NoProtocolId", "0011000D91682143658709F1", 11, "protocol identifier"},
    {"NoCodingScheme", "0011000D91682143658709F100", 12, "data coding scheme"},
    {"NoValidity", "0011000D91682143658709F10008", 13, "validity period"},
    {"ShortAbsoluteValidity", "0019000D91682143658709F1000862218001", 17, "validity period"},
    {"NoUserDataLength", "0011000D91682143658709F1000801", 14, "user data length"},
    {"UserDataCut", "0011000D91682143658709F100080104004100", 18, "user data"},
    {"OctetsAfterUserData", "0011000D91682143658709F1000801020041004200", 20,
     "follow the user data"},
    {"TooManySeptets", "0011000D91682143658709F1000001A1", 15, "160 septets"},
    {"TooManyOctets", "0011000D91682143658709F10008018D", 15, "140 octets"},
    {"Ucs2OddOctets", "0011000D91682143658709F100080103004100", 18, "odd"},
    {"AddressTooLong", "00110015", 3, "of 21 digits"},
    {"FillerInsideNumber", "0011000D91682143F58709F10008010400410042", 19, "filler F inside"},
    {"ServiceCentreTooLong", "0C911326040000F0000000000000", 1, "service-centre address of 12"},
    {"ShortServiceCentre", "07911326", 0, "service-centre address"},
    {"HeaderLongerThanUserData", "0051000D91682143658709F10008010405000300", 19, "does not fit"},
    {"HeaderElementOverrun", "0051000D91682143658709F10008010704000501020041", 22, "overruns"},
    {"ConcatenationElementLength", "0051000D91682143658709F10008010704000201020041", 22,
     "has length 2"},
    {"HeaderWithoutUserData", "0051000D91682143658709F1000801", 14, "user data length"},
    {"EmptyUserDataWithHeader", "0051000D91682143658709F100080100", 15, "user data is empty"},
    {"SevenBitHeaderBeyondLength", "0051000D91682143658709F100000103060003", 18, "does not fit"},
    {"AbsoluteMonthThirteen", "0019000D91682143658709F10008623180010300230400410042", 25,
     "invalid time stamp"},
    {"AbsoluteBadDigit", "0019000D91682143658709F100086221800103A0230400410042", 25,
     "invalid time stamp"},
    {"EnhancedBadSeconds", "0009000D91682143658709F10008030010060000000400410042", 25, "hh:mm:ss"},
};

TEST(GsmSimDecoder, RefusesMalformedPdus) {
  for (const auto& row : kRefused) {
    SCOPED_TRACE(row.name);
    DecodeResult result = DecodeSubmitPdu(row.hex, row.length);
    EXPECT_FALSE(result.pdu);
    EXPECT_EQ(result.cmsError, 304);
    EXPECT_NE(result.reason.find(row.reason), std::string::npos) << result.reason;
  }
}

TEST(GsmSimText, UnpacksSeptetsAcrossOctetBoundaries) {
  // Eight septets fill exactly seven octets; the eighth sits in the top bits of the last three.
  auto septets = UnpackSeptets({0xE8, 0x32, 0x9B, 0xFD, 0x46, 0x97, 0xD9}, 8);
  EXPECT_EQ(GsmSeptetsToUtf8(septets), "hellohel");
  // Asking for more septets than the octets hold yields only those present.
  EXPECT_EQ(UnpackSeptets({0xE8}, 3).size(), 1u);
}

TEST(GsmSimText, ExtensionEdgeCases) {
  // An escape before a code without an extension character shows the basic one; a trailing
  // escape shows nothing; a double escape shows a space.
  EXPECT_EQ(GsmSeptetsToUtf8({0x1B, 0x41, 0x1B}), "A");
  EXPECT_EQ(GsmSeptetsToUtf8({0x1B, 0x1B, 0x42}), " B");
}

TEST(GsmSimText, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8("泵站 \U0001F600 ok"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xE6\xB3"));          // cut
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}

}  // namespace
}  // namespace pagorin::sim

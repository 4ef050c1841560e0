#include "modem/pdu.h"

#include <gtest/gtest.h>

#include <string>

namespace pagorin {
namespace {

using namespace std::string_literals;

// "报警" (alarm) in code page 936.
const std::string kAlarmCp936 = "\xB1\xA8\xBE\xAF";

struct KnownAnswer {
  const char* name;
  std::string number;
  std::string text;
  std::string addressDigits;
  std::string userDataHex;
  std::string cmgs;
  std::string pdu;
};

void PrintTo(const KnownAnswer& row, std::ostream* out) {
  *out << row.name;
}

class PduKnownAnswer : public ::testing::TestWithParam<KnownAnswer> {};

TEST_P(PduKnownAnswer, EncodesByteForByte) {
  const KnownAnswer& row = GetParam();
  const std::optional<std::string> address = EncodePhoneDigits(row.number);
  ASSERT_TRUE(address.has_value());
  EXPECT_EQ(*address, row.addressDigits);
  const std::optional<std::string> userData = EncodeUserData(row.text);
  ASSERT_TRUE(userData.has_value());
  EXPECT_EQ(*userData, row.userDataHex);
  EXPECT_EQ(FormatCmgsCommand(*userData), row.cmgs);
  EXPECT_EQ(FormatCmgsCommand(*userData).size(), 12u);
  const std::string pdu = FormatSubmitPdu(*address, *userData);
  EXPECT_EQ(pdu, row.pdu);
  EXPECT_EQ(pdu.size(), 34 + userData->size());
}

const std::string kHundredAscii(100, 'x');
const std::string kSeventyX = [] {
  std::string hex;
  for (int i = 0; i < 70; ++i)
    hex += "0078";
  return hex;
}();

INSTANTIATE_TEST_SUITE_P(
    Pdu, PduKnownAnswer,
    ::testing::Values(KnownAnswer{"ElevenDigitsAscii", "12345678901", "AB", "2143658709F1",
                                  "00410042", "AT+CMGS=019\r",
                                  "0011000D91682143658709F10008010400410042\x1A\r"s},
                      KnownAnswer{"ChineseText", "12345678901", kAlarmCp936, "2143658709F1",
                                  "62A58B66", "AT+CMGS=019\r",
                                  "0011000D91682143658709F1000801"
                                  "0462A58B66\x1A\r"s},
                      // A 12-digit number has no filler; its address length counts 14 digits.
                      KnownAnswer{"TwelveDigits", "123456789012", "AB", "214365870921", "00410042",
                                  "AT+CMGS=019\r",
                                  "0011000E9168214365870921000801"
                                  "0400410042\x1A\r"s},
                      KnownAnswer{"OneCharacter", "13800138000", "A", "3108108300F0", "0041",
                                  "AT+CMGS=017\r",
                                  "0011000D91683108108300F0000801"
                                  "020041\x1A\r"s},
                      KnownAnswer{"CutAtSeventyUnits", "12345678901", kHundredAscii, "2143658709F1",
                                  kSeventyX, "AT+CMGS=155\r",
                                  "0011000D91682143658709F1000801"
                                  "8C"s +
                                      kSeventyX + "\x1A\r"s}),
    [](const ::testing::TestParamInfo<KnownAnswer>& row) { return row.param.name; });

TEST(Pdu, ModeCommandIsTenBytes) {
  EXPECT_EQ(kModeCommand, "AT+CMGF=0\r");
}

TEST(Pdu, RefusesNumbersThatAreNotElevenOrTwelveDigits) {
  for (const char* number : {"", "1234567890", "1234567890123", "+1234567890", "+8612345678901",
                             "1234 567890", "1234567890a", "123-4567890", "12345678901 "}) {
    EXPECT_FALSE(EncodePhoneDigits(number).has_value()) << '"' << number << '"';
  }
}

TEST(Pdu, RefusesEmptyTextAndTextStartingWithZero) {
  EXPECT_FALSE(EncodeUserData("").has_value());
  EXPECT_FALSE(EncodeUserData("\0AB"s).has_value());
}

TEST(Pdu, ChineseTextIsCutAtSeventyCharacters) {
  std::string text;
  for (int i = 0; i < 71; ++i)
    text += kAlarmCp936.substr(0, 2);
  const std::optional<std::string> userData = EncodeUserData(text);
  ASSERT_TRUE(userData.has_value());
  EXPECT_EQ(userData->size(), 280u);
  EXPECT_EQ(userData->substr(0, 8), "62A562A5");
  EXPECT_EQ(FormatCmgsCommand(*userData), "AT+CMGS=155\r");
}

TEST(Pdu, Ucs2StopsAtZeroUnitAndCountsSurrogatesAsTwo) {
  struct Row {
    std::u16string text;
    std::vector<std::uint8_t> octets;
  };
  const Row rows[] = {
      {u"A\0B"s, {0x00, 0x41}},
      {u"\U0001F600", {0xD8, 0x3D, 0xDE, 0x00}},
      {u"\u62A5", {0x62, 0xA5}},
      {u""s, {}},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ToUcs2BigEndian(row.text), row.octets);
  EXPECT_EQ(ToUcs2BigEndian(std::u16string(71, u'x')).size(), kMaxUserDataOctets);
  // A surrogate pair that would straddle the limit keeps only the units that fit.
  std::u16string straddling(69, u'x');
  straddling += u"\U0001F600";
  EXPECT_EQ(ToUcs2BigEndian(straddling).size(), kMaxUserDataOctets);
}

TEST(Pdu, StatusReportRequestIsSetInEveryPartAndOnlyThen) {
  // The first octet follows the service-centre octet "00": 0x11 single, 0x51 with a header;
  // TP-SRR adds 0x20.
  for (const bool report : {false, true}) {
    for (const std::u16string& text : {std::u16string(u"AB"), std::u16string(200, u'x')}) {
      SmsTextOptions options;
      options.statusReport = report;
      const std::optional<EncodedSms> encoded = EncodeSms("12345678901", text, options);
      ASSERT_TRUE(encoded);
      for (const SmsPart& part : encoded->parts) {
        const std::string single = report ? "31" : "11";
        const std::string joined = report ? "71" : "51";
        EXPECT_EQ(part.pduLine.substr(2, 2), encoded->parts.size() > 1 ? joined : single);
      }
    }
  }
}

}  // namespace
}  // namespace pagorin

// Known answers for the simulator's SMS-DELIVER and SMS-STATUS-REPORT encoders: octets written
// out by hand from the transfer-layer format, and long texts read back part by part.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "deliver_pdu.h"
#include "gsm_text.h"
#include "submit_pdu.h"

namespace pagorin::sim {
namespace {

const CentreTime kTime{2026, 12, 8, 10, 30, 0, 32};  // SCTS 62218001030023

std::vector<std::uint8_t> Octets(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(GsmSimDeliver, KnownOctets) {
  CentreTime later = kTime;
  later.second = 5;
  CentreTime west = kTime;
  west.zoneQuarters = -20;  // -05:00: 02 with the sign bit
  std::string ignored;
  struct Row {
    const char* name;
    EncodedPdu pdu;
    const char* hex;
    int length;
  };
  const Row rows[] = {
      {"ReportDelivered", EncodeStatusReport({"", 5, "+8613800138000", kTime, later, 0x00}),
       "0006050D91683108108300F0622180010300236221800103502300", 26},
      {"ReportFailedWithCentre",
       EncodeStatusReport({"+8613800100500", 255, "13800138000", kTime, kTime, 0x41}),
       "0891683108100005F006FF0BA13108108300F0622180010300236221800103002341", 25},
      {"DeliverNationalGsm7",
       EncodeDeliver({"", "13800138000", "hi", TextCoding::kGsm7, 0, 0, kTime}, ignored).at(0).pdu,
       "00040BA13108108300F0000062218001030023"
       "02E834",
       21},
      {"DeliverAlphanumericUcs2WestZone",
       EncodeDeliver({"", "ABC", "泵", TextCoding::kUcs2, 1, 0, west}, ignored).at(0).pdu,
       "000406D041E11000086221800103000A"
       "026CF5",
       18},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.pdu.hex, row.hex) << row.name;
    EXPECT_EQ(row.pdu.tpduLength, row.length) << row.name;
  }
}

// Reads the parts back (header, fill bits, septets or UTF-16) and joins their texts.
TEST(GsmSimDeliver, LongTextsSplitAndReadBack) {
  std::string long200(200, 'x');
  struct Row {
    TextCoding coding;
    std::string text;
    int parts;  // asked for
    std::size_t made;
  };
  const Row rows[] = {
      {TextCoding::kGsm7, "Pump {1} stopped at 10:30, 5€ lost [ok]", 3, 3},
      {TextCoding::kUcs2, "泵站停机😀请检查", 3, 3},
      {TextCoding::kGsm7, long200, 0, 2},
      {TextCoding::kUcs2, std::string(71, 'a'), 0, 2},
  };
  for (const Row& row : rows) {
    std::string error;
    auto parts = EncodeDeliver(
        {"+8613800100500", "+8613800138000", row.text, row.coding, row.parts, 0x7E, kTime}, error);
    ASSERT_EQ(parts.size(), row.made) << row.text << ": " << error;
    std::string joined;
    for (std::size_t p = 0; p < parts.size(); ++p) {
      std::vector<std::uint8_t> all = Octets(parts[p].pdu.hex);
      std::vector<std::uint8_t> tpdu(all.begin() + 1 + all[0], all.end());
      ASSERT_EQ(tpdu.size(), static_cast<std::size_t>(parts[p].pdu.tpduLength));
      ASSERT_EQ(tpdu[0], 0x44) << "deliver with a header";
      std::size_t at = 2 + 1 + (tpdu[1] + 1) / 2;  // first octet, length, type, digits
      ASSERT_EQ(tpdu[at + 1], row.coding == TextCoding::kGsm7 ? 0x00 : 0x08);
      at += 2 + 7;
      std::size_t udl = tpdu[at++];
      std::vector<std::uint8_t> ud(tpdu.begin() + static_cast<std::ptrdiff_t>(at), tpdu.end());
      const std::vector<std::uint8_t> header = {0x05,
                                                0x00,
                                                0x03,
                                                0x7E,
                                                static_cast<std::uint8_t>(parts.size()),
                                                static_cast<std::uint8_t>(p + 1)};
      ASSERT_EQ(std::vector<std::uint8_t>(ud.begin(), ud.begin() + 6), header);
      std::string text;
      if (row.coding == TextCoding::kGsm7) {
        ASSERT_LE(udl, 160u);
        std::vector<std::uint8_t> septets = UnpackSeptets(ud, udl);
        ASSERT_EQ(septets.size(), udl);
        text = GsmSeptetsToUtf8(std::vector<std::uint8_t>(septets.begin() + 7, septets.end()));
      } else {
        ASSERT_EQ(udl, ud.size());
        ASSERT_LE(udl, 140u);
        text = Utf16BeToUtf8(ud.data() + 6, ud.size() - 6);
      }
      EXPECT_EQ(text, parts[p].text);
      joined += text;
    }
    EXPECT_EQ(joined, row.text);
  }
}

TEST(GsmSimDeliver, RefusesWhatDoesNotFit) {
  const PhoneText rows[] = {
      {"", "1", "泵", TextCoding::kGsm7, 0, 0, kTime},                   // not in the alphabet
      {"", "1", std::string(161, 'a'), TextCoding::kGsm7, 1, 0, kTime},  // one part too few
      {"", "1", "ab", TextCoding::kGsm7, 3, 0, kTime},  // fewer characters than parts
  };
  for (const PhoneText& row : rows) {
    std::string error;
    EXPECT_TRUE(EncodeDeliver(row, error).empty()) << row.text;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace pagorin::sim

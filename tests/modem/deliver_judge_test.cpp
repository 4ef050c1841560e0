// The decoder against an independent one: deliver_judge.py decodes the PDUs of
// data/deliver_pdus.txt with python-gammu and prints each in a normalised form; every field must
// agree with what DecodeIncomingPdu makes of the same line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "modem/sms_deliver.h"

namespace pagorin {
namespace {

std::string Utf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The wall-clock time the stamp was written in, as the judge prints it.
std::string WallClock(const std::optional<SmsTimestamp>& stamp) {
  if (!stamp) return "";
  const std::time_t local = static_cast<std::time_t>(stamp->utcSeconds + stamp->zoneMinutes * 60);
  std::tm parts{};
  gmtime_r(&local, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  return text;
}

std::string Number(const SmsAddress& address) {
  return address.name.empty() ? address.number : Utf8(address.name);
}

std::string Hex(const std::vector<std::uint8_t>& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t octet : data) {
    out += kDigits[octet >> 4];
    out += kDigits[octet & 0x0F];
  }
  return out;
}

const char* CodingName(SmsCoding coding) {
  switch (coding) {
    case SmsCoding::kGsm7Bit:
      return "gsm7";
    case SmsCoding::kEightBit:
      return "8bit";
    case SmsCoding::kUcs2:
      return "ucs2";
    case SmsCoding::kCompressed:
      return "compressed";
  }
  return "?";
}

const char* Outcome(SmsDeliveryClass deliveryClass) {
  switch (deliveryClass) {
    case SmsDeliveryClass::kDelivered:
      return "delivered";
    case SmsDeliveryClass::kStillTrying:
      return "still-trying";
    default:
      return "failed";
  }
}

TEST(DeliverJudge, AgreesWithLibgammu) {
  const std::string command = std::string("'") + PAGORIN_JUDGE_PYTHON + "' '" +
                              PAGORIN_JUDGE_SCRIPT + "' '" + PAGORIN_JUDGE_DATA + "'";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  const int status = ::pclose(pipe);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
    GTEST_SKIP() << "python3 cannot import gammu (Debian package python3-gammu)";
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;

  int compared = 0;
  std::size_t start = 0;
  for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    const nlohmann::json judge = nlohmann::json::parse(output.substr(start, end - start));
    const std::string pdu = judge.at("pdu");
    SCOPED_TRACE(pdu);
    const DecodedPdu decoded = DecodeIncomingPdu(pdu);
    ASSERT_EQ(decoded.error, PduDecodeError::kNone);
    ++compared;
    if (judge.at("type") == "report") {
      const auto* report = std::get_if<SmsStatusReport>(&decoded.message);
      ASSERT_NE(report, nullptr);
      EXPECT_EQ(Number(report->recipient), judge.at("number"));
      EXPECT_EQ(report->messageReference, judge.at("reference"));
      EXPECT_EQ(report->status, judge.at("status"));
      EXPECT_EQ(Outcome(report->deliveryClass), judge.at("outcome"));
      EXPECT_EQ(WallClock(report->serviceCentreTime), judge.at("time"));
      EXPECT_EQ(WallClock(report->dischargeTime), judge.at("discharge"));
      continue;
    }
    const auto* message = std::get_if<SmsDeliver>(&decoded.message);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(Number(message->originator), judge.at("number"));
    EXPECT_EQ(CodingName(message->coding), judge.at("coding"));
    EXPECT_EQ(WallClock(message->serviceCentreTime), judge.at("time"));
    if (judge.contains("data")) {
      EXPECT_EQ(Hex(message->data), judge.at("data"));
    } else {
      EXPECT_EQ(Utf8(message->text), judge.at("text"));
    }
    ASSERT_EQ(message->concatenation.has_value(), judge.contains("total"));
    if (message->concatenation) {
      EXPECT_EQ(message->concatenation->reference, judge.at("reference"));
      EXPECT_EQ(message->concatenation->total, judge.at("total"));
      EXPECT_EQ(message->concatenation->sequence, judge.at("sequence"));
    }
  }
  EXPECT_GE(compared, 10);
}

}  // namespace
}  // namespace pagorin

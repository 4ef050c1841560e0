// The module's SMS encoder against the modem simulator: known answers for the PDUs of single,
// concatenated and separate messages, each PDU decoded by the simulator's decoder and the parts
// joined as a phone joins them.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "gsm_sim_process.h"
#include "gsm_text.h"
#include "modem/pdu.h"
#include "phone_inbox.h"
#include "platform/code_page.h"
#include "submit_pdu.h"

namespace pagorin {
namespace {

using namespace std::string_literals;

std::u16string Repeat(std::u16string_view piece, int count) {
  std::u16string text;
  for (int i = 0; i < count; ++i)
    text += piece;
  return text;
}
std::string Repeat(std::string_view piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += piece;
  return text;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::vector<std::uint8_t> octets;
  for (char16_t unit : text) {
    octets.push_back(static_cast<std::uint8_t>(unit >> 8));
    octets.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  }
  return sim::Utf16BeToUtf8(octets.data(), octets.size());
}

// The announced TPDU length of "AT+CMGS=nnn\r".
int AnnouncedLength(const SmsPart& part) {
  return std::stoi(part.lengthCommand.substr(8, 3));
}

// Hands every part to the simulator's decoder and to a phone; returns what the phone shows.
// Each part must be accepted with exactly the length its command announced.
std::vector<sim::ShownMessage> Deliver(const EncodedSms& encoded) {
  sim::PhoneInbox phone;
  std::vector<sim::ShownMessage> shown;
  int reference = 0;
  for (const SmsPart& part : encoded.parts) {
    EXPECT_EQ(part.lengthCommand.size(), 12u);
    EXPECT_TRUE(part.pduLine.ends_with("\x1A\r"));
    const std::string hex = part.pduLine.substr(0, part.pduLine.size() - 2);
    sim::DecodeResult decoded = sim::DecodeSubmitPdu(hex, AnnouncedLength(part));
    EXPECT_TRUE(decoded.pdu) << decoded.reason << "\n" << hex;
    if (!decoded.pdu) continue;
    sim::AcceptedMessage accepted;
    accepted.reference = reference++;
    accepted.pduHex = hex;
    accepted.pdu = *decoded.pdu;
    for (auto& message : phone.Take(accepted))
      shown.push_back(std::move(message));
  }
  EXPECT_EQ(phone.WaitingCount(), 0u);
  return shown;
}

struct ExpectedPart {
  std::string lengthCommand;
  std::string pduStart;  // the PDU line from its start: the whole line without Ctrl-Z and CR,
                         // or, for long parts, up to the end of the user data header
};

struct KnownAnswer {
  const char* name;
  std::string number;
  std::u16string text;
  SmsTextOptions options;
  SmsAlphabet alphabet;
  bool cut;
  std::vector<ExpectedPart> parts;
  std::vector<std::string> shown;  // the messages the phone shows, in UTF-8
};

void PrintTo(const KnownAnswer& row, std::ostream* out) {
  *out << row.name;
}

constexpr SmsTextOptions kConcatenated{true, 5, 0x2A};
constexpr SmsTextOptions kSeparate{false, 5, 0};

const std::string kHeadGsm = "0011000D91682143658709F1000001";
const std::string kHeadUcs2 = "0011000D91682143658709F1000801";
const std::string kHeadGsmConcat = "0051000D91682143658709F1000001";
const std::string kHeadUcs2Concat = "0051000D91682143658709F1000801";
const std::string kAlarmChar = "报";  // U+62A5
const std::string kSmile = "\U0001F600";

const KnownAnswer kKnownAnswers[] = {
    {"SevenBitSingle",
     "12345678901",
     u"hellohello",
     kConcatenated,
     SmsAlphabet::kGsm7Bit,
     false,
     {{"AT+CMGS=024\r", kHeadGsm + "0AE8329BFD4697D9EC37"}},
     {"hellohello"}},
    {"ExtensionPairs",
     "12345678901",
     u"{€}",
     kConcatenated,
     SmsAlphabet::kGsm7Bit,
     false,
     {{"AT+CMGS=021\r", kHeadGsm + "061BD4A6BC4901"}},
     {"{€}"}},
    {"AtSignIsSeptetZero",
     "12345678901",
     u"@",
     kConcatenated,
     SmsAlphabet::kGsm7Bit,
     false,
     {{"AT+CMGS=016\r", kHeadGsm + "0100"}},
     {"@"}},
    {"AccentsOfTheBasicSet",
     "12345678901",
     u"café",
     kConcatenated,
     SmsAlphabet::kGsm7Bit,
     false,
     {{"AT+CMGS=019\r", kHeadGsm + "04E3B0B900"}},
     {"café"}},
    {"TwelveDigitsSevenBit",
     "123456789012",
     u"AB",
     kConcatenated,
     SmsAlphabet::kGsm7Bit,
     false,
     {{"AT+CMGS=017\r", "0011000E9168214365870921000001024121"}},
     {"AB"}},
    {"ChineseIsUcs2",
     "12345678901",
     u"报警",
     kConcatenated,
     SmsAlphabet::kUcs2,
     false,
     {{"AT+CMGS=019\r", kHeadUcs2 + "0462A58B66"}},
     {"报警"}},
    {"LatinOutsideTheAlphabetIsUcs2",
     "12345678901",
     u"\u0105",
     kConcatenated,
     SmsAlphabet::kUcs2,
     false,
     {{"AT+CMGS=017\r", kHeadUcs2 + "020105"}},
     {"\u0105"}},
    {"ExtensionCharactersInUcs2",
     "12345678901",
     u"{€报",
     kConcatenated,
     SmsAlphabet::kUcs2,
     false,
     {{"AT+CMGS=021\r", kHeadUcs2 + "06007B20AC62A5"}},
     {"{€报"}},
    {"SevenBitFullSingle",
     "12345678901",
     Repeat(u"a", 160),
     kConcatenated,
     SmsAlphabet::kGsm7Bit,
     false,
     {{"AT+CMGS=155\r", kHeadGsm + "A0"}},
     {Repeat("a", 160)}},
    // Septet 161 needs a second part; the header with its fill bit takes 7 septets of each.
    {"SevenBitTwoParts",
     "12345678901",
     Repeat(u"a", 161),
     kConcatenated,
     SmsAlphabet::kGsm7Bit,
     false,
     {{"AT+CMGS=155\r", kHeadGsmConcat + "A00500032A0201"},
      {"AT+CMGS=029\r", kHeadGsmConcat + "0F0500032A0202"}},
     {Repeat("a", 161)}},
    // The escape of "{" would be the 153rd septet: the pair moves to the next part whole.
    {"EscapePairNeverCut",
     "12345678901",
     Repeat(u"a", 152) + u"{" + Repeat(u"a", 10),
     kConcatenated,
     SmsAlphabet::kGsm7Bit,
     false,
     {{"AT+CMGS=155\r", kHeadGsmConcat + "9F0500032A0201"},
      {"AT+CMGS=032\r", kHeadGsmConcat + "130500032A0202"}},
     {Repeat("a", 152) + "{" + Repeat("a", 10)}},
    {"ChineseFullSingle",
     "12345678901",
     Repeat(u"报", 70),
     kConcatenated,
     SmsAlphabet::kUcs2,
     false,
     {{"AT+CMGS=155\r", kHeadUcs2 + "8C"}},
     {Repeat(kAlarmChar, 70)}},
    {"ChineseTwoParts",
     "12345678901",
     Repeat(u"报", 71),
     kConcatenated,
     SmsAlphabet::kUcs2,
     false,
     {{"AT+CMGS=155\r", kHeadUcs2Concat + "8C0500032A0201"},
      {"AT+CMGS=029\r", kHeadUcs2Concat + "0E0500032A0202"}},
     {Repeat(kAlarmChar, 71)}},
    // The pair would straddle units 67 and 68: the first part ends before it.
    {"SurrogatePairNeverCut",
     "12345678901",
     Repeat(u"报", 66) + u"\U0001F600" + Repeat(u"报", 10),
     kConcatenated,
     SmsAlphabet::kUcs2,
     false,
     {{"AT+CMGS=153\r", kHeadUcs2Concat + "8A0500032A0201"},
      {"AT+CMGS=045\r", kHeadUcs2Concat + "1E0500032A0202"}},
     {Repeat(kAlarmChar, 66) + kSmile + Repeat(kAlarmChar, 10)}},
    {"ChineseCutAfterFiveParts",
     "12345678901",
     Repeat(u"报", 6 * 67),
     kConcatenated,
     SmsAlphabet::kUcs2,
     true,
     {{"AT+CMGS=155\r", kHeadUcs2Concat + "8C0500032A0501"},
      {"AT+CMGS=155\r", kHeadUcs2Concat + "8C0500032A0502"},
      {"AT+CMGS=155\r", kHeadUcs2Concat + "8C0500032A0503"},
      {"AT+CMGS=155\r", kHeadUcs2Concat + "8C0500032A0504"},
      {"AT+CMGS=155\r", kHeadUcs2Concat + "8C0500032A0505"}},
     {Repeat(kAlarmChar, 4 * 67 + 66) + "…"}},
    {"SevenBitCutAfterFiveParts",
     "12345678901",
     Repeat(u"a", 5 * 153 + 1),
     kConcatenated,
     SmsAlphabet::kGsm7Bit,
     true,
     {{"AT+CMGS=155\r", kHeadGsmConcat + "A00500032A0501"},
      {"AT+CMGS=155\r", kHeadGsmConcat + "A00500032A0502"},
      {"AT+CMGS=155\r", kHeadGsmConcat + "A00500032A0503"},
      {"AT+CMGS=155\r", kHeadGsmConcat + "A00500032A0504"},
      {"AT+CMGS=155\r", kHeadGsmConcat + "A00500032A0505"}},
     {Repeat("a", 5 * 153 - 3) + "..."}},
    {"OnePartAllowed",
     "12345678901",
     Repeat(u"a", 200),
     SmsTextOptions{true, 1, 7},
     SmsAlphabet::kGsm7Bit,
     true,
     {{"AT+CMGS=155\r", kHeadGsm + "A0"}},
     {Repeat("a", 157) + "..."}},
    // Separate messages: no header, UCS2 even for a Latin text, 70 units each.
    {"SeparateMessages",
     "12345678901",
     Repeat(u"x", 100),
     kSeparate,
     SmsAlphabet::kUcs2,
     false,
     {{"AT+CMGS=155\r", kHeadUcs2 + "8C0078"}, {"AT+CMGS=075\r", kHeadUcs2 + "3C0078"}},
     {Repeat("x", 70), Repeat("x", 30)}},
    {"SeparateMessagesKeepSurrogatePairs",
     "12345678901",
     Repeat(u"x", 69) + u"\U0001F600" + u"y",
     kSeparate,
     SmsAlphabet::kUcs2,
     false,
     {{"AT+CMGS=153\r", kHeadUcs2 + "8A0078"}, {"AT+CMGS=021\r", kHeadUcs2 + "06D83DDE000079"}},
     {Repeat("x", 69), kSmile + "y"}},
    {"SeparateMessagesCut",
     "12345678901",
     Repeat(u"报", 141),
     SmsTextOptions{false, 2, 0},
     SmsAlphabet::kUcs2,
     true,
     {{"AT+CMGS=155\r", kHeadUcs2 + "8C62A5"}, {"AT+CMGS=155\r", kHeadUcs2 + "8C62A5"}},
     {Repeat(kAlarmChar, 70), Repeat(kAlarmChar, 69) + "…"}},
};

class SmsPartsKnownAnswer : public ::testing::TestWithParam<KnownAnswer> {};

TEST_P(SmsPartsKnownAnswer, EncodesAndThePhoneShowsTheText) {
  const KnownAnswer& row = GetParam();
  const std::optional<EncodedSms> encoded = EncodeSms(row.number, row.text, row.options);
  ASSERT_TRUE(encoded.has_value());
  EXPECT_EQ(encoded->alphabet, row.alphabet);
  EXPECT_EQ(encoded->cut, row.cut);
  ASSERT_EQ(encoded->parts.size(), row.parts.size());
  for (std::size_t i = 0; i < row.parts.size(); ++i) {
    SCOPED_TRACE("part " + std::to_string(i + 1));
    const SmsPart& part = encoded->parts[i];
    EXPECT_EQ(part.lengthCommand, row.parts[i].lengthCommand);
    EXPECT_EQ(part.pduLine.substr(0, row.parts[i].pduStart.size()), row.parts[i].pduStart);
    // The line is the TPDU's octets in hexadecimal after the service-centre octet, then 0x1A CR.
    EXPECT_EQ(part.pduLine.size(), 2 + 2 * static_cast<std::size_t>(AnnouncedLength(part)) + 2);
  }
  const std::vector<sim::ShownMessage> shown = Deliver(*encoded);
  ASSERT_EQ(shown.size(), row.shown.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].text, row.shown[i]);
    EXPECT_EQ(shown[i].destination, "+86" + row.number);
    EXPECT_EQ(shown[i].alphabet, row.alphabet == SmsAlphabet::kGsm7Bit ? "GSM7" : "UCS2");
    if (shown[i].parts > 1) {
      EXPECT_EQ(shown[i].concatReference, row.options.reference);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SmsParts, SmsPartsKnownAnswer, ::testing::ValuesIn(kKnownAnswers),
                         [](const ::testing::TestParamInfo<KnownAnswer>& row) {
                           return row.param.name;
                         });

TEST(SmsParts, EveryLengthArrivesWholeWithinThePartLimit) {
  // Mixes that put escape pairs and surrogate pairs on every possible boundary.
  const std::u16string patterns[] = {u"a", u"a{", u"€", u"报", u"报\U0001F600", u"x\U0001F600"};
  for (const std::u16string& pattern : patterns) {
    for (std::size_t length = 1; length <= 800; ++length) {
      std::u16string text;
      while (text.size() < length)
        text += pattern;
      SCOPED_TRACE(Utf16ToUtf8(pattern) + " x " + std::to_string(length));
      for (bool concatenated : {true, false}) {
        const SmsTextOptions options{concatenated, 5, 0x80};
        const std::optional<EncodedSms> encoded = EncodeSms("13800138000", text, options);
        ASSERT_TRUE(encoded.has_value());
        ASSERT_LE(encoded->parts.size(), 5u);
        const std::vector<sim::ShownMessage> shown = Deliver(*encoded);
        std::string joined;
        for (const sim::ShownMessage& message : shown)
          joined += message.text;
        if (!encoded->cut) {
          ASSERT_EQ(joined, Utf16ToUtf8(text));
        } else {
          ASSERT_EQ(encoded->parts.size(), 5u);
          const std::string ellipsis = encoded->alphabet == SmsAlphabet::kGsm7Bit ? "..." : "…";
          ASSERT_TRUE(joined.ends_with(ellipsis));
          const std::string kept = joined.substr(0, joined.size() - ellipsis.size());
          ASSERT_TRUE(Utf16ToUtf8(text).starts_with(kept));
        }
        if (concatenated) {
          ASSERT_EQ(shown.size(), 1u);
        }
      }
    }
  }
}

TEST(SmsParts, InvalidCodePageBytesAreSentNotLost) {
  // Seventy pairs that are no code page 936 characters: each byte becomes a character of its
  // own, and every one of them reaches the phone.
  const std::string text = Repeat("\x81\x30"s, 70);
  const std::u16string converted = platform::Cp936ToUtf16(text);
  ASSERT_GT(converted.size(), 70u);
  const std::optional<EncodedSms> encoded = EncodeSmsText("13800138000", text, kConcatenated);
  ASSERT_TRUE(encoded.has_value());
  EXPECT_FALSE(encoded->cut);
  EXPECT_GT(encoded->parts.size(), 1u);
  const std::vector<sim::ShownMessage> shown = Deliver(*encoded);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, Utf16ToUtf8(converted));
}

TEST(SmsParts, RefusesWhatCannotBeSent) {
  EXPECT_FALSE(EncodeSms("1234567890", u"A", kConcatenated));
  EXPECT_FALSE(EncodeSms("12345678901", u"", kConcatenated));
  EXPECT_FALSE(EncodeSms("12345678901", u"\0AB"s, kConcatenated));
  EXPECT_FALSE(EncodeSmsText("12345678901", "", kSeparate));
  // Text after a zero unit is not sent, as the host's texts end there.
  const std::optional<EncodedSms> stopped = EncodeSms("12345678901", u"AB\0CD"s, kConcatenated);
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->parts[0].pduLine, kHeadGsm + "024121\x1A\r");
}

TEST(SmsParts, CodePageTextConvertsOnce) {
  // "€{报}" in code page 936: the euro sign is the single byte 0x80.
  const std::optional<EncodedSms> encoded =
      EncodeSmsText("12345678901", "\x80{\xB1\xA8}", kConcatenated);
  ASSERT_TRUE(encoded);
  EXPECT_EQ(encoded->alphabet, SmsAlphabet::kUcs2);
  EXPECT_EQ(encoded->parts[0].pduLine, kHeadUcs2 + "0820AC007B62A5007D\x1A\r");
  const std::optional<EncodedSms> latin = EncodeSmsText("12345678901", "\x80{}", kConcatenated);
  ASSERT_TRUE(latin);
  EXPECT_EQ(latin->alphabet, SmsAlphabet::kGsm7Bit);
  EXPECT_EQ(Deliver(*latin)[0].text, "€{}");
}

// One accepted part of a concatenated UCS2 message, as the decoder gives it.
sim::AcceptedMessage Part(const std::string& number, std::uint16_t reference, int total,
                          int sequence, const std::u16string& text, int modemReference) {
  sim::AcceptedMessage message;
  message.reference = modemReference;
  message.pdu.destination = number;
  message.pdu.alphabet = sim::Alphabet::kUcs2;
  message.pdu.concatenation = sim::Concatenation{reference, static_cast<std::uint8_t>(total),
                                                 static_cast<std::uint8_t>(sequence), false};
  for (char16_t unit : text) {
    message.pdu.body.push_back(static_cast<std::uint8_t>(unit >> 8));
    message.pdu.body.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  }
  message.pdu.text = Utf16ToUtf8(text);
  return message;
}

TEST(PhoneInbox, JoinsPartsAsAPhoneDoes) {
  sim::PhoneInbox phone;
  // Out of order, a part repeated, and two phones whose messages share a reference.
  EXPECT_TRUE(phone.Take(Part("+861", 9, 3, 3, u"C", 1)).empty());
  EXPECT_TRUE(phone.Take(Part("+862", 9, 2, 1, u"x", 2)).empty());
  EXPECT_TRUE(phone.Take(Part("+861", 9, 3, 1, u"A", 3)).empty());
  EXPECT_TRUE(phone.Take(Part("+861", 9, 3, 1, u"again", 4)).empty());
  std::vector<sim::ShownMessage> shown = phone.Take(Part("+861", 9, 3, 2, u"B", 5));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "ABC");
  EXPECT_EQ(shown[0].destination, "+861");
  EXPECT_EQ(shown[0].references, (std::vector<int>{3, 5, 1}));
  EXPECT_TRUE(shown[0].Complete());
  // A surrogate pair whose halves the sender put in two parts is still one character.
  EXPECT_TRUE(phone.Take(Part("+863", 1, 2, 1, u"a\xD83D", 6)).empty());
  shown = phone.Take(Part("+863", 1, 2, 2, u"\xDE00", 7));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "a\U0001F600");
  // What never completes is shown with what arrived, once asked for or when room runs out.
  // One message from +862 waits already; these fill the inbox.
  for (int i = 0; i + 1 < static_cast<int>(sim::PhoneInbox::kMaxWaiting); ++i) {
    EXPECT_TRUE(phone.Take(Part("+864", static_cast<std::uint16_t>(i), 2, 1, u"p", i)).empty());
  }
  shown = phone.Take(Part("+865", 0, 2, 1, u"q", 99));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "x");  // the oldest waiting, from +862
  EXPECT_FALSE(shown[0].Complete());
  EXPECT_EQ(shown[0].received, 1);
  EXPECT_EQ(phone.TakeIncomplete().size(), sim::PhoneInbox::kMaxWaiting);
  EXPECT_EQ(phone.WaitingCount(), 0u);
  EXPECT_NE(sim::FormatShownSummary(shown[0]).find("incomplete: 1 of 2 parts"), std::string::npos);
}

TEST(PhoneInbox, SimulatorAnswersLateAndLogsTheJoinedMessage) {
  constexpr int kDelayMs = 300;
  testing::GsmSimProcess modem({"--echo", "off", "--reply-delay", "0.3"});
  ASSERT_TRUE(modem.OpenPort());
  const std::optional<EncodedSms> encoded =
      EncodeSms("13800138000", Repeat(u"报", 150), kConcatenated);
  ASSERT_TRUE(encoded && encoded->parts.size() == 3u);
  // The last part first: the phone still shows the parts in their order.
  for (std::size_t i : {2u, 0u, 1u}) {
    const SmsPart& part = encoded->parts[i];
    ASSERT_EQ(modem.Ask(part.lengthCommand, "> "), "\r\n> ");
    const auto sent = std::chrono::steady_clock::now();
    modem.Send(part.pduLine);
    EXPECT_NE(modem.ReadUntil("OK\r\n").find("+CMGS:"), std::string::npos);
    // The simulator waits on its own clock in whole milliseconds; a few less than the delay
    // still show the late answer, a prompt one would not.
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(kDelayMs - 10));
  }
  // One part of a message that never completes.
  const std::optional<EncodedSms> other =
      EncodeSms("13900139000", Repeat(u"警", 80), kConcatenated);
  ASSERT_TRUE(other);
  ASSERT_EQ(modem.Ask(other->parts[0].lengthCommand, "> "), "\r\n> ");
  modem.Send(other->parts[0].pduLine);
  modem.ReadUntil("OK\r\n");
  EXPECT_EQ(modem.Stop(), 0);

  const std::vector<std::string> lines = modem.LogLines();
  ASSERT_EQ(lines.size(), 5u);  // four parts and one joined message
  const nlohmann::json joined = nlohmann::json::parse(lines[3]);
  EXPECT_EQ(joined["joined"], true);
  EXPECT_EQ(joined["text"], Repeat(kAlarmChar, 150));
  EXPECT_EQ(joined["parts"], 3);
  EXPECT_EQ(joined["references"], nlohmann::json::array({1, 2, 0}));
  EXPECT_EQ(nlohmann::json::parse(lines[0])["part"], 3);
  const std::string out = modem.StdoutText();
  EXPECT_NE(out.find("SMS to +8613800138000: " + Repeat(kAlarmChar, 150) +
                     " (UCS2, 3 parts joined, valid 10 min, refs 1,2,0)\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("incomplete: 1 of 2 parts"), std::string::npos) << out;
  EXPECT_EQ(out.find("part 1/3"), std::string::npos) << out;
}

}  // namespace
}  // namespace pagorin

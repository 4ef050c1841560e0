#include "deliver_pdu.h"

#include <algorithm>
#include <chrono>

#include "gsm_text.h"
#include "submit_pdu.h"

namespace pagorin::sim {
namespace {

constexpr std::uint8_t kTypeInternational = 0x91;
constexpr std::uint8_t kTypeNational = 0xA1;
constexpr std::uint8_t kTypeAlphanumeric = 0xD0;
constexpr std::size_t kMaxAlphanumeric = 11;
constexpr std::uint8_t kDeliver = 0x04;       // TP-MTI 00, no more messages waiting
constexpr std::uint8_t kStatusReport = 0x06;  // TP-MTI 10, no more messages waiting
constexpr std::uint8_t kHeaderIndicator = 0x40;
constexpr std::uint8_t kDcsGsm7 = 0x00;
constexpr std::uint8_t kDcsUcs2 = 0x08;
// What one part holds: septets for GSM 7-bit, UTF-16 units for UCS2; less behind the header.
constexpr std::size_t kSingleGsm7 = 160;
constexpr std::size_t kPartGsm7 = 153;
constexpr std::size_t kSingleUcs2 = 70;
constexpr std::size_t kPartUcs2 = 67;

std::uint8_t SwappedBcd(int value) {
  return static_cast<std::uint8_t>(((value % 10) << 4) | ((value / 10) % 10));
}

void AppendTime(std::vector<std::uint8_t>& out, const CentreTime& time) {
  for (int value : {time.year % 100, time.month, time.day, time.hour, time.minute, time.second})
    out.push_back(SwappedBcd(value));
  int quarters = std::clamp(time.zoneQuarters, -79, 79);
  // The sign sits in the bit that follows the tens digit's three bits.
  out.push_back(static_cast<std::uint8_t>(SwappedBcd(quarters < 0 ? -quarters : quarters) |
                                          (quarters < 0 ? 0x08 : 0x00)));
}

void AppendCentre(std::vector<std::uint8_t>& out, const std::string& smsc) {
  if (smsc.empty()) {
    out.push_back(0);
    return;
  }
  // The service-centre length counts octets (type included), not digits.
  std::vector<std::uint8_t> address = EncodeAddress(smsc);
  out.push_back(static_cast<std::uint8_t>(address.size() - 1));
  out.insert(out.end(), address.begin() + 1, address.end());
}

EncodedPdu Finish(const std::vector<std::uint8_t>& centre, const std::vector<std::uint8_t>& tpdu) {
  std::vector<std::uint8_t> all = centre;
  all.insert(all.end(), tpdu.begin(), tpdu.end());
  return {ToHex(all), static_cast<int>(tpdu.size())};
}

// One character of the text with what it costs in its coding.
struct Unit {
  char32_t codePoint;
  std::size_t cost;
};

}  // namespace

CentreTime CentreTimeAt(std::time_t unixSeconds, int zoneQuarters) {
  using namespace std::chrono;
  const sys_seconds local{seconds(static_cast<std::int64_t>(unixSeconds) +
                                  static_cast<std::int64_t>(zoneQuarters) * 15 * 60)};
  const sys_days day = floor<days>(local);
  const year_month_day date{day};
  const hh_mm_ss<seconds> clock{local - day};
  CentreTime time;
  time.year = static_cast<int>(date.year());
  time.month = static_cast<int>(static_cast<unsigned>(date.month()));
  time.day = static_cast<int>(static_cast<unsigned>(date.day()));
  time.hour = static_cast<int>(clock.hours().count());
  time.minute = static_cast<int>(clock.minutes().count());
  time.second = static_cast<int>(clock.seconds().count());
  time.zoneQuarters = zoneQuarters;
  return time;
}

std::vector<std::uint8_t> EncodeAddress(std::string_view number) {
  std::string digits;
  bool international = !number.empty() && number[0] == '+';
  std::string_view rest = international ? number.substr(1) : number;
  bool numeric = !rest.empty() &&
                 std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
  std::vector<std::uint8_t> out;
  if (!numeric) {
    std::vector<std::uint8_t> septets;
    for (char32_t c : Utf8ToCodePoints(number)) {
      std::vector<std::uint8_t> code = GsmSeptetsOf(c);
      if (code.empty()) code = {0x3F};  // '?' for a character the alphabet lacks
      if (septets.size() + code.size() > kMaxAlphanumeric) break;
      septets.insert(septets.end(), code.begin(), code.end());
    }
    std::vector<std::uint8_t> packed = PackSeptets(septets, 0);
    // The length counts the semi-octets that carry the septets.
    out.push_back(static_cast<std::uint8_t>((septets.size() * 7 + 3) / 4));
    out.push_back(kTypeAlphanumeric);
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
  }
  out.push_back(static_cast<std::uint8_t>(rest.size()));
  out.push_back(international ? kTypeInternational : kTypeNational);
  for (std::size_t i = 0; i < rest.size(); i += 2) {
    unsigned low = static_cast<unsigned>(rest[i] - '0');
    unsigned high = i + 1 < rest.size() ? static_cast<unsigned>(rest[i + 1] - '0') : 0xFu;
    out.push_back(static_cast<std::uint8_t>(low | (high << 4)));
  }
  return out;
}

std::vector<DeliverPart> EncodeDeliver(const PhoneText& message, std::string& error) {
  const bool gsm = message.coding == TextCoding::kGsm7;
  std::vector<Unit> units;
  std::size_t total = 0;
  for (char32_t c : Utf8ToCodePoints(message.text)) {
    std::size_t cost = gsm ? GsmSeptetsOf(c).size() : (c >= 0x10000 ? 2 : 1);
    if (cost == 0) {
      error = "a character of the text is not in the GSM 7-bit alphabet";
      return {};
    }
    units.push_back({c, cost});
    total += cost;
  }
  const std::size_t single = gsm ? kSingleGsm7 : kSingleUcs2;
  const std::size_t perPart = gsm ? kPartGsm7 : kPartUcs2;
  std::size_t parts = message.parts > 0 ? static_cast<std::size_t>(message.parts)
                      : total <= single ? 1
                                        : (total + perPart - 1) / perPart;
  if (parts > 255 || (parts > 1 && units.size() < parts) || (parts == 1 && total > single)) {
    error = "the text does not fit in " + std::to_string(parts) + " part(s)";
    return {};
  }
  // Characters are spread evenly over the parts; a character never straddles two.
  std::vector<std::vector<Unit>> split(parts);
  std::size_t next = 0;
  std::size_t left = total;
  for (std::size_t p = 0; p < parts; ++p) {
    std::size_t partsLeft = parts - p;
    std::size_t target = (left + partsLeft - 1) / partsLeft;
    std::size_t cost = 0;
    while (next < units.size() && (p + 1 == parts || units.size() - next > partsLeft - 1) &&
           (cost < target || split[p].empty())) {
      if (p + 1 < parts && cost + units[next].cost > perPart) break;
      cost += units[next].cost;
      split[p].push_back(units[next++]);
    }
    left -= cost;
    if (cost > (parts == 1 ? single : perPart)) {
      error = "the text does not fit in " + std::to_string(parts) + " part(s)";
      return {};
    }
  }
  std::vector<std::uint8_t> centre;
  AppendCentre(centre, message.smsc);
  std::vector<DeliverPart> out;
  for (std::size_t p = 0; p < parts; ++p) {
    std::vector<std::uint8_t> header;
    if (parts > 1) {
      header = {0x05,
                0x00,
                0x03,
                message.concatReference,
                static_cast<std::uint8_t>(parts),
                static_cast<std::uint8_t>(p + 1)};
    }
    std::vector<std::uint8_t> userData = header;
    std::string text;
    std::size_t length = 0;
    if (gsm) {
      std::vector<std::uint8_t> septets;
      for (const Unit& unit : split[p]) {
        std::vector<std::uint8_t> code = GsmSeptetsOf(unit.codePoint);
        septets.insert(septets.end(), code.begin(), code.end());
        AppendUtf8(text, unit.codePoint);
      }
      // The text starts on a septet boundary behind the header.
      std::size_t headerBits = header.size() * 8;
      unsigned fill = static_cast<unsigned>((7 - headerBits % 7) % 7);
      std::vector<std::uint8_t> packed = PackSeptets(septets, fill);
      userData.insert(userData.end(), packed.begin(), packed.end());
      length = (headerBits + fill) / 7 + septets.size();
    } else {
      for (const Unit& unit : split[p]) {
        AppendUtf16Be(userData, unit.codePoint);
        AppendUtf8(text, unit.codePoint);
      }
      length = userData.size();
    }
    out.push_back(
        {EncodeDeliverUserData(message.smsc, message.from, gsm ? kDcsGsm7 : kDcsUcs2, parts > 1,
                               static_cast<std::uint8_t>(length), userData, message.time),
         text});
  }
  return out;
}

EncodedPdu EncodeDeliverUserData(const std::string& smsc, std::string_view from, std::uint8_t dcs,
                                 bool hasHeader, std::uint8_t userDataLength,
                                 const std::vector<std::uint8_t>& userData,
                                 const CentreTime& time) {
  std::vector<std::uint8_t> centre;
  AppendCentre(centre, smsc);
  std::vector<std::uint8_t> tpdu = {
      static_cast<std::uint8_t>(kDeliver | (hasHeader ? kHeaderIndicator : 0))};
  std::vector<std::uint8_t> address = EncodeAddress(from);
  tpdu.insert(tpdu.end(), address.begin(), address.end());
  tpdu.push_back(0x00);  // TP-PID: a plain short message
  tpdu.push_back(dcs);
  AppendTime(tpdu, time);
  tpdu.push_back(userDataLength);
  tpdu.insert(tpdu.end(), userData.begin(), userData.end());
  return Finish(centre, tpdu);
}

EncodedPdu EncodeStatusReport(const StatusReport& report) {
  std::vector<std::uint8_t> centre;
  AppendCentre(centre, report.smsc);
  std::vector<std::uint8_t> tpdu = {kStatusReport, report.reference};
  std::vector<std::uint8_t> address = EncodeAddress(report.recipient);
  tpdu.insert(tpdu.end(), address.begin(), address.end());
  AppendTime(tpdu, report.submitted);
  AppendTime(tpdu, report.discharged);
  tpdu.push_back(report.status);
  return Finish(centre, tpdu);
}

}  // namespace pagorin::sim

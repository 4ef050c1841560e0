#include "modem/at_replies.h"

#include <charconv>
#include <cstddef>

namespace pagorin {
namespace {

// +CMS ERROR: 321, invalid memory index.
constexpr int kEmptySlotCode = 321;

std::string_view Trim(std::string_view text) noexcept {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

// The comma-separated value number `position` (from 0) after the first ':', trimmed; nullopt
// when the line has no ':' or fewer values.
std::optional<std::string_view> ValueAt(std::string_view line, std::size_t position) noexcept {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(colon + 1);
  for (std::size_t index = 0;; ++index) {
    const std::size_t comma = rest.find(',');
    if (index == position) return Trim(rest.substr(0, comma));
    if (comma == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(comma + 1);
  }
}

int ToInt(std::string_view text, int fallback) noexcept {
  int value = fallback;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : fallback;
}

// <stat> of +CREG; 4 (unknown) when it is no number.
Registration RegistrationOf(std::string_view stat) noexcept {
  switch (ToInt(stat, 4)) {
    case 1:
    case 6:
      return Registration::Home;
    case 5:
    case 7:
      return Registration::Roaming;
    case 0:
    case 2:
      return Registration::Searching;
    case 3:
      return Registration::Denied;
    default:
      return Registration::Unknown;
  }
}

}  // namespace

std::optional<std::string_view> VerboseOfNumericResult(std::string_view line) noexcept {
  if (line == "0") return "OK";
  if (line == "4") return "ERROR";
  return std::nullopt;
}

std::optional<int> ParseCmgsReference(std::string_view line) noexcept {
  if (!line.starts_with("+CMGS:")) return std::nullopt;
  return ToInt(ValueAt(line, 0).value_or(""), -1);
}

std::optional<SimState> ParseCpin(std::string_view line) noexcept {
  if (!line.starts_with("+CPIN:")) return std::nullopt;
  const std::string_view value = Trim(line.substr(6));
  if (value == "READY") return SimState::Ready;
  if (value.find("PIN") != std::string_view::npos || value.find("PUK") != std::string_view::npos)
    return SimState::PinNeeded;
  if (value.find("NOT INSERTED") != std::string_view::npos) return SimState::Absent;
  return SimState::Unknown;
}

SimState SimOfCpinError(std::string_view result) noexcept {
  if (!result.starts_with("+CME ERROR:")) return SimState::Unknown;
  switch (ErrorResultCode(result)) {
    case 10:
    case 13:
    case 15:
      return SimState::Absent;
    case 11:
    case 12:
    case 16:
    case 17:
    case 18:
      return SimState::PinNeeded;
    default:
      return SimState::Unknown;
  }
}

std::optional<Registration> ParseCregAnswer(std::string_view line) noexcept {
  if (!line.starts_with("+CREG:")) return std::nullopt;
  // The answer is "<mode>,<stat>[,...]"; the notice alone is "<stat>[,<lac>,<ci>]", its area
  // code quoted.
  const std::optional<std::string_view> stat = ValueAt(line, 1);
  if (!stat || stat->starts_with('"')) return std::nullopt;
  return RegistrationOf(*stat);
}

std::optional<Registration> ParseCregNotice(std::string_view line) noexcept {
  if (!line.starts_with("+CREG:")) return std::nullopt;
  return RegistrationOf(ValueAt(line, 0).value_or(""));
}

std::optional<int> ParseSignalRssi(std::string_view line) noexcept {
  if (!line.starts_with("+CSQ:") && !line.starts_with("^RSSI:")) return std::nullopt;
  return ToInt(ValueAt(line, 0).value_or(""), 99);
}

bool IsRegistered(Registration registration) noexcept {
  return registration == Registration::Home || registration == Registration::Roaming;
}

bool IsStorageFullNotice(std::string_view line) noexcept {
  if (line.starts_with("^SMMEMFULL")) return true;
  if (!line.starts_with("+CIEV:")) return false;
  return ValueAt(line, 0) == "\"SMSFULL\"" && ValueAt(line, 1) == "1";
}

bool IsStartNotice(std::string_view line) noexcept {
  return line == "RDY" || line == "^SYSSTART" || line == "+SYSSTART";
}

bool IsEmptySlotError(std::string_view result) noexcept {
  return ErrorResultCode(result) == kEmptySlotCode;
}

}  // namespace pagorin

#include "config/decimal.h"

#include <algorithm>
#include <climits>

namespace pagorin::detail {
namespace {

constexpr bool IsDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

constexpr bool IsSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int ParseDecimal(std::string_view text) noexcept {
  std::size_t pos = 0;
  while (pos < text.size() && IsSpace(text[pos]))
    ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  // Accumulate towards the sign's side so that INT_MIN is reachable without overflow.
  int value = 0;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    int digit = text[pos] - '0';
    if (negative) {
      if (value < (INT_MIN + digit) / 10) return INT_MIN;
      value = value * 10 - digit;
    } else {
      if (value > (INT_MAX - digit) / 10) return INT_MAX;
      value = value * 10 + digit;
    }
  }
  return value;
}

std::string NumberedName(std::string_view prefix, int index) {
  std::string name(prefix);
  name += std::to_string(index);
  return name;
}

std::vector<int> NumberedNamesIn(std::string_view text, std::string_view prefix) {
  std::vector<int> indexes;
  if (prefix.empty()) return indexes;
  for (std::size_t found = text.find(prefix); found != std::string_view::npos;
       found = text.find(prefix, found + 1)) {
    std::size_t first = found + prefix.size();
    std::size_t end = first;
    while (end < text.size() && IsDigit(text[end]))
      ++end;
    std::size_t digits = end - first;
    // "%d" never writes a leading zero, nor more digits than INT_MAX has.
    if (digits == 0 || digits > 10 || (digits > 1 && text[first] == '0')) continue;
    long long value = 0;
    for (std::size_t i = first; i < end; ++i)
      value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) continue;
    indexes.push_back(static_cast<int>(value));
  }
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  return indexes;
}

}  // namespace pagorin::detail

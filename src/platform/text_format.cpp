#include "platform/text_format.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace pagorin::platform {
namespace {

struct FieldFormat {
  bool leftAlign = false;
  bool zeroPad = false;
  int width = 0;
  int precision = -1;
};

void Pad(std::string& out, std::string_view body, const FieldFormat& field, bool numeric) {
  std::size_t width = static_cast<std::size_t>(field.width);
  if (body.size() >= width) {
    out += body;
    return;
  }
  std::size_t fill = width - body.size();
  if (field.leftAlign) {
    out += body;
    out.append(fill, ' ');
  } else if (field.zeroPad && numeric) {
    std::size_t sign = (!body.empty() && (body[0] == '-' || body[0] == '+')) ? 1 : 0;
    out += body.substr(0, sign);
    out.append(fill, '0');
    out += body.substr(sign);
  } else {
    out.append(fill, ' ');
    out += body;
  }
}

std::string Digits(std::uint64_t value, unsigned base, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char buffer[32];
  std::size_t n = 0;
  do {
    buffer[n++] = digits[value % base];
    value /= base;
  } while (value != 0);
  std::string result;
  while (n > 0)
    result += buffer[--n];
  return result;
}

std::string FixedPoint(double value, int precision) {
  // The longest "%.*f" of a finite double is about 310 digits before the point.
  char buffer[512];
  if (precision < 0) precision = 6;
  if (precision > 60) precision = 60;
  int n = std::snprintf(buffer, sizeof buffer, "%.*f", precision, value);
  if (n < 0) return {};
  return std::string(buffer, std::min(static_cast<std::size_t>(n), sizeof buffer - 1));
}

}  // namespace

std::string FormatText(std::string_view pattern, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(pattern.size() + 16);
  const FormatArg* next = args.begin();
  std::size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    std::size_t begin = i++;
    if (i < pattern.size() && pattern[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    FieldFormat field;
    while (i < pattern.size() && (pattern[i] == '-' || pattern[i] == '0')) {
      (pattern[i] == '-' ? field.leftAlign : field.zeroPad) = true;
      ++i;
    }
    while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9' && field.width < 1000) {
      field.width = field.width * 10 + (pattern[i++] - '0');
    }
    if (i < pattern.size() && pattern[i] == '.') {
      field.precision = 0;
      ++i;
      while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9' &&
             field.precision < 100) {
        field.precision = field.precision * 10 + (pattern[i++] - '0');
      }
    }
    if (i >= pattern.size()) {
      out += pattern.substr(begin);
      break;
    }
    char conversion = pattern[i++];
    const FormatArg* arg = next != args.end() ? next : nullptr;
    bool done = false;
    if (arg != nullptr) {
      switch (conversion) {
        case 's':
          if (auto* text = std::get_if<std::string_view>(arg)) {
            std::string_view body = *text;
            if (field.precision >= 0 && body.size() > static_cast<std::size_t>(field.precision)) {
              body = body.substr(0, static_cast<std::size_t>(field.precision));
            }
            Pad(out, body, field, false);
            done = true;
          }
          break;
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
          if (auto* number = std::get_if<std::int64_t>(arg)) {
            std::string body;
            if (conversion == 'd' || conversion == 'i') {
              bool negative = *number < 0;
              std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(*number)
                                                 : static_cast<std::uint64_t>(*number);
              body = (negative ? "-" : "") + Digits(magnitude, 10, false);
            } else {
              // Like the C library with a 32-bit int: unsigned conversions see the low 32 bits.
              auto bits = static_cast<std::uint32_t>(*number);
              body = Digits(bits, conversion == 'u' ? 10 : 16, conversion == 'X');
            }
            Pad(out, body, field, true);
            done = true;
          }
          break;
        case 'f':
          if (auto* real = std::get_if<double>(arg)) {
            Pad(out, FixedPoint(*real, field.precision), field, true);
            done = true;
          }
          break;
        default:
          break;
      }
    }
    if (done) {
      ++next;
    } else {
      out += pattern.substr(begin, i - begin);
    }
  }
  return out;
}

}  // namespace pagorin::platform

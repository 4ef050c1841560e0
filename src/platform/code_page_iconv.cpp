// Code page conversions through the C library's iconv. One descriptor per direction and thread,
// opened on first use and reset before every conversion.
#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "platform/code_page.h"

namespace pagorin::platform {
namespace {

class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) noexcept : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool valid() const noexcept { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const noexcept { return cd_; }

 private:
  iconv_t cd_;
};

// Runs the converter over `input`. At an invalid or incomplete input sequence,
// `onInvalid(output, rest)` appends a replacement and returns how many bytes of `rest` to skip
// (at least one). Output is raw bytes of the target encoding.
template <typename OnInvalid>
std::string Convert(const IconvHandle& handle, std::string_view input, OnInvalid onInvalid) {
  std::string output;
  if (!handle.valid()) return output;
  iconv(handle.get(), nullptr, nullptr, nullptr, nullptr);
  output.resize(input.size() * 4 + 16);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  std::size_t produced = 0;
  while (inLeft > 0) {
    char* out = output.data() + produced;
    std::size_t outLeft = output.size() - produced;
    std::size_t rc = iconv(handle.get(), &in, &inLeft, &out, &outLeft);
    produced = output.size() - outLeft;
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      output.resize(output.size() * 2 + 16);
      continue;
    }
    if (errno != EILSEQ && errno != EINVAL) break;
    output.resize(produced);
    std::size_t skip = onInvalid(output, std::string_view(in, inLeft));
    skip = std::max<std::size_t>(1, std::min(skip, inLeft));
    produced = output.size();
    in += skip;
    inLeft -= skip;
    output.resize(produced + inLeft * 4 + 16);
    iconv(handle.get(), nullptr, nullptr, nullptr, nullptr);
  }
  output.resize(produced);
  return output;
}

// Length of the UTF-8 sequence that `rest` starts with, for skipping it whole.
std::size_t Utf8SequenceLength(std::string_view rest) noexcept {
  unsigned char lead = static_cast<unsigned char>(rest[0]);
  std::size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  std::size_t valid = 1;
  while (valid < len && valid < rest.size() &&
         (static_cast<unsigned char>(rest[valid]) & 0xC0) == 0x80) {
    ++valid;
  }
  return valid;
}

}  // namespace

std::u16string Cp936ToUtf16(std::string_view text) {
  thread_local IconvHandle handle("UTF-16LE", "CP936");
  std::string bytes = Convert(handle, text, [](std::string& out, std::string_view) {
    out.append("\xFD\xFF", 2);
    return std::size_t{1};
  });
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return units;
}

std::string Utf16ToCp936(std::u16string_view units) {
  // Through UTF-8, which Utf8ToCp936 maps with its rules for what the code page lacks; a lone
  // surrogate becomes U+FFFD, which the code page lacks too.
  std::string utf8;
  utf8.reserve(units.size() * 3);
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      utf8.push_back(static_cast<char>(0xE0 | (c >> 12)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xF0 | (c >> 18)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return Utf8ToCp936(utf8);
}

std::string Utf8ToCp936(std::string_view text) {
  thread_local IconvHandle handle("CP936", "UTF-8");
  return Convert(handle, text, [](std::string& out, std::string_view rest) {
    std::size_t len = Utf8SequenceLength(rest);
    // A well-formed character that code page 936 lacks becomes '?'; a stray byte is dropped.
    if (len > 1) out += '?';
    return len;
  });
}

std::string Cp936ToUtf8(std::string_view text) {
  thread_local IconvHandle handle("UTF-8", "CP936");
  return Convert(handle, text, [](std::string& out, std::string_view) {
    out.append("\xEF\xBF\xBD");
    return std::size_t{1};
  });
}

}  // namespace pagorin::platform

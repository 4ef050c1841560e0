// Escaping of values and element data, and whole-file load and save.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "markup/markup_document.h"
#include "markup/markup_limits.h"
#include "markup/markup_scanner.h"
#include "platform/file_io.h"

namespace pagorin {

using detail::Is;

namespace {

struct Entity {
  char character;
  std::string_view reference;  // written
  std::string_view name;       // recognised after '&'
};

// The order is the order in which both directions try them.
constexpr Entity kEntities[] = {{'<', "&lt;", "lt;"},
                                {'&', "&amp;", "amp;"},
                                {'>', "&gt;", "gt;"},
                                {'\'', "&apos;", "apos;"},
                                {'"', "&quot;", "quot;"}};

std::string_view ReferenceFor(char c) noexcept {
  for (const Entity& entity : kEntities) {
    if (entity.character == c) return entity.reference;
  }
  return {};
}

bool IsAsciiLetter(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) noexcept {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// True when the '&' at text[0] begins "&name;", "&#digits;" or "&#xhex;".
bool StartsWellFormedReference(const char* text) noexcept {
  const char* p = text + 1;
  if (*p == '#') {
    ++p;
    bool hex = false;
    if (*p == 'x') {
      hex = true;
      ++p;
    }
    const char* digits = p;
    while (hex ? IsHexDigit(*p) : IsDigit(*p))
      ++p;
    return p != digits && *p == ';';
  }
  if (!IsAsciiLetter(*p) && *p != '_' && *p != ':') return false;
  ++p;
  while (IsAsciiLetter(*p) || IsDigit(*p) || *p == '_' || *p == ':' || *p == '-' || *p == '.') {
    ++p;
  }
  return *p == ';';
}

std::size_t CharLengthWithin(const char* text, std::size_t i, std::size_t length) noexcept {
  return (Is(text[i], detail::kLead) && i + 1 < length) ? 2 : 1;
}

}  // namespace

std::string MarkupDocument::EncodeText(const char* text, int options) noexcept {
  if (text == nullptr) return {};
  try {
    const std::size_t n = std::strlen(text);
    const std::uint32_t escaped =
        (options & kEncodeQuotes) != 0 ? detail::kEscapeQuoted : detail::kEscape;
    const bool keepReferences = (options & kKeepReferences) != 0;
    std::string out;
    out.reserve(n + n / 10 + 7);
    for (std::size_t i = 0; i < n;) {
      const char c = text[i];
      if (Is(c, escaped) && !(keepReferences && c == '&' && StartsWellFormedReference(text + i))) {
        out += ReferenceFor(c);
        ++i;
      } else {
        const std::size_t length = CharLengthWithin(text, i, n);
        out.append(text + i, length);
        i += length;
      }
    }
    return out;
  } catch (...) {
    return {};
  }
}

std::string MarkupDocument::DecodeText(const char* text, int length) noexcept {
  if (text == nullptr) return {};
  try {
    const std::size_t n = length < 0 ? std::strlen(text) : static_cast<std::size_t>(length);
    std::string out;
    out.reserve(n);
    std::size_t i = 0;
    while (i < n) {
      if (text[i] != '&') {
        const std::size_t step = CharLengthWithin(text, i, n);
        out.append(text + i, step);
        i += step;
        continue;
      }
      if (i + 1 < n && text[i + 1] == '#') {
        std::size_t digits = i + 2;
        int base = 10;
        if (digits < n && text[digits] == 'x') {
          ++digits;
          base = 16;
        }
        // At most seven characters' worth of bytes may stand before the ';'.
        std::size_t j = digits;
        bool found = false;
        while (j < n) {
          if (text[j] == ';') {
            found = true;
            break;
          }
          if (j - digits >= 7) break;
          j += CharLengthWithin(text, j, n);
        }
        if (found) {
          char number[16] = {};
          std::memcpy(number, text + digits, j - digits);
          const long value = std::strtol(number, nullptr, base);
          // Only the single-byte values convert to a character of the code page.
          if (value >= 1 && value <= 255) {
            out += static_cast<char>(static_cast<unsigned char>(value));
            i = j + 1;
            continue;
          }
        }
        out += '&';
        ++i;
        continue;
      }
      bool matched = false;
      for (const Entity& entity : kEntities) {
        if (i + 1 + entity.name.size() <= n &&
            std::string_view(text + i + 1, entity.name.size()) == entity.name) {
          out += entity.character;
          i += 1 + entity.name.size();
          matched = true;
          break;
        }
      }
      if (!matched) {
        out += '&';
        ++i;
      }
    }
    return out;
  } catch (...) {
    return {};
  }
}

std::string MarkupDocument::WrapCData(const char* text) noexcept {
  try {
    std::string out = "<![CDATA[";
    if (text != nullptr) {
      const std::size_t n = std::strlen(text);
      for (std::size_t i = 0; i < n;) {
        if (text[i] == ']' && text[i + 1] == ']' && text[i + 2] == '>') {
          out += "]]]]><![CDATA[>";
          i += 3;
          continue;
        }
        const std::size_t step = CharLengthWithin(text, i, n);
        out.append(text + i, step);
        i += step;
      }
    }
    out += "]]>";
    return out;
  } catch (...) {
    return {};
  }
}

bool MarkupDocument::LoadFile(const std::string& path) noexcept {
  try {
    std::string contents;
    std::string error;
    if (!platform::ReadWholeFile(path, contents, error)) {
      errorText_.swap(error);
      return false;
    }
    if (contents.size() > detail::kMaxTextLength) {
      platform::AssignErrorText(errorText_, EFBIG);
      return false;
    }
    text_.swap(contents);
    errorText_ = std::to_string(text_.size()) + " bytes";
  } catch (...) {
    platform::AssignErrorText(errorText_, ENOMEM);
    return false;
  }
  return Parse();
}

bool MarkupDocument::SaveFile(const std::string& path) noexcept {
  std::string error;
  if (!platform::ReplaceFile(path, text_, error)) {
    errorText_.swap(error);
    return false;
  }
  try {
    errorText_ = std::to_string(text_.size()) + " bytes";
  } catch (...) {
    errorText_.clear();
  }
  return true;
}

}  // namespace pagorin

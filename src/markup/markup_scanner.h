// Byte classes and the scanners that cut a markup text into nodes and tokens. Internal to the
// markup library. Every scan stops at a zero byte; a std::string always has one at size(), so a
// scan over a document text never runs past its end.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "markup/markup_document.h"

namespace pagorin::detail {

enum ByteClass : std::uint32_t {
  kWhite = 0x1,               // " \t\n\r"
  kNameEnd = 0x2,             // " \t\n\r/>": where a tag name ends in the node scanner
  kBeforeSlash = 0x4,         // white space, apostrophe, double quote: may stand before "/>"
  kTokenDelim = 0x8,          // " \t\n\r<>=\\/?!": where a name token ends
  kNameFollower = 0x10,       // " =/[]": may follow a searched name inside a longer name
  kNameStart = 0x20,          // 'A'-'Z', 'a'-'z', '_', ':', 0x7B-0xFF
  kLead = 0x40,               // 0x81-0xFE: first byte of a two-byte character
  kValueEnd = 0x80,           // " \t\n\r>": where an unquoted attribute value ends
  kAttrWordEnd = 0x100,       // "= \t\n\r>/?": where an attribute word ends
  kEscape = 0x200,            // "<&>": escaped in text
  kEscapeQuoted = 0x400,      // "<&>'\"": escaped in attribute values
  kTagStop = 0x800,           // '>', quotes, zero, lead bytes: what a start tag's body stops at
  kTextStop = 0x1000,         // '<', '>', zero, lead bytes: what character data stops at
  kGreaterStop = 0x2000,      // '>', zero, lead bytes: what the inside of a tag stops at
  kZero = 0x4000,             // the terminating zero byte
  kDoubleQuoteStop = 0x8000,  // '"', zero, lead bytes: what a double-quoted value stops at
  kSingleQuoteStop = 0x10000  // '\'', zero, lead bytes
};

constexpr std::array<std::uint32_t, 256> MakeByteClasses() {
  std::array<std::uint32_t, 256> table{};
  auto add = [&table](std::string_view bytes, std::uint32_t cls) {
    for (char b : bytes)
      table[static_cast<unsigned char>(b)] |= cls;
  };
  add(" \t\n\r", kWhite);
  add(" \t\n\r/>", kNameEnd);
  add(" \t\n\r'\"", kBeforeSlash);
  add(" \t\n\r<>=\\/?!", kTokenDelim);
  add(" =/[]", kNameFollower);
  add(" \t\n\r>", kValueEnd);
  add("= \t\n\r>/?", kAttrWordEnd);
  add("<&>", kEscape);
  add("<&>'\"", kEscapeQuoted);
  add(std::string_view(">'\"\0", 4), kTagStop);
  add(std::string_view("<>\0", 3), kTextStop);
  add(std::string_view(">\0", 2), kGreaterStop);
  add(std::string_view("\0", 1), kZero);
  add(std::string_view("\"\0", 2), kDoubleQuoteStop);
  add(std::string_view("'\0", 2), kSingleQuoteStop);
  add("_:", kNameStart);
  for (int b = 'A'; b <= 'Z'; ++b)
    table[static_cast<std::size_t>(b)] |= kNameStart;
  for (int b = 'a'; b <= 'z'; ++b)
    table[static_cast<std::size_t>(b)] |= kNameStart;
  for (int b = 0x7B; b <= 0xFF; ++b)
    table[static_cast<std::size_t>(b)] |= kNameStart;
  // The scans that stop at a lead byte step over its follower, which may be any byte.
  for (int b = 0x81; b <= 0xFE; ++b) {
    table[static_cast<std::size_t>(b)] |=
        kLead | kTagStop | kTextStop | kGreaterStop | kDoubleQuoteStop | kSingleQuoteStop;
  }
  return table;
}

inline constexpr std::array<std::uint32_t, 256> kByteClasses = MakeByteClasses();

inline bool Is(char byte, std::uint32_t cls) noexcept {
  return (kByteClasses[static_cast<unsigned char>(byte)] & cls) != 0;
}

// Offset of the character after the one at `i`. A lead byte takes its follower along unless the
// follower is the terminating zero byte or lies at `limit`.
inline int NextChar(const char* text, int i, int limit) noexcept {
  return (Is(text[i], kLead) && text[i + 1] != 0 && i + 1 < limit) ? i + 2 : i + 1;
}

// Node kinds.
enum NodeKind : int {
  kEndOfText = -2,
  kMalformed = -1,
  kEndTagNode = 0,
  kElementNode = 1,
  kTextNode = 2,
  kWhitespaceNode = 4,
  kCDataNode = 8,
  kProcessingInstructionNode = 16,
  kCommentNode = 32,
  kDeclarationNode = 64
};

inline constexpr int kEmptyElement = 0x10000;

// What one scan yields. For a start tag, an end tag or a processing instruction the name is
// given by offset and length; a malformed node carries what is wrong with it, which is always
// reported at the node's start.
struct ScannedNode {
  int kind = kEndOfText;
  int start = 0;
  int length = 0;
  int flags = 0;
  int nameStart = 0;
  int nameLength = 0;
  MarkupError error = MarkupError::kNone;
};

// Scans one node of `text` (`size` bytes followed by a zero byte) starting at `next` and moves
// `next` past it.
int ScanNode(const char* text, int size, int& next, ScannedNode& node);

// Name comparison: `token` matches `name` when it equals the name's first bytes and the name
// ends there or continues with a name follower. Letters compare without case when asked.
bool NameMatches(std::string_view name, std::string_view token, bool caseInsensitive) noexcept;

// The name token at `pos` in text[0..limit) after white space: a run up to a token delimiter,
// or the single delimiter byte when it starts on one. Empty at the end of the text.
std::string_view ScanNameToken(const char* text, int pos, int limit) noexcept;

}  // namespace pagorin::detail

#include "markup/markup_scanner.h"

#include <climits>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define PAGORIN_MARKUP_SSE2 1
#endif

namespace pagorin::detail {
namespace {

enum class After { kNodeStart, kLess, kBang, kBangDash, kBangBracket, kWhitespace, kDoctype };

std::string Incorrect(const char* what, int offset) {
  return std::string("Incorrect ") + what + " at offset " + std::to_string(offset);
}

const char* UnterminatedWhat(int kind, bool inDoctype) {
  if (inDoctype || kind == kDeclarationNode) return "Doctype";
  switch (kind) {
    case kElementNode:
      return "Element tag";
    case kEndTagNode:
      return "Element end tag";
    case kCDataNode:
      return "CDATA Section";
    case kProcessingInstructionNode:
      return "Processing instruction";
    case kCommentNode:
      return "Comment";
    default:
      return "tag";
  }
}

// Whether the '>' at `end` closes an empty-element tag: the character before it is '/' and the
// one before that is white space or a quote, or the '/' directly follows the name. Characters
// are counted from `bodyStart`; `wideEnd` is where the latest two-byte character ended.
bool IsEmptyElementEnd(const char* text, int end, int bodyStart, int wideEnd) noexcept {
  const int slash = end - 1;
  if (slash < bodyStart || wideEnd == end || text[slash] != '/') return false;
  if (slash - 1 < bodyStart) return true;
  return wideEnd != slash && Is(text[slash - 1], kBeforeSlash);
}

// The offset of the first byte at or after `i` that is `first`, `second`, `third`, the zero
// byte or a byte from 0x80 up (a superset of the lead bytes that the caller sorts out). `stops`
// is the byte class of exactly those. Sixteen bytes at a time while they lie inside the text.
int SkipUntil(const char* text, int i, int size, char first, char second, char third,
              std::uint32_t stops) noexcept {
#ifdef PAGORIN_MARKUP_SSE2
  const __m128i a = _mm_set1_epi8(first);
  const __m128i b = _mm_set1_epi8(second);
  const __m128i c = _mm_set1_epi8(third);
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= size) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, a), _mm_cmpeq_epi8(bytes, b)),
        _mm_or_si128(_mm_cmpeq_epi8(bytes, c),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, zero), _mm_cmplt_epi8(bytes, zero))));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return i + __builtin_ctz(static_cast<unsigned>(mask));
    i += 16;
  }
#else
  (void)size;
  (void)first;
  (void)second;
  (void)third;
#endif
  while (!Is(text[i], stops))
    ++i;
  return i;
}

char Lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

int ScanNode(const char* text, int size, int& next, ScannedNode& node) {
  const int begin = next;
  node.start = begin;
  node.flags = 0;
  node.nameStart = begin;
  node.nameLength = 0;
  node.message.clear();
  if (text[begin] == 0) {
    node.kind = kEndOfText;
    node.length = 0;
    return kEndOfText;
  }

  int kind = kMalformed;
  const char* marker = nullptr;  // ">", "?>", "-->" or "]]>"
  int markerLength = 0;
  After state = After::kNodeStart;
  bool inDoctype = false;
  bool inSingle = false;
  bool inDouble = false;
  int nameStart = -1;
  // The last two characters seen inside a start tag; 0 stands for none (a zero byte never gets
  // this far).
  char last = 0;
  char beforeLast = 0;
  int bodyStart = begin;  // where a start tag's name ended

  auto setMarker = [&](const char* m, int length) {
    marker = m;
    markerLength = length;
  };
  auto finish = [&](int lastByte) {
    next = lastByte + 1;
    node.kind = kind;
    node.length = lastByte + 1 - begin;
    return kind;
  };

  int i = begin;
  for (;;) {
    if (text[i] == 0) {
      if (kind != kTextNode && kind != kWhitespaceNode) {
        node.message = std::string(UnterminatedWhat(kind, inDoctype)) + " at offset " +
                       std::to_string(begin) + " unterminated";
        kind = kMalformed;
      }
      return finish(i - 1);
    }

    // Fast paths for the common nodes outside a DOCTYPE; each handles exactly what the general
    // steps below would, and leaves the end of the text to them.
    if (marker != nullptr && nameStart < 0 && !inDoctype) {
      if (kind == kElementNode) {
        // The characters seen since the name ended are only looked at when the tag ends, so
        // the run is skipped and the last two are found again from their offsets: every
        // two-byte character passes the slow branch, which remembers where the latest ended.
        int wideEnd = -1;
        auto stepOver = [&](int at) {
          // A byte from 0x80 up: a lead byte takes its follower along.
          const int after = NextChar(text, at, INT_MAX);
          if (after == at + 2) wideEnd = after;
          return after;
        };
        for (;;) {
          i = SkipUntil(text, i, size, '>', '"', '\'', kTagStop);
          const char b = text[i];
          if (b == 0) break;
          if (b == '>') {
            if (IsEmptyElementEnd(text, i, bodyStart, wideEnd)) node.flags = kEmptyElement;
            return finish(i);
          }
          if (b != '"' && b != '\'') {
            i = stepOver(i);
            continue;
          }
          // A quoted run: only its closing quote, the zero byte and two-byte characters count.
          const std::uint32_t stops = b == '"' ? kDoubleQuoteStop : kSingleQuoteStop;
          ++i;
          for (;;) {
            while (!Is(text[i], stops))
              ++i;
            if (text[i] == b || text[i] == 0) break;
            i = stepOver(i);
          }
          if (text[i] == 0) break;
          ++i;
        }
        continue;
      }
      if (kind == kTextNode) {
        for (;;) {
          const char b = text[i];
          if (!Is(b, kTextStop)) {
            ++i;
            continue;
          }
          if (b == 0) break;
          if (b == '>') return finish(i);
          if (b == '<') return finish(i - 1);
          i = NextChar(text, i, INT_MAX);
        }
        continue;
      }
      if (kind == kEndTagNode || kind == kCommentNode || kind == kCDataNode ||
          kind == kProcessingInstructionNode) {
        while (text[i] != '>' && text[i] != 0) {
          i = Is(text[i], kGreaterStop) ? NextChar(text, i, INT_MAX) : i + 1;
        }
        if (text[i] == 0) continue;
      }
    } else if (state == After::kWhitespace && marker == nullptr) {
      while (Is(text[i], kWhite))
        ++i;
      if (text[i] == 0) continue;
    }
    const char c = text[i];

    if (nameStart >= 0) {
      // Names are collected byte by byte: no trail byte of the code page is a name end.
      if (!Is(c, kNameEnd | kZero)) {
        ++i;
        while (!Is(text[i], kNameEnd | kZero))
          ++i;
        continue;
      }
      if (c == 0) continue;
      node.nameStart = nameStart;
      node.nameLength = i - nameStart;
      nameStart = -1;
      last = 0;
      beforeLast = 0;
      bodyStart = i;
    }

    if (marker != nullptr) {
      if (c == '>' && !inSingle && !inDouble) {
        bool ends = true;
        if (markerLength > 1) {
          const int others = markerLength - 1;
          ends = i > markerLength;
          for (int k = 0; ends && k < others; ++k) {
            ends = text[i - others + k] == marker[k];
          }
        }
        if (ends) {
          if (!inDoctype) {
            if (kind == kElementNode && last == '/' &&
                (beforeLast == 0 || Is(beforeLast, kBeforeSlash))) {
              node.flags = kEmptyElement;
            }
            return finish(i);
          }
          // A declaration or comment of the internal subset ended; the DOCTYPE goes on.
          marker = nullptr;
          state = After::kDoctype;
        }
      } else if (c == '<' && (kind == kTextNode || kind == kMalformed)) {
        return finish(i - 1);
      } else if (kind == kElementNode || kind == kDeclarationNode || kind == kMalformed) {
        if (c == '"' && !inSingle) {
          inDouble = !inDouble;
        } else if (c == '\'' && !inDouble) {
          inSingle = !inSingle;
        }
        if (kind == kElementNode) {
          beforeLast = last;
          last = c;
        }
      }
    } else {
      switch (state) {
        case After::kNodeStart:
          if (c == '<') {
            state = After::kLess;
          } else if (Is(c, kWhite)) {
            kind = kWhitespaceNode;
            state = After::kWhitespace;
          } else {
            kind = kTextNode;
            setMarker(">", 1);
          }
          break;
        case After::kWhitespace:
          if (c == '<') return finish(i - 1);
          if (!Is(c, kWhite)) {
            kind = kTextNode;
            setMarker(">", 1);
          }
          break;
        case After::kLess:
          if (Is(c, kNameStart)) {
            kind = kElementNode;
            nameStart = i;
            setMarker(">", 1);
          } else if (c == '/') {
            kind = kEndTagNode;
            nameStart = i + 1;
            setMarker(">", 1);
          } else if (c == '!') {
            state = After::kBang;
          } else if (c == '?') {
            kind = kProcessingInstructionNode;
            nameStart = i + 1;
            setMarker("?>", 2);
          } else {
            kind = kMalformed;
            node.message = Incorrect("tag name character", begin);
            setMarker(">", 1);
          }
          break;
        case After::kBang:
          if (c == '-') {
            state = After::kBangDash;
          } else if (c == '[' && !inDoctype) {
            state = After::kBangBracket;
          } else if (c == 'D' && !inDoctype) {
            inDoctype = true;
            state = After::kDoctype;
          } else {
            setMarker(">", 1);
            if (c == 'E' || c == 'A' || c == 'N') {
              kind = kDeclarationNode;
            } else {
              kind = kMalformed;
              node.message = Incorrect("! tag", begin);
            }
          }
          break;
        case After::kBangDash:
          if (c == '-') {
            kind = kCommentNode;
            setMarker("-->", 3);
          } else {
            kind = kMalformed;
            node.message = Incorrect("comment tag", begin);
            setMarker(">", 1);
          }
          break;
        case After::kBangBracket:
          if (c == 'C') {
            kind = kCDataNode;
            setMarker("]]>", 3);
          } else {
            kind = kMalformed;
            node.message = Incorrect("tag", begin);
            setMarker(">", 1);
          }
          break;
        case After::kDoctype:
          if (c == '<') {
            state = After::kLess;
          } else if (c == '>') {
            kind = kDeclarationNode;
            return finish(i);
          }
          break;
      }
    }
    i = NextChar(text, i, INT_MAX);
  }
}

bool NameMatches(std::string_view name, std::string_view token, bool caseInsensitive) noexcept {
  if (token.size() > name.size()) return false;
  if (caseInsensitive) {
    for (std::size_t k = 0; k < token.size(); ++k) {
      if (Lower(token[k]) != Lower(name[k])) return false;
    }
  } else if (name.compare(0, token.size(), token) != 0) {
    return false;
  }
  return token.size() == name.size() || Is(name[token.size()], kNameFollower);
}

std::string_view ScanNameToken(const char* text, int pos, int limit) noexcept {
  while (pos < limit && Is(text[pos], kWhite))
    ++pos;
  if (pos >= limit || text[pos] == 0) return {};
  const int start = pos;
  while (pos < limit && text[pos] != 0 && !Is(text[pos], kTokenDelim)) {
    pos = NextChar(text, pos, limit);
  }
  if (pos == start) pos = start + 1;
  return std::string_view(text + start, static_cast<std::size_t>(pos - start));
}

}  // namespace pagorin::detail

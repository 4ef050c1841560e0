#include "markup/markup_scanner.h"

#include <climits>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define PAGORIN_MARKUP_SSE2 1
#endif

namespace pagorin::detail {
namespace {

// Where the scan of the inside of a node stopped.
struct Stop {
  enum How { kClosed, kTextEnd, kBeforeLess } how;
  int at;  // the closing '>', the zero byte, or the '<' that ends a malformed node
};

// The offset of the first byte at or after `i` that is `first`, `second`, `third`, the zero
// byte or a byte from 0x80 up (a superset of the lead bytes that the caller sorts out). `stops`
// is the byte class of those. Sixteen bytes at a time while they lie inside the text.
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

int Step(const char* text, int i) noexcept {
  return NextChar(text, i, INT_MAX);
}

// A name is read byte by byte: no trail byte of the code page is a name end.
int SkipName(const char* text, int i) noexcept {
  while (!Is(text[i], kNameEnd | kZero))
    ++i;
  return i;
}

// To the first '>' that starts a character.
Stop ScanToGreater(const char* text, int i) noexcept {
  for (;;) {
    while (!Is(text[i], kGreaterStop))
      ++i;
    if (text[i] == '>') return {Stop::kClosed, i};
    if (text[i] == 0) return {Stop::kTextEnd, i};
    i = Step(text, i);
  }
}

// To the '>' of "?>", "-->" or "]]>"; `others` is the marker without its '>'. The bytes before
// the '>' are compared as they stand, and the '>' must lie further into the text than the
// marker is long.
Stop ScanToMarker(const char* text, int i, std::string_view others) noexcept {
  const int count = static_cast<int>(others.size());
  for (;;) {
    const Stop stop = ScanToGreater(text, i);
    if (stop.how != Stop::kClosed) return stop;
    i = stop.at;
    if (i > count + 1 && std::string_view(text + i - count, others.size()) == others) return stop;
    ++i;
  }
}

// To the '>' outside quotes of a declaration or a malformed node; a malformed node also ends
// before any '<', quoted or not.
Stop ScanQuotedToGreater(const char* text, int i, bool lessEnds) noexcept {
  bool inSingle = false;
  bool inDouble = false;
  for (;;) {
    const char c = text[i];
    if (c == 0) return {Stop::kTextEnd, i};
    if (c == '>' && !inSingle && !inDouble) return {Stop::kClosed, i};
    if (c == '<' && lessEnds) return {Stop::kBeforeLess, i};
    if (c == '"' && !inSingle) {
      inDouble = !inDouble;
    } else if (c == '\'' && !inDouble) {
      inSingle = !inSingle;
    }
    i = Step(text, i);
  }
}

// The rest of a start tag from where its name ended: a quoted value hides '>'. The tag is empty
// when it ends in "/>" and the '/' follows the name, white space or a quote.
Stop ScanStartTagBody(const char* text, int size, int bodyStart, bool& empty) noexcept {
  // Where the latest two-byte character ended: the two characters before the '>' are found
  // again from their offsets.
  int wideEnd = -1;
  auto stepOver = [&](int at) {
    const int after = Step(text, at);
    if (after == at + 2) wideEnd = after;
    return after;
  };
  int i = bodyStart;
  for (;;) {
    i = SkipUntil(text, i, size, '>', '"', '\'', kTagStop);
    const char b = text[i];
    if (b == 0) return {Stop::kTextEnd, i};
    if (b == '>') {
      const int slash = i - 1;
      empty = slash >= bodyStart && wideEnd != i && text[slash] == '/' &&
              (slash == bodyStart || (wideEnd != slash && Is(text[slash - 1], kBeforeSlash)));
      return {Stop::kClosed, i};
    }
    if (b != '"' && b != '\'') {
      i = stepOver(i);
      continue;
    }
    const std::uint32_t stops = b == '"' ? kDoubleQuoteStop : kSingleQuoteStop;
    ++i;
    for (;;) {
      while (!Is(text[i], stops))
        ++i;
      if (text[i] == b || text[i] == 0) break;
      i = stepOver(i);
    }
    if (text[i] == 0) return {Stop::kTextEnd, i};
    ++i;
  }
}

// Character data: up to and with a '>', or up to a '<' or the end of the text.
int ScanTextEnd(const char* text, int i) noexcept {
  for (;;) {
    while (!Is(text[i], kTextStop))
      ++i;
    const char c = text[i];
    if (c == '>') return i;
    if (c == '<' || c == 0) return i - 1;
    i = Step(text, i);
  }
}

// A node scan in progress: where it began and what it gives back.
class NodeScan {
 public:
  NodeScan(const char* text, int size, int& next, ScannedNode& node) noexcept
      : text_(text), size_(size), next_(next), node_(node), begin_(next) {}

  int Run() noexcept;

 private:
  int Finish(int kind, int lastByte) noexcept {
    next_ = lastByte + 1;
    node_.kind = kind;
    node_.length = lastByte + 1 - begin_;
    return kind;
  }
  // The text ended inside the node.
  int Unterminated(MarkupError error, int zeroAt) noexcept {
    node_.error = error;
    return Finish(kMalformed, zeroAt - 1);
  }
  // A node whose ending comes from a closed scan, or which the text ended.
  int Ended(int kind, Stop stop, MarkupError unterminated) noexcept {
    if (stop.how == Stop::kTextEnd) return Unterminated(unterminated, stop.at);
    return Finish(kind, stop.how == Stop::kBeforeLess ? stop.at - 1 : stop.at);
  }
  // A bad character at `at` after "<", "<!", "<!-" or "<![": the node runs on to a '>' outside
  // quotes or up to the next '<'.
  int Incorrect(MarkupError error, int at) noexcept {
    node_.error = error;
    return Ended(kMalformed, ScanQuotedToGreater(text_, Step(text_, at), true),
                 MarkupError::kTagUnterminated);
  }
  void SetName(int start, int end) noexcept {
    node_.nameStart = start;
    node_.nameLength = end - start;
  }

  int Whitespace() noexcept;
  int StartTag() noexcept;
  int EndTag() noexcept;
  int ProcessingInstruction() noexcept;
  int Bang() noexcept;
  int Doctype(int i) noexcept;
  Stop DoctypeMarkup(int i) noexcept;

  const char* text_;
  int size_;
  int& next_;
  ScannedNode& node_;
  const int begin_;
};

int NodeScan::Run() noexcept {
  const char c = text_[begin_];
  if (c == 0) {
    node_.kind = kEndOfText;
    node_.length = 0;
    return kEndOfText;
  }
  if (c != '<') {
    if (Is(c, kWhite)) return Whitespace();
    return Finish(kTextNode, ScanTextEnd(text_, Step(text_, begin_)));
  }
  const int at = begin_ + 1;
  const char d = text_[at];
  if (Is(d, kNameStart)) return StartTag();
  switch (d) {
    case '/':
      return EndTag();
    case '?':
      return ProcessingInstruction();
    case '!':
      return Bang();
    case 0:
      return Unterminated(MarkupError::kTagUnterminated, at);
    default:
      return Incorrect(MarkupError::kIncorrectTagNameCharacter, at);
  }
}

// White space up to a '<' or the end of the text; any other character makes it character data.
int NodeScan::Whitespace() noexcept {
  int i = begin_ + 1;
  while (Is(text_[i], kWhite))
    ++i;
  if (text_[i] == '<' || text_[i] == 0) return Finish(kWhitespaceNode, i - 1);
  return Finish(kTextNode, ScanTextEnd(text_, Step(text_, i)));
}

int NodeScan::StartTag() noexcept {
  const int nameStart = begin_ + 1;
  const int nameEnd = SkipName(text_, Step(text_, nameStart));
  if (text_[nameEnd] == 0) return Unterminated(MarkupError::kElementTagUnterminated, nameEnd);
  SetName(nameStart, nameEnd);
  bool empty = false;
  const Stop stop = ScanStartTagBody(text_, size_, nameEnd, empty);
  if (stop.how == Stop::kClosed && empty) node_.flags = kEmptyElement;
  return Ended(kElementNode, stop, MarkupError::kElementTagUnterminated);
}

int NodeScan::EndTag() noexcept {
  const int nameStart = begin_ + 2;
  const int nameEnd = SkipName(text_, nameStart);
  if (text_[nameEnd] == 0) return Unterminated(MarkupError::kEndTagUnterminated, nameEnd);
  SetName(nameStart, nameEnd);
  return Ended(kEndTagNode, ScanToGreater(text_, nameEnd), MarkupError::kEndTagUnterminated);
}

int NodeScan::ProcessingInstruction() noexcept {
  const int nameStart = begin_ + 2;
  const int nameEnd = SkipName(text_, nameStart);
  constexpr MarkupError kOpen = MarkupError::kProcessingInstructionUnterminated;
  if (text_[nameEnd] == 0) return Unterminated(kOpen, nameEnd);
  SetName(nameStart, nameEnd);
  return Ended(kProcessingInstructionNode, ScanToMarker(text_, nameEnd, "?"), kOpen);
}

// After "<!": a comment, a CDATA section, a DOCTYPE or another declaration.
int NodeScan::Bang() noexcept {
  const int at = begin_ + 2;
  const char c = text_[at];
  switch (c) {
    case 0:
      return Unterminated(MarkupError::kTagUnterminated, at);
    case '-':
      if (text_[at + 1] == '-') {
        return Ended(kCommentNode, ScanToMarker(text_, at + 2, "--"),
                     MarkupError::kCommentUnterminated);
      }
      if (text_[at + 1] == 0) return Unterminated(MarkupError::kTagUnterminated, at + 1);
      return Incorrect(MarkupError::kIncorrectCommentTag, at + 1);
    case '[':
      // The rest of the keyword is not examined.
      if (text_[at + 1] == 'C') {
        return Ended(kCDataNode, ScanToMarker(text_, at + 2, "]]"),
                     MarkupError::kCDataUnterminated);
      }
      if (text_[at + 1] == 0) return Unterminated(MarkupError::kTagUnterminated, at + 1);
      return Incorrect(MarkupError::kIncorrectTag, at + 1);
    case 'D':
      return Doctype(at + 1);
    case 'E':
    case 'A':
    case 'N':
      return Ended(kDeclarationNode, ScanQuotedToGreater(text_, Step(text_, at), false),
                   MarkupError::kDoctypeUnterminated);
    default:
      return Incorrect(MarkupError::kIncorrectBangTag, at);
  }
}

// A DOCTYPE runs to the first '>' outside the declarations and comments of its internal subset,
// which are scanned as at the top level but go on with the DOCTYPE when they end.
int NodeScan::Doctype(int i) noexcept {
  for (;;) {
    const char c = text_[i];
    if (c == 0) return Unterminated(MarkupError::kDoctypeUnterminated, i);
    if (c == '>') return Finish(kDeclarationNode, i);
    if (c != '<') {
      i = Step(text_, i);
      continue;
    }
    const Stop inner = DoctypeMarkup(i + 1);
    if (inner.how == Stop::kTextEnd) {
      return Unterminated(MarkupError::kDoctypeUnterminated, inner.at);
    }
    if (inner.how == Stop::kBeforeLess) return Finish(kMalformed, inner.at - 1);
    i = inner.at + 1;
  }
}

// One piece of markup inside a DOCTYPE, from after its '<'. A malformed piece that runs into a
// '<' ends the whole node, carrying the piece's error.
Stop NodeScan::DoctypeMarkup(int i) noexcept {
  const char c = text_[i];
  if (c == 0) return {Stop::kTextEnd, i};
  if (Is(c, kNameStart)) {
    const int nameEnd = SkipName(text_, Step(text_, i));
    if (text_[nameEnd] == 0) return {Stop::kTextEnd, nameEnd};
    return ScanQuotedToGreater(text_, nameEnd, false);
  }
  if (c == '/' || c == '?') {
    const int nameEnd = SkipName(text_, i + 1);
    if (text_[nameEnd] == 0) return {Stop::kTextEnd, nameEnd};
    return c == '/' ? ScanToGreater(text_, nameEnd) : ScanToMarker(text_, nameEnd, "?");
  }
  MarkupError error = MarkupError::kIncorrectTagNameCharacter;
  int bad = i;
  if (c == '!') {
    bad = i + 1;
    const char d = text_[bad];
    if (d == 0) return {Stop::kTextEnd, bad};
    if (d == '-') {
      bad = i + 2;
      if (text_[bad] == '-') return ScanToMarker(text_, bad + 1, "--");
      if (text_[bad] == 0) return {Stop::kTextEnd, bad};
      error = MarkupError::kIncorrectCommentTag;
    } else if (d == 'E' || d == 'A' || d == 'N') {
      return ScanQuotedToGreater(text_, Step(text_, bad), false);
    } else {
      error = MarkupError::kIncorrectBangTag;
    }
  }
  node_.error = error;
  return ScanQuotedToGreater(text_, Step(text_, bad), true);
}

}  // namespace

int ScanNode(const char* text, int size, int& next, ScannedNode& node) {
  node.start = next;
  node.flags = 0;
  node.nameStart = next;
  node.nameLength = 0;
  node.error = MarkupError::kNone;
  return NodeScan(text, size, next, node).Run();
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

#include "markup/markup_scanner.h"

#include <climits>

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

char Lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

int ScanNode(const char* text, int& next, ScannedNode& node) {
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
    const char c = text[i];
    if (c == 0) {
      if (kind != kTextNode && kind != kWhitespaceNode) {
        node.message = std::string(UnterminatedWhat(kind, inDoctype)) + " at offset " +
                       std::to_string(begin) + " unterminated";
        kind = kMalformed;
      }
      return finish(i - 1);
    }

    if (nameStart >= 0) {
      // Names are collected byte by byte: no trail byte of the code page is a name end.
      if (!Is(c, kNameEnd)) {
        ++i;
        continue;
      }
      node.nameStart = nameStart;
      node.nameLength = i - nameStart;
      nameStart = -1;
      last = 0;
      beforeLast = 0;
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

// Navigation, attributes and adding elements. Every edit changes the text in place and then
// shifts the offsets of the index, so positions stay valid across edits.
#include <cstring>

#include "markup/markup_document.h"
#include "markup/markup_limits.h"
#include "markup/markup_scanner.h"

namespace pagorin {

using detail::Is;
using detail::NextChar;

namespace {

// An attribute name the attribute search reads back as one word.
bool IsWritableAttributeName(const char* name) noexcept {
  if (name == nullptr || name[0] == 0) return false;
  for (const char* p = name; *p != 0; ++p) {
    if (Is(*p, detail::kTokenDelim) || *p == '"' || *p == '\'') return false;
  }
  return true;
}

// A tag name that the node scanner and TagName both read back whole.
bool IsWritableTagName(const char* name) noexcept {
  return name != nullptr && Is(name[0], detail::kNameStart) && IsWritableAttributeName(name);
}

}  // namespace

// What the attribute search found in a start tag.
struct MarkupDocument::AttributeSpan {
  enum Found { kNone, kValue, kNameOnly } found = kNone;
  int start = 0;        // first byte of the value, or of the name when it has no value
  int end = 0;          // one past its last byte
  bool quoted = false;  // the value stands in quotes (start and end exclude them)
  bool closed = false;  // the closing quote is there
  int insertAt = 0;     // where a missing attribute goes
};

std::string_view MarkupDocument::TagNameView(int pos) const {
  if (pos <= 0 || pos >= nextFreeRecord_) return {};
  const ElementRecord& element = Rec(pos);
  const int limit = element.start + element.startTagLength;
  if (element.startTagLength < 2 || limit > static_cast<int>(text_.size())) return {};
  return detail::ScanNameToken(text_.c_str(), element.start + 1, limit - 1);
}

std::string MarkupDocument::TagName(int pos) const noexcept {
  try {
    return std::string(TagNameView(pos));
  } catch (...) {
    return {};
  }
}

bool MarkupDocument::NameMatchesTag(int pos, std::string_view name) const {
  return detail::NameMatches(name, TagNameView(pos), (options_ & kCaseInsensitive) != 0);
}

int MarkupDocument::FindNamedChild(int parent, int reference, const char* name) const {
  int candidate = reference != 0 ? Rec(reference).next : Rec(parent).firstChild;
  if (name == nullptr || name[0] == 0) return candidate;
  const std::string_view wanted(name);
  while (candidate != 0 && !NameMatchesTag(candidate, wanted))
    candidate = Rec(candidate).next;
  return candidate;
}

bool MarkupDocument::FindElement(const char* name) noexcept {
  if (recordCapacity_ == 0) return false;
  const int found = FindNamedChild(parentPos_, currentPos_, name);
  if (found == 0) return false;
  parentPos_ = Rec(found).parent;
  currentPos_ = found;
  childPos_ = 0;
  onElement_ = 1;
  return true;
}

bool MarkupDocument::FindChildElement(const char* name) noexcept {
  if (recordCapacity_ == 0) return false;
  if (currentPos_ == 0) FindElement();
  const int found = FindNamedChild(currentPos_, childPos_, name);
  if (found == 0) return false;
  childPos_ = found;
  currentPos_ = Rec(found).parent;
  parentPos_ = Rec(currentPos_).parent;
  onElement_ = currentPos_ != 0 ? 1 : 0;
  return true;
}

bool MarkupDocument::EnterElement() noexcept {
  if (currentPos_ == 0 || onElement_ != 1) return false;
  parentPos_ = currentPos_;
  currentPos_ = childPos_;
  childPos_ = 0;
  onElement_ = currentPos_ != 0 ? 1 : 0;
  return true;
}

bool MarkupDocument::LeaveElement() noexcept {
  if (parentPos_ == 0) return false;
  childPos_ = currentPos_;
  currentPos_ = parentPos_;
  parentPos_ = Rec(currentPos_).parent;
  onElement_ = 1;
  return true;
}

// Walks the words of a start tag, which is read only up to its closing '>', so that nothing a
// malformed value holds can reach into the text that follows the tag.
void MarkupDocument::FindAttribute(int pos, const char* name, AttributeSpan& span) const {
  const ElementRecord& element = Rec(pos);
  const char* text = text_.c_str();
  // The words end at the closing '>', or at the '/' of an empty-element tag, which must stay
  // right before the '>' whatever the tag holds.
  int tagEnd = element.start + element.startTagLength - 1;
  span = AttributeSpan{};
  span.insertAt = tagEnd;
  if (element.startTagLength < 3 || tagEnd >= static_cast<int>(text_.size())) return;
  if (element.length == element.startTagLength && (element.flags & kFlagNoEndTag) == 0 &&
      text[tagEnd - 1] == '/') {
    --tagEnd;
  }
  const std::string_view wanted(name);
  const bool caseInsensitive = (options_ & kCaseInsensitive) != 0;

  bool haveName = false;
  int nameStart = 0;
  int nameEnd = 0;
  auto foundName = [&] {
    span.found = AttributeSpan::kNameOnly;
    span.start = nameStart;
    span.end = nameEnd;
  };
  bool firstWord = true;
  int next = element.start + 1;
  for (;;) {
    const int wordStart = next;  // where a missing attribute is inserted
    bool afterEquals = false;
    for (;;) {
      int at = next;
      while (at < tagEnd && Is(text[at], detail::kWhite))
        ++at;
      if (at >= tagEnd) {
        // The tag ends: "x=" right before '>' has an empty value.
        span.insertAt = wordStart;
        if (haveName && afterEquals) {
          span.found = AttributeSpan::kValue;
          span.start = span.end = at;
        } else if (haveName) {
          foundName();
        }
        return;
      }
      const char first = text[at];
      bool quoted = false;
      bool closed = false;
      int start = at;
      int end = at;
      if (first == '"' || first == '\'') {
        quoted = true;
        start = end = at + 1;
        while (end < tagEnd && text[end] != first)
          end = NextChar(text, end, tagEnd);
        closed = end < tagEnd;
        next = closed ? end + 1 : end;
      } else {
        const std::uint32_t stop = afterEquals ? detail::kValueEnd : detail::kAttrWordEnd;
        while (end < tagEnd && !Is(text[end], stop))
          end = NextChar(text, end, tagEnd);
        if (end == start) ++end;
        next = end;
      }
      if (afterEquals || quoted) {
        if (!haveName) break;  // the value of another attribute
        if (afterEquals) {
          span.found = AttributeSpan::kValue;
          span.start = start;
          span.end = end;
          span.quoted = quoted;
          span.closed = closed;
        } else {
          foundName();
        }
        return;
      }
      if (first == '=' && end - start == 1) {
        afterEquals = true;
        continue;
      }
      if (first == '/' || first == '?' || first == '>') {
        span.insertAt = wordStart;
        if (haveName) foundName();
        return;
      }
      if (haveName) {
        foundName();
        return;
      }
      const std::string_view word(text + start, static_cast<std::size_t>(end - start));
      if (!firstWord && detail::NameMatches(wanted, word, caseInsensitive)) {
        haveName = true;
        nameStart = start;
        nameEnd = end;
      }
      firstWord = false;
      break;
    }
  }
}

std::string MarkupDocument::GetAttribute(const char* name) const noexcept {
  return GetAttribute(currentPos_, name);
}

std::string MarkupDocument::GetAttribute(int pos, const char* name) const noexcept {
  if (pos <= 0 || pos >= nextFreeRecord_ || onElement_ != 1 || name == nullptr) return {};
  try {
    AttributeSpan span;
    FindAttribute(pos, name, span);
    if (span.found == AttributeSpan::kNone) return {};
    return DecodeText(text_.c_str() + span.start, span.end - span.start);
  } catch (...) {
    return {};
  }
}

bool MarkupDocument::SetAttribute(int pos, const char* name, int value) noexcept {
  try {
    return SetAttribute(pos, name, std::to_string(value).c_str());
  } catch (...) {
    return false;
  }
}

bool MarkupDocument::SetAttribute(int pos, const char* name, const char* value) noexcept {
  if (pos <= 0 || pos >= nextFreeRecord_ || onElement_ != 1) return false;
  if (!IsWritableAttributeName(name)) return false;
  try {
    const std::string encoded = EncodeText(value, kEncodeQuotes);
    if (encoded.empty() && value != nullptr && value[0] != 0) return false;  // out of memory
    const std::string quotedValue = "\"" + encoded + "\"";
    AttributeSpan span;
    FindAttribute(pos, name, span);
    int offset = 0;
    int count = 0;
    std::string replacement;
    switch (span.found) {
      case AttributeSpan::kValue:
        offset = span.quoted ? span.start - 1 : span.start;
        count = span.end + (span.quoted && span.closed ? 1 : 0) - offset;
        replacement = quotedValue;
        break;
      case AttributeSpan::kNameOnly:
        // A name standing without a value gets one; the name stays.
        offset = span.end;
        replacement = "=" + quotedValue;
        break;
      case AttributeSpan::kNone:
        offset = span.insertAt;
        replacement = std::string(" ") + name + "=" + quotedValue;
        break;
    }
    const int diff = static_cast<int>(replacement.size()) - count;
    if (!ReplaceText(offset, count, replacement)) return false;
    ElementRecord& element = Rec(pos);
    element.startTagLength += diff;
    element.length += diff;
    ShiftOffsets(pos, diff);
    return true;
  } catch (...) {
    return false;
  }
}

bool MarkupDocument::ReplaceText(int offset, int count, std::string_view replacement) {
  const std::size_t size = text_.size();
  const auto at = static_cast<std::size_t>(offset);
  const auto removed = static_cast<std::size_t>(count);
  if (offset < 0 || count < 0 || at > size || removed > size - at) return false;
  if (replacement.size() > detail::kMaxTextLength) return false;
  const std::size_t newLength = size - removed + replacement.size();
  if (newLength > detail::kMaxTextLength) return false;
  if (text_.capacity() < newLength) {
    // Room for half as much again, so that building a document append by append stays linear.
    text_.reserve(newLength + newLength / 2 + 128);
  }
  text_.replace(at, removed, replacement);
  return true;
}

// Walks in document order from `pos`: elements that begin after the changed point move by
// `diff`, elements that enclose it grow by `diff`, the document record last of all.
void MarkupDocument::ShiftOffsets(int pos, int diff) noexcept {
  if (Rec(pos).startTagLength == 0) return;
  int grow = Rec(pos).parent;
  int at = pos;
  auto nextSibling = [this, &grow](int from) {
    if (Rec(from).next != 0) return Rec(from).next;
    for (int up = Rec(from).parent;; up = Rec(up).parent) {
      if (up == grow) return grow;
      if (Rec(up).next != 0) return Rec(up).next;
    }
  };
  for (;;) {
    int step;
    if (at == grow) {
      grow = Rec(grow).parent;
      step = nextSibling(at);
    } else {
      step = Rec(at).firstChild != 0 ? Rec(at).firstChild : nextSibling(at);
    }
    if (step == grow) {
      Rec(grow).length += diff;
    } else {
      Rec(step).start += diff;
    }
    if (Rec(step).startTagLength == 0) return;
    at = step;
  }
}

void MarkupDocument::LinkElement(int parent, int reference, int pos) noexcept {
  ElementRecord& element = Rec(pos);
  element.parent = parent;
  if (reference != 0) {
    element.flags &= ~kFlagFirstChild;
    element.next = Rec(reference).next;
    if (element.next != 0) {
      Rec(element.next).previous = pos;
    } else {
      Rec(Rec(parent).firstChild).previous = pos;
    }
    Rec(reference).next = pos;
    element.previous = reference;
  } else {
    element.flags |= kFlagFirstChild;
    const int first = Rec(parent).firstChild;
    if (first != 0) {
      element.next = first;
      element.previous = Rec(first).previous;
      Rec(first).previous = pos;
      Rec(first).flags &= ~kFlagFirstChild;
    } else {
      element.next = 0;
      element.previous = pos;
    }
    Rec(parent).firstChild = pos;
  }
  if (parent != 0) element.level = Rec(parent).level + 1;
}

void MarkupDocument::LinkElementBefore(int parent, int before, int pos) noexcept {
  LinkElement(parent, Rec(parent).firstChild == before ? 0 : Rec(before).previous, pos);
}

// Where an added element goes, and how the text changes to take it.
struct MarkupDocument::Insertion {
  int parent = 0;
  int reference = 0;           // the sibling it follows (or, with `before`, precedes); 0: none
  bool before = false;         // kInsertBefore applies
  bool openContainer = false;  // the parent was an empty element and gets an end tag now
  bool openUpSlash = false;    // ... by giving up the '/' of its "/>"
  int openedEndTagLength = 0;  // ... of this length
  int offset = 0;              // where the new element's '<' lands
  int insertAt = 0;            // where the text changes
  int replaced = 0;            // bytes replaced there
  std::string inserted;        // what goes there
};

namespace {

// The new element's markup with its tag lengths in `added`; false when the content cannot be
// made or would not fit a document.
bool ComposeElement(const char* name, const char* data, int options, std::string& markup,
                    MarkupDocument::ElementRecord& added) {
  using Doc = MarkupDocument;
  const int nameLength = static_cast<int>(std::strlen(name));
  if (nameLength > static_cast<int>(detail::kMaxTextLength / 4)) return false;
  added = {};
  const bool bare = data == nullptr || ((options & Doc::kNoEndTag) != 0 && data[0] == 0);
  if (bare) {
    if ((options & Doc::kNoEndTag) != 0) {
      markup.append("<").append(name).append(">");
      added.flags = Doc::kFlagNoEndTag;
    } else {
      markup.append("<").append(name).append((options & Doc::kSpacedEmptyTag) != 0 ? " />" : "/>");
    }
    added.length = added.startTagLength = static_cast<int>(markup.size());
    return true;
  }
  const bool asCData = (options & Doc::kAsCData) != 0;
  const std::string content = asCData ? Doc::WrapCData(data) : Doc::EncodeText(data, options);
  // Both give an empty text only when they ran out of memory.
  if (content.empty() && (asCData || data[0] != 0)) return false;
  if (content.size() > detail::kMaxTextLength) return false;
  markup.reserve(content.size() + 2 * static_cast<std::size_t>(nameLength) + 5);
  markup.append("<").append(name).append(">").append(content);
  markup.append("</").append(name).append(">");
  if (markup.size() > detail::kMaxTextLength) return false;
  added.length = static_cast<int>(markup.size());
  added.startTagLength = nameLength + 2;
  added.endTagLength = nameLength + 3;
  return true;
}

}  // namespace

// Before the reference (or the first child), or after it (or as the last child). A new child of
// an element without content opens that element up: "<p/>" becomes "<p>\r\n<new/>\r\n</p>".
void MarkupDocument::PlanInsertion(int options, std::string&& markup, Insertion& at) const {
  const std::string_view lineBreak = (options & kNoLineBreak) != 0 ? "" : "\r\n";
  const char* text = text_.c_str();
  const int textLength = static_cast<int>(text_.size());
  const ElementRecord& container = Rec(at.parent);
  const bool containerEmpty = at.parent != 0 && container.length == container.startTagLength;
  const bool containerBare =
      at.parent != 0 && container.length - container.endTagLength - container.startTagLength == 0;
  at.before = (options & kInsertBefore) != 0 &&
              (at.reference != 0 || (!containerEmpty && container.firstChild != 0));
  if (at.before) {
    if (at.reference == 0) at.reference = container.firstChild;
    at.offset = at.insertAt = Rec(at.reference).start;
    at.inserted = std::move(markup);
    at.inserted += lineBreak;
    return;
  }

  const int closing = container.start + container.length;
  if (at.reference != 0) {
    at.offset = Rec(at.reference).start + Rec(at.reference).length;
  } else if (containerEmpty) {
    // The '/' of "/>" gives way to the new content; a tag without it is opened before its '>'.
    at.openUpSlash =
        (container.flags & kFlagNoEndTag) == 0 && container.length >= 3 && text[closing - 2] == '/';
    at.offset = container.start + container.startTagLength - (at.openUpSlash ? 1 : 0);
  } else {
    at.offset = closing - container.endTagLength;
  }
  if (!containerEmpty) {
    // After white space that runs up to the next tag or the end.
    int skip = at.offset;
    while (skip < textLength && Is(text[skip], detail::kWhite))
      ++skip;
    if (skip >= textLength || text[skip] == 0 || text[skip] == '<') at.offset = skip;
  }
  if (at.reference == 0 && container.firstChild != 0) {
    at.reference = Rec(container.firstChild).previous;
  }
  markup += lineBreak;
  if (containerEmpty || containerBare) at.offset += static_cast<int>(lineBreak.size());
  if (containerEmpty) {
    at.openContainer = true;
    at.inserted.append(">").append(lineBreak).append(markup).append("</");
    const std::string_view containerName = TagNameView(at.parent);
    at.inserted.append(containerName);
    at.openedEndTagLength = static_cast<int>(containerName.size()) + 3;
    at.insertAt = at.openUpSlash ? closing - 2 : closing - 1;
    at.replaced = at.openUpSlash ? 1 : 0;
  } else if (containerBare) {
    at.inserted.append(lineBreak).append(markup);
    at.insertAt = container.start + container.startTagLength;
  } else {
    at.inserted = std::move(markup);
    at.insertAt = at.offset;
  }
}

// The text holds the element now; the index is brought in step. Nothing here throws.
int MarkupDocument::IndexInsertion(const Insertion& at, const ElementRecord& added) noexcept {
  const int pos = nextFreeRecord_++;
  if (at.openContainer) {
    ElementRecord& opened = Rec(at.parent);
    if (at.openUpSlash) {
      opened.startTagLength -= 1;
    } else {
      opened.flags &= ~kFlagNoEndTag;
    }
    opened.endTagLength = at.openedEndTagLength;
  }
  ElementRecord& element = Rec(pos);
  element = added;
  element.start = at.offset;
  if (at.before) {
    LinkElementBefore(at.parent, at.reference, pos);
  } else {
    LinkElement(at.parent, at.reference, pos);
  }
  ShiftOffsets(pos, static_cast<int>(at.inserted.size()) - at.replaced);
  return pos;
}

bool MarkupDocument::AddElement(const char* name, const char* data, int options) noexcept {
  if (!IsWritableTagName(name)) return false;
  Insertion at;
  if ((options & kAsChild) != 0) {
    if (currentPos_ == 0) return false;
    at.parent = currentPos_;
    at.reference = childPos_;
  } else {
    at.parent = parentPos_;
    at.reference = currentPos_;
  }
  try {
    if (nextFreeRecord_ >= recordCapacity_) ReserveRecords(0);
    if (nextFreeRecord_ >= recordCapacity_) return false;
    std::string markup;
    ElementRecord added;
    if (!ComposeElement(name, data, options, markup, added)) return false;
    PlanInsertion(options, std::move(markup), at);
    if (!ReplaceText(at.insertAt, at.replaced, at.inserted)) return false;
    const int pos = IndexInsertion(at, added);
    if ((options & kAsChild) != 0) {
      currentPos_ = at.parent;
      childPos_ = pos;
    } else {
      parentPos_ = at.parent;
      currentPos_ = pos;
      childPos_ = 0;
    }
    onElement_ = 1;
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace pagorin

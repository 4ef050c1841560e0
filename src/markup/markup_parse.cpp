// Construction, the element index and the parse that builds it.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <new>

#include "markup/markup_document.h"
#include "markup/markup_limits.h"
#include "markup/markup_scanner.h"
#include "platform/system_error.h"
#include "platform/text_format.h"

namespace pagorin {

using detail::kMaxRecords;
using detail::kMaxTextLength;
using detail::kRecordsPerPage;

MarkupDocument::MarkupDocument() {
  SetText(nullptr);
  options_ = 0;
}

MarkupDocument::~MarkupDocument() = default;

bool MarkupDocument::SetText(const char* text) noexcept {
  return SetText(text == nullptr ? std::string_view() : std::string_view(text));
}

bool MarkupDocument::SetText(std::string_view text) noexcept {
  if (text.size() > kMaxTextLength) {
    platform::AssignErrorText(errorText_, EFBIG);
    return false;
  }
  try {
    std::string copy(text);
    text_.swap(copy);
  } catch (...) {
    platform::AssignErrorText(errorText_, ENOMEM);
    return false;
  }
  errorText_.clear();
  return Parse();
}

bool MarkupDocument::ParseSucceeded() const noexcept {
  if (recordCapacity_ == 0) return false;
  const ElementRecord& document = Rec(0);
  return (document.flags & kFlagDocumentError) == 0 && document.firstChild != 0 &&
         Rec(document.firstChild).next == 0;
}

const MarkupDocument::ElementRecord* MarkupDocument::Record(int pos) const noexcept {
  if (pos < 0 || pos >= nextFreeRecord_) return nullptr;
  return &Rec(pos);
}

namespace {

struct ErrorForm {
  const char* pattern;
  const char* what;  // the first %s, when it is not a name from the text
};

// Indexed by MarkupError.
constexpr ErrorForm kErrorForms[] = {
    {"", nullptr},
    {"Empty document", nullptr},
    {"No root element", nullptr},
    {"Root element has sibling", nullptr},
    {"Element '%s' at offset %d not ended", nullptr},
    {"End tag '%s' at offset %d does not match start tag '%s' at offset %d", nullptr},
    {"No start tag for end tag '%s' at offset %d", nullptr},
    {"%s at offset %d unterminated", "Doctype"},
    {"%s at offset %d unterminated", "Element tag"},
    {"%s at offset %d unterminated", "Element end tag"},
    {"%s at offset %d unterminated", "CDATA Section"},
    {"%s at offset %d unterminated", "Processing instruction"},
    {"%s at offset %d unterminated", "Comment"},
    {"%s at offset %d unterminated", "tag"},
    {"Incorrect %s at offset %d", "tag name character"},
    {"Incorrect %s at offset %d", "! tag"},
    {"Incorrect %s at offset %d", "comment tag"},
    {"Incorrect %s at offset %d", "tag"},
    {"", nullptr},
};
static_assert(std::size(kErrorForms) == static_cast<std::size_t>(MarkupError::kOutOfMemory) + 1);

std::string_view Span(const std::string& text, int start, int length) {
  return std::string_view(text).substr(static_cast<std::size_t>(start),
                                       static_cast<std::size_t>(length));
}

}  // namespace

// Only the first error of a parse is kept; the root checks replace it.
void MarkupDocument::NoteError(MarkupError kind, int offset) noexcept {
  if (parseError_.kind != MarkupError::kNone) return;
  parseError_ = {kind, offset};
}

bool MarkupDocument::Parse() noexcept {
  std::string kept;
  kept.swap(errorText_);
  try {
    parentPos_ = currentPos_ = childPos_ = onElement_ = 0;
    nextFreeRecord_ = 1;
    // The last parse's error names are spans of a text that is gone; an empty text, which
    // ParseElements never scans, would otherwise read them.
    parseError_ = {};
    errorNames_ = {};
    ReserveRecords(static_cast<std::int64_t>(text_.size() / 64 + 8));
    Rec(0) = ElementRecord{};
    if (text_.empty()) {
      parseError_ = {MarkupError::kEmptyDocument, 0};
    } else {
      const int first = ParseElements();
      Rec(0).length = static_cast<int>(text_.size());
      if (first == 0) {
        parseError_ = {MarkupError::kNoRootElement, 0};
      } else {
        Rec(0).firstChild = first;
        if (Rec(first).next != 0) parseError_ = {MarkupError::kRootHasSibling, 0};
      }
    }
    parentPos_ = currentPos_ = childPos_ = onElement_ = 0;

    const ErrorForm& form = kErrorForms[static_cast<std::size_t>(parseError_.kind)];
    const ErrorNames& names = errorNames_;
    const std::string_view first = form.what != nullptr
                                       ? std::string_view(form.what)
                                       : Span(text_, names.nameStart, names.nameLength);
    errorText_ = platform::FormatText(form.pattern,
                                      {first, std::int64_t{parseError_.offset},
                                       Span(text_, names.otherNameStart, names.otherNameLength),
                                       std::int64_t{names.otherOffset}});
    if (!kept.empty()) {
      if (errorText_.empty()) {
        errorText_.swap(kept);
      } else {
        errorText_ = kept + ", " + errorText_;
      }
    }
  } catch (...) {
    ResetIndexAfterFailure();
  }
  return ParseSucceeded();
}

void MarkupDocument::ResetIndexAfterFailure() noexcept {
  parentPos_ = currentPos_ = childPos_ = onElement_ = 0;
  nextFreeRecord_ = 1;
  openElements_.clear();
  parseError_ = {MarkupError::kOutOfMemory, 0};
  if (recordCapacity_ > 0) {
    Rec(0) = ElementRecord{};
    Rec(0).flags = kFlagDocumentError;
    Rec(0).length = static_cast<int>(text_.size());
  }
  platform::AssignErrorText(errorText_, ENOMEM);
}

// Records live in pages of 65,536; one call adds at most one new page, so a page holding
// records in use is only ever copied once, when it is completed.
void MarkupDocument::ReserveRecords(std::int64_t count) {
  if (count == 0) count = static_cast<std::int64_t>(nextFreeRecord_) + nextFreeRecord_ / 2;
  count = std::max<std::int64_t>(count, 1);
  count = std::min<std::int64_t>(count, kMaxRecords);
  if (recordCapacity_ >= count) return;

  const std::int64_t capacity = recordCapacity_;
  const std::int64_t lastPage = capacity > 0 ? (capacity - 1) / kRecordsPerPage : 0;
  std::int64_t targetPage = (count - 1) / kRecordsPerPage;
  if (targetPage > lastPage + 1) {
    targetPage = lastPage + 1;
    count = (lastPage + 2) * kRecordsPerPage;
  }
  const auto target = static_cast<std::size_t>(targetPage);
  const auto last = static_cast<std::size_t>(lastPage);
  if (target >= pages_.size()) pages_.resize(2 * target + 4);

  const std::int64_t usedInLast = capacity - lastPage * kRecordsPerPage;
  // Slots are written before they are read: a parse or an edit fills every field of a record it
  // takes, and only records in use are copied.
  std::unique_ptr<ElementRecord[]> completed;
  if (targetPage > lastPage && usedInLast < kRecordsPerPage) {
    completed = std::make_unique_for_overwrite<ElementRecord[]>(kRecordsPerPage);
  }
  auto page = std::make_unique_for_overwrite<ElementRecord[]>(
      static_cast<std::size_t>(count - targetPage * kRecordsPerPage));
  const std::int64_t inUseInLast =
      std::clamp<std::int64_t>(nextFreeRecord_ - lastPage * kRecordsPerPage, 0, usedInLast);

  // Nothing below throws: the document changes only once every allocation has succeeded.
  if (completed) {
    if (pages_[last]) {
      std::copy_n(pages_[last].get(), static_cast<std::size_t>(inUseInLast), completed.get());
    }
    pages_[last] = std::move(completed);
  }
  if (targetPage == lastPage && pages_[target]) {
    std::copy_n(pages_[target].get(), static_cast<std::size_t>(inUseInLast), page.get());
  }
  pages_[target] = std::move(page);
  recordCapacity_ = static_cast<int>(count);
}

int MarkupDocument::NewRecord() {
  if (nextFreeRecord_ >= recordCapacity_) ReserveRecords(0);
  if (nextFreeRecord_ >= recordCapacity_) throw std::bad_alloc();
  return nextFreeRecord_++;
}

// The parse loop: each node is scanned whole, and only start and end tags and malformed nodes
// change the index. Everything is parsed under the document record.
int MarkupDocument::ParseElements() {
  openElements_.clear();
  const char* text = text_.c_str();
  const int size = static_cast<int>(text_.size());
  int current = 0;
  int first = 0;
  int next = 0;
  detail::ScannedNode node;
  for (;;) {
    switch (detail::ScanNode(text, size, next, node)) {
      case detail::kElementNode:
        AddParsedElement(node, current, first);
        break;
      case detail::kEndTagNode:
        MatchEndTag(node, current);
        break;
      case detail::kMalformed:
        Rec(0).flags |= kFlagDocumentError;
        Rec(current).flags |= kFlagHoldsError;
        NoteError(node.error, node.start);
        break;
      case detail::kEndOfText:
        if (!openElements_.empty()) CloseOpenElements(0, nullptr);
        openElements_.clear();
        return first;
      default:
        break;
    }
  }
}

// A start tag becomes the last child of `current`; unless it is an empty-element tag it is
// opened and becomes `current`.
void MarkupDocument::AddParsedElement(const detail::ScannedNode& node, int& current, int& first) {
  const int pos = NewRecord();
  if (first == 0) first = pos;
  ElementRecord& element = Rec(pos);
  element.parent = current;
  element.next = 0;
  element.firstChild = 0;
  ElementRecord& container = Rec(current);
  if (container.firstChild == 0) {
    container.firstChild = pos;
    element.previous = pos;
    element.flags = kFlagFirstChild;
  } else {
    ElementRecord& firstChild = Rec(container.firstChild);
    const int lastChild = firstChild.previous;
    Rec(lastChild).next = pos;
    element.previous = lastChild;
    firstChild.previous = pos;
    element.flags = 0;
  }
  element.level = static_cast<int>(openElements_.size());
  element.start = node.start;
  element.startTagLength = node.length;
  if ((node.flags & detail::kEmptyElement) != 0) {
    element.endTagLength = 0;
    element.length = node.length;
  } else {
    openElements_.push_back({pos, node.nameStart, node.nameLength});
    current = pos;
  }
}

// An end tag closes the innermost open element of its name and every element opened inside it;
// one that matches no open element is an error and changes nothing else.
void MarkupDocument::MatchEndTag(const detail::ScannedNode& node, int& current) {
  const char* text = text_.c_str();
  const std::string_view endName(text + node.nameStart, static_cast<std::size_t>(node.nameLength));
  const bool caseInsensitive = (options_ & kCaseInsensitive) != 0;
  std::size_t depth = openElements_.size();
  while (depth > 0) {
    const OpenElement& open = openElements_[depth - 1];
    const std::string_view openName(text + open.nameStart,
                                    static_cast<std::size_t>(open.nameLength));
    if (detail::NameMatches(openName, endName, caseInsensitive)) break;
    --depth;
  }
  if (depth == 0) {
    Rec(0).flags |= kFlagDocumentError;
    Rec(current).flags |= kFlagHoldsError;
    if (parseError_.kind == MarkupError::kNone) {
      errorNames_.nameStart = node.nameStart;
      errorNames_.nameLength = node.nameLength;
    }
    NoteError(MarkupError::kNoStartTag, node.start);
    return;
  }
  const int matched = openElements_[depth - 1].pos;
  ElementRecord& element = Rec(matched);
  element.length = node.start + node.length - element.start;
  element.endTagLength = node.length;
  if (openElements_.size() > depth) CloseOpenElements(depth, &node);
  openElements_.resize(depth - 1);
  current = Rec(matched).parent;
}

// Closes the open elements above depth `keep` for lack of an end tag, innermost first: by the
// mismatched `endTag`, or at the end of the text when it is null. Each closed element keeps only
// its start tag, and its children follow it as siblings; all of them end up under the parent of
// the outermost closed element, so the relinking is done in one outward-in pass that touches
// every moved child once.
void MarkupDocument::CloseOpenElements(std::size_t keep, const detail::ScannedNode* endTag) {
  Rec(0).flags |= kFlagDocumentError;
  const std::size_t count = openElements_.size();
  const OpenElement& innermost = openElements_[count - 1];
  if (parseError_.kind == MarkupError::kNone) {
    if (endTag != nullptr) {
      errorNames_ = {endTag->nameStart, endTag->nameLength, Rec(innermost.pos).start,
                     innermost.nameStart, innermost.nameLength};
      NoteError(MarkupError::kEndTagMismatch, endTag->start + 1);
    } else {
      errorNames_ = {innermost.nameStart, innermost.nameLength, 0, 0, 0};
      NoteError(MarkupError::kElementNotEnded, Rec(innermost.pos).start);
    }
  }
  for (std::size_t j = count; j-- > keep;) {
    ElementRecord& element = Rec(openElements_[j].pos);
    element.endTagLength = 0;
    element.length = element.startTagLength;
    element.flags |= kFlagNoEndTag;
    if ((element.flags & kFlagHoldsError) != 0) {
      element.flags &= ~kFlagHoldsError;
      Rec(element.parent).flags |= kFlagHoldsError;
    }
  }

  const int outermost = openElements_[keep].pos;
  const int newParent = Rec(outermost).parent;
  int tail = outermost;
  for (std::size_t j = keep; j < count; ++j) {
    const int pos = openElements_[j].pos;
    ElementRecord& element = Rec(pos);
    const int child = element.firstChild;
    if (child == 0) continue;
    element.firstChild = 0;
    element.next = child;
    ElementRecord& firstMoved = Rec(child);
    firstMoved.previous = pos;
    firstMoved.flags &= ~kFlagFirstChild;
    for (int moved = child; moved != 0; moved = Rec(moved).next) {
      Rec(moved).parent = newParent;
      tail = moved;
    }
  }
  Rec(Rec(newParent).firstChild).previous = tail;
}

}  // namespace pagorin

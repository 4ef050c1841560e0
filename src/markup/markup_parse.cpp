// Construction, the element index and the parse that builds it.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "markup/markup_document.h"
#include "markup/markup_limits.h"
#include "markup/markup_scanner.h"
#include "platform/file_io.h"

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
    try {
      errorText_ = platform::ErrorText(EFBIG);
    } catch (...) {
      errorText_.clear();
    }
    return false;
  }
  try {
    std::string copy(text);
    text_.swap(copy);
  } catch (...) {
    try {
      errorText_ = platform::ErrorText(ENOMEM);
    } catch (...) {
      errorText_.clear();
    }
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

bool MarkupDocument::Parse() noexcept {
  std::string kept;
  kept.swap(errorText_);
  try {
    parentPos_ = currentPos_ = childPos_ = onElement_ = 0;
    nextFreeRecord_ = 1;
    ReserveRecords(static_cast<std::int64_t>(text_.size() / 64 + 8));
    Rec(0) = ElementRecord{};
    if (text_.empty()) {
      errorText_ = "Empty document";
    } else {
      const int first = ParseElements(0);
      Rec(0).length = static_cast<int>(text_.size());
      if (first == 0) {
        errorText_ = "No root element";
      } else {
        Rec(0).firstChild = first;
        if (Rec(first).next != 0) errorText_ = "Root element has sibling";
      }
    }
    parentPos_ = currentPos_ = childPos_ = onElement_ = 0;
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
  if (recordCapacity_ > 0) {
    Rec(0) = ElementRecord{};
    Rec(0).flags = kFlagDocumentError;
    Rec(0).length = static_cast<int>(text_.size());
  }
  try {
    errorText_ = platform::ErrorText(ENOMEM);
  } catch (...) {
    errorText_.clear();
  }
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

int MarkupDocument::ParseElements(int parent) {
  errorText_.clear();
  openElements_.clear();
  const char* text = text_.c_str();
  const int size = static_cast<int>(text_.size());
  const int level = Rec(parent).level;
  const bool caseInsensitive = (options_ & kCaseInsensitive) != 0;
  int current = parent;
  int first = 0;
  int next = 0;
  detail::ScannedNode node;

  for (;;) {
    switch (detail::ScanNode(text, size, next, node)) {
      case detail::kElementNode: {
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
        element.level = static_cast<int>(openElements_.size()) + level;
        element.start = node.start;
        element.startTagLength = node.length;
        if ((node.flags & detail::kEmptyElement) != 0) {
          element.endTagLength = 0;
          element.length = node.length;
        } else {
          openElements_.push_back({pos, node.nameStart, node.nameLength});
          current = pos;
        }
        break;
      }
      case detail::kEndTagNode: {
        const std::string_view endName(text + node.nameStart,
                                       static_cast<std::size_t>(node.nameLength));
        std::size_t depth = openElements_.size();
        while (depth > 0) {
          const OpenElement& open = openElements_[depth - 1];
          const std::string_view openName(text + open.nameStart,
                                          static_cast<std::size_t>(open.nameLength));
          if (detail::NameMatches(openName, endName, caseInsensitive)) break;
          --depth;
        }
        if (depth == 0) {
          Rec(parent).flags |= kFlagDocumentError;
          Rec(current).flags |= kFlagHoldsError;
          if (errorText_.empty()) {
            errorText_ = "No start tag for end tag '" + std::string(endName) + "' at offset " +
                         std::to_string(node.start);
          }
          break;
        }
        const int matched = openElements_[depth - 1].pos;
        ElementRecord& element = Rec(matched);
        element.length = node.start + node.length - element.start;
        element.endTagLength = node.length;
        if (openElements_.size() > depth) {
          CloseOpenElements(parent, static_cast<int>(depth), node.start + 1, node.nameStart,
                            node.nameLength);
        }
        openElements_.resize(depth - 1);
        current = Rec(matched).parent;
        break;
      }
      case detail::kMalformed:
        Rec(parent).flags |= kFlagDocumentError;
        Rec(current).flags |= kFlagHoldsError;
        if (errorText_.empty()) errorText_ = node.message;
        break;
      case detail::kEndOfText:
        if (!openElements_.empty()) CloseOpenElements(parent, 0, -1, 0, 0);
        openElements_.clear();
        return first;
      default:
        break;
    }
  }
}

// Closes the open elements above depth `keep` for lack of an end tag, innermost first. Each
// closed element keeps only its start tag, and its children follow it as siblings; all of them
// end up under the parent of the outermost closed element, so the relinking is done in one
// outward-in pass that touches every moved child once.
void MarkupDocument::CloseOpenElements(int top, int keep, int endTagSlash, int endTagNameStart,
                                       int endTagNameLength) {
  Rec(top).flags |= kFlagDocumentError;
  const int count = static_cast<int>(openElements_.size());
  const OpenElement& innermost = openElements_[static_cast<std::size_t>(count - 1)];
  if (errorText_.empty()) {
    const std::string name(text_, static_cast<std::size_t>(innermost.nameStart),
                           static_cast<std::size_t>(innermost.nameLength));
    const std::string offset = std::to_string(Rec(innermost.pos).start);
    if (endTagSlash >= 0) {
      errorText_ = "End tag '" +
                   text_.substr(static_cast<std::size_t>(endTagNameStart),
                                static_cast<std::size_t>(endTagNameLength)) +
                   "' at offset " + std::to_string(endTagSlash) + " does not match start tag '" +
                   name + "' at offset " + offset;
    } else {
      errorText_ = "Element '" + name + "' at offset " + offset + " not ended";
    }
  }
  for (int j = count - 1; j >= keep; --j) {
    ElementRecord& element = Rec(openElements_[static_cast<std::size_t>(j)].pos);
    element.endTagLength = 0;
    element.length = element.startTagLength;
    element.flags |= kFlagNoEndTag;
    if ((element.flags & kFlagHoldsError) != 0) {
      element.flags &= ~kFlagHoldsError;
      Rec(element.parent).flags |= kFlagHoldsError;
    }
  }

  const int outermost = openElements_[static_cast<std::size_t>(keep)].pos;
  const int newParent = Rec(outermost).parent;
  int tail = outermost;
  for (int j = keep; j < count; ++j) {
    const int pos = openElements_[static_cast<std::size_t>(j)].pos;
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

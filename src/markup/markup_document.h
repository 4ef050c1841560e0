// MarkupDocument: one XML document held as a single text buffer plus an index of the positions of
// its elements. Names, attributes and contents are read out of the text when asked for; every
// edit changes the text in place and shifts the offsets in the index. Texts are code page 936
// bytes and are never converted. One thread uses a document at a time; no operation throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pagorin {

namespace detail {
struct ScannedNode;
}

// What a parse found wrong first. The texts of ErrorText() are made from the kind, its offset and
// the names it refers to, in one place.
enum class MarkupError : std::uint8_t {
  kNone,
  kEmptyDocument,
  kNoRootElement,
  kRootHasSibling,
  kElementNotEnded,      // offset of the open element's start tag
  kEndTagMismatch,       // offset of the end tag's '/'
  kNoStartTag,           // offset of the end tag
  kDoctypeUnterminated,  // this and the following: offset of the node's '<'
  kElementTagUnterminated,
  kEndTagUnterminated,
  kCDataUnterminated,
  kProcessingInstructionUnterminated,
  kCommentUnterminated,
  kTagUnterminated,
  kIncorrectTagNameCharacter,
  kIncorrectBangTag,
  kIncorrectCommentTag,
  kIncorrectTag,
  kOutOfMemory,  // the index could not be built; offset 0
};

struct MarkupParseError {
  MarkupError kind = MarkupError::kNone;
  int offset = 0;  // byte offset into the text parsed
  bool operator==(const MarkupParseError&) const = default;
};

class MarkupDocument {
 public:
  // AddElement and EncodeText option bits.
  static constexpr int kAsCData = 0x1;
  static constexpr int kNoLineBreak = 0x2;
  static constexpr int kSpacedEmptyTag = 0x4;
  static constexpr int kKeepReferences = 0x8;
  static constexpr int kNoEndTag = 0x10;
  static constexpr int kEncodeQuotes = 0x100;
  static constexpr int kInsertBefore = 0x2000;
  static constexpr int kAsChild = 0x4000;
  // Document option: element and attribute names compare without regard to ASCII case. A bit of
  // its own, so that an insertion option handed to SetOptions by mistake changes nothing.
  static constexpr int kCaseInsensitive = 0x10000;

  // Element flags of ElementRecord::flags.
  static constexpr std::uint32_t kFlagFirstChild = 0x80000;
  static constexpr std::uint32_t kFlagNoEndTag = 0x100000;
  static constexpr std::uint32_t kFlagHoldsError = 0x200000;
  static constexpr std::uint32_t kFlagDocumentError = 0x800000;

  // One element of the index. Position 0 is the document record (start 0, length of the text).
  // Plain data: the index leaves unused slots unwritten, so value-initialize one made by hand.
  struct ElementRecord {
    std::int32_t start;           // offset of the element's '<'
    std::int32_t length;          // start tag through end tag (start tag only when none)
    std::int32_t startTagLength;  // '<' through '>' of the start tag
    std::int32_t endTagLength;    // 0 when there is no end tag
    std::int32_t level;           // 0 at the document level
    std::uint32_t flags;          // kFlag... bits
    std::int32_t parent;          // 0 at the document level
    std::int32_t firstChild;      // 0 when none
    std::int32_t next;            // 0 for the last sibling
    std::int32_t previous;        // for a first child: the last child of the same parent
  };

  MarkupDocument();
  ~MarkupDocument();
  MarkupDocument(const MarkupDocument&) = delete;
  MarkupDocument& operator=(const MarkupDocument&) = delete;

  // Replaces the whole text (nullptr empties it), parses it and returns ParseSucceeded().
  bool SetText(const char* text) noexcept;
  // The same for a text that may hold zero bytes; every scan stops at the first one.
  bool SetText(std::string_view text) noexcept;
  // The current text, as edited so far.
  const std::string& Text() const noexcept { return text_; }
  // Result of the last load or save, and the first error found by the last parse.
  const std::string& ErrorText() const noexcept { return errorText_; }
  // The error behind the parse part of ErrorText(); kNone after a parse without one.
  MarkupParseError ParseError() const noexcept { return parseError_; }
  // True when the last parse found exactly one root element and no error.
  bool ParseSucceeded() const noexcept;
  // Rebuilds the index from the text; positions are reset to the document level.
  bool Parse() noexcept;

  // Document options (kCaseInsensitive); a new document has 0.
  void SetOptions(int options) noexcept { options_ = options; }

  // Finds the next sibling after the current element named `name` (any name when null or empty)
  // and makes it current. False, with the positions unchanged, when none follows.
  bool FindElement(const char* name = nullptr) noexcept;
  // The same among the children of the current element, after the current child.
  bool FindChildElement(const char* name = nullptr) noexcept;
  // The current child becomes the current element (none when there was no current child).
  bool EnterElement() noexcept;
  // The parent becomes the current element; false at the document level.
  bool LeaveElement() noexcept;

  // Decoded value of attribute `name` of the current element, or of element `pos`; an empty text
  // when it is missing or there is no current element.
  std::string GetAttribute(const char* name) const noexcept;
  std::string GetAttribute(int pos, const char* name) const noexcept;
  // Sets attribute `name` of element `pos` (the current element) to `value`, escaped and quoted.
  bool SetAttribute(int pos, const char* name, const char* value) noexcept;
  bool SetAttribute(int pos, const char* name, int value) noexcept;
  // Adds element `name` after the current element, or with kAsChild under it after the current
  // child; `data` (escaped) becomes its content, nullptr writes an empty-element tag.
  bool AddElement(const char* name, const char* data, int options) noexcept;

  int CurrentPos() const noexcept { return currentPos_; }
  int ParentPos() const noexcept { return parentPos_; }
  int ChildPos() const noexcept { return childPos_; }
  // Tag name of element `pos`; an empty text for 0.
  std::string TagName(int pos) const noexcept;

  // `text` with '<', '&', '>' (and with kEncodeQuotes also '\'' and '"') replaced by references.
  static std::string EncodeText(const char* text, int options) noexcept;
  // Resolves the five named references and decimal/hex character references 1 to 255 in the
  // first `length` bytes of `text` (-1: up to the zero byte); anything else is copied.
  static std::string DecodeText(const char* text, int length) noexcept;
  // `text` as a CDATA section; a "]]>" inside splits it into two adjoining sections.
  static std::string WrapCData(const char* text) noexcept;

  // Replaces the text with the file's bytes and parses it. When the file cannot be read the
  // document stays as it was and ErrorText() names the cause.
  bool LoadFile(const std::string& path) noexcept;
  // Writes the text so that a good file is never left half written; ErrorText() becomes
  // "<n> bytes" or the cause of the failure.
  bool SaveFile(const std::string& path) noexcept;

  // Read-only view of the index, for checks: nullptr outside the records in use.
  const ElementRecord* Record(int pos) const noexcept;
  int NextFreeRecord() const noexcept { return nextFreeRecord_; }
  int RecordCapacity() const noexcept { return recordCapacity_; }

 private:
  struct AttributeSpan;
  struct Insertion;

  ElementRecord& Rec(int pos) noexcept { return pages_[Page(pos)][Slot(pos)]; }
  const ElementRecord& Rec(int pos) const noexcept { return pages_[Page(pos)][Slot(pos)]; }
  static std::size_t Page(int pos) noexcept { return static_cast<std::size_t>(pos) >> 16; }
  static std::size_t Slot(int pos) noexcept { return static_cast<std::size_t>(pos) & 0xFFFF; }

  bool ReplaceTextAndParse(std::string&& text) noexcept;
  void ReserveRecords(std::int64_t count);
  int NewRecord();
  int ParseElements();
  void AddParsedElement(const detail::ScannedNode& node, int& current, int& first);
  void MatchEndTag(const detail::ScannedNode& node, int& current);
  void CloseOpenElements(std::size_t keep, const detail::ScannedNode* endTag);
  void NoteError(MarkupError kind, int offset) noexcept;
  void ResetIndexAfterFailure() noexcept;

  int FindNamedChild(int parent, int reference, const char* name) const;
  void FindAttribute(int pos, const char* name, AttributeSpan& span) const;
  bool NameMatchesTag(int pos, std::string_view name) const;
  std::string_view TagNameView(int pos) const;
  bool ReplaceText(int offset, int count, std::string_view replacement);
  void ShiftOffsets(int pos, int diff) noexcept;
  void LinkElement(int parent, int reference, int pos) noexcept;
  void LinkElementBefore(int parent, int before, int pos) noexcept;
  void PlanInsertion(int options, std::string&& markup, Insertion& at) const;
  int IndexInsertion(const Insertion& at, const ElementRecord& added) noexcept;

  std::string text_;
  std::string errorText_;
  MarkupParseError parseError_;
  int parentPos_ = 0;
  int currentPos_ = 0;
  int childPos_ = 0;
  int nextFreeRecord_ = 0;
  int onElement_ = 0;
  int options_ = 0;
  std::vector<std::unique_ptr<ElementRecord[]>> pages_;
  int recordCapacity_ = 0;

  struct OpenElement {
    int pos;
    int nameStart;
    int nameLength;
  };
  std::vector<OpenElement> openElements_;  // the parse's stack of open elements, kept on the heap

  // The names that the first error of a parse refers to, as spans of the text.
  struct ErrorNames {
    int nameStart = 0;
    int nameLength = 0;
    int otherOffset = 0;
    int otherNameStart = 0;
    int otherNameLength = 0;
  };
  ErrorNames errorNames_;
};

}  // namespace pagorin

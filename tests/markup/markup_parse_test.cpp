#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "markup/markup_document.h"
#include "markup_test_util.h"

namespace pagorin {
namespace {

using Doc = MarkupDocument;

using E = MarkupError;

struct ParseCase {
  const char* text;
  bool succeeds;
  const char* errorText;
  MarkupError kind;
  int offset;
};

// Printed by name in test listings (the raw bytes would include padding).
void PrintTo(const ParseCase& c, std::ostream* out) {
  *out << ::testing::PrintToString(std::string(c.text));
}

class MarkupParseErrors : public ::testing::TestWithParam<ParseCase> {};

// Each row holds for a new document and for one whose last parse failed with names far into
// its text: nothing of an earlier parse shows in the next one's result.
TEST_P(MarkupParseErrors, LeavesTheFirstMessage) {
  const ParseCase& c = GetParam();
  const char* const before[] = {nullptr, "<root><element></mismatched></root>",
                                "<root><unended attribute='1'>"};
  for (const char* earlier : before) {
    SCOPED_TRACE(earlier != nullptr ? earlier : "new document");
    Doc doc;
    if (earlier != nullptr) {
      ASSERT_FALSE(doc.SetText(earlier));
    }
    EXPECT_EQ(doc.SetText(c.text), c.succeeds) << c.text;
    EXPECT_EQ(doc.ParseSucceeded(), c.succeeds);
    EXPECT_EQ(doc.ErrorText(), c.errorText) << c.text;
    EXPECT_EQ(doc.ParseError(), (MarkupParseError{c.kind, c.offset})) << c.text;
    EXPECT_EQ(doc.CurrentPos(), 0);
    EXPECT_EQ(doc.ParentPos(), 0);
    EXPECT_EQ(doc.ChildPos(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MarkupParseErrors,
    ::testing::Values(
        ParseCase{"", false, "Empty document", E::kEmptyDocument, 0},
        ParseCase{"<?xml version=\"1.0\"?>\r\n \t", false, "No root element", E::kNoRootElement, 0},
        ParseCase{"just text", false, "No root element", E::kNoRootElement, 0},
        ParseCase{"<a/><b/>", false, "Root element has sibling", E::kRootHasSibling, 0},
        ParseCase{"<a><b></a>", false,
                  "End tag 'a' at offset 7 does not match start tag 'b' at offset 3",
                  E::kEndTagMismatch, 7},
        ParseCase{"<a>", false, "Element 'a' at offset 0 not ended", E::kElementNotEnded, 0},
        ParseCase{"<a><b>", false, "Root element has sibling", E::kRootHasSibling, 0},
        ParseCase{"</x>", false, "No root element", E::kNoRootElement, 0},
        ParseCase{"<r></x></r>", false, "No start tag for end tag 'x' at offset 3", E::kNoStartTag,
                  3},
        ParseCase{"<r>< a></r>", false, "Incorrect tag name character at offset 3",
                  E::kIncorrectTagNameCharacter, 3},
        ParseCase{"<r><!x></r>", false, "Incorrect ! tag at offset 3", E::kIncorrectBangTag, 3},
        ParseCase{"<r><![x]></r>", false, "Incorrect tag at offset 3", E::kIncorrectTag, 3},
        ParseCase{"<r><!-x></r>", false, "Incorrect comment tag at offset 3",
                  E::kIncorrectCommentTag, 3},
        ParseCase{"<r><!DOCTYPE [<!x<]></r>", false, "Incorrect ! tag at offset 3",
                  E::kIncorrectBangTag, 3},
        ParseCase{"< a>", false, "No root element", E::kNoRootElement, 0},
        ParseCase{"<r><!-- x", false, "Comment at offset 3 unterminated", E::kCommentUnterminated,
                  3},
        ParseCase{"<r><![x", false, "tag at offset 3 unterminated", E::kTagUnterminated, 3},
        ParseCase{"<r><", false, "tag at offset 3 unterminated", E::kTagUnterminated, 3},
        ParseCase{"<r><a", false, "Element tag at offset 3 unterminated",
                  E::kElementTagUnterminated, 3},
        ParseCase{"<r></r", false, "Element end tag at offset 3 unterminated",
                  E::kEndTagUnterminated, 3},
        ParseCase{"<r><![CDATA[x]>", false, "CDATA Section at offset 3 unterminated",
                  E::kCDataUnterminated, 3},
        ParseCase{"<r><?pi x", false, "Processing instruction at offset 3 unterminated",
                  E::kProcessingInstructionUnterminated, 3},
        ParseCase{"<r><!DOCTYPE r [", false, "Doctype at offset 3 unterminated",
                  E::kDoctypeUnterminated, 3},
        ParseCase{"<r><!ELEMENT r", false, "Doctype at offset 3 unterminated",
                  E::kDoctypeUnterminated, 3},
        ParseCase{"<r><a b='x", false, "Element tag at offset 3 unterminated",
                  E::kElementTagUnterminated, 3},
        ParseCase{"<a x=1/>", false, "Element 'a' at offset 0 not ended", E::kElementNotEnded, 0},
        ParseCase{"<a x=\">\"/>", true, "", E::kNone, 0},
        ParseCase{"<a x='/'/>", true, "", E::kNone, 0}, ParseCase{"<a/>", true, "", E::kNone, 0},
        ParseCase{"<a />", true, "", E::kNone, 0}, ParseCase{"<r><!--></r>", true, "", E::kNone, 0},
        ParseCase{"<r><!-- <x> --></r>", true, "", E::kNone, 0},
        ParseCase{"<r><![CDATA[<x></y>]]></r>", true, "", E::kNone, 0},
        ParseCase{"<?xml version=\"1.0\"?><!DOCTYPE r [<!ELEMENT r ANY><!-- c -->]><r/>", true, "",
                  E::kNone, 0},
        ParseCase{"<r><?pi <x>?></r>", true, "", E::kNone, 0},
        ParseCase{"<r>a > b</r>", true, "", E::kNone, 0},
        ParseCase{"<a=b></a>", true, "", E::kNone, 0},
        ParseCase{"<\xB1\xED \xC3\xFB=\"\xD6\xB5\">\xCE\xC4</\xB1\xED>", true, "", E::kNone, 0},
        // A lead byte takes the byte after it along wherever it stands, even a '<' or a '>'.
        ParseCase{"<r>a\x81<x>\x81></r>", true, "", E::kNone, 0},
        ParseCase{"<r><a x='\x81'/></r>", false, "Element tag at offset 3 unterminated",
                  E::kElementTagUnterminated, 3},
        ParseCase{"\r\n<r>\r\n</r>\r\n", true, "", E::kNone, 0}));

TEST(MarkupParse, NullTextIsAnEmptyDocument) {
  Doc doc;
  EXPECT_FALSE(doc.ParseSucceeded());
  EXPECT_EQ(doc.ErrorText(), "Empty document");
  EXPECT_TRUE(doc.SetText("<r/>"));
  EXPECT_FALSE(doc.SetText(static_cast<const char*>(nullptr)));
  EXPECT_EQ(doc.Text(), "");
  EXPECT_EQ(doc.ErrorText(), "Empty document");
}

TEST(MarkupParse, CaseInsensitiveOptionMatchesEndTags) {
  Doc doc;
  EXPECT_FALSE(doc.SetText("<Root></root>"));
  // Insertion options share no bit with the document option.
  doc.SetOptions(Doc::kKeepReferences | Doc::kNoEndTag | Doc::kInsertBefore | Doc::kAsChild);
  EXPECT_FALSE(doc.SetText("<Root></root>"));
  doc.SetOptions(Doc::kCaseInsensitive);
  EXPECT_TRUE(doc.SetText("<Root></root>"));
}

TEST(MarkupParse, IndexLinksElementsInDocumentOrder) {
  Doc doc;
  const std::string text = "<r><a/><b x='1'><c/></b>text<d></d></r>";
  ASSERT_TRUE(doc.SetText(text.c_str()));
  ASSERT_EQ(doc.NextFreeRecord(), 6);
  struct Expected {
    int start, length, startTag, endTag, level;
    std::uint32_t flags;
    int parent, firstChild, next, previous;
  };
  const Expected expected[] = {
      {0, 39, 0, 0, 0, 0, 0, 1, 0, 0},
      {0, 39, 3, 4, 0, Doc::kFlagFirstChild, 0, 2, 0, 1},
      {3, 4, 4, 0, 1, Doc::kFlagFirstChild, 1, 0, 3, 5},
      {7, 17, 9, 4, 1, 0, 1, 4, 5, 2},
      {16, 4, 4, 0, 2, Doc::kFlagFirstChild, 3, 0, 0, 4},
      {28, 7, 3, 4, 1, 0, 1, 0, 0, 3},
  };
  for (int pos = 0; pos < 6; ++pos) {
    const auto* r = doc.Record(pos);
    const Expected& e = expected[pos];
    SCOPED_TRACE(pos);
    EXPECT_EQ(r->start, e.start);
    EXPECT_EQ(r->length, e.length);
    EXPECT_EQ(r->startTagLength, e.startTag);
    EXPECT_EQ(r->endTagLength, e.endTag);
    EXPECT_EQ(r->level, e.level);
    EXPECT_EQ(r->flags, e.flags);
    EXPECT_EQ(r->parent, e.parent);
    EXPECT_EQ(r->firstChild, e.firstChild);
    EXPECT_EQ(r->next, e.next);
    EXPECT_EQ(r->previous, e.previous);
  }
  EXPECT_EQ(doc.TagName(3), "b");
  EXPECT_EQ(doc.TagName(0), "");
}

TEST(MarkupParse, SiblingsAtTheDocumentLevelStayIndexed) {
  Doc doc;
  EXPECT_FALSE(doc.SetText("<a/><b/>"));
  EXPECT_EQ(doc.Record(0)->firstChild, 1);
  EXPECT_EQ(doc.Record(1)->next, 2);
  EXPECT_EQ(doc.TagName(2), "b");
}

TEST(MarkupParse, MismatchedEndTagClosesInnerElementWithoutEndTag) {
  Doc doc;
  doc.SetText("<a><b></a>");
  const auto* a = doc.Record(1);
  const auto* b = doc.Record(2);
  EXPECT_EQ(a->length, 10);
  EXPECT_EQ(a->endTagLength, 4);
  EXPECT_EQ(b->flags & Doc::kFlagNoEndTag, Doc::kFlagNoEndTag);
  EXPECT_EQ(b->length, 3);
  EXPECT_EQ(b->endTagLength, 0);
  EXPECT_NE(doc.Record(0)->flags & Doc::kFlagDocumentError, 0u);
}

TEST(MarkupParse, ClosedElementHandsItsChildrenAndErrorToItsParent) {
  Doc doc;
  doc.SetText("<r><a><b/><!x><c/></r>");
  EXPECT_EQ(doc.ErrorText(), "Incorrect ! tag at offset 10");
  // a (2) lost its end tag; b (3) and c (4) now follow it under r (1).
  const auto* r = doc.Record(1);
  const auto* a = doc.Record(2);
  EXPECT_EQ(r->firstChild, 2);
  EXPECT_EQ(a->firstChild, 0);
  EXPECT_EQ(a->next, 3);
  EXPECT_EQ(doc.Record(3)->next, 4);
  EXPECT_EQ(doc.Record(4)->next, 0);
  EXPECT_EQ(a->previous, 4);
  EXPECT_EQ(doc.Record(3)->previous, 2);
  EXPECT_EQ(doc.Record(3)->parent, 1);
  EXPECT_EQ(doc.Record(4)->parent, 1);
  EXPECT_EQ(doc.Record(3)->flags & Doc::kFlagFirstChild, 0u);
  EXPECT_EQ(a->flags & Doc::kFlagHoldsError, 0u);
  EXPECT_NE(r->flags & Doc::kFlagHoldsError, 0u);
}

TEST(MarkupParse, UnclosedElementsAtTheEndBecomeSiblings) {
  Doc doc;
  doc.SetText("<a><b><c/>");
  // The innermost is reported first; the root check then replaces the message.
  EXPECT_EQ(doc.ErrorText(), "Root element has sibling");
  EXPECT_EQ(testing::ElementsInOrder(doc), (std::vector<int>{1, 2, 3}));
  for (int pos = 1; pos <= 3; ++pos)
    EXPECT_EQ(doc.Record(pos)->parent, 0);
  EXPECT_EQ(doc.Record(1)->previous, 3);
}

TEST(MarkupParse, ZeroByteEndsEveryScan) {
  Doc doc;
  EXPECT_TRUE(doc.SetText(std::string_view("<r/>\0<x", 7)));
  EXPECT_EQ(doc.Text().size(), 7u);
  EXPECT_EQ(doc.Record(0)->length, 7);
  EXPECT_FALSE(doc.SetText(std::string_view("<r>\0</r>", 8)));
  EXPECT_EQ(doc.ErrorText(), "Element 'r' at offset 0 not ended");
}

TEST(MarkupParse, LeadByteAtTheEndStaysInsideTheText) {
  const char* texts[] = {"<r>\x81",     "<r a='\x81",       "<\x81",
                         "<r><!--\x81", "<r></\x81",        "<r \x81",
                         "\x81",        "<r><![CDATA[\x81", "<r x=\"\x81\">\x81"};
  for (const char* text : texts) {
    Doc doc;
    EXPECT_FALSE(doc.SetText(text)) << text;
    EXPECT_EQ(doc.Record(0)->length, static_cast<int>(std::string(text).size()));
  }
}

TEST(MarkupParse, TagLengthsBeyondPackedFieldsAreKept) {
  const std::string value(5'000'000, 'v');
  const std::string endName(2000, 'e');
  const std::string text = "<r a=\"" + value + "\"><" + endName + "></" + endName + "><z/></r>";
  Doc doc;
  ASSERT_TRUE(doc.SetText(text.c_str()));
  const auto* r = doc.Record(1);
  const auto* e = doc.Record(2);
  const auto* z = doc.Record(3);
  EXPECT_EQ(r->startTagLength, static_cast<int>(value.size()) + 8);
  EXPECT_EQ(e->startTagLength, 2002);
  EXPECT_EQ(e->endTagLength, 2003);
  EXPECT_EQ(z->start, r->startTagLength + 2002 + 2003);
  ASSERT_TRUE(doc.FindElement("r"));
  EXPECT_EQ(doc.GetAttribute("a").size(), value.size());
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "b", "1"));
  ASSERT_TRUE(doc.FindChildElement(endName.c_str()));
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.AddElement("n", "", Doc::kAsChild));
  EXPECT_TRUE(testing::IndexMatchesFreshParse(doc));
}

TEST(MarkupParse, DeepNestingUsesNoCallStack) {
  constexpr int kDepth = 100'000;
  std::string open;
  std::string close;
  for (int i = 0; i < kDepth; ++i)
    open += "<a>";
  for (int i = 0; i < kDepth; ++i)
    close += "</a>";

  Doc doc;
  ASSERT_TRUE(doc.SetText((open + close).c_str()));
  EXPECT_EQ(doc.NextFreeRecord(), kDepth + 1);
  EXPECT_EQ(doc.Record(kDepth)->level, kDepth - 1);
  EXPECT_EQ(doc.Record(kDepth)->parent, kDepth - 1);

  // Left open, every element is closed at the end and the whole chain is flattened.
  EXPECT_FALSE(doc.SetText(open.c_str()));
  EXPECT_EQ(doc.ErrorText(), "Root element has sibling");
  EXPECT_EQ(doc.Record(kDepth)->parent, 0);
  EXPECT_EQ(doc.Record(kDepth - 1)->next, kDepth);
  EXPECT_EQ(doc.Record(1)->previous, kDepth);
}

TEST(MarkupParse, SecondPageOfRecordsWorksEverywhere) {
  constexpr int kCount = 70'000;
  std::string text = "<r>";
  for (int i = 0; i < kCount; ++i)
    text += "<e/>";
  text += "<last/></r>";
  Doc doc;
  ASSERT_TRUE(doc.SetText(text.c_str()));
  EXPECT_EQ(doc.NextFreeRecord(), kCount + 3);
  EXPECT_GE(doc.RecordCapacity(), kCount + 3);
  const int last = kCount + 2;
  EXPECT_EQ(doc.Record(last)->start, 3 + 4 * kCount);
  EXPECT_EQ(doc.Record(last - 1)->next, last);
  EXPECT_EQ(doc.Record(2)->previous, last);

  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.FindChildElement("last"));
  EXPECT_EQ(doc.ChildPos(), last);
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "x", 1));
  EXPECT_EQ(doc.GetAttribute("x"), "1");
  ASSERT_TRUE(doc.AddElement("added", "", 0));
  EXPECT_GT(doc.CurrentPos(), 65'535);
  EXPECT_EQ(doc.TagName(doc.CurrentPos()), "added");
  EXPECT_TRUE(testing::IndexMatchesFreshParse(doc));
}

TEST(MarkupParse, LargeTextReservesPagesOneAtATime) {
  // The up-front reservation (one record per 64 bytes) asks for more than two pages here.
  constexpr int kCount = 140'000;
  std::string text = "<r>" + std::string(9'000'000, ' ');
  for (int i = 0; i < kCount; ++i)
    text += "<e/>";
  text += "</r>";
  Doc doc;
  ASSERT_TRUE(doc.SetText(text.c_str()));
  EXPECT_EQ(doc.NextFreeRecord(), kCount + 2);
  EXPECT_EQ(doc.Record(kCount + 1)->start, 9'000'003 + 4 * (kCount - 1));
  EXPECT_EQ(doc.Record(kCount + 1)->parent, 1);
  // A second parse reuses the pages.
  const int capacity = doc.RecordCapacity();
  ASSERT_TRUE(doc.SetText("<r><e/></r>"));
  EXPECT_EQ(doc.RecordCapacity(), capacity);
  EXPECT_EQ(doc.NextFreeRecord(), 3);
}

}  // namespace
}  // namespace pagorin

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "markup/markup_document.h"
#include "markup_test_util.h"

namespace pagorin {
namespace {

using Doc = MarkupDocument;
using testing::IndexMatchesFreshParse;

constexpr const char* kHeader = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

TEST(MarkupEdit, BuildsTheConfigurationDocumentByteForByte) {
  Doc doc;
  doc.SetText(kHeader);
  ASSERT_TRUE(doc.AddElement("XML", "", 0));
  EXPECT_EQ(doc.Text(), std::string(kHeader) + "<XML></XML>\r\n");
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "Version", 1));
  EXPECT_EQ(doc.Text(), std::string(kHeader) + "<XML Version=\"1\"></XML>\r\n");
  ASSERT_TRUE(doc.AddElement("Tel0", "", Doc::kAsChild));
  EXPECT_EQ(doc.Text(),
            std::string(kHeader) + "<XML Version=\"1\">\r\n<Tel0></Tel0>\r\n</XML>\r\n");
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "TelNum", "13800138000"));
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "Desc", "pump"));
  ASSERT_TRUE(doc.LeaveElement());
  ASSERT_TRUE(doc.AddElement("Tel1", "", Doc::kAsChild));
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "TelNum", "13900139000"));
  ASSERT_TRUE(doc.LeaveElement());
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "VarCount", 0));
  EXPECT_EQ(doc.Text(), std::string(kHeader) +
                            "<XML Version=\"1\" VarCount=\"0\">\r\n"
                            "<Tel0 TelNum=\"13800138000\" Desc=\"pump\"></Tel0>\r\n"
                            "<Tel1 TelNum=\"13900139000\"></Tel1>\r\n"
                            "</XML>\r\n");
  EXPECT_TRUE(doc.ParseSucceeded());
  EXPECT_TRUE(IndexMatchesFreshParse(doc));

  // And it reads back the way the loader walks it.
  Doc loaded;
  ASSERT_TRUE(loaded.SetText(doc.Text().c_str()));
  ASSERT_TRUE(loaded.FindElement("XML"));
  EXPECT_EQ(loaded.GetAttribute("VarCount"), "0");
  ASSERT_TRUE(loaded.FindChildElement("Tel0"));
  ASSERT_TRUE(loaded.EnterElement());
  EXPECT_EQ(loaded.GetAttribute("Desc"), "pump");
  ASSERT_TRUE(loaded.LeaveElement());
  ASSERT_TRUE(loaded.FindChildElement("Tel1"));
  EXPECT_FALSE(loaded.FindChildElement("Tel0"));
}

struct AddChildCase {
  const char* text;
  const char* parent;
  const char* expected;
};

// Printed by name in test listings (the raw bytes would include padding).
void PrintTo(const AddChildCase& c, std::ostream* out) {
  *out << ::testing::PrintToString(std::string(c.text));
}

class MarkupAddChild : public ::testing::TestWithParam<AddChildCase> {};

TEST_P(MarkupAddChild, OpensUpTheParent) {
  const AddChildCase& c = GetParam();
  Doc doc;
  doc.SetText(c.text);
  ASSERT_TRUE(doc.FindElement("r"));
  if (std::string(c.parent) != "r") {
    ASSERT_TRUE(doc.FindChildElement(c.parent));
    ASSERT_TRUE(doc.EnterElement());
  }
  const int parent = doc.CurrentPos();
  ASSERT_TRUE(doc.AddElement("c", "", Doc::kAsChild));
  EXPECT_EQ(doc.Text(), c.expected);
  EXPECT_EQ(doc.CurrentPos(), parent);
  EXPECT_EQ(doc.TagName(doc.ChildPos()), "c");
  EXPECT_EQ(doc.Record(parent)->flags & Doc::kFlagNoEndTag, 0u);
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MarkupAddChild,
    ::testing::Values(AddChildCase{"<r/>", "r", "<r>\r\n<c></c>\r\n</r>"},
                      AddChildCase{"<r x=\"1\" />", "r", "<r x=\"1\" >\r\n<c></c>\r\n</r>"},
                      AddChildCase{"<r></r>", "r", "<r>\r\n<c></c>\r\n</r>"},
                      AddChildCase{"<r><a/></r>", "a", "<r><a>\r\n<c></c>\r\n</a></r>"},
                      AddChildCase{"<r><a></r>", "a", "<r><a>\r\n<c></c>\r\n</a></r>"},
                      AddChildCase{"<r>\r\n<a/>\r\n</r>", "r", "<r>\r\n<a/>\r\n<c></c>\r\n</r>"},
                      AddChildCase{"<r>text</r>", "r", "<r>text<c></c>\r\n</r>"}));

TEST(MarkupEdit, AddedSiblingGoesAfterTheWhiteSpaceOfItsReference) {
  Doc doc;
  doc.SetText("<r>\r\n  <a/>\r\n  <b/>\r\n</r>");
  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.FindChildElement("a"));
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.AddElement("n", nullptr, 0));
  EXPECT_EQ(doc.Text(), "<r>\r\n  <a/>\r\n  <n/>\r\n<b/>\r\n</r>");
  EXPECT_EQ(doc.Record(doc.CurrentPos())->next, 3);
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

TEST(MarkupEdit, AddElementEscapesDataAndWritesEmptyTagForNull) {
  Doc doc;
  doc.SetText("<r/>");
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.AddElement("d", "a<b&c>\"", Doc::kAsChild));
  ASSERT_TRUE(doc.AddElement("e", nullptr, Doc::kAsChild));
  EXPECT_EQ(doc.Text(), "<r>\r\n<d>a&lt;b&amp;c&gt;\"</d>\r\n<e/>\r\n</r>");
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

TEST(MarkupEdit, RarelyUsedAddOptions) {
  struct Case {
    int options;
    const char* data;
    const char* expected;
  };
  const Case cases[] = {
      {Doc::kAsCData, "x]]>y", "<r>\r\n<d><![CDATA[x]]]]><![CDATA[>y]]></d>\r\n</r>"},
      {Doc::kNoLineBreak, "v", "<r><d>v</d></r>"},
      {Doc::kSpacedEmptyTag, nullptr, "<r>\r\n<d />\r\n</r>"},
      {Doc::kEncodeQuotes, "'\"", "<r>\r\n<d>&apos;&quot;</d>\r\n</r>"},
      {Doc::kKeepReferences, "&amp;&#65;&x", "<r>\r\n<d>&amp;&#65;&amp;x</d>\r\n</r>"},
  };
  for (const Case& c : cases) {
    Doc doc;
    doc.SetText("<r></r>");
    ASSERT_TRUE(doc.FindElement());
    ASSERT_TRUE(doc.AddElement("d", c.data, c.options | Doc::kAsChild));
    EXPECT_EQ(doc.Text(), c.expected);
    EXPECT_TRUE(IndexMatchesFreshParse(doc)) << c.options;
  }
}

TEST(MarkupEdit, NoEndTagOptionWritesABareStartTag) {
  Doc doc;
  doc.SetText("<r></r>");
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.AddElement("d", nullptr, Doc::kAsChild | Doc::kNoEndTag));
  EXPECT_EQ(doc.Text(), "<r>\r\n<d>\r\n</r>");
  const auto* d = doc.Record(doc.ChildPos());
  EXPECT_EQ(d->length, 3);
  EXPECT_EQ(d->endTagLength, 0);
  EXPECT_NE(d->flags & Doc::kFlagNoEndTag, 0u);
}

TEST(MarkupEdit, InsertBeforePlacesTheElementAheadOfItsReference) {
  Doc doc;
  doc.SetText("<r><a/><b/></r>");
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.FindChildElement("b"));
  ASSERT_TRUE(doc.AddElement("n", nullptr, Doc::kAsChild | Doc::kInsertBefore));
  EXPECT_EQ(doc.Text(), "<r><a/><n/>\r\n<b/></r>");
  ASSERT_TRUE(doc.AddElement("m", nullptr, Doc::kAsChild | Doc::kInsertBefore));
  EXPECT_EQ(doc.Text(), "<r><a/><m/>\r\n<n/>\r\n<b/></r>");
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  EXPECT_EQ(testing::ElementsInOrder(doc), (std::vector<int>{1, 2, 5, 4, 3}));

  doc.SetText("<r><a/></r>");
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.EnterElement());  // no current element: before the first child
  ASSERT_TRUE(doc.AddElement("f", nullptr, Doc::kInsertBefore));
  EXPECT_EQ(doc.Text(), "<r><f/>\r\n<a/></r>");
  EXPECT_EQ(doc.Record(1)->firstChild, doc.CurrentPos());
  EXPECT_NE(doc.Record(doc.CurrentPos())->flags & Doc::kFlagFirstChild, 0u);
  EXPECT_EQ(doc.Record(2)->flags & Doc::kFlagFirstChild, 0u);
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

struct SetAttributeCase {
  const char* text;
  const char* name;
  const char* value;
  const char* expected;
};

// Printed by name in test listings (the raw bytes would include padding).
void PrintTo(const SetAttributeCase& c, std::ostream* out) {
  *out << ::testing::PrintToString(std::string(c.text));
}

class MarkupSetAttribute : public ::testing::TestWithParam<SetAttributeCase> {};

TEST_P(MarkupSetAttribute, WritesAQuotedEscapedValue) {
  const SetAttributeCase& c = GetParam();
  Doc doc;
  doc.SetText(c.text);
  ASSERT_TRUE(doc.FindElement("a"));
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), c.name, c.value));
  EXPECT_EQ(doc.Text(), c.expected);
  EXPECT_EQ(doc.GetAttribute(c.name), c.value);
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MarkupSetAttribute,
    ::testing::Values(
        SetAttributeCase{"<a x=1></a>", "x", "22", "<a x=\"22\"></a>"},
        SetAttributeCase{"<a x='1'/>", "x", "2", "<a x=\"2\"/>"},
        SetAttributeCase{"<a />", "x", "v", "<a x=\"v\" />"},
        SetAttributeCase{"<a/>", "x", "v", "<a x=\"v\"/>"},
        SetAttributeCase{"<a y=\"1\"\r\n></a>", "x", "v", "<a y=\"1\" x=\"v\"\r\n></a>"},
        SetAttributeCase{"<a xy=\"1\" x = \"2\"/>", "x", "3", "<a xy=\"1\" x = \"3\"/>"},
        SetAttributeCase{"<a x=\"\"/>", "x", "a\"b<c&'", "<a x=\"a&quot;b&lt;c&amp;&apos;\"/>"},
        SetAttributeCase{"<a x/>", "x", "v", "<a x=\"v\"/>"},
        SetAttributeCase{"<a x=>", "x", "v", "<a x=\"v\">"},
        SetAttributeCase{"<a x='\xB0\xA1'><b/></a>", "x", "\xD6\xD0",
                         "<a x=\"\xD6\xD0\"><b/></a>"}));

TEST(MarkupEdit, SetAttributeShiftsEverythingAfterTheTag) {
  Doc doc;
  doc.SetText("<r><a><b/><c x='1'/></a><d/></r>");
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.FindChildElement("a"));
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "long", "0123456789"));
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  ASSERT_TRUE(doc.FindChildElement("c"));
  ASSERT_TRUE(doc.SetAttribute(doc.ChildPos(), "x", "")) << "pos need not be the current one";
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  EXPECT_EQ(doc.Text(), "<r><a long=\"0123456789\"><b/><c x=\"\"/></a><d/></r>");
}

TEST(MarkupEdit, EmptyElementTagKeepsItsSlash) {
  // The scanner reads "n=1" as the name; the attribute search reads n, "=" and a value. A new
  // attribute still goes before the '/'.
  Doc doc;
  doc.SetText("<r><n=1/></r>");
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.FindChildElement());
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "x", "v"));
  EXPECT_EQ(doc.Text(), "<r><n=1 x=\"v\"/></r>");
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  ASSERT_TRUE(doc.AddElement("c", "", Doc::kAsChild));
  EXPECT_EQ(doc.Text(), "<r><n=1 x=\"v\">\r\n<c></c>\r\n</n></r>");
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

TEST(MarkupEdit, GetAttributeEdgeCases) {
  Doc doc;
  doc.SetText("<a x y='&lt;&#65;' z=\"q\" w=v>");
  EXPECT_EQ(doc.GetAttribute("x"), "") << "no current element yet";
  ASSERT_TRUE(doc.FindElement());
  EXPECT_EQ(doc.GetAttribute("x"), "x");
  EXPECT_EQ(doc.GetAttribute("y"), "<A");
  EXPECT_EQ(doc.GetAttribute("z"), "q");
  EXPECT_EQ(doc.GetAttribute("w"), "v");
  EXPECT_EQ(doc.GetAttribute("a"), "") << "the tag name is no attribute";
  EXPECT_EQ(doc.GetAttribute("missing"), "");
  EXPECT_EQ(doc.GetAttribute(nullptr), "");
  EXPECT_EQ(doc.GetAttribute(0, "x"), "");
}

TEST(MarkupEdit, UnterminatedQuoteStaysInsideItsTag) {
  // The scanner's quote state and the attribute search disagree here: the tag ends at the '>'
  // after 'd', but the search sees an opening quote before it.
  Doc doc;
  doc.SetText("<r><a b'c x=\"d'><e y=\"z\"/></a></r>");
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.FindChildElement("a"));
  ASSERT_TRUE(doc.EnterElement());
  EXPECT_EQ(doc.GetAttribute("x"), "d'");
  ASSERT_TRUE(doc.SetAttribute(doc.CurrentPos(), "x", "v"));
  EXPECT_EQ(doc.Text(), "<r><a b'c x=\"v\"><e y=\"z\"/></a></r>");
  ASSERT_TRUE(doc.FindChildElement("e"));
  EXPECT_EQ(doc.Text().substr(static_cast<std::size_t>(doc.Record(doc.ChildPos())->start), 3),
            "<e ");
}

TEST(MarkupEdit, RefusedEditsChangeNothing) {
  Doc doc;
  doc.SetText("<r><a/></r>");
  const std::string before = doc.Text();
  EXPECT_FALSE(doc.SetAttribute(1, "x", "1")) << "no current element";
  EXPECT_FALSE(doc.AddElement("c", "", Doc::kAsChild)) << "no current element";
  ASSERT_TRUE(doc.FindElement());
  for (const char* name : {static_cast<const char*>(nullptr), "", "a b", "a>", "a=b", "a\"", "/"}) {
    EXPECT_FALSE(doc.SetAttribute(doc.CurrentPos(), name, "1"));
  }
  for (const char* name :
       {static_cast<const char*>(nullptr), "", "1a", "a b", "a/", "a>", "<", "a?b", "a=b"}) {
    EXPECT_FALSE(doc.AddElement(name, "", Doc::kAsChild));
  }
  EXPECT_FALSE(doc.SetAttribute(99, "x", "1"));
  EXPECT_EQ(doc.Text(), before);
  EXPECT_EQ(doc.CurrentPos(), 1);
  EXPECT_EQ(doc.ChildPos(), 0);
  EXPECT_EQ(doc.NextFreeRecord(), 3);
}

TEST(MarkupNavigation, SearchesNeverWrapAround) {
  Doc doc;
  doc.SetText("<XML><Tel0/><Tel1/><Tel2/><Var0/></XML>");
  ASSERT_TRUE(doc.FindElement("XML"));
  ASSERT_TRUE(doc.FindChildElement("Tel2"));
  EXPECT_FALSE(doc.FindChildElement("Tel1"));
  EXPECT_EQ(doc.TagName(doc.ChildPos()), "Tel2");
  ASSERT_TRUE(doc.FindChildElement("Var0"));
  EXPECT_FALSE(doc.FindChildElement());
  EXPECT_EQ(doc.TagName(doc.ChildPos()), "Var0");

  // Entering and leaving restarts the search.
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.LeaveElement());
  EXPECT_EQ(doc.TagName(doc.ChildPos()), "Var0");
  EXPECT_FALSE(doc.LeaveElement());
}

TEST(MarkupNavigation, NamesMatchWholeOrUpToAFollower) {
  Doc doc;
  doc.SetText("<r><Tel/><Tel1/><a/></r>");
  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.FindChildElement("Tel1"));
  EXPECT_EQ(doc.ChildPos(), 3);
  ASSERT_TRUE(doc.EnterElement());
  EXPECT_FALSE(doc.FindElement("Te"));
  EXPECT_TRUE(doc.FindElement("a[1]"));
  EXPECT_EQ(doc.CurrentPos(), 4);
}

TEST(MarkupNavigation, EnterAndLeaveFollowTheTree) {
  Doc doc;
  doc.SetText("<r><a><b/></a></r>");
  EXPECT_FALSE(doc.EnterElement()) << "no current element";
  EXPECT_FALSE(doc.LeaveElement()) << "already at the document level";
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.EnterElement());  // no current child: succeeds, leaves no current element
  EXPECT_EQ(doc.CurrentPos(), 0);
  EXPECT_EQ(doc.ParentPos(), 1);
  EXPECT_EQ(doc.GetAttribute("x"), "");
  ASSERT_TRUE(doc.FindElement("a"));
  EXPECT_EQ(doc.CurrentPos(), 2);
  ASSERT_TRUE(doc.FindChildElement());
  EXPECT_EQ(doc.ChildPos(), 3);
  ASSERT_TRUE(doc.EnterElement());
  EXPECT_EQ(doc.CurrentPos(), 3);
  EXPECT_EQ(doc.ParentPos(), 2);
  ASSERT_TRUE(doc.LeaveElement());
  EXPECT_EQ(doc.CurrentPos(), 2);
  EXPECT_EQ(doc.ChildPos(), 3);
  ASSERT_TRUE(doc.LeaveElement());
  EXPECT_EQ(doc.CurrentPos(), 1);
  EXPECT_EQ(doc.ParentPos(), 0);
  EXPECT_FALSE(doc.LeaveElement());

  // FindChildElement with no current element starts from the first one.
  doc.SetText("<r><a/></r>");
  ASSERT_TRUE(doc.FindChildElement("a"));
  EXPECT_EQ(doc.CurrentPos(), 1);
  EXPECT_EQ(doc.ChildPos(), 2);
}

// Random edits on random documents keep the index equal to a fresh parse of the text.
TEST(MarkupEditProperty, EditsKeepTheIndexInStepWithTheText) {
  std::mt19937 rng(20261208);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* names[] = {"a", "b", "Tel0", "Var1", "x"};
  const char* values[] = {"", "1", "a<b", "\"q\"", "\xD6\xD0\xCE\xC4", "&amp;"};
  std::function<std::string(int)> element = [&](int depth) {
    std::string name = names[pick(5)];
    std::string out = "<" + name;
    for (int i = pick(3); i > 0; --i) {
      out += std::string(" ") + names[pick(5)] + (pick(2) ? "=\"v\"" : "='w w'");
    }
    const int shape = depth > 3 ? 0 : pick(4);
    if (shape == 0) return out + (pick(2) ? "/>" : " />");
    out += ">";
    for (int i = pick(4); i > 0; --i) {
      switch (pick(4)) {
        case 0:
          out += "\r\n  ";
          break;
        case 1:
          out += "t&lt;";
          break;
        case 2:
          out += "<!-- c -->";
          break;
        default:
          out += element(depth + 1);
      }
    }
    return out + "</" + name + ">";
  };

  for (int iteration = 0; iteration < 300; ++iteration) {
    Doc doc;
    const std::string text = (pick(2) ? kHeader : "") + element(0) + (pick(2) ? "\r\n" : "");
    ASSERT_TRUE(doc.SetText(text.c_str())) << text;
    for (int step = 0; step < 12; ++step) {
      switch (pick(6)) {
        case 0:
          doc.FindElement(pick(2) ? nullptr : names[pick(5)]);
          break;
        case 1:
          doc.FindChildElement(pick(2) ? nullptr : names[pick(5)]);
          break;
        case 2:
          if (pick(2)) {
            doc.EnterElement();
          } else {
            doc.LeaveElement();
          }
          break;
        case 3:
          doc.SetAttribute(doc.CurrentPos(), names[pick(5)], values[pick(6)]);
          break;
        default: {
          const int options = pick(2) ? Doc::kAsChild : 0;
          // Siblings of the root would make a second root; keep the document well formed.
          if (options == 0 && doc.ParentPos() == 0) break;
          doc.AddElement(names[pick(5)], pick(3) ? "" : (pick(2) ? nullptr : "d&"), options);
        }
      }
      ASSERT_TRUE(IndexMatchesFreshParse(doc)) << "iteration " << iteration << " step " << step;
    }
    EXPECT_TRUE(doc.ParseSucceeded());
  }
}

}  // namespace
}  // namespace pagorin

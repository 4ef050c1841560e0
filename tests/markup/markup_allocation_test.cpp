// Out of memory at every allocation of an edit or a load: the operation either completes or
// leaves the document as it was.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "markup/markup_document.h"
#include "markup_test_util.h"
#include "support/allocation_failure.h"
#include "support/temp_dir.h"

namespace pagorin {
namespace {

using Doc = MarkupDocument;
using testing::ForEachAllocationFailure;

// What a caller can see of a document, apart from its error text.
struct Snapshot {
  std::string text;
  std::vector<testing::ElementSpan> spans;
  int parent, current, child, nextFree;
  bool wellFormed;
  explicit Snapshot(const Doc& doc)
      : text(doc.Text()),
        spans(testing::SpansInOrder(doc)),
        parent(doc.ParentPos()),
        current(doc.CurrentPos()),
        child(doc.ChildPos()),
        nextFree(doc.NextFreeRecord()),
        wellFormed(doc.ParseSucceeded()) {}
  bool operator==(const Snapshot&) const = default;
};

void PrintTo(const Snapshot& s, std::ostream* out) {
  *out << ::testing::PrintToString(s.text) << " at " << s.parent << "/" << s.current << "/"
       << s.child;
}

constexpr const char* kStart = "<r a=\"1\">\r\n<b/>\r\n<c>t</c>\r\n<e></e>\r\n</r>";

struct EditCase {
  const char* name;
  const char* childOf;  // the current element's child to make current first, or null
  bool (*edit)(Doc&);
};

void PrintTo(const EditCase& c, std::ostream* out) {
  *out << c.name;
}

class MarkupOutOfMemory : public ::testing::TestWithParam<EditCase> {};

TEST_P(MarkupOutOfMemory, EditCompletesOrLeavesTheDocumentAsItWas) {
  const EditCase& c = GetParam();
  std::unique_ptr<Doc> doc;
  auto prepare = [&] {
    doc = std::make_unique<Doc>();
    ASSERT_TRUE(doc->SetText(kStart));
    ASSERT_TRUE(doc->FindElement("r"));
    if (c.childOf != nullptr) {
      ASSERT_TRUE(doc->FindChildElement(c.childOf));
      ASSERT_TRUE(doc->EnterElement());
    }
  };
  prepare();
  ASSERT_TRUE(c.edit(*doc));
  const Snapshot edited(*doc);
  ASSERT_TRUE(testing::IndexMatchesFreshParse(*doc));

  std::unique_ptr<Snapshot> before;
  const int failures = ForEachAllocationFailure(
      [&] {
        prepare();
        before = std::make_unique<Snapshot>(*doc);
      },
      [&] { return c.edit(*doc); },
      [&](bool succeeded, bool) {
        EXPECT_EQ(Snapshot(*doc), succeeded ? edited : *before);
        EXPECT_TRUE(testing::IndexMatchesFreshParse(*doc));
      });
  EXPECT_GT(failures, 0) << "the edit allocates";
}

INSTANTIATE_TEST_SUITE_P(
    Table, MarkupOutOfMemory,
    ::testing::Values(
        EditCase{"ReplaceAttribute", nullptr,
                 [](Doc& d) { return d.SetAttribute(d.CurrentPos(), "a", "x<y"); }},
        EditCase{"AddAttribute", nullptr,
                 [](Doc& d) { return d.SetAttribute(d.CurrentPos(), "n", 22); }},
        EditCase{"AddChildToEmptyElement", "b",
                 [](Doc& d) { return d.AddElement("d", "v&w", Doc::kAsChild); }},
        EditCase{"AddChildToElementWithoutContent", "e",
                 [](Doc& d) { return d.AddElement("d", nullptr, Doc::kAsChild); }},
        EditCase{"AddSiblingAfter", "c", [](Doc& d) { return d.AddElement("s", "", 0); }},
        EditCase{"AddCDataChild", nullptr,
                 [](Doc& d) { return d.AddElement("d", "]]>", Doc::kAsChild | Doc::kAsCData); }},
        EditCase{"InsertBefore", "c",
                 [](Doc& d) { return d.AddElement("f", "1", Doc::kInsertBefore); }}),
    [](const ::testing::TestParamInfo<EditCase>& row) { return row.param.name; });

// A new text that cannot be taken in leaves the old one; one whose index cannot be built is kept
// and reported as not well formed, out of memory.
TEST(MarkupOutOfMemory, SetTextAndLoadFileKeepTheOldTextOrSayWhy) {
  testing::TempDir dir;
  const std::string next = "<n><m x='1'/><m/></n>";
  const std::string path = dir.File("f.xml");
  testing::WriteFileBytes(path, next);
  for (bool fromFile : {false, true}) {
    SCOPED_TRACE(fromFile ? "LoadFile" : "SetText");
    std::unique_ptr<Doc> doc;
    std::unique_ptr<Snapshot> before;
    ForEachAllocationFailure(
        [&] {
          doc = std::make_unique<Doc>();
          ASSERT_TRUE(doc->SetText(kStart));
          ASSERT_TRUE(doc->FindElement("r"));
          before = std::make_unique<Snapshot>(*doc);
        },
        [&] { return fromFile ? doc->LoadFile(path) : doc->SetText(next); },
        [&](bool succeeded, bool) {
          if (succeeded) {
            EXPECT_EQ(doc->Text(), next);
            EXPECT_EQ(testing::SpansInOrder(*doc).size(), 3u);
          } else if (doc->Text() != next) {
            EXPECT_EQ(Snapshot(*doc), *before);
          } else {
            EXPECT_EQ(doc->ParseError(), (MarkupParseError{MarkupError::kOutOfMemory, 0}));
            EXPECT_EQ(doc->Record(0)->firstChild, 0);
            EXPECT_EQ(doc->Record(0)->length, static_cast<int>(next.size()));
          }
          EXPECT_TRUE(succeeded || !doc->ErrorText().empty()) << "a failure says why";
        });
  }
}

}  // namespace
}  // namespace pagorin

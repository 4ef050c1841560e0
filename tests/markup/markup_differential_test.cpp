// Generated well-formed ASCII documents must give the same element tree (names, nesting, order)
// and the same decoded attribute values as an independent XML parser reports.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <random>
#include <set>
#include <string>

#include "markup/markup_document.h"

namespace pagorin {
namespace {

class DocumentGenerator {
 public:
  explicit DocumentGenerator(unsigned seed) : rng_(seed) {}

  std::string Document() {
    std::string out;
    if (Pick(2)) out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
    if (Pick(3) == 0) out += "<!-- head -->\n";
    out += Element(0);
    if (Pick(2)) out += "\r\n";
    return out;
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

  std::string Name() {
    static const char kFirst[] = "abcxyzABCXYZ_";
    static const char kRest[] = "abcz09_.-XY";
    std::string name(1, kFirst[Pick(sizeof kFirst - 1)]);
    for (int i = Pick(6); i > 0; --i)
      name += kRest[Pick(sizeof kRest - 1)];
    return name;
  }

  std::string Space() {
    static const char* kSpaces[] = {" ", "  ", "\r\n", "\t", "\n  "};
    return kSpaces[Pick(5)];
  }

  // Attribute value in markup form; quote is the delimiter in use.
  std::string Value(char quote) {
    static const char* kPieces[] = {"a",      "B c",   "&lt;",   "&amp;",  "&gt;", "&quot;",
                                    "&apos;", "&#65;", "&#x4A;", "&#x7e;", ">",    "0",
                                    "-",      "/",     "=",      "?"};
    std::string value;
    for (int i = Pick(5); i > 0; --i)
      value += kPieces[Pick(16)];
    if (Pick(4) == 0) value += quote == '"' ? "'" : "\"";
    return value;
  }

  std::string Text() {
    static const char* kPieces[] = {"text",      " ",    "&lt;b&gt;",    "a > b",
                                    "&amp;",     "\r\n", "<!-- <c> -->", "<![CDATA[<d></e>]]>",
                                    "<?pi <x>?>"};
    std::string text;
    for (int i = Pick(3); i > 0; --i)
      text += kPieces[Pick(9)];
    return text;
  }

  std::string Element(int depth) {
    const std::string name = Name();
    std::string out = "<" + name;
    std::set<std::string> used;
    for (int i = Pick(4); i > 0; --i) {
      std::string attribute = Name();
      if (!used.insert(attribute).second) continue;
      const char quote = Pick(2) ? '"' : '\'';
      out += Space() + attribute + (Pick(4) == 0 ? " = " : "=") + quote + Value(quote) + quote;
    }
    if (Pick(3) == 0) out += Space();
    if (depth >= 5 || Pick(4) == 0) return out + "/>";
    out += ">";
    for (int i = Pick(5); i > 0; --i)
      out += Pick(2) ? Text() : Element(depth + 1);
    return out + "</" + name + (Pick(4) == 0 ? " >" : ">");
  }

  std::mt19937 rng_;
};

// Compares the current element of `doc` with `node`, then its children in order.
void ExpectSameElement(MarkupDocument& doc, const pugi::xml_node& node, int& compared) {
  ++compared;
  ASSERT_EQ(doc.TagName(doc.CurrentPos()), node.name());
  for (const pugi::xml_attribute& attribute : node.attributes()) {
    EXPECT_EQ(doc.GetAttribute(attribute.name()), attribute.value())
        << node.name() << "/" << attribute.name();
  }
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() != pugi::node_element) continue;
    ASSERT_TRUE(doc.FindChildElement()) << "missing child " << child.name();
    ASSERT_TRUE(doc.EnterElement());
    ExpectSameElement(doc, child, compared);
    ASSERT_TRUE(doc.LeaveElement());
  }
  EXPECT_FALSE(doc.FindChildElement()) << "extra child under " << node.name();
}

TEST(MarkupDifferential, TreeAndAttributesMatchAnIndependentParser) {
  DocumentGenerator generator(41);
  int compared = 0;
  for (int iteration = 0; iteration < 400; ++iteration) {
    const std::string text = generator.Document();
    pugi::xml_document reference;
    ASSERT_TRUE(reference.load_string(text.c_str())) << text;

    MarkupDocument doc;
    ASSERT_TRUE(doc.SetText(text.c_str())) << doc.ErrorText() << "\n" << text;
    ASSERT_TRUE(doc.FindElement());
    ExpectSameElement(doc, reference.document_element(), compared);
    EXPECT_FALSE(doc.FindElement()) << "a second root";
    if (HasFailure()) {
      ADD_FAILURE() << text;
      break;
    }
  }
  EXPECT_GT(compared, 1000);
}

}  // namespace
}  // namespace pagorin

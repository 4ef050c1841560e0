#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "markup/markup_document.h"
#include "support/temp_dir.h"

namespace pagorin {
namespace {

using Doc = MarkupDocument;

struct CodecCase {
  const char* input;
  int options;
  const char* expected;
};

// Printed by name in test listings (the raw bytes would include padding).
void PrintTo(const CodecCase& c, std::ostream* out) {
  *out << ::testing::PrintToString(std::string(c.input));
}

class MarkupEncodeText : public ::testing::TestWithParam<CodecCase> {};

TEST_P(MarkupEncodeText, EscapesTheMarkupCharacters) {
  const CodecCase& c = GetParam();
  EXPECT_EQ(Doc::EncodeText(c.input, c.options), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, MarkupEncodeText,
                         ::testing::Values(CodecCase{"a<b&c>d", 0, "a&lt;b&amp;c&gt;d"},
                                           CodecCase{"'\"", 0, "'\""},
                                           CodecCase{"'\"", Doc::kEncodeQuotes, "&apos;&quot;"},
                                           CodecCase{"", 0, ""},
                                           // A lead byte takes the next byte along, whatever it is.
                                           CodecCase{"\xD6\xD0<\x81<", 0, "\xD6\xD0&lt;\x81<"},
                                           CodecCase{"x\x81", 0, "x\x81"},
                                           CodecCase{"&lt;&#65;&#x4a;&;&a b;", Doc::kKeepReferences,
                                                     "&lt;&#65;&#x4a;&amp;;&amp;a b;"}));

TEST(MarkupEncode, NullTextIsEmpty) {
  EXPECT_EQ(Doc::EncodeText(nullptr, 0), "");
}

TEST(MarkupEncode, GrowsPastTheFirstReservationWithoutLosingData) {
  const std::string input(1000, '&');
  std::string expected;
  for (int i = 0; i < 1000; ++i)
    expected += "&amp;";
  EXPECT_EQ(Doc::EncodeText(input.c_str(), 0), expected);
  const std::string quotes(1000, '"');
  EXPECT_EQ(Doc::EncodeText(quotes.c_str(), Doc::kEncodeQuotes).size(), 6000u);
}

class MarkupDecodeText : public ::testing::TestWithParam<CodecCase> {};

TEST_P(MarkupDecodeText, ResolvesReferences) {
  const CodecCase& c = GetParam();
  EXPECT_EQ(Doc::DecodeText(c.input, -1), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MarkupDecodeText,
    ::testing::Values(
        CodecCase{"&#65;", 0, "A"}, CodecCase{"&#x41;", 0, "A"}, CodecCase{"&#X41;", 0, "&#X41;"},
        CodecCase{"&#0;", 0, "&#0;"}, CodecCase{"&#65536;", 0, "&#65536;"},
        CodecCase{"&#256;", 0, "&#256;"}, CodecCase{"&#00000065;", 0, "&#00000065;"},
        CodecCase{"&#0000065;", 0, "A"}, CodecCase{"&#-65;", 0, "&#-65;"},
        CodecCase{"&#255;", 0, "\xFF"}, CodecCase{"&#x;", 0, "&#x;"}, CodecCase{"&lt", 0, "&lt"},
        CodecCase{"&unknown;", 0, "&unknown;"}, CodecCase{"&lt;&amp;&gt;&apos;&quot;", 0, "<&>'\""},
        CodecCase{"&amp;lt;", 0, "&lt;"}, CodecCase{"a&", 0, "a&"}, CodecCase{"&#", 0, "&#"},
        CodecCase{"&#65", 0, "&#65"}, CodecCase{"\xD6\xD0&amp;\x81", 0, "\xD6\xD0&\x81"}));

TEST(MarkupDecode, StopsAtTheGivenLength) {
  EXPECT_EQ(Doc::DecodeText("&lt;", 3), "&lt");
  EXPECT_EQ(Doc::DecodeText("&#65;", 4), "&#65");
  EXPECT_EQ(Doc::DecodeText("ab", 0), "");
  EXPECT_EQ(Doc::DecodeText(nullptr, -1), "");
  // A lead byte as the last byte inside the length does not reach past it.
  EXPECT_EQ(Doc::DecodeText("a\xD6\xD0", 2), "a\xD6");
}

TEST(MarkupWrapCData, SplitsAtEveryEndMarker) {
  EXPECT_EQ(Doc::WrapCData("a]]>b"), "<![CDATA[a]]]]><![CDATA[>b]]>");
  EXPECT_EQ(Doc::WrapCData("]]>]]>"), "<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>");
  EXPECT_EQ(Doc::WrapCData("x"), "<![CDATA[x]]>");
  EXPECT_EQ(Doc::WrapCData(nullptr), "<![CDATA[]]>");
  // "]]>" hidden behind a lead byte is no end marker.
  EXPECT_EQ(Doc::WrapCData("\x81]]>"), "<![CDATA[\x81]]>]]>");
}

class MarkupFiles : public ::testing::Test {
 protected:
  testing::TempDir dir;
};

TEST_F(MarkupFiles, SaveThenLoadGivesTheTextBackByteForByte) {
  Doc doc;
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<XML Desc=\"\xB1\xC3&amp;\">\r\n</XML>\r\n";
  ASSERT_TRUE(doc.SetText(text.c_str()));
  const std::string path = dir.File("Kestrova_Configure.ini");
  ASSERT_TRUE(doc.SaveFile(path));
  EXPECT_EQ(doc.ErrorText(), std::to_string(text.size()) + " bytes");
  EXPECT_EQ(testing::ReadFileBytes(path), text);

  Doc loaded;
  ASSERT_TRUE(loaded.LoadFile(path));
  EXPECT_EQ(loaded.Text(), text);
  EXPECT_EQ(loaded.ErrorText(), std::to_string(text.size()) + " bytes");
  ASSERT_TRUE(loaded.FindElement("XML"));
  EXPECT_EQ(loaded.GetAttribute("Desc"), "\xB1\xC3&");
}

TEST_F(MarkupFiles, LoadResultTextPrecedesTheParseMessage) {
  struct Case {
    std::string bytes;
    bool ok;
    std::string errorText;
  };
  const Case cases[] = {
      {"", false, "0 bytes, Empty document"},
      {"<?xml?>\r\n", false, "9 bytes, No root element"},
      {"<a>", false, "3 bytes, Element 'a' at offset 0 not ended"},
      {"<a/>", true, "4 bytes"},
      {std::string("<a/>\0<b>", 8), true, "8 bytes"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File("load.xml");
    testing::WriteFileBytes(path, c.bytes);
    Doc doc;
    EXPECT_EQ(doc.LoadFile(path), c.ok) << c.bytes;
    EXPECT_EQ(doc.ErrorText(), c.errorText);
    EXPECT_EQ(doc.Text(), c.bytes);
  }
}

TEST_F(MarkupFiles, MissingFileKeepsTheDocument) {
  Doc doc;
  ASSERT_TRUE(doc.SetText("<r><a/></r>"));
  ASSERT_TRUE(doc.FindElement());
  ASSERT_TRUE(doc.FindChildElement());
  EXPECT_FALSE(doc.LoadFile(dir.File("missing.xml")));
  EXPECT_EQ(doc.ErrorText(), std::strerror(ENOENT));
  EXPECT_EQ(doc.Text(), "<r><a/></r>");
  EXPECT_EQ(doc.CurrentPos(), 1);
  EXPECT_EQ(doc.ChildPos(), 2);
  EXPECT_EQ(doc.NextFreeRecord(), 3);
  EXPECT_TRUE(doc.ParseSucceeded());
}

TEST_F(MarkupFiles, FailedSaveLeavesTheOldFileAndNoTemporary) {
  Doc doc;
  ASSERT_TRUE(doc.SetText("<new/>"));

  // No folder to write into.
  EXPECT_FALSE(doc.SaveFile(dir.File("none/file.xml")));
  EXPECT_EQ(doc.ErrorText(), std::strerror(ENOENT));

  // A name so long that the temporary file beside it cannot be created.
  const std::string longName = dir.File(std::string(250, 'n'));
  testing::WriteFileBytes(longName, "<old/>");
  EXPECT_FALSE(doc.SaveFile(longName));
  EXPECT_EQ(doc.ErrorText(), std::strerror(ENAMETOOLONG));
  EXPECT_EQ(testing::ReadFileBytes(longName), "<old/>");

  // The target is a folder: the rename fails after the temporary file was written.
  const std::string folder = dir.File("folder");
  std::filesystem::create_directory(folder);
  EXPECT_FALSE(doc.SaveFile(folder));
  EXPECT_FALSE(doc.ErrorText().empty());
  EXPECT_TRUE(std::filesystem::is_directory(folder));

  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 2) << "only the long-named file and the folder remain";
  EXPECT_EQ(doc.Text(), "<new/>");
}

TEST_F(MarkupFiles, EmptyTextSavesAnEmptyFile) {
  Doc doc;
  const std::string path = dir.File("empty.xml");
  ASSERT_TRUE(doc.SaveFile(path));
  EXPECT_EQ(doc.ErrorText(), "0 bytes");
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

}  // namespace
}  // namespace pagorin

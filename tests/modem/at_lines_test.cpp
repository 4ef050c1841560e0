// What arrives from the modem, in the pieces it comes in, and the lines and prompts taken from it.
#include "modem/at_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pagorin {
namespace {

// Feeds `chunks` one after the other, taking every piece after each, and writes them as one
// text: a line as itself, the prompt as ">", a dropped line as "!", each followed by "|".
std::string Split(const std::vector<std::string>& chunks) {
  AtLineSplitter splitter;
  std::string pieces;
  for (const std::string& chunk : chunks) {
    splitter.Append(chunk);
    for (AtLineSplitter::Piece piece = splitter.Next(); piece.kind != AtLineSplitter::Kind::None;
         piece = splitter.Next()) {
      if (piece.kind == AtLineSplitter::Kind::Line) pieces += piece.text;
      if (piece.kind == AtLineSplitter::Kind::Prompt) pieces += '>';
      if (piece.kind == AtLineSplitter::Kind::Dropped) pieces += '!';
      pieces += '|';
    }
  }
  return pieces;
}

TEST(AtLineSplitter, CutsLinesAndPrompts) {
  struct Row {
    std::vector<std::string> chunks;
    std::string pieces;
  };
  const std::string longLine(AtLineSplitter::kMaxLineBytes + 1, 'x');
  const Row rows[] = {
      {{"\r\nOK\r\n"}, "OK|"},
      {{"\r\n+CMGS: 1", "2\r", "\n\r\nOK\r\n"}, "+CMGS: 12|OK|"},
      {{"\n\n\r\r"}, ""},
      {{"+CSQ: 9,9\nOK\r"}, "+CSQ: 9,9|OK|"},
      {{"\r\n> "}, ">|"},
      {{"\r\n>"}, ">|"},
      {{"\r\n> \r\n+CMTI: \"SM\",3\r\n"}, ">|+CMTI: \"SM\",3|"},
      {{"> > "}, ">|>|"},
      {{">OK\r\n"}, ">|OK|"},
      {{"OK"}, ""},
      {{"A > B\r\n"}, "A > B|"},
      {{longLine}, "!|"},
      {{longLine.substr(1), "\r\n"}, std::string(AtLineSplitter::kMaxLineBytes, 'x') + "|"},
      {{longLine, "\r\nOK\r\n"}, "!|OK|"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.pieces);
    EXPECT_EQ(Split(row.chunks), row.pieces);
  }
}

TEST(AtLineSplitter, ClearForgetsTheUnfinishedLine) {
  AtLineSplitter splitter;
  splitter.Append("\r\nRDY\r\n+CPIN: RE");
  EXPECT_EQ(splitter.Next().text, "RDY");
  splitter.Clear();
  EXPECT_TRUE(splitter.Empty());
  splitter.Append("ADY\r\n");
  EXPECT_EQ(splitter.Next().text, "ADY");
}

TEST(AtLineSplitter, KnowsTheFinalResults) {
  for (const char* line : {"OK", "ERROR", "+CMS ERROR: 500", "+CME ERROR: 10", "+CMS ERROR:"})
    EXPECT_TRUE(IsFinalResult(line)) << line;
  for (const char* line : {"OK ", "0", "+CMGS: 3", "ERROR: 3", "NO CARRIER", "+CMS ERR"})
    EXPECT_FALSE(IsFinalResult(line)) << line;
}

}  // namespace
}  // namespace pagorin

#include "core/send_history.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <tuple>

#include "platform/code_page.h"
#include "platform/tick.h"
#include "support/held_file.h"
#include "support/temp_dir.h"

namespace pagorin {
namespace {

using pagorin::testing::HeldFiles;
using pagorin::testing::ReadFileBytes;
using pagorin::testing::TempDir;
using pagorin::testing::WriteFileBytes;

// Times in UTC, so that the test does not depend on the machine's zone.
std::string UtcTime(std::int64_t seconds) {
  const std::int64_t days = seconds / 86400;
  const std::int64_t rest = seconds % 86400;
  return "d" + std::to_string(days) + " " + std::to_string(rest);
}

std::string Cp936(std::string_view utf8) {
  return platform::Utf8ToCp936(utf8);
}

// Strict UTF-8: every sequence well formed and shortest, no surrogates.
bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    std::size_t length = b < 0x80                ? 1
                         : b >= 0xC2 && b < 0xE0 ? 2
                         : b >= 0xE0 && b < 0xF0 ? 3
                         : b >= 0xF0 && b < 0xF5 ? 4
                                                 : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    if (length == 3) {
      const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
      if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 >= 0xA0)) return false;
    }
    i += length;
  }
  return true;
}

// The lines of a file after its byte-order mark, split at CR LF outside quotes.
std::vector<std::vector<std::string>> ReadRows(const std::string& path) {
  std::string bytes = ReadFileBytes(path);
  EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF")) << path;
  EXPECT_TRUE(IsValidUtf8(bytes)) << path;
  std::vector<std::vector<std::string>> rows;
  std::size_t start = 3;
  bool quoted = false;
  for (std::size_t i = 3; i < bytes.size(); ++i) {
    if (bytes[i] == '"') quoted = !quoted;
    if (!quoted && bytes[i] == '\n') {
      rows.push_back(SplitCsvLine(std::string_view(bytes).substr(start, i + 1 - start)));
      start = i + 1;
    }
  }
  EXPECT_EQ(start, bytes.size()) << "a line without its end in " << path;
  return rows;
}

HistoryEntry Entry(int n) {
  HistoryEntry entry;
  entry.queuedAt = 86400 + n;
  entry.endedAt = 86400 + n + 5;
  entry.number = "13800138000";
  entry.name = Cp936("值班室");
  entry.origin = "Tank1.PV";
  entry.text = Cp936("Tank1报警:高报,紧急 #" + std::to_string(n));
  entry.attempts = 1;
  entry.reference = std::to_string(n);
  entry.state = HistoryState::kSent;
  return entry;
}

// The file decodes as UTF-8 with its mark: Chinese texts come out as they went in, and every
// column stands where the heading says.
TEST(SendHistory, FileIsUtf8WithMarkAndChineseColumns) {
  TempDir dir;
  SendHistory history(SendHistory::kDefaultMaxFileBytes, 4, &UtcTime);
  ASSERT_TRUE(history.Open(dir.path()));
  HistoryEntry failed = Entry(2);
  failed.state = HistoryState::kFailed;
  failed.attempts = 3;
  failed.reference.clear();
  failed.reason = Cp936("短信猫发送失败");
  HistoryEntry refused = Entry(3);
  refused.origin = "script";
  refused.name.clear();
  refused.state = HistoryState::kRefused;
  refused.attempts = 0;
  refused.reference.clear();
  refused.reason = Cp936("发送队列已满");
  ASSERT_TRUE(history.Append(Entry(1)));
  ASSERT_TRUE(history.Append(failed));
  ASSERT_TRUE(history.Append(refused));
  history.Close();

  auto rows = ReadRows(dir.File(std::string(SendHistory::kFileName)));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"入队时间", "结束时间", "手机号码", "说明", "来源", "内容",
                                      "尝试次数", "参考号", "状态", "原因", "状态码"}));
  EXPECT_EQ(rows[1],
            (std::vector<std::string>{"d1 1", "d1 6", "=13800138000", "值班室", "Tank1.PV",
                                      "Tank1报警:高报,紧急 #1", "1", "1", "已发送", "", "sent"}));
  EXPECT_EQ(rows[2][8], "发送失败");
  EXPECT_EQ(rows[2][9], "短信猫发送失败");
  EXPECT_EQ(rows[2][6], "3");
  EXPECT_EQ(rows[3][4], "script");
  EXPECT_EQ(rows[3][8], "已拒绝");
  EXPECT_EQ(rows[3][9], "发送队列已满");

  // Reopening appends below what is there, without a second heading.
  ASSERT_TRUE(history.Open(dir.path()));
  ASSERT_TRUE(history.Append(Entry(4)));
  EXPECT_EQ(ReadRows(dir.File(std::string(SendHistory::kFileName))).size(), 5u);
}

// Local time in a zone eight hours east of UTC, in the form the history writes.
std::string EastEightTime(std::int64_t seconds) {
  const std::int64_t local = seconds + 8 * 3600;
  std::int64_t days = local / 86400;
  const std::int64_t rest = local % 86400;
  // The civil date of a day count since 1970-01-01.
  days += 719468;
  const std::int64_t era = days / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(year),
                static_cast<int>(month), static_cast<int>(day), static_cast<int>(rest / 3600),
                static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

// Each field reads back as it went in, whatever defusing or quoting it took.
TEST(SendHistory, FieldsAreQuotedAndFormulasDefused) {
  struct Row {
    const char* text;
    const char* field;  // the field as written in the line
  };
  const Row rows[] = {
      {"plain", "plain"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"=1+2", "'=1+2"},
      {"+86", "'+86"},
      {"-1,5", "\"'-1,5\""},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\t=1+2", "'\t=1+2"},
      {"\r=1", "\"'\r=1\""},
      {"'=1", "''=1"},
      {"''+1", "'''+1"},
      {"'quoted'", "'quoted'"},
      {"'", "'"},
  };
  SendHistory history(SendHistory::kDefaultMaxFileBytes, 4, &EastEightTime);
  for (const Row& row : rows) {
    HistoryEntry entry = Entry(1);
    entry.text = row.text;
    const std::string line = history.FormatLine(entry);
    EXPECT_NE(line.find(std::string(",") + row.field + ",1,"), std::string::npos)
        << row.text << " in " << line;
    std::string expected = row.field;
    if (expected.starts_with('"')) expected = SplitCsvLine(expected)[0];
    EXPECT_EQ(SplitCsvLine(line)[5], expected);
    HistoryEntry read;
    ASSERT_TRUE(history.ParseLine(line, read)) << line;
    EXPECT_EQ(read.text, row.text);
  }
  // A number that is not all digits is written as text, with no formula around it.
  HistoryEntry odd = Entry(1);
  odd.number = "1380013800x";
  EXPECT_EQ(SplitCsvLine(history.FormatLine(odd))[2], "1380013800x");
}

// Every line ends with the state's code for programs; lines of files written before it read by
// the Chinese word, and the code wins where both are there.
TEST(SendHistory, StatesReadByTheirCodeOrInOldFilesByTheWord) {
  SendHistory history(SendHistory::kDefaultMaxFileBytes, 4, &EastEightTime);
  for (HistoryState state : {HistoryState::kSent, HistoryState::kFailed, HistoryState::kRefused,
                             HistoryState::kDelivered, HistoryState::kUndelivered}) {
    HistoryEntry entry = Entry(1);
    entry.state = state;
    const std::string line = history.FormatLine(entry);
    EXPECT_TRUE(line.ends_with("," + std::string(SendHistory::StateCode(state)) + "\r\n")) << line;
    const std::string old = line.substr(0, line.rfind(',')) + "\r\n";
    for (const std::string& form : {line, old}) {
      HistoryEntry read;
      ASSERT_TRUE(history.ParseLine(form, read)) << form;
      EXPECT_EQ(read.state, state) << form;
    }
  }
  HistoryEntry entry = Entry(1);
  std::string line = history.FormatLine(entry);
  line.replace(line.rfind("sent"), 4, "delivered");
  HistoryEntry read;
  ASSERT_TRUE(history.ParseLine(line, read));
  EXPECT_EQ(read.state, HistoryState::kDelivered);
}

// With a small limit the history keeps its number of files, each under the limit and starting
// with the mark and the heading, and the newest lines in order without a gap.
TEST(SendHistory, RotatesBySizeAndKeepsTheNewestLines) {
  TempDir dir;
  constexpr std::uint64_t kLimit = 1200;
  SendHistory history(kLimit, 3, &UtcTime);
  ASSERT_TRUE(history.Open(dir.path()));
  constexpr int kEntries = 60;
  for (int n = 1; n <= kEntries; ++n)
    ASSERT_TRUE(history.Append(Entry(n)));
  EXPECT_FALSE(std::filesystem::exists(history.FilePath(3)));
  std::vector<int> numbers;
  for (int generation = 2; generation >= 0; --generation) {
    const std::string path = history.FilePath(generation);
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_LE(std::filesystem::file_size(path), kLimit);
    auto rows = ReadRows(path);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "入队时间");
    for (std::size_t i = 1; i < rows.size(); ++i)
      numbers.push_back(std::stoi(rows[i][7]));
  }
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.back(), kEntries);
  for (std::size_t i = 1; i < numbers.size(); ++i)
    EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
}

// What a new run reads back for the send record is what earlier runs wrote: the last entries in
// order across the rotated files, every field as it went in (quotes, commas, line breaks,
// texts that look like formulas), and a line cut short by a crash left out.
TEST(SendHistory, ReadsBackTheLastEntriesAcrossRotatedFiles) {
  TempDir dir;
  constexpr std::int64_t kDay = 1765000000;  // December 2025
  std::vector<HistoryEntry> written;
  {
    SendHistory history(900, 3, &EastEightTime);
    ASSERT_TRUE(history.Open(dir.path()));
    const std::vector<std::string> texts = {"泵站停机",     "=SUM(A1)", "a \"quoted\", text",
                                            "two\r\nlines", "-5 度",    "@home"};
    for (int n = 0; n < 30; ++n) {
      HistoryEntry entry = Entry(n);
      entry.queuedAt = kDay + n * 61;
      entry.endedAt = kDay + n * 61 + 7;
      entry.text = Cp936(texts[static_cast<std::size_t>(n) % texts.size()]);
      entry.state = static_cast<HistoryState>(n % 3);
      entry.reason = entry.state == HistoryState::kSent ? "" : Cp936("+CMS ERROR: 331 无网络服务");
      entry.reference = entry.state == HistoryState::kSent ? std::to_string(n) : "";
      entry.origin = n % 2 == 0 ? "script" : "+Tank1.PV";
      ASSERT_TRUE(history.Append(entry));
      written.push_back(entry);
    }
    ASSERT_TRUE(std::filesystem::exists(history.FilePath(2)));  // rotated twice at least
  }
  // A crash while a line was written leaves it without its end.
  {
    std::FILE* file = std::fopen(dir.File(std::string(SendHistory::kFileName)).c_str(), "ab");
    ASSERT_NE(file, nullptr);
    std::fputs("2025-12-06 14:00:00,2025-12-06 14:00:05,=\"1380013", file);
    std::fclose(file);
  }
  SendHistory reader(900, 3, &EastEightTime);
  ASSERT_TRUE(reader.Open(dir.path()));
  for (std::size_t limit : {std::size_t{1}, std::size_t{4}, std::size_t{12}, std::size_t{300}}) {
    const std::vector<HistoryEntry> read = reader.ReadRecent(limit);
    ASSERT_FALSE(read.empty()) << limit;
    ASSERT_LE(read.size(), limit);
    // Oldest first, ending with the last line written before the crash.
    const std::size_t first = written.size() - read.size();
    for (std::size_t i = 0; i < read.size(); ++i) {
      const HistoryEntry& want = written[first + i];
      const HistoryEntry& got = read[i];
      EXPECT_EQ(got.queuedAt, want.queuedAt) << i;
      EXPECT_EQ(got.endedAt, want.endedAt) << i;
      EXPECT_EQ(
          std::tie(got.number, got.name, got.origin, got.text, got.reference, got.reason),
          std::tie(want.number, want.name, want.origin, want.text, want.reference, want.reason))
          << i;
      EXPECT_EQ(got.attempts, want.attempts) << i;
      EXPECT_EQ(got.state, want.state) << i;
    }
    if (limit <= 12) {
      EXPECT_EQ(read.size(), limit);
    }
  }
  // The line cut short is ended when the history is opened again: the next line reads whole.
  HistoryEntry after = Entry(99);
  after.queuedAt = kDay + 5000;
  after.endedAt = kDay + 5003;
  ASSERT_TRUE(reader.Append(after));
  const std::vector<HistoryEntry> last = reader.ReadRecent(2);
  ASSERT_EQ(last.size(), 2u);
  EXPECT_EQ(last[0].text, written.back().text);
  EXPECT_EQ(last[1].text, after.text);
  EXPECT_EQ(last[1].queuedAt, after.queuedAt);

  // Files that hold nothing to read back give nothing.
  TempDir empty;
  SendHistory none(900, 3, &EastEightTime);
  ASSERT_TRUE(none.Open(empty.path()));
  EXPECT_TRUE(none.ReadRecent(300).empty());
}

// The numbers of every entry the history reads back, oldest first.
std::vector<int> NumbersReadBack(const SendHistory& history) {
  std::vector<int> numbers;
  for (const HistoryEntry& entry : history.ReadRecent(100000))
    numbers.push_back(std::atoi(entry.reference.c_str()));
  return numbers;
}

// Which file another program holds while the history rotates.
struct HeldCase {
  const char* name;
  int generation;   // 0: the current file
  bool oldestGoes;  // the rotation gets as far as removing the oldest file
  bool reopens;     // the history is opened again once the file is let go
};

void PrintTo(const HeldCase& c, std::ostream* out) {
  *out << c.name;
}

class SendHistoryHeldFile : public ::testing::TestWithParam<HeldCase> {};

// A file that cannot move costs no line but the oldest file's, and those only once the current
// lines are safe: the lines go on into the current file up to twice the limit, the history says
// why, and once the file is let go the next line (or the next Open, for a rotated file left
// waiting) rotates as if nothing had happened.
TEST_P(SendHistoryHeldFile, CostsNoLineAndRotatesOnceLetGo) {
  const HeldCase& c = GetParam();
  TempDir dir;
  constexpr std::uint64_t kLimit = 1200;
  SendHistory history(kLimit, 4, &EastEightTime);
  ASSERT_TRUE(history.Open(dir.path()));
  std::vector<int> accepted;
  int n = 0;
  while (!std::filesystem::exists(history.FilePath(3))) {
    ASSERT_TRUE(history.Append(Entry(++n)));
    accepted.push_back(n);
  }
  if (c.oldestGoes) {
    const auto rows = ReadRows(history.FilePath(2));
    ASSERT_GE(rows.size(), 2u);
    const int firstKept = std::stoi(rows[1][7]);
    std::erase_if(accepted, [&](int number) { return number < firstKept; });
  }

  HeldFiles held;
  held.Hold(history.FilePath(c.generation));
  bool refused = false;
  for (int i = 0; i < 60 && !refused; ++i) {
    refused = !history.Append(Entry(++n));
    if (!refused) accepted.push_back(n);
  }
  EXPECT_TRUE(refused);
  EXPECT_GT(std::filesystem::file_size(history.FilePath(0)), 2 * kLimit - 200);
  EXPECT_LE(std::filesystem::file_size(history.FilePath(0)), 2 * kLimit);
  EXPECT_EQ(history.LastProblem(), HeldFiles::FailureText());
  EXPECT_EQ(NumbersReadBack(history), accepted);

  held.ReleaseAll();
  if (c.reopens) {
    history.Close();
    ASSERT_TRUE(history.Open(dir.path()));
  }
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(history.Append(Entry(++n)));
    accepted.push_back(n);
  }
  EXPECT_EQ(history.LastProblem(), "");
  EXPECT_FALSE(std::filesystem::exists(history.RotatingPath()));
  EXPECT_FALSE(std::filesystem::exists(history.FilePath(4)));
  EXPECT_LE(std::filesystem::file_size(history.FilePath(0)), kLimit);
  const std::vector<int> kept = NumbersReadBack(history);
  ASSERT_FALSE(kept.empty());
  EXPECT_TRUE(std::equal(kept.rbegin(), kept.rend(), accepted.rbegin())) << "not the newest";
  for (int generation = 0; generation < 4; ++generation) {
    const auto rows = ReadRows(history.FilePath(generation));
    ASSERT_FALSE(rows.empty()) << generation;
    EXPECT_EQ(rows[0][0], "入队时间") << generation;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SendHistoryHeldFile,
                         ::testing::Values(HeldCase{"Current", 0, false, false},
                                           HeldCase{"NewestRotated", 1, true, true},
                                           HeldCase{"Oldest", 3, false, false}),
                         [](const ::testing::TestParamInfo<HeldCase>& row) {
                           return row.param.name;
                         });

// What happens to the current file under the running history, and what notices it.
struct ChangeCase {
  const char* name;
  const char* replacement;  // the file put at the path; nullptr: the file is only removed
  bool byTime;              // noticed by the time passed, else by the number of appends
};

void PrintTo(const ChangeCase& c, std::ostream* out) {
  *out << c.name;
}

class SendHistoryFileChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(SendHistoryFileChange, TheNextLineLandsInTheFileAtThePath) {
  const ChangeCase& c = GetParam();
  TempDir dir;
  platform::ManualTicks ticks(5);
  SendHistory history(SendHistory::kDefaultMaxFileBytes, 4, &EastEightTime);
  ASSERT_TRUE(history.Open(dir.path()));
  ASSERT_TRUE(history.Append(Entry(1)));
  std::error_code refused;
  if (!std::filesystem::remove(history.FilePath(0), refused)) {
    GTEST_SKIP() << "this system keeps an open file from being removed: " << refused.message();
  }
  std::size_t rows = 2;
  if (c.replacement != nullptr) {
    WriteFileBytes(dir.File("copy"), SendHistory::FileHeading() + c.replacement);
    std::filesystem::rename(dir.File("copy"), history.FilePath(0));
    rows = 3;
  }
  int n = 1;
  if (c.byTime) {
    ticks.Advance(SendHistory::kCheckEveryMs);
    ASSERT_TRUE(history.Append(Entry(++n)));
  } else {
    while (n < SendHistory::kCheckEveryAppends)
      ASSERT_TRUE(history.Append(Entry(++n)));
  }
  const auto read = ReadRows(history.FilePath(0));
  ASSERT_EQ(read.size(), rows);
  EXPECT_EQ(read[0][0], "入队时间");
  EXPECT_EQ(read.back()[7], std::to_string(n));
}

INSTANTIATE_TEST_SUITE_P(Table, SendHistoryFileChange,
                         ::testing::Values(ChangeCase{"RemovedNoticedByTime", nullptr, true},
                                           ChangeCase{"RemovedNoticedByAppends", nullptr, false},
                                           ChangeCase{"ReplacedWithATornLine", "a,b,\"torn", true}),
                         [](const ::testing::TestParamInfo<ChangeCase>& row) {
                           return row.param.name;
                         });

}  // namespace
}  // namespace pagorin

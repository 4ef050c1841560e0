#include "core/send_history.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>

#include "platform/code_page.h"
#include "platform/file_io.h"
#include "platform/local_time.h"
#include "platform/system_error.h"
#include "platform/tick.h"
#include "resources/string_table.h"

namespace pagorin {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsAllDigits(std::string_view text) noexcept {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A spreadsheet takes a field for a formula when it starts with one of =, +, - or @, and some
// also after a leading tab or carriage return, which they drop first.
bool StartsLikeFormula(std::string_view text) noexcept {
  return !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
}

// Defused with a leading apostrophe: a text that starts like a formula, and one that is only
// apostrophes before such a start, so that reading back takes off exactly the one added.
bool NeedsDefusing(std::string_view text) noexcept {
  const std::size_t first = text.find_first_not_of('\'');
  return first != std::string_view::npos && StartsLikeFormula(text.substr(first));
}

// One field, quoted when it holds a separator, a quote or a line break; a text that a
// spreadsheet would take for a formula is defused with a leading apostrophe.
void AppendField(std::string& line, std::string_view utf8) {
  std::string field;
  if (NeedsDefusing(utf8)) field.push_back('\'');
  field.append(utf8);
  if (field.find_first_of(",\"\r\n") == std::string::npos) {
    line += field;
    return;
  }
  line.push_back('"');
  for (char c : field) {
    if (c == '"') line.push_back('"');
    line.push_back(c);
  }
  line.push_back('"');
}

void AppendText(std::string& line, std::string_view cp936) {
  AppendField(line, platform::Cp936ToUtf8(cp936));
}

// A field as it was before AppendField defused it.
std::string UndefusedField(std::string_view field) {
  if (!field.empty() && field[0] == '\'' && NeedsDefusing(field.substr(1))) field.remove_prefix(1);
  return platform::Utf8ToCp936(field);
}

// "YYYY-MM-DD hh:mm:ss" read as if it were UTC; nullopt for another form.
std::optional<std::int64_t> CivilSeconds(std::string_view text) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  auto number = [&](std::size_t at, std::size_t digits) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 ||
      *day < 1 || *day > 31) {
    return std::nullopt;
  }
  // Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
  const std::int64_t y = *year - (*month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (*month + (*month > 2 ? -3 : 9)) + 2) / 5 + *day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + *hour * 3600 + *minute * 60 + *second;
}

}  // namespace

SendHistory::SendHistory(std::uint64_t maxFileBytes, int files, TimeFormatter formatTime,
                         std::string_view fileName, int headingId) noexcept
    : maxFileBytes_(maxFileBytes),
      files_(files < 1 ? 1 : files),
      formatTime_(formatTime != nullptr ? formatTime : &platform::FormatLocalTime),
      fileName_(fileName),
      headingId_(headingId != 0 ? headingId : string_id::kHistoryHeading) {}

bool SendHistory::Open(const std::string& folder) noexcept {
  try {
    file_.Close();
    folder_ = folder;
  } catch (...) {
    platform::AssignErrorText(problem_, ENOMEM);
    return false;
  }
  wanted_ = true;
  rotationOverdue_ = false;
  linesUntilRetry_ = 0;
  problem_.clear();
  // A rotation that a crash or a failed move interrupted left the current lines under the
  // rotating name: they take their place before a new current file begins.
  rotatingLeft_ = platform::PathExists(RotatingPath());
  if (rotatingLeft_) {
    std::string error;
    rotatingLeft_ = !SettleRotating(error);
    if (rotatingLeft_) NoteProblem(error);
  }
  return OpenCurrent(true);
}

void SendHistory::Close() noexcept {
  wanted_ = false;
  file_.Close();
}

bool SendHistory::OpenCurrent(bool mayBeTorn) noexcept {
  appendsSinceCheck_ = 0;
  lastCheck_ = platform::TickCount();
  try {
    std::string error;
    if (!file_.Open(FilePath(0), error)) {
      NoteProblem(error);
      return false;
    }
    size_ = file_.Size();
    if (size_ == 0) {
      const std::string heading = Heading();
      if (!file_.Append(heading, error)) {
        NoteProblem(error);
        file_.Close();
        return false;
      }
      size_ = heading.size();
    } else if (mayBeTorn) {
      EndTornLine();
    }
    if (!rotationOverdue_ && !rotatingLeft_) problem_.clear();
    return true;
  } catch (...) {
    file_.Close();
    platform::AssignErrorText(problem_, ENOMEM);
    return false;
  }
}

void SendHistory::NoteProblem(std::string& error) noexcept {
  problem_.swap(error);
}

void SendHistory::EndTornLine() {
  // A process that ended while it wrote a line left it without its end (and perhaps inside a
  // quoted field): end it, so that the next line stands on its own in every reader.
  std::string bytes, error;
  if (!platform::ReadWholeFile(FilePath(0), bytes, error) || bytes.empty() || bytes.back() == '\n')
    return;
  std::string ending;
  if (std::count(bytes.begin(), bytes.end(), '"') % 2 != 0) ending.push_back('"');
  ending += "\r\n";
  if (file_.Append(ending, error)) size_ += ending.size();
}

void SendHistory::CheckCurrent() noexcept {
  if (!wanted_) return;
  const std::uint32_t now = platform::TickCount();
  if (++appendsSinceCheck_ < kCheckEveryAppends && now - lastCheck_ < kCheckEveryMs) return;
  appendsSinceCheck_ = 0;
  lastCheck_ = now;
  try {
    if (file_.IsOpen() && file_.IsAt(FilePath(0))) {
      size_ = file_.Size();  // another writer may have added to it
      return;
    }
  } catch (...) {
    return;
  }
  // Removed or replaced under the running history, or not opened before: the path's file (a new
  // one, with the heading) takes the next lines.
  OpenCurrent(true);
}

bool SendHistory::Append(const HistoryEntry& entry) noexcept {
  try {
    return AppendLine(FormatLine(entry));
  } catch (...) {
    return false;
  }
}

std::string SendHistory::FormatTime(std::int64_t unixSeconds) const {
  return unixSeconds != 0 ? formatTime_(unixSeconds) : std::string();
}

bool SendHistory::AppendLine(const std::string& line) noexcept {
  try {
    CheckCurrent();
    if (!file_.IsOpen()) return false;
    if (size_ + line.size() > maxFileBytes_ && size_ > Heading().size()) {
      // A current file that cannot move grows to twice the limit at most.
      const std::uint64_t bound = maxFileBytes_ > UINT64_MAX / 2 ? UINT64_MAX : 2 * maxFileBytes_;
      const bool full = size_ + line.size() > bound;
      if (linesUntilRetry_ > 0 && !full) {
        --linesUntilRetry_;
      } else if (Rotate()) {
        linesUntilRetry_ = 0;
      } else {
        linesUntilRetry_ = kRotationRetryLines;
        if (full || !file_.IsOpen()) return false;
      }
    }
    std::string error;
    if (!file_.Append(line, error)) {
      NoteProblem(error);
      return false;
    }
    size_ += line.size();
    if (!rotationOverdue_ && !rotatingLeft_ && !problem_.empty()) problem_.clear();
    return true;
  } catch (...) {
    return false;
  }
}

bool SendHistory::Rotate() noexcept {
  try {
    file_.Close();
    std::string error;
    // The rotating name must be free: a file left there moves on first.
    if (rotatingLeft_ || platform::PathExists(RotatingPath())) {
      rotatingLeft_ = !SettleRotating(error);
    }
    if (!platform::PathExists(FilePath(0))) {
      // Removed since the last check: there is nothing to move, only a new file to begin.
      rotationOverdue_ = false;
      return OpenCurrent(false);
    }
    if (rotatingLeft_ || !platform::RenameFile(FilePath(0), RotatingPath(), error)) {
      rotationOverdue_ = true;
      NoteProblem(error);
      OpenCurrent(false);
      return false;
    }
    // The current lines are safe under the rotating name; only now may the oldest file go.
    rotationOverdue_ = false;
    rotatingLeft_ = !SettleRotating(error);
    if (rotatingLeft_) NoteProblem(error);
    return OpenCurrent(false);
  } catch (...) {
    return false;
  }
}

bool SendHistory::SettleRotating(std::string& error) noexcept {
  try {
    const std::string rotating = RotatingPath();
    if (files_ == 1) return platform::RemoveFile(rotating, error);
    // The first missing generation takes the one before it, and so on up from there; the oldest
    // is removed only when none is missing. A move that fails leaves one generation missing,
    // which the next try fills without removing anything.
    int missing = 1;
    while (missing < files_ && platform::PathExists(FilePath(missing)))
      ++missing;
    if (missing == files_) {
      missing = files_ - 1;
      if (!platform::RemoveFile(FilePath(missing), error)) return false;
    }
    for (int generation = missing - 1; generation >= 1; --generation) {
      if (!platform::RenameFile(FilePath(generation), FilePath(generation + 1), error))
        return false;
    }
    return platform::RenameFile(rotating, FilePath(1), error);
  } catch (...) {
    platform::AssignErrorText(error, ENOMEM);
    return false;
  }
}

std::int64_t SendHistory::ParseTime(std::string_view text) const {
  const std::optional<std::int64_t> wanted = CivilSeconds(text);
  if (!wanted) return 0;
  // The formatter shows local time: step the zone's offset out, twice for a change of offset
  // between the guess and the answer.
  std::int64_t seconds = *wanted;
  for (int round = 0; round < 3; ++round) {
    const std::optional<std::int64_t> shown = CivilSeconds(formatTime_(seconds));
    if (!shown) return 0;
    if (*shown == *wanted) return seconds;
    seconds += *wanted - *shown;
  }
  return seconds;
}

bool SendHistory::ParseLine(std::string_view utf8Record, HistoryEntry& entry) const {
  const std::vector<std::string> fields = SplitCsvLine(utf8Record);
  if (fields.size() < 10) return false;
  HistoryEntry read;
  read.queuedAt = ParseTime(fields[0]);
  read.endedAt = ParseTime(fields[1]);
  if (read.queuedAt == 0 && read.endedAt == 0) return false;  // the heading, or not an entry
  std::string_view number = fields[2];
  if (number.size() > 1 && number[0] == '=' && IsAllDigits(number.substr(1))) {
    read.number = std::string(number.substr(1));
  } else {
    read.number = UndefusedField(number);
  }
  read.name = UndefusedField(fields[3]);
  read.origin = UndefusedField(fields[4]);
  read.text = UndefusedField(fields[5]);
  for (char c : fields[6]) {
    if (c < '0' || c > '9' || read.attempts > 1000000) break;
    read.attempts = read.attempts * 10 + (c - '0');
  }
  read.reference = UndefusedField(fields[7]);
  // By the code where the line has one; files written before it have the word alone.
  const std::string word = UndefusedField(fields[8]);
  bool known = false;
  for (HistoryState state : {HistoryState::kSent, HistoryState::kFailed, HistoryState::kRefused,
                             HistoryState::kDelivered, HistoryState::kUndelivered}) {
    const bool coded = fields.size() > 10 && fields[10] == StateCode(state);
    if (coded || (!known && word == StateWord(state))) {
      read.state = state;
      known = true;
      if (coded) break;
    }
  }
  if (!known) return false;
  read.reason = UndefusedField(fields[9]);
  entry = std::move(read);
  return true;
}

std::vector<HistoryEntry> SendHistory::ReadRecent(std::size_t limit) const {
  std::vector<HistoryEntry> newestFirst;
  // The file that a rotation left under the rotating name stands between the current one and
  // the first generation.
  for (int file = 0; file <= files_ && newestFirst.size() < limit; ++file) {
    const std::string path = file == 0   ? FilePath(0)
                             : file == 1 ? RotatingPath()
                                         : FilePath(file - 1);
    std::string bytes, error;
    if (!platform::ReadWholeFile(path, bytes, error)) continue;
    // Records end at a line break outside quotes; a quoted text may hold line breaks.
    std::vector<std::string_view> records;
    std::string_view all = bytes;
    std::size_t start = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i] == '"') quoted = !quoted;
      if (!quoted && all[i] == '\n') {
        records.push_back(all.substr(start, i + 1 - start));
        start = i + 1;
      }
    }
    // A last line without its end was cut short by a crash: it is not taken.
    for (auto it = records.rbegin(); it != records.rend() && newestFirst.size() < limit; ++it) {
      HistoryEntry entry;
      if (ParseLine(*it, entry)) newestFirst.push_back(std::move(entry));
    }
  }
  std::reverse(newestFirst.begin(), newestFirst.end());
  return newestFirst;
}

std::string SendHistory::FilePath(int generation) const {
  std::string path = folder_;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') {
#ifdef _WIN32
    path += '\\';
#else
    path += '/';
#endif
  }
  std::string_view name = fileName_;
  if (generation == 0) return path.append(name);
  const std::string_view stem = name.substr(0, name.size() - 4);  // without ".csv"
  return path.append(stem).append(".").append(std::to_string(generation)).append(".csv");
}

std::string SendHistory::RotatingPath() const {
  std::string path = FilePath(0);
  return path.insert(path.size() - 4, ".rotating");
}

std::string SendHistory::FileHeading() {
  return SendHistory().Heading();
}

std::string SendHistory::Heading() const {
  std::string heading(kByteOrderMark);
  heading += platform::Cp936ToUtf8(LoadString(headingId_));
  heading += "\r\n";
  return heading;
}

std::string_view SendHistory::StateCode(HistoryState state) noexcept {
  switch (state) {
    case HistoryState::kSent:
      return "sent";
    case HistoryState::kFailed:
      return "failed";
    case HistoryState::kDelivered:
      return "delivered";
    case HistoryState::kUndelivered:
      return "undelivered";
    case HistoryState::kRefused:
      break;
  }
  return "refused";
}

const std::string& SendHistory::StateWord(HistoryState state) noexcept {
  switch (state) {
    case HistoryState::kSent:
      return LoadString(string_id::kSentWord);
    case HistoryState::kFailed:
      return LoadString(string_id::kFailedWord);
    case HistoryState::kDelivered:
      return LoadString(string_id::kDeliveredWord);
    case HistoryState::kUndelivered:
      return LoadString(string_id::kUndeliveredWord);
    case HistoryState::kRefused:
      break;
  }
  return LoadString(string_id::kRefusedWord);
}

std::string SendHistory::FormatLine(const HistoryEntry& entry) const {
  std::string line;
  line.reserve(128 + entry.text.size() * 3 / 2);
  AppendField(line, entry.queuedAt != 0 ? formatTime_(entry.queuedAt) : std::string());
  line.push_back(',');
  AppendField(line, entry.endedAt != 0 ? formatTime_(entry.endedAt) : std::string());
  line.push_back(',');
  AppendCsvNumber(line, entry.number);
  line.push_back(',');
  AppendText(line, entry.name);
  line.push_back(',');
  AppendText(line, entry.origin);
  line.push_back(',');
  AppendText(line, entry.text);
  line.push_back(',');
  line += std::to_string(entry.attempts);
  line.push_back(',');
  AppendText(line, entry.reference);
  line.push_back(',');
  AppendText(line, StateWord(entry.state));
  line.push_back(',');
  AppendText(line, entry.reason);
  line.push_back(',');
  line += StateCode(entry.state);
  line += "\r\n";
  return line;
}

void AppendCsvText(std::string& line, std::string_view cp936) {
  AppendText(line, cp936);
}

void AppendCsvNumber(std::string& line, std::string_view number) {
  if (IsAllDigits(number)) {
    // A formula that yields the text keeps the leading digits and shows no exponent.
    line += "=\"";
    line += number;
    line += "\"";
  } else {
    AppendText(line, number);
  }
}

std::vector<std::string> SplitCsvLine(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back().push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back().push_back(c);
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c != '\r' && c != '\n') {
      fields.back().push_back(c);
    }
  }
  return fields;
}

}  // namespace pagorin

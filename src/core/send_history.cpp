#include "core/send_history.h"

#include "platform/code_page.h"
#include "platform/local_time.h"
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

// One field, quoted when it holds a separator, a quote or a line break; a text that a
// spreadsheet would take for a formula is defused with a leading apostrophe.
void AppendField(std::string& line, std::string_view utf8) {
  std::string field;
  if (!utf8.empty() && (utf8[0] == '=' || utf8[0] == '+' || utf8[0] == '-' || utf8[0] == '@')) {
    field.push_back('\'');
  }
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

}  // namespace

SendHistory::SendHistory(std::uint64_t maxFileBytes, int files, TimeFormatter formatTime) noexcept
    : maxFileBytes_(maxFileBytes),
      files_(files < 1 ? 1 : files),
      formatTime_(formatTime != nullptr ? formatTime : &platform::FormatLocalTime) {}

bool SendHistory::Open(const std::string& folder) noexcept {
  try {
    folder_ = folder;
    std::string error;
    if (!file_.Open(FilePath(0), error)) return false;
    size_ = file_.Size();
    if (size_ == 0) {
      const std::string heading = FileHeading();
      if (!file_.Append(heading, error)) return false;
      size_ = heading.size();
    }
    return true;
  } catch (...) {
    file_.Close();
    return false;
  }
}

bool SendHistory::Append(const HistoryEntry& entry) noexcept {
  try {
    const std::string line = FormatLine(entry);
    if (!file_.IsOpen()) return false;
    if (size_ + line.size() > maxFileBytes_ && size_ > FileHeading().size()) {
      if (!Rotate()) return false;
    }
    std::string error;
    if (!file_.Append(line, error)) return false;
    size_ += line.size();
    return true;
  } catch (...) {
    return false;
  }
}

bool SendHistory::Rotate() noexcept {
  try {
    file_.Close();
    // The oldest goes; each other one moves up one place; the current one becomes the first.
    platform::RemoveFile(FilePath(files_ - 1));
    for (int generation = files_ - 2; generation >= 0; --generation)
      platform::RenameFile(FilePath(generation), FilePath(generation + 1));
    if (files_ == 1) platform::RemoveFile(FilePath(0));
    return Open(folder_);
  } catch (...) {
    return false;
  }
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
  std::string_view name = kFileName;
  if (generation == 0) return path.append(name);
  const std::string_view stem = name.substr(0, name.size() - 4);  // without ".csv"
  return path.append(stem).append(".").append(std::to_string(generation)).append(".csv");
}

std::string SendHistory::FileHeading() {
  std::string heading(kByteOrderMark);
  heading += platform::Cp936ToUtf8(LoadString(string_id::kHistoryHeading));
  heading += "\r\n";
  return heading;
}

const std::string& SendHistory::StateWord(HistoryState state) noexcept {
  switch (state) {
    case HistoryState::kSent:
      return LoadString(string_id::kSentWord);
    case HistoryState::kFailed:
      return LoadString(string_id::kFailedWord);
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
  if (IsAllDigits(entry.number)) {
    // A formula that yields the text keeps the leading digits and shows no exponent.
    line += "=\"" + entry.number + "\"";
  } else {
    AppendText(line, entry.number);
  }
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
  line += "\r\n";
  return line;
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

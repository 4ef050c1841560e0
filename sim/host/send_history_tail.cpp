#include "send_history_tail.h"

#include <filesystem>

#include "sim_os.h"

namespace pagorin::sim {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The fields of one record: quoted fields may hold commas, doubled quotes and line breaks.
std::vector<std::string> SplitFields(std::string_view record) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < record.size(); ++i) {
    const char c = record[i];
    if (quoted && c == '"' && i + 1 < record.size() && record[i + 1] == '"') {
      fields.back().push_back('"');
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      fields.emplace_back();
    } else if (quoted || (c != '\r' && c != '\n')) {
      fields.back().push_back(c);
    }
  }
  return fields;
}

// A field without the apostrophe that keeps a spreadsheet from taking it for a formula.
std::string Plain(std::string_view field) {
  if (field.size() >= 2 && field[0] == '\'' &&
      (field[1] == '=' || field[1] == '+' || field[1] == '-' || field[1] == '@')) {
    field.remove_prefix(1);
  }
  return std::string(field);
}

std::uint64_t FileSize(const std::string& path) {
  std::error_code missing;
  const std::uintmax_t size = std::filesystem::file_size(path, missing);
  return missing ? 0 : static_cast<std::uint64_t>(size);
}

}  // namespace

bool ParseHistoryRecord(std::string_view record, HistoryLine& line) {
  if (record.starts_with(kByteOrderMark)) return false;  // the heading
  const std::vector<std::string> fields = SplitFields(record);
  if (fields.size() < 10) return false;
  HistoryLine read;
  read.queued = fields[0];
  read.ended = fields[1];
  std::string_view number = fields[2];
  // Numbers are written as ="13800138000" so that they stay text.
  if (number.starts_with("=")) number.remove_prefix(1);
  read.number = Plain(number);
  read.name = Plain(fields[3]);
  read.origin = Plain(fields[4]);
  read.text = Plain(fields[5]);
  for (char c : fields[6]) {
    if (c < '0' || c > '9' || read.attempts > 1000000) break;
    read.attempts = read.attempts * 10 + (c - '0');
  }
  read.reference = Plain(fields[7]);
  read.stateWord = Plain(fields[8]);
  read.state = read.stateWord == "已发送"     ? "sent"
               : read.stateWord == "发送失败" ? "failed"
               : read.stateWord == "已拒绝"   ? "refused"
               : read.stateWord == "已送达"   ? "delivered"
               : read.stateWord == "未送达"   ? "undelivered"
                                              : "unknown";
  read.reason = Plain(fields[9]);
  line = std::move(read);
  return true;
}

int SendHistoryTail::Start(const std::string& folder) {
  folder_ = folder;
  pending_.clear();
  offset_ = 0;
  counts_ = {};
  // Count what is there, then follow from its end.
  int earlier = 0;
  for (const HistoryLine& line : NewLines()) {
    (void)line;
    ++earlier;
  }
  counts_ = {};
  return earlier;
}

bool SendHistoryTail::ReadFrom(const std::string& path, std::uint64_t offset) {
  const long long read = os::ReadFrom(path, offset, pending_);
  if (read < 0) return false;
  offset_ = offset + static_cast<std::uint64_t>(read);
  return true;
}

std::vector<HistoryLine> SendHistoryTail::NewLines() {
  std::vector<HistoryLine> lines;
  if (folder_.empty()) return lines;
  const std::string current = folder_ + "/" + std::string(kFileName);
  if (FileSize(current) < offset_) {
    // Rotated: the rest of the file that was followed is now the first rotated one.
    ReadFrom(folder_ + "/" + std::string(kFirstRotatedName), offset_);
    offset_ = 0;
  }
  ReadFrom(current, offset_);
  // Records end at a line break outside quotes.
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (pending_[i] == '"') quoted = !quoted;
    if (quoted || pending_[i] != '\n') continue;
    HistoryLine line;
    if (ParseHistoryRecord(std::string_view(pending_).substr(start, i + 1 - start), line)) {
      if (line.state == "sent") ++counts_.sent;
      if (line.state == "failed") ++counts_.failed;
      if (line.state == "refused") ++counts_.refused;
      lines.push_back(std::move(line));
    }
    start = i + 1;
  }
  pending_.erase(0, start);
  return lines;
}

}  // namespace pagorin::sim

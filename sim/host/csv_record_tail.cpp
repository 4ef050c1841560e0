#include "csv_record_tail.h"

#include <filesystem>

#include "sim_os.h"

namespace pagorin::sim {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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

bool IsCsvHeading(std::string_view record) noexcept {
  return record.starts_with(kByteOrderMark);
}

std::vector<std::string> SplitCsvRecord(std::string_view record) {
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
  for (std::string& field : fields)
    field = Plain(field);
  return fields;
}

std::string CsvNumber(std::string_view field) {
  if (field.starts_with("=")) field.remove_prefix(1);
  return Plain(field);
}

void CsvRecordTail::Start(const std::string& folder) {
  folder_ = folder;
  pending_.clear();
  offset_ = 0;
}

bool CsvRecordTail::ReadFrom(const std::string& path, std::uint64_t offset) {
  const long long read = os::ReadFrom(path, offset, pending_);
  if (read < 0) return false;
  offset_ = offset + static_cast<std::uint64_t>(read);
  return true;
}

std::vector<std::string> CsvRecordTail::NewRecords() {
  std::vector<std::string> records;
  if (folder_.empty()) return records;
  const std::string current = folder_ + "/" + fileName_;
  if (FileSize(current) < offset_) {
    // Rotated: the rest of the file that was followed is now the first rotated one.
    ReadFrom(folder_ + "/" + firstRotatedName_, offset_);
    offset_ = 0;
  }
  ReadFrom(current, offset_);
  // Records end at a line break outside quotes.
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (pending_[i] == '"') quoted = !quoted;
    if (quoted || pending_[i] != '\n') continue;
    records.push_back(pending_.substr(start, i + 1 - start));
    start = i + 1;
  }
  pending_.erase(0, start);
  return records;
}

}  // namespace pagorin::sim

// A CSV record that the plug-in keeps in the project folder (UTF-8, its heading led by a
// byte-order mark, one record per line unless a quoted text holds line breaks), read as it grows,
// rotation included: the send history and the record of received messages share this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pagorin::sim {

class CsvRecordTail {
 public:
  // `fileName` is the current file; `firstRotatedName` the name it has after one rotation.
  CsvRecordTail(std::string_view fileName, std::string_view firstRotatedName)
      : fileName_(fileName), firstRotatedName_(firstRotatedName) {}

  // Follows the file in `folder` from its start (NewRecords then returns what it holds).
  void Start(const std::string& folder);
  // The whole records written since the last call, in order, the heading among them. A file
  // that was rotated meanwhile is read to its end first. None when the file cannot be read.
  std::vector<std::string> NewRecords();

 private:
  // Reads `path` from `offset` to its end into pending_; false when it cannot be read.
  bool ReadFrom(const std::string& path, std::uint64_t offset);

  std::string fileName_, firstRotatedName_;
  std::string folder_;
  std::uint64_t offset_ = 0;  // bytes of the current file already read
  std::string pending_;       // bytes read that do not end a record yet
};

// True for the heading of such a file (it starts with the byte-order mark).
bool IsCsvHeading(std::string_view record) noexcept;
// The fields of one record: quoted fields may hold commas, doubled quotes and line breaks; each
// field without the apostrophe that kept a spreadsheet from taking it for a formula.
std::vector<std::string> SplitCsvRecord(std::string_view record);
// A number field written as ="13800138000" (so that it stays text) as the number alone.
std::string CsvNumber(std::string_view field);

}  // namespace pagorin::sim

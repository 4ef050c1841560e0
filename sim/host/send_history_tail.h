// The plug-in's send history as it is written: the CSV file in the project folder that a user
// opens in a spreadsheet (UTF-8 with a byte-order mark, one record per message that ended),
// read as it grows, rotation included, so that the simulator shows each message's fate as the
// plug-in recorded it and counts from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pagorin::sim {

// One message's end as the history records it. Texts are UTF-8, as in the file.
struct HistoryLine {
  std::string queued, ended;  // local times as written
  std::string number, name, origin, text;
  int attempts = 0;
  std::string reference;
  std::string stateWord;  // 已发送, 发送失败 or 已拒绝
  std::string state;      // "sent", "failed", "refused", or "unknown"
  std::string reason;
};

struct HistoryCounts {
  int sent = 0, failed = 0, refused = 0;
};

class SendHistoryTail {
 public:
  static constexpr std::string_view kFileName = "Pagorin_SendHistory.csv";
  static constexpr std::string_view kFirstRotatedName = "Pagorin_SendHistory.1.csv";

  // Follows the history in `folder` from its present end: what earlier runs wrote is not
  // shown again. Returns the records the file holds already.
  int Start(const std::string& folder);
  // The records written since the last call, in order. A file that was rotated meanwhile is
  // read to its end first.
  std::vector<HistoryLine> NewLines();
  const HistoryCounts& Counts() const noexcept { return counts_; }

 private:
  // Reads `path` from `offset` to its end into pending_; false when it cannot be read.
  bool ReadFrom(const std::string& path, std::uint64_t offset);

  std::string folder_;
  std::uint64_t offset_ = 0;  // bytes of the current file already read
  std::string pending_;       // bytes read that do not end a record yet
  HistoryCounts counts_;
};

// One record of the history file (a line, or more when a quoted text holds line breaks);
// false for the heading or a record that is not a message's. Exposed for the tests.
bool ParseHistoryRecord(std::string_view record, HistoryLine& line);

}  // namespace pagorin::sim

// The plug-in's send history as it is written: the CSV file in the project folder that a user
// opens in a spreadsheet (UTF-8 with a byte-order mark, one record per message that ended),
// read as it grows, rotation included, so that the simulator shows each message's fate as the
// plug-in recorded it and counts from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "csv_record_tail.h"

namespace pagorin::sim {

// One message's end as the history records it. Texts are UTF-8, as in the file.
struct HistoryLine {
  std::string queued, ended;  // local times as written
  std::string number, name, origin, text;
  int attempts = 0;
  std::string reference;
  std::string stateWord;  // 已发送, 发送失败, 已拒绝, or a report's 已送达 or 未送达
  std::string state;      // "sent", "failed", "refused", "delivered", "undelivered", "unknown"
  std::string reason;
};

// The messages' ends, and the verdicts of their status reports (lines of their own).
struct HistoryCounts {
  int sent = 0, failed = 0, refused = 0;
  int delivered = 0, undelivered = 0;
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
  CsvRecordTail file_{kFileName, kFirstRotatedName};
  HistoryCounts counts_;
};

// One record of the history file (a line, or more when a quoted text holds line breaks);
// false for the heading or a record that is not a message's. Exposed for the tests.
bool ParseHistoryRecord(std::string_view record, HistoryLine& line);

}  // namespace pagorin::sim

#include "send_history_tail.h"

namespace pagorin::sim {

bool ParseHistoryRecord(std::string_view record, HistoryLine& line) {
  if (IsCsvHeading(record)) return false;
  const std::vector<std::string> fields = SplitCsvRecord(record);
  if (fields.size() < 10) return false;
  HistoryLine read;
  read.queued = fields[0];
  read.ended = fields[1];
  read.number = CsvNumber(fields[2]);
  read.name = fields[3];
  read.origin = fields[4];
  read.text = fields[5];
  for (char c : fields[6]) {
    if (c < '0' || c > '9' || read.attempts > 1000000) break;
    read.attempts = read.attempts * 10 + (c - '0');
  }
  read.reference = fields[7];
  read.stateWord = fields[8];
  read.state = read.stateWord == "已发送"     ? "sent"
               : read.stateWord == "发送失败" ? "failed"
               : read.stateWord == "已拒绝"   ? "refused"
               : read.stateWord == "已送达"   ? "delivered"
               : read.stateWord == "未送达"   ? "undelivered"
                                              : "unknown";
  read.reason = fields[9];
  // The module's own code for the state, where the line has one.
  if (fields.size() > 10 && !fields[10].empty()) read.state = fields[10];
  line = std::move(read);
  return true;
}

int SendHistoryTail::Start(const std::string& folder) {
  file_.Start(folder);
  // Count what is there, then follow from its end.
  const int earlier = static_cast<int>(NewLines().size());
  counts_ = {};
  return earlier;
}

std::vector<HistoryLine> SendHistoryTail::NewLines() {
  std::vector<HistoryLine> lines;
  for (const std::string& record : file_.NewRecords()) {
    HistoryLine line;
    if (!ParseHistoryRecord(record, line)) continue;
    if (line.state == "sent") ++counts_.sent;
    if (line.state == "failed") ++counts_.failed;
    if (line.state == "refused") ++counts_.refused;
    if (line.state == "delivered") ++counts_.delivered;
    if (line.state == "undelivered") ++counts_.undelivered;
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace pagorin::sim

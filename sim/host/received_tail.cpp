#include "received_tail.h"

namespace pagorin::sim {

bool ParseReceivedRecord(std::string_view record, ReceivedLine& line) {
  if (IsCsvHeading(record)) return false;
  std::vector<std::string> fields = SplitCsvRecord(record);
  if (fields.size() < 6) return false;
  ReceivedLine read;
  read.received = std::move(fields[0]);
  read.centreTime = std::move(fields[1]);
  read.number = CsvNumber(fields[2]);
  read.name = std::move(fields[3]);
  read.text = std::move(fields[4]);
  read.stateWord = std::move(fields[5]);
  read.state = read.stateWord == "完整"     ? "complete"
               : read.stateWord == "不完整" ? "incomplete"
               : read.stateWord == "自检"   ? "loop"
                                            : "unknown";
  if (fields.size() > 6 && !fields[6].empty()) read.state = std::move(fields[6]);
  line = std::move(read);
  return true;
}

int ReceivedTail::Start(const std::string& folder) {
  file_.Start(folder);
  const int earlier = static_cast<int>(NewLines().size());
  counts_ = {};
  return earlier;
}

std::vector<ReceivedLine> ReceivedTail::NewLines() {
  std::vector<ReceivedLine> lines;
  for (const std::string& record : file_.NewRecords()) {
    ReceivedLine line;
    if (!ParseReceivedRecord(record, line)) continue;
    ++counts_.messages;
    if (line.state == "incomplete") ++counts_.incomplete;
    if (line.state == "loop") ++counts_.loop;
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace pagorin::sim

// The plug-in's record of the messages it received (Pagorin_Received.csv in the project folder,
// the send history's conventions), read as it grows, so that the simulator shows each message as
// the plug-in recorded it: whole, incomplete, or its own loop test come back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "csv_record_tail.h"

namespace pagorin::sim {

// One received message as the record holds it. Texts are UTF-8, as in the file.
struct ReceivedLine {
  std::string received;    // local receive time as written
  std::string centreTime;  // the service centre's time stamp, local time; may be empty
  std::string number;      // the sender as the message gave it, e.g. "+8613912345678"
  std::string name;        // the phone book's description of the sender; empty when unknown
  std::string text;        // the parts joined
  std::string stateWord;   // 完整, 不完整 or 自检
  std::string state;       // "complete", "incomplete", "loop" or "unknown"
};

struct ReceivedCounts {
  int messages = 0, incomplete = 0, loop = 0;
};

class ReceivedTail {
 public:
  static constexpr std::string_view kFileName = "Pagorin_Received.csv";
  static constexpr std::string_view kFirstRotatedName = "Pagorin_Received.1.csv";

  // Follows the record in `folder` from its present end; returns the lines it holds already.
  int Start(const std::string& folder);
  // The lines written since the last call, in order.
  std::vector<ReceivedLine> NewLines();
  const ReceivedCounts& Counts() const noexcept { return counts_; }

 private:
  CsvRecordTail file_{kFileName, kFirstRotatedName};
  ReceivedCounts counts_;
};

// One record of the file; false for the heading or a record too short to be a message's.
bool ParseReceivedRecord(std::string_view record, ReceivedLine& line);

}  // namespace pagorin::sim

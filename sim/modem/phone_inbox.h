// What the phone makes of the messages the modem accepted: a single SMS is shown as it is, and
// the parts of a concatenated SMS are held until the last one arrives and then shown as one
// message, in part order, whatever order they came in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "at_interpreter.h"

namespace pagorin::sim {

// One message as the phone shows it.
struct ShownMessage {
  std::string destination;
  std::string text;      // UTF-8; a concatenated message's parts joined
  std::string alphabet;  // "GSM7", "8bit", "UCS2" or "text"
  std::string validity;  // of the first part
  int parts = 1;         // 1 for a single SMS, else the part count of the concatenation
  int received = 1;      // parts that arrived (below `parts` only for an incomplete message)
  std::uint16_t concatReference = 0;
  std::vector<int> references;  // the modem's references of the parts, in part order
  bool Complete() const { return received == parts; }
};

class PhoneInbox {
 public:
  // Parts of at most this many concatenated messages wait at once; the oldest beyond it is shown
  // incomplete, as a phone gives up on a message whose parts never come.
  static constexpr std::size_t kMaxWaiting = 64;

  // Takes one accepted SMS; returns the messages it makes whole (none while parts are missing).
  // Never throws except std::bad_alloc.
  std::vector<ShownMessage> Take(const AcceptedMessage& message);
  // The messages still waiting for parts, shown with what arrived; the inbox is empty after.
  std::vector<ShownMessage> TakeIncomplete();
  std::size_t WaitingCount() const { return waiting_.size(); }

 private:
  struct Waiting {
    std::string destination;
    std::uint16_t reference = 0;
    bool sixteenBit = false;
    std::vector<AcceptedMessage> parts;  // by part number - 1
    std::vector<bool> present;           // which of them arrived
  };
  static ShownMessage Join(const Waiting& waiting);

  std::deque<Waiting> waiting_;  // oldest first
};

// One JSON line (without the line end) for a message the phone shows joined from parts: number,
// text, alphabet, parts, parts received, the concatenation reference and the modem references,
// "joined": true, and `timestamp`.
std::string FormatShownLogLine(const ShownMessage& message, std::string_view timestamp);

// "SMS to +8613800138000: 泵站停机 (UCS2, 3 parts joined, valid 10 min, refs 4,5,6)".
std::string FormatShownSummary(const ShownMessage& message);

}  // namespace pagorin::sim

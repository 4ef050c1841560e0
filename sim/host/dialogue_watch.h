// The watch on the AT dialogue between the plug-in and the modem: it shows each command and
// reply, reads each message piece from the PDU the plug-in wrote, tells an attempt that went out
// from one that failed, and shows what the modem handed to a phone. A message is never dropped by
// failed attempts: the plug-in tries it again later.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "event_log.h"
#include "expectations.h"
#include "modem_lines.h"
#include "run_summary.h"

namespace pagorin::sim {

// One message piece the modem accepted (its final OK after the PDU), as read from the PDU.
struct SentPiece {
  std::string number;  // the destination as written, "+86..."
  std::string text;    // UTF-8
  int part = 0;        // 1-based place in a concatenated message; 0 for a message on its own
  int parts = 0;
};

class DialogueWatch {
 public:
  explicit DialogueWatch(EventLog& log) : log_(log) {}

  // One line of the transcript, seen at simulated time `nowMs`.
  void Transcript(const TranscriptLine& line, std::uint64_t nowMs);
  // One line of the modem simulator's log (a JSON object): an accepted message, or a storage
  // event (a line with "event"), which is not counted as delivered.
  void Delivered(const std::string& jsonLine, std::uint64_t nowMs);
  // At the end of a run: an attempt that got no reply in time counts as a time-out.
  void Close(std::uint64_t nowMs);

  // True when no message is under way and the line was silent for two simulated seconds.
  bool Quiet(std::uint64_t nowMs) const noexcept {
    return !dialogueOpen_ && nowMs - lastActivityMs_ >= 2000;
  }
  const DialogueCounts& Counts() const noexcept { return counts_; }
  // The pieces the modem accepted, in the order it accepted them.
  const std::vector<SentPiece>& Sent() const noexcept { return sent_; }
  // The messages as the phones show them, in the modem log's order: each message on its own and
  // each concatenated one once, joined (its parts are not repeated).
  const std::vector<ShownMessage>& Shown() const noexcept { return shown_; }

 private:
  EventLog& log_;
  DialogueCounts counts_;
  bool dialogueOpen_ = false;
  bool pduWritten_ = false;
  int failedAttempts_ = 0;
  std::uint64_t lastCommandMs_ = 0;
  std::string lastCommandText_;
  std::uint64_t lastActivityMs_ = 0;
  int announcedOctets_ = -1;  // from the last AT+CMGS
  bool havePiece_ = false;    // `piece_` is the PDU written last, not yet accepted
  SentPiece piece_;
  std::vector<SentPiece> sent_;
  std::vector<ShownMessage> shown_;
  void ReadPdu(const std::string& line);
  // A line of the modem's log about its message storage: a phone's reply, a report, a message
  // read or deleted.
  void Stored(const nlohmann::json& line);
  // The attempt under way got no usable reply: counted, and said.
  void FailAttempt();
};

}  // namespace pagorin::sim

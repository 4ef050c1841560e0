// The watch on the AT dialogue between the plug-in and the modem: it shows each command and
// reply, tells a message that went out from one that failed or was dropped, and shows what the
// modem handed to a phone.
#pragma once

#include <cstdint>
#include <string>

#include "event_log.h"
#include "modem_link.h"
#include "run_summary.h"

namespace pagorin::sim {

class DialogueWatch {
 public:
  explicit DialogueWatch(EventLog& log) : log_(log) {}

  // One line of the transcript, seen at simulated time `nowMs`.
  void Transcript(const TranscriptLine& line, std::uint64_t nowMs);
  // One line of the modem simulator's log of accepted messages (a JSON object).
  void Delivered(const std::string& jsonLine, std::uint64_t nowMs);
  // At the end of a run: a message whose third attempt got no reply in time counts as dropped.
  void Close(std::uint64_t nowMs);

  // True when no message is under way and the line was silent for two simulated seconds.
  bool Quiet(std::uint64_t nowMs) const noexcept {
    return !dialogueOpen_ && nowMs - lastActivityMs_ >= 2000;
  }
  const DialogueCounts& Counts() const noexcept { return counts_; }

 private:
  EventLog& log_;
  DialogueCounts counts_;
  bool dialogueOpen_ = false;
  bool pduWritten_ = false;
  int consecutiveTimeouts_ = 0;
  std::uint64_t lastCommandMs_ = 0;
  std::string lastCommandText_;
  std::uint64_t lastActivityMs_ = 0;
};

}  // namespace pagorin::sim

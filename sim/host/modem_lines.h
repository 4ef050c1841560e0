// What the host simulator sees of the modem: the lines of the AT dialogue on the plug-in's
// port, and the modem simulator's log of the messages it accepted.
#pragma once

#include <string>
#include <vector>

namespace pagorin::sim {

struct TranscriptLine {
  bool fromPlugin;   // true: a command the plug-in wrote; false: what the modem answered
  std::string text;  // printable: control bytes as <CR>, <LF>, <Ctrl-Z>, <ESC>
};

// Reads the complete lines that were appended to a file since the last call.
class LogTail {
 public:
  explicit LogTail(std::string path = {}) : path_(std::move(path)) {}
  void Reset(std::string path) {
    path_ = std::move(path);
    offset_ = 0;
    partial_.clear();
  }
  std::vector<std::string> NewLines();

 private:
  std::string path_;
  long long offset_ = 0;
  std::string partial_;
};

// The road between the plug-in's port and a modem that the host runs and watches itself (the
// modem simulator behind a relay that writes down the dialogue). Where the plug-in opens the
// port of a modem on its own there is none.
class ModemRoad {
 public:
  virtual ~ModemRoad() = default;
  // Moves what waits in either direction, waiting at most `waitMs` for something to arrive,
  // and appends the completed transcript lines.
  virtual void Pump(int waitMs, std::vector<TranscriptLine>& lines) = 0;
  // True while the modem owes a reply or the plug-in has one to read (see SerialRelay::Busy).
  virtual bool Busy(int graceMs) const = 0;
  // True while a command waits for its reply, for at most `graceMs` of real time.
  virtual bool AwaitingReply(int graceMs) const = 0;
  // Ends the modem.
  virtual void Stop() = 0;
};

}  // namespace pagorin::sim

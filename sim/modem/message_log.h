// The simulator's record of what it was sent and what it stored: one JSON line each, appended to
// a file that a test or a host simulator reads while the modem runs.
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace pagorin::sim {

class MessageLog {
 public:
  // Opens `path` for appending, creating it; an empty path keeps no log. False with a line on
  // stderr when the file cannot be opened.
  bool Open(const std::string& path);
  // Appends `line` and a line end in one write, so that a reader never sees half a record; a
  // failed write is told on stderr. Does nothing without a log.
  void Append(const std::string& line);

 private:
  pagorin::platform::UniqueFd fd_;
};

}  // namespace pagorin::sim

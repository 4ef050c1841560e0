// The modem's own time: real time since the start, or the clock a host simulator shares through a
// file, so that the modem's spans pass in simulated time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace pagorin::sim {

class ModemClock {
 public:
  // Starts at 0 on the real clock.
  ModemClock();
  ~ModemClock();
  ModemClock(const ModemClock&) = delete;
  ModemClock& operator=(const ModemClock&) = delete;

  // Reads the time from now on from `path` (8 bytes, the milliseconds as an unsigned number in
  // the machine's byte order, updated in place). False with a line on stderr when the file cannot
  // be opened or mapped or is shorter than 8 bytes; the clock stays as it was.
  bool Share(const std::string& path);
  // True once a clock file is shared.
  bool Shared() const { return shared_ != nullptr; }

  // Milliseconds on the modem's clock; never negative.
  std::int64_t NowMs() const;

 private:
  std::chrono::steady_clock::time_point start_;
  std::uint64_t* shared_ = nullptr;
};

}  // namespace pagorin::sim

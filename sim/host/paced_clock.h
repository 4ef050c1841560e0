// The simulated clock: milliseconds that the plug-in reads as its tick count, paced against real
// time at a chosen rate, and never faster than real time while the road is busy (the modem owes
// a reply, or the plug-in's threads are at work).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pagorin::sim {

// The simulated millisecond tick count that the plug-in reads as its clock.
std::uint32_t SimTicks() noexcept;

class PacedClock {
 public:
  // Microseconds of a monotonic real clock.
  using RealClock = std::function<std::int64_t()>;
  // Waits for what the modem sends, at most `waitMs` of real time (0: only what is there).
  using Pump = std::function<void(int waitMs)>;

  explicit PacedClock(RealClock realClock = {});
  ~PacedClock();
  PacedClock(const PacedClock&) = delete;
  PacedClock& operator=(const PacedClock&) = delete;

  // Also publishes the simulated milliseconds in the file `path` (8 bytes, native byte order,
  // one atomic store per step), for a modem simulator whose own spans run on simulated time.
  // False (with the reason) when the file cannot be made.
  bool ShareThrough(const std::string& path, std::string& error);

  // `speed`: simulated seconds per real second; 0 runs as fast as the modem allows.
  void SetSpeed(double speed) noexcept { speed_ = speed; }
  // A real modem: time always runs at real speed.
  void SetRealTime(bool realTime) noexcept { realTime_ = realTime; }
  // While the plug-in closes: real speed, and a stop request no longer cuts the pacing short, so
  // that the modem's last reply comes in its time (the plug-in bounds that wait itself).
  void SetClosing(bool closing) noexcept { closing_ = closing; }

  std::uint64_t Ms() const noexcept { return simMs_; }
  double Seconds() const noexcept { return static_cast<double>(simMs_) / 1000.0; }

  // Starts the plug-in's tick count at zero.
  void Reset() noexcept;

  // Moves simulated time on by `stepMs` (by at most `busyStepMs`, at most at real speed, when
  // `modemBusy`), pumping the modem while the real time that the step takes goes by.
  void Advance(int stepMs, bool modemBusy, int busyStepMs, const Pump& pump);

 private:
  RealClock realClock_;
  std::uint64_t simMs_ = 0;
  double speed_ = 0;
  bool realTime_ = false;
  bool closing_ = false;
  std::uint64_t anchorSimMs_ = 0;
  double anchorRate_ = -1;
  std::int64_t anchorRealUs_ = 0;
  std::uint64_t* shared_ = nullptr;  // the shared file's mapping, when there is one

  void Publish() noexcept;
  // Gives back a view of the shared file (null: none).
  static void Unmap(std::uint64_t* view) noexcept;
};

}  // namespace pagorin::sim

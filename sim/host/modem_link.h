// The road from the plug-in's serial port to a modem: the modem simulator as a child process,
// a pseudo-terminal pair that the plug-in opens as its COM port, and a relay between the two
// that writes down every command and reply and knows when a reply is still awaited.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "child_process.h"
#include "modem_lines.h"
#include "platform/unique_fd.h"

namespace pagorin::sim {

// gsm-modem-sim, started on a pseudo-terminal of its own, logging what it accepted.
class ModemProcess {
 public:
  ModemProcess() = default;
  ~ModemProcess();
  ModemProcess(const ModemProcess&) = delete;
  ModemProcess& operator=(const ModemProcess&) = delete;

  // Starts `program` with --port-file and --log in `workDir` plus `extraArgs`, and waits up to
  // five seconds for it to name its port. False (with the reason) on failure.
  bool Start(const std::string& program, const std::vector<std::string>& extraArgs,
             const std::string& workDir, const std::string& logPath, std::string& error);
  const std::string& PortPath() const noexcept { return portPath_; }
  const std::string& LogPath() const noexcept { return logPath_; }
  // Ends the process (SIGTERM, then SIGKILL after a second) and reaps it.
  void Stop();

 private:
  ChildProcess child_;
  std::string portPath_;
  std::string logPath_;
};

class SerialRelay {
 public:
  SerialRelay() = default;
  ~SerialRelay();
  SerialRelay(const SerialRelay&) = delete;
  SerialRelay& operator=(const SerialRelay&) = delete;

  // Creates the pseudo-terminal that the plug-in opens and connects it to the device at
  // `modemDevice`. With `pluginLink`, the plug-in opens that symbolic link to the terminal
  // instead. When `modemDevice` is itself a link (a modem that can be unplugged) and its terminal
  // hangs up, the plug-in's terminal closes too, and once the link names a live terminal again a
  // new one appears behind `pluginLink`, as a USB adapter comes back under its name. False (with
  // the reason) on failure.
  bool Open(const std::string& modemDevice, std::string& error, const std::string& pluginLink = {});
  // The device path the plug-in opens.
  const std::string& PluginSidePath() const noexcept {
    return pluginLink_.empty() ? pluginPath_ : pluginLink_;
  }

  // Moves what is waiting in either direction, waiting at most `waitMs` for something to
  // arrive, and appends the completed transcript lines.
  void Pump(int waitMs, std::vector<TranscriptLine>& lines);

  // True while a command waits for its reply, for at most `graceMs` of real time after it was
  // written, while replies wait unread on the plug-in's side, and shortly after reply bytes came
  // in (so that the plug-in's reader sees them).
  bool Busy(int graceMs) const;
  // True while a command waits for its reply, for at most `graceMs` of real time.
  bool AwaitingReply(int graceMs) const;

  std::uint64_t CommandsRelayed() const noexcept { return commands_; }

 private:
  using Clock = std::chrono::steady_clock;
  void FromPlugin(const char* data, std::size_t size, std::vector<TranscriptLine>& lines);
  void FromModem(const char* data, std::size_t size, std::vector<TranscriptLine>& lines);
  bool OpenPluginSide(std::string& error);
  // True while bytes written to the plug-in's terminal wait there unread.
  bool PluginHasUnread() const noexcept;
  bool OpenModemSide(std::string& error);
  void Unplug();
  void TryReplug(int waitMs);

  platform::UniqueFd master_;     // our side of the plug-in's pseudo-terminal
  platform::UniqueFd slaveHold_;  // keeps the plug-in's side open, so a close there never hangs
                                  // us up
  platform::UniqueFd modem_;      // the modem's device
  std::string pluginPath_;
  std::string pluginLink_;
  std::string modemDevice_;
  bool replugs_ = false;    // the modem's device is a link that can come back
  bool unplugged_ = false;  // both sides closed until the modem's link names a terminal again
  std::string txLine_;
  std::string rxLine_;
  std::string rxSinceCommand_;
  bool awaiting_ = false;
  Clock::time_point commandTime_{};
  Clock::time_point lastRx_{};
  std::uint64_t commands_ = 0;
};

}  // namespace pagorin::sim

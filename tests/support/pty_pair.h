// A pseudo-terminal pair standing in for a serial line: the code under test opens the slave as
// its COM device (through PAGORIN_COM<n>), the test plays the far end on the master.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace pagorin::testing {

using namespace std::chrono_literals;

class PtyPair {
 public:
  // Opens the master and keeps one slave descriptor of its own, so the line stays up while the
  // code under test opens and closes its side. Aborts the test on failure.
  PtyPair();
  // Closes both ends and removes the port mapping it made.
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master() const { return master_.get(); }
  int slaveKeeper() const { return slaveKeeper_.get(); }
  const std::string& slavePath() const { return slavePath_; }

  // Sets PAGORIN_COM<portNumber> to the slave's path.
  void MapToPort(int portNumber);

  // Writes all bytes to the line; false on failure.
  bool Write(std::string_view bytes);
  // Reads what arrives until `terminator` has been read or `limit` has passed; returns the bytes
  // read, the terminator included.
  std::string ReadUntil(char terminator, std::chrono::milliseconds limit = 2000ms);
  // Reads whatever arrives within `limit`.
  std::string ReadFor(std::chrono::milliseconds limit);
  // Bytes written to the line that the slave side has not read yet.
  int PendingForSlave() const;
  // Hangs up the line as an unplugged device would; the slave side then sees hang-up.
  void CloseMaster();

 private:
  platform::UniqueFd master_;
  platform::UniqueFd slaveKeeper_;
  std::string slavePath_;
  std::vector<std::string> mappedVariables_;
};

// Plays a modem on the master side from its own thread: every line received (ending in a
// carriage return) is recorded and handed to the script, whose answer is written back.
class ScriptedPeer {
 public:
  using Script = std::function<std::string(const std::string& line)>;

  ScriptedPeer(PtyPair& pty, Script script);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // Waits until `count` lines have been received and answered; false at `limit`.
  bool WaitForLines(std::size_t count, std::chrono::milliseconds limit = 2000ms);
  std::vector<std::string> lines() const;

 private:
  void Run();

  PtyPair& pty_;
  Script script_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Polls `condition` until it holds or `limit` passes; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 2000ms);

}  // namespace pagorin::testing

// One child program, started with posix_spawn: its output to a file, to a pipe the parent
// reads, or discarded; its input from nothing. The object owns the process: it is ended and
// reaped when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace pagorin::sim {

struct ChildOptions {
  enum class Output { kDiscard, kFile, kPipe, kInherit };
  std::vector<std::string> args;         // the program first
  std::vector<std::string> environment;  // additions, "NAME=value"
  Output output = Output::kInherit;
  std::string outputFile;        // for kFile
  bool mergeErrorOutput = true;  // standard error goes where standard output goes
  std::string errorFile;         // else, when set, standard error goes to this file
  // The child leads a process group of its own, so that Kill ends what it started as well.
  bool ownProcessGroup = false;
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the program; false (with the reason) when it could not be started.
  bool Start(const ChildOptions& options, std::string& error);
  pid_t Pid() const noexcept { return pid_; }
  bool Running() const noexcept { return pid_ > 0; }

  // With a pipe: appends what the child wrote, waiting at most `waitMs` for something. False
  // once the child closed its output (nothing more will come).
  bool ReadOutput(std::string& out, int waitMs);
  // Appends all the child writes until it closes its output or `timeout` passes; false on the
  // time-out.
  bool ReadAllOutput(std::string& out, std::chrono::milliseconds timeout);

  void Signal(int signal) noexcept;
  // Ends the child at once (SIGKILL, as a crash ends a process), with every process of its group
  // when it leads one; reaps it. The exit code, 128 + SIGKILL, or what it ended with before.
  int Kill() noexcept;
  // The exit status once the child ended (reaping it), without waiting.
  std::optional<int> TryWait() noexcept;
  // Waits for the end; the exit code, or 128 plus the signal that ended it.
  int Wait() noexcept;
  // Ends the child: SIGTERM, then SIGKILL after `grace`; reaps it. Nothing when it has ended.
  void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(1000)) noexcept;

 private:
  static int ExitCode(int status) noexcept;
  pid_t pid_ = -1;
  bool groupLeader_ = false;
  platform::UniqueFd output_;  // the read end of the pipe
  std::optional<int> exitCode_;
};

}  // namespace pagorin::sim

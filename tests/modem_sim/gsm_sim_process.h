// Runs the real gsm-modem-sim program for a test: starts it in a temporary folder with a port
// file and a JSON log, opens its pseudo-terminal the way a sender does, and reads answers with a
// bounded wait. Header-only, for the simulator's tests and the end-to-end tests.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "platform/unique_fd.h"
#include "support/temp_dir.h"

namespace pagorin::testing {

class GsmSimProcess {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kPatience{10};

  // Starts the simulator with `options` plus --port-file and --log in a fresh folder.
  explicit GsmSimProcess(std::vector<std::string> options) {
    std::vector<std::string> args = {GSM_MODEM_SIM_PATH, "--port-file", PortFile(), "--log",
                                     LogFile()};
    args.insert(args.end(), options.begin(), options.end());
    Spawn(args);
  }
  ~GsmSimProcess() {
    ClosePort();
    child_.Signal(SIGKILL);
    child_.Wait();
  }
  GsmSimProcess(const GsmSimProcess&) = delete;
  GsmSimProcess& operator=(const GsmSimProcess&) = delete;

  std::string PortFile() const { return folder_.File("port"); }
  std::string LogFile() const { return folder_.File("messages.jsonl"); }
  std::string StdoutText() const { return ReadFileBytes(folder_.File("stdout")); }
  std::string StderrText() const { return ReadFileBytes(folder_.File("stderr")); }

  // The terminal's path, once the simulator has written its port file; empty if it never does.
  std::string WaitForPortPath() {
    auto until = Clock::now() + kPatience;
    while (Clock::now() < until) {
      std::string text = ReadFileBytes(PortFile());
      if (!text.empty() && text.back() == '\n') return text.substr(0, text.size() - 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {};
  }

  // Opens the terminal in raw mode; false when it cannot.
  bool OpenPort() {
    std::string path = WaitForPortPath();
    if (path.empty()) return false;
    port_.Reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!port_.valid()) return false;
    termios settings{};
    ::tcgetattr(port_.get(), &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(port_.get(), TCSANOW, &settings);
    return true;
  }
  void ClosePort() { port_.Reset(); }
  int port() const { return port_.get(); }

  void Send(const std::string& bytes) {
    ASSERT_EQ(::write(port_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads until the text received so far contains `expected`, the simulator hangs up, or the
  // patience runs out. Returns everything read; `reads` counts the reads that returned data.
  std::string ReadUntil(const std::string& expected, int* reads = nullptr) {
    std::string received;
    auto until = Clock::now() + kPatience;
    while (received.find(expected) == std::string::npos && Clock::now() < until) {
      pollfd fd{port_.get(), POLLIN, 0};
      if (::poll(&fd, 1, 100) <= 0) continue;
      char buffer[512];
      ssize_t n = ::read(port_.get(), buffer, sizeof buffer);
      if (n <= 0) {
        hungUp_ = true;
        break;
      }
      if (reads != nullptr) ++*reads;
      received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
  }
  // Sends a command line and reads until `expected` is in the answer.
  std::string Ask(const std::string& bytes, const std::string& expected) {
    Send(bytes);
    return ReadUntil(expected);
  }
  bool HungUp() const { return hungUp_; }

  // Waits for the simulator to end by itself; its exit status, or -1 when it does not end.
  int WaitForExit() {
    auto until = Clock::now() + kPatience;
    while (Clock::now() < until) {
      if (std::optional<int> status = child_.TryWait()) return *status;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }
  // Asks the simulator to stop and returns its exit status.
  int Stop() {
    child_.Signal(SIGTERM);
    return WaitForExit();
  }

  // The JSON log, one element per line.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(LogFile());
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

 private:
  void Spawn(const std::vector<std::string>& args) {
    sim::ChildOptions options;
    options.args = args;
    options.output = sim::ChildOptions::Output::kFile;
    options.outputFile = folder_.File("stdout");
    options.mergeErrorOutput = false;
    options.errorFile = folder_.File("stderr");
    std::string error;
    ASSERT_TRUE(child_.Start(options, error)) << error;
  }

  TempDir folder_;
  sim::ChildProcess child_;
  platform::UniqueFd port_;
  bool hungUp_ = false;
};

}  // namespace pagorin::testing

#include "support/pty_pair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace pagorin::testing {

PtyPair::PtyPair() {
  master_.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master_.valid() || grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0) {
    ADD_FAILURE() << "no pseudo-terminal: errno " << errno;
    return;
  }
  char name[128] = {};
  if (ptsname_r(master_.get(), name, sizeof name) != 0) {
    ADD_FAILURE() << "ptsname_r failed: errno " << errno;
    return;
  }
  slavePath_ = name;
  slaveKeeper_.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!slaveKeeper_.valid()) {
    ADD_FAILURE() << "cannot open " << slavePath_ << ": errno " << errno;
    return;
  }
  // Raw from the start, so nothing the test writes is echoed or edited before the port opens.
  termios settings{};
  if (tcgetattr(slaveKeeper_.get(), &settings) == 0) {
    cfmakeraw(&settings);
    tcsetattr(slaveKeeper_.get(), TCSANOW, &settings);
  }
  fcntl(master_.get(), F_SETFL, fcntl(master_.get(), F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  for (const std::string& variable : mappedVariables_)
    unsetenv(variable.c_str());
  // The slave side goes first: closing the master first would hang it up.
  slaveKeeper_.Reset();
  CloseMaster();
}

void PtyPair::MapToPort(int portNumber) {
  std::string variable = "PAGORIN_COM" + std::to_string(portNumber);
  ASSERT_EQ(setenv(variable.c_str(), slavePath_.c_str(), 1), 0);
  mappedVariables_.push_back(std::move(variable));
}

bool PtyPair::Write(std::string_view bytes) {
  std::size_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (done < bytes.size()) {
    const ssize_t written = ::write(master_.get(), bytes.data() + done, bytes.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd writable{master_.get(), POLLOUT, 0};
      poll(&writable, 1, 10);
    } else {
      return false;
    }
  }
  return true;
}

std::string PtyPair::ReadUntil(char terminator, std::chrono::milliseconds limit) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    char byte = 0;
    const ssize_t count = ::read(master_.get(), &byte, 1);
    if (count == 1) {
      received.push_back(byte);
      if (byte == terminator) return received;
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return received;
    pollfd readable{master_.get(), POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    poll(&readable, 1, static_cast<int>(left.count()) + 1);
  }
}

std::string PtyPair::ReadFor(std::chrono::milliseconds limit) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    char chunk[256];
    const ssize_t count = ::read(master_.get(), chunk, sizeof chunk);
    if (count > 0) {
      received.append(chunk, static_cast<std::size_t>(count));
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return received;
    pollfd readable{master_.get(), POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    poll(&readable, 1, static_cast<int>(left.count()) + 1);
  }
}

int PtyPair::PendingForSlave() const {
  int pending = 0;
  if (!slaveKeeper_.valid() || ioctl(slaveKeeper_.get(), FIONREAD, &pending) != 0) return -1;
  return pending;
}

void PtyPair::CloseMaster() {
  master_.Reset();
}

ScriptedPeer::ScriptedPeer(PtyPair& pty, Script script)
    : pty_(pty), script_(std::move(script)), thread_([this] { Run(); }) {}

ScriptedPeer::~ScriptedPeer() {
  stop_.store(true);
  thread_.join();
}

void ScriptedPeer::Run() {
  std::string pending;
  while (!stop_.load()) {
    pending += pty_.ReadFor(5ms);
    std::size_t end;
    while ((end = pending.find('\r')) != std::string::npos) {
      std::string line = pending.substr(0, end + 1);
      pending.erase(0, end + 1);
      const std::string answer = script_(line);
      if (!answer.empty()) pty_.Write(answer);
      {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
      }
      changed_.notify_all();
    }
  }
}

bool ScriptedPeer::WaitForLines(std::size_t count, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return lines_.size() >= count; });
}

std::vector<std::string> ScriptedPeer::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

}  // namespace pagorin::testing

#include "modem_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/file_io.h"
#include "platform/syscall.h"

namespace pagorin::sim {
namespace {

void MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &tio);
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    switch (c) {
      case '\r':
        out += "<CR>";
        break;
      case '\n':
        out += "<LF>";
        break;
      case 0x1A:
        out += "<Ctrl-Z>";
        break;
      case 0x1B:
        out += "<ESC>";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "<%02X>", static_cast<unsigned char>(c));
          out += hex;
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

}  // namespace

ModemProcess::~ModemProcess() {
  Stop();
}

bool ModemProcess::Start(const std::string& program, const std::vector<std::string>& extraArgs,
                         const std::string& workDir, const std::string& logPath,
                         std::string& error) {
  std::string portFile = workDir + "/modem.port";
  std::string outFile = workDir + "/modem.out";
  unlink(portFile.c_str());
  logPath_ = logPath;
  std::vector<std::string> args = {program, "--port-file", portFile, "--log", logPath};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  ChildOptions child;
  child.args = std::move(args);
  child.output = ChildOptions::Output::kFile;
  child.outputFile = outFile;
  if (!child_.Start(child, error)) return false;
  for (int waited = 0; waited < 5000; waited += 10) {
    std::string text;
    std::string why;
    if (platform::ReadWholeFile(portFile, text, why)) {
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
      }
      struct stat st {};
      if (!text.empty() && stat(text.c_str(), &st) == 0) {
        portPath_ = text;
        return true;
      }
    }
    if (child_.TryWait()) {
      std::string out;
      platform::ReadWholeFile(outFile, out, why);
      error = program + " ended before it named its port";
      if (!out.empty()) error += ": " + out;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  error = program + " did not name its port within 5 seconds";
  Stop();
  return false;
}

void ModemProcess::Stop() {
  child_.Stop();
}

SerialRelay::~SerialRelay() = default;

bool SerialRelay::Open(const std::string& modemDevice, std::string& error,
                       const std::string& pluginLink) {
  modemDevice_ = modemDevice;
  pluginLink_ = pluginLink;
  struct stat info {};
  replugs_ = lstat(modemDevice.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
  return OpenPluginSide(error) && OpenModemSide(error);
}

bool SerialRelay::OpenPluginSide(std::string& error) {
  master_.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master_.valid() || grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0) {
    error = "cannot create a pseudo-terminal: " + platform::ErrorText(errno);
    return false;
  }
  const char* name = ptsname(master_.get());
  if (name == nullptr) {
    error = "cannot name the pseudo-terminal: " + platform::ErrorText(errno);
    return false;
  }
  pluginPath_ = name;
  slaveHold_.Reset(open(pluginPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slaveHold_.valid()) {
    error = "cannot open " + pluginPath_ + ": " + platform::ErrorText(errno);
    return false;
  }
  // Raw from the start: a pseudo-terminal echoes by default, which would bounce the modem's
  // replies back to the modem before the plug-in sets its line up.
  MakeRaw(slaveHold_.get());
  fcntl(master_.get(), F_SETFL, fcntl(master_.get(), F_GETFL) | O_NONBLOCK);
  if (!pluginLink_.empty()) {
    // The name comes back whole: the plug-in finds no link or the new one, never half of one.
    std::string fresh = pluginLink_ + ".new";
    unlink(fresh.c_str());
    if (symlink(pluginPath_.c_str(), fresh.c_str()) != 0 ||
        rename(fresh.c_str(), pluginLink_.c_str()) != 0) {
      error =
          "cannot point " + pluginLink_ + " at " + pluginPath_ + ": " + platform::ErrorText(errno);
      return false;
    }
  }
  return true;
}

bool SerialRelay::OpenModemSide(std::string& error) {
  modem_.Reset(open(modemDevice_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!modem_.valid()) {
    error = "cannot open the modem at " + modemDevice_ + ": " + platform::ErrorText(errno);
    return false;
  }
  MakeRaw(modem_.get());
  return true;
}

void SerialRelay::Unplug() {
  // Closing our side hangs up the plug-in's terminal, as pulling the adapter does. The name goes
  // first, so that it never points at a terminal number that may be handed out again.
  if (!pluginLink_.empty()) unlink(pluginLink_.c_str());
  modem_.Reset();
  master_.Reset();
  slaveHold_.Reset();
  txLine_.clear();
  rxLine_.clear();
  awaiting_ = false;
  unplugged_ = true;
}

void SerialRelay::TryReplug(int waitMs) {
  std::string error;
  if (OpenModemSide(error)) {
    if (OpenPluginSide(error)) {
      unplugged_ = false;
      return;
    }
    modem_.Reset();
    master_.Reset();
    slaveHold_.Reset();
  }
  // Nothing to move meanwhile; the caller's wait passes here.
  poll(nullptr, 0, std::min(waitMs, 20));
}

void SerialRelay::Pump(int waitMs, std::vector<TranscriptLine>& lines) {
  if (unplugged_) {
    TryReplug(waitMs);
    if (unplugged_) return;
  }
  if (!master_.valid()) return;
  pollfd fds[2] = {{master_.get(), POLLIN, 0}, {modem_.get(), POLLIN, 0}};
  nfds_t count = modem_.valid() ? 2 : 1;
  int ready = platform::RetryOnEintr([&] { return poll(fds, count, waitMs); });
  if (ready <= 0) {
    // A prompt ("> ") ends no line: show what came once the modem has paused.
    if (!rxLine_.empty() && Clock::now() - lastRx_ > std::chrono::milliseconds(30)) {
      if (rxLine_.find_first_not_of(' ') != std::string::npos) {
        lines.push_back({false, Printable(rxLine_)});
      }
      rxLine_.clear();
    }
    return;
  }
  char buffer[4096];
  if (fds[0].revents & POLLIN) {
    for (;;) {
      ssize_t n = read(master_.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      FromPlugin(buffer, static_cast<std::size_t>(n), lines);
      if (modem_.valid()) {
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(n)) {
          ssize_t w = write(modem_.get(), buffer + done, static_cast<std::size_t>(n) - done);
          if (w < 0 && errno == EAGAIN) {
            pollfd out{modem_.get(), POLLOUT, 0};
            poll(&out, 1, 100);
            continue;
          }
          if (w <= 0) break;
          done += static_cast<std::size_t>(w);
        }
      }
    }
  }
  // A modem that went away shows as a hang-up, or as readable with nothing but an error to read.
  bool modemGone =
      count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[1].revents & POLLIN);
  if (count == 2 && (fds[1].revents & POLLIN)) {
    for (;;) {
      ssize_t n = read(modem_.get(), buffer, sizeof buffer);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
      if (n <= 0) {
        modemGone = true;
        break;
      }
      FromModem(buffer, static_cast<std::size_t>(n), lines);
      // The plug-in's side takes what it can; a plug-in that stopped reading loses replies.
      ssize_t ignored = write(master_.get(), buffer, static_cast<std::size_t>(n));
      (void)ignored;
    }
  }
  if (modemGone) {
    if (replugs_) {
      Unplug();
    } else {
      // The plug-in now talks to nobody, as with an unplugged cable.
      modem_.Reset();
    }
  }
}

void SerialRelay::FromPlugin(const char* data, std::size_t size,
                             std::vector<TranscriptLine>& lines) {
  if (rxLine_.find_first_not_of(' ') != std::string::npos) {
    lines.push_back({false, Printable(rxLine_)});
  }
  rxLine_.clear();
  for (std::size_t i = 0; i < size; ++i) {
    char c = data[i];
    if (c == '\r' || c == 0x1A) {
      if (c == 0x1A) txLine_.push_back(c);
      if (!txLine_.empty()) {
        lines.push_back({true, Printable(txLine_)});
        txLine_.clear();
        awaiting_ = true;
        commandTime_ = Clock::now();
        rxSinceCommand_.clear();
        ++commands_;
      }
    } else {
      txLine_.push_back(c);
    }
  }
}

void SerialRelay::FromModem(const char* data, std::size_t size,
                            std::vector<TranscriptLine>& lines) {
  lastRx_ = Clock::now();
  rxSinceCommand_.append(data, size);
  if (rxSinceCommand_.size() > 4096) rxSinceCommand_.erase(0, rxSinceCommand_.size() - 4096);
  if (rxSinceCommand_.find("OK") != std::string::npos ||
      rxSinceCommand_.find('>') != std::string::npos ||
      rxSinceCommand_.find("ERROR") != std::string::npos) {
    awaiting_ = false;
  }
  for (std::size_t i = 0; i < size; ++i) {
    char c = data[i];
    if (c == '\n') {
      if (rxLine_.find_first_not_of(' ') != std::string::npos) {
        lines.push_back({false, Printable(rxLine_)});
      }
      rxLine_.clear();
    } else if (c != '\r') {
      rxLine_.push_back(c);
    }
  }
  // The prompt ends no line; show it as soon as it is there, apart from what follows it.
  if (!rxLine_.empty() && rxLine_[0] == '>') {
    lines.push_back({false, Printable(rxLine_)});
    rxLine_.clear();
  }
}

bool SerialRelay::AwaitingReply(int graceMs) const {
  return awaiting_ && Clock::now() - commandTime_ < std::chrono::milliseconds(graceMs);
}

bool SerialRelay::Busy(int graceMs) const {
  auto now = Clock::now();
  if (awaiting_ && now - commandTime_ < std::chrono::milliseconds(graceMs)) return true;
  // Replies the plug-in has not read yet: on a loaded machine its reader may not have run, and
  // simulated time must not run past a reply that already came.
  if (PluginHasUnread()) return true;
  return lastRx_ != Clock::time_point{} && now - lastRx_ < std::chrono::milliseconds(40);
}

bool SerialRelay::PluginHasUnread() const noexcept {
  if (!slaveHold_.valid()) return false;
  int unread = 0;
  return ioctl(slaveHold_.get(), FIONREAD, &unread) == 0 && unread > 0;
}

}  // namespace pagorin::sim

// gsm-modem-sim: a GSM modem on a pseudo-terminal. It prints (or writes to a file) the path of the
// terminal a sender opens, answers the sender's commands as a modem does, decodes every message it
// is handed and records it as a JSON line. Fault options make it misbehave on purpose.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "at_interpreter.h"
#include "platform/file_io.h"
#include "platform/syscall.h"
#include "sms_record.h"

namespace {

using pagorin::sim::Escaped;

using pagorin::platform::ErrorText;
using pagorin::platform::RetryOnEintr;
using pagorin::sim::AtInterpreter;
using Clock = std::chrono::steady_clock;

// While nobody has the terminal open the master reports a hang-up on every poll; it is looked at
// again after this pause instead of being polled in a busy loop.
constexpr int kReopenCheckMs = 50;
// After the last answer before a planned exit, time for the sender to read it.
constexpr int kExitGraceMs = 250;
constexpr std::size_t kMaxPendingOutput = 64 * 1024;

int signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct Settings {
  std::string portFile;
  std::string logFile;
  std::string echo = "on";
  bool silent = false;
  int failMessage = 0;
  int failCode = 500;
  bool dropFinalOk = false;
  std::string unsolicited;
  int byteDelayMs = 0;
  int hangupAfter = 0;
  int exitAfterMessages = 0;
  double timeoutSeconds = 0;
  int firstReference = 0;
  bool trace = false;
};

bool OpenPseudoTerminal(FileDescriptor& master, std::string& slavePath) {
  master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (master.get() < 0 || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
    std::fprintf(stderr, "gsm-modem-sim: cannot create a pseudo-terminal: %s\n",
                 ErrorText(errno).c_str());
    return false;
  }
  char name[256] = {};
  if (::ptsname_r(master.get(), name, sizeof name) != 0) {
    std::fprintf(stderr, "gsm-modem-sim: ptsname: %s\n", ErrorText(errno).c_str());
    return false;
  }
  slavePath = name;
  // Raw line settings from the start, so that the terminal's own line discipline never echoes
  // or translates what passes before the sender has set up the line.
  termios settings{};
  if (::tcgetattr(master.get(), &settings) == 0) {
    ::cfmakeraw(&settings);
    ::tcsetattr(master.get(), TCSANOW, &settings);
  }
  int flags = ::fcntl(master.get(), F_GETFL);
  ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK);
  return true;
}

class MessageLog {
 public:
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    fd_.Reset(RetryOnEintr(
        [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644); }));
    if (fd_.get() < 0) {
      std::fprintf(stderr, "gsm-modem-sim: cannot open the log %s: %s\n", path.c_str(),
                   ErrorText(errno).c_str());
      return false;
    }
    return true;
  }
  // One write per line, so that a reader never sees half a record.
  void Append(const std::string& line) {
    if (fd_.get() < 0) return;
    std::string record = line + "\n";
    ssize_t n = RetryOnEintr([&] { return ::write(fd_.get(), record.data(), record.size()); });
    if (n != static_cast<ssize_t>(record.size())) {
      std::fprintf(stderr, "gsm-modem-sim: log write failed: %s\n", ErrorText(errno).c_str());
    }
  }

 private:
  FileDescriptor fd_;
};

int Run(const Settings& settings) {
  pagorin::sim::ModemBehaviour behaviour;
  behaviour.echo = settings.echo == "on";
  behaviour.failMessage = settings.failMessage;
  behaviour.failCode = settings.failCode;
  behaviour.dropFinalOk = settings.dropFinalOk;
  behaviour.unsolicited = settings.unsolicited;
  behaviour.hangupAfter = settings.hangupAfter;
  behaviour.firstReference = settings.firstReference;
  AtInterpreter modem(behaviour);

  MessageLog log;
  if (!log.Open(settings.logFile)) return 1;

  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  FileDescriptor master;
  std::string slavePath;
  if (!OpenPseudoTerminal(master, slavePath)) return 1;
  if (!settings.portFile.empty()) {
    std::string error;
    if (!pagorin::platform::ReplaceFile(settings.portFile, slavePath + "\n", error)) {
      std::fprintf(stderr, "gsm-modem-sim: cannot write %s: %s\n", settings.portFile.c_str(),
                   error.c_str());
      return 1;
    }
  } else {
    std::printf("%s\n", slavePath.c_str());
  }
  std::fflush(stdout);
  std::fprintf(stderr, "gsm-modem-sim: modem on %s\n", slavePath.c_str());

  // Points in time not yet set are kNever.
  constexpr Clock::time_point kNever = Clock::time_point::max();
  const auto start = Clock::now();
  Clock::time_point deadline = kNever;
  if (settings.timeoutSeconds > 0) {
    deadline = start + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(settings.timeoutSeconds));
  }
  std::string pending;  // answer bytes not yet written
  Clock::time_point nextByte = start;
  Clock::time_point reopenCheck = kNever;  // set while nobody has the terminal open
  Clock::time_point finishAt = kNever;     // set once the last answer before an exit is out
  bool finishing = false;
  const char* exitReason = "stopped";

  for (;;) {
    auto now = Clock::now();
    if (now >= deadline) {
      exitReason = "time-out reached";
      break;
    }
    if (finishing && pending.empty()) {
      if (finishAt == kNever) finishAt = now + std::chrono::milliseconds(kExitGraceMs);
      if (now >= finishAt) break;
    }
    if (now >= reopenCheck) reopenCheck = kNever;

    pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {master.get(), 0, 0}};
    nfds_t count = 1;
    bool wantWrite = !pending.empty() && (settings.byteDelayMs == 0 || now >= nextByte);
    if (reopenCheck == kNever) {
      fds[1].events = static_cast<short>((finishing ? 0 : POLLIN) | (wantWrite ? POLLOUT : 0));
      count = 2;
    }
    Clock::time_point wake = std::min({deadline, reopenCheck, finishAt});
    if (!pending.empty() && settings.byteDelayMs > 0 && now < nextByte) {
      wake = std::min(wake, nextByte);
    }
    int timeoutMs = -1;
    if (wake != kNever) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
      timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
    }
    int ready = ::poll(fds, count, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "gsm-modem-sim: poll: %s\n", ErrorText(errno).c_str());
      return 1;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      exitReason = "signal received";
      break;
    }
    if (count < 2) continue;

    bool hungUp = false;
    if ((fds[1].revents & POLLIN) != 0) {
      char buffer[512];
      ssize_t n = ::read(master.get(), buffer, sizeof buffer);
      if (n > 0) {
        std::string_view received(buffer, static_cast<std::size_t>(n));
        if (settings.trace) std::fprintf(stderr, "rx: %s\n", Escaped(received).c_str());
        std::string answer = modem.Feed(received);
        if (!settings.silent && pending.size() + answer.size() <= kMaxPendingOutput) {
          pending += answer;
        }
        for (const auto& note : modem.TakeNotes()) {
          if (settings.trace || note.kind == AtInterpreter::Note::Kind::kEvent) {
            std::fprintf(stderr, "gsm-modem-sim: %s\n", note.text.c_str());
          }
        }
        for (const auto& message : modem.TakeMessages()) {
          log.Append(pagorin::sim::FormatLogLine(message, pagorin::sim::UtcTimestamp()));
          std::printf("%s\n", pagorin::sim::FormatSummary(message).c_str());
          std::fflush(stdout);
        }
        if (modem.HungUp()) {
          finishing = true;
          exitReason = "hung up";
        }
        if (settings.exitAfterMessages > 0 && modem.AcceptedCount() >= settings.exitAfterMessages) {
          finishing = true;
          exitReason = "message count reached";
        }
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        hungUp = true;  // EIO: the last holder of the terminal closed it
      }
    } else if ((fds[1].revents & (POLLHUP | POLLERR)) != 0) {
      hungUp = true;
    }
    if (!hungUp && (fds[1].revents & POLLOUT) != 0 && !pending.empty()) {
      std::size_t chunk = settings.byteDelayMs > 0 ? 1 : pending.size();
      ssize_t n = ::write(master.get(), pending.data(), chunk);
      if (n > 0) {
        if (settings.trace) {
          std::fprintf(
              stderr, "tx: %s\n",
              Escaped(std::string_view(pending).substr(0, static_cast<std::size_t>(n))).c_str());
        }
        pending.erase(0, static_cast<std::size_t>(n));
        nextByte = Clock::now() + std::chrono::milliseconds(settings.byteDelayMs);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        hungUp = true;
      }
    }
    if (hungUp) {
      // Answers to a sender that went away are lost, as on a real line.
      pending.clear();
      reopenCheck = Clock::now() + std::chrono::milliseconds(kReopenCheckMs);
      if (finishing) break;
    }
  }
  master.Reset();
  // The path is dead now; a port file left behind would send the next reader to it.
  if (!settings.portFile.empty()) {
    std::string contents;
    std::string error;
    if (pagorin::platform::ReadWholeFile(settings.portFile, contents, error) &&
        contents == slavePath + "\n") {
      ::unlink(settings.portFile.c_str());
    }
  }
  std::fprintf(stderr, "gsm-modem-sim: %s; %d command lines, %d messages accepted\n", exitReason,
               modem.CommandCount(), modem.AcceptedCount());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Settings settings;
    CLI::App app{
        "A GSM modem on a pseudo-terminal: answers AT commands and decodes every SMS-SUBMIT it is "
        "handed."};
    app.add_option(
        "--port-file", settings.portFile,
        "write the terminal's path to this file (atomically, removed at exit) instead of stdout");
    app.add_option("--log", settings.logFile, "append one JSON line per accepted message");
    app.add_option("--echo", settings.echo, "command echo after reset")
        ->check(CLI::IsMember({"on", "off"}));
    app.add_flag("--silent", settings.silent, "read everything, answer nothing");
    app.add_option("--fail-message", settings.failMessage,
                   "answer the Nth message (from 1) with +CMS ERROR")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--fail-code", settings.failCode, "the +CMS ERROR code for --fail-message")
        ->check(CLI::Range(0, 511));
    app.add_flag("--drop-final-ok", settings.dropFinalOk, "leave out the OK after +CMGS");
    app.add_option("--unsolicited", settings.unsolicited,
                   "a result line sent right after the answer to each send");
    app.add_option("--byte-delay-ms", settings.byteDelayMs,
                   "send answers byte by byte with this pause")
        ->check(CLI::Range(0, 10'000));
    app.add_option("--hangup-after", settings.hangupAfter,
                   "close the terminal after answering the Nth command line")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--exit-after-messages", settings.exitAfterMessages,
                   "exit once this many messages were accepted")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--timeout", settings.timeoutSeconds, "exit after this many seconds")
        ->check(CLI::Range(0.0, 1e7));
    app.add_option("--first-reference", settings.firstReference,
                   "message reference of the first message")
        ->check(CLI::Range(0, 255));
    app.add_flag("--trace", settings.trace, "show every byte received and sent on stderr");
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      return app.exit(e);
    }
    return Run(settings);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gsm-modem-sim: %s\n", e.what());
    return 1;
  }
}

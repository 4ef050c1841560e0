// POSIX device backend of SerialPort: a terminal device opened exclusively, in raw mode, read by
// a thread that blocks in poll() on the device and on a wake-up pipe, so that closing never has
// to kill a thread. Every call that can fail in the field goes through the system-call seam
// (platform/syscall.h), where tests make it fail.
#include "modem/serial_port_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>

#include "modem/serial_port.h"
#include "modem/serial_port_speed.h"
#include "platform/syscall.h"
#include "platform/unique_fd.h"

namespace pagorin {
namespace {

using platform::RetryOnEintr;
using platform::UniqueFd;

// The reader moves data in chunks of this size.
constexpr std::size_t kReadChunk = 80;
// How often a reader whose buffer is full looks whether the sender has taken from it.
constexpr int kFullBufferWaitMs = 5;
// A write that makes no progress for this long has failed (the peer stopped reading).
constexpr int kWriteStallMs = 5000;

#if defined(CMSPAR)
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif

// COMn is the device named by PAGORIN_COM<n>, else the n-th serial device of the system.
std::string DevicePath(int portNumber) {
  const std::string variable = "PAGORIN_COM" + std::to_string(portNumber);
  if (const char* mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0') {
    return mapped;
  }
  if (portNumber < 1) return {};
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

struct StandardSpeed {
  int baud;
  speed_t code;
};

constexpr StandardSpeed kStandardSpeeds[] = {
    {110, B110},     {300, B300},     {600, B600},       {1200, B1200},
    {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

const StandardSpeed* FindStandardSpeed(int baud) noexcept {
  for (const StandardSpeed& speed : kStandardSpeeds) {
    if (speed.baud == baud) return &speed;
  }
  return nullptr;
}

tcflag_t CharacterSize(int byteSize) noexcept {
  switch (byteSize) {
    case 6:
      return CS6;
    case 7:
      return CS7;
    case 8:
      return CS8;
    default:
      return CS5;
  }
}

// Parity codes: 0 none, 1 odd, 2 even, 3 mark, 4 space. False for a code this system lacks.
bool ApplyParity(termios& settings, int parity) noexcept {
  settings.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | kStickParity);
  settings.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  switch (parity) {
    case 0:
      return true;
    case 1:
      settings.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      settings.c_cflag |= PARENB;
      break;
    case 3:
      if (kStickParity == 0) return false;
      settings.c_cflag |= PARENB | PARODD | kStickParity;
      break;
    case 4:
      if (kStickParity == 0) return false;
      settings.c_cflag |= PARENB | kStickParity;
      break;
    default:
      return false;
  }
  // Parity is checked on input; a byte with a parity error is still delivered.
  settings.c_iflag |= INPCK;
  return true;
}

bool ApplyLineSettings(int fd, int baudRate, int byteSize, int parity, int stopBits) noexcept {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  if (!detail::MakeLineSettings(settings, baudRate, byteSize, parity, stopBits)) {
    errno = EINVAL;
    return false;
  }
  if (platform::sys::Tcsetattr(fd, TCSANOW, &settings) != 0) return false;
  if (detail::IsStandardSpeed(baudRate)) return true;
  return detail::SetArbitrarySpeed(fd, static_cast<unsigned>(baudRate));
}

// DTR and RTS. A pseudo-terminal has no modem-control lines and refuses these requests
// (ENOTTY or EINVAL); that, like any failure here, is harmless.
void SetControlLines(int fd, bool raised) noexcept {
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)platform::sys::Ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &lines);
}

}  // namespace

namespace detail {

bool MakeLineSettings(termios& settings, int baudRate, int byteSize, int parity,
                      int stopBits) noexcept {
  // CS5 is zero, so the data bits are checked on their own.
  if (byteSize < 5 || byteSize > 8 || stopBits < 0 || stopBits > 2 || baudRate <= 0) return false;
  cfmakeraw(&settings);
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | CRTSCTS);
  // CLOCAL: the modem's carrier does not gate the line. HUPCL: DTR drops when the device closes.
  settings.c_cflag |= CharacterSize(byteSize) | CREAD | CLOCAL | HUPCL;
  // One and a half stop bits exist only with 5 data bits, where CSTOPB means exactly that.
  if (stopBits != 0) settings.c_cflag |= CSTOPB;
  if (!ApplyParity(settings, parity)) return false;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  const StandardSpeed* standard = FindStandardSpeed(baudRate);
  const speed_t code = standard != nullptr ? standard->code : B9600;
  return cfsetispeed(&settings, code) == 0 && cfsetospeed(&settings, code) == 0;
}

bool IsStandardSpeed(int baudRate) noexcept {
  return FindStandardSpeed(baudRate) != nullptr;
}

}  // namespace detail

struct SerialPort::Device {
  UniqueFd fd;
  UniqueFd wakeRead;
  UniqueFd wakeWrite;
  std::thread reader;
};

void SerialPort::DeviceDeleter::operator()(Device* device) const noexcept {
  delete device;
}

bool SerialPort::OpenDevice(int baudRate, int byteSize, int parity, int stopBits) noexcept {
  try {
    std::unique_ptr<Device, DeviceDeleter> device(new Device);
    const std::string path = DevicePath(portNumber_);
    if (path.empty()) {
      NoteError(ENOENT);
      return false;
    }
    device->fd.Reset(platform::sys::Open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    const int fd = device->fd.get();
    if (fd < 0) {
      NoteError(errno);
      return false;
    }
    // TIOCEXCL keeps other openers out but does not bind root; the advisory lock is what
    // another instance of this module (in any process) respects.
    if (RetryOnEintr([&] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
      NoteError(errno);
      return false;
    }
    (void)platform::sys::Ioctl(fd, TIOCEXCL);
    if (!ApplyLineSettings(fd, baudRate, byteSize, parity, stopBits)) {
      NoteError(errno);
      (void)platform::sys::Ioctl(fd, TIOCNXCL);
      return false;
    }
    (void)tcflush(fd, TCIOFLUSH);

    int wake[2] = {-1, -1};
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      NoteError(errno);
      (void)platform::sys::Ioctl(fd, TIOCNXCL);
      return false;
    }
    device->wakeRead.Reset(wake[0]);
    device->wakeWrite.Reset(wake[1]);

    device_ = std::move(device);
    try {
      device_->reader = std::thread([this] { ReadLoop(); });
    } catch (...) {
      NoteError(EAGAIN);
      (void)platform::sys::Ioctl(fd, TIOCNXCL);
      device_.reset();
      return false;
    }
    SetControlLines(fd, true);
    return true;
  } catch (...) {
    NoteError(ENOMEM);
    return false;
  }
}

void SerialPort::CloseDevice() noexcept {
  if (device_ == nullptr) return;
  const char wake = 1;
  // The wake-up is the port's own plumbing, not a call to the device: it stays off the seam, so
  // that a test failing every write can still close the port.
  (void)RetryOnEintr([&] { return ::write(device_->wakeWrite.get(), &wake, 1); });
  if (device_->reader.joinable()) device_->reader.join();
  const int fd = device_->fd.get();
  SetControlLines(fd, false);
  (void)tcflush(fd, TCIOFLUSH);
  // Exclusive mode belongs to the terminal, not to this descriptor; some terminals keep it
  // after the close, so it is cleared explicitly.
  (void)platform::sys::Ioctl(fd, TIOCNXCL);
  device_.reset();
}

bool SerialPort::WriteDevice(const char* data, std::size_t length) noexcept {
  const int fd = device_->fd.get();
  if (!platform::WriteAll(fd, data, length, kWriteStallMs) || platform::sys::Tcdrain(fd) != 0) {
    NoteError(errno);
    return false;
  }
  return true;
}

void SerialPort::ReadLoop() noexcept {
  pollfd watched[2] = {{device_->fd.get(), POLLIN, 0}, {device_->wakeRead.get(), POLLIN, 0}};
  char chunk[kReadChunk];
  while (running_.load()) {
    // A full buffer takes nothing more: the bytes wait in the system's queue (and the device's
    // flow control) until the sender has taken some, instead of being dropped.
    const int room = kMaxReceived - ReceivedLength();
    watched[0].events = room > 0 ? POLLIN : 0;
    const int ready = platform::sys::Poll(watched, 2, room > 0 ? -1 : kFullBufferWaitMs);
    if (ready < 0) {
      // The reader cannot wait any more: the port is as good as unplugged, and says so rather
      // than falling silent.
      NoteError(errno);
      hungUp_.store(true);
      Notify();
      return;
    }
    if (watched[1].revents != 0) return;
    const short events = watched[0].revents;
    bool deviceGone = (events & (POLLERR | POLLNVAL)) != 0;
    int goneError = EIO;
    bool appended = false;
    if ((events & (POLLIN | POLLHUP)) != 0) {
      for (int free = room; free > 0;) {
        const ssize_t count = platform::sys::Read(
            watched[0].fd, chunk, std::min(kReadChunk, static_cast<std::size_t>(free)));
        if (count > 0) {
          AppendReceived(chunk, static_cast<int>(count));
          free -= static_cast<int>(count);
          appended = true;
          continue;
        }
        // End of file or an error other than "nothing more for now": the device hung up.
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
          deviceGone = true;
          if (count < 0) goneError = errno;
        }
        break;
      }
    }
    if ((events & POLLHUP) != 0) deviceGone = true;
    // A device that hung up or failed stays readable for poll(); watching it further would
    // spin. From here on only the wake-up ends the wait.
    if (deviceGone && watched[0].fd >= 0) {
      watched[0].fd = -1;
      NoteError(goneError);
      hungUp_.store(true);
      appended = true;
    }
    if (appended) Notify();
  }
}

}  // namespace pagorin

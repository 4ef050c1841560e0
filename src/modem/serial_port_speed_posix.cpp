// Arbitrary line speeds through the kernel's termios2 (BOTHER) on Linux; other systems support
// only the speeds that have a constant.
#include "modem/serial_port_speed.h"

#if defined(__linux__)

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace pagorin::detail {

bool SetArbitrarySpeed(int fd, unsigned baud) noexcept {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = baud;
  settings.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &settings) != 0) return false;
  return ReadArbitrarySpeed(fd) == baud;
}

unsigned ReadArbitrarySpeed(int fd) noexcept {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

}  // namespace pagorin::detail

#else

namespace pagorin::detail {

bool SetArbitrarySpeed(int, unsigned) noexcept {
  return false;
}
unsigned ReadArbitrarySpeed(int) noexcept {
  return 0;
}

}  // namespace pagorin::detail

#endif

// The kernel's own terminal settings record, which holds the speed as a number.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "support/core_modem_peer.h"

namespace pagorin::testing::detail {

unsigned TerminalSpeed(int fd) {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

}  // namespace pagorin::testing::detail

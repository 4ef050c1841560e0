// Line speeds that have no constant of their own in <termios.h> (14400 baud, for one). Kept
// apart because the kernel's termios2 definitions cannot share a file with <termios.h>.
#pragma once

namespace pagorin::detail {

// Sets input and output speed of the terminal `fd` to `baud` bits per second. False when the
// system or the device cannot run at that speed.
bool SetArbitrarySpeed(int fd, unsigned baud) noexcept;

// The output speed of the terminal `fd` in bits per second as the device reports it, or 0.
unsigned ReadArbitrarySpeed(int fd) noexcept;

}  // namespace pagorin::detail

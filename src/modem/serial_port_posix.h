// Private helpers of the POSIX serial backend, open to its tests.
#pragma once

#include <termios.h>

namespace pagorin::detail {

// Turns `settings` into raw mode without flow control with the given line settings: 5 to 8
// data bits, parity 0..4 (none, odd, even, mark, space), stopBits 0..2 (one, one and a half,
// two). A speed without its own constant is left at 9600 here and set afterwards with
// SetArbitrarySpeed. False, with `settings` unspecified, for values the line cannot take.
bool MakeLineSettings(termios& settings, int baudRate, int byteSize, int parity,
                      int stopBits) noexcept;

// True when `baudRate` has a speed constant of its own.
bool IsStandardSpeed(int baudRate) noexcept;

}  // namespace pagorin::detail

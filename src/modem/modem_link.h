// The byte line between the module and its GSM modem, as the dialogue sees it: open it, write
// bytes, take what arrived. The serial port is one such line; tests play a modem from a
// transcript through another, so that the dialogue runs without threads or devices.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pagorin {

class ModemLink {
 public:
  virtual ~ModemLink() = default;

  // Opens the line; true when it is open. On failure the line stays closed and LastError says why.
  virtual bool Open() noexcept = 0;
  // Closes the line; nothing when it is closed. What arrived and was not taken is dropped.
  virtual void Close() noexcept = 0;
  // True while the line is open, even after a hang-up (see HungUp).
  virtual bool IsOpen() const noexcept = 0;
  // True when the far end hung up (the device went away) since the line was opened.
  virtual bool HungUp() const noexcept = 0;
  // Writes every byte; false when the line refused them (closed, hung up, stalled).
  virtual bool Write(std::string_view bytes) noexcept = 0;
  // Appends to `out` the bytes that arrived since the last call, oldest first, and returns their
  // count; 0 when nothing arrived. Never waits.
  virtual std::size_t Take(std::string& out) noexcept = 0;
  // The system's text for the last failure of Open or Write; empty when there was none.
  virtual std::string LastError() const = 0;
};

}  // namespace pagorin

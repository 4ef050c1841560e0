// The far end of a modem port for tests of the plug-in core: a pseudo-terminal whose slave is
// mapped to COMn through PAGORIN_COM<n>, answering the send dialogue as a willing modem does
// (OK to the mode command, a prompt to AT+CMGS, OK to the PDU line) and decoding every PDU line
// with the modem simulator's decoder, joining the parts of a concatenated message, into the
// number and text that a phone would show.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "phone_inbox.h"
#include "support/pty_pair.h"

namespace pagorin::testing {

// One message as the phone sees it.
struct DeliveredMessage {
  std::string number;  // the digits after the country code, as dialled
  std::string text;    // code page 936
  int parts = 1;       // short messages it came in
  bool operator==(const DeliveredMessage& other) const {
    return number == other.number && text == other.text;
  }
};

class CoreModemPeer {
 public:
  // Opens a pseudo-terminal and maps COM`portNumber` to its slave.
  explicit CoreModemPeer(int portNumber);
  CoreModemPeer(const CoreModemPeer&) = delete;
  CoreModemPeer& operator=(const CoreModemPeer&) = delete;

  // Calls `tick` over and over, answering each command as it arrives, until `count` messages
  // were delivered or the dialogue stands still for `idleLimitMs` of real time. Returns the
  // messages delivered in this call, in order.
  std::vector<DeliveredMessage> Deliver(const std::function<void()>& tick, std::size_t count,
                                        int idleLimitMs = 2000);

  // Calls `tick`, reading what is written, until `done` holds or `limitMs` of real time passed.
  void TickUntil(const std::function<void()>& tick, const std::function<bool()>& done,
                 int limitMs = 2000);

  // Calls `tick` a few times and returns whatever was written meanwhile, answering nothing.
  std::string TickAndRead(const std::function<void()>& tick, int ticks = 3);

  // Every byte the plug-in wrote so far, in order.
  const std::string& Transcript() const noexcept { return transcript_; }

  // The line settings the plug-in's port put on the slave: bits per second and data bits.
  unsigned LineSpeed() const;

 private:
  // Reads what arrived within `waitMs`; appends it to the pending bytes and the transcript.
  void ReadFor(int waitMs);
  // Decodes a PDU line; appends the message it completes, if any.
  void TakePdu(const std::string& line, std::vector<DeliveredMessage>& delivered);

  PtyPair pty_;
  sim::PhoneInbox phone_;
  std::string pending_;
  std::string transcript_;
};

namespace detail {
// The output speed and the character size bits of the terminal `fd` (kept apart from the
// termios header, which cannot be mixed with the kernel's).
unsigned TerminalSpeed(int fd);
}  // namespace detail

}  // namespace pagorin::testing

// The module's sender of short messages: a first-in, first-out queue of encoded messages and the
// AT dialogue that sends the oldest one through the GSM modem on the serial port, one step per
// Tick. All operations run on the owner's thread; only the port's receive buffer is shared with
// the port's reader thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "modem/serial_port.h"

namespace pagorin {

// One queued message, encoded when it was queued.
struct SmsRequest {
  std::string addressDigits;  // 12 swapped semi-octet characters of the destination
  std::string userDataHex;    // UCS2 text as upper-case hexadecimal, 4 to 280 characters
};

class SmsModem {
 public:
  // Where the dialogue stands for the head request.
  enum class State : int {
    StartRequest = 0,   // nothing written yet; the next Tick writes the mode command
    WaitModeReply = 1,  // mode command written; awaiting OK (or a prompt)
    WaitPrompt = 2,     // AT+CMGS written; awaiting the > prompt
    WaitSendReply = 3,  // PDU line written; awaiting the final OK
  };

  // Milliseconds to wait for a reply: for the mode reply and the prompt, and for the final reply
  // after the PDU line, which the network may take half a minute to give.
  static constexpr std::uint32_t kReplyTimeoutMs = 10000;
  static constexpr std::uint32_t kSendReplyTimeoutMs = 60000;
  // A request that meets this many time-outs (error replies included) is dropped.
  static constexpr int kMaxTimeouts = 3;

  SmsModem() noexcept;
  // Drops every queued request unsent, then closes the port.
  virtual ~SmsModem();
  SmsModem(const SmsModem&) = delete;
  SmsModem& operator=(const SmsModem&) = delete;

  // Opens COM`portNumber` with no parity and one stop bit. Returns 1 when open, else 0; the
  // result decides whether Enqueue accepts messages.
  int Open(int portNumber, int baudRate, int byteSize) noexcept;

  // Queues a message to `number` (11 or 12 digits) with `text` (code page 936, cut to 70 UTF-16
  // units). Returns 1 when queued, 0 when the port is not open or the number or text is refused.
  int Enqueue(const std::string& number, const std::string& text) noexcept;

  // Advances the dialogue by at most one step, writing at most one command. Never waits for the
  // modem; returns at once when the queue is empty.
  void Tick() noexcept;

  State state() const noexcept { return state_; }
  std::size_t queueLength() const noexcept { return requests_.size(); }
  int timeoutCount() const noexcept { return timeoutCount_; }
  int portOpen() const noexcept { return portOpen_; }
  const SerialPort& port() const noexcept { return port_; }

 private:
  // Empties the receive buffer, writes the command and restarts the reply clock.
  void SendCommand(std::string_view bytes) noexcept;
  // 1 when `limit` milliseconds passed since the last write (a time-out, counted), else 0.
  int CheckTimeout(std::uint32_t limit) noexcept;
  // Counts a time-out of the head request, drops it at the third and restarts the dialogue.
  void CountTimeout(std::uint32_t now) noexcept;
  // The reply examination shared by the waiting states. True with `reply` set to the text
  // received since the last command, CR and LF removed, when it is worth searching; false when
  // the Tick ends here: a time-out, nothing new, or an error reply (counted as a time-out).
  bool ReadReply(std::uint32_t limit, std::string& reply) noexcept;
  void ClearRequests() noexcept;
  void DropHeadRequest() noexcept;

  State state_ = State::StartRequest;
  std::deque<std::unique_ptr<SmsRequest>> requests_;
  int portOpen_ = 0;
  SerialPort port_;
  std::uint32_t lastWriteTick_ = 0;
  int timeoutCount_ = 0;
};

namespace detail {

// True when `reply` (CR and LF removed) ends in a final error result of the modem: "ERROR",
// "+CMS ERROR: <code>" or "+CME ERROR: <code>".
bool EndsInErrorReply(std::string_view reply) noexcept;

// True when `token` begins within the last five characters of `reply`. Replies are looked for
// only there, so that text sent before the reply (an echo of the command) is never taken for
// it: at most three characters may follow an OK and four a >.
bool ReplyTailContains(std::string_view reply, std::string_view token) noexcept;

}  // namespace detail

}  // namespace pagorin

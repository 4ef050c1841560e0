#include "support/core_modem_peer.h"

#include <chrono>

#include "platform/code_page.h"
#include "submit_pdu.h"

namespace pagorin::testing {

CoreModemPeer::CoreModemPeer(int portNumber) {
  pty_.MapToPort(portNumber);
}

unsigned CoreModemPeer::LineSpeed() const {
  return detail::TerminalSpeed(pty_.slaveKeeper());
}

void CoreModemPeer::TickUntil(const std::function<void()>& tick, const std::function<bool()>& done,
                              int limitMs) {
  auto start = std::chrono::steady_clock::now();
  while (!done() && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(limitMs)) {
    tick();
    ReadFor(5);
  }
}

void CoreModemPeer::ReadFor(int waitMs) {
  std::string received = pty_.ReadFor(std::chrono::milliseconds(waitMs));
  pending_ += received;
  transcript_ += received;
}

std::string CoreModemPeer::TickAndRead(const std::function<void()>& tick, int ticks) {
  std::size_t start = transcript_.size();
  for (int i = 0; i < ticks; ++i) {
    tick();
    ReadFor(20);
  }
  pending_.clear();
  return transcript_.substr(start);
}

std::vector<DeliveredMessage> CoreModemPeer::Deliver(const std::function<void()>& tick,
                                                     std::size_t count, int idleLimitMs) {
  using Clock = std::chrono::steady_clock;
  std::vector<DeliveredMessage> delivered;
  auto lastProgress = Clock::now();
  while (delivered.size() < count &&
         Clock::now() - lastProgress < std::chrono::milliseconds(idleLimitMs)) {
    tick();
    ReadFor(5);
    // Commands end in a carriage return; the PDU line in Ctrl-Z and a carriage return.
    std::size_t end;
    while ((end = pending_.find('\r')) != std::string::npos) {
      std::string command = pending_.substr(0, end + 1);
      pending_.erase(0, end + 1);
      lastProgress = Clock::now();
      if (command == "AT+CMGF=0\r") {
        pty_.Write("\r\nOK\r\n");
      } else if (command.rfind("AT+CMGS=", 0) == 0) {
        pty_.Write("\r\n> ");
      } else {
        TakePdu(command, delivered);
        pty_.Write("\r\n+CMGS: 1\r\n\r\nOK\r\n");
      }
    }
  }
  return delivered;
}

void CoreModemPeer::TakePdu(const std::string& line, std::vector<DeliveredMessage>& delivered) {
  if (line.size() < 2 || line[line.size() - 2] != '\x1A') return;
  const std::string hex = line.substr(0, line.size() - 2);
  // The TPDU's length is what follows the service-centre octet (none here: "00").
  const int length = static_cast<int>(hex.size() / 2) - 1;
  sim::DecodeResult decoded = sim::DecodeSubmitPdu(hex, length);
  if (!decoded.pdu) return;
  sim::AcceptedMessage accepted;
  accepted.pduHex = hex;
  accepted.pdu = std::move(*decoded.pdu);
  for (const sim::ShownMessage& shown : phone_.Take(accepted)) {
    DeliveredMessage message;
    message.number =
        shown.destination.rfind("+86", 0) == 0 ? shown.destination.substr(3) : shown.destination;
    message.text = platform::Utf8ToCp936(shown.text);
    message.parts = shown.parts;
    delivered.push_back(std::move(message));
  }
}

}  // namespace pagorin::testing

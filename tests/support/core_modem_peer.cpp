#include "support/core_modem_peer.h"

#include <chrono>

#include "platform/code_page.h"

namespace pagorin::testing {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, unsigned codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

}  // namespace

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
        DeliveredMessage message;
        if (DecodePdu(command, message)) delivered.push_back(message);
        pty_.Write("\r\n+CMGS: 1\r\n\r\nOK\r\n");
      }
    }
  }
  return delivered;
}

bool CoreModemPeer::DecodePdu(const std::string& line, DeliveredMessage& message) {
  const std::string head = "0011000D9168";
  if (line.size() < 34 || line.rfind(head, 0) != 0) return false;
  if (line[line.size() - 2] != '\x1A' || line.back() != '\r') return false;
  std::string digits = line.substr(12, 12);
  std::string number;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    number += digits[i + 1];
    number += digits[i];
  }
  if (!number.empty() && number.back() == 'F') number.pop_back();
  std::string hex = line.substr(32, line.size() - 34);
  if (hex.size() % 4 != 0) return false;
  std::string utf8;
  for (std::size_t i = 0; i < hex.size(); i += 4) {
    unsigned unit = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      int digit = HexValue(hex[i + j]);
      if (digit < 0) return false;
      unit = unit * 16 + static_cast<unsigned>(digit);
    }
    AppendUtf8(utf8, unit);
  }
  message.number = number;
  message.text = platform::Utf8ToCp936(utf8);
  return true;
}

}  // namespace pagorin::testing

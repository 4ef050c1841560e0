#include "modem/sms_modem.h"

#include <algorithm>
#include <optional>

#include "modem/pdu.h"
#include "platform/tick.h"

namespace pagorin {
namespace {

// Only the start of what the modem sent is examined: at most this many bytes, copied into a
// fixed work buffer that always leaves a terminating zero.
constexpr int kReplyExamined = 1000;
constexpr std::size_t kWorkBuffer = 1024;
constexpr std::size_t kReplyWindow = 5;

bool IsDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// "<prefix> <code>" at the very end, the code being one or more digits.
bool EndsInCodedError(std::string_view reply, std::string_view prefix) noexcept {
  std::size_t end = reply.size();
  std::size_t digits = 0;
  while (digits < end && IsDigit(reply[end - 1 - digits]))
    ++digits;
  if (digits == 0) return false;
  std::string_view head = reply.substr(0, end - digits);
  while (!head.empty() && head.back() == ' ')
    head.remove_suffix(1);
  return head.ends_with(prefix);
}

}  // namespace

namespace detail {

bool EndsInErrorReply(std::string_view reply) noexcept {
  return reply.ends_with("ERROR") || EndsInCodedError(reply, "+CMS ERROR:") ||
         EndsInCodedError(reply, "+CME ERROR:");
}

bool ReplyTailContains(std::string_view reply, std::string_view token) noexcept {
  const std::size_t start = reply.size() > kReplyWindow ? reply.size() - kReplyWindow : 0;
  return reply.find(token, start) != std::string_view::npos;
}

}  // namespace detail

SmsModem::SmsModem() noexcept = default;

SmsModem::~SmsModem() {
  ClearRequests();
  port_.Close();
}

int SmsModem::Open(int portNumber, int baudRate, int byteSize) noexcept {
  portOpen_ = port_.Open(portNumber, baudRate, byteSize, 0, 0);
  return portOpen_;
}

int SmsModem::Enqueue(const std::string& number, const std::string& text) noexcept {
  if (portOpen_ == 0) return 0;
  try {
    std::optional<std::string> address = EncodePhoneDigits(number);
    if (!address) return 0;
    std::optional<std::string> userData = EncodeUserData(text);
    if (!userData) return 0;
    requests_.push_back(
        std::make_unique<SmsRequest>(SmsRequest{std::move(*address), std::move(*userData)}));
    return 1;
  } catch (...) {
    return 0;
  }
}

void SmsModem::Tick() noexcept {
  if (requests_.empty()) return;
  try {
    std::string reply;
    switch (state_) {
      case State::StartRequest:
        SendCommand(kModeCommand);
        state_ = State::WaitModeReply;
        return;
      case State::WaitModeReply:
        if (!ReadReply(kReplyTimeoutMs, reply)) return;
        if (detail::ReplyTailContains(reply, "OK") || detail::ReplyTailContains(reply, ">")) {
          SendCommand(FormatCmgsCommand(requests_.front()->userDataHex));
          state_ = State::WaitPrompt;
        }
        return;
      case State::WaitPrompt:
        if (!ReadReply(kReplyTimeoutMs, reply)) return;
        if (detail::ReplyTailContains(reply, ">")) {
          const SmsRequest& head = *requests_.front();
          SendCommand(FormatSubmitPdu(head.addressDigits, head.userDataHex));
          state_ = State::WaitSendReply;
        }
        return;
      case State::WaitSendReply:
        if (!ReadReply(kSendReplyTimeoutMs, reply)) return;
        if (detail::ReplyTailContains(reply, "OK")) {
          DropHeadRequest();
          timeoutCount_ = 0;
          state_ = State::StartRequest;
        }
        return;
    }
    state_ = State::StartRequest;
  } catch (...) {
    // Only a failed allocation gets here; the dialogue tries again on the next Tick.
  }
}

void SmsModem::SendCommand(std::string_view bytes) noexcept {
  port_.ClearReceived();
  // A failed write is not acted on: the reply that never comes leads to the time-out.
  (void)port_.Write(bytes.data(), bytes.size());
  lastWriteTick_ = platform::TickCount();
}

int SmsModem::CheckTimeout(std::uint32_t limit) noexcept {
  const std::uint32_t now = platform::TickCount();
  // Unsigned difference: the wrap of the tick counter does no harm.
  if (static_cast<std::uint32_t>(now - lastWriteTick_) < limit) return 0;
  CountTimeout(now);
  return 1;
}

void SmsModem::CountTimeout(std::uint32_t now) noexcept {
  lastWriteTick_ = now;
  ++timeoutCount_;
  if (timeoutCount_ >= kMaxTimeouts && !requests_.empty()) {
    DropHeadRequest();
    timeoutCount_ = 0;
  }
  state_ = State::StartRequest;
}

bool SmsModem::ReadReply(std::uint32_t limit, std::string& reply) noexcept {
  if (CheckTimeout(limit) != 0) return false;
  if (port_.TakeNewDataFlag() == 0) return false;
  char work[kWorkBuffer] = {};
  const int count = port_.PeekReceived(work, kReplyExamined);
  // The reply is text: it ends at the first zero byte, if one arrived.
  std::string_view received(work, static_cast<std::size_t>(std::max(count, 0)));
  received = received.substr(0, received.find('\0'));
  reply.clear();
  reply.reserve(received.size());
  for (char c : received) {
    if (c != '\r' && c != '\n') reply.push_back(c);
  }
  if (detail::EndsInErrorReply(reply)) {
    // A refusal is final; waiting for the time-out would not change it.
    CountTimeout(platform::TickCount());
    return false;
  }
  return true;
}

void SmsModem::ClearRequests() noexcept {
  requests_.clear();
}

void SmsModem::DropHeadRequest() noexcept {
  if (!requests_.empty()) requests_.pop_front();
}

}  // namespace pagorin

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
constexpr std::uint32_t kMaxAgeLimitMs = 30u * 24u * 60u * 60u * 1000u;

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

bool EndsInErrorReply(std::string_view reply) noexcept {
  return reply.ends_with("ERROR") || EndsInCodedError(reply, "+CMS ERROR:") ||
         EndsInCodedError(reply, "+CME ERROR:");
}

bool ReplyTailContains(std::string_view reply, std::string_view token) noexcept {
  const std::size_t start = reply.size() > kReplyWindow ? reply.size() - kReplyWindow : 0;
  return reply.find(token, start) != std::string_view::npos;
}

// One message of one part, the form the module sends until texts are split into parts.
std::optional<SmsPart> EncodeSinglePart(const std::string& number, const std::string& text) {
  std::optional<std::string> address = EncodePhoneDigits(number);
  if (!address) return std::nullopt;
  std::optional<std::string> userData = EncodeUserData(text);
  if (!userData) return std::nullopt;
  return SmsPart{FormatCmgsCommand(*userData), FormatSubmitPdu(*address, *userData)};
}

}  // namespace

SmsModem::SmsModem() noexcept = default;

SmsModem::~SmsModem() {
  for (auto& queue : queues_)
    queue.clear();
  port_.Close();
}

int SmsModem::Open(int portNumber, int baudRate, int byteSize) noexcept {
  if (opened_) return port_.IsOpen() ? 1 : 0;
  opened_ = true;
  portNumber_ = portNumber;
  const int open = port_.Open(portNumber, baudRate, byteSize, 0, 0);
  status_.portOpen = open != 0;
  return open;
}

int SmsModem::Enqueue(const std::string& number, const std::string& text, int priority) noexcept {
  if (!opened_) return 0;
  try {
    std::optional<SmsPart> part = EncodeSinglePart(number, text);
    if (!part) return 0;
    QueuedSms message;
    message.priority = priority;
    message.number = number;
    message.text = text;
    message.parts.push_back(std::move(*part));
    return Submit(std::move(message)) != 0 ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

std::uint64_t SmsModem::Submit(QueuedSms message) noexcept {
  if (!opened_ || message.parts.empty()) return 0;
  try {
    if (message.id == 0) message.id = NewMessageId();
    lastId_ = std::max(lastId_, message.id);
    message.priority = std::clamp(message.priority, kPriorityScript, kPriorityUrgent);
    const std::uint64_t id = message.id;
    auto& queue = queues_[message.priority];
    Entry entry;
    entry.message = std::move(message);
    queue.push_back(std::move(entry));
    return id;
  } catch (...) {
    return 0;
  }
}

std::uint64_t SmsModem::NewMessageId() noexcept {
  return ++lastId_;
}

void SmsModem::SetSendEnabled(bool enabled) noexcept {
  sendEnabled_ = enabled;
}

void SmsModem::SetMaxAge(std::uint32_t milliseconds) noexcept {
  maxAgeMs_ = milliseconds == 0 || milliseconds > kMaxAgeLimitMs ? kDefaultMaxAgeMs : milliseconds;
}

void SmsModem::SetObserver(SmsObserver* observer) noexcept {
  observer_ = observer;
}

ModemStatus SmsModem::Status() const {
  return status_;
}

std::size_t SmsModem::queueLength() const noexcept {
  std::size_t length = 0;
  for (const auto& queue : queues_)
    length += queue.size();
  return length;
}

SmsModem::Entry* SmsModem::Head() noexcept {
  if (head_ != nullptr) return head_;
  for (int priority = kPriorityUrgent; priority >= kPriorityScript; --priority) {
    auto& queue = queues_[priority];
    if (!queue.empty()) {
      head_ = &queue.front();
      headPriority_ = priority;
      return head_;
    }
  }
  return nullptr;
}

void SmsModem::FinishHead(bool sent, const std::string& result) noexcept {
  if (head_ == nullptr) return;
  Entry finished = std::move(*head_);
  queues_[headPriority_].pop_front();
  head_ = nullptr;
  if (observer_ == nullptr) return;
  if (sent) {
    observer_->OnSent(finished.message.id, finished.references, finished.attempts);
  } else {
    SmsFailure failure;
    failure.kind = SmsFailureKind::Expired;
    failure.result = result;
    failure.code = ErrorResultCode(result);
    failure.meaning = result.empty() ? TimeoutMeaning() : ErrorResultMeaning(result);
    failure.attempts = finished.attempts;
    observer_->OnFailed(finished.message.id, failure);
  }
}

void SmsModem::Tick() noexcept {
  if (!sendEnabled_ && state_ == State::StartRequest) return;
  Entry* head = Head();
  if (head == nullptr) return;
  try {
    std::string reply;
    const SmsPart& part = head->message.parts[head->nextPart];
    switch (state_) {
      case State::StartRequest:
        SendCommand(kModeCommand);
        state_ = State::WaitModeReply;
        return;
      case State::WaitModeReply:
        if (!ReadReply(kReplyTimeoutMs, reply)) return;
        if (ReplyTailContains(reply, "OK") || ReplyTailContains(reply, ">")) {
          if (head->nextPart == 0) ++head->attempts;
          SendCommand(part.lengthCommand);
          state_ = State::WaitPrompt;
        }
        return;
      case State::WaitPrompt:
        if (!ReadReply(kReplyTimeoutMs, reply)) return;
        if (ReplyTailContains(reply, ">")) {
          SendCommand(part.pduLine);
          state_ = State::WaitSendReply;
        }
        return;
      case State::WaitSendReply:
        if (!ReadReply(kSendReplyTimeoutMs, reply)) return;
        if (ReplyTailContains(reply, "OK")) {
          head->references.push_back(-1);
          ++head->nextPart;
          timeoutCount_ = 0;
          state_ = State::StartRequest;
          if (head->nextPart >= head->message.parts.size()) FinishHead(true, {});
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
  if (timeoutCount_ >= kMaxTimeouts && head_ != nullptr) {
    FinishHead(false, {});
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
  if (EndsInErrorReply(reply)) {
    // A refusal is final; waiting for the time-out would not change it.
    CountTimeout(platform::TickCount());
    return false;
  }
  return true;
}

}  // namespace pagorin

#include "modem/sms_modem.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "modem/pdu.h"
#include "modem/serial_link.h"
#include "modem/sms_sender.h"

namespace pagorin {
namespace {

constexpr std::uint32_t kMaxAgeLimitMs = 30u * 24u * 60u * 60u * 1000u;
// The sender looks at the clock at least this often (real time), so that a clock that runs
// faster than real time (a host simulator's) still ends its waits in time.
constexpr std::uint32_t kLongestSleepMs = 100;

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
  Close();
}

int SmsModem::Open(int portNumber, int baudRate, int byteSize) noexcept {
  if (started_) return Status().portOpen ? 1 : 0;
  try {
    auto link = std::make_unique<SerialLink>(portNumber, baudRate, byteSize);
    auto sender = std::make_unique<SmsSender>(*link);
    sender->SetRecorder(recorder_);
    link->SetDataListener([this] { Nudge(); });
    link_ = std::move(link);
    sender_ = std::move(sender);
    portNumber_ = portNumber;
    started_ = true;
    // The first open happens here, so that its result is known to the caller.
    sender_->Start();
    sender_->Step();
    {
      std::lock_guard lock(mutex_);
      status_ = sender_->status();
      reports_ = sender_->TakeReports();
    }
    thread_ = std::thread([this] { RunSender(); });
  } catch (...) {
    // Without a thread nothing is sent; messages wait in the hand-over.
  }
  return sender_ != nullptr && sender_->status().portOpen ? 1 : 0;
}

int SmsModem::Enqueue(const std::string& number, const std::string& text, int priority) noexcept {
  if (!started_ || closed_) return 0;
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
  if (!started_ || closed_ || message.parts.empty()) return 0;
  try {
    if (message.id == 0) message.id = NewMessageId();
    lastId_ = std::max(lastId_, message.id);
    message.priority = std::clamp(message.priority, kPriorityScript, kPriorityUrgent);
    const std::uint64_t id = message.id;
    {
      std::lock_guard lock(mutex_);
      incoming_.push_back(std::move(message));
      ++queued_;
      nudged_ = true;
    }
    wake_.notify_one();
    return id;
  } catch (...) {
    return 0;
  }
}

std::uint64_t SmsModem::NewMessageId() noexcept {
  return ++lastId_;
}

void SmsModem::SetSendEnabled(bool enabled) noexcept {
  {
    std::lock_guard lock(mutex_);
    if (sendEnabled_ == enabled) return;
    sendEnabled_ = enabled;
    nudged_ = true;
  }
  wake_.notify_one();
}

void SmsModem::SetMaxAge(std::uint32_t milliseconds) noexcept {
  std::lock_guard lock(mutex_);
  maxAgeMs_ = milliseconds == 0 || milliseconds > kMaxAgeLimitMs ? kDefaultMaxAgeMs : milliseconds;
}

void SmsModem::SetObserver(SmsObserver* observer) noexcept {
  observer_ = observer;
}

void SmsModem::Tick() noexcept {
  std::vector<SmsReport> reports;
  {
    std::lock_guard lock(mutex_);
    reports.swap(reports_);
    nudged_ = true;
  }
  wake_.notify_one();
  if (observer_ == nullptr) return;
  for (const SmsReport& report : reports) {
    switch (report.kind) {
      case SmsReport::Kind::Sent:
        observer_->OnSent(report.id, report.references, report.attempts);
        break;
      case SmsReport::Kind::Failed:
        observer_->OnFailed(report.id, report.failure);
        break;
      case SmsReport::Kind::Status:
        observer_->OnStatusChanged(report.status);
        break;
      case SmsReport::Kind::PartSent:
        observer_->OnPartSent(report.id, report.references);
        break;
      case SmsReport::Kind::Received:
        observer_->OnReceived(report);
        break;
      case SmsReport::Kind::Delivery:
        observer_->OnDelivery(report);
        break;
    }
  }
}

ModemStatus SmsModem::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::size_t SmsModem::queueLength() const noexcept {
  std::lock_guard lock(mutex_);
  return queued_;
}

std::vector<std::string> SmsModem::RecentDialogue() const {
  std::lock_guard lock(mutex_);
  return dialogue_;
}

void SmsModem::Nudge() noexcept {
  {
    std::lock_guard lock(mutex_);
    nudged_ = true;
  }
  wake_.notify_one();
}

void SmsModem::RunSender() noexcept {
  std::vector<QueuedSms> arrived;
  bool closing = false;
  std::chrono::steady_clock::time_point closeDeadline;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (stopping_) {
      // The verdict on a PDU already written is waited for, so that its fate is reported.
      if (!closing) {
        closing = true;
        closeDeadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(SmsSender::kCloseGraceMs);
        sender_->BeginClose();
      }
      if (sender_->ReadyToClose() || std::chrono::steady_clock::now() >= closeDeadline) break;
    }
    arrived.swap(incoming_);
    const bool sendEnabled = sendEnabled_;
    const std::uint32_t maxAgeMs = maxAgeMs_;
    nudged_ = false;
    lock.unlock();

    for (QueuedSms& message : arrived) {
      try {
        sender_->Add(std::move(message));
      } catch (...) {
        // Out of memory: the message is lost; the owner hears of it as refused.
        SmsReport report;
        report.kind = SmsReport::Kind::Failed;
        report.id = message.id;
        report.failure.kind = SmsFailureKind::Refused;
        std::lock_guard relock(mutex_);
        --queued_;
        try {
          reports_.push_back(std::move(report));
        } catch (...) {
        }
      }
    }
    arrived.clear();
    sender_->SetSendEnabled(sendEnabled);
    sender_->SetMaxAge(maxAgeMs);
    sender_->Step();
    std::vector<SmsReport> reports = sender_->TakeReports();
    const std::uint32_t due = std::min(sender_->MsUntilDue(), kLongestSleepMs);

    lock.lock();
    try {
      for (SmsReport& report : reports)
        reports_.push_back(std::move(report));
      status_ = sender_->status();
      dialogue_.assign(sender_->log().begin(), sender_->log().end());
    } catch (...) {
      // Out of memory: these reports are lost; the queue itself is right.
    }
    queued_ = sender_->queueLength() + incoming_.size();
    if ((stopping_ && !closing) || nudged_ || !incoming_.empty() || due == 0) continue;
    wake_.wait_for(lock, std::chrono::milliseconds(due), [this, &closing] {
      return (stopping_ && !closing) || nudged_ || !incoming_.empty();
    });
  }
}

void SmsModem::Close() noexcept {
  if (closed_) return;
  closed_ = true;
  Stop();
}

void SmsModem::Stop() noexcept {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  if (sender_ == nullptr) return;
  sender_->Shutdown();
  std::lock_guard lock(mutex_);
  try {
    for (SmsReport& report : sender_->TakeReports())
      reports_.push_back(std::move(report));
    status_ = sender_->status();
  } catch (...) {
    // Out of memory: these reports are lost.
  }
}

}  // namespace pagorin

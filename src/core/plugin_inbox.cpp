// The plug-in object's receiving side: whole incoming messages go to the received record (a CSV
// beside the send history), then to the inbox script when a phone-book number sent them; the
// loop test sends the modem's own number a message now and then and counts the SMS path as
// failing when it does not come back.
#include "core/plugin_object.h"
#include "platform/local_time.h"
#include "platform/text_format.h"
#include "platform/tick.h"

namespace pagorin {
namespace {

using namespace string_id;

constexpr std::string_view kLoopOrigin = "loop";

// The last 11 digits: how a sender's "+8613912345678" meets a phone book's "13912345678".
std::string NumberKey(std::string_view number) {
  std::string digits;
  for (char c : number) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits.size() > 11 ? digits.substr(digits.size() - 11) : digits;
}

// The fixed beginning of the loop test's text, before its time.
std::string LoopPrefix() {
  const std::string& pattern = LoadString(kLoopText);
  return pattern.substr(0, pattern.find("%s"));
}

// A value written inside a quoted text of the host's script language: quotes and backslashes
// escaped, line breaks as \n, other control characters as spaces. The two bytes of a code page
// 936 character are copied together, since a trail byte may be a backslash.
void AppendScriptText(std::string& out, std::string_view value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < value.size()) {
      out.push_back(value[i]);
      out.push_back(value[++i]);
    } else if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      out.push_back(' ');
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

}  // namespace

std::string PluginObject::ExpandInboxScript(std::string_view script, std::string_view number,
                                            std::string_view name, std::string_view text) {
  static constexpr std::pair<std::string_view, int> kPlaceholders[] = {
      {"%NUMBER%", 0}, {"%NAME%", 1}, {"%TEXT%", 2}};
  const std::string_view values[] = {number, name, text};
  std::string out;
  std::size_t i = 0;
  while (i < script.size()) {
    bool replaced = false;
    for (const auto& [placeholder, which] : kPlaceholders) {
      if (script.substr(i).starts_with(placeholder)) {
        AppendScriptText(out, values[which]);
        i += placeholder.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out.push_back(script[i++]);
  }
  return out;
}

std::string PluginObject::ReceivedLine(const ReceivedMessage& message, const std::string& name,
                                       int stateWordId) const {
  std::string line = received.FormatTime(message.receivedAt);
  line += ',';
  if (message.centreTime) line += received.FormatTime(*message.centreTime);
  line += ',';
  // A "+86..." sender stays text, as the phone book's digits do.
  const bool international = message.number.size() > 1 && message.number[0] == '+' &&
                             message.number.find_first_not_of("0123456789", 1) == std::string::npos;
  if (international) {
    line += "=\"" + message.number + "\"";
  } else {
    AppendCsvNumber(line, message.number);
  }
  line += ',';
  AppendCsvText(line, name);
  line += ',';
  AppendCsvText(line, message.text);
  line += ',';
  AppendCsvText(line, LoadString(stateWordId));
  line += stateWordId == kLoopWord       ? ",loop"
          : stateWordId == kCompleteWord ? ",complete"
                                         : ",incomplete";
  line += "\r\n";
  return line;
}

const PhoneEntry* PluginObject::PhoneOf(std::string_view number) const noexcept {
  try {
    const std::string key = NumberKey(number);
    if (key.empty()) return nullptr;
    for (const auto& phone : phoneBook) {
      if (phone && !phone->TelNum.empty() && NumberKey(phone->TelNum) == key) return phone.get();
    }
  } catch (...) {
  }
  return nullptr;
}

bool PluginObject::LoopTestOn() const noexcept {
  return LoopHours > 0 && !OwnNumber.empty();
}

bool PluginObject::IsLoopMessage(const ReceivedMessage& message) const {
  return LoopTestOn() && NumberKey(message.number) == NumberKey(OwnNumber) &&
         message.text.starts_with(LoopPrefix());
}

void PluginObject::OnReceived(const SmsReport& report) noexcept {
  try {
    std::vector<ReceivedMessage> done;
    const std::int64_t now = platform::WallClockSeconds();
    if (report.received) {
      inbox.Take(*report.received, now, done);
    } else {
      inbox.TakeUndecoded(report.pdu, now, done);
    }
    TakeReceived(done);
  } catch (...) {
    // Out of memory: the parts stay in the inbox journal and come back at the next start.
  }
}

void PluginObject::TakeReceived(std::vector<ReceivedMessage>& messages) noexcept {
  for (const ReceivedMessage& message : messages) {
    try {
      const bool loop = IsLoopMessage(message);
      const PhoneEntry* phone = PhoneOf(message.number);
      const std::string name = phone != nullptr ? phone->Desc : std::string();
      const int word = loop ? kLoopWord : message.complete ? kCompleteWord : kIncompleteWord;
      // Once it is in the record the journal lets it go; a record that cannot be written keeps
      // it in the journal for the next start.
      if (received.AppendLine(ReceivedLine(message, name, word))) inbox.Written(message);
      if (loop) {
        loopMessageId = 0;
        loopSentTick.reset();
        if (loopFailing) {
          loopFailing = false;
          ReportModemStatus();
          UpdatePathState();
        }
      } else if (phone != nullptr && !InboxScript.empty()) {
        host->RunScript(ExpandInboxScript(InboxScript, message.number, name, message.text).c_str());
      }
    } catch (...) {
    }
  }
}

void PluginObject::TickLoopTest() noexcept {
  if (!modem.started() || !LoopTestOn()) return;
  try {
    const std::uint32_t now = platform::TickCount();
    if (loopMessageId != 0 && loopSentTick && now - *loopSentTick >= kLoopWaitMs) {
      // Every command said OK, yet the message did not come back: the path delivers nothing.
      HistoryEntry entry;
      if (const OutboxRecord* record = outbox.Find(loopMessageId)) entry = record->entry;
      entry.number = OwnNumber;
      entry.origin = kLoopOrigin;
      entry.endedAt = platform::WallClockSeconds();
      entry.state = HistoryState::kUndelivered;
      entry.reason = LoadString(kLoopFailing);
      outbox.AppendHistory(entry);
      loopMessageId = 0;
      loopSentTick.reset();
      loopFailing = true;
      ReportModemStatus();
      UpdatePathState();
    }
    if (loopMessageId != 0 || now - loopFromTick < loopDueMs) return;
    loopFromTick = now;
    loopDueMs = static_cast<std::uint32_t>(LoopHours) * 3600u * 1000u;
    const std::string text = platform::FormatText(
        LoadString(kLoopText),
        {std::string_view(platform::FormatLocalTime(platform::WallClockSeconds()))});
    OutboxRequest request{OwnNumber, LoadString(kLoopWord), std::string(kLoopOrigin), text,
                          kPriorityLow};
    const std::vector<std::uint64_t> ids = outbox.Queue(std::span(&request, 1));
    loopMessageId = ids.empty() ? 0 : ids[0];
  } catch (...) {
  }
}

}  // namespace pagorin

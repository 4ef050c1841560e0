// The plug-in object's side of the send-record dialog: its latest messages, the modem's status
// and the test message, all taken from the outbox and the modem.
#include "core/plugin_object.h"
#include "platform/local_time.h"
#include "platform/text_format.h"
#include "resources/string_table.h"

namespace pagorin {
namespace {

using namespace string_id;

int SimWord(SimState sim) noexcept {
  switch (sim) {
    case SimState::Ready:
      return kSimReadyStatus;
    case SimState::PinNeeded:
      return kSimPinStatus;
    case SimState::Absent:
      return kSimAbsentStatus;
    case SimState::Unknown:
      break;
  }
  return 0;
}

int RegistrationWord(Registration registration) noexcept {
  switch (registration) {
    case Registration::Home:
      return kRegisteredStatus;
    case Registration::Roaming:
      return kRoamingStatus;
    case Registration::Searching:
      return kSearchingStatus;
    case Registration::Denied:
      return kDeniedStatus;
    case Registration::Unknown:
      break;
  }
  return 0;
}

}  // namespace

std::vector<SendRecordRow> PluginObject::RecentMessages(std::size_t limit) {
  std::vector<SendRecordRow> rows;
  for (const OutboxRecord& record : outbox.Recent(limit)) {
    const HistoryEntry& entry = record.entry;
    SendRecordRow row;
    row.time = platform::FormatLocalTime(entry.queuedAt);
    row.number = entry.number;
    row.name = entry.name;
    row.text = entry.text;
    row.state = record.waiting ? LoadString(kWaitingWord) : SendHistory::StateWord(entry.state);
    if (!record.waiting && entry.state == HistoryState::kSent) {
      // A report's verdict, or none after the wait: "已送达 12:03:15", "未送达 <reason>".
      if (record.delivery == HistoryState::kDelivered) {
        const std::string at = platform::FormatLocalTime(record.deliveredAt);
        row.state = LoadString(kDeliveredWord) + " " + (at.size() > 11 ? at.substr(11) : at);
      } else if (record.delivery == HistoryState::kUndelivered) {
        row.state = LoadString(kUndeliveredWord) + " " + record.deliveryReason;
      } else if (Reports != 0 &&
                 platform::WallClockSeconds() - entry.endedAt > std::int64_t{ReportWaitMin} * 60) {
        row.state = LoadString(kNoReportWord);
      }
    }
    row.detail = entry.reference;
    if (!entry.reason.empty()) {
      if (!row.detail.empty()) row.detail += " ";
      row.detail += entry.reason;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string PluginObject::ModemStatusLine() {
  if (!modem.started()) return LoadString(kModemNotStarted);
  const ModemStatus status = modem.Status();
  std::string line = status.portOpen
                         ? LoadString(kModemPortOpen)
                         : platform::FormatText(LoadString(kModemPortClosed), {status.portError});
  // What is not known yet (not asked, or the port is closed) is left out.
  for (int word : {SimWord(status.sim), RegistrationWord(status.registration)}) {
    if (word != 0) line += "  " + LoadString(word);
  }
  if (status.signalDbm) {
    line += "  " + platform::FormatText(LoadString(kModemSignal),
                                        {static_cast<std::int64_t>(*status.signalDbm)});
  }
  if (!status.lastFailure.empty()) {
    line += "  " + platform::FormatText(LoadString(kModemLastFailure), {status.lastFailure});
  }
  if (loopFailing) line += "  " + LoadString(kLoopFailing);
  // Messages that would not survive a restart are the user's business as much as the modem.
  if (const std::string problem = outbox.DurabilityProblem(); !problem.empty()) {
    line += "  " + problem;
  }
  return line;
}

std::uint64_t PluginObject::SendTestMessage(int phoneIndex, std::string& outcome) {
  const PhoneEntry* phone = PhoneAt(phoneIndex);
  if (phone == nullptr) {
    outcome = LoadString(kChooseTestPhone);
    return 0;
  }
  OutboxRequest request{phone->TelNum, phone->Desc, Outbox::kTestOrigin,
                        LoadString(kTestMessageText), kPriorityLow};
  ApplyTextOptions();
  const std::vector<std::uint64_t> ids = outbox.Queue(std::span(&request, 1));
  const std::uint64_t id = ids.empty() ? 0 : ids[0];
  if (id == 0) {
    outcome = platform::FormatText(LoadString(kTestFailed),
                                   {std::string_view(LoadString(outbox.lastRefusalReason()))});
  }
  return id;
}

std::string PluginObject::TestOutcome(std::uint64_t handle) {
  const OutboxRecord* record = outbox.Find(handle);
  if (record == nullptr || record->waiting) return {};
  if (record->entry.state == HistoryState::kSent) {
    return platform::FormatText(LoadString(kTestSent), {std::string_view(record->entry.reference)});
  }
  return platform::FormatText(LoadString(kTestFailed), {std::string_view(record->entry.reason)});
}

}  // namespace pagorin

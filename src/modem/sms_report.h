// What the sender tells its owner: a message's fate, a change of the modem's status, or what
// arrived from the modem.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "modem/modem_status.h"
#include "modem/sms_deliver.h"

namespace pagorin {

// One fate or status change, made by the sender and reported to the owner's observer.
struct SmsReport {
  enum class Kind : int { Sent, Failed, Status, PartSent, Received, Delivery };
  Kind kind = Kind::Status;
  std::uint64_t id = 0;         // Sent, Failed, PartSent
  std::vector<int> references;  // Sent: each part's reference; PartSent: those accepted so far
  int attempts = 0;             // Sent
  SmsFailure failure;           // Failed
  ModemStatus status;           // Status
  // Received: one incoming SMS-DELIVER (one part of a concatenated message is one report) as
  // read from the modem's storage (or shown at once); Delivery: one status report. A PDU that
  // does not decode is reported as Received with neither `received` nor `delivery` set.
  std::string pdu;                          // Received, Delivery: the PDU line as the modem gave it
  std::optional<SmsDeliver> received;       // Received
  std::optional<SmsStatusReport> delivery;  // Delivery
};

}  // namespace pagorin

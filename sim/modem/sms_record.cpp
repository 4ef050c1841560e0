#include "sms_record.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace pagorin::sim {

std::string FormatLogLine(const AcceptedMessage& message, std::string_view timestamp) {
  const SubmitPdu& pdu = message.pdu;
  nlohmann::ordered_json line;
  line["time"] = timestamp;
  line["number"] = pdu.destination;
  line["text"] = pdu.text;
  line["alphabet"] = message.textMode ? "text" : AlphabetName(pdu.alphabet);
  line["validity"] = pdu.validity.text;
  if (!message.textMode) {
    line["validity_format"] = ValidityFormatName(pdu.validity.format);
    line["validity_raw"] = ToHex(pdu.validity.raw);
    if (pdu.validity.seconds) line["validity_seconds"] = *pdu.validity.seconds;
  }
  line["reference"] = message.reference;
  if (pdu.concatenation) {
    line["part"] = pdu.concatenation->sequence;
    line["parts"] = pdu.concatenation->total;
    line["concat_reference"] = pdu.concatenation->reference;
  }
  if (!message.textMode) {
    line["pdu"] = message.pduHex;
    if (!pdu.smsc.empty()) line["smsc"] = pdu.smsc;
    line["dcs"] = pdu.dataCoding;
    line["pid"] = pdu.protocolId;
  }
  // Invalid UTF-8 cannot occur (every text is built from code points), but a log line must never
  // take the simulator down.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string FormatSummary(const AcceptedMessage& message) {
  const SubmitPdu& pdu = message.pdu;
  std::string line = "SMS to " + pdu.destination + ": " + pdu.text + " (";
  line += message.textMode ? "text mode" : AlphabetName(pdu.alphabet);
  if (pdu.concatenation) {
    line += ", part " + std::to_string(pdu.concatenation->sequence) + "/" +
            std::to_string(pdu.concatenation->total);
  }
  if (pdu.validity.format != ValidityFormat::kNone) line += ", valid " + pdu.validity.text;
  line += ", ref " + std::to_string(message.reference) + ")";
  return line;
}

std::string FormatStorageLogLine(const StorageEvent& event, std::string_view timestamp) {
  const NetworkMessage& message = event.message;
  nlohmann::ordered_json line;
  line["time"] = timestamp;
  line["event"] = StorageEventName(event.kind);
  if (event.index != 0) line["index"] = event.index;
  if (!message.pduHex.empty()) {
    line["kind"] = message.report ? "report" : "incoming";
    if (message.report) {
      line["recipient"] = message.from;
      line["reference"] = message.reference;
      line["status"] = message.status;
    } else {
      line["from"] = message.from;
      line["text"] = message.text;
      if (message.parts > 1) {
        line["part"] = message.part;
        line["parts"] = message.parts;
      }
    }
    line["pdu"] = message.pduHex;
    line["length"] = message.tpduLength;
  }
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string FormatStorageSummary(const StorageEvent& event) {
  const NetworkMessage& message = event.message;
  std::string what = StorageEventName(event.kind);
  if (event.index != 0) what += " at SM " + std::to_string(event.index);
  if (message.pduHex.empty()) return std::string("storage: ") + what;
  if (message.report) {
    char status[8];
    std::snprintf(status, sizeof status, "0x%02X", message.status & 0xFF);
    return "report on ref " + std::to_string(message.reference) + " to " + message.from +
           ": status " + status + ", " + what;
  }
  std::string part;
  if (message.parts > 1) {
    part = " (part " + std::to_string(message.part) + "/" + std::to_string(message.parts) + ")";
  }
  return "SMS from " + message.from + " " + what + ": " + message.text + part;
}

std::string UtcTimestamp() {
  auto now = std::chrono::system_clock::now();
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return buffer;
}

}  // namespace pagorin::sim

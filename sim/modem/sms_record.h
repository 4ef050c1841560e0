// How an accepted message is written down: one JSON object per line for the log, and one line
// for a person watching the simulator.
#pragma once

#include <string>
#include <string_view>

#include "at_interpreter.h"

namespace pagorin::sim {

// One line of JSON (without the line end): number, text (UTF-8), alphabet, validity (text, form
// and raw octets), message reference, the PDU as received, concatenation part and total when
// present, and `timestamp`. Never throws except std::bad_alloc.
std::string FormatLogLine(const AcceptedMessage& message, std::string_view timestamp);

// "SMS to +8613800138000: 泵站停机 (UCS2, valid 10 min)", with part k/n when concatenated.
std::string FormatSummary(const AcceptedMessage& message);

// One JSON line (without the line end) for a storage event: "event" (stored, shown, read,
// deleted, storage_full, discarded, notice_dropped), "kind" (incoming or report), the slot index,
// sender or recipient, text and part of an incoming message, reference and status of a report,
// the PDU, and `timestamp`.
std::string FormatStorageLogLine(const StorageEvent& event, std::string_view timestamp);

// "SMS from 13800138000 stored at SM 3: 1A (part 1/2)", "report on ref 5 to +86...: status
// 0x00, shown".
std::string FormatStorageSummary(const StorageEvent& event);

// The current time in UTC as "2026-12-08T01:02:03.456Z".
std::string UtcTimestamp();

}  // namespace pagorin::sim

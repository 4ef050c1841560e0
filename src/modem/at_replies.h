// What the modem's reply lines say, read without any state of the dialogue: the answers to the
// health commands, the reference of an accepted part, the SIM in an error result, and the
// notices a modem sends unasked (network, signal, storage full, restart). The lines that announce
// a stored message or report are read by sms_deliver.h. Pure functions; nothing thrown.
#pragma once

#include <optional>
#include <string_view>

#include "modem/modem_status.h"

namespace pagorin {

// The numeric form of a final result, "0" or "4", as a modem still in ATV0 gives it: "OK" or
// "ERROR"; nullopt for any other line.
std::optional<std::string_view> VerboseOfNumericResult(std::string_view line) noexcept;

// "+CMGS: <mr>": the message reference, -1 when it is no number; nullopt for any other line.
std::optional<int> ParseCmgsReference(std::string_view line) noexcept;

// "+CPIN: <code>": the SIM state it names; nullopt for any other line.
std::optional<SimState> ParseCpin(std::string_view line) noexcept;

// The SIM as an error result to AT+CPIN? tells it (a +CME ERROR naming the SIM); Unknown for
// anything else.
SimState SimOfCpinError(std::string_view result) noexcept;

// "+CREG: <n>,<stat>[,...]", the answer to AT+CREG?; nullopt for any other line, the notice
// "+CREG: <stat>,..." with a quoted area code second included.
std::optional<Registration> ParseCregAnswer(std::string_view line) noexcept;

// "+CREG: <stat>[,...]", the notice of a change, read from its first value; nullopt for any
// other line.
std::optional<Registration> ParseCregNotice(std::string_view line) noexcept;

// "+CSQ: <rssi>,<ber>" or "^RSSI: <rssi>": the <rssi> (99, unknown, when it is no number);
// nullopt for any other line.
std::optional<int> ParseSignalRssi(std::string_view line) noexcept;

// True for Home and Roaming: the modem may send.
bool IsRegistered(Registration registration) noexcept;

// True for a line by which a modem says its message storage is full: what arrives next waits in
// the network.
bool IsStorageFullNotice(std::string_view line) noexcept;

// True for a line by which a modem says it has just started: every setting of the session is
// gone.
bool IsStartNotice(std::string_view line) noexcept;

// True for an error result numbered 321 (invalid memory index), the answer to reading an empty
// slot.
bool IsEmptySlotError(std::string_view result) noexcept;

}  // namespace pagorin

// What the module knows about its GSM modem and about the fate of a message: the modem's health
// (port, SIM, network registration, signal, last failure) and the classification of the modem's
// error results. Plain data and pure functions; texts are code page 936.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pagorin {

// The SIM card as the modem reports it (AT+CPIN?, or an error naming the SIM).
enum class SimState : int {
  Unknown = 0,    // not asked yet, or the port is closed
  Ready = 1,      // "+CPIN: READY"
  PinNeeded = 2,  // a PIN or PUK is asked for
  Absent = 3,     // no SIM, or the SIM failed
};

// Registration in the circuit-switched network (AT+CREG? and +CREG results).
enum class Registration : int {
  Unknown = 0,    // not asked yet, the port is closed, or the modem says "unknown"
  Home = 1,       // registered in the home network
  Roaming = 2,    // registered in a visited network
  Searching = 3,  // not registered, looking for a network (or not looking at all)
  Denied = 4,     // registration refused by the network
};

// The modem's health as last seen. Equal records mean nothing changed.
struct ModemStatus {
  bool portOpen = false;  // the serial port is open and the modem answered its initialisation
  std::string portError;  // why the port is not open (the system's error text); empty when open
  SimState sim = SimState::Unknown;
  Registration registration = Registration::Unknown;
  std::optional<int> signalDbm;  // received signal strength in dBm; nullopt when unknown
  std::string lastFailure;  // last failure with its meaning, e.g. "+CMS ERROR: 331 无网络服务"
  bool operator==(const ModemStatus&) const = default;
};

// How a failed attempt or a message's end is classified.
enum class SmsFailureKind : int {
  Temporary = 0,  // the attempt failed but may succeed later; the message stays queued
  Permanent = 1,  // the network or the modem rejected the message itself twice; final
  Expired = 2,    // failed temporarily until its maximum age passed; final
  Refused = 3,    // never handed to the modem (it could not be queued or was withdrawn); final
};

// One failure as the owner is told of it.
struct SmsFailure {
  SmsFailureKind kind = SmsFailureKind::Temporary;
  std::string result;  // the modem's final result ("+CMS ERROR: 331", "ERROR"), or empty
  int code = -1;       // the number of a +CMS/+CME error result, -1 when there is none
  std::string meaning;  // the failure in Chinese, code page 936 (e.g. "无网络服务", "超时无应答")
  int attempts = 0;  // attempts made for the message so far
};

// What an error result says about sending, for the retry rules.
enum class ErrorClass : int {
  ModemNotReady = 0,  // the modem cannot send now (no network, SIM busy or missing): all wait
  Transient = 1,      // this attempt failed for a passing reason (congestion, unknown error)
  Rejected = 2,       // the message itself is refused (invalid destination, bad PDU)
};

// The class of a final error result: "ERROR", "+CMS ERROR: <n>" or "+CME ERROR: <n>". Results
// it does not know are Transient.
ErrorClass ClassifyErrorResult(std::string_view result) noexcept;

// The number of a "+CMS ERROR: <n>" or "+CME ERROR: <n>" result; -1 for anything else.
int ErrorResultCode(std::string_view result) noexcept;

// The meaning of a final error result in Chinese (code page 936): "+CMS ERROR: 331" gives
// "无网络服务". An empty text for a result it does not know. Never throws.
std::string ErrorResultMeaning(std::string_view result) noexcept;

// "<result> <meaning>", the form kept in ModemStatus::lastFailure; the result alone when its
// meaning is unknown. Never throws (empty when memory runs out).
std::string DescribeErrorResult(std::string_view result) noexcept;

// The meaning of a reply that never came, in Chinese (code page 936): "超时无应答".
std::string TimeoutMeaning() noexcept;

// Signal strength in dBm for the <rssi> of +CSQ or ^RSSI (0..31); nullopt for 99 and anything
// out of range.
std::optional<int> RssiToDbm(int rssi) noexcept;

// True when alarms cannot reach phones now: the port is closed, the SIM is missing or locked,
// the network refused registration or is being searched, or `lastMessageFailed`.
bool IsSmsPathFailing(const ModemStatus& status, bool lastMessageFailed) noexcept;

}  // namespace pagorin

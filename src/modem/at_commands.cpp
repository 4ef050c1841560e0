#include "modem/at_commands.h"

#include <array>
#include <cstddef>

namespace pagorin {
namespace {

using C = AtCommand;

// A command of the initialisation: a time-out closes the port; an error result goes on with
// `onError`, after `errorNote` is logged.
constexpr AtCommandRow Init(C command, std::string_view text, C onOk, C onError,
                            std::string_view errorNote = {}) noexcept {
  return {command, text,  kAtReplyTimeoutMs, AtChain::Init,    onOk,
          onError, false, errorNote,         AtTimeout::Close, AtFact::None};
}

// A command of the initialisation that nothing can do without: an error result closes the port.
constexpr AtCommandRow InitOrFail(C command, std::string_view text, C onOk) noexcept {
  AtCommandRow row = Init(command, text, onOk, C::None);
  row.errorFails = true;
  return row;
}

// A command asked again after a short time-out, while attempts are left.
constexpr AtCommandRow Repeated(AtCommandRow row, std::uint32_t timeoutMs) noexcept {
  row.timeoutMs = timeoutMs;
  row.onTimeout = AtTimeout::Repeat;
  return row;
}

// A health command: whatever its result, `next` follows; its time-out is counted.
constexpr AtCommandRow Health(C command, std::string_view text, C next, AtFact fact) noexcept {
  return {command,          text, kAtReplyTimeoutMs, AtChain::Health, next, next, false, {},
          AtTimeout::Count, fact};
}

// A command outside the chains; its final result goes to the part of the sender that issued it.
constexpr AtCommandRow Single(C command, std::string_view text, std::uint32_t timeoutMs,
                              AtChain chain, AtTimeout onTimeout) noexcept {
  return {command, text, timeoutMs, chain, C::None, C::None, false, {}, onTimeout, AtFact::None};
}

// In the order of AtCommand.
constexpr std::array<AtCommandRow, 18> kRows = {
    Single(C::None, {}, 0, AtChain::None, AtTimeout::Count),

    // The initialisation after an open. The probe also makes results verbose and not suppressed:
    // a modem that kept ATV0 or ATQ1 from an earlier session answers it, and every later command,
    // with the OK the dialogue reads.
    Repeated(Init(C::Probe, "ATQ0V1\r", C::Echo, C::Echo), kAtProbeTimeoutMs),
    // A modem without the command echoes on; the echo is recognised and let pass.
    Init(C::Echo, "ATE0\r", C::Cmee, C::Cmee),
    // Without numbered errors the retry rules see a plain ERROR, a passing failure.
    Init(C::Cmee, "AT+CMEE=1\r", C::Mode, C::Mode),
    InitOrFail(C::Mode, "AT+CMGF=0\r", C::Storage),
    // Reading, writing and receiving all in the SIM's storage, so that a notice's index is one
    // AT+CMGR reads and AT+CMGD deletes. A modem that cannot receive still sends; what it stores
    // elsewhere is not read. (Without status reports the sender goes on with CnmiNone.)
    Init(C::Storage, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r", C::CnmiStored, C::CnmiStored,
         "storage not selected"),
    // Incoming messages stored and notified (+CMTI); status reports stored and notified (+CDSI),
    // else shown at once (+CDS), else not asked for. Without AT+CSMS=1 the modem acknowledges
    // what it shows at once itself: no AT+CNMA.
    Init(C::CnmiStored, "AT+CNMI=2,1,0,2,0\r", C::None, C::CnmiShown),
    Init(C::CnmiShown, "AT+CNMI=2,1,0,1,0\r", C::None, C::CnmiNone),
    Init(C::CnmiNone, "AT+CNMI=2,1,0,0,0\r", C::None, C::None,
         "no notices of arrivals; the storage is listed"),

    // The health check when idle.
    Health(C::Alive, "AT\r", C::Cpin, AtFact::None),
    Health(C::Cpin, "AT+CPIN?\r", C::Creg, AtFact::Sim),
    Health(C::Creg, "AT+CREG?\r", C::Csq, AtFact::Registration),
    Health(C::Csq, "AT+CSQ\r", C::None, AtFact::Signal),

    // A message's part: the length, answered by the prompt; the PDU, answered by the verdict.
    Single(C::Length, {}, kAtReplyTimeoutMs, AtChain::Message, AtTimeout::Message),
    Single(C::Pdu, {}, kAtVerdictTimeoutMs, AtChain::Message, AtTimeout::Message),

    // What the modem stored.
    Single(C::Read, {}, kAtReplyTimeoutMs, AtChain::Storage, AtTimeout::Count),
    Single(C::List, "AT+CMGL=4\r", kAtReplyTimeoutMs, AtChain::Storage, AtTimeout::Count),
    Single(C::Delete, {}, kAtReplyTimeoutMs, AtChain::Storage, AtTimeout::Count),
};

constexpr bool InOrder() noexcept {
  for (std::size_t index = 0; index < kRows.size(); ++index) {
    if (static_cast<std::size_t>(kRows[index].command) != index) return false;
  }
  return static_cast<std::size_t>(AtCommand::Delete) + 1 == kRows.size();
}
static_assert(InOrder(), "one row per AtCommand, in its order");

}  // namespace

const AtCommandRow& AtCommandRowOf(AtCommand command) noexcept {
  const auto index = static_cast<std::size_t>(command);
  return index < kRows.size() ? kRows[index] : kRows[0];
}

AtCommand FirstNoticeCommand(bool statusReports) noexcept {
  return statusReports ? AtCommand::CnmiStored : AtCommand::CnmiNone;
}

}  // namespace pagorin

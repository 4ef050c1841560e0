#include "modem/at_commands.h"

#include <array>
#include <cstddef>

namespace pagorin {
namespace {

using C = AtCommand;
using T = AtTimeout;
constexpr std::uint32_t kReply = kAtReplyTimeoutMs;

// In the order of AtCommand.
constexpr std::array<AtCommandRow, 18> kRows = {{
    // command, text, time-out, chain, on OK, on error, error fails, error note, on time-out, fact
    {C::None, {}, 0, AtChain::None, C::None, C::None, false, {}, T::Count, AtFact::None},

    // The initialisation after an open. The probe also makes results verbose and not suppressed:
    // a modem that kept ATV0 or ATQ1 from an earlier session answers it, and every later command,
    // with the OK the dialogue reads.
    {C::Probe,
     "ATQ0V1\r",
     kAtProbeTimeoutMs,
     AtChain::Init,
     C::Echo,
     C::Echo,
     false,
     {},
     T::Repeat,
     AtFact::None},
    // A modem without the command echoes on; the echo is recognised and let pass.
    {C::Echo, "ATE0\r", kReply, AtChain::Init, C::Cmee, C::Cmee, false, {}, T::Close, AtFact::None},
    // Without numbered errors the retry rules see a plain ERROR, a passing failure.
    {C::Cmee,
     "AT+CMEE=1\r",
     kReply,
     AtChain::Init,
     C::Mode,
     C::Mode,
     false,
     {},
     T::Close,
     AtFact::None},
    {C::Mode,
     "AT+CMGF=0\r",
     kReply,
     AtChain::Init,
     C::Storage,
     C::None,
     true,
     {},
     T::Close,
     AtFact::None},
    // Reading, writing and receiving all in the SIM's storage, so that a notice's index is one
    // AT+CMGR reads and AT+CMGD deletes. A modem that cannot receive still sends; what it stores
    // elsewhere is not read. (Without status reports the sender goes on with CnmiNone.)
    {C::Storage, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r", kReply, AtChain::Init, C::CnmiStored,
     C::CnmiStored, false, "storage not selected", T::Close, AtFact::None},
    // Incoming messages stored and notified (+CMTI); status reports stored and notified (+CDSI),
    // else shown at once (+CDS), else not asked for. Without AT+CSMS=1 the modem acknowledges
    // what it shows at once itself: no AT+CNMA.
    {C::CnmiStored,
     "AT+CNMI=2,1,0,2,0\r",
     kReply,
     AtChain::Init,
     C::None,
     C::CnmiShown,
     false,
     {},
     T::Close,
     AtFact::None},
    {C::CnmiShown,
     "AT+CNMI=2,1,0,1,0\r",
     kReply,
     AtChain::Init,
     C::None,
     C::CnmiNone,
     false,
     {},
     T::Close,
     AtFact::None},
    {C::CnmiNone, "AT+CNMI=2,1,0,0,0\r", kReply, AtChain::Init, C::None, C::None, false,
     "no notices of arrivals; the storage is listed", T::Close, AtFact::None},

    // The health check when idle.
    {C::Alive,
     "AT\r",
     kReply,
     AtChain::Health,
     C::Cpin,
     C::Cpin,
     false,
     {},
     T::Count,
     AtFact::None},
    {C::Cpin,
     "AT+CPIN?\r",
     kReply,
     AtChain::Health,
     C::Creg,
     C::Creg,
     false,
     {},
     T::Count,
     AtFact::Sim},
    {C::Creg,
     "AT+CREG?\r",
     kReply,
     AtChain::Health,
     C::Csq,
     C::Csq,
     false,
     {},
     T::Count,
     AtFact::Registration},
    {C::Csq,
     "AT+CSQ\r",
     kReply,
     AtChain::Health,
     C::None,
     C::None,
     false,
     {},
     T::Count,
     AtFact::Signal},

    // A message's part: the length, answered by the prompt; the PDU, answered by the verdict.
    {C::Length,
     {},
     kReply,
     AtChain::Message,
     C::None,
     C::None,
     false,
     {},
     T::Message,
     AtFact::None},
    {C::Pdu,
     {},
     kAtVerdictTimeoutMs,
     AtChain::Message,
     C::None,
     C::None,
     false,
     {},
     T::Message,
     AtFact::None},

    // What the modem stored.
    {C::Read, {}, kReply, AtChain::Storage, C::None, C::None, false, {}, T::Count, AtFact::None},
    {C::List,
     "AT+CMGL=4\r",
     kReply,
     AtChain::Storage,
     C::None,
     C::None,
     false,
     {},
     T::Count,
     AtFact::None},
    {C::Delete, {}, kReply, AtChain::Storage, C::None, C::None, false, {}, T::Count, AtFact::None},
}};

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

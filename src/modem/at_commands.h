// The commands of the AT dialogue as data: what is written, how long its reply may take, which
// chain it belongs to, and what follows its OK, its error result and its time-out. The
// initialisation and the health check are chains through this table, so that each reads top-down
// in at_commands.cpp; the sender runs them.
#pragma once

#include <cstdint>
#include <string_view>

namespace pagorin {

// Reply time-outs: for a command and the prompt, for the network's verdict on a PDU, and for
// each probe after an open.
inline constexpr std::uint32_t kAtReplyTimeoutMs = 10000;
inline constexpr std::uint32_t kAtVerdictTimeoutMs = 60000;
inline constexpr std::uint32_t kAtProbeTimeoutMs = 2000;

// A command the dialogue may have in progress.
enum class AtCommand : int {
  None = 0,
  Probe,       // ATQ0V1 after an open, repeated until answered
  Echo,        // ATE0
  Cmee,        // AT+CMEE=1
  Mode,        // AT+CMGF=0
  Storage,     // AT+CPMS="SM","SM","SM"
  CnmiStored,  // AT+CNMI=2,1,0,2,0: messages and status reports stored and notified
  CnmiShown,   // AT+CNMI=2,1,0,1,0: status reports shown at once
  CnmiNone,    // AT+CNMI=2,1,0,0,0: no status reports
  Alive,       // AT, the first health command
  Cpin,        // AT+CPIN?
  Creg,        // AT+CREG?
  Csq,         // AT+CSQ
  Length,      // AT+CMGS=<n>, awaiting the prompt
  Pdu,         // the PDU line, awaiting +CMGS and the final result
  Read,        // AT+CMGR=<index>
  List,        // AT+CMGL=4
  Delete,      // AT+CMGD=<index>
};

// Which part of the dialogue a command belongs to, and so who takes its final result.
enum class AtChain : int {
  None,     // no command
  Init,     // the initialisation: the next command goes at once
  Health,   // the health check: the next command goes when nothing more urgent is due
  Message,  // a message's part
  Storage,  // reading, listing and deleting what the modem stored
};

// What a time-out of the command means.
enum class AtTimeout : int {
  Repeat,   // asked again while attempts are left, then the modem is taken for absent
  Close,    // the initialisation cannot go on: the port is closed and reopened
  Count,    // noted, and counted towards kTimeoutsBeforeClose
  Message,  // the message's attempt failed (or, after +CMGS, its part is sent)
};

// What the command's answer tells of the modem; kept in the status, forgotten on an error.
enum class AtFact : int { None, Sim, Registration, Signal };

struct AtCommandRow {
  AtCommand command;
  std::string_view text;  // as written, carriage return included; empty: made when issued
  std::uint32_t timeoutMs;
  AtChain chain;
  AtCommand onOk;              // next in the chain; None: the chain is done
  AtCommand onError;           // next after an error result; None: the chain is done
  bool errorFails;             // an error result gives the line up instead (noted, port closed)
  std::string_view errorNote;  // logged after an error result
  AtTimeout onTimeout;
  AtFact fact;
};

// The row of `command`; every command has one.
const AtCommandRow& AtCommandRowOf(AtCommand command) noexcept;

// The notices asked for first: with status reports, stored and notified; without, none.
AtCommand FirstNoticeCommand(bool statusReports) noexcept;

}  // namespace pagorin

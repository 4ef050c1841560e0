// What the plug-in tells a host that asks to hear it: what a user would otherwise only see in the
// plug-in's dialogs and message boxes. A host that wants these reports exports, from its own
// program, a function named `PagorinHostReport` of type HostReportFunction; the plug-in looks for
// it once and calls it on the host's thread. A host without it gets nothing. It is no part of the
// host interface, whose operations never change.
#pragma once

namespace pagorin {

// What a report is about, and what its text holds (code page 936 unless said otherwise).
enum class HostReportKind : int {
  // The modem's status line as the send-record dialog shows it (port, SIM, network, signal, the
  // last failure with its meaning); reported whenever it changes.
  kModemStatus = 1,
  // The configuration file was not loaded (damaged, unreadable) or some of it was left out; the
  // message the settings dialog shows when it opens.
  kConfigLoad = 2,
  // Storing the project could not write the configuration file; the system's words.
  kConfigSave = 3,
  // The outbox started, in ASCII: "resent=<n> failed=<n> earlier=<n>": messages a previous run
  // left unsent and now queued again, those recorded as failed instead (too old, or not to be
  // resent), and the ended messages read back from the send history for the send record. It ends
  // with " damaged=<n>" when records of the journal were damaged and skipped.
  kOutboxStarted = 4,
  // What keeps messages or their record from surviving a restart: another host holds the
  // project's outbox journal, the journal or the send history cannot be written, damage found in
  // the journal at start. Reported when it changes; an empty text when it cleared.
  kRecordsProblem = 5,
};

extern "C" {
using HostReportFunction = void (*)(int kind, const char* text) noexcept;
}

inline constexpr const char* kHostReportName = "PagorinHostReport";

}  // namespace pagorin

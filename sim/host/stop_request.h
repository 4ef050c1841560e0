// A request to end the run, made by SIGINT or SIGTERM: the run loop sees it and ends the way a
// scenario ends, so the modem simulator is stopped and the work folder removed.
#pragma once

namespace pagorin::sim {

// Makes SIGINT and SIGTERM request the end of the run (instead of ending the process).
void InstallStopSignals() noexcept;
// The signal that asked the run to end; 0 while none did.
int StopSignal() noexcept;

}  // namespace pagorin::sim
